// Transactions of the flat driver (LOGOUT, COMMIT, ROLLBACK): the process's
// transaction file (".TR$"), one journal (".LOG") per data file written in
// the transaction, the journalling step of the one write routine, the
// backwards replay and the recovery of a transaction whose program died.
//
// Files on disk:
//   transaction file: one 83-byte entry per file that joined, in joining
//     order: u16 number (from 1), u16 number of the entry whose journal the
//     file shares (0: a journal of its own; memo and key files share their
//     data file's), 78 bytes of the full name (zero-terminated) and one byte
//     giving the kind of file (0 data, 1 memo, 2 key).
//   journal: 79 bytes of the transaction file's name (zero-padded), 8 zero
//     bytes, then, before each write of the transaction is made, the bytes
//     it overwrites in pieces of at most 512 bytes, each followed by an
//     8-byte trailer (u32 offset, u16 file number, u16 length); a write
//     beyond the end of the file adds a trailer of length 0 at the earlier
//     end (undo: cut the file there). The pieces are the 512-byte blocks of
//     the file as it was when it joined, each kept once: a later write to a
//     kept block, or beyond the size the file had when it joined, adds
//     nothing (and needs no flush), as undoing the first copy and the cut
//     puts back every byte as it was.
//
// Invariants:
//  - the journal's trailer is on disk before the write it describes is made,
//    so every byte a transaction changed can be put back from its journal;
//  - a journal exists only while its transaction file exists or while a
//    COMMIT/recovery deletes them (the transaction file goes first): a
//    journal whose transaction file is gone belongs to a finished
//    transaction and is deleted unreplayed;
//  - ROLLBACK and recovery undo from the journal's end backwards and cut the
//    journal after each trailer replayed, so an interrupted replay resumes;
//  - a file opened shared that has written in the transaction keeps its
//    header byte lock until COMMIT or ROLLBACK: other stations wait instead
//    of building on bytes a ROLLBACK would take back. A station that finds a
//    journal while holding the header byte lock therefore finds the journal
//    of a program that died, and recovers it.
//
// States of the process's transaction:
//
//   idle --LOGOUT--> active --first write of a data file--> active (+journal)
//     ^                  |                                        |
//     +----COMMIT--------+---------ROLLBACK (replay, then COMMIT)--+
//
// Thread-safety: the transaction is process-wide and unguarded, as the
// runtime has one transaction per process at a time.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "drivers/flat/flat_driver.h"

namespace flat {

inline constexpr size_t kJournalNameSize = 79;
inline constexpr size_t kJournalStart = kJournalNameSize + 8;
inline constexpr size_t kTrailerSize = 8;
inline constexpr size_t kTxnEntrySize = 83;
inline constexpr size_t kJournalPiece = 512;
inline constexpr size_t kReplayPiece = 2048;

// The journal of a data file ("X.DAT" -> "X.LOG").
std::string JournalPath(const std::string& data_path);
// The transaction file name of the n-th program instance: the program's
// name (with "-n" from the second) and ".TR$", in the profile's
// NWN21/NRVTMP folder, else in the program's folder. A running program
// keeps an open-file-description lock on its transaction file; LOGOUT takes
// the first name no running program holds.
std::string TransactionPath(int instance = 1);

bool TxnActive();
// True when writes to f are journalled: a transaction is active and f's
// declaration was added to the logout.
bool TxnJournals(const FlatFcb* f);
// LOGOUT: 56 when a transaction is active (or every name is held by a
// running program), 48 when the transaction file cannot be created.
int TxnLogout();
// COMMIT: ends the transaction, deleting its files.
int TxnCommit();
// ROLLBACK: puts back every journalled byte, then ends as COMMIT; 65 when a
// journal cannot be replayed.
int TxnRollback();

// The journalling step of the one write routine, before `n` bytes are
// written at `offset` of `file` (the data, memo or a key file of `f`).
// 0 when the write may be made; 48 when the journal could not be written.
int JournalBeforeWrite(FlatFcb* f, nv::EnvFile* file, uint64_t offset, size_t n);
// The same for several writes about to be made together: one journal write
// and one flush for all of them. The first journalled write of a file also
// makes its key files hold their writes back until COMMIT, ROLLBACK or CLOSE.
int JournalBeforeWrites(FlatFcb* f, nv::EnvFile* file,
                        const std::vector<std::pair<uint64_t, size_t>>& ranges);

// True while f has written in the active transaction: its header byte lock
// stays taken until COMMIT or ROLLBACK.
bool TxnKeepsHeaderLock(const FlatFcb* f);
// True while the active transaction keeps a header byte lock through
// another open than f (a file it wrote, open or closed since; f's own file
// through a second open included).
bool TxnKeepsOtherLocks(const FlatFcb* f);
// True while f has written in the active transaction: the flush after its
// header writes waits for COMMIT, which flushes every file it wrote.
bool TxnDefersFlush(const FlatFcb* f);
// f is closing: the transaction takes over its open files (and the header
// byte lock on them) until it ends.
void TxnTakeOverFiles(FlatFcb* f);

// When the data file of f has a journal that is not this process's: rolls
// that transaction back for all its files and reads the header again.
// 0 (also when there is none), 56 journal cannot be opened, 65 a file of
// the transaction cannot be opened or the journal is short.
int RecoverJournal(FlatFcb* f);

// Named crash points for crash tests: the environment variable NV_FLAT_CRASH
// names a point, optionally with ":n" for its n-th passage; the process then
// kills itself (SIGKILL), or with ":n:stop" stops (SIGSTOP) until continued.
// Only in builds made with NV_CRASH_POINTS (the test builds); elsewhere they
// do nothing. Points: journal-written, journal-synced, before-header,
// after-header, before-data, after-data, before-memo, after-memo, before-key,
// after-key, rollback-step; at COMMIT commit-journalled (the held-back key
// writes journalled, none made) and commit-synced (every file flushed, the
// journals not yet deleted).
void CrashPoint(const char* name);

}  // namespace flat
