// Key files of the flat driver: a balanced tree of 512-byte pages whose leaf
// entries hold the record number and the key value.
//
// Layout. Page n lies at offset n * 512. Page 0 holds the 35-byte key header
// (rest zero). A tree page holds: u8 count, u32 next and u32 previous page on
// the same level (0 at the ends), u32 parent page (0 for the root), then
// `count` entries of entry_length bytes in ascending order. A leaf entry is
// the u32 record number followed by the key value; an upper entry is the u32
// child page followed by the key value of the child's last entry.
//
// Invariants (checked by Check()):
//  - every level is a doubly linked chain from its first to its last page;
//    all leaves are at depth levels - 1; the root has parent 0;
//  - every page but an empty root holds 1..per_page entries;
//  - entries are ordered by (key value, record number) across each level;
//  - each upper entry names a child whose parent field is that upper page
//    and carries the key value of the child's last entry;
//  - header: entries = number of leaf entries; last_page = the last leaf;
//    first_record/last_record = record numbers of the first/last entry (0
//    when empty); pages = highest page number in use (the file holds pages
//    0..pages); free pages are chained from free_head through their next
//    field and hold count 0.
// Equal key values (duplicates) are kept in record-number order. An upper
// entry carries only a key value, so a search descends to the first child
// whose highest value is >= the value sought and then walks right along the
// leaves.
//
// Caching: a file opened exclusively keeps pages in memory for the life of
// the open (writes always go to the file at once); where the Env can view
// the file in memory (nv::EnvFile::View), its pages are read there instead. A file opened shared keeps
// them only until the next MarkStale(), DropPages() or ReRead(): its owner
// calls MarkStale() under the header lock before each operation, which drops
// the pages and has the header read again when the operation first needs it,
// so another open's changes are always seen and a key the operation does not
// use costs no read.
//
// The last entry read (Entry()) is kept as a finger: a Seek() of exactly that
// (value, record) answers its leaf place without descending from the root.
// While nothing was written and the header was not marked stale since, the
// place is taken as it is; otherwise that one leaf is read again and used
// only when it still holds (value, record) at the kept index under the same
// parent page, else the seek descends from the root.
//
// I/O: every page read and write goes through ReadPage()/WritePage(); a write
// hook, when set, runs before every write (journalling). A failed read or
// write answers the system's number when it is 18 or below, else 5; a failed
// write also makes the handle refuse further changes until it is reopened.
// A structurally impossible page (count above per_page, page number beyond the
// file, broken link) answers 46: the keys must be rebuilt.
//
// Thread-safety: one KeyFile is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "drivers/flat/key_codec.h"
#include "host/runtime/env.h"

namespace flat {

struct KeyHeader {
  uint32_t root = 1;
  uint32_t entries = 0;
  uint32_t pages = 1;
  uint32_t last_page = 1;  // leaf holding the last entry in key order
  uint32_t last_record = 0;
  uint32_t first_record = 0;
  uint32_t free_head = 0;
  uint8_t attributes = 0;
  uint8_t per_page = 0;
  uint8_t components = 0;
  uint16_t entry_length = 0;
  uint8_t levels = 1;

  void Encode(uint8_t* p) const;  // 35 bytes
  void Decode(const uint8_t* p);
};

// A place in key order: a leaf page and an entry index in it. page == 0
// means no entry (before the first or past the last).
struct KeyCursor {
  uint32_t page = 0;
  int index = -1;
  uint64_t generation = 0;  // the tree's generation when the cursor was made
  bool at_end() const { return page == 0; }
};

class KeyFile {
 public:
  ~KeyFile();
  KeyFile(const KeyFile&) = delete;
  KeyFile& operator=(const KeyFile&) = delete;

  // Creates (or replaces) the key file with an empty tree: header, empty
  // page 1, file cut to 1024 bytes. env may be null (nv::GetEnv()).
  // `options` gives the access and share mode (create and truncate are
  // implied).
  static int Create(nv::Env* env, const std::string& path, const KeySpec& shape,
                    std::unique_ptr<KeyFile>* out, const nv::OpenOptions& options = {0x42});
  // Opens an existing key file and checks its header against the shape:
  // 46 when missing, too short or not matching (components, entry length,
  // duplicates, optional and case flags); other open failures answer the
  // system's number as the Env gives it.
  static int Open(nv::Env* env, const std::string& path, const nv::OpenOptions& options,
                  const KeySpec& shape, std::unique_ptr<KeyFile>* out);

