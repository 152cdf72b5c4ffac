// Sharing a flat file between programs (and between opens in one program,
// which behave as separate stations): the header byte lock around every
// operation of a file opened shared (kept shared over a run of reads,
// flat_runs.h), the file-level LOCK kept in header
// status bit 0, held records marked on disk, RECOVER of a dead program's
// lock or hold, and the recount of the header after a broken lock.
//
// Invariants:
//  - while kHeaderByteLocked is set this open holds the byte lock on byte 0
//    of the data file (exclusive, or shared under a read run) and f->header
//    is the header on disk (or newer, while streaming); no other open
//    changes the file meanwhile;
//  - kLockedByUs is set exactly when this open wrote header status bit 0;
//    an open that finds the bit set without holding it fails (32; 5 for
//    OPEN; 43 for a read that holds) or, with RECOVER, waits until the
//    header's change time stands still for RECOVER seconds;
//  - a record's held mark (0x40) belongs to the open whose f->held names it;
//    a read that holds waits while another's mark stands.
//
// Waiting: the waits for a LOCK, a held record and RECOVER go through
// nv::GetEnv()->Delay (1000 ms steps) so tests drive them with a fake
// clock. A refused header byte lock is waited for in the system, which
// grants it the moment its holder lets go: another station holds it for one
// operation (or one transaction), and fixed one-second steps would make
// shared files crawl. (While this program's transaction keeps other files'
// byte locks the wait is bounded: see SharedLockHeader.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivers/flat/flat_driver.h"

namespace flat {

// The byte a writer locks while it waits for the header byte lock, so that
// read runs starting meanwhile wait behind it (flat_runs.h).
inline constexpr uint64_t kIntentByte = 1;

// True when a writer of another open waits for the header byte lock of
// data file `file` (holds its intent byte).
bool WriterWaiting(nv::EnvFile* file);

// Takes the byte lock on the first byte of `file` (exclusive, or shared for
// a read run), waiting while another open holds it. A failure that is
// neither granted nor refused is the fatal runtime error "DOS FILE LOCKING
// ERROR".
void AcquireByteLock(nv::EnvFile* file, bool exclusive = true);

// The header lock before an operation of a file opened shared: byte lock,
// header and key headers read again, a dead program's transaction recovered,
// another program's LOCK respected. Nothing for files not opened shared.
// An operation that only reads goes on under a read run (flat_runs.h).
int SharedLockHeader(FlatFcb* f, bool reads_only);
// Reads the data file's header now and marks the key headers to be read
// again when an operation first uses them (KeyFile::MarkStale), so that an
// operation pays only for the keys it walks or changes.
int ReadHeaderAndKeys(FlatFcb* f);

// LOCK and UNLOCK (the skeleton repeats LOCK while it answers 32).
int LockFile(FlatFcb* f);
int UnlockFile(FlatFcb* f);

// A read that holds found record n (raw: prefix and data as read) carrying
// another open's held mark: waits for the mark to go. 43 after the hold
// timeout; with RECOVER a mark standing that long is cleared.
int WaitHeldRecord(FlatFcb* f, uint32_t n, std::vector<uint8_t>* raw);

// A lock whose program died: the transaction it left is rolled back, or
// without journal the header's lock bit cleared and, when it was set, the
// counters recounted from the records and the keys rebuilt.
int RecoverBrokenLock(FlatFcb* f);
// Sets the header's counters from the records' status bytes: records is
// the last whole record, deleted the records marked 0x10, the live bounds,
// and the free chain linking the deleted records from the highest down.
int RecountHeader(FlatFcb* f);

// Whole-file operations that put other files in the place of a file
// (PACK) or take it away (REMOVE, RENAME) are refused while any other open
// of it exists: on Linux the other opens would go on with the old file and
// lose what they write. An open that finds its file replaced under it when
// it gets the byte lock opens again (kReopen from SharedLockHeader).
inline constexpr int kReopen = -2;
// True while another open of f's data or memo file exists (another
// station, or another open in this program).
bool OpenElsewhere(FlatFcb* f);
// For REMOVE and RENAME of a file this block has closed: opens the data
// file at `path` and takes its byte lock, which *probe keeps until it is
// dropped. 5 when another open of it exists; 0 with no probe when the file
// does not exist; another open's denial (sharing violation) gives 5.
int ProbeUnshared(const std::string& path, std::unique_ptr<nv::EnvFile>* probe);

// CLOSE of a file opened shared, before anything is written: takes the
// header byte lock and reads the header and the key headers again, so that
// what CLOSE writes is not older than what other stations wrote.
void ShareBeforeClose(FlatFcb* f);
// CLOSE, before the byte lock is dropped: gives up this open's LOCK and
// lets an active transaction keep the files it wrote.
void ShareClosing(FlatFcb* f);

}  // namespace flat
