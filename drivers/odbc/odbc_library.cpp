// The process-wide part of the ODBC driver: the driver manager and its
// environment, the ODBC call log, error examination, connection groups,
// connecting, probing a new group and transactions.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "drivers/odbc/odbc_internal.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"
#include "host/runtime/version.h"

namespace odbc {

namespace {

std::unique_ptr<OdbcLibrary> g_library;
std::vector<OdbcLog*> g_logs;

std::recursive_mutex g_calls;
thread_local int t_call_depth = 0;

std::string Hex(const void* h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

}  // namespace

// --- The call log.

OdbcLog* OdbcLog::Share(const std::string& name, bool flush) {
  for (OdbcLog* l : g_logs) {
    if (nv::Upper(l->name_) == nv::Upper(name)) {
      ++l->uses_;
      return l;
    }
  }
  FILE* file = std::fopen(nv::NativePath(name).c_str(), "ab");
  if (file == nullptr) return nullptr;
  auto* l = new OdbcLog;
  l->name_ = name;
  l->file_ = file;
  l->uses_ = 1;
  l->flush_ = flush;
  g_logs.push_back(l);
  return l;
}

void OdbcLog::Release(OdbcLog* log) {
  if (log == nullptr || --log->uses_ > 0) return;
  log->Write("Log stopped: File Closed\r\n");
  std::fclose(static_cast<FILE*>(log->file_));
  std::erase(g_logs, log);
  delete log;
}

void OdbcLog::Write(const std::string& text) {
  // Whatever reaches the log has its passwords hidden: connection strings,
  // server messages and the texts of every group's owner.
  std::vector<std::string> secrets;
  if (g_library)
    for (auto& g : g_library->groups) secrets.insert(secrets.end(), g->secrets.begin(), g->secrets.end());
  const std::string safe = HidePasswords(text, secrets);
  std::fwrite(safe.data(), 1, safe.size(), static_cast<FILE*>(file_));
  if (flush_) std::fflush(static_cast<FILE*>(file_));
}

OdbcLog* LogOf(OdbcFcb* f) {
  if (f && f->log) return f->log;
  return g_library ? g_library->log : nullptr;
}

bool Logging(OdbcFcb* f) {
  return LogOf(f) != nullptr;
}

void LogText(OdbcFcb* f, const std::string& text) {
  if (OdbcLog* l = LogOf(f)) l->Write(text);
}

// --- The call lock.

CallLock::CallLock() {
  g_calls.lock();
  ++t_call_depth;
}

CallLock::~CallLock() {
  --t_call_depth;
  g_calls.unlock();
}

int CallLock::Depth() {
  return t_call_depth;
}

intptr_t LockedEntry(int32_t op, nv::FileDescriptor* fd, intptr_t* words) {
  CallLock lock;
  return Driver().Entry(op, fd, words);
}

// --- The library.

OdbcLibrary* Library() {
  if (g_library) return g_library.get();
  g_library = std::make_unique<OdbcLibrary>();
  OdbcLibrary* lib = g_library.get();
  lib->usable = LoadOdbcApi(DriverManagerName(), &lib->api, &lib->load_error);
  if (!lib->usable) return lib;
  if (nv::GetProfileInt("", "NWODBC", "Trace", 0) != 0) {
    std::string file = nv::GetProfileString("", "NWODBC", "TraceFile", "");
    if (file.size() > 260) file.resize(260);
    if (file.empty()) file = "ODBC.LOG";
    lib->flush = nv::GetProfileInt("", "NWODBC", "Flush", 0) != 0;
    lib->lists = nv::GetProfileInt("", "NWODBC", "Lists", 0) != 0;
    lib->log = OdbcLog::Share(file, lib->flush);
    if (lib->log) {
      char date[64] = {};
      const std::time_t now = std::time(nullptr);
      std::strftime(date, sizeof date, "%d/%m/%Y %H:%M:%S", std::localtime(&now));
      lib->log->Write(std::string("NVODBC 1.0 ") + date + " 64 bit Log started: \r\n");
    }
  }
  const auto t0 = std::chrono::steady_clock::now();
  LogText(nullptr, "Allocating Environment ");
  if (lib->api.SQLAllocEnv(&lib->env) != SQL_SUCCESS) {
    lib->usable = false;
    lib->load_error = "El administrador ODBC no pudo crear el entorno";
    return lib;
  }
  LogText(nullptr, " Environment " + Hex(lib->env) + TimeTaken(t0));
  return lib;
}

bool LibraryExists() {
  return g_library != nullptr;
}

void ResetLibrary() {
  CallLock lock;
  if (!g_library) return;
  OdbcLibrary* lib = g_library.get();
  for (auto& g : lib->groups) DisconnectGroup(nullptr, g.get());
  lib->groups.clear();
  if (lib->env) {
    LogText(nullptr, "Freeing Environment " + Hex(lib->env) + "\r\n");
    lib->api.SQLFreeEnv(lib->env);
  }
  OdbcLog::Release(lib->log);
  UnloadOdbcApi(&lib->api);
  g_library.reset();
}

std::string TimeTaken(std::chrono::steady_clock::time_point t0) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  char buf[64];
  std::snprintf(buf, sizeof buf, " Time Taken:%ld.%02ld secs\r\n", long(ms / 1000),
                long((ms % 1000) / 10));
  return buf;
}

// --- Error examination.

namespace {

// The message without the vendor prefixes ("[unixODBC][Driver Manager]").
std::string WithoutPrefixes(std::string m) {
  while (!m.empty() && m[0] == '[') {
    size_t close = m.find(']');
    if (close == std::string::npos) break;
    m.erase(0, close + 1);
  }
  return m;
}

}  // namespace

void Examine(OdbcFcb* f, SQLRETURN rc, SQLHDBC dbc, SQLHSTMT st, PendingError* out) {
  OdbcLibrary* lib = g_library.get();
  out->rc = rc;
  if (rc == SQL_SUCCESS || rc == SQL_NO_DATA || rc == SQL_STILL_EXECUTING || rc == SQL_NEED_DATA) {
    out->failed = false;
    return;
  }
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR msg[512] = {};
  SQLSMALLINT len = 0;
  SQLRETURN e = lib->api.SQLError(lib->env, dbc, st, state, &native, msg, 511, &len);
  std::string sqlstate = e == SQL_SUCCESS || e == SQL_SUCCESS_WITH_INFO
                             ? std::string(reinterpret_cast<char*>(state))
                             : std::string("00000");
  std::string message = reinterpret_cast<char*>(msg);
  if (sqlstate == "00000" || sqlstate.empty()) sqlstate = "r=" + std::to_string(rc);
  std::vector<std::string> secrets;
  for (auto& g : lib->groups) secrets.insert(secrets.end(), g->secrets.begin(), g->secrets.end());
  message = HidePasswords(message, secrets);
  const bool error = rc != SQL_SUCCESS_WITH_INFO;
  SQLUINTEGER dead = SQL_CD_FALSE;
  if (error && dbc && !ConnectionLost(sqlstate, message) &&
      SQL_SUCCEEDED(lib->api.SQLGetConnectOption(dbc, SQL_ATTR_CONNECTION_DEAD, &dead)) &&
      dead == SQL_CD_TRUE)
    sqlstate = "08S01";  // the driver's own word for it may be a general error
  if (error && dbc && ConnectionLost(sqlstate, message)) {
    // Files still open on it fail with this text; the next open connects anew.
    bool known = false;
    for (auto& g : lib->groups)
      for (auto& c : g->connections)
        if (c->dbc == dbc && c->ok) c->lost = known = true;
    if (known)
      message = "Se perdió la conexión con el servidor de datos (" + sqlstate + "): " + message;
  } else if (error && dbc) {
    // psqlODBC rolls back the transaction it keeps open for its cursors when
    // a statement fails, and the cursors go with it: every walk on the
    // connection is selected again from its current record, as after a
    // transaction's end that does not keep cursors.
    for (auto& g : lib->groups) {
      for (auto& c : g->connections) {
        if (c->dbc != dbc || g->backend != kPostgreSql) continue;
        ++c->failures;
        if (!c->private_use) ++g->generation;
      }
    }
  }
  LogText(f, std::string("\r\n") + (error ? "Error Occurred: " : "Warning: ") + sqlstate + " " +
                 message + "\r\n");
  out->failed = error;
  out->state = sqlstate;
  out->native = native;
  out->message = WithoutPrefixes(message);
}

[[noreturn]] void Fail(const PendingError& e, int code) {
  nv::SetFileError(e.state, e.message);
  drv::Abort(code);
}

[[noreturn]] void FailText(const std::string& state, const std::string& message, int code) {
  nv::SetFileError(state, message);
  drv::Abort(code);
}

// --- Connection groups.

namespace {

long GetInfoShort(OdbcLibrary* lib, SQLHDBC dbc, SQLUSMALLINT info, long def) {
  SQLUSMALLINT v = 0;
  if (!SQL_SUCCEEDED(lib->api.SQLGetInfo(dbc, info, &v, sizeof v, nullptr))) return def;
  return long(v);
}

uint32_t GetInfoLong(OdbcLibrary* lib, SQLHDBC dbc, SQLUSMALLINT info) {
  SQLUINTEGER v = 0;
  if (!SQL_SUCCEEDED(lib->api.SQLGetInfo(dbc, info, &v, sizeof v, nullptr))) return 0;
  return v;
}

std::string GetInfoText(OdbcLibrary* lib, SQLHDBC dbc, SQLUSMALLINT info, size_t max) {
  char buf[256] = {};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(lib->api.SQLGetInfo(dbc, info, buf, SQLSMALLINT(sizeof buf - 1), &len)))
    return "";
  std::string s(buf);
  if (s.size() > max) s.resize(max);
  return s;
}

void ApplyPending(ConnectionGroup* g, const GroupOptions& p) {
  if (p.bind_constants >= 0) g->bind_constants = p.bind_constants;
  if (p.bind_col_order >= 0) g->bind_col_order = p.bind_col_order;
  if (p.clip_strings >= 0) g->clip_strings = p.clip_strings;
  if (p.force_upper >= 0) {
    g->force_upper = p.force_upper;
    g->identifier_case = p.force_upper ? 1 : 0;
  }
  if (p.fast_column_fetch >= 0) g->fast_column_fetch = p.fast_column_fetch;
  if (p.use_inner_join >= 0) g->use_inner_join = p.use_inner_join;
  if (p.logon_screen >= 0) g->logon_screen = p.logon_screen;
  if (p.join_style >= 0) g->join_style = p.join_style;
  if (p.nesting >= 0) g->nesting = p.nesting;
  if (p.isolation >= 0) g->isolation = p.isolation;
}

}  // namespace

