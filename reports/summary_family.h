// The summary report family: one design (summary_report.cpp) and this table
// of what differs between its procedures: the call file, the key and range,
// the filter texts, the family column, the caption, and where the headings
// come from.
//
// The headings of a summary are those of the matching detail procedure
// (same family and direction); the special members (free, unrated,
// directory and requirement calls) build their own.
//
// Texts in the table are UTF-8 source literals.
#pragma once

#include <cstddef>
#include <string_view>

#include "reports/detail_family.h"
#include "reports/filters.h"

namespace fxr4 {

// Which filter texts a summary chooses from, and what else selects.
enum class SummaryKind {
  kStandard,     // the four standard texts; range on the key's leading field
  kDates,        // the two time-window texts, always
  kAccounts,     // the four account texts over the join with FXMA09
  kFree,         // fixed text, dates from a key range
  kUnrated,      // fixed text, dates from a key range
  kDirectory,    // a standard text AND the directory option's text
  kRequirement,  // the requirement text over the four lookup joins
};

struct SummaryProc {
  const char* name;  // exported procedure name
  Direction direction;
  BlockKind block;  // PARAM_RPT_REQUE for kRequirement whatever this says
  SummaryKind kind;
  const char* key_suffix;  // "_C2" ...; "" for the account family (order text)
  GroupField field;        // the range field; kNone when no range on the key
  RangeKind range;
  // The family column: title, value name, picture; "" when none.
  const char* column_title;
  const char* column_field;
  const char* column_picture;
  const char* cost_picture;  // "@n9.2" or "@n10.2"
  const char* caption;
  // The detail procedure whose headings it prints ("" for the special
  // members, which build theirs).
  const char* headings;
};

// The summary procedures, in the order of the family tables.
const SummaryProc* SummaryProcs(size_t* count);
// By exported name (exact); nullptr when unknown.
const SummaryProc* FindSummaryProc(std::string_view name);
// The heading texts of a standard member (titles, range label, time
// picture): its detail procedure's, or those of the incoming account-group
// family, which has no detail form.
const DetailProc& SummaryHeadings(const SummaryProc& p);

// The special detail procedures: the detail design with the selections of
// the free, unrated, directory and requirement calls.
enum class SpecialKind { kNone, kFree, kUnrated, kDirectory, kRequirement };
SpecialKind SpecialOf(std::string_view name);
// The headings and printing of a special detail form, as a row of the
// detail table (walk by date, no range).
const DetailProc* FindSpecialDetail(std::string_view name);
const DetailProc* SpecialDetails(size_t* count);

// The filter buffer of a summary: long enough for the requirement text,
// the longest of all the filters (the 270 characters of the account text
// with type and time window would cut it).
inline constexpr size_t kSummaryFilterBufferSize = 1200;

}  // namespace fxr4
