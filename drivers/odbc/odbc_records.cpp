// The ODBC driver's file operations: statements, parameters, fetching,
// inserting, and the whole-table operations (see odbc_ops.h).
#include <algorithm>
#include <cstdio>
#include <cstring>

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

ConvRules Rules(const OdbcFcb* f) {
  ConvRules r;
  r.clip_strings = f->group ? f->group->clip_strings : true;
  r.zero_is_null = f->zero_is_null;
  r.odbc1 = f->group && f->group->odbc1;
  return r;
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

Statement* NewStatement(OdbcFcb* f, Statement* s) {
  if (s->h == nullptr) {
    Must(f, "Allocating", nullptr, [&] { return Api().SQLAllocStmt(f->conn->dbc, &s->h); });
    ++f->conn->statements;
  }
  return s;
}

// The statement for an SQL text, prepared once (again after a transaction
// that does not keep prepared statements).
Statement* Prepared(OdbcFcb* f, const std::string& sql) {
  Statement* s = NewStatement(f, &f->statements[sql]);
  if (!s->prepared || s->generation != f->group->generation) {
    s->sql = sql;
    Must(f, "Preparing : " + sql, s->h, [&] {
      return Api().SQLPrepare(s->h, reinterpret_cast<SQLCHAR*>(s->sql.data()), SQL_NTS);
    });
    s->prepared = true;
    s->generation = f->group->generation;
  }
  f->last_sql = sql;
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
void FillParams(OdbcFcb* f, Statement* s, const uint8_t* record, size_t row) {
  const ConvRules r = Rules(f);
  for (ParamColumn& p : s->params) {
    const uint8_t* v = (p.from_saved ? f->saved.data() : record) + p.field->offset;
    const int32_t null = p.from_saved ? f->saved_nulls[p.field->number] : p.field->null;
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
void KeyParams(OdbcFcb* f, Statement* s, OdbcKey* k, bool position) {
  if (!s->params.empty()) return;
  for (size_t i = 0; i < k->parts.size(); ++i) {
    s->params.push_back(MakeParam(f, k->parts[i], 1));
    if (position && i + 1 < k->parts.size()) s->params.push_back(MakeParam(f, k->parts[i], 1));
  }
}

std::string WithWhere(const OdbcFcb* f, std::string sql, bool has_condition) {
  if (f->where.empty()) return sql;
  if (has_condition) return sql + " AND (" + f->where + " )";
  return sql + " WHERE " + f->where;
}

void CheckKey(OdbcKey* k) {
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

// Runs a read statement over a record image (key values) and leaves it as
// the open result.
void RunRead(OdbcFcb* f, const std::string& sql, OdbcKey* k, bool position, const uint8_t* values) {
  CloseResult(f);
  Statement* s = Prepared(f, sql);
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
  if (k && position) {
    KeyParams(f, s, k, position);
    BindParams(f, s);
    FillParams(f, s, values, 0);
  }
  if (f->group->bind_col_order == 1) BindColumns(f, s);
  Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
  f->result = s;
}

std::string SelectSql(OdbcFcb* f, OdbcKey* k, bool position, bool forward) {
  std::string sql = "SELECT " + f->column_list + " FROM " + f->table;
  if (k && position) sql += " WHERE" + PositionCondition(k->cols, forward);
  sql = WithWhere(f, sql, k && position);
  if (k) sql += " ORDER BY " + OrderList(k->cols, forward);
  return sql;
}

bool SameRow(OdbcFcb* f, const uint8_t* a, const uint8_t* b, OdbcKey* k) {
  if (k) {
    for (OdbcField* p : k->parts)
      if (std::memcmp(a + p->offset, b + p->offset, p->shape.size) != 0) return false;
    return true;
  }
  for (OdbcField* c : f->columns)
    if (std::memcmp(a + c->offset, b + c->offset, c->shape.size) != 0) return false;
  return true;
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
  if (mode == ReadMode::kKeyValue) f->key_values.assign(f->record, f->record + f->record_length);
  return 0;
}

int Step(OdbcFcb* f, bool forward) {
  if (f->mode == ReadMode::kNone) SetRead(f, ReadMode::kFile, nullptr);
  if (f->result && !f->fresh && f->result_forward == forward) return FetchNext(f);
  if (f->mode == ReadMode::kProgram) return f->result ? FetchNext(f) : 33;
  OdbcKey* k = f->read_key;
  if (f->fresh) {
    if (f->mode == ReadMode::kFile && !forward) return nv::kErrNotImplemented;
    const bool position = f->mode == ReadMode::kKeyValue;
    RunRead(f, SelectSql(f, k, position, forward), k, position,
            reinterpret_cast<const uint8_t*>(f->key_values.data()));
    f->fresh = false;
    f->result_forward = forward;
    return FetchNext(f);
  }
  // The other direction (or after a GET): select again from the record last
  // read, find it, and go one further.
  if (k == nullptr || f->saved.empty()) return nv::kErrNotImplemented;
  const std::vector<uint8_t> current = f->saved;
  RunRead(f, SelectSql(f, k, true, forward), k, true, current.data());
  f->result_forward = forward;
  OdbcKey* id = f->row_key;
  for (;;) {
    int err = FetchNext(f);
    if (err) return err;
    if (SameRow(f, f->record, current.data(), id)) return FetchNext(f);
    if (!SameRow(f, f->record, current.data(), k)) return 0;  // the record went away
  }
}

int GetByKey(OdbcFcb* f, OdbcKey* k) {
  CheckKey(k);
  CloseResult(f);
  f->fresh = false;
  const std::string sql =
      WithWhere(f, "SELECT " + f->column_list + " FROM " + f->table + " WHERE " + EqualityCondition(k->cols), true);
  Statement* s = Prepared(f, sql);
  BindColumns(f, s);
  KeyParams(f, s, k, false);
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
  return err;
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

// " a = ? AND b IS NULL " over the row-identifying key's saved values; the
// parameters go to `s` (from the saved copy).
std::string RowCondition(OdbcFcb* f, std::vector<OdbcField*>* params) {
  std::string sql;
  for (OdbcField* p : f->row_key->parts) {
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

// Runs a changing statement; an unknown row key or no current record first.
void RunChange(OdbcFcb* f, const std::string& sql, const std::vector<OdbcField*>& now,
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
  if (e.failed) Fail(e, UniqueViolation(e) ? 40 : 90);
}

}  // namespace

int Duplicate(OdbcFcb* f, OdbcKey* only, intptr_t* result) {
  *result = 0;
  const std::vector<uint8_t> record(f->record, f->record + f->record_length);
  for (OdbcKey& k : f->key_blocks) {
    if (only ? &k != only : !k.unique) continue;
    CheckKey(&k);
    CloseResult(f);
    const std::string sql = "SELECT " + f->column_list + " FROM " + f->table + " WHERE " +
                            EqualityCondition(k.cols);
    Statement* s = Prepared(f, sql);
    BindColumns(f, s);
    KeyParams(f, s, &k, false);
    BindParams(f, s);
    FillParams(f, s, record.data(), 0);
    Must(f, Act(f, "Executing prepared : ", sql), s->h, [&] { return Api().SQLExecute(s->h); });
    PendingError e;
    SQLRETURN rc = Call(f, "Fetching Row from", s->h, [&] { return Api().SQLFetch(s->h); }, &e);
    bool found = rc != SQL_NO_DATA && !e.failed;
    if (found && f->row_key && !f->saved.empty()) {
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

int PutRow(OdbcFcb* f) {
  if (f->row_key == nullptr) return nv::kErrNotImplemented;
  if (f->saved.empty()) return 33;
  std::string sql = "UPDATE " + f->table + " SET";
  std::vector<OdbcField*> now, saved;
  for (OdbcField* c : f->columns) {
    if (SameSaved(f, c) || (c->shape.attrs & kAttrReadOnly)) continue;
    sql += (now.empty() && sql.back() == 'T' ? " " : ", ") + c->column_name +
           (c->null == -1 ? " = NULL" : " = ?");
    if (c->null != -1) now.push_back(c);
  }
  if (sql.back() == 'T') return 0;  // nothing changed: nothing is sent
  sql += " WHERE" + RowCondition(f, &saved);
  if (!f->where.empty()) sql += " AND (" + f->where + " )";
  RunChange(f, sql, now, saved);
  Remember(f);
  CloseResult(f);
  return 0;
}

int DeleteRow(OdbcFcb* f) {
  if (f->row_key == nullptr) return nv::kErrNotImplemented;
  if (f->saved.empty()) return 33;
  std::vector<OdbcField*> saved;
  std::string sql = "DELETE FROM " + f->table + " WHERE" + RowCondition(f, &saved);
  if (!f->where.empty()) sql += " AND (" + f->where + " )";
  RunChange(f, sql, {}, saved);
  f->saved.clear();
  CloseResult(f);
  return 0;
}

// --- Inserting.

namespace {

Statement* InsertStatement(OdbcFcb* f) {
  if (f->insert_stmt && f->insert_stmt->prepared && f->insert_stmt->generation == f->group->generation)
    return f->insert_stmt;
  std::string cols, marks;
  for (OdbcField* c : f->columns) {
    if (c->shape.attrs & kAttrReadOnly) continue;
    cols += (cols.empty() ? "" : ",") + c->column_name;
    marks += marks.empty() ? "?" : ",?";
  }
  const std::string sql = "INSERT INTO " + f->table + " (" + cols + ") VALUES (" + marks + ")";
  Statement* s = Prepared(f, sql);
  if (s->params.empty()) {
    const size_t rows = size_t(std::max(1, f->batch));
    for (OdbcField* c : f->columns)
      if (!(c->shape.attrs & kAttrReadOnly)) s->params.push_back(MakeParam(f, c, rows));
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

int CreateTable(OdbcFcb* f) {
  return WithConnection(f, [&] {
    std::string sql = "CREATE TABLE " + f->table + " (";
    for (size_t i = 0; i < f->columns.size(); ++i) {
      const OdbcField* c = f->columns[i];
      if (i) sql += ",";
      sql += c->column_name + " " + ColumnTypeSql(c->shape);
      if (KeyNotNull(f, c) && f->group->backend != kPervasive) sql += " NOT NULL";
    }
    sql += ")";
    Execute(f, sql);
    for (OdbcKey& k : f->key_blocks) {
      CheckKey(&k);
      if (k.index_name.empty()) drv::Abort(79);
      Execute(f, std::string("CREATE ") + (k.unique ? "UNIQUE " : "") + "INDEX " + k.index_name +
                     " ON " + f->table + " (" + OrderList(k.cols, true) + ")");
    }
    return 0;
  });
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
    CloseCursor(f, s);
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
        c->shape.sql_type = described[at].sql_type;
        c->shape.column_size = described[at].column_size;
        c->shape.decimals = described[at].decimals;
        c->described = true;
      }
      c->c_type = CTypeOf(c->shape, Rules(f));
      if (c->c_type == 0) drv::Abort(47);
    }
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
