// Views over files (see view.h for the states and invariants).
#include "host/runtime/view.h"

#include <algorithm>
#include <cstring>

#include "host/runtime/error_state.h"

namespace nv {

namespace {

constexpr int kEndOfFile = 33;

std::string ViewError(std::string_view what, int position, std::string_view detail) {
  return "Error en " + std::string(what) + ", posición " + std::to_string(position) + ": " +
         std::string(detail);
}

int FieldOf(int32_t component) {
  return component >= 0 ? component : ~component;
}

bool IsTextCell(const expr::Cell& c) {
  return c.type == kTypeString || c.type == kTypeCString || c.type == kTypePString ||
         c.type == kTypeGroup || c.type == expr::kCellText;
}

// Record images holding the first (low) and last (high) value every field of
// a key can hold. Strings start at blanks, which sort first whether keys
// compare clipped or padded.
struct Extremes {
  std::vector<uint8_t> low, high;
  explicit Extremes(const RecordType& rt) : low(rt.length), high(rt.length) {
    ClearRecord(rt, low.data(), -1);
    ClearRecord(rt, high.data(), 1);
    for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
      const FieldDesc* f = rt.Field(int(i));
      if (f->type == kTypeString && f->offset + f->size <= rt.length) {
        std::memset(low.data() + f->offset, ' ', f->size);
      }
    }
  }
  void Fill(const RecordType& rt, int field, uint8_t* record, bool to_high) const {
    const FieldDesc* f = rt.Field(field);
    if (!f || f->offset + f->size > rt.length) return;
    std::memcpy(record + f->offset, (to_high ? high : low).data() + f->offset, f->size);
  }
};

}  // namespace

RecordProjection::RecordProjection(const RecordType& rt, std::string_view prefix,
                                   const std::vector<std::string>& labels, std::string* unknown) {
  kept_.assign(rt.length, 0);
  const std::string own = Upper(prefix);
  for (const std::string& label : labels) {
    const size_t colon = label.find(':');
    if (colon == std::string::npos || Upper(std::string_view(label).substr(0, colon)) != own) {
      continue;
    }
    // Fields carry the record's own prefix; an alias names them under its own.
    const int n = rt.FindField(rt.prefix + label.substr(colon));
    const FieldDesc* f = n > 0 ? rt.Field(n) : nullptr;
    if (f == nullptr || f->offset + f->size > rt.length) {
      if (unknown != nullptr && unknown->empty()) *unknown = label;
      continue;
    }
    std::fill(kept_.begin() + f->offset, kept_.begin() + f->offset + f->size, 1);
  }
  // Bytes of fields (groups are cleared through theirs) that nothing kept.
  std::vector<uint8_t> clear(rt.length, 0);
  for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
    const FieldDesc* f = rt.Field(int(i));
    if (f->type == kTypeGroup || f->offset + f->size > rt.length) continue;
    for (uint32_t at = f->offset; at < f->offset + f->size; ++at) clear[at] = !kept_[at];
  }
  for (uint32_t at = 0; at < rt.length;) {
    if (!clear[at]) {
      ++at;
      continue;
    }
    uint32_t end = at;
    while (end < rt.length && clear[end]) ++end;
    spans_.emplace_back(at, end - at);
    at = end;
  }
  if (spans_.empty()) {
    kept_.clear();
    return;
  }
  blank_.resize(rt.length);
  ClearRecord(rt, blank_.data(), 0);
}

bool RecordProjection::Keeps(uint32_t offset, uint32_t size) const {
  if (kept_.empty()) return true;
  for (uint32_t at = offset; at < offset + size && at < kept_.size(); ++at) {
    if (kept_[at]) return true;
  }
  return false;
}

void RecordProjection::Clear(uint8_t* record) const {
  for (const auto& [offset, size] : spans_) {
    std::memcpy(record + offset, blank_.data() + offset, size);
  }
}

