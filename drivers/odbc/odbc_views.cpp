// Views as one SELECT: when every file of a view is an ODBC file of one data
// source, the view's joins, filter, range, window and order become one
// statement that the server runs, and each row fills the record buffers of
// all the view's files: the projected fields (the others read as cleared,
// as nv::RecordProjection says); only those, and the columns that position
// the walk, are fetched. A view that one statement cannot answer with exactly
// the rows, in exactly the order, that the runtime's own walk would give is
// handed back (nv::kViewHandBack) and the runtime walks it file by file.
//
// Handed back, with the reason in the ODBC log:
// - a join on part of a key, or on a key that allows duplicates (the walk
//   takes the first partner; a join would repeat the row);
// - a join whose fields are not all columns, or whose two sides differ in
//   kind (text, number, date, time);
// - a filter the SQL printer cannot say (a procedure, a date group);
// - a file with a WHERE option of its own in a joined view;
// - a view with neither key nor order over a file without a
//   row-identifying key (no order at all);
// - join styles FIRSTSQL and NONE, outer joins under INNER, a MICROSOFT
//   join list where a file has two joined files (no standard SQL nests so),
//   nested outer joins under NESTING=FALSE;
// - a statement the server refuses at open.
//
// Order: the view's order text, then the primary key's components, then the
// components of the primary file's row-identifying key not yet listed. The
// last makes the order total, so a backward read is the forward read
// reversed, row for row, and ties keep the row-identifying key's order (the
// order in which rows were added when it is a growing code). A file without
// such a key (the call files) leaves ties in the server's order, as its own
// key reads do.
//
// States of an open view:
//   open --Next/Previous--> reading(dir) --end--> ended(dir)
//   reading(d) --opposite read--> the statement again the other way, rows
//   skipped up to the current one (found by its row-identifying key);
//   ended(d) --opposite read--> the other way from its start, as a file
//   read steps back from its end.
//
// A forward read runs ahead of the walk on a second thread (odbc_readahead.h)
// in row sets of 1,000 rows, the fetch size the data sources are set up with
// (docs/odbc_settings.md); a backward read, or a forward one whose thread
// cannot start, fetches the same row sets as the walk needs them. With
// [NWODBC] ReadAhead=0 in the profile every read does so, in row sets of
// 100. The walk's current row set is always its own: the rows read ahead are
// swapped into it. On PostgreSQL, outside a transaction, a view reading ahead
// runs on the group's connection for views (ViewConnection), so that the
// files' own operations never wait for its fetches; inside one it runs on
// the files' connection and sees what the transaction wrote.
#include "drivers/odbc/odbc_views.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "drivers/odbc/odbc_internal.h"
#include "drivers/odbc/odbc_ops.h"
#include "drivers/odbc/odbc_readahead.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"

namespace odbc {

namespace {

OdbcApi& Api() {
  return Library()->api;
}

enum class Kind { kText, kNumber, kDate, kTime };
Kind KindOf(const ValueShape& s) {
  switch (s.type) {
    case nv::kTypeString:
      return s.timestamp ? Kind::kDate : Kind::kText;
    case nv::kTypeCString:
    case nv::kTypePString:
      return Kind::kText;
    case nv::kTypeDate:
      return Kind::kDate;
    case nv::kTypeTime:
      return Kind::kTime;
    default:
      return Kind::kNumber;
  }
}

// One result column, a row set of values.
struct Bound {
  OdbcField* field = nullptr;
  SQLSMALLINT c_type = 0;
  uint32_t width = 0;
  std::vector<char> buf;
  std::vector<SQLLEN> ind;
};

// One parameter value, converted once at open.
struct Param {
  ValueShape shape;
  SQLSMALLINT c_type = 0, sql_type = 0;
  uint32_t width = 0;
  std::vector<char> data;
  SQLLEN ind = 0;
};

// One file of the view.
struct Node {
  nv::File* file = nullptr;
  OdbcFcb* f = nullptr;
  std::string prefix;     // as the view names its fields
  std::string qualifier;  // "A." (empty: columns unqualified)
  std::string ref;        // "TABLE A"
  int parent = -1;
  std::vector<int> children;
  std::string on;  // the join condition
  bool inner = false;
  // The fields its rows fill; the others read as cleared (nv::RecordProjection).
  nv::RecordProjection projection;
  std::vector<OdbcField*> cleared;  // columns no projected field covers
  size_t first_col = 0, col_count = 0;
  size_t probe = 0;  // a joined column: null when the join found no partner
};

struct OrderItem {
  std::string expr;
  bool descending = false;
};

struct OdbcView {
  std::vector<Node> nodes;
  std::vector<Bound> cols;
  std::vector<Param> params;
  std::string select, from, where, order_up, order_down;
  std::vector<size_t> row_key;  // result columns of the primary's row-identifying key
  SQLHSTMT h = nullptr;
  OdbcFcb* primary = nullptr;
  bool running = false, forward = true, have_row = false, ended = false;
  int rowset = 100;
  SQLULEN rows_in_set = 0, row_at = 0;
  std::vector<SQLUSMALLINT> status;
  bool read_ahead = false;            // forward reads run ahead
  OdbcConnection* conn = nullptr;     // the statement's: the files' or the group's for views
  std::unique_ptr<ReadAhead> ahead;   // the reader of the open forward read
  bool bound_here = true;             // the columns are bound to `cols`' buffers
  int epoch = 0;                      // Epoch() when the statement ran
};

// The view could not be one statement: why, for the log.
struct HandBack {
  std::string reason;
};
[[noreturn]] void Refuse(const std::string& reason) {
  throw HandBack{reason};
}

// `c`: the statement's connection when it is not the view's.
void Check(OdbcView* v, SQLRETURN rc, SQLHSTMT st, const std::string& action,
           OdbcConnection* c = nullptr) {
  PendingError e;
  Examine(v->primary, rc, (c ? c : v->conn)->dbc, st, &e);
  if (Logging(v->primary)) LogText(v->primary, action + "\r\n");
  if (e.failed) Fail(e, 90);
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

void BindParams(OdbcView* v, SQLHSTMT h, std::vector<Param>& params,
                OdbcConnection* c = nullptr) {
  for (size_t i = 0; i < params.size(); ++i) {
    Param& p = params[i];
    const SQLULEN size = ParamSize(p.shape);
    Check(v,
          Api().SQLBindParameter(h, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, p.c_type, p.sql_type,
                                 size, 0, p.data.data(), SQLLEN(p.width), &p.ind),
          h, "Binding ? " + std::to_string(i + 1), c);
  }
}

// The number a statement of one row and one column answers, on a statement
// of its own on the files' connection.
int64_t Number(OdbcView* v, std::vector<Param>& params, std::string sql) {
  OdbcConnection* c = v->primary->conn;
  SQLHSTMT h = nullptr;
  Check(v, Api().SQLAllocStmt(c->dbc, &h), nullptr, "Allocating", c);
  struct Free {
    SQLHSTMT h;
    ~Free() { Api().SQLFreeStmt(h, SQL_DROP); }
  } free_it{h};
  BindParams(v, h, params, c);
  Check(v, Api().SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), h,
        "Executing : " + sql, c);
  SQLBIGINT n = 0;
  SQLLEN ind = 0;
  Check(v, Api().SQLBindCol(h, 1, SQL_C_SBIGINT, &n, sizeof n, &ind), h, "Binding Column 1", c);
  Check(v, Api().SQLFetch(h), h, "Fetching Row", c);
  return int64_t(n);
}

// --- Building the statement.

class Builder {
 public:
  Builder(OdbcView* v, const nv::ViewDescriptor& d, const nv::expr::Bindings& b)
      : v_(v), d_(d), b_(b) {}

