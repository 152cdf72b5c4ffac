// The ODBC driver's file operations: statements, parameters, fetching,
// inserting, and the whole-table operations (see odbc_ops.h).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "drivers/odbc/odbc_internal.h"
#include "drivers/odbc/odbc_ops.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"

namespace odbc {

namespace {

OdbcApi& Api() {
  return Library()->api;
}

std::string Hex(const void* h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

// One ODBC call on a statement: repeated while it is still executing,
// logged with its time and examined. Answers the return code; a failure
// fills *e.
template <class Fn, class Text>
SQLRETURN Call(OdbcFcb* f, const Text& action, SQLHSTMT st, Fn fn, PendingError* e) {
  const auto t0 = std::chrono::steady_clock::now();
  SQLRETURN rc;
  while ((rc = fn()) == SQL_STILL_EXECUTING) {
  }
  Examine(f, rc, f->conn ? f->conn->dbc : nullptr, st, e);
  if (Logging(f)) LogText(f, std::string(action) + " Statement " + Hex(st) + TimeTaken(t0));
  return rc;
}

// A log text made only when a log is open.
std::string Act(OdbcFcb* f, const char* a, const std::string& b) {
  return Logging(f) ? a + b : std::string();
}

// As Call, abandoning the operation with 90 on failure.
template <class Fn, class Text>
SQLRETURN Must(OdbcFcb* f, const Text& action, SQLHSTMT st, Fn fn) {
  PendingError e;
  SQLRETURN rc = Call(f, action, st, fn, &e);
  if (e.failed) Fail(e, 90);
  return rc;
}

bool UniqueViolation(const PendingError& e) {
  if (e.state.rfind("23", 0) == 0) return true;
  // SQLite reports a broken constraint as a general error.
  return e.message.find("UNIQUE constraint failed") != std::string::npos;
}

bool MissingTable(const PendingError& e) {
  if (e.state == "42S02" || e.state == "S0002" || e.state == "42P01") return true;
  return e.message.find("no such table") != std::string::npos;
}

bool LockRefused(const PendingError& e) {
  return e.state == "55P03";  // PostgreSQL: lock not available
}

Statement* NewStatement(OdbcFcb* f, Statement* s, OdbcConnection* c = nullptr) {
  if (c == nullptr) c = f->conn;
  if (s->h == nullptr) {
    Must(f, "Allocating", nullptr, [&] { return Api().SQLAllocStmt(c->dbc, &s->h); });
    ++c->statements;
  }
  return s;
}

void PrepareOnce(OdbcFcb* f, Statement* s, const std::string& sql) {
  if (!s->prepared || s->generation != f->group->generation) {
    s->sql = sql;
    Must(f, "Preparing : " + sql, s->h, [&] {
      return Api().SQLPrepare(s->h, reinterpret_cast<SQLCHAR*>(s->sql.data()), SQL_NTS);
    });
    s->prepared = true;
    s->generation = f->group->generation;
  }
  f->last_sql = sql;
}

// True when reads of the file hold through the statement's own options: a
// locking cursor. PostgreSQL has none (its driver turns it into row
// versioning); there the driver locks the row itself (TakeHold).
bool HoldByCursor(const OdbcFcb* f) {
  return f->hold && f->group->backend != kPostgreSql;
}

// The statement for an SQL text, prepared once (again after a transaction
// that does not keep prepared statements). While the file holds, reads go
// to a statement of their own with concurrency lock and a dynamic cursor.
Statement* Prepared(OdbcFcb* f, const std::string& sql, bool read = false) {
  const bool held = read && HoldByCursor(f);
  Statement* s = &f->statements[held ? "\x01" + sql : sql];
  if (s->h == nullptr) {
    NewStatement(f, s);
    if (held) {
      Must(f, "Setting Concurrency Lock for", s->h,
           [&] { return Api().SQLSetStmtOption(s->h, SQL_CONCURRENCY, SQL_CONCUR_LOCK); });
      Must(f, "Setting Cursor Type Dynamic for", s->h,
           [&] { return Api().SQLSetStmtOption(s->h, SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC); });
    }
  }
  PrepareOnce(f, s, sql);
  return s;
}

Statement* Aux(OdbcFcb* f) {
  if (f->aux == nullptr) f->aux = NewStatement(f, &f->statements[std::string()]);
  return f->aux;
}

void FreeStatement(OdbcFcb* f, Statement* s) {
  if (s->h == nullptr) return;
  PendingError e;
  Call(f, "Freeing", s->h, [&] { return Api().SQLFreeStmt(s->h, SQL_DROP); }, &e);
  s->h = nullptr;
  if (f->conn && f->conn->statements > 0) --f->conn->statements;
}

void CloseCursor(OdbcFcb* f, Statement* s) {
  PendingError e;
  Call(f, "Closing", s->h, [&] { return Api().SQLFreeStmt(s->h, SQL_CLOSE); }, &e);
}

// --- Column buffers.

void SizeBuffers(OdbcFcb* f) {
  const size_t rows = size_t(std::max(1, f->rowset));
  for (OdbcField* c : f->columns) {
    c->width = ReadWidth(c->shape, Rules(f));
    c->buf.assign(c->width * rows, '\0');
    c->ind.assign(rows, 0);
  }
  ++f->buffer_epoch;
}

void BindColumns(OdbcFcb* f, Statement* s) {
  if (s->bound_epoch == f->buffer_epoch) return;
  for (size_t i = 0; i < f->columns.size(); ++i) {
    OdbcField* c = f->columns[i];
    const SQLSMALLINT c_type = ReadCType(c->shape, Rules(f));
    Must(f, "Binding Column " + std::to_string(i + 1) + " to C type " + CTypeName(c_type) + " for",
         s->h, [&] {
           return Api().SQLBindCol(s->h, SQLUSMALLINT(i + 1), c_type, c->buf.data(),
                                   SQLLEN(c->width), c->ind.data());
         });
  }
  s->bound_epoch = f->buffer_epoch;
}

void Remember(OdbcFcb* f);

// The row of the row set into the record buffer.
void RowToRecord(OdbcFcb* f, SQLULEN row) {
  for (OdbcField* c : f->columns) {
    bool ok = true;
    c->null = FromBuffer(c->shape, c->buf.data() + row * c->width, c->ind[row],
                         f->record + c->offset, &ok);
    if (!ok)
      FailText("22003", "El valor de la columna " + c->column_name + " no cabe en el campo " +
                            c->name, 90);
  }
  Remember(f);
}

// --- Parameters.

ParamColumn MakeParam(OdbcFcb* f, OdbcField* c, size_t rows) {
  ParamColumn p;
  p.field = c;
  p.shape = c->shape;
  p.c_type = c->c_type ? c->c_type : CTypeOf(c->shape, Rules(f));
  p.sql_type = c->shape.sql_type ? c->shape.sql_type : AssumedSqlType(c->shape);
  p.width = BufferWidth(c->shape);
  // Integers travel as 64-bit values (some drivers wrap unsigned ones).
  if (IntegerField(c->shape.type) && !Rules(f).odbc1) {
    p.c_type = SQL_C_SBIGINT;
    p.width = 8;
  }
  p.data.assign(p.width * rows, '\0');
  p.ind.assign(rows, 0);
  return p;
}

void BindParams(OdbcFcb* f, Statement* s) {
  if (s->params_bound) return;
  for (size_t i = 0; i < s->params.size(); ++i) {
    ParamColumn& p = s->params[i];
    const SQLULEN size = ParamSize(p.shape);
    const SQLSMALLINT digits = p.shape.decimals ? p.shape.decimals : SQLSMALLINT(p.shape.places);
    Must(f, "Binding ? " + std::to_string(i + 1) + " for input with C type " + CTypeName(p.c_type) +
                " for",
         s->h, [&] {
           if (Api().SQLBindParameter)
             return Api().SQLBindParameter(s->h, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, p.c_type,
                                           p.sql_type, size, digits, p.data.data(), SQLLEN(p.width),
                                           p.ind.data());
           return Api().SQLSetParam(s->h, SQLUSMALLINT(i + 1), p.c_type, p.sql_type, size, digits,
                                    p.data.data(), p.ind.data());
         });
  }
  s->params_bound = true;
}

// Values of a record image into row `row` of the parameters.
// `nulls` (by field number) stands for the null indicators of `record`
// when it is not the record buffer.
void FillParams(OdbcFcb* f, Statement* s, const uint8_t* record, size_t row,
                const int32_t* nulls = nullptr) {
  const ConvRules r = Rules(f);
  for (ParamColumn& p : s->params) {
    const uint8_t* v = (p.from_saved ? f->saved.data() : record) + p.field->offset;
    const int32_t null = p.from_saved ? f->saved_nulls[p.field->number]
                         : nulls     ? nulls[p.field->number]
                                     : p.field->null;
    char* buf = p.data.data() + row * p.width;
    if (p.c_type == SQL_C_SBIGINT) {
      int64_t n = 0;
      switch (p.shape.type) {
        case nv::kTypeByte: n = v[0]; break;
        case nv::kTypeShort: { int16_t x; std::memcpy(&x, v, 2); n = x; break; }
        case nv::kTypeUShort: { uint16_t x; std::memcpy(&x, v, 2); n = x; break; }
        case nv::kTypeLong: { int32_t x; std::memcpy(&x, v, 4); n = x; break; }
        default: { uint32_t x; std::memcpy(&x, v, 4); n = x; break; }
      }
      std::memcpy(buf, &n, 8);
      p.ind[row] = null == -1 ? SQL_NULL_DATA : 0;
      continue;
    }
    // A position from low values (a fixed text ending in zero bytes, as a
    // list starting from the top builds it) compares as the text before
    // them: nothing sorts below the empty text.
    std::vector<uint8_t> low_tail;
    if (p.position && null != -1 && p.shape.type == nv::kTypeString && p.c_type == SQL_C_CHAR) {
      const uint8_t* z = static_cast<const uint8_t*>(std::memchr(v, 0, p.shape.size));
      if (z && std::all_of(z, v + p.shape.size, [](uint8_t b) { return b == 0; })) {
        low_tail.assign(v, v + p.shape.size);
        std::fill(low_tail.begin() + (z - v), low_tail.end(), uint8_t(' '));
        v = low_tail.data();
      }
    }
    // No server keeps a zero byte inside a text: refused rather than cut.
    if ((p.shape.type == nv::kTypeString && p.c_type == SQL_C_CHAR) || p.shape.type == nv::kTypePString) {
      const size_t from = p.shape.type == nv::kTypePString ? 1 : 0;
      const size_t n = p.shape.type == nv::kTypePString ? std::min<size_t>(v[0], p.shape.size - 1)
                                                        : p.shape.size;
      if (null != -1 && std::memchr(v + from, 0, n) != nullptr)
        FailText("22021", "El campo " + p.field->name +
                              " tiene un byte 0 en su texto, que el servidor no puede guardar", 90);
    }
    ToBuffer(p.shape, r, v, null, buf, &p.ind[row]);
  }
}

// Key parameters: each component once (equality), or twice but the last
// (position condition).
void KeyParams(OdbcFcb* f, Statement* s, const std::vector<OdbcField*>& parts, bool position) {
  if (!s->params.empty()) return;
  for (size_t i = 0; i < parts.size(); ++i) {
    s->params.push_back(MakeParam(f, parts[i], 1));
    s->params.back().position = position;
    if (position && i + 1 < parts.size()) {
      s->params.push_back(MakeParam(f, parts[i], 1));
      s->params.back().position = true;
    }
  }
}

std::string WithWhere(const OdbcFcb* f, std::string sql, bool has_condition) {
  if (f->where.empty()) return sql;
  if (has_condition) return sql + " AND (" + f->where + " )";
  return sql + " WHERE " + f->where;
}

// A key that cannot be written as SQL (a group among its components) is
// refused with 38; one the runtime builds only on demand, without
// components, cannot position at all (46).
void CheckKey(OdbcKey* k) {
  if (k->cols.empty()) drv::Abort(46);
  for (const KeyColumn& c : k->cols)
    if (c.column.empty()) drv::Abort(38);
}

// The record buffer and null indicators become the saved copy.
void Remember(OdbcFcb* f) {
  f->saved.assign(f->record, f->record + f->record_length);
  f->saved_nulls.assign(f->field_blocks.size() + 1, 0);
  for (OdbcField* c : f->columns) f->saved_nulls[c->number] = c->null;
}

// --- Fetching.

void CloseResult(OdbcFcb* f) {
  if (f->result) CloseCursor(f, f->result);
  f->result = nullptr;
  f->rows_in_set = f->row_at = 0;
}

// Next row of the open result into the record: 0, or 33 at its end.
int FetchNext(OdbcFcb* f) {
  Statement* s = f->result;
  if (f->rowset > 1) {
    if (f->row_at + 1 < f->rows_in_set) {
      ++f->row_at;
      RowToRecord(f, f->row_at);
      return 0;
    }
    f->row_status.assign(size_t(f->rowset), 0);
    SQLULEN rows = 0;
    PendingError e;
    SQLRETURN rc = Call(f, "Fetching Next Set of Rows from", s->h, [&] {
      return Api().SQLExtendedFetch(s->h, SQL_FETCH_NEXT, 0, &rows, f->row_status.data());
    }, &e);
    if (rc == SQL_NO_DATA) return 33;
    if (e.failed || (rc == SQL_SUCCESS_WITH_INFO && e.state == "01S01")) Fail(e, 90);
    f->rows_in_set = rows;
    f->row_at = 0;
    if (rows == 0) return 33;
    RowToRecord(f, 0);
    return 0;
  }
  PendingError e;
  SQLRETURN rc = Call(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); }, &e);
  if (rc == SQL_NO_DATA) return 33;
  if (e.failed || (rc == SQL_SUCCESS_WITH_INFO && e.state == "01S01")) Fail(e, 90);
  RowToRecord(f, 0);
  return 0;
}

// Runs a read statement, its key parameters (when `parts` is given) taken
// from a record image, and leaves it as the open result.
void RunRead(OdbcFcb* f, const std::string& sql, const std::vector<OdbcField*>* parts,
             const uint8_t* values, const int32_t* nulls) {
  CloseResult(f);
  Statement* s = Prepared(f, sql, true);
  if (f->rowset > 1) {
    if (f->group->async_state == 1 && !f->async_off) {
      PendingError e;
      Call(f, "Setting Asynchronous calling on for", s->h,
           [&] { return Api().SQLSetStmtOption(s->h, SQL_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON); }, &e);
      if (e.failed) f->async_off = true;
    }
    Must(f, "Setting number of rows to fetch for", s->h,
         [&] { return Api().SQLSetStmtOption(s->h, SQL_ROWSET_SIZE, SQLULEN(f->rowset)); });
  }
  if (f->group->bind_col_order != 1) BindColumns(f, s);
  if (parts) {
    KeyParams(f, s, *parts, true);
    BindParams(f, s);
    FillParams(f, s, values, 0, nulls);
  }
  if (f->group->bind_col_order == 1) BindColumns(f, s);
  Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
  f->result = s;
}

// The key's columns for a read: none (from the start), the key's own (from a
// value) or the walk's (from a position: the row key breaks ties).
enum class From { kStart, kValue, kPosition };

std::string ReadSql(OdbcFcb* f, OdbcKey* k, From from, bool forward) {
  std::string sql = "SELECT " + f->column_list + " FROM " + f->table;
  const bool cond = k && from != From::kStart;
  if (cond) sql += " WHERE" + PositionCondition(from == From::kValue ? k->cols : k->walk_cols, forward);
  sql = WithWhere(f, sql, cond);
  if (k) sql += " ORDER BY " + OrderList(k->walk_cols, forward);
  return sql;
}

bool SameValues(const OdbcFcb* f, const std::vector<OdbcField*>& parts, const uint8_t* a,
                const int32_t* a_nulls, const uint8_t* b, const int32_t* b_nulls) {
  (void)f;
  for (const OdbcField* p : parts) {
    if ((a_nulls[p->number] == -1) != (b_nulls[p->number] == -1)) return false;
    if (a_nulls[p->number] != -1 && std::memcmp(a + p->offset, b + p->offset, p->shape.size) != 0)
      return false;
  }
  return true;
}

// The null indicators of the record buffer, by field number.
std::vector<int32_t> CurrentNulls(const OdbcFcb* f) {
  std::vector<int32_t> n(f->field_blocks.size() + 1, 0);
  for (const OdbcField* c : f->columns) n[c->number] = c->null;
  return n;
}

// --- Holds.

// PostgreSQL's driver has no locking cursor: a held row is locked with
// SELECT ... FOR UPDATE in a transaction of a connection of the file's own,
// so that another station's held read meets it (43) and another station's
// write waits for it. The lock lasts until RELEASE, the next held read, a
// write of the row (which gives it up for the write and takes it again),
// CLOSE, or the loss of the connection.
void ReleaseHold(OdbcFcb* f) {
  if (!f->holding) return;
  f->holding = false;
  if (f->hold_conn && f->hold_conn->ok) {
    PendingError e;
    Examine(f, Api().SQLTransact(Library()->env, f->hold_conn->dbc, SQL_ROLLBACK), f->hold_conn->dbc,
            nullptr, &e);
    LogText(f, "Releasing held row Connection\r\n");
  }
}

Statement* HoldStatement(OdbcFcb* f, const std::string& sql) {
  if (f->hold_conn == nullptr) f->hold_conn = PrivateConnection(f);
  Statement* s = NewStatement(f, &f->hold_statements[sql], f->hold_conn);
  PrepareOnce(f, s, sql);
  return s;
}

// Locks the current row (the saved copy) for the file: 0, 43 when another
// station holds it, 35 when it went away.
int TakeHold(OdbcFcb* f) {
  if (f->group->backend != kPostgreSql || f->row_key == nullptr) return 0;
  ReleaseHold(f);
  std::vector<OdbcField*> parts;
  const std::string cond = [&] {
    std::string c;
    for (OdbcField* p : f->row_key->parts) {
      if (!c.empty()) c += " AND ";
      if (f->saved_nulls[p->number] == -1) {
        c += p->column_name + " IS NULL";
      } else {
        c += p->column_name + " = ?";
        parts.push_back(p);
      }
    }
    return c;
  }();
  // HOLD without seconds does not wait for another station's hold.
  const std::string sql = "SELECT 1 FROM " + f->table + " WHERE " + cond + " FOR UPDATE" +
                          (f->hold_seconds > 0 ? "" : " NOWAIT");
  if (f->hold_seconds > 0) {
    Statement* t = HoldStatement(f, "SET LOCAL lock_timeout = " + std::to_string(f->hold_seconds * 1000));
    Must(f, "Executing prepared : lock_timeout", t->h, [&] { return Api().SQLExecute(t->h); });
    CloseCursor(f, t);
  }
  Statement* s = HoldStatement(f, sql);
  if (s->params.empty())
    for (OdbcField* p : parts) {
      s->params.push_back(MakeParam(f, p, 1));
      s->params.back().from_saved = true;
    }
  BindParams(f, s);
  FillParams(f, s, f->saved.data(), 0);
  PendingError e;
  Call(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); }, &e);
  SQLRETURN rc = SQL_NO_DATA;
  if (!e.failed) rc = Call(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); }, &e);
  CloseCursor(f, s);
  f->holding = true;  // the transaction is open either way: ended below on failure
  f->held_row = f->saved;
  f->held_nulls = f->saved_nulls;
  if (e.failed || rc == SQL_NO_DATA) {
    ReleaseHold(f);
    if (e.failed && LockRefused(e)) {
      nv::SetFileError(e.state, "El registro está retenido por otra estación");
      return 43;
    }
    if (e.failed) Fail(e, 90);
    return 35;
  }
  return 0;
}