  // The header, read again first when marked stale (a failed read leaves the
  // last one; the next operation answers the error).
  const KeyHeader& header() {
    Fresh();
    return header_;
  }
  const KeySpec& shape() const { return spec_; }
  const std::string& path() const { return file_->Path(); }
  nv::EnvFile* file() const { return file_.get(); }

  // Page cache kept across operations on/off. Create and Open turn it on
  // when no other open can write the file (share mode compatibility, deny
  // all or deny write); off, pages live only until the next MarkStale(),
  // DropPages() or ReRead().
  void set_cache(bool on);
  // Called before every write with the offset and length about to be written.
  void set_write_hook(std::function<int(uint64_t offset, size_t n)> hook) {
    write_hook_ = std::move(hook);
  }
  using Ranges = std::vector<std::pair<uint64_t, size_t>>;
  // Called once before the held-back writes are made, with all their ranges.
  void set_batch_hook(std::function<int(const Ranges&)> hook) { batch_hook_ = std::move(hook); }

  // Holding back: while on, pages and the header written are kept in memory
  // (and read from there) instead of going to the file; WriteHeldBack()
  // makes them, announced to the batch hook all at once. For a file no one
  // else reads meanwhile (a transaction keeps it), so that the journal needs
  // one flush for all of them instead of one per page.
  void set_hold_back(bool on) { hold_back_ = on; }
  bool holding_back() const { return hold_back_; }
  // The ranges WriteHeldBack() would announce (a COMMIT journals the held
  // writes of all its key files at once first).
  Ranges HeldBackRanges() const;
  int WriteHeldBack();
  // Forgets what is held back (a ROLLBACK: the file never had it) and stops
  // holding back; the header must be read again before the next use.
  void DropHeldBack() {
    held_pages_.clear();
    held_header_ = false;
    hold_back_ = false;
    Forget();
    stale_ = true;
  }
  // WriteHeldBack(), then holding back off.
  int EndHoldBack() {
    int rc = WriteHeldBack();
    hold_back_ = false;
    return rc;
  }

  int Insert(uint32_t record, const uint8_t* value);
  // 0 when removed; 0 as well when the entry does not exist (*removed false).
  int Remove(uint32_t record, const uint8_t* value, bool* removed = nullptr);
  // Duplicate test: an entry with this value for a record other than
  // except_record (0: any record).
  int Contains(const uint8_t* value, uint32_t except_record, bool* found);
  // Empty tree (EMPTY, start of BUILD).
  int Reset();

  int First(KeyCursor* c);
  int Last(KeyCursor* c);
  // First entry >= (value, record); record 0 gives the first entry of value.
  int Seek(const uint8_t* value, uint32_t record, KeyCursor* c);
  // Move by one; past the ends the cursor becomes at_end(). Next/Prev of an
  // at_end() cursor answer First/Last.
  int Next(KeyCursor* c);
  int Prev(KeyCursor* c);
  // n is 1-based; 0 or beyond the entries gives at_end().
  int SeekOrdinal(uint32_t n, KeyCursor* c);
  int Ordinal(const KeyCursor& c, uint32_t* n);
  int Entry(const KeyCursor& c, uint32_t* record, std::string* value);
  // Next (dir > 0) or Prev, then the Entry of the new place when there is one.
  int StepEntry(KeyCursor* c, int dir, uint32_t* record, std::string* value);
  // Appends the record numbers of up to `max` entries that follow c
  // (dir > 0) or precede it (dir < 0), in that order (read-ahead).
  int Following(const KeyCursor& c, int dir, size_t max, std::vector<uint32_t>* out);
  // True when no page has been written and none dropped since the cursor
  // was made (by this KeyFile: generations are never repeated, across
  // files and opens): it still names the same entry, so a caller may step
  // from it instead of seeking its entry again. (A shared file's pages are
  // dropped whenever its header is read again: before each operation
  // outside a read run and at the start of each run, so its cursors stay
  // current within a run only.)
  bool Current(const KeyCursor& c) const { return !c.at_end() && c.generation == generation_; }
  uint64_t generation() const { return generation_; }

