// Helpers shared by the flat driver's record layer and its whole-file
// operations. Internal to the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/flat/flat_driver.h"

namespace flat {

uint64_t RecordOffset(const FlatFcb* f, uint32_t n);
// Prefix and stored data of record n: 35 outside 1..records, 36 when short.
int ReadRaw(FlatFcb* f, uint32_t n, std::vector<uint8_t>* raw);
// The same, in place: *stored is valid until this open next reads or writes.
int RecordBytes(FlatFcb* f, uint32_t n, const uint8_t** stored);
int ReadStatus(FlatFcb* f, uint32_t n, uint8_t* status, uint32_t* link);
// Before a walk in key order reads record n, the entry at c of key file kf:
// when records may be kept and n is not, reads n together with the records
// of the entries that follow c in the walk's direction (dir), in one request.
int ReadAhead(FlatFcb* f, KeyFile* kf, const KeyCursor& c, int dir, uint32_t n);
int WritePrefix(FlatFcb* f, uint32_t n, uint8_t status, uint32_t link);
// Stored record data <-> the runtime's form (scrambling, OEM code page).
void ToRuntime(const FlatFcb* f, const uint8_t* stored, uint8_t* out);
void ToStored(const FlatFcb* f, const uint8_t* data, uint8_t* out);
int WriteRecord(FlatFcb* f, uint32_t n, uint8_t status, uint32_t link, const uint8_t* data);
// Writes the records APPEND keeps back while streaming, in one piece. Every
// other access to the data file makes it first (FlatFcb::Write, the reads,
// BYTES, CLOSE), so the header never counts a record that is not written.
// A failed write takes the records back out of the header's count.
int FlushAppends(FlatFcb* f);
// Writes the header (time stamp when asked); nothing on a read-only file.
int WriteHeader(FlatFcb* f, bool stamp);
// Reads and checks the header: 36 for a file that cannot be sound.
int ReadHeader(FlatFcb* f);
// The header's busy mark (kHdrBusy) written on or off by itself, without
// time stamp or flush. ClearBusyMark ends an operation: nothing when this
// open has no mark on disk, when the header is held back (streaming: the
// mark stays until the header is written) or after a failed write (the mark
// stays and the next open repairs).
int WriteBusyMark(FlatFcb* f, bool on);
int ClearBusyMark(FlatFcb* f);
// The header write that ends ADD and DELETE, and writes the held-back header
// at FLUSH and CLOSE: clears the mark with it. With `flush_after_unlock`, on
// a file opened shared outside a transaction while another station's writer
// waits for the header lock, the flush that follows is made once the
// operation has given up the lock (AfterOp), still before the operation
// returns: the waiting writer goes on meanwhile, and the system makes the
// flushes of writers that follow each other together. With no writer
// waiting the flush is made under the lock, so that read runs starting
// meanwhile do not hold up this station's next write.
int WriteFinalHeader(FlatFcb* f, bool flush_after_unlock = false);
// That flush, after the byte lock is given up: 0 when none is due.
int FlushAfterUnlock(FlatFcb* f);
// After a crash: the memo file's free chain rebuilt from the blocks no live
// record's chain uses (blocks taken or given back half way are reclaimed).
int RebuildMemoChain(FlatFcb* f);

int EnsureKeyOpen(FlatFcb* f, FlatKey* k);
// A key file of f: its page cache (off when others may write), the write
// hooks that journal or mark, and holding back inside a transaction or
// while StreamHoldsKeys.
void SetKeyHooks(FlatFcb* f, KeyFile* kf);
// Streaming a file no other open may write (not opened shared) and that no
// transaction can journal (in no logout): its key pages are held back in
// memory like a transaction's until FLUSH or CLOSE (or BUILD, EMPTY, PACK).
// The header is then held back too, so the busy mark stays on disk until
// the keys are written: a program that dies meanwhile leaves a file the
// next open repairs (its keys built again from the records).
bool StreamHoldsKeys(const FlatFcb* f);
// Writes what the keys of f hold back for streaming and stops holding back.
int EndStreamHoldBack(FlatFcb* f);
bool Maintained(const FlatKey& k);
// Key value of record data; false when the record has no entry.
bool KeyValue(const FlatKey& k, const uint8_t* data, std::string* value);
// The current record's key values: noted here, each made when first asked
// for by CurrentKey() (a walk pays only for the key it walks).
void LoadCurrentKeys(FlatFcb* f, const uint8_t* data);
// Makes k's value of the current record; after a read answered from another
// key's entry this reads the record (under the header lock, so a caller
// that holds none asks CurrentKeyNeedsRecord first).
int CurrentKey(FlatFcb* f, FlatKey* k);
bool CurrentKeyNeedsRecord(const FlatFcb* f, const FlatKey* k);
// The fields NEXT and PREVIOUS must fill (empty: all), and which keys'
// entries hold them all.
void NoteReadFields(FlatFcb* f, std::vector<uint32_t> fields);
const uint8_t* U8(const std::string& s);

int ReadMemoHead(FlatFcb* f, uint32_t* free_head);
int WriteMemoHead(FlatFcb* f, uint32_t free_head);
int MemoBlockCount(FlatFcb* f, uint32_t* count);
int ReadMemoBlock(FlatFcb* f, uint32_t n, uint8_t* block);

// Paths of the files of a declared file.
std::string MemoPath(const FlatFcb* f);
std::string KeyPath(const FlatFcb* f, const FlatKey& k);

}  // namespace flat