struct View::Join_ {
  File* file = nullptr;
  std::string prefix;
  KeyDecl* key = nullptr;
  bool inner = false;
  std::vector<std::string> parent_labels;
  std::vector<expr::Cell> parents;     // value of each joined component
  std::vector<expr::Cell> components;  // the joined file's component fields
  std::vector<int32_t> component_codes;
  bool no_case = false;
  // Joins on fewer fields than the key has components: the start values of
  // the other components, and the probe written (to check what NEXT found).
  std::unique_ptr<Extremes> extremes;
  std::vector<uint8_t> probe;
  std::vector<expr::Cell> probe_cells;
};

struct View::Window_ {
  struct Part {
    expr::Cell cell;  // the field in the primary record
    Value low, high;
    std::string label;
  };
  explicit Window_(const RecordType& rt) : extremes(rt) {}
  std::vector<Part> parts;
  Extremes extremes;
  // The record's window fields against the low (or high) tuple, in key order.
  int Compare(bool high, bool no_case) const {
    for (const Part& p : parts) {
      int c = expr::CompareScalars(expr::ReadCell(p.cell), expr::FromValue(high ? p.high : p.low),
                                   no_case);
      if (c != 0) return c;
    }
    return 0;
  }
  bool empty = false;  // the low tuple lies above the high one
  // After a seek past a leading value: that value, for the rare records that
  // stand exactly at the key's far end and are read once more.
  std::vector<uint8_t> past;
  bool skipping = false;
  std::vector<uint8_t> missed;  // the leading value of the misses counted
};

namespace {

// Records of one leading value read outside the window before the walk
// seeks: short runs cost less to read than to seek over.
constexpr int kWindowProbe = 4;

}  // namespace

struct View::OrderPart {
  std::string label;
  bool descending = false;
  bool text = false;
  expr::Cell cell;
};

View::View(File* primary) : primary_(primary) {
  bindings_.BindFile(primary);
}
View::~View() {
  StopServing();
}

void View::Reconfigure() {
  StopServing();
  state_ = State::kIdle;
  entries_.clear();
  arena_.clear();
  sorted_fresh_ = false;
  count_ = -1;
  count_fresh_ = false;
}

void View::SetKey(KeyDecl* key) {
  Reconfigure();
  key_ = key;
  window_.reset();  // its fields were checked against the old key
  leading_field_ = 0;
  leading_descending_ = false;
  leading_no_case_ = false;
  if (key && key->component_count > 0) {
    leading_field_ = FieldOf(key->components[0]);
    leading_descending_ = key->components[0] < 0;
    leading_no_case_ = (key->attributes & kKeyNoCase) != 0;
  }
}

