#include "host/ui/browse.h"

#include <algorithm>
#include <mutex>

#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/expr.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/read_fields.h"
#include "host/ui/field_access.h"
#include "host/ui/window.h"

namespace nv::ui {

namespace {

std::mutex g_compiler_mu;
FilterCompiler& Compiler() {
  static FilterCompiler c;
  return c;
}

bool SameLabel(std::string_view a, std::string_view b) {
  return Upper(a) == Upper(b);
}

// The fields of `file` a filter text reads, when the text alone says: every
// name in it is a field of the file (INRANGE aside). A variable, another
// file's field or a procedure might read any byte of the buffer: unknown.
std::optional<std::vector<std::string>> FilterTextReads(nv::File& file, std::string_view text) {
  expr::Error error;
  std::unique_ptr<expr::Node> tree = expr::Parse(text, &error);
  const RecordType* rt = file.decl().record.get();
  if (!tree || !rt) return std::nullopt;
  std::vector<std::string> reads;
  bool known = true;
  auto walk = [&](const auto& self, const expr::Node& n) -> void {
    if (n.kind == expr::NodeKind::kName || n.kind == expr::NodeKind::kField) {
      if (rt->FindField(n.text) != 0) {
        reads.push_back(n.text);
      } else {
        known = false;
      }
    } else if (n.kind == expr::NodeKind::kCall && !SameLabel(n.text, "INRANGE")) {
      known = false;
    }
    for (const auto& c : n.children) self(self, *c);
  };
  walk(walk, *tree);
  if (!known) return std::nullopt;
  return reads;
}

}  // namespace

void SetFilterCompiler(FilterCompiler compiler) {
  std::lock_guard<std::mutex> lock(g_compiler_mu);
  Compiler() = std::move(compiler);
}

Request RequestFromCode(std::string_view code) {
  std::string c = Upper(Clip(code));
  if (c == "A") return Request::kInsert;
  if (c == "M") return Request::kChange;
  if (c == "B") return Request::kDelete;
  return Request::kView;
}

Browse::Browse(nv::File* file) : file_(file) {}

int Browse::AddOrder(std::string name, nv::KeyDecl* key) {
  orders_.push_back({std::move(name), key});
  row_fields_known_ = false;
  if (order_ < 0) order_ = 0;
  return int(orders_.size()) - 1;
}

int Browse::AddOrder(std::string name, std::string_view key_label) {
  nv::KeyDecl* k = file_->key(key_label);
  if (!k) return -1;
  return AddOrder(std::move(name), k);
}

void Browse::SetOrder(int index) {
  if (index < 0 || index >= int(orders_.size())) return;
  order_ = index;
  row_fields_known_ = false;
  Reset();
}

nv::KeyDecl* Browse::key() const {
  return order_ >= 0 ? orders_[size_t(order_)].key : nullptr;
}

void Browse::SetColumns(std::vector<Column> columns) {
  columns_ = std::move(columns);
  row_fields_known_ = false;
  column_fields_.clear();
  column_formats_.clear();
  for (const Column& c : columns_) {
    const FieldDesc* f = c.field.empty() ? nullptr : FindField(*file_, c.field);
    column_fields_.push_back(f);
    ColumnFormat cf;
    const std::string& picture = c.picture.empty() && f ? f->picture : c.picture;
    cf.plain = picture.empty();
    cf.parsed = !cf.plain && nv::ParsePicture(picture, &cf.picture);
    column_formats_.push_back(cf);
  }
}

void Browse::SetRange(std::vector<std::function<nv::Value()>> bounds) {
  range_ = std::move(bounds);
  row_fields_known_ = false;
}

void Browse::SetRange(const nv::Value& fixed) {
  range_ = {[fixed] { return fixed; }};
  row_fields_known_ = false;
}

bool Browse::SetFilterText(std::string_view text) {
  FilterCompiler compiler;
  {
    std::lock_guard<std::mutex> lock(g_compiler_mu);
    compiler = Compiler();
  }
  if (!compiler) {
    filter_error_ = "no hay evaluador de filtros";
    return false;
  }
  std::string error;
  std::function<bool()> f = compiler(*file_, text, &error);
  if (!f) {
    filter_error_ = error.empty() ? "filtro incorrecto" : error;
    return false;
  }
  filter_error_.clear();
  filter_ = std::move(f);
  filter_reads_ = FilterTextReads(*file_, text);
  row_fields_known_ = false;
  return true;
}

// A move reads its rows with the file's reads narrowed to the fields the
// rows need; when the outermost move ends the file reads whole records
// again, so other users of the file never meet a narrowed read.
class Browse::RowReads {
 public:
  explicit RowReads(Browse* b) : b_(b) { ++b_->row_reads_depth_; }
  // A move that read rows narrowed after its last load of the highlighted
  // record (one that did not change the highlight) loads it again, so the
  // buffer never keeps a row read in part.
  ~RowReads() {
    if (--b_->row_reads_depth_ != 0) return;
    const bool narrowed = b_->reads_narrowed_;
    b_->WholeReads();
    if (narrowed && b_->load_on_move_) b_->LoadHighlighted();
  }
  RowReads(const RowReads&) = delete;
  RowReads& operator=(const RowReads&) = delete;

