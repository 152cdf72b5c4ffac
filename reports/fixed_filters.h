// What the free, unrated, directory-call and requirement reports add to the
// two families: their headings, their filter texts (summary form) and their
// in-code selection (detail form), which select the same calls.
//
// A requirement selection reads the marks (MULTISEL) of the lines,
// extensions, accounts and agents from the four lookup files, through files
// of its own.
//
// Thread-safety: a RequirementSelection belongs to one run (one thread);
// the rest is pure.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/dictionary/records.h"
#include "reports/filters.h"
#include "reports/params.h"
#include "reports/summary_family.h"

namespace nv {
class File;
}
namespace nv::dict {
class Dictionary;
}

namespace fxr4 {

// The three headings (Windows-1252) of a special member. `option` is the
// directory option ("N" = not in the directory); `w` the window as the
// block gives it (headings are built before any widening).
void SpecialHeadings(SpecialKind kind, Direction d, std::string_view option, const Window& w,
                     std::string_view curtab, std::string titles[3]);

// The directory reports' second filter: "MO01:CODIGO = 0" for option "N",
// "MO01:CODIGO > 0" otherwise.
std::string DirectoryFilter(std::string_view prefix, std::string_view option);
// The requirement text, with or without the call-type test.
std::string RequirementFilter(std::string_view prefix, bool typed);

// In-code forms. Free and unrated calls select by dates alone.
bool FreeSelects(std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord& r);
bool UnratedSelects(const Window& w, const nv::dict::CallRecord& r);
bool DirectorySelects(std::string_view option, std::string_view loc_tipo, const Window& w,
                      const nv::dict::CallRecord& r);

// A blank account code, or one that reads as the number 0.
bool AccountIsZero(std::string_view nrocta);

// The requirement's in-code selection, tested in the order a to g.
class RequirementSelection {
 public:
  RequirementSelection(const nv::dict::Dictionary& dict, const PARAM_RPT_REQUE& block);
  ~RequirementSelection();
  // `w` is the widened window of the detail form.
  bool Selects(std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord& r);

 private:
  bool Marked(nv::File* f, const char* key, int field_kind, const nv::dict::CallRecord& r);

  PARAM_RPT_REQUE b_;
  std::unique_ptr<nv::File> ma07_, ma08_, ma09_, ma02_;
};

// The PARAM_RPT that carries a requirement block's dates, times and call
// type into the detail design.
std::string RequirementAsRpt(const PARAM_RPT_REQUE& b);

}  // namespace fxr4

namespace fxr4 {

struct RunOptions;
struct RunResult;

// Runs a special detail procedure (FindSpecialDetail): the detail design
// with its headings and selection. `option` is the directory option.
RunResult RunSpecialDetail(const DetailProc& proc, std::string_view option, std::string_view block,
                           std::string_view opc, RunOptions options);

}  // namespace fxr4