const char* BackendName(int kind) {
  static const char* const kNames[] = {"Unknown Backend",  "Microsoft Access",
                                       "Oracle",           "Microsoft SQL Server v5",
                                       "Microsoft SQL Server v6", "First SQL",
                                       "SQL Anywhere",     "Pervasive.SQL (SQL)",
                                       "AS/400",           "Oracle8",
                                       "",                 "PostgreSQL",
                                       "SQLite"};
  return kind >= 0 && kind <= kSqlite ? kNames[kind] : kNames[0];
}

int DetectBackend(const std::string& driver_file, const std::string& dbms_name) {
  const std::string d = nv::Upper(driver_file);
  struct Prefix {
    const char* text;
    int kind;
  };
  static const Prefix kPrefixes[] = {
      {"CWBODBC", kAs400},      {"FIRSTSQL", kFirstSql},   {"MYODBC.DLL", kMySql},
      {"ODBCJT", kAccess},      {"SQLSRV", kSqlServer6},   {"SQORA7", kOracle},
      {"SQO32_7", kOracle},     {"SQOCI32", kOracle8},     {"WOD50", kSqlAnywhere},
      {"W32BTINT", kPervasive}, {"WINBTINT", kPervasive},  {"PSQLODBC", kPostgreSql},
      {"LIBSQLITE3ODBC", kSqlite}, {"LIBSQLITEODBC", kSqlite}};
  for (const Prefix& p : kPrefixes)
    if (d.rfind(p.text, 0) == 0) return p.kind;
  const std::string n = nv::Upper(dbms_name);
  if (n.rfind("POSTGRESQL", 0) == 0) return kPostgreSql;
  if (n.rfind("SQLITE", 0) == 0) return kSqlite;
  return kUnknown;
}