  void Build() {
    Files();
    Columns();
    for (size_t i = 0; i < d_.joins.size(); ++i) JoinOf(int(i + 1), d_.joins[i]);
    From();
    Filter();
    Range();
    Window();
    LeadList();
    Order();
    v_->select = "SELECT " + select_ + " FROM " + v_->from;
    if (!where_.empty()) v_->where = " WHERE " + where_;
  }

 private:
  void Files() {
    auto add = [&](nv::File* file, const std::string& prefix) {
      auto* f = static_cast<OdbcFcb*>(file->descriptor()->drv_fcb);
      if (f == nullptr || !f->open()) drv::Abort(nv::kErrFileNotOpen);
      Node n;
      n.file = file;
      n.f = f;
      n.prefix = UpperAscii(prefix);
      v_->nodes.push_back(std::move(n));
    };
    add(d_.primary, d_.primary_prefix);
    for (const nv::ViewJoinDesc& j : d_.joins) add(j.file, j.prefix);
    v_->primary = v_->nodes[0].f;
    ConnectionGroup* g = v_->primary->group;
    for (size_t i = 0; i < v_->nodes.size(); ++i) {
      Node& n = v_->nodes[i];
      if (n.f->group != g) Refuse("los archivos de la vista son de distintas fuentes de datos");
      if (!n.f->where.empty() && v_->nodes.size() > 1)
        Refuse("el archivo " + n.f->name + " tiene una condición WHERE propia");
      // Correlation names: property 29252, else A, B, C ... in set-up order.
      std::string corr = n.f->view_name_set ? n.f->free_text : std::string(1, char('A' + i % 26));
      if (i >= 26 && !n.f->view_name_set) corr += std::to_string(i / 26);
      if (!g->correlation_names) {
        n.ref = n.f->table;
        n.qualifier = n.f->table + ".";
      } else {
        n.ref = corr.empty() ? n.f->table : n.f->table + " " + corr;
        n.qualifier = corr.empty() ? std::string() : corr + ".";
      }
    }
  }

  // What the program reads of each file. A label that names no field of
  // the view's files (a caller other than nv::View::Project, which refuses
  // them) makes the view read every field.
  void Projections() {
    if (d_.projected.empty()) return;
    std::string unknown;
    for (Node& n : v_->nodes) {
      n.projection = nv::RecordProjection(*n.file->decl().record, n.prefix, d_.projected, &unknown);
    }
    for (const std::string& label : d_.projected) {
      const std::string prefix = UpperAscii(label.substr(0, label.find(':')));
      if (std::none_of(v_->nodes.begin(), v_->nodes.end(),
                       [&](const Node& n) { return n.prefix == prefix; }) &&
          unknown.empty())
        unknown = label;
    }
    if (unknown.empty()) return;
    for (Node& n : v_->nodes) n.projection = nv::RecordProjection();
    LogText(v_->primary,
            "View projection: " + unknown + " is no field of the view; every field read\r\n");
  }

  // Columns fetched whether projected or not: the primary's row-identifying
  // key (a turn finds the current row again by it), the first key column of
  // each joined file (null when the join found no partner), and, for a
  // primary without such a key or with ORDERINSELECT false, the view's key
  // and order (rows are then told apart by all the columns fetched).
  std::vector<std::pair<int, const OdbcField*>> Positioning() const {
    std::vector<std::pair<int, const OdbcField*>> need;
    const OdbcFcb* p = v_->primary;
    if (p->row_key)
      for (const OdbcField* c : p->row_key->parts) need.emplace_back(0, c);
    for (size_t i = 0; i < d_.joins.size(); ++i) {
      const auto* k = d_.joins[i].key ? static_cast<OdbcKey*>(d_.joins[i].key->drv_kcb) : nullptr;
      if (k != nullptr && !k->parts.empty()) need.emplace_back(int(i + 1), k->parts[0]);
    }
    if (p->row_key && p->order_in_select) return need;
    if (const OdbcKey* k = Key())
      for (const OdbcField* c : k->parts) need.emplace_back(0, c);
    for (const nv::ViewOrderComponent& o : d_.order) {
      int node = -1;
      OdbcField* c = nullptr;
      OdbcField* ymd[3];
      if (!Find(o.label, &node, &c)) continue;  // Order() refuses it
      if (!c->column && DateGroup(node, c, ymd)) {
        for (const OdbcField* part : ymd) need.emplace_back(node, part);
      } else {
        need.emplace_back(node, c);
      }
    }
    return need;
  }

