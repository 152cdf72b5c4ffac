// One run of a summary report: headings, the bound names, the filter text
// chosen by type and time window and copied whole into the filter buffer,
// the view over the call file (key, range on the key's leading field,
// joins), one line per call with its directory description, the totals.
// Every procedure of summary_family.h runs through here.
//
// Invariants of a run:
// - The view selects; the run only counts, totals and prints what the view
//   delivers (the free, unrated and directory members add their date range
//   on key C1, whose leading component is the year: the view walks the
//   years and the run stops past HASFEC).
// - A text range with a blank HASTA, or any range whose start lies above its
//   end, is empty: the report prints its headings and zero totals, as the
//   detail form does.
// - A call file (or a file the filter joins) that cannot be opened is an
//   error told through the error reporter; no document is delivered.
// - With an export (CsvExport), every selected call becomes a row and no
//   document is built.
// - Cancelling the progress window ends the run without delivering.
//   Nothing is ever written to a data file.
//
// Thread-safety: RunSummary may run on any number of threads at once; each
// run opens its own files.
#pragma once

#include <string>
#include <string_view>
#include <thread>

#include "host/report/layout.h"
#include "reports/detail_report.h"
#include "reports/summary_family.h"

namespace fxr4 {

class CsvExport;

// Runs `proc` over its arguments, copied by the copy rule. `option` is the
// directory reports' first argument (ignored by the others).
RunResult RunSummary(const SummaryProc& proc, std::string_view option, std::string_view block,
                     std::string_view opc, const RunOptions& options = {},
                     CsvExport* csv = nullptr);

// The selection alone, as the run makes it (view, range, filter, the date
// range of the special members), with the count and totals: no directory
// texts, no document. For measuring and counting.
RunResult SelectSummary(const SummaryProc& proc, std::string_view option, std::string_view block,
                        const RunOptions& options = {});

// Starts `proc` on a new thread with copies of its arguments.
std::thread StartSummary(const SummaryProc& proc, std::string option, std::string block,
                         std::string opc, RunOptions options = {});

// The layout of a summary procedure: landscape, twelve characters to the
// inch, the family column just before the directory description.
nv::report::ReportLayout SummaryLayout(const SummaryProc& p);

// The headings of a standard member (as the detail form builds them).
void FamilyHeadings(const DetailProc& h, const Window& w, std::string_view curtab,
                    std::string_view desde, std::string_view hasta, std::string titles[3]);

// The texts of the TOTALES band (Windows-1252).
void TotalsTexts(int64_t calls, int64_t duration, double cost, std::string out[3]);

}  // namespace fxr4
