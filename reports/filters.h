// Selection of call records, in the two forms the reports use:
//
// - filter texts in the runtime's expression language, which the summary
//   reports hand to a view together with a key range;
// - the same rules in code, which the detail reports apply while they walk
//   a call file by key.
//
// Both forms select exactly the same calls once the detail reports have
// widened an empty time window (DESHOR = HASHOR = 0) to the whole day
// (1..8640000): a call stored with time 0 is then left out by the code form
// although INRANGE on the dates alone takes it.
//
// Thread-safety: everything here is pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/dictionary/records.h"

namespace fxr4 {

inline constexpr int32_t kFirstInstant = 1;
inline constexpr int32_t kLastInstant = 8640000;

// Call direction: "SAL" reads FXMO01 (prefix MO01), "ENT" FXMO02 (MO02).
enum class Direction { kOutgoing, kIncoming };
const char* CallPrefix(Direction d);      // "MO01" / "MO02"
const char* CallLabel(Direction d);       // "FXMO01" / "FXMO02"
const char* AliasLabel(Direction d);      // "ALMO01" / "ALMO02"
const char* TransferLabel(Direction d);   // "FXTR01" / "FXTR02"
const char* TransferPrefix(Direction d);  // "TR01" / "TR02"

// The four standard filter texts, for the call prefix ("MO01").
std::string StandardFilter(std::string_view prefix, bool time_window, bool typed);
// The account-code family's texts: the standard ones with the account
// description condition after the exclusion of unrated calls.
std::string AccountFilter(std::string_view prefix, bool time_window, bool typed);
// The filter the date family's summaries use: always a time-window text.
inline std::string DateFilter(std::string_view prefix, bool typed) {
  return StandardFilter(prefix, true, typed);
}
// Free and unrated calls (outgoing only; the dates come from a key range).
std::string FreeFilter();
std::string UnratedFilter();
// The view filter of the detail reports by number (the rest is in code).
std::string NumberDetailFilter(std::string_view prefix);
// Longest text a filter buffer must hold.
inline constexpr size_t kFilterBufferSize = 270;

// The time window of a selection. Empty (both 0) means whole days.
struct Window {
  int32_t desfec = 0;
  int32_t hasfec = 0;
  int32_t deshor = 0;
  int32_t hashor = 0;
  bool timed() const { return deshor != 0 || hashor != 0; }
  // A call later than the window's end, (HASFEC, HASHOR) when timed, else
  // the end of HASFEC.
  bool After(int32_t fecha, int32_t hora) const {
    return fecha > hasfec || (timed() && fecha == hasfec && hora > hashor);
  }
  // DESHOR = HASHOR = 0 becomes 1..8640000 (the detail reports do this
  // after their headings are built).
  void Widen() {
    if (deshor == 0 && hashor == 0) {
      deshor = kFirstInstant;
      hashor = kLastInstant;
    }
  }
};

// Type test: with a blank code every type but "NT"; otherwise that code.
bool TypeSelects(std::string_view loc_tipo, std::string_view tipolla);
// Window test on a call's date and time.
bool WindowSelects(const Window& w, int32_t fecha, int32_t hora);
// Type and window, in that order, on a call record.
bool CallSelects(std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord& r);

// Ranges over a key's leading field.
enum class RangeKind { kNone, kText, kNumber };
struct Range {
  RangeKind kind = RangeKind::kNone;
  std::string desde, hasta;   // text ranges (compared by RANGO_STRING)
  int64_t low = 0, high = 0;  // numeric ranges, both ends included
  bool Contains(std::string_view text) const;
  bool Contains(int64_t number) const;
};

// Sort orders: the key suffix of a family ("_C2") or, for the account
// family, the order text over the joined account file.
std::string OrderKey(std::string_view prefix, std::string_view suffix);  // "MO01:MO01_C2"
std::string AccountOrder(std::string_view prefix);  // "MA09:DESCTA,MO01:FECLLA,MO01:HORLLA"

}  // namespace fxr4