// After a read made a row current: the watch and the hold take it. A read
// without a hold leaves the held row held.
int Took(OdbcFcb* f) {
  f->watched = f->watch_requested;
  f->watch_requested = false;
  return f->hold ? TakeHold(f) : 0;
}

// The current row (the saved copy) is the one the file holds.
bool HoldsCurrent(const OdbcFcb* f) {
  return f->holding && f->row_key &&
         SameValues(f, f->row_key->parts, f->saved.data(), f->saved_nulls.data(), f->held_row.data(),
                    f->held_nulls.data());
}

// --- Position strings.

void PutLe32(std::string* s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s->push_back(char((v >> (8 * i)) & 0xFF));
}

uint32_t GetLe32(std::string_view s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(s[at + size_t(i)])) << (8 * i);
  return v;
}

void AppendSegment(std::string* s, const OdbcKey* k, const uint8_t* rec, const int32_t* nulls) {
  PutLe32(s, k->value_length + 5);
  s->push_back(char(k->number + 1));
  for (const OdbcField* p : k->parts) {
    s->append(reinterpret_cast<const char*>(rec + p->offset), p->shape.size);
    s->push_back(nulls[p->number] == -1 ? 1 : 0);
  }
}

bool SegmentFits(const OdbcKey* k, std::string_view pos, size_t at) {
  return GetLe32(pos, at) == k->value_length + 5 && uint8_t(pos[at + 4]) == k->number + 1;
}

