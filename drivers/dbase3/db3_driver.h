// The dBase III file driver (registered "dBase3"): a declared file kept as
// a dBase III table (".DBF") with its memo file (".DBT") and one index file
// (".NDX") per key.
//
// Invariants of an open file (Db3Fcb with dbf set):
//  - hdr is the table header as last read or written; in a file opened
//    shared it is read again at the start of every operation, under the
//    count region lock (bytes 4..7 of the table): shared for reads,
//    exclusive for writes, so that no station reads a half-made change;
//  - each index holds one entry (key, record) per live record of the table
//    (DELETE takes the record's entries out); entries are ordered by key,
//    then record number;
//  - current is 0 or the record read, added or rewritten last, and
//    cur_raw its bytes as the table held them then.
//
// Sequence (NEXT, PREVIOUS): a position in the current order kept as a
// value (key and record number), not a cursor, so that changes between
// reads never leave it dangling (see Seq).
//
// Locks are open-file-description byte locks on the table: the whole table
// (offset 0, length 0x7FFFFFFF) for LOCK, the count (offset 4, length 4)
// around operations, a record's own bytes for HOLD and PUT. A refused lock
// is xBase error -279. An open that denies others only writing takes the
// count region for its writes (its readers must not see a half-made
// change), but does not read the header again: no one else changes it.
// While it streams, an ADD is not such a write: its record and count wait
// in memory, and its index pages take the region (GuardWrites) only when
// they leave the page cache.
//
// Busy mark (byte 14 of the table header, reserved in dBase III and left
// alone by its programs; later versions read a set byte as "incomplete
// transaction"). A writable open that denies others writing and streams
// holds back its appended records, the count and its index pages, while
// rewritten records and pages that leave the cache reach the file at once:
// killed before FLUSH or CLOSE, it would leave indexes that disagree with
// the table (entries of records never counted, old keys of rewritten or
// deleted records). So before the first change of such an open the byte
// is set on disk, and FLUSH and CLOSE clear it as their last write, after
// the records, the index pages and the count:
//
//   clear --(write while streaming)--> set --(FLUSH, CLOSE)--> clear
//
// A writable open that finds the byte set knows its owner died (no one else
// could open the table for writing while it lived): under the count region
// it cuts the table after the counted records, rebuilds every index from
// the table and clears the byte. A read-only open leaves it as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/common/skeleton.h"
#include "drivers/dbase3/key_expr.h"
#include "drivers/dbase3/ndx_file.h"
#include "host/runtime/env.h"

namespace db3 {

inline constexpr uint32_t kMaxRecordLength = 4000;
inline constexpr uint64_t kWholeTable = 0x7FFFFFFF;
inline constexpr size_t kBusyByte = 14;  // the busy mark's place in the header

struct Db3Field : nv::DrvFieldHead {
  bool stored = false;  // has a table field
  int table = -1;       // index into Db3Fcb::table
  bool typed = false;   // the external name gives the type
  int memo = -1;        // M field: the memo declaration it carries
};

struct Db3Memo : nv::DrvMemoHead {
  int table = -1;  // the M field
};

struct Db3Key : nv::DrvKcbHead {
  std::string path;
  std::string expr;
  char type = 'C';
  uint16_t length = 0;
  bool unique = false;
  bool dynamic = false;
  ExprPtr compiled;
  std::unique_ptr<NdxFile> ndx;
};

// Table header (the first 32 bytes).
struct DbfHeader {
  uint8_t version = 0x03;
  uint8_t yy = 0, mm = 1, dd = 1;
  uint32_t records = 0;
  uint16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t raw[32] = {};  // as read: the bytes this driver does not own stay
};

enum class SeqMode { kStart, kBound, kAt, kEnd };
struct Seq {
  SeqMode mode = SeqMode::kStart;
  std::string key;
  uint32_t record = 0;
  uint32_t record_hi = 0;  // kBound going backward
};

struct Db3Fcb : nv::DrvFcbHead {
  std::vector<Db3Field> field_blocks;
  std::vector<Db3Key> key_blocks;
  std::vector<Db3Memo> memo_blocks;
  std::vector<TableField> table;  // the table's fields, in order
  uint32_t table_record_length = 1;

