// The list (browse) manager: a list over a data file that shows one page of
// records in a sort order, within an optional range and filter, with an
// incremental locator, and keeps the highlighted record in the file's record
// buffer.
//
// Reading: the browse reaches the file only through the runtime's verbs
// SET(key, key), NEXT, PREVIOUS, POSITION(key), RESET(key, position) and
// REGET(key, position), so it works the same over every driver. It never reads the whole file: a
// load reads the visible page plus one record (to know whether more
// follow); scrolling re-establishes its place with RESET from the saved
// position of the first or last row and reads only the rows that come into
// view. Other users of the same file (forms, other lists) may move the
// file's position freely between calls.
//
// Invariants:
//   - rows_ holds at most page_size()+1 consecutive records of the current
//     order that pass the range and the filter; rows_[0] is the top row; the
//     row past the page, when present, is a look-ahead and is not shown.
//   - highlight_ is -1 exactly when no row is shown, else in [0, shown).
//   - every row carries the POSITION(key) text of its record (as the driver
//     kept it after the read, or asked), which is what RESET(key, position)
//     and REGET(key, position) take back.
//   - after a move that changed the highlighted row (and after loads), the
//     highlighted record is in the file's record buffer (re-read with REGET,
//     so memos follow too).
//
// Thread-safety: a Browse belongs to the thread that owns its file.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/export.h"
#include "host/runtime/picture.h"
#include "host/ui/window_def.h"

namespace nv {
class File;
}

namespace nv::ui {

// Requests of update forms and of the list-update mechanism.
enum class Request { kView = 0, kInsert = 1, kChange = 2, kDelete = 3 };
// "A" insert, "M" change, "B" delete (either case); anything else views.
NV_API Request RequestFromCode(std::string_view code);

// File verbs a browse issued (tests bound them).
struct BrowseStats {
  int set = 0, next = 0, previous = 0, position = 0, reset = 0, reget = 0;
};

// Turns a filter text into a predicate over the record buffer of `file`.
// Installed by the expression evaluator; answers an empty function and an
// error text when the text does not compile.
using FilterCompiler =
    std::function<std::function<bool()>(nv::File& file, std::string_view text, std::string* error)>;
NV_API void SetFilterCompiler(FilterCompiler compiler);

class NV_API Browse {
 public:
  explicit Browse(nv::File* file);

  nv::File* file() const { return file_; }

  // --- sort orders (tabs "Por código" / "Por descripción" ...)
  int AddOrder(std::string name, nv::KeyDecl* key);
  // By key label; -1 when the file has no such key.
  int AddOrder(std::string name, std::string_view key_label);
  // Chooses an order and reloads from the top (the range and locator field
  // are the new key's).
  void SetOrder(int index);
  int order() const { return order_; }
  int order_count() const { return int(orders_.size()); }
  nv::KeyDecl* key() const;

  // --- columns
  void SetColumns(std::vector<Column> columns);
  const std::vector<Column>& columns() const { return columns_; }

  // --- range on the leading key component(s): each bound gives the value
  // the component must equal; a fixed value or one bound to another file's
  // field ([&]{ return nv::ui::GetField(ma11, "MA11:CODIGO"); }).
  void SetRange(std::vector<std::function<nv::Value()>> bounds);
  void SetRange(const nv::Value& fixed);
  void ClearRange() {
    range_.clear();
    row_fields_known_ = false;
  }

  // --- filter: a predicate evaluated with the record in the buffer. Given
  // the labels of the fields of the list's file it reads (and it reads no
  // other byte of the buffer), rows whose columns, range and filter fields
  // all lie in the order's key may be answered from the key alone.
  void SetFilter(std::function<bool()> filter) {
    filter_ = std::move(filter);
    filter_reads_.reset();
    row_fields_known_ = false;
  }
  void SetFilter(std::function<bool()> filter, std::vector<std::string> reads) {
    filter_ = std::move(filter);
    filter_reads_ = std::move(reads);
    row_fields_known_ = false;
  }
  // A filter text for the expression evaluator; false (filter unchanged,
  // error text kept) when no evaluator is installed or the text is refused.
  // A text whose names are all fields of the list's file reads those.
  bool SetFilterText(std::string_view text);
  const std::string& filter_error() const { return filter_error_; }

  // --- locator: the first key component after the range ones, unless set.
  void SetLocatorField(std::string label) { locator_field_ = std::move(label); }
  // Moves to the first record at or after the text (in the locator field;
  // the other components from their lowest); past the end shows the last
  // page. Answers whether a record at or after the text exists.
  bool Locate(std::string_view text);

