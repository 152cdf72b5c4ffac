// Shared between the ODBC driver's source files.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "drivers/odbc/odbc_driver.h"

namespace odbc {

struct OdbcLibrary {
  OdbcApi api;
  bool usable = false;
  std::string load_error;
  SQLHENV env = nullptr;
  std::vector<std::unique_ptr<ConnectionGroup>> groups;
  OdbcLog* log = nullptr;
  bool flush = false;
  bool lists = false;
};

// The driver's calls into ODBC, one thread at a time. Every operation of a
// file holds it from start to end (it may nest); a view's read-ahead thread
// holds it around each of its fetches. So no ODBC handle of the driver is
// ever used by two threads at once, whatever the driver manager's own
// threading setting, and the driver's own state that the operations share
// (groups, connections, the call log) is only touched by its holder.
class CallLock {
 public:
  CallLock();
  ~CallLock();
  CallLock(const CallLock&) = delete;
  CallLock& operator=(const CallLock&) = delete;
  // How many times the calling thread holds it (0: not at all).
  static int Depth();
};
// The file operation entry (the skeleton's Entry) under the call lock.
intptr_t LockedEntry(int32_t op, nv::FileDescriptor* fd, intptr_t* words);

// Views of a connection about to go (null: every connection) stop reading
// ahead; the walks go on reading themselves (odbc_views.cpp). Under the
// call lock.
void StopReadAhead(SQLHDBC dbc);

// The library, created on first need (never null; check `usable`).
OdbcLibrary* Library();
bool LibraryExists();

// The outcome of one ODBC call.
struct PendingError {
  SQLRETURN rc = SQL_SUCCESS;
  bool failed = false;
  std::string state;
  SQLINTEGER native = 0;
  std::string message;
};
// Examines a return code: warnings are logged, failures fill the error.
void Examine(OdbcFcb* f, SQLRETURN rc, SQLHDBC dbc, SQLHSTMT st, PendingError* out);
// Posts the error's SQLSTATE and message as the file-error text and
// abandons the operation with `code`.
[[noreturn]] void Fail(const PendingError& e, int code);
[[noreturn]] void FailText(const std::string& state, const std::string& message, int code);

void LogText(OdbcFcb* f, const std::string& text);
// True when an ODBC call log is open for the file (or the library).
bool Logging(OdbcFcb* f);
std::string TimeTaken(std::chrono::steady_clock::time_point t0);

// A connection of the file's group with room for a statement (connecting,
// and creating the group, as needed).
OdbcConnection* GroupConnection(OdbcFcb* f);
void DisconnectGroup(OdbcFcb* f, ConnectionGroup* g);
// A connection of the group for the file alone (not shared, outside the
// group's transactions), in manual-commit mode; dropped with DropConnection.
OdbcConnection* PrivateConnection(OdbcFcb* f);
void DropConnection(OdbcFcb* f, OdbcConnection* c);
// A connection of the group for a view read ahead (made on first need, kept
// with the group), in autocommit mode and outside the group's transactions,
// so that the files' own operations on the group's connection never wait
// for a view's fetch. No other view is open on it, so that only the view's
// reader and the view's own operations (which stop the reader first) use it.
OdbcConnection* ViewConnection(OdbcFcb* f);
// A SQLSTATE that says the connection to the server is gone.
bool ConnectionLost(const std::string& state, const std::string& message);
void DropGroupIfUnused(ConnectionGroup* g);
void SetConnectOption(OdbcFcb* f, OdbcConnection* c, SQLUSMALLINT option, SQLULEN value);

enum { kBegin, kCommit, kRollback };
void Transaction(OdbcFcb* f, int what);

// The conversion rules a file's values go by: its connection's and its own.
inline ConvRules Rules(const OdbcFcb* f) {
  ConvRules r;
  r.clip_strings = f->group ? f->group->clip_strings : true;
  r.zero_is_null = f->zero_is_null;
  r.odbc1 = f->group && f->group->odbc1;
  return r;
}

}  // namespace odbc