namespace {

// Steps 9 to 15 of a new group: what the server can do, and its kind.
void Probe(OdbcFcb* f, ConnectionGroup* g, SQLHDBC dbc) {
  OdbcLibrary* lib = g_library.get();
  g->transactions = GetInfoShort(lib, dbc, SQL_TXN_CAPABLE, 0) != 0;
  SQLUINTEGER iso = 0;
  lib->api.SQLGetConnectOption(dbc, SQL_TXN_ISOLATION, &iso);
  g->isolation = iso ? long(iso) : 2;
  g->identifier_case = int(GetInfoShort(lib, dbc, SQL_IDENTIFIER_CASE, 0));
  g->correlation_names = GetInfoShort(lib, dbc, SQL_CORRELATION_NAME, 0) != 0;
  g->quote = GetInfoText(lib, dbc, SQL_IDENTIFIER_QUOTE_CHAR, 4);
  g->quoted_case = int(GetInfoShort(lib, dbc, SQL_QUOTED_IDENTIFIER_CASE, 1));
  g->qualifier = GetInfoText(lib, dbc, SQL_QUALIFIER_NAME_SEPARATOR, 4);
  const std::string outer = GetInfoText(lib, dbc, SQL_OUTER_JOINS, 1);
  g->nesting = outer == "F" ? 3 : outer == "P" ? 2 : 1;
  if (outer != "F" && outer != "P" && outer != "Y") g->use_inner_join = false;
  long active = GetInfoShort(lib, dbc, SQL_ACTIVE_STATEMENTS, 0);
  g->max_statements = active == 0 ? 255 : int(active);
  g->odbc1 = GetInfoText(lib, dbc, SQL_DRIVER_ODBC_VER, 10).rfind("01", 0) == 0;
  g->string_functions = GetInfoLong(lib, dbc, SQL_STRING_FUNCTIONS);
  g->commit_behaviour = int(GetInfoShort(lib, dbc, SQL_CURSOR_COMMIT_BEHAVIOR, 2));
  g->rollback_behaviour = int(GetInfoShort(lib, dbc, SQL_CURSOR_ROLLBACK_BEHAVIOR, 2));
  const std::string driver = GetInfoText(lib, dbc, SQL_DRIVER_NAME, 45);
  const std::string dbms = GetInfoText(lib, dbc, SQL_DBMS_NAME, 64);
  g->backend = DetectBackend(driver, dbms);
  switch (g->backend) {
    case kAs400: g->join_style = 4; g->clip_strings = false; break;
    case kFirstSql: g->join_style = 3; break;
    case kMySql: g->bind_col_order = 2; break;
    case kAccess: g->join_style = 1; g->nesting = 1; break;
    case kOracle: g->join_style = 2; g->nesting = 1; g->clip_strings = false; break;
    // Both take standard outer joins, each followed by its ON (DB2 style);
    // SQLite does not nest them.
    // PostgreSQL before version 18 has no skip scan of its own.
    case kPostgreSql: g->join_style = 4; g->nesting = 3; g->lead_list_most = 1000; break;
    case kSqlite: g->join_style = 4; g->nesting = 2; break;
    default: break;
  }
  if (g->join_style == 0) g->join_style = 1;
  // Asynchronous execution.
  SQLHSTMT st = nullptr;
  if (SQL_SUCCEEDED(lib->api.SQLAllocStmt(dbc, &st))) {
    if (SQL_SUCCEEDED(lib->api.SQLSetStmtOption(st, SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON))) {
      g->async_state = 1;
      lib->api.SQLSetStmtOption(st, SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_OFF);
    } else {
      g->async_state = 2;
    }
    lib->api.SQLFreeStmt(st, SQL_DROP);
  }
  LogText(f, std::string("Known Backend Detected: ") + BackendName(g->backend) + "\r\n");
  LogText(f, "Maximum Statements per connection is " + std::to_string(g->max_statements) + "\r\n");
}

}  // namespace