  // --- paging
  void SetPageSize(int rows);
  int page_size() const { return page_; }
  int shown() const;
  // First page, highlight on the first row.
  void Reset();
  // Re-reads the page after a command: keeps the highlighted record (at the
  // same screen row) when it still exists, else the record that follows it.
  void Refresh();
  // Re-reads the page around the record at a position (after an insert).
  void RefreshTo(std::string_view position);
  bool Down(int n = 1);
  bool Up(int n = 1);
  bool PageDown();
  bool PageUp();
  void Home() { Reset(); }
  void End();
  // Up/Down/PageUp/PageDown/Home/End; false for other keys.
  bool Key(int key);
  // Highlights a shown row (0-based); false when out of range.
  bool SetHighlight(int row);
  int highlight() const { return highlight_; }
  bool empty() const { return rows_.empty(); }
  const std::vector<std::string>& Cells(int row) const;
  std::string RowPosition(int row) const;
  // Texts of the shown rows.
  std::vector<std::vector<std::string>> Page() const;
  // Whether records follow the page / precede it, as far as known.
  bool more_below() const { return int(rows_.size()) > page_; }
  bool more_above() const { return more_above_; }

  // Re-reads the highlighted record into the file's record buffer.
  bool LoadHighlighted();
  // Load after every move (the default); off for lists nobody reads from.
  void SetLoadOnMove(bool on) { load_on_move_ = on; }

  // --- the list-update mechanism: runs an update form for a request. For an
  // insert the buffer is cleared and primed with the range values; for the
  // others the highlighted record is loaded first (nothing runs, answering
  // kCancelled, when the list is empty). Afterwards the list is refreshed;
  // after a completed insert the new record is highlighted. Answers the
  // form's response.
  int RunUpdate(Request request, const std::function<int(Request)>& form);

  const BrowseStats& stats() const { return stats_; }
  void ResetStats() { stats_ = {}; }

 private:
  struct Row {
    std::string position;
    std::vector<std::string> cells;
  };
  struct Order {
    std::string name;
    nv::KeyDecl* key;
  };
  struct Component {
    const FieldDesc* field;
    bool descending;
  };

  class RowReads;
  // The fields a row needs ("3,17": columns, range, filter), empty when
  // not known (a column computed by code, a filter that did not say).
  std::string RowFields() const;
  // The file's reads narrowed to RowFields() while rows are read, and whole
  // again for the highlighted record and when a move ends.
  void NarrowReads();
  void WholeReads();
  std::vector<Component> Components() const;
  // Builds a key value in the buffer: range values, then `locator` for the
  // next component when given, then every other component at its lowest
  // (high=false) or highest (high=true) value in the key's direction.
  void BuildKey(const nv::Value* locator, bool high);
  bool InRange() const;
  // Reads the next record in a direction that passes range and filter.
  bool Fetch(int dir, Row* row);
  bool ResetTo(const std::string& position);
  bool FetchBefore(const std::string& anchor, Row* row);
  bool AnyBefore(const std::string& anchor);
  void LoadAround(std::string anchor_position, int anchor_row);  // by value: rows_ is cleared
  void FillForward();
  void AfterMove(int old_highlight, const std::string& old_position);

  nv::File* file_;
  std::vector<Order> orders_;
  int order_ = -1;
  // How a column's value becomes its text: the picture parsed once.
  struct ColumnFormat {
    bool plain = true;    // no picture: the value's text
    bool parsed = false;  // else a picture that parses (one that does not shows "")
    nv::Picture picture;
  };
  std::vector<Column> columns_;
  std::vector<const FieldDesc*> column_fields_;
  std::vector<ColumnFormat> column_formats_;
  std::vector<std::function<nv::Value()>> range_;
  std::function<bool()> filter_;
  std::optional<std::vector<std::string>> filter_reads_;  // unset: any field
  std::string filter_error_;
  int row_reads_depth_ = 0;  // public moves under way (RowReads)
  bool reads_narrowed_ = false;
  std::string row_fields_;  // RowFields(), made when first needed
  bool row_fields_known_ = false;
  std::string locator_field_;
  int page_ = 10;
  std::deque<Row> rows_;
  int highlight_ = -1;
  bool more_above_ = false;
  bool load_on_move_ = true;
  BrowseStats stats_;
};

}  // namespace nv::ui