bool View::SetOrder(std::string_view text, expr::Error* error) {
  expr::Error local;
  expr::Error* e = error ? error : &local;
  *e = expr::Error{};
  std::vector<OrderPart> parts;
  size_t pos = 0;
  while (!text.empty() && pos <= text.size()) {
    size_t comma = text.find(',', pos);
    size_t end = comma == std::string_view::npos ? text.size() : comma;
    size_t b = pos, f = end;
    while (b < f && text[b] == ' ') ++b;
    while (f > b && text[f - 1] == ' ') --f;
    OrderPart part;
    if (b < f && (text[b] == '-' || text[b] == '+')) {
      part.descending = text[b] == '-';
      ++b;
      while (b < f && text[b] == ' ') ++b;
    }
    part.label = std::string(text.substr(b, f - b));
    const int position = int(b) + 1;
    if (part.label.empty()) {
      e->position = position;
      e->message = ViewError("el orden", position, "se esperaba un campo");
      return false;
    }
    if (!bindings_.FindField(part.label, &part.cell)) {
      e->position = position;
      e->message = ViewError("el orden", position, "campo desconocido '" + part.label + "'");
      return false;
    }
    part.text = IsTextCell(part.cell);
    parts.push_back(std::move(part));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  Reconfigure();
  order_ = std::move(parts);
  return true;
}

void View::SetRange(const Value& low, const Value& high) {
  Reconfigure();
  has_range_ = true;
  low_ = low;
  high_ = high;
}

void View::ClearRange() {
  Reconfigure();
  has_range_ = false;
}

bool View::SetWindow(const std::vector<std::string>& fields, const std::vector<Value>& low,
                     const std::vector<Value>& high, expr::Error* error) {
  expr::Error local;
  expr::Error* e = error ? error : &local;
  *e = expr::Error{};
  auto fail = [&](std::string_view detail) {
    e->position = 1;
    e->message = ViewError("la ventana", 1, detail);
    return false;
  };
  if (!key_ || leading_field_ == 0 || !primary_->decl().record) {
    return fail("la vista no tiene clave");
  }
  if (fields.empty() || low.size() != fields.size() || high.size() != fields.size()) {
    return fail("se esperaba un valor inicial y uno final por campo");
  }
  const RecordType& rt = *primary_->decl().record;
  auto w = std::make_unique<Window_>(rt);
  uint8_t next = 1;  // the key component the next field must cover
  for (size_t i = 0; i < fields.size(); ++i) {
    expr::Cell cell;
    File* file = nullptr;
    if (!bindings_.FindField(fields[i], &cell, &file) || file != primary_) {
      return fail("campo desconocido '" + fields[i] + "'");
    }
    const size_t from = size_t(static_cast<const uint8_t*>(cell.address) - primary_->record());
    const uint8_t first = next;
    for (; next < key_->component_count; ++next) {
      const int32_t code = key_->components[next];
      const FieldDesc* f = rt.Field(FieldOf(code));
      if (!f || f->offset < from || f->offset + f->size > from + cell.size) break;
      if (code < 0) return fail("'" + fields[i] + "' cubre un componente descendente");
    }
    if (next == first) {
      return fail("'" + fields[i] + "' no sigue en la clave a los campos anteriores");
    }
    w->parts.push_back({cell, low[i], high[i], fields[i]});
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const int c =
        expr::CompareScalars(expr::FromValue(low[i]), expr::FromValue(high[i]), leading_no_case_);
    if (c != 0) {
      w->empty = c > 0;
      break;
    }
  }
  Reconfigure();
  window_ = std::move(w);
  return true;
}

void View::ClearWindow() {
  Reconfigure();
  window_.reset();
}

bool View::SetFilter(std::string_view text, expr::Error* error) {
  expr::Error local;
  expr::Error* e = error ? error : &local;
  *e = expr::Error{};
  if (Clip(text).empty()) {
    Reconfigure();
    filter_.reset();
    return true;
  }
  auto compiled = expr::Expression::Compile(text, bindings_, e);
  if (!compiled) return false;
  Reconfigure();
  filter_ = std::move(compiled);
  return true;
}

bool View::Project(std::vector<std::string> labels, expr::Error* error) {
  expr::Error local;
  expr::Error* e = error ? error : &local;
  *e = expr::Error{};
  for (size_t i = 0; i < labels.size(); ++i) {
    File* file = nullptr;
    const bool of_view =
        bindings_.FindField(labels[i], nullptr, &file) &&
        (file == primary_ ||
         std::any_of(joins_.begin(), joins_.end(), [&](const auto& j) { return j->file == file; }));
    if (!of_view) {
      e->position = int(i) + 1;
      e->message = ViewError("la proyección", int(i) + 1,
                             "'" + labels[i] + "' no es un campo de los archivos de la vista");
      return false;
    }
  }
  Reconfigure();
  projected_ = std::move(labels);
  return true;
}

bool View::Join(File* file, KeyDecl* key, const std::vector<std::string>& parent_fields,
                expr::Error* error, bool inner, std::string_view prefix) {
  expr::Error local;
  expr::Error* e = error ? error : &local;
  *e = expr::Error{};
  auto fail = [&](std::string_view detail) {
    e->position = 1;
    e->message = ViewError("la relación", 1, detail);
    return false;
  };
  if (!file || !key || !file->decl().record) return fail("falta el archivo o la clave");
  if (parent_fields.empty() || parent_fields.size() > key->component_count) {
    return fail("la clave no tiene tantos componentes como campos dados");
  }
  auto j = std::make_unique<Join_>();
  j->file = file;
  j->key = key;
  j->inner = inner;
  j->no_case = (key->attributes & kKeyNoCase) != 0;
  j->prefix = prefix.empty() ? file->decl().record->prefix : std::string(prefix);
  const RecordType& rt = *file->decl().record;
  for (size_t i = 0; i < key->component_count; ++i) {
    int32_t code = key->components[i];
    expr::Cell c = expr::FieldCell(rt, FieldOf(code), file->record());
    if (!c.address) return fail("un componente de la clave no es un campo");
    j->components.push_back(c);
    j->component_codes.push_back(code);
  }
  for (const std::string& label : parent_fields) {
    expr::Cell c;
    if (!bindings_.FindField(label, &c)) return fail("campo desconocido '" + label + "'");
    j->parents.push_back(c);
    j->parent_labels.push_back(label);
  }
  if (j->parents.size() < j->components.size()) {
    j->extremes = std::make_unique<Extremes>(rt);
    j->probe.resize(rt.length);
    for (size_t i = 0; i < j->parents.size(); ++i) {
      j->probe_cells.push_back(
          expr::FieldCell(rt, FieldOf(j->component_codes[i]), j->probe.data()));
    }
  }
  Reconfigure();
  bindings_.BindFile(file, j->prefix);
  joins_.push_back(std::move(j));
  return true;
}

bool View::DoJoins() {
  for (auto& jp : joins_) {
    Join_& j = *jp;
    const RecordType& rt = *j.file->decl().record;
    uint8_t* rec = j.file->record();
    for (size_t i = 0; i < j.parents.size(); ++i) {
      expr::Scalar v = expr::ReadCell(j.parents[i]);
      const auto* a = static_cast<const uint8_t*>(j.parents[i].address);
      if (v.is_text && a >= rec && a < rec + rt.length) {
        std::string keep(v.text);  // a field of the same buffer (rare): copy it first
        v.text = keep;
        expr::WriteCell(j.components[i], v);
        continue;
      }
      expr::WriteCell(j.components[i], v);
    }
    int err;
    if (!j.extremes) {
      err = j.file->Get(j.key);
    } else {
      for (size_t i = j.parents.size(); i < j.components.size(); ++i) {
        j.extremes->Fill(rt, FieldOf(j.component_codes[i]), rec, j.component_codes[i] < 0);
      }
      std::memcpy(j.probe.data(), rec, rt.length);
      err = j.file->Set(j.key, j.key);
      if (err == 0) err = j.file->Next();
      for (size_t i = 0; err == 0 && i < j.probe_cells.size(); ++i) {
        if (expr::CompareScalars(expr::ReadCell(j.components[i]), expr::ReadCell(j.probe_cells[i]),
                                 j.no_case) != 0) {
          err = 35;
        }
      }
    }
    if (err != 0) {
      ClearRecord(rt, rec, 0);
      if (j.inner) return false;
    }
  }
  return true;
}

int View::RangeCheck() {
  if (!has_range_ || !key_ || leading_field_ == 0) return 0;
  const RecordType& rt = *primary_->decl().record;
  expr::Scalar v = expr::ReadCell(expr::FieldCell(rt, leading_field_, primary_->record()));
  if (expr::CompareScalars(v, expr::FromValue(low_), leading_no_case_) < 0) return -1;
  if (expr::CompareScalars(v, expr::FromValue(high_), leading_no_case_) > 0) return 1;
  return 0;
}

int View::Position(int dir) {
  if (!key_) return primary_->Set();  // record order: the driver knows both ends
  const RecordType& rt = *primary_->decl().record;
  uint8_t* rec = primary_->record();
  // Toward the low end of the walk: ascending components take their first
  // value, descending ones their last; the other way round for the high end.
  const Extremes extremes(rt);
  for (uint8_t i = 0; i < key_->component_count; ++i) {
    int32_t code = key_->components[i];
    bool high = (dir > 0) == (code < 0);
    extremes.Fill(rt, FieldOf(code), rec, high);
  }
  if (has_range_ && leading_field_ != 0) {
    bool walk_up = (dir > 0) != leading_descending_;
    expr::WriteCell(expr::FieldCell(rt, leading_field_, rec),
                    expr::FromValue(walk_up ? low_ : high_));
  }
  if (window_) {
    if (dir > 0) {
      for (const Window_::Part& p : window_->parts) {
        expr::WriteCell(p.cell, expr::FromValue(p.low));
      }
    }
    window_->skipping = false;
  }
  window_misses_ = 0;
  return primary_->Set(key_, key_);
}

int View::WindowCheck() {
  if (window_->Compare(false, leading_no_case_) < 0) return -1;
  if (window_->Compare(true, leading_no_case_) > 0) return 1;
  return 0;
}

int View::Missed() {
  // Only misses of one leading value count: values with a few records each
  // (numbers, say) are read, not sought over.
  const FieldDesc* lead = primary_->decl().record->Field(leading_field_);
  const uint8_t* value = primary_->record() + lead->offset;
  std::vector<uint8_t>& missed = window_->missed;
  if (window_misses_ > 0 && std::memcmp(value, missed.data(), missed.size()) == 0) {
    return ++window_misses_;
  }
  missed.assign(value, value + lead->size);
  return window_misses_ = 1;
}

int View::WindowSeek(int side) {
  const RecordType& rt = *primary_->decl().record;
  uint8_t* rec = primary_->record();
  // The leading value stays as the record has it. Short of the window: the
  // window's start, the free components at their first values; past the
  // window: every component after the leading one at its last value.
  for (uint8_t i = 1; i < key_->component_count; ++i) {
    const int32_t code = key_->components[i];
    window_->extremes.Fill(rt, FieldOf(code), rec, side > 0 ? code >= 0 : code < 0);
  }
  if (side < 0) {
    for (const Window_::Part& p : window_->parts) expr::WriteCell(p.cell, expr::FromValue(p.low));
  } else {
    const FieldDesc* lead = rt.Field(leading_field_);
    window_->past.assign(rec + lead->offset, rec + lead->offset + lead->size);
    window_->skipping = true;
  }
  ++window_seeks_;
  return primary_->Set(key_, key_);
}

int View::Step(int dir) {
  if (window_ && window_->empty) {
    SetError(kEndOfFile);
    return kEndOfFile;
  }
  for (;;) {
    int err = dir > 0 ? primary_->Next() : primary_->Previous();
    if (err != 0) return err;
    if (int r = RangeCheck()) {
      bool walk_up = (dir > 0) != leading_descending_;
      if ((r > 0) == walk_up) {
        SetError(kEndOfFile);
        return kEndOfFile;
      }
      continue;  // short of the range (a driver that positioned loosely)
    }
    if (window_) {
      if (window_->skipping) {
        const FieldDesc* lead = primary_->decl().record->Field(leading_field_);
        if (std::memcmp(primary_->record() + lead->offset, window_->past.data(),
                        window_->past.size()) == 0) {
          continue;  // still the value sought past
        }
        window_->skipping = false;
      }
      if (int side = WindowCheck()) {
        if (dir > 0 && Missed() >= kWindowProbe) {
          window_misses_ = 0;
          if (int seek = WindowSeek(side)) return seek;
        }
        continue;
      }
      window_misses_ = 0;
    }
    if (!DoJoins()) continue;
    if (filter_ && !filter_->Matches()) continue;
    ClearError();
    return 0;
  }
}

int View::BuildSorted() {
  entries_.clear();
  arena_.clear();
  if (int err = Position(+1)) return err;
  for (;;) {
    int err = Step(+1);
    if (err == kEndOfFile) break;
    if (err != 0) return err;
    int32_t pointer = primary_->Pointer();
    if (ErrorCode() != 0) return ErrorCode();
    Entry entry{uint32_t(arena_.size()), pointer};
    for (const OrderPart& part : order_) {
      expr::Scalar s = expr::ReadCell(part.cell);
      if (part.text) {
        std::string_view t = Clip(s.is_text ? s.text : std::string_view());
        uint32_t n = uint32_t(t.size());
        const uint8_t* np = reinterpret_cast<const uint8_t*>(&n);
        arena_.insert(arena_.end(), np, np + sizeof n);
        arena_.insert(arena_.end(), t.begin(), t.end());
      } else {
        const uint8_t* dp = reinterpret_cast<const uint8_t*>(&s.number);
        arena_.insert(arena_.end(), dp, dp + sizeof s.number);
      }
    }
    entries_.push_back(entry);
  }
  const uint8_t* base = arena_.data();
  auto less = [&](const Entry& a, const Entry& b) {
    const uint8_t* p = base + a.offset;
    const uint8_t* q = base + b.offset;
    for (const OrderPart& part : order_) {
      int r;
      if (part.text) {
        uint32_t n, m;
        std::memcpy(&n, p, sizeof n);
        std::memcpy(&m, q, sizeof m);
        p += sizeof n;
        q += sizeof m;
        int c = std::memcmp(p, q, std::min(n, m));
        r = c != 0 ? c : (n < m ? -1 : (n > m ? 1 : 0));
        p += n;
        q += m;
      } else {
        double x, y;
        std::memcpy(&x, p, sizeof x);
        std::memcpy(&y, q, sizeof y);
        p += sizeof x;
        q += sizeof y;
        r = x < y ? -1 : (x > y ? 1 : 0);
      }
      if (part.descending) r = -r;
      if (r != 0) return r < 0;
    }
    return false;
  };
  std::stable_sort(entries_.begin(), entries_.end(), less);
  ClearError();
  return 0;
}

void View::StopServing() {
  if (entry_ != nullptr) entry_(kViewClose, &block_);
  entry_ = nullptr;
}

int View::Serve() {
  StopServing();
  block_ = ViewBlock{};
  if (!driver_views_) return kViewHandBack;
  // Every file of the view must answer with the same view entry.
  auto entry_of = [](File* f) { return reinterpret_cast<ViewEntryFn>(f->Call(kOpViewEntry)); };
  ViewEntryFn entry = entry_of(primary_);
  if (entry == nullptr) return kViewHandBack;
  for (const auto& j : joins_) {
    if (entry_of(j->file) != entry) {
      block_.reason = "los archivos de la vista son de distintos drivers";
      return kViewHandBack;
    }
  }
  const ViewDescriptor d = Descriptor();
  block_.descriptor = &d;
  block_.bindings = &bindings_;
  const int err = entry(kViewOpen, &block_);
  block_.descriptor = nullptr;
  if (err == 0) entry_ = entry;
  return err;
}

int View::Set() {
  index_ = -1;
  window_seeks_ = 0;
  if (!count_fresh_) count_ = -1;
  const int served = Serve();
  if (served == 0) {
    state_ = State::kReady;
    ClearError();
    return 0;
  }
  if (served != kViewHandBack) {
    state_ = State::kIdle;
    SetError(served);
    return served;
  }
  cleared_.clear();
  if (!projected_.empty()) {
    auto note = [&](File* f, const std::string& prefix) {
      RecordProjection p(*f->decl().record, prefix, projected_);
      if (!p.whole()) cleared_.emplace_back(f, std::move(p));
    };
    note(primary_, primary_->decl().record->prefix);
    for (const auto& j : joins_) note(j->file, j->prefix);
  }
  if (!order_.empty()) {
    int err = sorted_fresh_ ? 0 : BuildSorted();
    sorted_fresh_ = false;
    if (err != 0) {
      state_ = State::kIdle;
      return err;
    }
  }
  state_ = State::kReady;
  ClearError();
  return 0;
}

int View::StepSorted(int dir) {
  for (;;) {
    index_ += dir;
    if (index_ < 0 || index_ >= int64_t(entries_.size())) {
      index_ = index_ < 0 ? -1 : int64_t(entries_.size());
      SetError(kEndOfFile);
      return kEndOfFile;
    }
    int err = primary_->Get(entries_[size_t(index_)].pointer);
    if (err == 35) continue;  // deleted since the pre-pass
    if (err != 0) return err;
    if (!DoJoins()) continue;
    ClearError();
    return 0;
  }
}

int View::Next() {
  if (state_ == State::kIdle) {
    if (int err = Set()) return err;
  }
  if (entry_ != nullptr) {
    state_ = State::kWalking;
    const int err = entry_(kViewNext, &block_);
    err == 0 ? ClearError() : SetError(err);
    return err;
  }
  if (state_ == State::kReady) {
    count_fresh_ = false;
    state_ = State::kWalking;
    if (order_.empty()) {
      if (int err = Position(+1)) return err;
    } else {
      index_ = -1;
    }
  }
  return Handed(order_.empty() ? Step(+1) : StepSorted(+1));
}

int View::Previous() {
  if (state_ == State::kIdle) {
    if (int err = Set()) return err;
  }
  if (entry_ != nullptr) {
    state_ = State::kWalking;
    const int err = entry_(kViewPrevious, &block_);
    err == 0 ? ClearError() : SetError(err);
    return err;
  }
  if (state_ == State::kReady) {
    count_fresh_ = false;
    state_ = State::kWalking;
    if (order_.empty()) {
      if (int err = Position(-1)) return err;
    } else {
      index_ = int64_t(entries_.size());
    }
  }
  return Handed(order_.empty() ? Step(-1) : StepSorted(-1));
}

int View::Handed(int err) {
  if (err == 0) {
    for (const auto& [file, projection] : cleared_) projection.Clear(file->record());
  }
  return err;
}

int View::CountPass(int64_t* count) {
  std::string position;
  const bool restore = state_ == State::kWalking;
  if (restore) position = key_ ? primary_->Position(key_) : primary_->Position();
  int64_t n = 0;
  int err = Position(+1);
  while (err == 0) {
    err = Step(+1);
    if (err == 0) ++n;
  }
  if (err != kEndOfFile) return err;
  *count = n;
  if (restore && !position.empty()) {
    // Back on the record the walk stands on, buffers included.
    int r = key_ ? primary_->Reset(key_, position) : primary_->Reset(position);
    if (r == 0 && primary_->Next() == 0 && DoJoins()) Handed(0);
  }
  ClearError();
  return 0;
}

int64_t View::Records() {
  if (entry_ != nullptr) {
    const int err = entry_(kViewRecords, &block_);
    return err == 0 ? block_.records : -1;
  }
  if (!order_.empty()) {
    if (state_ == State::kIdle && !sorted_fresh_) {
      if (BuildSorted() != 0) return -1;
      sorted_fresh_ = true;
    }
    return int64_t(entries_.size());
  }
  if (!filter_ && !has_range_ && !window_ &&
      std::none_of(joins_.begin(), joins_.end(), [](const auto& j) { return j->inner; })) {
    return primary_->Records();
  }
  if (count_ < 0) {
    int64_t n = 0;
    if (CountPass(&n) != 0) return -1;
    count_ = n;
    count_fresh_ = state_ != State::kWalking;
  }
  return count_;
}

ViewDescriptor View::Descriptor() const {
  ViewDescriptor d;
  d.primary = primary_;
  d.primary_prefix = primary_->decl().record ? primary_->decl().record->prefix : "";
  d.key = key_;
  for (const auto& j : joins_) {
    ViewJoinDesc jd;
    jd.file = j->file;
    jd.prefix = j->prefix;
    jd.key = j->key;
    jd.components.assign(j->component_codes.begin(),
                         j->component_codes.begin() + long(j->parents.size()));
    jd.parent_fields = j->parent_labels;
    jd.inner = j->inner;
    d.joins.push_back(std::move(jd));
  }
  for (const OrderPart& p : order_) d.order.push_back({p.label, p.descending});
  if (filter_) {
    d.condition = &filter_->tree();
    d.filter = filter_->text();
  }
  d.has_range = has_range_;
  d.low = low_;
  d.high = high_;
  if (window_) {
    for (const Window_::Part& p : window_->parts) {
      d.window_fields.push_back(p.label);
      d.window_low.push_back(p.low);
      d.window_high.push_back(p.high);
    }
  }
  if (!projected_.empty()) {
    d.projected = projected_;
  } else {
    auto add = [&](const File* f, const std::string& prefix) {
      const RecordType& rt = *f->decl().record;
      for (uint32_t i = 1; i <= rt.FieldCount(); ++i) {
        const FieldDesc* fd = rt.Field(int(i));
        if (fd->type == kTypeGroup) continue;
        std::string_view label = fd->label;
        size_t colon = label.find(':');
        d.projected.push_back(prefix + ":" + std::string(label.substr(colon + 1)));
      }
    };
    if (primary_->decl().record) add(primary_, d.primary_prefix);
    for (const auto& j : joins_) add(j->file, j->prefix);
  }
  return d;
}

}  // namespace nv
