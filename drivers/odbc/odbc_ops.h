// The ODBC driver's file operations (odbc_records.cpp): each answers the
// error (0 none) or abandons the operation through drv::Abort.
#pragma once

#include <cstdint>
#include <string>

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
int SetRead(OdbcFcb* f, ReadMode mode, OdbcKey* k);
int Step(OdbcFcb* f, bool forward);
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

}  // namespace odbc
