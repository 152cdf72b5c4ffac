// One run of a detail report: headings, the counting pre-scan, the printing
// walk with its per-call lookups and the transfer queue, the totals, and the
// progress window. Every procedure of detail_family.h runs through here.
//
// Invariants of a run:
// - A run owns every File it reads (call file, its alias, the transfer
//   headers and the lookup files), each opened read-only by this thread, and
//   every record buffer it uses; two runs, even over the same files and at
//   the same time, share no buffer and no position.
// - The pre-scan and the printing walk apply the same selection (type, time
//   window widened to 1..8640000 when both times are 0, range), so the
//   progress counter reaches the count of the pre-scan exactly when the last
//   selected call has been printed, and only then does the percentage
//   reach 100.
// - A call file that cannot be opened is an error told through the error
//   reporter, never an empty report: no document is delivered.
// - A transferred call is printed once per group value with all its legs;
//   every selected leg counts once in the totals.
// - Cancelling the progress window ends the run without delivering a
//   document. Nothing is ever written to a data file.
//
// Thread-safety: RunDetail may run on any number of threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/report/document.h"
#include "host/report/layout.h"
#include "reports/detail_family.h"

namespace nv::dict {
class Dictionary;
struct CallRecord;
}  // namespace nv::dict

namespace fxr4 {

struct RunOptions {
  // Declarations and store of the files; nullptr: the library's dictionary.
  const nv::dict::Dictionary* dict = nullptr;
  // Where the finished document goes; empty: the library's output.
  std::function<void(nv::report::Document&&)> deliver;
  // Called with every percentage shown, from the run's thread.
  std::function<void(int percent, const std::string& text)> on_progress;
  // Called with every selected record the printing walk hands over (every
  // leg of a transferred call), from the run's thread: the export of the
  // whole result.
  std::function<void(const nv::dict::CallRecord&)> on_selected;
  // The special members (free, unrated, directory and requirement calls):
  // their selection in place of type and window, with the call-type code
  // and the widened window; and their headings (Windows-1252), built
  // before the window is widened.
  std::function<bool(std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord&)>
      selects;
  std::function<void(const Window& w, std::string_view curtab, std::string titles[3])> headings;
  // Walks seek to the time window of each group value (true), or read every
  // call of each group (false: the plain walk the tests compare with).
  bool seek = true;
  // Walks over a view read only the fields the run uses (true), or whole
  // records (false: what the tests compare the projections with).
  bool project = true;
};

struct RunResult {
  // kOpenFailed: the call file could not be opened; the error reporter was
  // told (file name and error text) and no document was delivered.
  // kReadFailed: reading the selected calls failed half-way; told the same
  // way, no document.
  enum Status { kOk = 0, kCancelled, kNoDictionary, kBadLayout, kOpenFailed, kReadFailed };
  Status status = kOk;
  int open_error = 0;   // error of opening the call file
  int64_t calls = 0;    // counted by the pre-scan
  int64_t printed = 0;  // selected records the printing walk handed over
  int64_t duration = 0;
  double cost = 0;
  int pages = 0;
  std::string titles[3];  // headings (Windows-1252)
  std::string totals[3];  // LOC:TIT_CANT, LOC:TIT_DURACION, LOC:TIT_COSTO
  double prescan_seconds = 0;
  double print_seconds = 0;
  // The same as processor time of the running thread (a loaded machine
  // stretches the others, not these).
  double prescan_cpu_seconds = 0;
  double print_cpu_seconds = 0;
};

// Runs procedure `proc` over the two string arguments (parameter block and
// OPC_IMPRESION), copied by the copy rule.
RunResult RunDetail(const DetailProc& proc, std::string_view block, std::string_view opc,
                    const RunOptions& options = {});

// Starts `proc` on a new thread with copies of its arguments, as a chooser
// does when its print button is pressed; the caller joins or detaches it.
std::thread StartDetail(const DetailProc& proc, std::string block, std::string opc,
                        RunOptions options = {});

// The layout of the detail reports for a direction (pictures differ).
nv::report::ReportLayout DetailLayout(Direction d);

}  // namespace fxr4