void SetConnectOption(OdbcFcb* f, OdbcConnection* c, SQLUSMALLINT option, SQLULEN value) {
  OdbcLibrary* lib = g_library.get();
  const auto t0 = std::chrono::steady_clock::now();
  PendingError e;
  Examine(f, lib->api.SQLSetConnectOption(c->dbc, option, value), c->dbc, nullptr, &e);
  LogText(f, "Setting Connection Option " + std::to_string(option) + " Connection " + Hex(c->dbc) +
                 TimeTaken(t0));
  if (e.failed) Fail(e, 90);
}

namespace {

// One connection of a group (Connecting, steps 1 to 11).
OdbcConnection* Connect(OdbcFcb* f, ConnectionGroup* g) {
  OdbcLibrary* lib = g_library.get();
  auto c = std::make_unique<OdbcConnection>();
  c->group = g;
  PendingError e;
  for (int attempt = 1;; ++attempt) {
    auto t0 = std::chrono::steady_clock::now();
    Examine(f, lib->api.SQLAllocConnect(lib->env, &c->dbc), nullptr, nullptr, &e);
    LogText(f, "Allocating Connection " + Hex(c->dbc) + TimeTaken(t0));
    if (e.failed) Fail(e, 90);
    if (g->plain_connect) break;
    if (attempt == 1 && g->login_timeout > 0)
      lib->api.SQLSetConnectOption(c->dbc, SQL_LOGIN_TIMEOUT, SQLULEN(g->login_timeout));
    LogText(f, "Connecting to " + HidePasswords(g->connection_string, g->secrets) + "\r\n");
    SQLCHAR out[256] = {};
    SQLSMALLINT out_len = 0;
    t0 = std::chrono::steady_clock::now();
    SQLRETURN rc = lib->api.SQLDriverConnect(
        c->dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(g->connection_string.c_str())),
        SQL_NTS, out, 255, &out_len,
        SQLUSMALLINT(g->logon_screen ? SQL_DRIVER_COMPLETE_REQUIRED : SQL_DRIVER_NOPROMPT));
    Examine(f, rc, c->dbc, nullptr, &e);
    LogText(f, "Connected Connection " + Hex(c->dbc) + TimeTaken(t0));
    // The completed string may carry the password back: kept, never written.
    c->completed = reinterpret_cast<char*>(out);
    if (e.failed && attempt < 3 && (e.state == "IM004" || e.state == "IM006")) {
      lib->api.SQLDisconnect(c->dbc);
      lib->api.SQLFreeConnect(c->dbc);
      c->dbc = nullptr;
      continue;
    }
    break;
  }
  c->ok = !e.failed;
  if (g->plain_connect || (e.failed && e.state.rfind("IM00", 0) == 0 && !g->owner.empty())) {
    std::string dsn, user, password, rest;
    SplitOwner(g->owner, &dsn, &user, &password, &rest);
    LogText(f, "Connecting to " + dsn + "\r\n");
    auto sz = [](std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); };
    PendingError plain;
    Examine(f, lib->api.SQLConnect(c->dbc, sz(dsn), SQL_NTS, sz(user), SQL_NTS, sz(password), SQL_NTS),
            c->dbc, nullptr, &plain);
    // The first refusal usually says more (a bad connection string).
    if (!plain.failed) e = plain;
    c->ok = !plain.failed;
  }
  if (c->ok) {
    SQLUSMALLINT exists = SQL_TRUE;
    lib->api.SQLGetFunctions(c->dbc, SQL_API_SQLDRIVERCONNECT, &exists);
    g->plain_connect = exists == SQL_FALSE;
  }
  if (!c->ok) {
    LogText(f, "Freeing Connection " + Hex(c->dbc) + "\r\n");
    lib->api.SQLFreeConnect(c->dbc);
    Fail(e, 90);
  }
  c->statement_limit = g->max_statements;
  OdbcConnection* raw = c.get();
  g->connections.push_back(std::move(c));
  return raw;
}