  // The result column of a field fetched.
  size_t ColumnOf(int node, const OdbcField* c) const {
    const Node& n = v_->nodes[size_t(node)];
    for (size_t i = n.first_col; i < n.first_col + n.col_count; ++i)
      if (v_->cols[i].field == c) return i;
    return v_->cols.size();
  }

  void Columns() {
    Projections();
    const auto need = Positioning();
    for (size_t i = 0; i < v_->nodes.size(); ++i) {
      Node& n = v_->nodes[i];
      n.first_col = v_->cols.size();
      for (OdbcField* c : n.f->columns) {
        const bool kept = n.projection.Keeps(c->offset, c->shape.size);
        if (!kept) n.cleared.push_back(c);
        const std::pair<int, const OdbcField*> at(int(i), c);
        if (!kept && std::find(need.begin(), need.end(), at) == need.end()) continue;
        if (!select_.empty()) select_ += ",";
        select_ += n.qualifier + c->column_name;
        Bound b;
        b.field = c;
        b.c_type = ReadCType(c->shape, Rules(n.f));
        b.width = ReadWidth(c->shape, Rules(n.f));
        v_->cols.push_back(std::move(b));
      }
      n.col_count = v_->cols.size() - n.first_col;
    }
  }

  // The node and column of a field label "PRE:NAME".
  bool Find(const std::string& label, int* node, OdbcField** field) const {
    const size_t colon = label.find(':');
    if (colon == std::string::npos) return false;
    const std::string prefix = UpperAscii(label.substr(0, colon));
    const std::string name = UpperAscii(label.substr(colon + 1));
    for (size_t i = 0; i < v_->nodes.size(); ++i) {
      const Node& n = v_->nodes[i];
      if (n.prefix != prefix) continue;
      const nv::RecordType& rt = *n.file->decl().record;
      for (uint32_t k = 1; k <= rt.FieldCount(); ++k) {
        const std::string fl = rt.Field(int(k))->label;
        const size_t c = fl.find(':');
        if (UpperAscii(fl.substr(c == std::string::npos ? 0 : c + 1)) != name) continue;
        *node = int(i);
        *field = &n.f->field_blocks[k - 1];
        return true;
      }
    }
    return false;
  }

  std::string Column(int node, const OdbcField* c) const {
    return v_->nodes[size_t(node)].qualifier + c->column_name;
  }
  // A column as filters and orders read it: a file joined outward that
  // found no partner reads as a cleared record (blank texts, zero numbers),
  // not as NULL.
  std::string Value(int node, const OdbcField* c) const {
    const std::string col = Column(node, c);
    const Node& n = v_->nodes[size_t(node)];
    if (node == 0 || (n.inner && InnerHolds(node))) return col;
    switch (KindOf(c->shape)) {
      case Kind::kText:
        return "COALESCE(" + col + ",'')";
      case Kind::kNumber:
        return "COALESCE(" + col + ",0)";
      default:
        return col;
    }
  }
  // The year, month and day columns of a 4-byte group shown as a date (the
  // runtime reads it as a day number); false for any other field.
  bool DateGroup(int node, const OdbcField* g, OdbcField* parts[3]) const {
    const nv::RecordType& rt = *v_->nodes[size_t(node)].file->decl().record;
    const nv::FieldDesc* fd = rt.Field(int(g->number));
    if (fd == nullptr || fd->type != nv::kTypeGroup || fd->size != 4 || fd->picture.size() < 2 ||
        (fd->picture[1] != 'D' && fd->picture[1] != 'd'))
      return false;
    parts[0] = parts[1] = parts[2] = nullptr;
    for (OdbcField* c : v_->nodes[size_t(node)].f->columns) {
      if (c->offset == fd->offset + 2 && c->shape.size == 2) parts[0] = c;
      if (c->offset == fd->offset + 1 && c->shape.size == 1) parts[1] = c;
      if (c->offset == fd->offset && c->shape.size == 1) parts[2] = c;
    }
    return parts[0] && parts[1] && parts[2];
  }
  // An inner-joined file whose parents are all inner-joined (or the primary).
  bool InnerHolds(int node) const {
    for (int at = node; at > 0; at = v_->nodes[size_t(at)].parent)
      if (!v_->nodes[size_t(at)].inner) return false;
    return true;
  }

  void JoinOf(int at, const nv::ViewJoinDesc& j) {
    Node& n = v_->nodes[size_t(at)];
    auto* k = j.key ? static_cast<OdbcKey*>(j.key->drv_kcb) : nullptr;
    if (k == nullptr || !k->unique || j.parent_fields.size() != k->parts.size())
      Refuse("la relación con " + n.f->name + " no usa una clave única entera");
    const bool no_case = (k->decl->attributes & nv::kKeyNoCase) != 0;
    std::string on;
    for (size_t i = 0; i < k->parts.size(); ++i) {
      int pn = -1;
      OdbcField* pf = nullptr;
      OdbcField* cf = k->parts[i];
      if (!Find(j.parent_fields[i], &pn, &pf) || pn >= at || !pf->column || !cf->column)
        Refuse("la relación con " + n.f->name + " no es entre columnas");
      if (n.parent >= 0 && n.parent != pn)
        Refuse("la relación con " + n.f->name + " toma campos de dos archivos");
      if (KindOf(pf->shape) != KindOf(cf->shape))
        Refuse("la relación con " + n.f->name + " compara valores de distinta clase");
      n.parent = pn;
      std::string a = Column(pn, pf), b = Column(at, cf);
      if (no_case && KindOf(cf->shape) == Kind::kText) {
        a = "UPPER(" + a + ")";
        b = "UPPER(" + b + ")";
      }
      if (i) on += " AND ";
      on += a + "=" + b;
      if (i == 0) n.probe = ColumnOf(at, cf);
    }
    n.on = on;
    n.inner = j.inner;
    v_->nodes[size_t(n.parent)].children.push_back(at);
    if (n.parent != 0 && v_->primary->group->nesting == 1)
      Refuse("NESTING=FALSE no permite relaciones anidadas");
  }