  // Writes the header (when changed) and optionally forces the file to disk.
  int Flush(bool sync);
  // Drops the cache and reads the header again (shared files).
  int ReRead();
  // Another open may have written the file: drops the cached pages and reads
  // the header again when it is next needed (no I/O here).
  void MarkStale();
  // Drops the cached pages only (this open's header stays as it is).
  void DropPages();
  // Reads the header again when it is marked stale.
  int Refresh();
  bool stale() const { return stale_; }
  // Structural check; 0 when sound, else 46 with the faults in *report.
  int Check(std::string* report);

  // The one page routines (exposed for the builder and tests).
  int ReadPage(uint32_t page, uint8_t* buf);
  int WritePage(uint32_t page, const uint8_t* buf);
  // `count` consecutive pages from `first` in one write (BUILD).
  int WritePages(uint32_t first, const uint8_t* pages, uint32_t count);
  int WriteHeader();
  // A header set here is this open's (no longer stale).
  void set_header(const KeyHeader& h) {
    header_ = h;
    stale_ = false;
  }

 private:
  KeyFile(nv::Env* env, std::unique_ptr<nv::EnvFile> file, const KeySpec& shape);
  int FirstAt(KeyCursor* c);
  int LastAt(KeyCursor* c);
  int SeekAt(const uint8_t* value, uint32_t record, KeyCursor* c);
  int NextAt(KeyCursor* c);
  int PrevAt(KeyCursor* c);
  int SeekOrdinalAt(uint32_t n, KeyCursor* c);
  int Stamp(int rc, KeyCursor* c) {
    c->generation = generation_;
    return rc;
  }
  int Fresh() { return stale_ ? Refresh() : 0; }
  int ReadHeaderAt(bool check_size);
  // A page of a file no other open writes, in the file's view (nullptr
  // when there is none or the page lies past the end of the file), or
  // copied from there.
  const uint8_t* ViewedPage(uint32_t page);
  bool FromView(uint32_t page, uint8_t* buf);
  // A page's bytes where they are, for reading only: held back, viewed,
  // cached, else read into peeked_. Valid until the next page is read or
  // written.
  int PageBytes(uint32_t page, const uint8_t** out);
  // The finger's place when it is (value, record) and still valid.
  bool FingerAt(const uint8_t* value, uint32_t record, KeyCursor* c);
  // Pages dropped and cursors no longer current.
  void Forget() {
    cache_.clear();
    generation_ = NewGeneration();
  }
  static uint64_t NewGeneration();

  // The last entry read: its place, the parent of its leaf then, and the
  // tree's generation when the place was last known good.
  struct Finger {
    bool set = false;
    uint32_t page = 0;
    int index = -1;
    uint32_t parent = 0;
    uint32_t record = 0;
    uint64_t generation = 0;
    std::string value;
  };
  struct Impl;
  friend struct Impl;

  std::unique_ptr<nv::EnvFile> file_;
  KeySpec spec_;
  KeyHeader header_;
  bool cache_on_ = true;
  bool no_view_ = false;  // the Env has no view of the file
  bool viewed_ = false;   // pages are read from the view (and not kept)
  bool stale_ = false;  // header to be read again before use
  int sticky_error_ = 0;
  Finger finger_;
  // Changed by every write and every drop of the pages; drawn from one
  // counter for all key files (NewGeneration), never repeated.
  uint64_t generation_ = NewGeneration();
  std::unordered_map<uint32_t, std::vector<uint8_t>> cache_;
  uint32_t missed_ = 0;  // the page last read from the file (ReadPage)
  uint8_t peeked_[kPageSize];  // PageBytes' copy of a page read from the file
  std::function<int(uint64_t, size_t)> write_hook_;
  std::function<int(const Ranges&)> batch_hook_;
  bool hold_back_ = false;
  bool held_header_ = false;
  // The header as last read from or written to the file (Flush skips an
  // unchanged one).
  uint8_t on_disk_[kKeyHeaderSize] = {};
  bool on_disk_valid_ = false;
  std::map<uint32_t, std::vector<uint8_t>> held_pages_;
};

// Error number of a failed page read or write: the system's number when it
// is 18 or below, else 5.
int PageIoError(int os_error);

}  // namespace flat