 private:
  Browse* b_;
};

std::string Browse::RowFields() const {
  const RecordType* rt = file_->decl().record.get();
  if (!rt || !key() || (filter_ && !filter_reads_)) return {};
  std::vector<int> numbers;
  auto add = [&](const FieldDesc* f) {
    numbers.push_back(int(f - rt->fields.data()));
  };
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (column_fields_[i]) {
      add(column_fields_[i]);
    } else if (columns_[i].value) {
      return {};  // computed by code: it may read any field
    }
  }
  const std::vector<Component> comps = Components();
  for (size_t i = 0; i < range_.size() && i < comps.size(); ++i) add(comps[i].field);
  if (filter_reads_) {
    for (const std::string& label : *filter_reads_) {
      const int n = rt->FindField(label);
      if (n == 0) return {};
      numbers.push_back(n);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ",") + std::to_string(n);
  return text;
}

void Browse::NarrowReads() {
  if (reads_narrowed_ || row_reads_depth_ == 0) return;
  if (!row_fields_known_) {
    row_fields_ = RowFields();
    row_fields_known_ = true;
  }
  if (row_fields_.empty()) return;
  // A driver that does not know the property answers it as not handled.
  reads_narrowed_ = file_->Call(kOpSetProperty, nullptr, {0},
                                {row_fields_, std::to_string(kPropReadFields)}) != 0 &&
                    ErrorCode() == 0;
}

void Browse::WholeReads() {
  if (!reads_narrowed_) return;
  file_->SetProperty(kPropReadFields, "");
  reads_narrowed_ = false;
}

void Browse::SetPageSize(int rows) {
  page_ = std::max(1, rows);
}

int Browse::shown() const {
  return std::min(int(rows_.size()), page_);
}

std::vector<Browse::Component> Browse::Components() const {
  std::vector<Component> out;
  nv::KeyDecl* k = key();
  const RecordType* rt = file_->decl().record.get();
  if (!k || !rt) return out;
  for (int i = 0; i < k->component_count; ++i) {
    int32_t c = k->components[i];
    int n = c > 0 ? c : ~c;
    if (const FieldDesc* f = rt->Field(n)) out.push_back({f, c < 0});
  }
  return out;
}

void Browse::BuildKey(const nv::Value* locator, bool high) {
  const RecordType* rt = file_->decl().record.get();
  if (!rt) return;
  std::vector<Component> comps = Components();
  std::vector<uint8_t> low(file_->record_length()), top(file_->record_length());
  ClearRecord(*rt, low.data(), -1);
  ClearRecord(*rt, top.data(), 1);
  size_t locator_at = range_.size();
  if (!locator_field_.empty()) {
    for (size_t i = range_.size(); i < comps.size(); ++i) {
      if (SameLabel(comps[i].field->label, locator_field_)) locator_at = i;
    }
  }
  uint8_t* buf = file_->record();
  for (size_t i = 0; i < comps.size(); ++i) {
    const FieldDesc& f = *comps[i].field;
    if (i < range_.size()) {
      WriteField(f, buf, range_[i]());
    } else if (locator && i == locator_at) {
      WriteField(f, buf, *locator);
    } else {
      const bool want_high = high != comps[i].descending;
      std::copy_n((want_high ? top : low).data() + f.offset, f.size, buf + f.offset);
    }
  }
}

bool Browse::InRange() const {
  if (range_.empty()) return true;
  std::vector<Component> comps = Components();
  nv::KeyDecl* k = key();
  const bool no_case = k && (k->attributes & kKeyNoCase);
  for (size_t i = 0; i < range_.size() && i < comps.size(); ++i) {
    if (CompareValues(ReadField(*comps[i].field, file_->record()), range_[i](), no_case) != 0)
      return false;
  }
  return true;
}

bool Browse::Fetch(int dir, Row* row) {
  NarrowReads();
  for (;;) {
    int err;
    if (dir > 0) {
      ++stats_.next;
      err = file_->Next();
    } else {
      ++stats_.previous;
      err = file_->Previous();
    }
    if (err != 0 || !InRange()) return false;
    if (filter_ && !filter_()) continue;
    // The position the driver kept after the read, else asked.
    nv::KeyDecl* k = key();
    if (!file_->LastPosition(k, &row->position)) {
      ++stats_.position;
      row->position = k ? file_->Position(k) : file_->Position();
    }
    row->cells.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
      nv::Value v;
      if (const FieldDesc* f = column_fields_[i]) {
        v = ReadField(*f, file_->record());
      } else if (columns_[i].value) {
        v = columns_[i].value();
      }
      const ColumnFormat& cf = column_formats_[i];
      row->cells[i] = cf.plain ? v.AsText() : cf.parsed ? nv::Format(cf.picture, v) : std::string();
    }
    return true;
  }
}