  // WATCOM and DB2: every join followed at once by its ON.
  void Chained(int at, bool comma_inner, std::vector<int>* listed) {
    for (int c : v_->nodes[size_t(at)].children) {
      const Node& n = v_->nodes[size_t(c)];
      if (n.inner && comma_inner) {
        if (!n.children.empty())
          Refuse("una relación interna listada con ',' tiene relaciones propias");
        listed->push_back(c);
        continue;
      }
      from_ += (n.inner ? " INNER JOIN " : " LEFT OUTER JOIN ") + n.ref + " ON " + n.on;
      Chained(c, comma_inner, listed);
    }
  }

  // MICROSOFT: a file's joins first, each with its own, then their ONs,
  // last join first.
  void Nested(int at) {
    const Node& p = v_->nodes[size_t(at)];
    from_ += p.ref;
    if (p.children.size() > 1)
      Refuse("JOINTYPE=MICROSOFT no puede escribir dos relaciones de un archivo");
    for (int c : p.children) {
      from_ += v_->nodes[size_t(c)].inner ? " INNER JOIN " : " LEFT OUTER JOIN ";
      Nested(c);
    }
    for (auto it = p.children.rbegin(); it != p.children.rend(); ++it)
      from_ += " ON " + v_->nodes[size_t(*it)].on;
  }

  void AndWhere(const std::string& cond) {
    if (!where_.empty()) where_ += " AND ";
    where_ += cond;
  }

  void From() {
    ConnectionGroup* g = v_->primary->group;
    const bool use_inner = g->use_inner_join;
    std::vector<int> listed;
    switch (g->join_style) {
      case 1:  // WATCOM
      case 4:  // DB2
        from_ = v_->nodes[0].ref;
        Chained(0, !use_inner, &listed);
        if (g->join_style == 1 && v_->nodes.size() > 1) from_ = "{oj " + from_ + " }";
        break;
      case 2: {  // MICROSOFT
        for (const Node& n : v_->nodes)
          if (n.inner && !use_inner) Refuse("JOINTYPE=MICROSOFT sin USEINNERJOIN");
        Nested(0);
        if (v_->nodes.size() > 1) from_ = "{oj " + from_ + " }";
        break;
      }
      case 5:  // INNER: every file listed, every join in WHERE
        from_ = v_->nodes[0].ref;
        for (size_t i = 1; i < v_->nodes.size(); ++i) {
          // An outer join written this way repeats or loses rows.
          if (!v_->nodes[i].inner) Refuse("JOINTYPE=INNER no escribe relaciones externas");
          listed.push_back(int(i));
        }
        break;
      default:
        Refuse("JOINTYPE no escribe relaciones en una sentencia");
    }
    for (int i : listed) {
      from_ += ", " + v_->nodes[size_t(i)].ref;
      AndWhere(v_->nodes[size_t(i)].on);
    }
    v_->from = from_;
  }

  void AddParam(const ValueShape& shape, const void* bytes) {
    Param p;
    p.shape = shape;
    const ConvRules r = Rules(v_->primary);
    p.c_type = CTypeOf(shape, r);
    p.sql_type = shape.sql_type ? shape.sql_type : AssumedSqlType(shape);
    p.width = std::max<uint32_t>(BufferWidth(shape), 1);
    p.data.assign(p.width, '\0');
    ToBuffer(shape, r, static_cast<const uint8_t*>(bytes), 0, p.data.data(), &p.ind);
    v_->params.push_back(std::move(p));
  }
  void AddText(const std::string& text) {
    ValueShape s;
    s.type = nv::kTypeString;
    std::string t = text.empty() ? std::string(" ") : text;
    s.size = uint32_t(t.size());
    AddParam(s, t.data());
  }
  // A binary date or time as the record keeps it (4 bytes).
  void AddStored(uint8_t type, const void* bytes) {
    ValueShape s;
    s.type = type;
    s.size = 4;
    AddParam(s, bytes);
  }
  void AddNumber(double d) {
    ValueShape s;
    s.type = nv::kTypeReal;
    s.size = 8;
    AddParam(s, &d);
  }

  void Filter() {
    if (d_.condition == nullptr) return;
    ConnectionGroup* g = v_->primary->group;
    SqlDialect dialect;
    dialect.bind_constants = g->bind_constants;
    dialect.has_ucase = (g->string_functions & 0x1000) != 0;
    dialect.has_lcase = (g->string_functions & 0x40) != 0;
    SqlNames names;
    names.field = [&](const std::string& label, std::string* column, uint8_t* type) {
      int node = -1;
      OdbcField* c = nullptr;
      if (!Find(label, &node, &c)) return false;
      OdbcField* ymd[3];
      if (!c->column && DateGroup(node, c, ymd)) {
        *column = "(" + Value(node, ymd[0]) + "*10000+" + Value(node, ymd[1]) + "*100+" +
                  Value(node, ymd[2]) + ")";
        *type = kTypeYmdDate;
        return true;
      }
      if (!c->column) return false;
      *column = Value(node, c);
      *type = c->shape.timestamp ? uint8_t(0) : c->shape.type;
      return true;
    };
    names.variable = [&](const std::string& name, nv::expr::Scalar* value) {
      nv::expr::Cell cell;
      if (!b_.FindVariable(name, &cell)) return false;
      *value = nv::expr::ReadCell(cell);
      return true;
    };
    std::string sql, error;
    std::vector<SqlParam> params;
    if (!PrintFilter(*d_.condition, dialect, names, &sql, &params, &error)) Refuse(error);
    for (const SqlParam& p : params) {
      switch (p.kind) {
        case SqlParam::kText:
          AddText(p.text);
          break;
        case SqlParam::kNumber:
          AddNumber(p.number);
          break;
        case SqlParam::kDate: {
          const nv::BinDate b = nv::BinFromDate(p.value);
          AddStored(nv::kTypeDate, &b);
          break;
        }
        case SqlParam::kTime: {
          const nv::BinTime t = nv::BinFromTime(p.value);
          AddStored(nv::kTypeTime, &t);
          break;
        }
      }
    }
    AndWhere("(" + sql + ")");
  }