void CopySegment(OdbcFcb* f, const OdbcKey* k, std::string_view pos, size_t at) {
  at += 5;
  for (OdbcField* p : k->parts) {
    std::memcpy(f->record + p->offset, pos.data() + at, p->shape.size);
    p->null = pos[at + p->shape.size] == 1 ? -1 : 0;
    at += p->shape.size + 1;
  }
}

// Decodes a position taken on key k (one segment, or the row key's then
// k's) into the record buffer: 0, or 38 when it was taken otherwise.
// With the detail trace on, the sizes and key of a position go to the log.
void TracePosition(OdbcFcb* f, const char* head, uint32_t total, const OdbcKey* k) {
  if (!f->trace_details) return;
  LogText(f, std::string(head) + "FileSize: " + std::to_string(total) + " KeySize: " +
                 std::to_string(k->value_length) + " KeyNumber: " + std::to_string(k->number + 1) + " \r\n");
}

int DecodePosition(OdbcFcb* f, OdbcKey* k, std::string_view pos) {
  auto wrong = [&](const char* what) {
    if (f->trace_details) LogText(f, std::string(what) + f->name + "\r\n");
    return 38;
  };
  if (pos.size() < k->value_length + 5) return wrong("File Size wrong for file ");
  const uint32_t total = GetLe32(pos, 0);
  TracePosition(f, "Reset Buffer: ", total, k);
  OdbcKey* r = f->row_key;
  if (r && r != k) {
    if (total != r->value_length + k->value_length + 14 || pos.size() != total)
      return wrong("File Size(2) wrong for file ");
    if (!SegmentFits(r, pos, 4) || !SegmentFits(k, pos, 4 + r->value_length + 5))
      return wrong("Size not equal for key ");
    CopySegment(f, r, pos, 4);
    CopySegment(f, k, pos, 4 + r->value_length + 5);
    return 0;
  }
  if (total != k->value_length + 9 || pos.size() != total) return wrong("File Size wrong for file ");
  if (!SegmentFits(k, pos, 4)) return wrong("Size not equal for key ");
  CopySegment(f, k, pos, 4);
  return 0;
}

// A key-equality read of one row by the values in the record buffer:
// 0, or 35 when there is none (the saved copy is then blanked).
int ReadOne(OdbcFcb* f, OdbcKey* k) {
  CloseResult(f);
  f->fresh = false;
  const std::string sql = WithWhere(
      f, "SELECT " + f->column_list + " FROM " + f->table + " WHERE " + EqualityCondition(k->cols), true);
  Statement* s = Prepared(f, sql, true);
  BindColumns(f, s);
  KeyParams(f, s, k->parts, false);
  BindParams(f, s);
  FillParams(f, s, f->record, 0);
  Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
  f->result = s;
  const int rowset = f->rowset;
  f->rowset = 1;  // one row, whatever the row-set size
  int err = 0;
  try {
    err = FetchNext(f);
  } catch (...) {
    f->rowset = rowset;
    CloseResult(f);
    throw;
  }
  f->rowset = rowset;
  CloseResult(f);
  if (err == 33) {
    f->saved.clear();
    return 35;
  }
  return err ? err : Took(f);
}

}  // namespace

int SetRowSet(OdbcFcb* f, long n) {
  if (n < 1) n = 1;
  const long most = long(0x7FFFFFFF / std::max<uint32_t>(1, f->record_length));
  if (n > most) n = most;
  if (n > 10000) n = 10000;
  if (n == f->rowset) return 0;
  CloseResult(f);
  f->rowset = int(n);
  if (f->open()) SizeBuffers(f);
  return 0;
}

int SetRead(OdbcFcb* f, ReadMode mode, OdbcKey* k) {
  if (k) CheckKey(k);
  CloseResult(f);
  f->mode = mode;
  f->read_key = k;
  f->fresh = true;
  f->replay = false;
  f->skip = 0;
  if (mode == ReadMode::kKeyValue || mode == ReadMode::kFileFromKey)
    f->key_values.assign(f->record, f->record + f->record_length);
  return 0;
}

int Skip(OdbcFcb* f, int32_t count) {
  f->skip = count;
  return 0;
}