// Reads backwards after a RESET to `anchor`. Stores differ on whether the
// first PREVIOUS after RESET reads the record at the position (the flat
// store, like the runtime's restore of a position) or the one before it;
// the anchor itself is passed over either way, so no row shows twice.
bool Browse::FetchBefore(const std::string& anchor, Row* row) {
  if (!Fetch(-1, row)) return false;
  if (row->position != anchor) return true;
  return Fetch(-1, row);
}

// Whether the list has a row above the one at `anchor` (one read back), so
// a page loaded around a record knows whether it starts the list.
bool Browse::AnyBefore(const std::string& anchor) {
  Row r;
  return ResetTo(anchor) && FetchBefore(anchor, &r);
}

bool Browse::ResetTo(const std::string& position) {
  ++stats_.reset;
  nv::KeyDecl* k = key();
  return (k ? file_->Reset(k, position) : file_->Reset(position)) == 0;
}

void Browse::FillForward() {
  while (int(rows_.size()) < page_ + 1) {
    Row r;
    if (!Fetch(+1, &r)) break;
    rows_.push_back(std::move(r));
  }
}

void Browse::Reset() {
  RowReads reads(this);
  rows_.clear();
  highlight_ = -1;
  more_above_ = false;
  BuildKey(nullptr, false);
  ++stats_.set;
  if (nv::KeyDecl* k = key()) {
    file_->Set(k, k);
  } else {
    file_->Set();
  }
  FillForward();
  highlight_ = rows_.empty() ? -1 : 0;
  if (load_on_move_) LoadHighlighted();
}

void Browse::LoadAround(std::string anchor_position, int anchor_row) {
  RowReads reads(this);
  rows_.clear();
  highlight_ = -1;
  anchor_row = std::clamp(anchor_row, 0, page_ - 1);
  if (!ResetTo(anchor_position)) {
    Reset();
    return;
  }
  FillForward();
  if (rows_.empty()) {
    End();
    return;
  }
  const std::string anchor = rows_.front().position;
  int fwd = int(rows_.size());
  int back_wanted = anchor_row;
  if (fwd < page_) back_wanted = std::max(back_wanted, page_ - fwd);
  int back = 0;
  if (back_wanted > 0) {
    ResetTo(anchor);
    while (back < back_wanted) {
      Row r;
      if (!FetchBefore(anchor, &r)) break;
      rows_.push_front(std::move(r));
      ++back;
    }
  }
  more_above_ = back == back_wanted && AnyBefore(rows_.front().position);
  while (int(rows_.size()) > page_ + 1) rows_.pop_back();
  highlight_ = back;
  if (load_on_move_) LoadHighlighted();
}