  OdbcKey* Key() const { return d_.key ? static_cast<OdbcKey*>(d_.key->drv_kcb) : nullptr; }
  bool NoCase() const { return d_.key && (d_.key->attributes & nv::kKeyNoCase) != 0; }

  // A value written into a copy of the primary record through the field's
  // own cell, so that it travels as the column's values do.
  std::vector<uint8_t> Image(int field_number, const nv::Value& value) const {
    const OdbcFcb* f = v_->primary;
    std::vector<uint8_t> image(f->record, f->record + f->record_length);
    const nv::RecordType& rt = *v_->nodes[0].file->decl().record;
    nv::expr::WriteCell(nv::expr::FieldCell(rt, field_number, image.data()),
                        nv::expr::FromValue(value));
    return image;
  }

  void Range() {
    OdbcKey* k = Key();
    if (!d_.has_range || k == nullptr || k->parts.empty()) return;
    OdbcField* lead = k->parts[0];
    if (!lead->column) Refuse("la clave de la vista no es de columnas");
    std::string col = Column(0, lead);
    const Kind kind = KindOf(lead->shape);
    auto bound = [&](const nv::Value& value) {
      switch (kind) {
        case Kind::kText:
          if (!value.IsText()) Refuse("rango numérico sobre un campo de texto");
          AddText(NoCase() ? nv::Upper(nv::Clip(value.text)) : std::string(nv::Clip(value.text)));
          break;
        case Kind::kNumber:
          if (value.IsText()) Refuse("rango de texto sobre un campo numérico");
          AddNumber(value.kind == nv::Value::Kind::kInteger ? double(value.integer) : value.number);
          break;
        default: {
          const std::vector<uint8_t> image = Image(int(lead->number), value);
          AddParam(lead->shape, image.data() + lead->offset);
        }
      }
    };
    if (NoCase() && kind == Kind::kText) {
      col = "UPPER(" + col + ")";
    } else {
      range_at_ = v_->params.size();  // no index reads UPPER(...)
    }
    AndWhere(col + " >= ?");
    bound(d_.low);
    AndWhere(col + " <= ?");
    bound(d_.high);
  }

  // The tuple of `parts` from `at` on, at or above the image's values (at
  // or below: up false), written with each component's own bound first:
  //   c0 >= ? AND (c0 > ? OR (c1 >= ? AND (c1 > ? OR c2 >= ?)))
  // which says (c0 > ? OR (c0 = ? AND ...)) with the leading component's
  // range at the top, where the server can take it from an index.
  void Tuple(const std::vector<OdbcField*>& parts, size_t at, bool up,
             const std::vector<uint8_t>& image) {
    const char* strict = up ? " > ?" : " < ?";
    const char* bound = up ? " >= ?" : " <= ?";
    std::string s;
    for (size_t i = at; i < parts.size(); ++i) {
      const std::string c = Column(0, parts[i]);
      s += c + bound;
      AddParam(parts[i]->shape, image.data() + parts[i]->offset);
      if (i + 1 < parts.size()) {
        s += " AND (" + c + strict + " OR (";
        AddParam(parts[i]->shape, image.data() + parts[i]->offset);
      }
    }
    for (size_t i = at; i + 1 < parts.size(); ++i) s += "))";
    AndWhere(s);
  }

  void Window() {
    OdbcKey* k = Key();
    if (d_.window_fields.empty() || k == nullptr) return;
    const nv::RecordType& rt = *v_->nodes[0].file->decl().record;
    // The key components each window field covers, in key order.
    std::vector<OdbcField*> parts;
    std::vector<uint8_t> low(v_->primary->record, v_->primary->record + v_->primary->record_length);
    std::vector<uint8_t> high = low;
    size_t next = 1;
    for (size_t i = 0; i < d_.window_fields.size(); ++i) {
      int node = -1;
      OdbcField* fb = nullptr;
      if (!Find(d_.window_fields[i], &node, &fb) || node != 0)
        Refuse("campo de la ventana desconocido");
      const nv::FieldDesc* fd = rt.Field(int(fb->number));
      for (; next < k->parts.size(); ++next) {
        OdbcField* p = k->parts[next];
        if (p->offset < fd->offset || p->offset + p->shape.size > fd->offset + fd->size) break;
        if (!p->column) Refuse("la ventana cubre un campo que no es columna");
        if (NoCase() && KindOf(p->shape) == Kind::kText)
          Refuse("ventana de texto sobre una clave sin mayúsculas");
        parts.push_back(p);
      }
      const std::vector<uint8_t> lo = Image(int(fb->number), d_.window_low[i]);
      const std::vector<uint8_t> hi = Image(int(fb->number), d_.window_high[i]);
      std::memcpy(low.data() + fd->offset, lo.data() + fd->offset, fd->size);
      std::memcpy(high.data() + fd->offset, hi.data() + fd->offset, fd->size);
    }
    if (parts.empty()) return;
    windowed_ = true;
    // Leading components with the same value at both ends are equalities
    // (a window within one month: the year and the month), so that the
    // server reads only the window's part of an index on them.
    size_t same = 0;
    for (; same < parts.size(); ++same) {
      const OdbcField* p = parts[same];
      if (std::memcmp(low.data() + p->offset, high.data() + p->offset, p->shape.size) != 0) break;
      AndWhere(Column(0, p) + " = ?");
      AddParam(p->shape, low.data() + p->offset);
    }
    if (same == parts.size()) return;
    Tuple(parts, same, true, low);
    Tuple(parts, same, false, high);
  }

  // A column of a type the server surely takes MIN of: the probes must not
  // fail where the plain range runs (a server's own types, binary columns,
  // a column not described under NOVERIFY).
  static bool Ordered(const ValueShape& s) {
    static const SQLSMALLINT kTypes[] = {
        SQL_CHAR,      SQL_VARCHAR,   SQL_LONGVARCHAR,   SQL_WCHAR,  SQL_WVARCHAR, SQL_WLONGVARCHAR,
        SQL_TINYINT,   SQL_SMALLINT,  SQL_INTEGER,       SQL_BIGINT, SQL_NUMERIC,  SQL_DECIMAL,
        SQL_REAL,      SQL_FLOAT,     SQL_DOUBLE,        SQL_DATE,   SQL_TIME,     SQL_TIMESTAMP,
        SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP};
    return (s.attrs & kAttrNoWhere) == 0 &&
           std::find(std::begin(kTypes), std::end(kTypes), s.sql_type) != std::end(kTypes);
  }

