// Operations of the flat driver on an open (or closed) FlatFcb: the files as
// a whole, the record layer and reading in record and key order. Each answers
// the operation's error (0 none).
#pragma once

#include <cstdint>
#include <string>

#include "drivers/flat/flat_driver.h"

namespace flat {

// Blocks.
int MakeKeySpec(FlatFcb* f, FlatKey* k);

// Files as a whole.
int CreateFiles(FlatFcb* f);
int OpenFiles(FlatFcb* f, uint32_t mode);
int CloseFiles(FlatFcb* f, bool flush);
int RemoveFiles(FlatFcb* f);
int CopyFiles(FlatFcb* f, const std::string& target, bool rename);
int Bytes(FlatFcb* f, intptr_t* result);
int EmptyFile(FlatFcb* f);
int PackFile(FlatFcb* f);
int FlushFile(FlatFcb* f);
int BuildAll(FlatFcb* f);
// A file left with the busy mark by a program that died: counters, bounds
// and free chains recounted from the records, every maintained key rebuilt,
// then the mark cleared. Nothing on a read-only open.
int RepairAfterCrash(FlatFcb* f);
// The header, read again, no longer has the busy mark this open left after
// a build that failed: another station repaired the file, and the keys the
// build left unbuilt (but indexes) are whole again.
void RepairedElsewhere(FlatFcb* f);
int BuildOne(FlatFcb* f, FlatKey* k);
int BuildIndex(FlatFcb* f, FlatKey* k, const std::string& text);

// Header lock around every operation of a file opened shared (a read run
// for an operation that only reads).
int LockHeader(FlatFcb* f, bool reads_only = false);
void UnlockHeader(FlatFcb* f);

// Record layer.
int AddRecord(FlatFcb* f, bool keys);
int PutRecord(FlatFcb* f, uint32_t pointer);  // 0: the current record
int DeleteRecord(FlatFcb* f);
int ReleaseHeld(FlatFcb* f);
int Duplicate(FlatFcb* f, FlatKey* k, intptr_t* result);

// Reading and positions.
int RecordsOfKey(FlatFcb* f, FlatKey* k, intptr_t* result);
int PointerOfKey(FlatFcb* f, FlatKey* k, intptr_t* result);
int GetByKey(FlatFcb* f, FlatKey* k);
int GetByPointer(FlatFcb* f, int64_t pointer);
int GetByOrdinal(FlatFcb* f, FlatKey* k, int64_t ordinal);
int SetFile(FlatFcb* f, int64_t pointer, bool has_pointer);
int SetFileFromKey(FlatFcb* f, FlatKey* k);
int SetKey(FlatFcb* f, FlatKey* k);
int SetKeyFromBuffer(FlatFcb* f, FlatKey* k, bool has_pointer, int64_t pointer);
int SetKeyOrdinal(FlatFcb* f, FlatKey* k, int64_t ordinal);
int Step(FlatFcb* f, int dir, bool read);
int Skip(FlatFcb* f, int64_t count);
int Peek(FlatFcb* f, int dir, intptr_t* result);
int Position(FlatFcb* f, FlatKey* k, std::string* text);
int Reset(FlatFcb* f, FlatKey* k, const std::string& text);
int Reget(FlatFcb* f, FlatKey* k, const std::string& text);

}  // namespace flat
