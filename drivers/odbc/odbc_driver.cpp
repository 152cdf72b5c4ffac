// The ODBC driver's blocks, driver-string options, properties and the
// dispatch of its operations (see odbc_driver.h).
#include "drivers/odbc/odbc_driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "drivers/odbc/odbc_internal.h"
#include "drivers/odbc/odbc_ops.h"
#include "drivers/odbc/odbc_views.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"

namespace odbc {

using nv::DrvFcbHead;
using nv::FileDescriptor;

namespace {

bool TypeTaken(uint8_t t) {
  switch (t) {
    case nv::kTypeByte: case nv::kTypeShort: case nv::kTypeUShort: case nv::kTypeDate:
    case nv::kTypeTime: case nv::kTypeLong: case nv::kTypeULong: case nv::kTypeSReal:
    case nv::kTypeReal: case nv::kTypeDecimal: case nv::kTypePDecimal: case nv::kTypeBFloat4:
    case nv::kTypeBFloat8: case nv::kTypeString: case nv::kTypeCString: case nv::kTypePString:
    case nv::kTypeGroup:
      return true;
    default:
      return false;
  }
}

// A fixed string of 8 bytes overlaid by a group holding a date then a time.
bool TimestampPair(const nv::RecordType& rt, uint32_t n) {
  const nv::FieldDesc* s = rt.Field(int(n));
  const nv::FieldDesc* g = rt.Field(int(n + 1));
  const nv::FieldDesc* d = rt.Field(int(n + 2));
  const nv::FieldDesc* t = rt.Field(int(n + 3));
  return s && g && d && t && s->type == nv::kTypeString && s->size == 8 &&
         g->type == nv::kTypeGroup && g->over && g->offset == s->offset && g->span == 2 &&
         d->type == nv::kTypeDate && t->type == nv::kTypeTime && d->offset == s->offset &&
         t->offset == s->offset + 4;
}

}  // namespace

int OdbcDriver::CreateFcb(FileDescriptor* fd, DrvFcbHead** out) {
  auto* f = new OdbcFcb;
  *out = f;
  FillHead(f, fd);
  int err = BuildCommonBlocks(f, fd, &f->field_blocks, &f->key_blocks, &f->memo_blocks);
  if (err) return err;
  const nv::RecordType& rt = *fd->record_type;
  // Fields inside an over-layer are no columns of their own.
  std::vector<bool> inside(rt.FieldCount() + 2, false);
  for (uint32_t n = 1; n <= rt.FieldCount(); ++n) {
    const nv::FieldDesc* d = rt.Field(int(n));
    if (d->type == nv::kTypeGroup && d->over)
      for (uint32_t k = n + 1; k <= n + d->span && k <= rt.FieldCount(); ++k) inside[k] = true;
  }
  for (uint32_t n = 1; n <= rt.FieldCount(); ++n) {
    OdbcField& fb = f->field_blocks[n - 1];
    const nv::FieldDesc* d = rt.Field(int(n));
    if (!TypeTaken(d->type)) return 79;
    if (d->type == nv::kTypeGroup || inside[n] || d->over) continue;
    fb.column = true;
    fb.offset = d->offset;
    fb.shape.type = d->type;
    fb.shape.size = d->Elements() > 1 ? d->ElementSize() : d->size;
    fb.shape.places = d->places;
    fb.shape.timestamp = TimestampPair(rt, n);
    fb.shape.attrs = ParseFieldAttributes(d->name);
    fb.column_name = ColumnName(d->name, d->label, '|');
    if (fb.column_name.empty()) return 79;
    f->columns.push_back(&fb);
  }
  for (size_t i = 0; i < f->columns.size(); ++i) {
    if (i) f->column_list += ",";
    f->column_list += f->columns[i]->column_name;
  }
  for (OdbcKey& k : f->key_blocks) {
    k.unique = !(k.decl->attributes & nv::kKeyDup);
    k.index_name = ColumnName(k.external_name, k.name, '/');
    for (const nv::DrvKcbComponent& c : k.components) {
      auto* of = static_cast<OdbcField*>(c.field);
      k.parts.push_back(of);
      k.cols.push_back({of->column ? of->column_name : std::string(), c.descending});
    }
  }
  for (OdbcKey& k : f->key_blocks)
    if (k.decl->attributes & nv::kKeyPrimary) f->row_key = &k;
  if (f->row_key == nullptr)
    for (OdbcKey& k : f->key_blocks)
      if (k.unique && !f->row_key) f->row_key = &k;
  for (OdbcKey& k : f->key_blocks) {
    k.walk_cols = k.cols;
    k.walk_parts = k.parts;
    if (!k.unique && f->row_key)
      for (size_t i = 0; i < f->row_key->parts.size(); ++i) {
        if (std::find(k.parts.begin(), k.parts.end(), f->row_key->parts[i]) != k.parts.end()) continue;
        k.walk_parts.push_back(f->row_key->parts[i]);
        k.walk_cols.push_back(f->row_key->cols[i]);
      }
    for (const OdbcField* p : k.parts) k.value_length += p->shape.size + 1;
  }
  f->table = TableName(f->name);
  return 0;
}

void OdbcDriver::DeleteFcb(DrvFcbHead* fcb) {
  auto* f = static_cast<OdbcFcb*>(fcb);
  try {
    if (f->open()) CloseTable(f);
  } catch (const drv::AbortError&) {
  }
  OdbcLog::Release(f->log);
  delete f;
}

// --- Driver-string options.

namespace {

bool Truth(const std::string& v) {
  return nv::Upper(v).rfind("TRUE", 0) == 0;
}

const char* const kJoinNames[] = {"", "WATCOM", "MICROSOFT", "FIRSTSQL", "DB2", "INNER", "NONE"};
const char* const kNestNames[] = {"", "FALSE", "PARTIAL", "TRUE"};

// The keyword an option names: the keyword itself or any abbreviation of
// it; exact names first.
const char* const kKeywords[] = {
    "BINDCONSTANTS", "BINDCOLORDER", "CLIPSTRINGS", "FORCEUPPERCASE", "FASTCOLUMNFETCH",
    "GATHERATOPEN", "HINT", "ISOLATIONLEVEL", "JOINTYPE", "LOGONSCREEN", "LOGFILE", "NESTING",
    "NOPRIMARY", "NOVERIFY", "ODBCCALL", "ORDERINSELECT", "USEINNERJOIN", "USEPRIMARY",
    "VERIFYVIASELECT", "WHERE", "ZEROISNULL", "IGNORESTATUS", "HELD", "QUICKSCAN"};

std::string Keyword(const std::string& name) {
  for (const char* k : kKeywords)
    if (name == k) return k;
  for (const char* k : kKeywords)
    if (!name.empty() && std::string_view(k).rfind(name, 0) == 0) return k;
  return name;
}

std::string TrimBlanks(std::string s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

int OdbcDriver::Option(DrvFcbHead* fcb, const std::string& raw_name, const std::string& value,
                       bool has_value, bool /*from_send*/, std::string* answer) {
  auto* f = static_cast<OdbcFcb*>(fcb);
  std::string name = raw_name;
  if (!name.empty() && name[0] == '/') name.erase(0, 1);
  name = Keyword(TrimBlanks(name));
  ConnectionGroup* g = f->group;
  GroupOptions& p = f->pending;
  auto boolean = [&](bool* in_group, int* pending, bool* in_file) {
    if (has_value) {
      const bool v = Truth(value);
      if (in_file) *in_file = v;
      if (pending) *pending = v ? 1 : 0;
      if (in_group) *in_group = v;
    }
    const bool now = in_file ? *in_file : in_group ? *in_group : (pending && *pending == 1);
    *answer = now ? "TRUE" : "FALSE";
  };
  if (name == "BINDCONSTANTS") boolean(g ? &g->bind_constants : nullptr, &p.bind_constants, nullptr);
  else if (name == "CLIPSTRINGS") boolean(g ? &g->clip_strings : nullptr, &p.clip_strings, nullptr);
  else if (name == "FASTCOLUMNFETCH") boolean(g ? &g->fast_column_fetch : nullptr, &p.fast_column_fetch, nullptr);
  else if (name == "LOGONSCREEN") boolean(g ? &g->logon_screen : nullptr, &p.logon_screen, nullptr);
  else if (name == "USEINNERJOIN") boolean(g ? &g->use_inner_join : nullptr, &p.use_inner_join, nullptr);
  else if (name == "FORCEUPPERCASE") {
    boolean(g ? &g->force_upper : nullptr, &p.force_upper, nullptr);
    if (g && has_value) g->identifier_case = g->force_upper ? 1 : 0;
  } else if (name == "GATHERATOPEN") boolean(nullptr, nullptr, &f->gather_at_open);
  else if (name == "NOPRIMARY") boolean(nullptr, nullptr, &f->no_primary);
  else if (name == "NOVERIFY") boolean(nullptr, nullptr, &f->no_verify);
  else if (name == "ODBCCALL") boolean(nullptr, nullptr, &f->odbc_call);
  else if (name == "ORDERINSELECT") boolean(nullptr, nullptr, &f->order_in_select);
  else if (name == "USEPRIMARY") boolean(nullptr, nullptr, &f->use_primary);
  else if (name == "VERIFYVIASELECT") boolean(nullptr, nullptr, &f->verify_via_select);
  else if (name == "ZEROISNULL") boolean(nullptr, nullptr, &f->zero_is_null);
  else if (name == "BINDCOLORDER") {
    if (has_value) {
      int v = std::atoi(value.c_str());
      if (v < 0 || v > 2) v = 0;
      p.bind_col_order = v;
      if (g) g->bind_col_order = v;
    }
    *answer = std::to_string(g ? g->bind_col_order : std::max(0, p.bind_col_order));
  } else if (name == "ISOLATIONLEVEL") {
    if (has_value) {
      p.isolation = std::atol(value.c_str());
      if (g) g->isolation = p.isolation;
    }
    *answer = std::to_string(g ? g->isolation : std::max(0L, p.isolation));
  } else if (name == "JOINTYPE" || name == "NESTING") {
    const bool join = name == "JOINTYPE";
    if (has_value) {
      const std::string v = nv::Upper(TrimBlanks(value));
      int n = join ? 1 : 1;
      for (int i = 1; i <= (join ? 6 : 3); ++i)
        if (v == (join ? kJoinNames[i] : kNestNames[i])) n = i;
      (join ? p.join_style : p.nesting) = n;
      if (g) (join ? g->join_style : g->nesting) = n;
    }
    int now = g ? (join ? g->join_style : g->nesting) : (join ? p.join_style : p.nesting);
    if (now < 0) now = 0;
    *answer = join ? kJoinNames[std::min(now, 6)] : kNestNames[std::min(now, 3)];
  } else if (name == "HINT") {
    if (has_value) f->hint = value;
    *answer = f->hint;
  } else if (name == "WHERE") {
    if (has_value) f->where = TrimBlanks(value);
    *answer = f->where;
  } else if (name == "LOGFILE") {
    // LOGFILE=name [message], LOGFILE[message], or LOGFILE alone (closes).
    std::string v = has_value ? value : raw_name.substr(std::min(raw_name.size(), std::strlen("LOGFILE")));
    std::string message;
    size_t open = v.find('[');
    if (open != std::string::npos) {
      size_t close = v.find(']', open);
      message = v.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
      v = v.substr(0, open);
    }
    v = TrimBlanks(v);
    if (!v.empty()) {
      OdbcLog::Release(f->log);
      f->log = OdbcLog::Share(v, Library()->flush);
    } else if (message.empty()) {
      OdbcLog::Release(f->log);
      f->log = nullptr;
    }
    if (!message.empty()) LogText(f, message + "\r\n");
    *answer = f->log ? f->log->name() : "";
  } else {
    answer->clear();  // IGNORESTATUS, HELD, QUICKSCAN and unknown options: accepted
  }
  return 0;
}

bool OdbcDriver::SendText(drv::OpContext& ctx, int* error) {
  auto* f = static_cast<OdbcFcb*>(ctx.fcb);
  const std::string& msg = ctx.text[0];
  const std::string up = nv::Upper(TrimBlanks(msg));
  if (up == "IGNORESTATUS" || up == "HELD" || up == "QUICKSCAN") return *error = 0, true;
  if (!msg.empty() && msg[0] == '/') {
    std::string name, value;
    bool has_value = false;
    drv::SplitOption(msg.substr(1), &name, &value, &has_value);
    *error = Option(f, name, value, has_value, true, &ctx.text_result);
    return true;
  }
  // A statement of the program's own: the answer is its error as text.
  int err = 0;
  try {
    err = ProgramStatement(f, msg);
  } catch (const drv::AbortError& a) {
    err = a.code;
  }
  ctx.text_result = std::to_string(err);
  *error = err;
  return true;
}

// --- Properties.

bool OdbcDriver::DriverProperty(drv::OpContext& ctx, int32_t property, bool set, int* error) {
  auto* f = static_cast<OdbcFcb*>(ctx.fcb);
  const std::string& v = ctx.text[0];
  std::string& out = ctx.text_result;
  std::string ignored;
  *error = 0;
  switch (property) {
    case 29184:
      if (set)
        *error = ProgramStatement(f, v);
      else
        out = f->last_sql;
      return true;
    case 29186:
      if (set) {
        f->pending_login_timeout = std::atol(v.c_str());
        if (f->group) f->group->login_timeout = f->pending_login_timeout;
      }
      return true;
    case 29218:
      if (set) Option(f, "LOGFILE", v, true, true, &ignored);
      return true;
    case 29219:
      if (set) Option(f, "WHERE", v, true, true, &ignored);
      return true;
    case 29249:
      if (set) f->view_hint = v;
      return true;
    case 29251:
      if (set && f->group) f->group->quote = v.substr(0, 4);
      return true;
    case 29252:
      if (set) {
        f->free_text = v;
        f->view_name_set = true;
      } else
        out = f->free_text;
      return true;
    case 29253:
      if (set) DisconnectProperty(f);
      return true;
    case 29254:
      if (set) Option(f, "LOGONSCREEN", std::atoi(v.c_str()) ? "TRUE" : "FALSE", true, true, &ignored);
      return true;
    case 29259:
      if (set) Option(f, "ISOLATIONLEVEL", v, true, true, &ignored);
      return true;
    case 29261: {
      const int32_t slot = int32_t(ctx.Word(0));
      if (set && slot >= 0 && slot < 15) {
        f->stmt_options[slot] = std::atol(v.c_str());
        f->stmt_option_set[slot] = true;
      }
      return true;
    }
    case 29262:
      if (set && f->group) f->group->txn_isolation = std::atol(v.c_str());
      return true;
    case 29505:
      if (set)
        *error = SetRowSet(f, std::atol(v.c_str()));
      else
        out = std::to_string(f->rowset);
      return true;
    case 29506:
      if (set) *error = SetBatch(f, std::atol(v.c_str()));
      else out = std::to_string(f->batch);
      return true;
    default:
      return false;
  }
}

// --- Dispatch.

intptr_t OdbcDriver::ViewEntry() {
  return reinterpret_cast<intptr_t>(&odbc::ViewEntry);
}

namespace {

// Operations that send a waiting insert batch first.
bool SendsBatch(int32_t op) {
  switch (op) {
    case nv::kOpAdd: case nv::kOpAppend: case nv::kOpName: case nv::kOpSend:
    case 69: case 70: case nv::kOpSetProperty: case nv::kOpGetProperty:
      return false;
    default:
      return true;
  }
}

}  // namespace

int OdbcDriver::Run(drv::OpContext& c) {
  auto* f = static_cast<OdbcFcb*>(c.fcb);
  auto* k = static_cast<OdbcKey*>(c.kcb);
  OdbcLibrary* lib = Library();
  if (!lib->usable && c.op != nv::kOpName) {
    nv::SetFileError("", lib->load_error);
    return 90;
  }
  if (f->batched > 0 && SendsBatch(c.op)) SendBatch(f);
  switch (c.op) {
    case nv::kOpName:
      c.text_result = f->name;
      return 0;
    case nv::kOpCreate:
      return CreateTable(f);
    case nv::kOpOpen:
    case nv::kOpShare:
      return OpenTable(f, uint32_t(c.Word(0)));
    case nv::kOpClose:
      return f->open() ? CloseTable(f) : 0;
    case nv::kOpRemove:
      return RemoveTable(f);
    case nv::kOpBuildFile:
      return BuildKeys(f, nullptr, nullptr);
    case nv::kOpBuildKey:
      return BuildKeys(f, k, nullptr);
    case nv::kOpBuildIndex:
      return BuildKeys(f, k, &c.text[0]);
    case 88:
      if (std::atol(c.text[0].c_str()) == 29253) DisconnectProperty(f);
      return 0;
    case 103:
      return 0;
    default:
      break;
  }
  if (!f->open()) return nv::kErrFileNotOpen;
  switch (c.op) {
    case nv::kOpAdd:
    case nv::kOpAppend:
      return AddRow(f);
    case nv::kOpGetKey:
      return GetByKey(f, k);
    case nv::kOpGetPointer:
      return GetByPointer(f, c.Word(0));
    case nv::kOpSkip:
      return Skip(f, int32_t(c.Word(0)));
    case nv::kOpPosition:
      return Position(f, nullptr, &c.text_result);
    case nv::kOpPositionKey:
      return Position(f, k, &c.text_result);
    case nv::kOpResetKey:
      return Reset(f, k, c.text[0]);
    case nv::kOpRegetFile:
      return Reget(f, nullptr, c.text[0]);
    case nv::kOpRegetKey:
      return Reget(f, k, c.text[0]);
    case nv::kOpHold:
      return Hold(f, false, 0);
    case nv::kOpHoldTimeout:
      return Hold(f, true, int32_t(c.Word(0)));
    case nv::kOpRelease:
      return Release(f);
    case nv::kOpWatch:
      return Watch(f);
    case 96:
      c.text_result = NullBlock(f);
      return 0;
    case 97:
      return SetNullBlock(f, c.text[0]);
    case nv::kOpDuplicate:
      return Duplicate(f, nullptr, &c.result);
    case nv::kOpDuplicateKey:
      return Duplicate(f, k, &c.result);
    case nv::kOpPut:
      return PutRow(f);
    case nv::kOpDelete:
      return DeleteRow(f);
    case nv::kOpSetFile:
      return SetRead(f, ReadMode::kFile, nullptr);
    case nv::kOpSetFileKey:
      return SetRead(f, ReadMode::kFileFromKey, k);
    case nv::kOpSetKey:
      return SetRead(f, ReadMode::kKeyStart, k);
    case nv::kOpSetKeyKey:
      return SetRead(f, ReadMode::kKeyValue, k);
    case nv::kOpNext:
      return Step(f, true);
    case nv::kOpPrevious:
      return Step(f, false);
    case nv::kOpRecords:
      return CountRows(f, nullptr, &c.result);
    case nv::kOpRecordsKey:
      return CountRows(f, k, &c.result);
    case nv::kOpBytes: {
      intptr_t n = 0;
      if (f->state & nv::kStateBytesRecordLength) {
        c.result = intptr_t(f->record_length);
        return 0;
      }
      int err = CountRows(f, nullptr, &n);
      c.result = n * intptr_t(f->record_length);
      return err;
    }
    case nv::kOpEmpty:
      return Execute(f, "DELETE FROM " + f->table);
    case nv::kOpLogout:
      Transaction(f, kBegin);
      return 0;
    case nv::kOpCommit:
      Transaction(f, kCommit);
      return 0;
    case nv::kOpRollback:
      Transaction(f, kRollback);
      return 0;
    case 80:
      return SetRowSet(f, long(c.Word(0)));
    case 68:
    case 69:
    case 70:
      return NullOperation(f, c.op, c.Word(0), c.Word(1), &c.result);
    case nv::kOpLock:
    case nv::kOpLockTimeout:
    case nv::kOpPack:
    case nv::kOpUnlock:
      return 0;
    default:
      return nv::kErrNotImplemented;
  }
}

}  // namespace odbc