  // The distinct values of the key's leading component within the range,
  // each found by one probe of the index for the least value above the one
  // before (a loose index scan), the walk stopped at the first value above
  // the range:
  //   WITH RECURSIVE nv_l(v) AS (SELECT MIN(c) FROM t WHERE c >= ?
  //     UNION ALL SELECT (SELECT MIN(c) FROM t WHERE c > nv_l.v)
  //     FROM nv_l WHERE nv_l.v <= ?) SELECT v FROM nv_l WHERE v <= ?
  // The bounds are only compared with the values found, never given to a
  // probe after the first, so the probes read the index even where the
  // server cannot compare the bound's type in it (a number bound as a
  // double against an integer column: the first probe then passes over the
  // entries below the range, as the plain range passes over all of them).
  // Counted: each value numbered, the walk stopped after `most` + 1 values.
  std::string Leads(bool counted, int most) const {
    const OdbcField* lead = Key()->parts[0];
    const std::string t = v_->primary->table + " nv_k", c = "nv_k." + lead->column_name;
    std::string sql = std::string("WITH RECURSIVE nv_l") + (counted ? "(v,n)" : "(v)") +
                      " AS (SELECT MIN(" + c + ")" + (counted ? ",1" : "") + " FROM " + t +
                      " WHERE " + c + " >= ? UNION ALL SELECT (SELECT MIN(" + c + ") FROM " + t +
                      " WHERE " + c + " > nv_l.v)" + (counted ? ",nv_l.n+1" : "") +
                      " FROM nv_l WHERE nv_l.v <= ?";
    if (counted)
      return sql + " AND nv_l.n <= " + std::to_string(most) +
             ") SELECT COUNT(v) FROM nv_l WHERE v <= ?";
    return sql + ") SELECT v FROM nv_l WHERE v <= ?";
  }

  // A server without a skip scan of its own passes over every index entry
  // of the range on the leading component to find the few the window under
  // it takes (the detail report by line: a million entries for a month of
  // calls). Given the range's leading values as a list, it descends the
  // index once per value, window included, and still returns the rows in
  // the index's order. The list is read by the statement itself, so the
  // rows are exactly the range's; a first, counting statement only decides
  // whether the list pays: beyond `lead_list_most` values the probes cost
  // more than the passing over they save.
  void LeadList() {
    const int most = v_->primary->group->lead_list_most;
    if (most <= 0 || !windowed_ || range_at_ == kNoRange) return;
    if (!v_->primary->group->correlation_names) return;  // the probes name the table nv_k
    if (!Ordered(Key()->parts[0]->shape)) return;
    std::vector<Param> bounds = {v_->params[range_at_], v_->params[range_at_ + 1],
                                 v_->params[range_at_ + 1]};
    try {
      if (Number(v_, bounds, Leads(true, most)) > most) return;
    } catch (const drv::AbortError&) {
      nv::ClearError();  // logged; the plain range still answers
      return;
    }
    AndWhere(Column(0, Key()->parts[0]) + " = ANY(ARRAY(" + Leads(false, most) + "))");
    for (Param& p : bounds) v_->params.push_back(std::move(p));
  }

  void Order() {
    std::vector<OrderItem> items;
    auto listed = [&](const std::string& e) {
      return std::any_of(items.begin(), items.end(),
                         [&](const OrderItem& i) { return i.expr == e; });
    };
    auto add = [&](int node, OdbcField* c, bool descending, bool upper) {
      if (!c->column) Refuse("el orden de la vista no es de columnas");
      std::string e = Value(node, c);
      if (upper && KindOf(c->shape) == Kind::kText) e = "UPPER(" + e + ")";
      if (listed(e)) return;
      // Zero dates and times are kept as NULL: they sort first, as zeros do.
      const Kind kind = KindOf(c->shape);
      if ((kind == Kind::kDate || kind == Kind::kTime) && v_->nodes[size_t(node)].f->zero_is_null)
        items.push_back({"CASE WHEN " + e + " IS NULL THEN 0 ELSE 1 END", descending});
      items.push_back({e, descending});
    };
    for (const nv::ViewOrderComponent& o : d_.order) {
      int node = -1;
      OdbcField* c = nullptr;
      if (!Find(o.label, &node, &c)) Refuse("campo del orden desconocido: " + o.label);
      OdbcField* ymd[3];
      if (!c->column && DateGroup(node, c, ymd)) {
        for (OdbcField* part : ymd) add(node, part, o.descending, false);
        continue;
      }
      add(node, c, o.descending, false);
    }
    if (OdbcKey* k = Key()) {
      for (size_t i = 0; i < k->parts.size(); ++i)
        add(0, k->parts[i], k->cols[i].descending, NoCase());
    }
    OdbcKey* id = v_->primary->row_key;
    const bool own_order = !d_.order.empty() || d_.key != nullptr;
    if (!own_order && id == nullptr)
      Refuse("el archivo " + v_->primary->name +
             " no tiene orden ni clave que identifique sus filas");
    if (!own_order && v_->primary->no_primary) Refuse("NOPRIMARY: la vista no tiene orden propio");
    if (id != nullptr) {
      for (size_t i = 0; i < id->parts.size(); ++i) {
        add(0, id->parts[i], id->cols[i].descending, false);
        v_->row_key.push_back(ColumnOf(0, id->parts[i]));
      }
    } else {
      // No key tells the rows apart: equal rows in the order keep the
      // server's order (as the file's own key reads do), and a row is found
      // again by all the columns fetched (the order's among them): of rows
      // equal in all of them, the program cannot tell one from another.
      for (size_t i = 0; i < v_->cols.size(); ++i) v_->row_key.push_back(i);
    }
    for (const OrderItem& i : items) {
      if (!v_->order_up.empty()) {
        v_->order_up += ",";
        v_->order_down += ",";
      }
      v_->order_up += i.expr + (i.descending ? " DESC" : " ASC");
      v_->order_down += i.expr + (i.descending ? " ASC" : " DESC");
    }
  }

