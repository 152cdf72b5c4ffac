// Views: a walk over a primary file in the order of one of its keys (or of an
// order text such as "MA09:DESCTA,MO01:FECLLA,MO01:HORLLA"), limited to a
// range on the key's leading field, filtered by an expression, with each
// record joined to related files. A view reads its files only through the
// runtime's file verbs (SET, NEXT, PREVIOUS, GET, POINTER, POSITION, RESET,
// RECORDS), so it works over every driver.
//
//   nv::View v(&calls);
//   v.SetKey(calls.key("MO01:MO01_C1"));
//   v.SetRange(Value(desfec), Value(hasfec));
//   v.Join(&accounts, accounts.key("MA09:MA09_CP"), {"MO01:NROCTA"});
//   v.bindings().Bind("DesFec", &desfec);
//   v.SetFilter("INRANGE(MO01:FECLLA,DesFec,HasFec)", &error);
//   for (v.Set(); v.Next() == 0;) ... the buffers of calls and accounts ...
//
// A window on the key components after the leading one (a date and time
// under a line, say) makes the walk seek: each leading value is read only
// from (value, window start) to (value, window end), then the view jumps to
// the next value.
//
//   v.SetKey(calls.key("MO01:MO01_C2"));            // NROLIN, date, time
//   v.SetRange(Value(desde), Value(hasta));
//   v.SetWindow({"MO01:FECLLA", "MO01:HORLLA"}, {Value(desfec), Value(deshor)},
//               {Value(hasfec), Value(hashor)}, &error);
//
// Invariants and states:
//   idle --Set()--> ready --Next()/Previous()--> walking --end--> walking
// - In `ready` the files are not yet positioned: the first Next starts at the
//   low end of the range, the first Previous at the high end.
// - After a successful Next/Previous the primary buffer holds a record inside
//   the range that passes the filter, and each joined buffer holds the record
//   its join found, or is cleared (blanks and zeros) when there is none.
// - At an end (33) the primary buffer holds the record that ended the walk
//   (the first one past the range, or the last one read at the end of the
//   file); a Previous after an end steps back from there as the file does.
// - Joins and the order text name fields of the files bound when they are
//   set: join first, then set the filter and the order.
// - With a window, a record whose window components lie outside it is never
//   handed out; a forward walk skips such records by reading on for a few
//   records of the same leading value and then seeking (SET by key) to the window of the same
//   leading value, or past that value (a backward walk only reads on). The records handed out, and
//   their order, are exactly those of the walk without the window whose filter tests the window.
// - With an order text the selected records are found in a pre-pass at Set()
//   and only (order values, record pointer) pairs are kept and sorted; each
//   record is read again by pointer (GET) when the walk reaches it. Equal
//   order values keep the order of the pre-pass (the key's order).
//
// Thread-safety: a View and its files belong to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/runtime/export.h"
#include "host/runtime/expr.h"
#include "host/runtime/file.h"

namespace nv {

// What the drivers read about a view (joined files, key components,
// condition, projected fields).
struct ViewJoinDesc {
  File* file = nullptr;
  std::string prefix;                      // the prefix its fields go by
  KeyDecl* key = nullptr;                  // the joined file's key
  std::vector<int32_t> components;         // the key components joined (n or ~n)
  std::vector<std::string> parent_fields;  // labels giving each component's value
  bool inner = false;                      // a record without partner is skipped
};
struct ViewOrderComponent {
  std::string label;  // "MA09:DESCTA"
  bool descending = false;
};
struct ViewDescriptor {
  File* primary = nullptr;
  std::string primary_prefix;
  KeyDecl* key = nullptr;  // nullptr: record order (or the order text)
  std::vector<ViewJoinDesc> joins;
  std::vector<ViewOrderComponent> order;
  const expr::Node* condition = nullptr;  // filter tree, nullptr when none; owned by
                                          // the view, valid until its filter changes
  std::string filter;                     // filter text as set
  bool has_range = false;
  Value low, high;                     // range on the key's leading field
  std::vector<std::string> projected;  // field labels; all fields unless projected
  // Window on the key components after the leading one (see SetWindow).
  std::vector<std::string> window_fields;
  std::vector<Value> window_low, window_high;
};

// What a projection does to the record of one file of a view. After every
// record a view hands out, over every driver, the fields that no projected
// label covers hold blanks and zeros, as a cleared record does (a projected
// group covers the fields inside it; a field sharing bytes with a projected
// one keeps those bytes). So a program that reads a field it did not
// project reads the same blank over every store, never a value left from
// an earlier record; and it reads a record whole (GET, REGET) before it
// writes it back.
class NV_API RecordProjection {
 public:
  RecordProjection() = default;  // every field kept
  // `labels` ("PRE:NAME", any case) name fields of the view's files; those
  // of other prefixes are passed over. A label of this prefix that names no
  // field goes to `unknown` (the first one; may be null).
  RecordProjection(const RecordType& rt, std::string_view prefix,
                   const std::vector<std::string>& labels, std::string* unknown = nullptr);
  bool whole() const { return spans_.empty(); }
  // Whether some byte of the span belongs to a projected field.
  bool Keeps(uint32_t offset, uint32_t size) const;
  // The fields not projected to blanks and zeros.
  void Clear(uint8_t* record) const;

