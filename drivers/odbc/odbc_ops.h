// The ODBC driver's file operations (odbc_records.cpp): each answers the
// error (0 none) or abandons the operation through drv::Abort.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "drivers/odbc/odbc_driver.h"

namespace odbc {

int CreateTable(OdbcFcb* f);
int OpenTable(OdbcFcb* f, uint32_t mode);
int CloseTable(OdbcFcb* f);
int RemoveTable(OdbcFcb* f);
void DisconnectProperty(OdbcFcb* f);

int AddRow(OdbcFcb* f);
void SendBatch(OdbcFcb* f);
int SetBatch(OdbcFcb* f, long n);
int SetRowSet(OdbcFcb* f, long n);

int GetByKey(OdbcFcb* f, OdbcKey* k);
// GET by pointer: the row whose one-integer row key is the pointer (80 for
// a table whose row key is not one integer column).
int GetByPointer(OdbcFcb* f, intptr_t pointer);
int SetRead(OdbcFcb* f, ReadMode mode, OdbcKey* k);
// NEXT (forward) or PREVIOUS, after a pending SKIP.
int Step(OdbcFcb* f, bool forward);
int Skip(OdbcFcb* f, int32_t count);
// POSITION of the current record on key k (the row key when null), RESET
// and REGET (k null: REGET on the file) from such a position.
int Position(OdbcFcb* f, OdbcKey* k, std::string* out);
int Reset(OdbcFcb* f, OdbcKey* k, std::string_view pos);
int Reget(OdbcFcb* f, OdbcKey* k, std::string_view pos);
// HOLD (timed false: without a time limit), RELEASE and WATCH.
int Hold(OdbcFcb* f, bool timed, int32_t seconds);
int Release(OdbcFcb* f);
int Watch(OdbcFcb* f);
int CountRows(OdbcFcb* f, OdbcKey* k, intptr_t* out);
// DUPLICATE of the file (k null: every unique key) or of a key.
int Duplicate(OdbcFcb* f, OdbcKey* k, intptr_t* result);
// PUT and DELETE of the record last read, by the row-identifying key.
int PutRow(OdbcFcb* f);
int DeleteRow(OdbcFcb* f);

// A statement that returns no rows, on the file's separate statement.
int Execute(OdbcFcb* f, const std::string& sql);
// A statement sent by the program (SEND, property 29184).
int ProgramStatement(OdbcFcb* f, const std::string& text);
// Null test (68), set (69) and clear (70) of the fields in a span of the
// record buffer.
int NullOperation(OdbcFcb* f, int32_t op, intptr_t address, intptr_t size, intptr_t* result);
// The null indicators of every field as 4 bytes each (96), and back (97).
std::string NullBlock(OdbcFcb* f);
int SetNullBlock(OdbcFcb* f, std::string_view block);
// BUILD of every key (k null), of one key, or of one key from a new
// component list (`components` not null).
int BuildKeys(OdbcFcb* f, OdbcKey* k, const std::string* components);

}  // namespace odbc