  static constexpr size_t kNoRange = size_t(-1);

  OdbcView* v_;
  const nv::ViewDescriptor& d_;
  const nv::expr::Bindings& b_;
  std::string select_, from_, where_;
  size_t range_at_ = kNoRange;  // the range's two bounds among the parameters
  bool windowed_ = false;       // a window bounds components under the leading one
};

// --- Running and reading.

void BindAll(OdbcView* v, SQLHSTMT h, bool columns, OdbcConnection* c = nullptr) {
  BindParams(v, h, v->params, c);
  if (!columns) return;
  for (size_t i = 0; i < v->cols.size(); ++i) {
    Bound& b = v->cols[i];
    Check(v,
          Api().SQLBindCol(h, SQLUSMALLINT(i + 1), b.c_type, b.buf.data(), SQLLEN(b.width),
                           b.ind.data()),
          h, "Binding Column " + std::to_string(i + 1));
  }
}

// Reads the open result ahead of the walk (nothing when no thread starts).
void StartReading(OdbcView* v) {
  v->ahead.reset();
  std::vector<RowSetColumn> shape;
  for (const Bound& b : v->cols) shape.push_back({b.c_type, b.width, b.buf, b.ind});
  v->ahead = ReadAhead::Start(Api(), v->h, v->conn->dbc, v->conn == v->primary->conn, shape,
                              SQLULEN(v->rowset), 2);
  if (v->ahead)
    v->bound_here = false;
  else
    LogText(v->primary, "Read-ahead not started: the view reads as it goes\r\n");
}

// What drops the statement's cursor on the server when it changes: the
// group's transactions and failures on the files' connection, failures on a
// connection for views.
int Epoch(const OdbcView* v) {
  return v->conn == v->primary->conn ? v->primary->group->generation : v->conn->failures;
}

void CloseCursor(OdbcView* v) {
  v->ahead.reset();
  CallLock calls;
  if (v->running) Api().SQLFreeStmt(v->h, SQL_CLOSE);
  v->running = false;
  v->rows_in_set = v->row_at = 0;
}

void Run(OdbcView* v, bool forward) {
  CloseCursor(v);
  CallLock calls;
  std::string sql = v->select + v->where + " ORDER BY " + (forward ? v->order_up : v->order_down);
  Check(v, Api().SQLExecDirect(v->h, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), v->h,
        "Executing : " + sql);
  v->running = true;
  v->forward = forward;
  v->ended = false;
  v->epoch = Epoch(v);
  if (forward && v->read_ahead) StartReading(v);
}

// The next row set read ahead, swapped into the walk's own: false when
// there is none (no reader, or it stopped with nothing left).
bool TakeReadAhead(OdbcView* v, SQLRETURN* rc, SQLULEN* rows) {
  if (!v->ahead) return false;
  RowSet set;
  if (!v->ahead->Take(&set)) {
    v->ahead.reset();
    return false;
  }
  *rc = set.rc;
  *rows = SQL_SUCCEEDED(set.rc) ? set.rows : 0;
  if (*rows > 0) {
    for (size_t i = 0; i < v->cols.size(); ++i) {
      v->cols[i].buf.swap(set.cols[i].buf);
      v->cols[i].ind.swap(set.cols[i].ind);
    }
  }
  v->ahead->GiveBack(std::move(set));
  return true;
}

// The next row of the result: true, or false at its end.
bool Fetch(OdbcView* v) {
  if (v->row_at + 1 < v->rows_in_set) {
    ++v->row_at;
    return true;
  }
  SQLULEN rows = 0;
  SQLRETURN rc = SQL_SUCCESS;
  const bool ahead = TakeReadAhead(v, &rc, &rows);
  if (!ahead) {
    CallLock calls;
    if (!v->bound_here) BindAll(v, v->h, true);
    v->bound_here = true;
    rc = Api().SQLExtendedFetch(v->h, SQL_FETCH_NEXT, 0, &rows, v->status.data());
  }
  if (rc == SQL_NO_DATA) return false;
  if (rc != SQL_SUCCESS) {
    CallLock calls;
    PendingError e;
    Examine(v->primary, rc, v->conn->dbc, v->h, &e);
    if (e.failed) Fail(e, 90);
    // A warning ended the reader (it left the diagnostics for this point).
    if (ahead) StartReading(v);
  }
  v->rows_in_set = rows;
  v->row_at = 0;
  return rows > 0;
}

std::string KeyOfRow(const OdbcView* v) {
  std::string key;
  for (size_t c : v->row_key) {
    const Bound& b = v->cols[c];
    key.append(b.buf.data() + v->row_at * b.width, b.width);
    const SQLLEN ind = b.ind[v->row_at];
    key.append(reinterpret_cast<const char*>(&ind), sizeof ind);
  }
  return key;
}

// The current row into the record buffers of every file.
void Deliver(OdbcView* v) {
  for (size_t i = 0; i < v->nodes.size(); ++i) {
    Node& n = v->nodes[i];
    OdbcFcb* f = n.f;
    const bool missing = i > 0 && v->cols[n.probe].ind[v->row_at] == SQL_NULL_DATA;
    if (missing) {
      nv::ClearRecord(*n.file->decl().record, f->record, 0);
      for (OdbcField* c : f->columns) c->null = 0;
    } else {
      for (size_t k = 0; k < n.col_count; ++k) {
        Bound& b = v->cols[n.first_col + k];
        bool ok = true;
        b.field->null = FromBuffer(b.field->shape, b.buf.data() + v->row_at * b.width,
                                   b.ind[v->row_at], f->record + b.field->offset, &ok);
        if (!ok)
          FailText("22003",
                   "El valor de la columna " + b.field->column_name + " no cabe en el campo " +
                       b.field->name,
                   90);
      }
      // The fields not projected read as the runtime's own walk leaves them.
      n.projection.Clear(f->record);
      for (OdbcField* c : n.cleared) c->null = 0;
    }
    // The row read is the file's record as last read (a PUT after it).
    f->saved.assign(f->record, f->record + f->record_length);
    f->saved_nulls.assign(f->field_blocks.size() + 1, 0);
    for (OdbcField* c : f->columns) f->saved_nulls[c->number] = c->null;
  }
  v->have_row = true;
}

// At the end of the result: when the server may have dropped the walk's
// cursor since it ran (a failed statement on the connection, a transaction's
// end that does not keep cursors: PostgreSQL then ends the result early and
// quietly), the walk is selected again and brought back to its current row.
// False when the end stands (or the current row went away meanwhile).
bool SelectAgain(OdbcView* v) {
  if (v->epoch == Epoch(v)) return false;
  if (!v->have_row) {
    Run(v, v->forward);
    return true;
  }
  const std::string here = KeyOfRow(v);
  Run(v, v->forward);
  while (Fetch(v))
    if (KeyOfRow(v) == here) return true;
  return false;
}

int Read(OdbcView* v, bool forward) {
  if (!v->running) {
    Run(v, forward);
  } else if (v->forward != forward) {
    if (v->ended || !v->have_row) {
      Run(v, forward);  // from the other end, as a file steps back from its end
    } else {
      // The row last handed out is still in the row set: nothing was fetched
      // since.
      const std::string here = KeyOfRow(v);
      Run(v, forward);
      bool found = false;
      while (Fetch(v)) {
        if (KeyOfRow(v) == here) {
          found = true;
          break;
        }
      }
      if (!found) {
        v->ended = true;
        return 33;
      }
    }
  }
  if (v->ended) return 33;
  while (!Fetch(v)) {
    if (!SelectAgain(v)) {
      v->ended = true;
      return 33;
    }
  }
  Deliver(v);
  return 0;
}

int Count(OdbcView* v, int64_t* out) {
  // On the files' connection: the view's may be fetching.
  *out = Number(v, v->params, "SELECT COUNT(*) FROM " + v->from + v->where);
  return 0;
}

void Free(OdbcView* v) {
  v->ahead.reset();
  CallLock calls;
  // A file closed since (its connection gone) took the statement with it.
  if (v->h != nullptr && v->primary->open()) {
    Api().SQLFreeStmt(v->h, SQL_DROP);
    if (v->conn->statements > 0) --v->conn->statements;
    --v->conn->views;
  }
  delete v;
}

int Open(nv::ViewBlock* block) {
  auto v = std::make_unique<OdbcView>();
  try {
    Builder(v.get(), *block->descriptor, *block->bindings).Build();
  } catch (const HandBack& h) {
    block->reason = h.reason;
    if (v->primary) LogText(v->primary, "View handed back: " + h.reason + "\r\n");
    return nv::kViewHandBack;
  }
  for (Node& n : v->nodes)
    if (n.f->batched > 0) SendBatch(n.f);
  block->statement = v->select + v->where + " ORDER BY " + v->order_up;
  OdbcFcb* f = v->primary;
  v->read_ahead = nv::GetProfileInt("", "NWODBC", "ReadAhead", 1) != 0;
  v->conn = f->conn;
  if (v->read_ahead && f->group->backend == kPostgreSql && !f->group->in_txn) {
    try {
      v->conn = ViewConnection(f);
    } catch (const drv::AbortError&) {
      nv::ClearError();  // the files' connection, then
    }
  }
  Check(v.get(), Api().SQLAllocStmt(v->conn->dbc, &v->h), nullptr, "Allocating");
  ++v->conn->statements;
  ++v->conn->views;
  OdbcView* raw = v.release();
  try {
    if (raw->read_ahead) {
      // Row sets of the sources' fetch size, each at most about 4 MB.
      size_t row = 0;
      for (const Bound& b : raw->cols) row += b.width + sizeof(SQLLEN);
      raw->rowset = int(std::clamp<size_t>((size_t(4) << 20) / std::max<size_t>(row, 1), 100, 1000));
    }
    const long most = long(0x7FFFFFFF / std::max<size_t>(1, raw->cols.size() * 64));
    raw->rowset = int(std::max(1L, std::min<long>(raw->rowset, most)));
    for (Bound& b : raw->cols) {
      b.buf.assign(size_t(b.width) * size_t(raw->rowset), '\0');
      b.ind.assign(size_t(raw->rowset), 0);
    }
    raw->status.assign(size_t(raw->rowset), 0);
    Check(raw, Api().SQLSetStmtOption(raw->h, SQL_ROWSET_SIZE, SQLULEN(raw->rowset)), raw->h,
          "Setting number of rows to fetch");
    BindAll(raw, raw->h, true);
    Run(raw, true);
  } catch (const drv::AbortError&) {
    // The server would not run it: the runtime walks the view instead.
    block->reason = "el servidor no ejecuta la sentencia de la vista";
    LogText(f, "View handed back: " + block->reason + "\r\n");
    Free(raw);
    nv::ClearError();
    return nv::kViewHandBack;
  }
  block->state = raw;
  return 0;
}

}  // namespace

int ViewEntry(int32_t op, nv::ViewBlock* block) {
  auto* v = static_cast<OdbcView*>(block->state);
  try {
    if (!Library()->usable) return 90;
    switch (op) {
      case nv::kViewOpen: {
        CallLock calls;
        return Open(block);
      }
      case nv::kViewNext:
      case nv::kViewPrevious:
        if (v && !v->primary->open()) return nv::kErrFileNotOpen;
        return v ? Read(v, op == nv::kViewNext) : 33;
      case nv::kViewRecords: {
        CallLock calls;
        if (v && !v->primary->open()) return nv::kErrFileNotOpen;
        return v ? Count(v, &block->records) : 0;
      }
      case nv::kViewClose:
        if (v) Free(v);
        block->state = nullptr;
        return 0;
      default:
        return nv::kErrNotImplemented;
    }
  } catch (const drv::AbortError& a) {
    return a.code;
  } catch (const std::bad_alloc&) {
    return 8;
  }
}

}  // namespace odbc
