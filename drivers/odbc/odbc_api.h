// The ODBC driver manager, loaded by name at run time (never linked): the
// function table resolved with dlsym, typed from the driver manager's own
// headers. Resolution follows the table's order; a required function that is
// missing makes the whole library unusable (SQLBindParameter may be missing
// when SQLSetParam is there).
//
// Thread-safety: an OdbcApi is filled once and read afterwards.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace odbc {

// X(name, required)
#define NV_ODBC_FUNCTIONS(X)     \
  X(SQLAllocConnect, true)       \
  X(SQLAllocEnv, true)           \
  X(SQLAllocStmt, true)          \
  X(SQLBindCol, true)            \
  X(SQLBindParameter, false)     \
  X(SQLColAttributes, true)      \
  X(SQLColumns, true)            \
  X(SQLConnect, true)            \
  X(SQLDataSources, true)        \
  X(SQLDescribeCol, true)        \
  X(SQLDisconnect, true)         \
  X(SQLDriverConnect, true)      \
  X(SQLError, true)              \
  X(SQLExecDirect, true)         \
  X(SQLExecute, true)            \
  X(SQLExtendedFetch, true)      \
  X(SQLFetch, true)              \
  X(SQLForeignKeys, true)        \
  X(SQLFreeConnect, true)        \
  X(SQLFreeEnv, true)            \
  X(SQLFreeStmt, true)           \
  X(SQLGetConnectOption, true)   \
  X(SQLGetData, true)            \
  X(SQLGetFunctions, true)       \
  X(SQLGetInfo, true)            \
  X(SQLGetStmtOption, true)      \
  X(SQLGetTypeInfo, true)        \
  X(SQLNumResultCols, true)      \
  X(SQLParamData, true)          \
  X(SQLParamOptions, true)       \
  X(SQLPrepare, true)            \
  X(SQLPrimaryKeys, true)        \
  X(SQLPutData, true)            \
  X(SQLRowCount, true)           \
  X(SQLSetConnectOption, true)   \
  X(SQLSetStmtOption, true)      \
  X(SQLStatistics, true)         \
  X(SQLTables, true)             \
  X(SQLTransact, true)

struct OdbcApi {
  void* module = nullptr;
#define NV_ODBC_MEMBER(name, required) decltype(&::name) name = nullptr;
  NV_ODBC_FUNCTIONS(NV_ODBC_MEMBER)
#undef NV_ODBC_MEMBER
  decltype(&::SQLSetParam) SQLSetParam = nullptr;
};

// The library's name: $NVODBC_DM when set, else "libodbc.so.2".
std::string DriverManagerName();

// Loads the library and resolves the table. On failure nothing stays loaded
// and *error says why (Spanish).
bool LoadOdbcApi(const std::string& library, OdbcApi* api, std::string* error);
// Forgets the table (the library itself stays loaded).
void UnloadOdbcApi(OdbcApi* api);

}  // namespace odbc