  std::unique_ptr<nv::EnvFile> dbf;
  std::unique_ptr<nv::EnvFile> dbt;
  DbfHeader hdr;
  bool read_only = false;
  bool exclusive = false;  // no other open may write
  bool deny_all = false;   // no other open at all
  bool streaming = false;
  bool header_dirty = false;
  bool busy_marked = false;  // this open set the busy mark on disk
  bool locked = false;       // LOCK(file) of this open
  bool count_locked = false;
  uint32_t held = 0;  // record whose region this open holds
  bool hold_next = false;
  int32_t hold_seconds = -1;
  bool watch_next = false;
  uint32_t watched = 0;
  std::vector<uint8_t> watch_copy;
  bool no_memo_next = false;

  // ADD while streaming a table no other open may write: records not yet
  // written, from record appends_first on (written at FLUSH, CLOSE, or
  // when 1 MB is held). Reads and rewrites of those records use them here.
  std::vector<uint8_t> appends;
  uint32_t appends_first = 0;

  // A table no other open may write: its record bytes kept as read, in
  // blocks of 64 KB of the file (at most `buffers` x 512 bytes in all),
  // written through by this open's own record writes.
  std::vector<std::unique_ptr<std::vector<uint8_t>>> blocks;
  size_t blocks_held = 0;
  void ForgetBlocks() {
    blocks.clear();
    blocks_held = 0;
  }

  uint32_t current = 0;
  std::vector<uint8_t> cur_raw;
  Seq seq;

  // Options.
  int buffers = 4096;
  bool ext_errors = false;
  bool ignore_status = false;
  bool omnis = false;

  Db3Key* key(nv::DrvKcbHead* k) { return static_cast<Db3Key*>(k); }
  Db3Key* seq_key() { return static_cast<Db3Key*>(current_key); }
  bool open() const { return dbf != nullptr; }
  uint64_t RecordOffset(uint32_t n) const {
    return hdr.header_length + uint64_t(n - 1) * hdr.record_length;
  }
};

class Db3Driver final : public drv::DriverBase {
 public:
  const nv::DrvReg& Reg() const override;