 private:
  std::vector<uint8_t> kept_;                         // per byte
  std::vector<std::pair<uint32_t, uint32_t>> spans_;  // (offset, size) cleared
  std::vector<uint8_t> blank_;                        // the record cleared
};

// A driver that answers operation 74 with a view entry serves the views whose
// files are all its own (one SELECT on the server, say). The runtime calls
// the entry with these operations; a view the entry answers kViewHandBack at
// kViewOpen is walked by the runtime itself, file by file, as before.
enum ViewOp : int32_t {
  kViewOpen = 1,      // reads descriptor and bindings; 0, kViewHandBack or an error
  kViewNext = 2,      // 0 with every file's buffer filled, 33 at the end, or an error
  kViewPrevious = 3,  // the same backward; the first read after open starts at the high end
  kViewRecords = 4,   // count of the view's records into `records`
  kViewClose = 5,     // frees the driver's state; always 0
};
inline constexpr int kViewHandBack = -1;
struct ViewBlock {
  const ViewDescriptor* descriptor = nullptr;  // during kViewOpen only
  const expr::Bindings* bindings = nullptr;    // the filter's variables (read at open)
  void* state = nullptr;                       // the driver's, from open to close
  int64_t records = 0;
  std::string statement;  // what the driver runs (tests, logs)
  std::string reason;     // why the driver handed the view back
};
using ViewEntryFn = int (*)(int32_t op, ViewBlock* block);

class NV_API View {
 public:
  // The primary file must be open before the view is walked and outlive it.
  explicit View(File* primary);
  ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // The names filters and order texts can use: the view's files are bound
  // here; the program binds its variables, procedures and any other file
  // (a browse filter may compare with the buffer of another file).
  expr::Bindings& bindings() { return bindings_; }

  // Order by a key of the primary file (nullptr: record order); removes
  // the window.
  void SetKey(KeyDecl* key);
  // Order by fields of the view's files, "PRE:NAME[,PRE:NAME...]", each
  // optionally preceded by '-' for descending order. An empty text removes
  // the order. False with `error` when a name is not a field of the view.
  bool SetOrder(std::string_view order_text, expr::Error* error);
  // Range on the leading field of the key, both ends included (values are
  // converted to the field's type, texts compared as the key compares them).
  // A low end above the high end selects nothing. Without a key there is no
  // leading field and the range has no effect.
  void SetRange(const Value& low, const Value& high);
  void ClearRange();
  // Window on the key components that follow the leading one: `fields` are
  // fields of the primary file that cover those components in key order (a
  // group such as a binary date covers the components of its subfields;
  // fewer fields than components leave the rest free); `low` and `high`
  // hold a value per field, and a record is inside when its values, read as
  // one tuple in key order, lie from `low` to `high`, both included. A low
  // tuple above the high one selects nothing. False with `error` (the old
  // window is kept) when there is no key, a field is unknown or not of the
  // primary file, the fields do not follow the leading component in key
  // order, a component they cover is descending, or the value counts
  // differ.
  bool SetWindow(const std::vector<std::string>& fields, const std::vector<Value>& low,
                 const std::vector<Value>& high, expr::Error* error);
  void ClearWindow();
  // Seeks made by the window since the last Set() (for tests and benchmarks).
  int64_t window_seeks() const { return window_seeks_; }
  // Filter text; empty removes it. False with `error` when the text is
  // malformed or names what is not bound (the old filter is then kept).
  bool SetFilter(std::string_view text, expr::Error* error);
  // Joins a file: for each primary record the joined file's record whose key
  // components equal the given fields (of the primary or of files joined
  // before) is read into its buffer. Fewer fields than key components match
  // the leading components. An empty alias prefix uses the record's prefix.
  // False with `error` when a field label is unknown or the
  // key cannot take the fields given.
  bool Join(File* file, KeyDecl* key, const std::vector<std::string>& parent_fields,
            expr::Error* error, bool inner = false, std::string_view prefix = {});
  // Restricts the projected fields (labels of the view's files, groups
  // included: join first); an empty list projects all. The fields left out
  // read as cleared (see RecordProjection), and the driver of a view served
  // as one statement does not fetch them. False with `error` when a label
  // names no field of the view's files (the old projection is then kept).
  bool Project(std::vector<std::string> labels, expr::Error* error = nullptr);