namespace {

// Selects again from the current record (the saved copy) in direction d and
// reads the row after it: a walk that turns round, or goes on after a GET
// or a write. A current row that went away meanwhile is not counted.
int Reselect(OdbcFcb* f, bool d) {
  OdbcKey* k = f->read_key;
  if (k == nullptr || f->saved.empty()) return nv::kErrNotImplemented;
  const std::vector<uint8_t> current = f->saved;
  const std::vector<int32_t> current_nulls = f->saved_nulls;
  OdbcKey* id = f->row_key;
  const bool by_walk = id != nullptr;
  RunRead(f, ReadSql(f, k, by_walk ? From::kPosition : From::kValue, d),
          by_walk ? &k->walk_parts : &k->parts, current.data(), current_nulls.data());
  f->result_forward = d;
  for (;;) {
    int err = FetchNext(f);
    if (err) return err;
    const std::vector<int32_t> now = CurrentNulls(f);
    if (by_walk) {
      if (!SameValues(f, id->parts, f->record, now.data(), current.data(), current_nulls.data()))
        return 0;
      return FetchNext(f);
    }
    // No row key: the rows of equal key value until the very record.
    if (SameValues(f, f->columns, f->record, now.data(), current.data(), current_nulls.data()))
      return FetchNext(f);
    if (!SameValues(f, k->parts, f->record, now.data(), current.data(), current_nulls.data()))
      return 0;
  }
}

// The first NEXT after SET(file, key): the row the key value finds (the
// first at or after it in the key's order), then the rows after it in the
// file's order, as the server gives them. 33 when no row is at or after the
// value, or when that row went away before the walk reached it.
int FirstFromKey(OdbcFcb* f) {
  OdbcKey* k = f->read_key;
  if (k == nullptr) return nv::kErrNotImplemented;
  RunRead(f, ReadSql(f, k, From::kValue, true), &k->parts,
          reinterpret_cast<const uint8_t*>(f->key_values.data()), nullptr);
  f->fresh = false;
  f->result_forward = true;
  if (int err = FetchNext(f)) return err;
  const std::vector<uint8_t> start = f->saved;
  const std::vector<int32_t> start_nulls = f->saved_nulls;
  const std::vector<OdbcField*>& same = f->row_key ? f->row_key->parts : f->columns;
  f->mode = ReadMode::kFile;  // from here on a walk in file order
  f->read_key = nullptr;
  RunRead(f, ReadSql(f, nullptr, From::kStart, true), nullptr, nullptr, nullptr);
  for (;;) {
    if (int err = FetchNext(f)) return err;
    if (SameValues(f, same, f->saved.data(), f->saved_nulls.data(), start.data(), start_nulls.data()))
      return 0;
  }
}

// One NEXT (d true) or PREVIOUS.
int StepOnce(OdbcFcb* f, bool d) {
  if (f->mode == ReadMode::kNone) SetRead(f, ReadMode::kFile, nullptr);
  OdbcKey* k = f->read_key;
  // A transaction's end that does not keep cursors has closed the walk's:
  // it is selected again from the current record.
  if (f->result && f->result->generation != f->group->generation && f->mode != ReadMode::kProgram)
    CloseResult(f);
  // RESET to the record last read: it comes again from the saved copy and the
  // open result set goes on after it.
  if (f->replay) {
    f->replay = false;
    if (f->result && f->result_forward == d && !f->hold) {
      std::memcpy(f->record, f->saved.data(), f->record_length);
      for (OdbcField* c : f->columns) c->null = f->saved_nulls[c->number];
      return 0;
    }
    CloseResult(f);
    f->fresh = true;
  }
  if (f->result && !f->fresh) {
    if (f->result_forward == d) return FetchNext(f);
    if (f->mode == ReadMode::kProgram) return nv::kErrNotImplemented;
    return Reselect(f, d);
  }
  if (f->mode == ReadMode::kProgram) return 33;
  if (!f->fresh) return Reselect(f, d);
  switch (f->mode) {
    case ReadMode::kFile:
      if (!d) return nv::kErrNotImplemented;
      RunRead(f, ReadSql(f, nullptr, From::kStart, d), nullptr, nullptr, nullptr);
      break;
    case ReadMode::kFileFromKey:
      return d ? FirstFromKey(f) : nv::kErrNotImplemented;
    case ReadMode::kKeyStart:
      RunRead(f, ReadSql(f, k, From::kStart, d), nullptr, nullptr, nullptr);
      break;
    case ReadMode::kKeyValue:
      RunRead(f, ReadSql(f, k, From::kValue, d), &k->parts,
              reinterpret_cast<const uint8_t*>(f->key_values.data()), nullptr);
      break;
    default:  // kReset: the position's row, or the first after it when it went away
      RunRead(f, ReadSql(f, k, From::kPosition, d), &k->walk_parts, f->position.data(),
              f->position_nulls.data());
      break;
  }
  f->fresh = false;
  f->result_forward = d;
  return FetchNext(f);
}

}  // namespace

int Step(OdbcFcb* f, bool forward) {
  // A pending SKIP first: as many reads in its direction.
  while (f->skip != 0) {
    const bool d = f->skip > 0;
    f->skip += d ? -1 : 1;
    if (int err = StepOnce(f, d)) {
      f->skip = 0;
      return err;
    }
  }
  int err = StepOnce(f, forward);
  return err ? err : Took(f);
}

int Position(OdbcFcb* f, OdbcKey* k, std::string* out) {
  if (k == nullptr) k = f->row_key;
  if (k == nullptr) return nv::kErrNotImplemented;
  CheckKey(k);
  if (f->saved.empty()) return 33;
  OdbcKey* r = f->row_key;
  const bool two = r && r != k;
  std::string s;
  PutLe32(&s, 4 + (two ? r->value_length + 5 : 0) + k->value_length + 5);
  if (two) AppendSegment(&s, r, f->saved.data(), f->saved_nulls.data());
  AppendSegment(&s, k, f->saved.data(), f->saved_nulls.data());
  TracePosition(f, "Position Buffer: ", uint32_t(s.size()), k);
  *out = std::move(s);
  return 0;
}

int Reset(OdbcFcb* f, OdbcKey* k, std::string_view pos) {
  CheckKey(k);
  if (int err = DecodePosition(f, k, pos)) return err;
  OdbcKey* r = f->row_key;
  const std::vector<int32_t> nulls = CurrentNulls(f);
  if (r == nullptr) return SetRead(f, ReadMode::kKeyValue, k);
  // The record last read through the same key: the open set is kept and
  // the next read in its direction gives the record again.
  const bool again = f->result && !f->fresh && f->read_key == k && !f->saved.empty() &&
                     SameValues(f, r->parts, f->record, nulls.data(), f->saved.data(),
                                f->saved_nulls.data());
  if (again) {
    f->mode = ReadMode::kReset;
    f->skip = 0;
    f->replay = true;
  } else {
    SetRead(f, ReadMode::kReset, k);
  }
  f->position.assign(f->record, f->record + f->record_length);
  f->position_nulls = nulls;
  return 0;
}

int Reget(OdbcFcb* f, OdbcKey* k, std::string_view pos) {
  OdbcKey* use = k && k->unique ? k : f->row_key;
  if (use == nullptr) return nv::kErrNotImplemented;
  CheckKey(k ? k : use);
  if (int err = DecodePosition(f, k ? k : use, pos)) return err;
  CheckKey(use);
  if (use->decl->attributes & nv::kKeyPrimary) {
    bool all_null = true;
    for (const OdbcField* p : use->parts) all_null = all_null && p->null == -1;
    if (all_null) {
      nv::ClearRecord(*f->fd->record_type, f->record, 0);
      f->saved.clear();
      return 35;
    }
  }
  return ReadOne(f, use);
}

int GetByKey(OdbcFcb* f, OdbcKey* k) {
  CheckKey(k);
  const int err = ReadOne(f, k);
  f->hold = false;  // GET takes the hold asked for, and only once
  return err;
}

int GetByPointer(OdbcFcb* f, intptr_t pointer) {
  // A row's pointer is the value of its row-identifying key when that key
  // is one integer column; rows of other tables have none.
  OdbcKey* r = f->row_key;
  if (r == nullptr || r->parts.size() != 1 || !IntegerField(r->parts[0]->shape.type))
    return nv::kErrNotImplemented;
  if (pointer <= 0) return 35;
  OdbcField* p = r->parts[0];
  const uint64_t v = uint64_t(pointer);
  if (p->shape.size < 8 && v >> (8 * p->shape.size) != 0) return 35;
  std::memcpy(f->record + p->offset, &v, p->shape.size);  // little-endian: the low bytes
  p->null = 0;
  return GetByKey(f, r);
}

int Hold(OdbcFcb* f, bool timed, int32_t seconds) {
  if (timed && seconds == 0) return 0;
  f->hold = true;
  f->hold_seconds = timed ? seconds : -1;
  return 0;
}

int Release(OdbcFcb* f) {
  f->hold = false;
  ReleaseHold(f);
  return 0;
}

int Watch(OdbcFcb* f) {
  f->watch_requested = true;
  return 0;
}

int CountRows(OdbcFcb* f, OdbcKey* k, intptr_t* out) {
  std::string sql;
  if (k == nullptr) {
    sql = "SELECT COUNT(*) FROM " + f->table;
  } else {
    // As many as the key orders: every row, but for an optional key the
    // rows whose key columns are all null. (COUNT(DISTINCT) would count a
    // key that allows duplicates short.)
    CheckKey(k);
    sql = "SELECT COUNT(*) FROM " + f->table;
    if (k->decl->attributes & nv::kKeyOptional) {
      std::string any;
      for (const KeyColumn& c : k->cols) any += (any.empty() ? "" : " OR ") + c.column + " IS NOT NULL";
      sql += " WHERE " + any;
    }
  }
  Statement* s = Aux(f);
  Must(f, "Executing : " + sql, s->h, [&] {
    return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
  });
  f->last_sql = sql;
  char buf[32] = {};
  SQLLEN ind = 0;
  SQLRETURN rc = Must(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); });
  if (rc != SQL_NO_DATA)
    Must(f, "Getting Data for column 1 from", s->h,
         [&] { return Api().SQLGetData(s->h, 1, SQL_C_CHAR, buf, sizeof buf, &ind); });
  CloseCursor(f, s);
  *out = intptr_t(std::atoll(buf));
  return 0;
}

