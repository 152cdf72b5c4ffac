// The flat file driver (registered "Norvane"): its per-file, per-key,
// per-field and per-memo blocks and the driver class that runs the
// operations on them.
//
// Invariants of an open file (FlatFcb with data_ set):
//  - header_ is the data file's header as last read or written; every change
//    to the counters is written back (or, for APPEND while streaming, marked
//    dirty and written at FLUSH, CLOSE or the end of a build);
//  - 1 <= first_live <= last_live <= records when there is a live record,
//    both 0 otherwise; free_head is 0 or a deleted record whose link leads
//    through deleted records to 0;
//  - every key that is open and not an index holds exactly one entry per live
//    record (none for an all-null record of an optional key);
//  - current_ is 0 or the record last read, added or rewritten; cur_key_ of
//    every key holds that record's key value as it was then;
//  - every byte written to a data, memo or key file goes through
//    FlatFcb::Write() (or the key files' page routine, whose write hook
//    points at WriteHook()), the single place for journalling;
//  - outside a transaction that journals the file, header status kHdrBusy
//    is on disk from before an operation's first write until after its
//    last (kBusyOnDisk set meanwhile); a file found with the mark and no
//    live writer is repaired before it is used (flat_share.h).
//
// Sequence (NEXT, PREVIOUS, SKIP, BOF, EOF): kept as a position in the
// current order rather than a cursor, so that changes to the file between
// reads never leave it dangling. kStart reads from either end; kBound reads
// the first entry at or after (value, record) going forward and the last at
// or before (value, record_hi) going backward; kAt continues strictly after
// or before the entry last read; kEnd is past the end (PREVIOUS reads the
// last entry).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivers/common/skeleton.h"
#include "drivers/flat/flat_format.h"
#include "drivers/flat/flat_runs.h"
#include "drivers/flat/key_build.h"
#include "drivers/flat/key_codec.h"
#include "drivers/flat/key_file.h"
#include "host/runtime/env.h"

namespace flat {

// Open flags of a flat file.
enum OpenFlag : uint32_t {
  kFlushAfterWrite = 1u << 3,
  kHeaderDirty = 1u << 4,
  kHoldRequested = 1u << 5,
  kLockedByUs = 1u << 6,
  kOpenShared = 1u << 7,
  kOpenReadOnly = 1u << 8,
  kNoMemoNext = 1u << 10,
  kHeaderByteLocked = 1u << 12,
  kWatchRequested = 1u << 13,
  kIgnoreStatus = 1u << 14,
  kIgnoreCorruptions = 1u << 16,
  kMaintainHeaderTime = 1u << 17,
  kBusyOnDisk = 1u << 18,      // this open wrote kHdrBusy and has not cleared it
  kUnmarkedWrites = 1u << 19,  // the writes under way need no busy mark
  kRunLock = 1u << 20,         // the operation goes on under a read run
  kFlushAfterUnlock = 1u << 21,  // the data file's flush waits for the byte lock to go
};

struct FlatField : nv::DrvFieldHead {
  uint8_t stored_type = 0;  // 0: not stored
};

struct FlatMemo : nv::DrvMemoHead {};

struct FlatKey : nv::DrvKcbHead {
  KeySpec shape;
  std::unique_ptr<KeyFile> file;
  int file_number = 0;   // n of the key file name (1-based place among all keys)
  bool index = false;    // kept only by BUILD
  bool dynamic = false;  // an index declared without components
  bool stored = false;   // has a key file and a descriptor
  // Reset by a build that failed (cancelled, no memory, a write): reads
  // through it answer 46 until a build of it completes or the file is
  // opened again (which repairs it), never an empty key.
  bool unbuilt = false;
  std::string path;
  std::string cur_key;  // key value of the current record (CurrentKey())
  bool cur_has_entry = false;
  uint64_t cur_made = 0;  // FlatFcb::current_made when cur_key was made
  // Its entries give back every field of FlatFcb::read_fields: a walk by
  // it answers NEXT and PREVIOUS from the entry, without the record.
  bool answers_reads = false;
};

enum class SeqMode { kStart, kBound, kAt, kEnd };

// Records kept in memory as read: a block of consecutive records, read in
// one piece when the reads go through the file in order, or the one record
// read last. Kept only while no other open can change them (flat_records.cpp
// ReadRaw); dropped whenever the header is read again or this open writes a
// record. Where the data file can be viewed in memory, records are read
// there instead, under the same conditions.
//
// A walk in key order keeps instead the records of the entries that follow
// the one it reads (read ahead together, flat_records.cpp ReadAhead): their
// numbers in the walk's order and their stored images. Kept and dropped with
// the block.
struct RecordBlock {
  uint32_t first = 0;  // record number of bytes[0]; 0: nothing kept
  uint32_t count = 0;
  uint32_t last = 0;  // the record read last (to see reads in order)
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> ahead;  // read ahead in key order (0: not read)
  std::vector<uint8_t> ahead_bytes;  // their images (none when ahead_viewed)
  // The records read ahead lie in the data file's view: only asked of the
  // memory beforehand (prefetched), then read there as any viewed record.
  bool ahead_viewed = false;
  size_t ahead_next = 0;      // the place of the record the walk reads next
  uint32_t ahead_window = 0;  // entries read ahead last time
  // Records are read from the data file's view (nv::EnvFile::View) rather
  // than into the block while they may be kept: view_checked is set once
  // its length was asked of the system since the header was last read
  // (another open may have cut or grown the file before), no_view when the
  // file has no view.
  bool view_checked = false;
  bool no_view = false;
  void Forget() {
    first = count = 0;
    ahead.clear();
    ahead_next = 0;
  }
};

struct Sequence {
  SeqMode mode = SeqMode::kStart;
  std::string value;
  uint32_t record = 0;
  uint32_t record_hi = 0;
  // kAt in key order: the entry's place as the key file gave it. While the
  // key file says it is current (KeyFile::Current: no page written, no page
  // dropped since) the walk steps from it instead of seeking the entry.
  KeyCursor cursor;
};

struct FlatFcb : nv::DrvFcbHead {
  std::vector<FlatField> field_blocks;
  std::vector<FlatKey> key_blocks;
  std::vector<FlatMemo> memo_blocks;
  Layout layout;