  // Starts a walk. With an order text this runs the pre-pass. Answers 0 or
  // the error of a file verb.
  int Set();
  // 0 with the next/previous record, 33 at the end of the view, or the error
  // of a file verb.
  int Next();
  int Previous();
  // Records of the view for progress: RECORDS of the file when the view has
  // neither filter nor range (nor inner join), else a counting pre-pass
  // (kept until the next Set()); -1 when a file verb fails. During a walk the
  // position is kept.
  int64_t Records();

  ViewDescriptor Descriptor() const;

  // Whether the files' driver may serve the view (default true); false
  // always walks the files here.
  void set_driver_views(bool on) {
    Reconfigure();
    driver_views_ = on;
  }
  // True while the walk started by the last Set() is served by the driver;
  // its statement, or the reason it handed the view back.
  bool served() const { return entry_ != nullptr; }
  const ViewBlock& driver_block() const { return block_; }

 private:
  struct Join_;
  struct OrderPart;
  struct Window_;
  struct Entry {
    uint32_t offset;  // of the order values in arena_
    int32_t pointer;  // record pointer of the primary file
  };
  enum class State { kIdle, kReady, kWalking };

  void Reconfigure();        // a setting changed: back to idle, caches dropped
  int Position(int dir);     // first record at the low (dir>0) or high end
  int Step(int dir);         // one file step, joins, range and filter
  int RangeCheck();          // 0 inside, >0 beyond the high end, <0 below low
  int WindowCheck();         // the same for the window components
  int WindowSeek(int side);  // forward: SET at the window (side < 0) or past the value
  int Missed();              // counts a miss; answers the misses of this leading value
  bool DoJoins();            // false when an inner join found nothing
  bool Selected();
  int BuildSorted();
  int CountPass(int64_t* count);
  int StepSorted(int dir);
  int Serve();  // offers the view to its driver at Set()
  void StopServing();
  int Handed(int err);  // a record handed out: the fields not projected cleared

  File* primary_;
  expr::Bindings bindings_;
  KeyDecl* key_ = nullptr;
  int leading_field_ = 0;  // field number of the key's leading component
  bool leading_descending_ = false;
  bool leading_no_case_ = false;
  bool has_range_ = false;
  Value low_, high_;
  std::unique_ptr<expr::Expression> filter_;
  std::vector<std::unique_ptr<Join_>> joins_;
  std::vector<OrderPart> order_;
  std::vector<std::string> projected_;
  std::vector<std::pair<File*, RecordProjection>> cleared_;  // walked here, set at Set()
  std::unique_ptr<Window_> window_;
  int window_misses_ = 0;  // records read in a row outside the window
  int64_t window_seeks_ = 0;

  State state_ = State::kIdle;
  // Sorted walks.
  std::vector<Entry> entries_;
  std::vector<uint8_t> arena_;
  int64_t index_ = -1;
  bool sorted_fresh_ = false;  // built by Records() before the Set() that uses it
  // Count cache: a count made before a walk moves serves the next Set().
  int64_t count_ = -1;
  bool count_fresh_ = false;
  // A view served by its driver.
  bool driver_views_ = true;
  ViewEntryFn entry_ = nullptr;
  ViewBlock block_;
};

}  // namespace nv