 protected:
  const char* TraceSection() const override { return "NWdBase3"; }
  const char* DefaultTraceFile() const override { return "dBase3.LOG"; }
  uint32_t MaxRecordLength() const override { return kMaxRecordLength; }
  int CreateFcb(nv::FileDescriptor* fd, nv::DrvFcbHead** out) override;
  void DeleteFcb(nv::DrvFcbHead* fcb) override;
  void CompleteName(nv::DrvFcbHead* fcb) override;
  int Run(drv::OpContext& ctx) override;
  int AfterOp(nv::DrvFcbHead* fcb) override;
  int Option(nv::DrvFcbHead* fcb, const std::string& name, const std::string& value, bool has_value,
             bool from_send, std::string* answer) override;
};

Db3Driver& Driver();
extern const nv::DrvReg kLocalReg;
void SetRegistration(const nv::DrvReg* reg);

// Message boxes of the driver (caption "dBase III Driver", exclamation
// icon). Without a handler the text goes to standard error.
using MessageBoxHook = std::function<void(const std::string& caption, const std::string& text)>;
void SetMessageBoxHook(MessageBoxHook hook);
void ShowMessage(const std::string& text);

// Process-wide ZEROY2K.
bool ZeroY2k();
void SetZeroY2k(bool on);

// Reports an error of an operation: xBase numbers become runtime numbers,
// with the file error of error 90 and the EXTERRORS stop.
int ReportError(Db3Fcb* f, int err);

// --- Table layer (db3_table.cpp) -------------------------------------------
std::string CompleteTableName(const std::string& name);
std::string SiblingPath(const std::string& table, const char* ext);
// The field list from the declaration (CREATE) or matched with a table's.
int MapFields(Db3Fcb* f, bool creating);
int KeyShapes(Db3Fcb* f);
int CreateFiles(Db3Fcb* f);
int OpenFiles(Db3Fcb* f, uint32_t mode);
int CloseFiles(Db3Fcb* f);
int RemoveFiles(Db3Fcb* f);
int CopyFiles(Db3Fcb* f, const std::string& target, bool rename);
int PackFiles(Db3Fcb* f);
int EmptyFiles(Db3Fcb* f);
int FlushFiles(Db3Fcb* f);
// FLUSH: ends streaming, writes what it held back (FlushFiles) and forces
// the table, the memo file and every index to disk (-247 when that fails).
int FlushAndSync(Db3Fcb* f);
int BuildIndex(Db3Fcb* f, Db3Key* k);
int BuildAll(Db3Fcb* f);
int BuildDynamic(Db3Fcb* f, Db3Key* k, const std::string& components);

// Header and records of the table.
int ReadDbfHeader(nv::EnvFile* file, DbfHeader* h, std::vector<TableField>* fields);
std::vector<uint8_t> DbfHeaderBytes(const DbfHeader& h, const std::vector<TableField>& fields,
                                    bool omnis);
int WriteHeader(Db3Fcb* f);
// Sets the busy mark before a change of a streaming open that denies others
// writing (nothing for other opens, or when it is set already).
int MarkBusy(Db3Fcb* f);
int ReadRecord(Db3Fcb* f, uint32_t n, std::vector<uint8_t>* raw);
int WriteRecord(Db3Fcb* f, uint32_t n, const uint8_t* raw);
// Appends a record (n = records + 1) with the end marker after it.
int AppendRecord(Db3Fcb* f, uint32_t n, const uint8_t* raw);
int FlushAppends(Db3Fcb* f);
// Record buffer <-> table record (memo texts included when `memos`).
int ToTable(Db3Fcb* f, std::vector<uint8_t>* raw, const std::vector<uint8_t>* old, bool memos);
int FromTable(Db3Fcb* f, const uint8_t* raw, bool memos);
// Memo file: the text of a memo starting at `block`; writing a text (reusing
// the old blocks when it fits) answers its first block.
int ReadMemo(nv::EnvFile* dbt, uint32_t block, size_t max, std::string* text);
int WriteMemo(nv::EnvFile* dbt, const std::string& text, uint32_t old_block, uint32_t* block);
// The key value of a table record for an index.
int KeyOf(Db3Key* k, const uint8_t* raw, uint32_t recno, std::string* key);

// Locks.
int LockRegion(Db3Fcb* f, uint64_t offset, uint64_t length, bool exclusive, int tries_ms);
void UnlockRegion(Db3Fcb* f, uint64_t offset, uint64_t length);
int BeginOp(Db3Fcb* f, bool writes);
// Before a write that readers could see in the middle of an operation that
// did not expect to write (index pages leaving the page cache): takes the
// count region when BeginOp did not.
int GuardWrites(Db3Fcb* f);
int EndOp(Db3Fcb* f);

// --- Records (db3_records.cpp) ----------------------------------------------
int AddRecord(Db3Fcb* f, bool keys);
int PutRecord(Db3Fcb* f, uint32_t pointer);
int DeleteRecord(Db3Fcb* f);
int Duplicate(Db3Fcb* f, Db3Key* only, uint32_t self, intptr_t* result);
int CountLive(Db3Fcb* f, intptr_t* result);
int CountKey(Db3Fcb* f, Db3Key* k, intptr_t* result);
int GetByKey(Db3Fcb* f, Db3Key* k);
int GetByPointer(Db3Fcb* f, int64_t pointer);
int GetByOrdinal(Db3Fcb* f, Db3Key* k, int64_t ordinal);
int SetFile(Db3Fcb* f, int64_t pointer);
int SetFileFromKey(Db3Fcb* f, Db3Key* k);
int SetKey(Db3Fcb* f, Db3Key* k, bool from_buffer, bool has_pointer, int64_t pointer);
int SetKeyPointer(Db3Fcb* f, Db3Key* k, int64_t pointer);
int Step(Db3Fcb* f, int dir);
int Skip(Db3Fcb* f, int64_t count);
int Peek(Db3Fcb* f, int dir, intptr_t* result);
int Position(Db3Fcb* f, std::string* text);
int Reset(Db3Fcb* f, Db3Key* k, const std::string& text, bool read);
int LockFile(Db3Fcb* f);
int UnlockFile(Db3Fcb* f);
int Release(Db3Fcb* f);

}  // namespace db3