void Browse::Refresh() {
  if (highlight_ < 0 || rows_.empty()) {
    Reset();
    return;
  }
  LoadAround(rows_[size_t(highlight_)].position, highlight_);
}

void Browse::RefreshTo(std::string_view position) {
  LoadAround(std::string(position), highlight_ >= 0 ? highlight_ : 0);
}

bool Browse::Locate(std::string_view text) {
  RowReads reads(this);
  std::vector<Component> comps = Components();
  if (comps.size() <= range_.size()) return false;
  size_t at = range_.size();
  if (!locator_field_.empty()) {
    for (size_t i = range_.size(); i < comps.size(); ++i) {
      if (SameLabel(comps[i].field->label, locator_field_)) at = i;
    }
  }
  const FieldDesc& f = *comps[at].field;
  nv::Value v;
  if (f.type == kTypeString || f.type == kTypeCString || f.type == kTypePString) {
    v = nv::Value(text);
  } else {
    v = nv::Value(static_cast<long>(nv::Value(text).AsInteger()));
  }
  BuildKey(&v, false);
  ++stats_.set;
  file_->Set(key(), key());
  Row r;
  if (!Fetch(+1, &r)) {
    End();
    return false;
  }
  // Place the found record on the top row, filling the page from above
  // when too few records follow it.
  rows_.clear();
  rows_.push_back(std::move(r));
  FillForward();
  int back = 0;
  const int fwd = int(rows_.size());
  const int back_wanted = std::max(0, page_ - fwd);
  if (back_wanted > 0) {
    const std::string anchor = rows_.front().position;
    ResetTo(anchor);
    while (back < back_wanted) {
      Row p;
      if (!FetchBefore(anchor, &p)) break;
      rows_.push_front(std::move(p));
      ++back;
    }
  }
  more_above_ = back == back_wanted && AnyBefore(rows_.front().position);
  highlight_ = back;
  if (load_on_move_) LoadHighlighted();
  return true;
}

void Browse::End() {
  RowReads reads(this);
  rows_.clear();
  highlight_ = -1;
  BuildKey(nullptr, true);
  ++stats_.set;
  if (nv::KeyDecl* k = key()) {
    file_->Set(k, k);
  } else {
    file_->Set();
  }
  while (int(rows_.size()) < page_) {
    Row r;
    if (!Fetch(-1, &r)) break;
    rows_.push_front(std::move(r));
  }
  more_above_ = int(rows_.size()) == page_;
  highlight_ = rows_.empty() ? -1 : int(rows_.size()) - 1;
  if (load_on_move_) LoadHighlighted();
}

bool Browse::Down(int n) {
  RowReads reads(this);
  if (rows_.empty() || n <= 0) return false;
  const std::string old = rows_[size_t(highlight_)].position;
  int target = highlight_ + n;
  const int need = target - (shown() - 1);
  if (need > 0) {
    bool positioned = false;
    int done = 0;
    while (done<need&& int(rows_.size())> page_) {
      // The row going out of view takes the one coming in (its texts keep
      // their storage).
      Row r = std::move(rows_.front());
      rows_.pop_front();
      more_above_ = true;
      ++done;
      if (!positioned) {
        NarrowReads();
        ResetTo(rows_.back().position);
        ++stats_.next;
        file_->Next();  // the look-ahead row itself
        positioned = true;
      }
      if (Fetch(+1, &r)) rows_.push_back(std::move(r));
    }
    target -= done;
  }
  highlight_ = std::min(target, shown() - 1);
  const bool moved = rows_[size_t(highlight_)].position != old;
  if (moved && load_on_move_) LoadHighlighted();
  return moved;
}

