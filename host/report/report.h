// A report run: prints bands of a layout one below the other, breaking pages
// as they fill, and yields the pages as a Document.
//
// Invariants of a run:
// - A page exists only once a band is printed on it. It starts with the page
//   header at the top margin; its body runs from below the header to the top
//   of the page footer, which sits on the bottom margin.
// - A band is never split: one that does not fit below the bands already on
//   the page ends the page (footer printed) and starts the next one (header
//   printed) before it is placed. A page always holds at least one body band,
//   and every band fits an empty body (Open() refuses layouts where one does
//   not), so pagination always moves forward.
// - Values are named and persist for the run: Set() and the values given to
//   Print() keep their value until set again. Every band formats its items
//   with the values current when it is placed; the page header when its page
//   starts, the page footer when its page ends. A page ends while the band
//   that no longer fits is being printed, after that Print()'s values are set,
//   so the footer shows them. A name never set prints as an empty text.
//
// States: closed --Open--> open --Close--> closed (pages kept until the next
// Open or TakeDocument).
//
// Thread-safety: a Report is used by one thread at a time; separate Report
// objects share nothing (the formatter is only read).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/report/document.h"
#include "host/report/layout.h"
#include "host/report/status.h"
#include "host/report/value.h"
#include "host/report/value_format.h"
#include "host/runtime/export.h"

namespace nv::report {

using NamedValue = std::pair<std::string, Value>;

// Copies a run accepts: fewer than 1 prints one; more than kMaxCopies prints
// kMaxCopies (a copies count from a damaged parameter block must not send
// thousands of pages to a printer).
inline constexpr int kMaxCopies = 999;

class NV_API Report {
 public:
  // `formatter` must outlive the report; by default the runtime's pictures.
  explicit Report(const ValueFormatter& formatter = DefaultFormatter());

  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  // Validates and copies the layout and starts an empty document. The page
  // size, copies, preview flag and caption stay as set.
  Status Open(const ReportLayout& layout);

  void Set(std::string_view name, Value value);
  // Sets `values` (they persist) and prints the band.
  Status Print(std::string_view band, const std::vector<NamedValue>& values = {});
  // Ends the current page; the next band starts a new one. Nothing happens
  // when the current page has no body band yet or no page is open.
  Status NewPage();
  // Ends the last page. Closing a report on which nothing was printed leaves
  // a document without pages.
  Status Close();

  bool is_open() const { return open_; }
  // Pages ended so far in this run (those handed to a sink included); 0
  // again once the document is taken.
  int page_count() const { return pages_; }

  // A sink takes every page away as it ends, so the document keeps none and
  // a long run holds one page at a time (a PDF written as it prints). Set
  // before Open. The first failure of the sink is kept and answered by
  // Close; the run goes on without it.
  void set_page_sink(std::function<Status(Page&&)> sink) { sink_ = std::move(sink); }

  void set_copies(int copies);
  int copies() const { return doc_.copies; }
  void set_skip_preview(bool skip) { doc_.skip_preview = skip; }
  bool skip_preview() const { return doc_.skip_preview; }
  void set_caption(std::string caption) { doc_.caption = std::move(caption); }

  const Document& document() const { return doc_; }
  // Moves the document out (for a renderer on another thread). Only after Close().
  Document TakeDocument();

 private:
  void StartPage();
  void EndPage();
  void PlaceBand(const Band& band, int32_t top);
  std::string FormatItemValue(const Item& item) const;
  bool IsSet(std::string_view name) const;

  const ValueFormatter& formatter_;
  ReportLayout layout_;
  Document doc_;
  std::map<std::string, Value, std::less<>> values_;
  bool open_ = false;
  bool page_open_ = false;
  bool page_has_body_ = false;
  std::function<Status(Page&&)> sink_;
  Status sink_status_;
  int pages_ = 0;
  int32_t cursor_ = 0;       // top of the next band on the current page
  int32_t body_bottom_ = 0;  // top of the page footer
};

}  // namespace nv::report