  std::unique_ptr<nv::EnvFile> data;
  std::unique_ptr<nv::EnvFile> memo;
  uint32_t flags = kFlushAfterWrite;
  Header header;
  uint16_t owner_key = 0;
  int write_error = 0;  // a failed write: the handle refuses further writes

  uint32_t current = 0;
  uint8_t current_status = 0;
  // The current record's data as read, added or rewritten: a key's cur_key
  // is made from it when first asked for (CurrentKey, flat_internal.h).
  std::vector<uint8_t> current_image;
  uint64_t current_made = 0;  // counts the images taken
  std::vector<uint8_t> read_scratch;  // ReadRecord's copy of the stored record
  uint32_t current_memo = 0;
  bool memo_skipped = false;  // the current record was read with NOMEMO
  // The fields the program reads after NEXT and PREVIOUS (property
  // nv::kPropReadFields, 1-based numbers; empty: the whole record).
  std::vector<uint32_t> read_fields;
  // The current record was answered from this key's entry alone: the
  // record buffer holds the key's fields only, so a PUT of it is refused;
  // current_image is taken (image_missing cleared) when another key's
  // value is asked for.
  FlatKey* current_from_key = nullptr;
  bool image_missing = false;
  uint32_t held = 0;
  uint32_t watched = 0;
  std::vector<uint8_t> watch_copy;
  uint32_t recover_seconds = 0;
  Sequence seq;
  ReadRun run;  // a file opened shared: the read run this open keeps
  RecordBlock block;
  // APPEND while streaming a file no other open shares: records not yet
  // written, from record appends_first on (FlushAppends, flat_internal.h).
  std::vector<uint8_t> appends;
  uint32_t appends_first = 0;

  bool open() const { return data != nullptr; }
  bool read_only() const { return (flags & kOpenReadOnly) != 0; }
  bool owned() const { return !owner.empty(); }
  FlatMemo* memo_block() { return memo_blocks.empty() ? nullptr : &memo_blocks[0]; }
  FlatKey* key(nv::DrvKcbHead* k) { return static_cast<FlatKey*>(k); }
  FlatKey* seq_key() { return static_cast<FlatKey*>(current_key); }

  // The one write routine for data and memo files (and the hook of the key
  // files): refuses after a failed write, never writes zero bytes.
  int Write(nv::EnvFile* f, uint64_t offset, const void* p, size_t n);
  int WriteHook(uint64_t offset, size_t n);
  // The key files' hook: journals the bytes `file` is about to overwrite.
  int WriteHook(nv::EnvFile* file, uint64_t offset, size_t n);
  // The key files' hook for held-back writes made together.
  int WriteHooks(nv::EnvFile* file, const std::vector<std::pair<uint64_t, size_t>>& ranges);
  // Before any write: journalled, or the busy mark on disk first.
  int BeforeWrite(nv::EnvFile* file, uint64_t offset, size_t n);
};

class FlatDriver final : public drv::DriverBase {
 public:
  const nv::DrvReg& Reg() const override;

 protected:
  const char* TraceSection() const override { return "NWNorvane"; }
  const char* DefaultTraceFile() const override { return "Norvane.LOG"; }
  uint32_t MaxRecordLength() const override { return kMaxRecordLength; }
  int CreateFcb(nv::FileDescriptor* fd, nv::DrvFcbHead** out) override;
  void DeleteFcb(nv::DrvFcbHead* fcb) override;
  void CompleteName(nv::DrvFcbHead* fcb) override;
  int Run(drv::OpContext& ctx) override;
  int AfterOp(nv::DrvFcbHead* fcb) override;
  int Option(nv::DrvFcbHead* fcb, const std::string& name, const std::string& value, bool has_value,
             bool from_send, std::string* answer) override;
  bool DriverProperty(drv::OpContext& ctx, int32_t property, bool set, int* error) override;
  // POSITION of the current key is this open's own (no lock), and a NEXT or
  // PREVIOUS that fails leaves the current record as it was.
  bool LazyPosition() const override { return true; }
};

// The driver object of this library (one per process).
FlatDriver& Driver();
// The registration record Reg() answers: the library's exported one once
// it is loaded, else a local copy whose entry calls Driver() directly.
extern const nv::DrvReg kLocalReg;
void SetRegistration(const nv::DrvReg* reg);

// Completes a declared name: ".DAT" when it has no extension; '\' becomes '/'.
std::string CompleteDataName(const std::string& name);

}  // namespace flat