int Execute(OdbcFcb* f, const std::string& text) {
  std::string sql = text;
  Statement* s = Aux(f);
  PendingError e;
  SQLRETURN rc = Call(f, "Executing : " + sql, s->h, [&] {
    return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
  }, &e);
  f->last_sql = sql;
  CloseCursor(f, s);
  if (e.failed) Fail(e, UniqueViolation(e) ? 40 : 90);
  (void)rc;
  return 0;
}

int ProgramStatement(OdbcFcb* f, const std::string& text) {
  ScannedStatement st;
  std::string error;
  if (!ScanStatement(text, f->odbc_call, &st, &error)) FailText("", error, 90);
  if (!st.variables.empty())
    FailText("", "La sentencia nombra variables del programa (&" + st.variables[0] +
                     "), que este entorno no puede enlazar", 80);
  if (!f->open()) return nv::kErrFileNotOpen;
  if (!st.returns_rows) return Execute(f, st.sql);
  // Rows for the following NEXT operations, into the record buffer.
  CloseResult(f);
  Statement* s = Aux(f);
  BindColumns(f, s);
  Must(f, "Executing : " + st.sql, s->h, [&] {
    return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(st.sql.data()), SQL_NTS);
  });
  f->last_sql = st.sql;
  f->result = s;
  f->mode = ReadMode::kProgram;
  f->fresh = false;
  f->result_forward = true;
  return 0;
}

// --- Changing rows.

namespace {

// " a = ? AND b IS NULL " over the saved values of the given columns; the
// columns that take a parameter go to *params.
std::string RowCondition(OdbcFcb* f, const std::vector<OdbcField*>& columns,
                         std::vector<OdbcField*>* params) {
  std::string sql;
  for (OdbcField* p : columns) {
    if (!sql.empty()) sql += "AND";
    if (f->saved_nulls[p->number] == -1) {
      sql += " " + p->column_name + " IS NULL ";
    } else {
      sql += " " + p->column_name + " = ? ";
      params->push_back(p);
    }
  }
  return sql;
}

bool SameSaved(OdbcFcb* f, const OdbcField* c) {
  return std::memcmp(f->record + c->offset, f->saved.data() + c->offset, c->shape.size) == 0 &&
         c->null == f->saved_nulls[c->number];
}

// Runs a changing statement: the rows it touched.
SQLLEN RunChange(OdbcFcb* f, const std::string& sql, const std::vector<OdbcField*>& now,
                 const std::vector<OdbcField*>& saved) {
  Statement* s = Prepared(f, sql);
  if (s->params.empty()) {
    for (OdbcField* c : now) s->params.push_back(MakeParam(f, c, 1));
    for (OdbcField* c : saved) {
      s->params.push_back(MakeParam(f, c, 1));
      s->params.back().from_saved = true;
    }
  }
  BindParams(f, s);
  FillParams(f, s, f->record, 0);
  PendingError e;
  Call(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); }, &e);
  if (e.failed && LockRefused(e)) {
    nv::SetFileError(e.state, "El registro está retenido por otra estación y no se puede modificar");
    drv::Abort(nv::kErrAccessDenied);
  }
  if (e.failed) Fail(e, UniqueViolation(e) ? 40 : 90);
  SQLLEN rows = 0;
  Must(f, "Number of rows effected by", s->h, [&] { return Api().SQLRowCount(s->h, &rows); });
  return rows;
}

// The row as it is on the server now, read by the saved row key, equals the
// saved copy (WATCH with NOWHERE fields). The record buffer is left alone.
bool StillAsRead(OdbcFcb* f) {
  const std::vector<uint8_t> record(f->record, f->record + f->record_length);
  const std::vector<int32_t> nulls = CurrentNulls(f);
  const std::vector<uint8_t> saved = f->saved;
  const std::vector<int32_t> saved_nulls = f->saved_nulls;
  CloseResult(f);
  const std::string sql = "SELECT " + f->column_list + " FROM " + f->table + " WHERE " +
                          EqualityCondition(f->row_key->cols);
  Statement* s = Prepared(f, sql);
  BindColumns(f, s);
  KeyParams(f, s, f->row_key->parts, false);
  BindParams(f, s);
  FillParams(f, s, saved.data(), 0, saved_nulls.data());
  Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
  SQLRETURN rc = Must(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); });
  bool same = rc != SQL_NO_DATA;
  if (same) {
    std::vector<uint8_t> now(f->record_length);
    std::memcpy(now.data(), saved.data(), now.size());
    for (OdbcField* c : f->columns) {
      bool ok = true;
      const int32_t null = FromBuffer(c->shape, c->buf.data(), c->ind[0], now.data() + c->offset, &ok);
      same = same && ok && (null == -1) == (saved_nulls[c->number] == -1) &&
             (null == -1 || std::memcmp(now.data() + c->offset, saved.data() + c->offset, c->shape.size) == 0);
    }
  }
  CloseCursor(f, s);
  std::memcpy(f->record, record.data(), record.size());
  for (OdbcField* c : f->columns) c->null = nulls[c->number];
  return same;
}

[[noreturn]] void ChangedByOther() {
  FailText("", "Otro usuario modificó el registro después de leerlo; no se grabó nada", 89);
}

}  // namespace

int Duplicate(OdbcFcb* f, OdbcKey* only, intptr_t* result) {
  *result = 0;
  const std::vector<uint8_t> record(f->record, f->record + f->record_length);
  const std::vector<int32_t> nulls = CurrentNulls(f);
  const bool existing = f->row_key && !f->saved.empty();
  for (OdbcKey& k : f->key_blocks) {
    if (only ? &k != only : !k.unique) continue;
    CheckKey(&k);
    // The record's own key value, unchanged, is no duplicate of itself.
    if (existing && SameValues(f, k.parts, record.data(), nulls.data(), f->saved.data(),
                               f->saved_nulls.data()))
      continue;
    CloseResult(f);
    const std::string sql = "SELECT " + f->column_list + " FROM " + f->table + " WHERE " +
                            EqualityCondition(k.cols);
    Statement* s = Prepared(f, sql);
    BindColumns(f, s);
    KeyParams(f, s, k.parts, false);
    BindParams(f, s);
    FillParams(f, s, record.data(), 0);
    Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
    PendingError e;
    SQLRETURN rc = Call(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); }, &e);
    bool found = rc != SQL_NO_DATA && !e.failed;
    if (found && existing) {
      // The record being changed is no duplicate of itself.
      bool same = true;
      for (OdbcField* p : f->row_key->parts) {
        std::vector<uint8_t> got(p->shape.size);
        bool ok = true;
        FromBuffer(p->shape, p->buf.data(), p->ind[0], got.data(), &ok);
        same = same && std::memcmp(got.data(), f->saved.data() + p->offset, got.size()) == 0;
      }
      found = !same;
    }
    CloseCursor(f, s);
    if (e.failed) Fail(e, 90);
    if (found) {
      *result = 1;
      break;
    }
  }
  std::memcpy(f->record, record.data(), record.size());
  return 0;
}

namespace {

// The server's own address of a row, for files without a row key: such a row
// is named by all its values as read, and of several identical rows only one
// may be touched. Servers without one keep such files read-only.
const char* RowAddress(const OdbcFcb* f) {
  switch (f->group->backend) {
    case kPostgreSql: return "ctid";
    case kSqlite: return "rowid";
    default: return nullptr;
  }
}

// The columns that name a row by its values: all but those the server
// cannot compare.
std::vector<OdbcField*> ComparableColumns(OdbcFcb* f) {
  std::vector<OdbcField*> cols;
  for (OdbcField* c : f->columns)
    if (!(c->shape.attrs & kAttrNoWhere)) cols.push_back(c);
  return cols;
}

// " WHERE" and the condition naming the current row, the file's own WHERE
// included. Without a row key the statement reaches one row at most.
std::string RowWhere(OdbcFcb* f, const std::vector<OdbcField*>& columns,
                     std::vector<OdbcField*>* params) {
  std::string cond = RowCondition(f, columns, params);
  if (!f->where.empty()) cond += " AND (" + f->where + " )";
  if (f->row_key) return " WHERE" + cond;
  const std::string at = RowAddress(f);
  return " WHERE " + at + " = (SELECT " + at + " FROM " + f->table + " WHERE" + cond + " LIMIT 1)";
}

// A file without a row key can be changed only where the server gives rows
// an address and some column can be compared.
void CheckRowNameable(OdbcFcb* f) {
  if (f->row_key || (RowAddress(f) && !ComparableColumns(f).empty())) return;
  FailText("", "La tabla " + f->table + " no tiene clave única y este servidor no permite "
               "identificar una sola fila; no se puede modificar ni borrar", 80);
}

}  // namespace