void ConfigureConnection(OdbcFcb* f, ConnectionGroup* g, OdbcConnection* c) {
  for (int i = 0; i < 11; ++i) {
    if (g->options[i] == 0) continue;
    const SQLUSMALLINT option = SQLUSMALLINT(101 + i);
    long v = g->options[i];
    if (option == SQL_TXN_ISOLATION) v = f && f->in_txn ? g->txn_isolation : g->isolation;
    if (option == SQL_AUTOCOMMIT) {
      v = f && f->in_txn ? 0 : 1;
      if (!g->transactions && v != 1) continue;
    }
    SetConnectOption(f, c, option, SQLULEN(v));
  }
}

}  // namespace

// PostgreSQL's settings for every connection of the driver:
// - a write that meets another station's held row waits 2 seconds for it,
//   then fails, rather than waiting for as long as the other holds;
// - no compiling of statements to machine code (JIT): the server starts it
//   for any statement it expects to run long, which is every walk of a big
//   table, and it costs tens of milliseconds before the first row of a walk
//   that mostly reads a page or two. A server without the setting refuses
//   it; the refusal is only logged.
const char* const kPostgresSession[] = {"SET lock_timeout = 2000", "SET jit = off"};

void SessionSettings(OdbcFcb* f, OdbcConnection* c) {
  if (c->group->backend != kPostgreSql) return;
  OdbcLibrary* lib = g_library.get();
  SQLHSTMT st = nullptr;
  if (!SQL_SUCCEEDED(lib->api.SQLAllocStmt(c->dbc, &st))) return;
  for (const char* setting : kPostgresSession) {
    std::string sql = setting;
    PendingError e;
    Examine(f, lib->api.SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), c->dbc,
            st, &e);
    lib->api.SQLFreeStmt(st, SQL_CLOSE);
    LogText(f, "Executing : " + sql + " Connection " + Hex(c->dbc) + "\r\n");
  }
  lib->api.SQLFreeStmt(st, SQL_DROP);
}