bool Browse::Up(int n) {
  RowReads reads(this);
  if (rows_.empty() || n <= 0) return false;
  const std::string old = rows_[size_t(highlight_)].position;
  int target = highlight_ - n;
  if (target < 0) {
    const std::string anchor = rows_.front().position;
    ResetTo(anchor);
    int done = 0;
    while (done < -target) {
      Row r;
      if (!FetchBefore(anchor, &r)) {
        more_above_ = false;
        break;
      }
      rows_.push_front(std::move(r));
      if (int(rows_.size()) > page_ + 1) rows_.pop_back();
      ++done;
    }
    target += done;
  }
  highlight_ = std::max(target, 0);
  const bool moved = rows_[size_t(highlight_)].position != old;
  if (moved && load_on_move_) LoadHighlighted();
  return moved;
}

bool Browse::PageDown() {
  if (rows_.empty()) return false;
  if (!more_below()) return Down(shown() - 1 - highlight_);
  return Down(page_);
}

bool Browse::PageUp() {
  if (rows_.empty()) return false;
  return Up(page_);
}

bool Browse::Key(int k) {
  switch (k) {
    case kKeyUp:
      Up(1);
      return true;
    case kKeyDown:
      Down(1);
      return true;
    case kKeyPageUp:
      PageUp();
      return true;
    case kKeyPageDown:
      PageDown();
      return true;
    case kKeyHome:
      Home();
      return true;
    case kKeyEnd:
      End();
      return true;
    default:
      return false;
  }
}

bool Browse::SetHighlight(int row) {
  if (row < 0 || row >= shown()) return false;
  if (row != highlight_) {
    highlight_ = row;
    if (load_on_move_) LoadHighlighted();
  }
  return true;
}

const std::vector<std::string>& Browse::Cells(int row) const {
  static const std::vector<std::string> kNone;
  if (row < 0 || row >= shown()) return kNone;
  return rows_[size_t(row)].cells;
}

std::string Browse::RowPosition(int row) const {
  if (row < 0 || row >= shown()) return {};
  return rows_[size_t(row)].position;
}

std::vector<std::vector<std::string>> Browse::Page() const {
  std::vector<std::vector<std::string>> out;
  for (int i = 0; i < shown(); ++i) out.push_back(rows_[size_t(i)].cells);
  return out;
}

// One REGET reads the row's record by its position, memo included, and
// makes it current there. A store that cannot find it that way (the record
// went, or its key no longer holds the position's value) reads what now
// stands at the row's place, as the rows are read: RESET and NEXT.
bool Browse::LoadHighlighted() {
  if (highlight_ < 0 || rows_.empty()) return false;
  WholeReads();
  const std::string& position = rows_[size_t(highlight_)].position;
  nv::KeyDecl* k = key();
  ++stats_.reget;
  if ((k ? file_->Reget(k, position) : file_->Reget(position)) == 0) return true;
  if (!ResetTo(position)) return false;
  ++stats_.next;
  return file_->Next() == 0;
}

int Browse::RunUpdate(Request request, const std::function<int(Request)>& form) {
  if (request == Request::kInsert) {
    if (const RecordType* rt = file_->decl().record.get()) {
      ClearRecord(*rt, file_->record(), 0);
    }
    std::vector<Component> comps = Components();
    for (size_t i = 0; i < range_.size() && i < comps.size(); ++i) {
      WriteField(*comps[i].field, file_->record(), range_[i]());
    }
  } else if (!LoadHighlighted()) {
    return kCancelled;
  }
  const int response = form(request);
  if (response == kCompleted && request == Request::kInsert) {
    ++stats_.position;
    nv::KeyDecl* k = key();
    std::string pos = k ? file_->Position(k) : file_->Position();
    if (!pos.empty()) {
      LoadAround(pos, highlight_ >= 0 ? highlight_ : 0);
      return response;
    }
  }
  Refresh();
  return response;
}

}  // namespace nv::ui