int PutRow(OdbcFcb* f) {
  if (f->saved.empty()) return 33;
  CheckRowNameable(f);
  std::string sql = "UPDATE " + f->table + " SET";
  std::vector<OdbcField*> now, saved;
  const std::vector<OdbcField*> where = ComparableColumns(f);
  const bool nowhere = where.size() != f->columns.size();
  for (OdbcField* c : f->columns) {
    if (SameSaved(f, c) || (c->shape.attrs & kAttrReadOnly)) continue;
    sql += (now.empty() && sql.back() == 'T' ? " " : ", ") + c->column_name +
           (c->null == -1 ? " = NULL" : " = ?");
    if (c->null != -1) now.push_back(c);
  }
  if (sql.back() == 'T') return 0;  // nothing changed: nothing is sent
  CloseResult(f);
  if (f->watched && nowhere && f->row_key && !StillAsRead(f)) ChangedByOther();
  // A watched record, or one of a file without a row key, is identified by
  // all its values as read; any other by its row key.
  sql += RowWhere(f, f->watched || !f->row_key ? where : f->row_key->parts, &saved);
  const bool held = HoldsCurrent(f);
  if (held) ReleaseHold(f);  // our own lock would stop the write
  const SQLLEN rows = RunChange(f, sql, now, saved);
  if (rows < 1) {
    if (f->watched) ChangedByOther();
    FailText("", "El registro ya no está en la tabla; no se grabó nada", 35);
  }
  Remember(f);
  if (held && TakeHold(f) != 0) nv::ClearError();  // another station took it meanwhile
  return 0;
}

int DeleteRow(OdbcFcb* f) {
  if (f->saved.empty()) return 33;
  CheckRowNameable(f);
  CloseResult(f);
  std::vector<OdbcField*> saved;
  std::string sql = "DELETE FROM " + f->table +
                    RowWhere(f, f->row_key ? f->row_key->parts : ComparableColumns(f), &saved);
  if (HoldsCurrent(f)) ReleaseHold(f);
  const SQLLEN rows = RunChange(f, sql, {}, saved);
  f->saved.clear();
  if (rows < 1) FailText("", "El registro ya no está en la tabla", 35);
  return 0;
}

// --- Inserting.

namespace {

// A column the server numbers itself is left to it unless the field says
// WRITABLE; a READONLY field is never written.
bool Writable(const OdbcField* c) {
  if (c->shape.attrs & kAttrReadOnly) return false;
  return !c->auto_increment || (c->shape.attrs & kAttrWritable);
}

Statement* InsertStatement(OdbcFcb* f) {
  if (f->insert_stmt && f->insert_stmt->prepared && f->insert_stmt->generation == f->group->generation)
    return f->insert_stmt;
  std::string cols, marks;
  for (OdbcField* c : f->columns) {
    if (!Writable(c)) continue;
    cols += (cols.empty() ? "" : ",") + c->column_name;
    marks += marks.empty() ? "?" : ",?";
  }
  const std::string sql = "INSERT INTO " + f->table + " (" + cols + ") VALUES (" + marks + ")";
  Statement* s = Prepared(f, sql);
  if (s->params.empty()) {
    const size_t rows = size_t(std::max(1, f->batch));
    for (OdbcField* c : f->columns)
      if (Writable(c)) s->params.push_back(MakeParam(f, c, rows));
  }
  f->insert_stmt = s;
  return s;
}

void ExecuteInsert(OdbcFcb* f, Statement* s, size_t rows) {
  BindParams(f, s);
  if (rows != s->param_rows) {
    SQLULEN processed = 0;
    Must(f, "Setting Parameter count to " + std::to_string(rows) + " for", s->h,
         [&] { return Api().SQLParamOptions(s->h, SQLULEN(rows), &processed); });
    s->param_rows = rows;
  }
  PendingError e;
  Call(f, Act(f, "Executing prepared : ", s->sql), s->h, [&] { return Api().SQLExecute(s->h); }, &e);
  if (e.failed) Fail(e, UniqueViolation(e) ? 40 : 90);
}

// A value placed into a field that says null makes it non-null.
void ClearFilledNulls(OdbcFcb* f) {
  for (OdbcField* c : f->columns) {
    if (c->null != -1) continue;
    const uint8_t* p = f->record + c->offset;
    bool empty = true;
    switch (c->shape.type) {
      case nv::kTypeString:
        for (uint32_t i = 0; i < c->shape.size; ++i) empty = empty && p[i] == ' ';
        break;
      case nv::kTypeCString: empty = p[0] == 0; break;
      case nv::kTypePString: empty = p[0] == 0; break;
      default:
        for (uint32_t i = 0; i < c->shape.size; ++i) empty = empty && p[i] == 0;
    }
    if (!empty) c->null = 0;
  }
}

}  // namespace

int AddRow(OdbcFcb* f) {
  // An open walk is closed first: a write on its connection would otherwise
  // make some servers keep the rest of it.
  CloseResult(f);
  ClearFilledNulls(f);
  Statement* s = InsertStatement(f);
  if (f->batch > 0) {
    FillParams(f, s, f->record, size_t(f->batched));
    ++f->batched;
    if (f->batched >= f->batch) SendBatch(f);
  } else {
    FillParams(f, s, f->record, 0);
    ExecuteInsert(f, s, 1);
  }
  Remember(f);
  CloseResult(f);
  return 0;
}

void SendBatch(OdbcFcb* f) {
  if (f->batched == 0 || f->insert_stmt == nullptr) return;
  const size_t rows = size_t(f->batched);
  f->batched = 0;
  ExecuteInsert(f, f->insert_stmt, rows);
}

int SetBatch(OdbcFcb* f, long n) {
  if (f->batched > 0) SendBatch(f);
  f->batch = n > 0 ? int(std::min(n, 100000L)) : 0;
  // The insert's parameter arrays are made again for the new size.
  if (f->insert_stmt) {
    FreeStatement(f, f->insert_stmt);
    f->statements.erase(f->insert_stmt->sql);
    f->insert_stmt = nullptr;
  }
  return 0;
}

int NullOperation(OdbcFcb* f, int32_t op, intptr_t address, intptr_t size, intptr_t* result) {
  const auto* from = reinterpret_cast<const uint8_t*>(address);
  bool any = false;
  for (OdbcField* c : f->columns) {
    const uint8_t* p = f->record + c->offset;
    if (p < from || p + c->shape.size > from + size) continue;
    if (op == 68 && !any) *result = c->null == -1 ? 1 : 0;
    if (op == 69) c->null = -1;
    if (op == 70) c->null = 0;
    any = true;
  }
  return any ? 0 : 75;
}

// --- Whole tables.

namespace {

// A connection for an operation on a closed file, given up afterwards.
template <class Fn>
int WithConnection(OdbcFcb* f, Fn fn) {
  if (f->open()) return fn();
  if (f->name.empty()) return 45;
  f->conn = GroupConnection(f);
  f->group = f->conn->group;
  ++f->group->users;
  auto release = [&] {
    for (auto& [sql, s] : f->statements) FreeStatement(f, &s);
    f->statements.clear();
    f->aux = f->insert_stmt = nullptr;
    ConnectionGroup* g = f->group;
    --g->users;
    f->conn = nullptr;
    f->group = nullptr;
    DropGroupIfUnused(g);
  };
  int err = 0;
  try {
    err = fn();
  } catch (...) {
    release();
    throw;
  }
  release();
  return err;
}

bool KeyNotNull(const OdbcFcb* f, const OdbcField* c) {
  for (const OdbcKey& k : f->key_blocks) {
    const bool required = (k.decl->attributes & nv::kKeyPrimary) || !(k.decl->attributes & nv::kKeyOptional);
    if (!required) continue;
    for (const OdbcField* p : k.parts)
      if (p == c) return true;
  }
  return false;
}

}  // namespace