OdbcConnection* PrivateConnection(OdbcFcb* f) {
  ConnectionGroup* g = f->group;
  OdbcConnection* c = Connect(f, g);
  c->private_use = true;
  SetConnectOption(f, c, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF);
  return c;
}

void DropConnection(OdbcFcb* f, OdbcConnection* c) {
  ConnectionGroup* g = c->group;
  OdbcLibrary* lib = g_library.get();
  if (c->dbc) {
    if (c->ok) {
      LogText(f, "Disconnecting Connection " + Hex(c->dbc) + "\r\n");
      lib->api.SQLDisconnect(c->dbc);
    }
    lib->api.SQLFreeConnect(c->dbc);
    c->dbc = nullptr;
  }
  std::erase_if(g->connections, [&](auto& p) { return p.get() == c; });
}

OdbcConnection* ViewConnection(OdbcFcb* f) {
  ConnectionGroup* g = f->group;
  for (auto& c : g->connections)
    if (c->for_views && c->ok && !c->lost && c->views == 0) return c.get();
  OdbcConnection* c = Connect(f, g);
  c->private_use = c->for_views = true;
  SessionSettings(f, c);
  return c;
}

bool ConnectionLost(const std::string& state, const std::string& message) {
  if (state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03")
    return true;
  // Some drivers report a dead connection as a general error.
  return message.find("connection dead") != std::string::npos ||
         message.find("closed the connection") != std::string::npos ||
         message.find("no connection to the server") != std::string::npos;
}

OdbcConnection* GroupConnection(OdbcFcb* f) {
  OdbcLibrary* lib = Library();
  const std::string owner = f->owner;
  ConnectionGroup* g = nullptr;
  for (auto& cand : lib->groups) {
    if (owner.empty() || nv::Upper(cand->owner) == nv::Upper(owner)) g = cand.get();
    if (!owner.empty() && g) break;
  }
  if (g != nullptr) {
    for (auto& c : g->connections)
      if (c->ok && !c->lost && !c->private_use && c->statements < c->statement_limit)
        return c.get();
    OdbcConnection* c = Connect(f, g);
    ConfigureConnection(f, g, c);
    SessionSettings(f, c);
    return c;
  }
  auto group = std::make_unique<ConnectionGroup>();
  g = group.get();
  g->owner = owner;
  g->connection_string = ConnectionString(owner);
  g->secrets = PasswordsOf(owner);
  ApplyPending(g, f->pending);
  g->login_timeout = f->pending_login_timeout;
  lib->groups.push_back(std::move(group));
  OdbcConnection* c = nullptr;
  try {
    c = Connect(f, g);
  } catch (const drv::AbortError&) {
    std::erase_if(lib->groups, [&](auto& p) { return p.get() == g; });
    throw;
  }
  Probe(f, g, c->dbc);
  ApplyPending(g, f->pending);  // the file's options win over the backend's defaults
  if (g->transactions) {
    g->options[SQL_TXN_ISOLATION - 101] = g->isolation;
    g->options[SQL_AUTOCOMMIT - 101] = 1;
    ConfigureConnection(f, g, c);
  }
  SessionSettings(f, c);
  return c;
}

void DisconnectGroup(OdbcFcb* f, ConnectionGroup* g) {
  CallLock lock;
  OdbcLibrary* lib = g_library.get();
  for (auto& c : g->connections) {
    if (c->dbc == nullptr) continue;
    StopReadAhead(c->dbc);
    if (c->ok) {
      LogText(f, "Disconnecting Connection " + Hex(c->dbc) + "\r\n");
      lib->api.SQLDisconnect(c->dbc);
    }
    LogText(f, "Freeing Connection " + Hex(c->dbc) + "\r\n");
    lib->api.SQLFreeConnect(c->dbc);
    c->dbc = nullptr;
  }
  g->connections.clear();
}

void DropGroupIfUnused(ConnectionGroup* g) {
  if (!g_library || g->users > 0) return;
  DisconnectGroup(nullptr, g);
  std::erase_if(g_library->groups, [&](auto& p) { return p.get() == g; });
  if (g_library->groups.empty()) ResetLibrary();
}

// --- Transactions.

void Transaction(OdbcFcb* f, int what) {
  ConnectionGroup* g = f->group;
  if (g == nullptr) return;
  OdbcLibrary* lib = g_library.get();
  if (what == kBegin) {
    f->in_txn = g->in_txn = true;
    if (!g->transactions) return;
    g->options[SQL_TXN_ISOLATION - 101] = g->txn_isolation;
    g->options[SQL_AUTOCOMMIT - 101] = 1;
    for (auto& c : g->connections) {
      if (!c->ok || c->private_use || c->lost) continue;
      SetConnectOption(f, c.get(), SQL_TXN_ISOLATION, SQLULEN(g->txn_isolation));
      SetConnectOption(f, c.get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF);
    }
    return;
  }
  const bool commit = what == kCommit;
  PendingError first;
  for (auto& c : g->connections) {
    if (!c->ok || c->private_use) continue;
    if (c->lost) {
      // The server has already undone whatever the transaction wrote.
      if (!first.failed) {
        first.failed = true;
        first.state = "08S01";
        first.message = "Se perdió la conexión con el servidor de datos: la transacción no se "
                        "completó y el servidor deshizo lo que había escrito";
      }
      continue;
    }
    const auto t0 = std::chrono::steady_clock::now();
    PendingError e;
    Examine(f, lib->api.SQLTransact(lib->env, c->dbc, SQLUSMALLINT(commit ? SQL_COMMIT : SQL_ROLLBACK)),
            c->dbc, nullptr, &e);
    LogText(f, std::string(commit ? "Committing" : "Rolling back") + " Connection " + Hex(c->dbc) +
                   TimeTaken(t0));
    if (e.failed && !first.failed) first = e;
    if (g->transactions) {
      SetConnectOption(f, c.get(), SQL_TXN_ISOLATION, SQLULEN(g->isolation));
      SetConnectOption(f, c.get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON);
    }
  }
  f->in_txn = g->in_txn = false;
  const int behaviour = commit ? g->commit_behaviour : g->rollback_behaviour;
  if (behaviour != SQL_CB_PRESERVE) ++g->generation;
  if (first.failed) Fail(first, 90);
}

}  // namespace odbc
