// One dBase III index file (".NDX"): a tree of 512-byte pages.
//
// Page 0 is the header: root page (u32 at 0), number of pages in the file
// (u32 at 4), key length (u16 at 12), keys per page (u16 at 14), key type
// (u16 at 16: 0 character, 1 numeric or date as an 8-byte float), size of a
// key item (u16 at 18: key length + 8 rounded up to 4), unique flag (u8 at
// 23) and the key expression (zero-terminated, from 24).
// Every other page: the number of keys (u32 at 0), then key items: the page
// below (u32, 0 in a leaf), the record number (u32) and the key. An inner
// page with n keys has n + 1 items; the last carries only its page below.
//
// Invariants: every key of the subtree left of an inner item is <= the
// item's key, every key right of it is >= (equal keys may run over several
// pages); entries are ordered by (key, record number). Inner items carry
// record number 0, as other programs expect, so a search descends to the
// first place the key may be and walks forward to the exact entry.
// Pages freed by deletions are not reused until the index is rebuilt.
//
// Errors are xBase numbers (-206 corrupted, -201/-202 write/read failure,
// -225 invalid root, -226 bad keys per page, -223 key length): every page
// number read from the file is checked before it is followed.
//
// Thread-safety: one NdxFile belongs to one open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/runtime/env.h"

namespace db3 {

inline constexpr size_t kNdxPage = 512;

struct NdxEntry {
  std::string key;
  uint32_t record = 0;
};

class NdxFile {
 public:
  // Creates (truncating) an empty index file.
  static int Create(const std::string& path, const std::string& expr, bool numeric,
                    uint16_t key_length, bool unique, std::unique_ptr<NdxFile>* out);
  // Opens and checks the header.
  static int Open(const std::string& path, bool read_only, std::unique_ptr<NdxFile>* out);
  // Over a file opened by the caller (fuzzer, tools).
  static int Attach(std::unique_ptr<nv::EnvFile> file, std::unique_ptr<NdxFile>* out);

  const std::string& expression() const { return expr_; }
  bool numeric() const { return numeric_; }
  bool unique() const { return unique_; }
  uint16_t key_length() const { return key_length_; }
  nv::EnvFile* file() { return file_.get(); }

  // Orders two keys of this index (character: bytes; numeric: as floats).
  int Compare(const std::string& a, const std::string& b) const;

  int Insert(const std::string& key, uint32_t record);
  // Removes the entry (key, record); 0 also when it is not there.
  int Remove(const std::string& key, uint32_t record);
  // The first entry >= (key, record) (forward) or the last entry <=
  // (key, record) (backward); *found false past either end.
  int Seek(const std::string& key, uint32_t record, bool forward, NdxEntry* out, bool* found);
  int First(bool forward, NdxEntry* out, bool* found);
  // Every entry in order (checks, rebuilds, counts); stops on an error.
  int Walk(const std::function<bool(const NdxEntry&)>& visit);
  // Empties the index (header kept).
  int Clear();
  // Bulk-loads sorted entries into an empty index.
  int Load(const std::vector<NdxEntry>& sorted);

  // Page cache: `keep` holds pages across operations (the file is ours
  // alone); otherwise Forget() is called before each operation. While
  // `defer` is on, written pages stay in memory until Flush().
  void SetCaching(bool keep, size_t max_pages) {
    keep_ = keep;
    max_pages_ = max_pages ? max_pages : 1;
  }
  void SetDeferred(bool defer) { defer_ = defer; }
  // Called before any byte of the file is written (its error stops the
  // write): the owner takes the lock that keeps readers out.
  void SetWriteGuard(std::function<int()> guard) { guard_ = std::move(guard); }
  int Flush();
  int Forget();  // flushes, drops pages and reads the header again
  int Sync();

 private:
  struct Page {
    uint8_t b[kNdxPage];
    bool dirty = false;
  };
  struct Item {
    uint32_t below;
    uint32_t record;
    std::string key;
  };
  struct Node {
    uint32_t page = 0;
    bool leaf = true;
    std::vector<Item> items;  // inner: keys + 1 (last without key)
  };
  using Path = std::vector<std::pair<uint32_t, int>>;  // page, index

  int ReadHeader();
  int WriteHeader();
  int WriteAt(uint64_t offset, const uint8_t* bytes);  // one page, guarded
  void DropPages();
  int Fetch(uint32_t page, Page** out);
  // Items of a page read in place: count of items (inner: keys + 1), leaf.
  int Shape(uint32_t page, const Page** p, int* items, bool* leaf);
  const uint8_t* ItemAt(const Page* p, int i) const { return p->b + 4 + size_t(i) * item_size_; }
  int CompareAt(const uint8_t* item, const std::string& key) const;
  int Store(uint32_t page, const uint8_t* bytes);
  int ReadNode(uint32_t page, Node* n);
  int WriteNode(const Node& n);
  int NewPage(uint32_t* page);
  bool Less(const std::string& k1, uint32_t r1, const std::string& k2, uint32_t r2) const;
  // Descends to the leaf where (key, record) belongs; the path holds the
  // item index chosen at each level (at the leaf: the insert position).
  int Descend(const std::string& key, uint32_t record, Path* path);
  // The first entry >= (key, record): *ok false past the end.
  int Locate(const std::string& key, uint32_t record, Path* path, NdxEntry* out, bool* ok);
  int Edge(uint32_t page, bool forward, Path* path);
  // Moves to the next/previous entry; *ok false at the end.
  int Step(Path* path, bool forward, bool* ok);
  int At(const Path& path, NdxEntry* out);
  int Normalize(Path* path, bool* ok);
  int InsertUp(Path* path, size_t level, Item item, uint32_t right);

  std::unique_ptr<nv::EnvFile> file_;
  std::vector<std::unique_ptr<Page>> cache_;  // by page number
  std::vector<uint32_t> cached_;              // pages held, to drop them
  std::vector<uint32_t> dirty_;
  // The place of the entry found last: a walk in order steps on from it
  // instead of descending again, while no page changed (version_).
  Path hint_;
  NdxEntry hint_entry_;
  uint64_t hint_version_ = ~0ull;
  uint64_t version_ = 0;
  bool keep_ = false;
  bool defer_ = false;
  size_t max_pages_ = 1024;
  uint32_t root_ = 1;
  uint32_t pages_ = 2;
  uint16_t key_length_ = 0;
  uint16_t per_page_ = 0;
  uint16_t item_size_ = 0;
  bool numeric_ = false;
  bool unique_ = false;
  std::string expr_;
  bool header_dirty_ = false;
  std::function<int()> guard_;
};

}  // namespace db3