namespace {

// What the server calls an SQL type (SQLGetTypeInfo): its name, whether
// it takes a size, and whether it is unsigned. `name` is empty when the
// server has no such type.
struct ServerType {
  std::string name;
  std::string params;
  bool is_unsigned = false;
};

ServerType TypeOf(OdbcFcb* f, SQLSMALLINT sql_type, std::map<int, ServerType>* cache) {
  auto it = cache->find(sql_type);
  if (it != cache->end()) return it->second;
  ServerType t;
  Statement* s = Aux(f);
  PendingError e;
  Call(f, "Getting Type Information with", s->h, [&] { return Api().SQLGetTypeInfo(s->h, sql_type); }, &e);
  while (!e.failed) {
    SQLRETURN rc = Call(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); }, &e);
    if (rc == SQL_NO_DATA || e.failed) break;
    char name[129] = {}, params[129] = {};
    SQLSMALLINT is_unsigned = 0, auto_increment = 0;
    SQLLEN ind = 0;
    Api().SQLGetData(s->h, 1, SQL_C_CHAR, name, sizeof name, &ind);
    if (!SQL_SUCCEEDED(Api().SQLGetData(s->h, 6, SQL_C_CHAR, params, sizeof params, &ind)) || ind < 0)
      params[0] = 0;
    if (!SQL_SUCCEEDED(Api().SQLGetData(s->h, 10, SQL_C_SSHORT, &is_unsigned, 0, &ind)) || ind < 0)
      is_unsigned = 0;
    if (!SQL_SUCCEEDED(Api().SQLGetData(s->h, 12, SQL_C_SSHORT, &auto_increment, 0, &ind)) || ind < 0)
      auto_increment = 0;
    if (auto_increment == SQL_TRUE || name[0] == 0) continue;  // a numbering type is no column type
    t.name = name;
    t.params = params;
    t.is_unsigned = is_unsigned == SQL_TRUE;
    break;
  }
  CloseCursor(f, s);
  (*cache)[sql_type] = t;
  return t;
}

// The column type of a field for CREATE TABLE: the server's name of the
// preferred SQL type, else of the fall-backs, with the size where the type
// takes one. Unsigned fields take a type that holds their whole range.
std::string CreateType(OdbcFcb* f, const OdbcField* c, std::map<int, ServerType>* cache) {
  struct Choice {
    SQLSMALLINT type;
    std::string size;       // "(...)" when the type takes parameters
    bool needs_unsigned = false;
  };
  const ValueShape& v = c->shape;
  const std::string numeric = "(" + std::to_string(2 * v.size - 1) + "," + std::to_string(v.places) + ")";
  auto whole = [](int digits) { return "(" + std::to_string(digits) + ",0)"; };
  const std::string text = "(" + std::to_string(std::max<uint32_t>(1, v.size)) + ")";
  const std::string ztext = "(" + std::to_string(std::max<uint32_t>(1, v.size > 0 ? v.size - 1 : 0)) + ")";
  std::vector<Choice> choices;
  switch (v.type) {
    case nv::kTypeByte:
      choices = {{SQL_TINYINT, "", true}, {SQL_SMALLINT, ""}, {SQL_INTEGER, ""},
                 {SQL_NUMERIC, whole(3)}, {SQL_DECIMAL, whole(3)}};
      break;
    case nv::kTypeShort:
      choices = {{SQL_SMALLINT, ""}, {SQL_INTEGER, ""}, {SQL_NUMERIC, whole(5)}, {SQL_DECIMAL, whole(5)}};
      break;
    case nv::kTypeUShort:
      choices = {{SQL_SMALLINT, "", true}, {SQL_INTEGER, ""}, {SQL_NUMERIC, whole(5)}, {SQL_DECIMAL, whole(5)}};
      break;
    case nv::kTypeLong:
      choices = {{SQL_INTEGER, ""}, {SQL_NUMERIC, whole(10)}, {SQL_DECIMAL, whole(10)}};
      break;
    case nv::kTypeULong:
      choices = {{SQL_INTEGER, "", true}, {SQL_BIGINT, ""}, {SQL_NUMERIC, whole(10)}, {SQL_DECIMAL, whole(10)}};
      break;
    case nv::kTypeDate: choices = {{SQL_DATE, ""}, {SQL_TYPE_DATE, ""}}; break;
    case nv::kTypeTime: choices = {{SQL_TIME, ""}, {SQL_TYPE_TIME, ""}}; break;
    case nv::kTypeSReal: choices = {{SQL_REAL, ""}, {SQL_DOUBLE, ""}, {SQL_FLOAT, ""}}; break;
    case nv::kTypeReal:
    case nv::kTypeBFloat4:
    case nv::kTypeBFloat8: choices = {{SQL_DOUBLE, ""}, {SQL_FLOAT, ""}}; break;
    case nv::kTypeDecimal:
    case nv::kTypePDecimal: choices = {{SQL_NUMERIC, numeric}, {SQL_DECIMAL, numeric}}; break;
    case nv::kTypeString:
      if (v.timestamp)
        choices = {{SQL_TIMESTAMP, ""}, {SQL_TYPE_TIMESTAMP, ""}};
      else
        choices = {{SQL_CHAR, text}, {SQL_VARCHAR, text}};
      break;
    // A length-prefixed string keeps its length: a blank-padded column would
    // give it back longer than it was written.
    default: choices = {{SQL_VARCHAR, ztext}, {SQL_CHAR, ztext}}; break;
  }
  for (const Choice& ch : choices) {
    const ServerType t = TypeOf(f, ch.type, cache);
    if (t.name.empty() || (ch.needs_unsigned && !t.is_unsigned)) continue;
    return t.name + (t.params.empty() ? "" : ch.size);
  }
  // SQLite takes any type name, and its driver does not list them all.
  if (f->group->backend == kSqlite && (v.type == nv::kTypeDecimal || v.type == nv::kTypePDecimal))
    return "NUMERIC" + numeric;
  LogText(f, "Could not Create Field " + c->column_name + "\r\nFile system does not support data type\r\n");
  FailText("", "El servidor no tiene un tipo de columna para el campo " + c->name, 75);
}

bool Exists(const PendingError& e, bool index) {
  if (index ? (e.state == "S0011" || e.state == "42S11") : (e.state == "S0001" || e.state == "42S01"))
    return true;
  return e.state == "42P07" || e.message.find("already exists") != std::string::npos;
}

// A statement that may meet an existing table or index: `drop` and again.
void ExecuteReplacing(OdbcFcb* f, const std::string& sql, bool index, const std::string& drop) {
  Statement* s = Aux(f);
  std::string text = sql;
  for (int attempt = 0;; ++attempt) {
    PendingError e;
    Call(f, "Executing : " + text, s->h, [&] {
      return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    }, &e);
    f->last_sql = text;
    CloseCursor(f, s);
    if (!e.failed) return;
    if (attempt > 0 || !Exists(e, index)) Fail(e, UniqueViolation(e) ? 40 : 90);
    Execute(f, drop);
  }
}

std::string CreateIndexSql(OdbcFcb* f, const OdbcKey& k) {
  std::string cols;
  for (const KeyColumn& c : k.cols) {
    if (!cols.empty()) cols += ",";
    cols += c.column + " ";
    if (f->group->backend == kPervasive && !(k.decl->attributes & nv::kKeyPrimary)) cols += "MOD ";
    if (c.descending) cols += "DESC ";
  }
  return std::string("CREATE") + (k.unique ? " UNIQUE" : "") + " INDEX " + k.index_name + " ON " +
         f->table + " (" + cols + ")";
}

// Keys the table itself declares (PRIMARY KEY, UNIQUE) need no index.
bool DeclaredInTable(OdbcFcb* f, const OdbcKey& k, bool ief) {
  if (!ief || !k.unique) return false;
  return f->group->backend != kPervasive || (k.decl->attributes & nv::kKeyPrimary);
}

bool IntegrityFacility(OdbcFcb* f) {
  char buf[8] = {};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(Api().SQLGetInfo(f->conn->dbc, SQL_ODBC_SQL_OPT_IEF, buf, sizeof buf, &len)))
    return false;
  return buf[0] == 'Y';
}

}  // namespace

int CreateTable(OdbcFcb* f) {
  return WithConnection(f, [&] {
    std::map<int, ServerType> types;
    const bool ief = IntegrityFacility(f);
    std::string sql = "CREATE TABLE " + f->table + " (";
    for (size_t i = 0; i < f->columns.size(); ++i) {
      const OdbcField* c = f->columns[i];
      if (i) sql += ",";
      sql += c->column_name + " " + CreateType(f, c, &types);
      if (KeyNotNull(f, c) && f->group->backend != kPervasive) sql += " NOT NULL";
    }
    for (OdbcKey& k : f->key_blocks) {
      CheckKey(&k);
      if (k.index_name.empty()) drv::Abort(79);
      if (!DeclaredInTable(f, k, ief)) continue;
      sql += (k.decl->attributes & nv::kKeyPrimary) ? ", PRIMARY KEY (" : ", UNIQUE (";
      for (size_t i = 0; i < k.cols.size(); ++i) sql += (i ? "," : "") + k.cols[i].column;
      sql += ")";
    }
    sql += ")";
    ExecuteReplacing(f, sql, false, "DROP TABLE " + f->table);
    for (OdbcKey& k : f->key_blocks)
      if (!DeclaredInTable(f, k, ief))
        ExecuteReplacing(f, CreateIndexSql(f, k), true, "DROP INDEX " + k.index_name);
    return 0;
  });
}

namespace {

// BUILD with a component list: "+CF:NAME,-AGE" (a prefix ending in ':' is
// skipped; '-' descending) names columns or field labels.
int ReplaceComponents(OdbcFcb* f, OdbcKey* k, const std::string& text) {
  std::vector<KeyColumn> cols;
  std::vector<OdbcField*> parts;
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    std::string name(nv::Clip(std::string_view(text).substr(at, comma - at)));
    name.erase(0, name.find_first_not_of(' ') == std::string::npos ? name.size() : name.find_first_not_of(' '));
    bool desc = false;
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) {
      desc = name[0] == '-';
      name.erase(0, 1);
    }
    if (size_t colon = name.find(':'); colon != std::string::npos) name.erase(0, colon + 1);
    OdbcField* found = nullptr;
    for (OdbcField* c : f->columns) {
      std::string label = c->desc ? std::string(c->desc->label) : std::string();
      if (size_t colon = label.find(':'); colon != std::string::npos) label.erase(0, colon + 1);
      if (nv::Upper(c->column_name) == nv::Upper(name) || nv::Upper(label) == nv::Upper(name)) found = c;
    }
    if (found == nullptr)
      FailText("", "El índice nombra un campo que la tabla no tiene: " + name, 76);
    cols.push_back({found->column_name, desc});
    parts.push_back(found);
    at = comma + 1;
  }
  k->cols = cols;
  k->parts = parts;
  k->walk_cols = cols;
  k->walk_parts = parts;
  k->value_length = 0;
  for (const OdbcField* p : parts) k->value_length += p->shape.size + 1;
  return 0;
}

}  // namespace

int BuildKeys(OdbcFcb* f, OdbcKey* only, const std::string* components) {
  return WithConnection(f, [&] {
    if (only && components) ReplaceComponents(f, only, *components);
    for (OdbcKey& k : f->key_blocks) {
      if (only && &k != only) continue;
      CheckKey(&k);
      Statement* s = Aux(f);
      std::string drop = "DROP INDEX " + k.index_name;
      PendingError e;
      Call(f, "Executing : " + drop, s->h, [&] {
        return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(drop.data()), SQL_NTS);
      }, &e);
      CloseCursor(f, s);
      if (e.failed) Fail(e, 90);
      Execute(f, CreateIndexSql(f, k));
    }
    return 0;
  });
}

std::string NullBlock(OdbcFcb* f) {
  std::string out;
  for (const OdbcField& c : f->field_blocks) {
    const int32_t v = !c.column ? 0 : c.null == -1 ? -1 : int32_t(c.shape.size);
    for (int i = 0; i < 4; ++i) out.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
  }
  return out;
}

int SetNullBlock(OdbcFcb* f, std::string_view block) {
  if (block.size() < 4 * f->field_blocks.size()) return 75;
  for (size_t i = 0; i < f->field_blocks.size(); ++i) {
    OdbcField& c = f->field_blocks[i];
    if (!c.column) continue;
    int32_t v = 0;
    for (int b = 0; b < 4; ++b) v |= int32_t(uint32_t(uint8_t(block[4 * i + size_t(b)])) << (8 * b));
    c.null = v == -1 ? -1 : 0;
  }
  return 0;
}


int RemoveTable(OdbcFcb* f) {
  if (f->open()) return nv::kErrFileAlreadyOpen;
  return WithConnection(f, [&] {
    PendingError e;
    std::string sql = "DROP TABLE " + f->table;
    Statement* s = Aux(f);
    Call(f, "Executing : " + sql, s->h, [&] {
      return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    }, &e);
    if (e.failed) Fail(e, MissingTable(e) ? nv::kErrFileNotFound : 90);
    return 0;
  });
}

int OpenTable(OdbcFcb* f, uint32_t mode) {
  if (f->open()) return nv::kErrFileAlreadyOpen;
  // The profile's call log, as if LOGFILE had named it.
  if (f->log == nullptr && nv::GetProfileInt("", "NWODBC", "Trace", 0) != 0) {
    std::string file = nv::GetProfileString("", "NWODBC", "TraceFile", "");
    if (file.size() > 260) file.resize(260);
    f->log = OdbcLog::Share(file.empty() ? "ODBC.LOG" : file, Library()->flush);
  }
  f->conn = GroupConnection(f);
  f->group = f->conn->group;
  ++f->group->users;
  f->open_mode = mode;
  f->is_open = true;
  try {
    // The column check: every declared column must be one of the table's.
    std::vector<std::string> names;
    std::vector<ValueShape> described;
    Statement* s = Aux(f);
    std::string sql = "SELECT * FROM " + f->table + " WHERE 0 = 1";
    PendingError e;
    Call(f, "Executing : " + sql, s->h, [&] {
      return Api().SQLExecDirect(s->h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
    }, &e);
    if (e.failed) Fail(e, MissingTable(e) ? nv::kErrFileNotFound : 90);
    SQLSMALLINT n = 0;
    Must(f, "Getting Number of columns for", s->h, [&] { return Api().SQLNumResultCols(s->h, &n); });
    for (SQLSMALLINT i = 1; i <= n; ++i) {
      SQLCHAR name[256] = {};
      SQLSMALLINT len = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      Must(f, "Describing Column " + std::to_string(i) + " for", s->h, [&] {
        return Api().SQLDescribeCol(s->h, SQLUSMALLINT(i), name, sizeof name, &len, &type, &size,
                                    &digits, &nullable);
      });
      names.push_back(reinterpret_cast<char*>(name));
      ValueShape v;
      v.sql_type = type;
      v.column_size = size;
      v.decimals = digits;
      described.push_back(v);
    }
    for (OdbcField* c : f->columns) {
      size_t at = names.size();
      for (size_t i = 0; i < names.size(); ++i)
        if (nv::Upper(names[i]) == nv::Upper(c->column_name)) at = i;
      if (at == names.size() && !f->no_verify) {
        std::string text = "Invalid field name: " + c->column_name + "\r\nValid field names are:\r\n";
        for (const std::string& nm : names) text += nm + "\r\n";
        if (f->group->identifier_case == SQL_IC_SENSITIVE)
          text += "Note that your server is case sensitive.\r\nTo generate case sensitive names you need\r\nto put external names on your fields\r\n";
        FailText("S0002", text, 90);
      }
      if (at < names.size()) {
        SQLLEN attr = 0;
        const SQLUSMALLINT col = SQLUSMALLINT(at + 1);
        Must(f, "Getting Auto-increment state for", s->h, [&] {
          return Api().SQLColAttributes(s->h, col, SQL_COLUMN_AUTO_INCREMENT, nullptr, 0, nullptr, &attr);
        });
        c->auto_increment = attr != 0;
        attr = SQL_SEARCHABLE;
        Must(f, "Getting Searchable state for", s->h, [&] {
          return Api().SQLColAttributes(s->h, col, SQL_COLUMN_SEARCHABLE, nullptr, 0, nullptr, &attr);
        });
        // A column the server cannot compare fully stays out of WHEREs.
        if (attr == SQL_UNSEARCHABLE || attr == SQL_LIKE_ONLY) c->shape.attrs |= kAttrNoWhere;
        c->shape.sql_type = described[at].sql_type;
        c->shape.column_size = described[at].column_size;
        c->shape.decimals = described[at].decimals;
        c->described = true;
      }
      c->c_type = CTypeOf(c->shape, Rules(f));
      if (c->c_type == 0) drv::Abort(47);
    }
    CloseCursor(f, s);
  } catch (...) {
    CloseTable(f);
    throw;
  }
  SizeBuffers(f);
  f->mode = ReadMode::kNone;
  f->saved.clear();
  return 0;
}

int CloseTable(OdbcFcb* f) {
  int err = 0;
  if (f->batched > 0 && f->conn) {
    try {
      SendBatch(f);
    } catch (const drv::AbortError& a) {
      err = a.code;
    }
  }
  f->result = nullptr;
  for (auto& [sql, s] : f->statements) FreeStatement(f, &s);
  f->statements.clear();
  f->aux = f->insert_stmt = nullptr;
  if (f->hold_conn) {
    ReleaseHold(f);
    for (auto& [sql, s] : f->hold_statements)
      if (s.h) Api().SQLFreeStmt(s.h, SQL_DROP);
    f->hold_statements.clear();
    DropConnection(f, f->hold_conn);
    f->hold_conn = nullptr;
  }
  f->holding = f->hold = f->watched = f->watch_requested = false;
  f->is_open = false;
  f->conn = nullptr;
  if (ConnectionGroup* g = f->group) {
    f->group = nullptr;
    --g->users;
    DropGroupIfUnused(g);
  }
  return err;
}

void DisconnectProperty(OdbcFcb* f) {
  if (f->group) {
    CloseTable(f);
    return;
  }
  if (!LibraryExists()) return;
  OdbcLibrary* lib = Library();
  for (auto& g : lib->groups)
    if (g->users == 0) DisconnectGroup(f, g.get());
}

}  // namespace odbc
