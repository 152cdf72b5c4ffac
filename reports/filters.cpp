#include "reports/filters.h"

#include "host/dictionary/services.h"
#include "host/runtime/fixed_string.h"

namespace fxr4 {

namespace {

// Replaces every "MO01" of a text written for outgoing calls.
std::string ForPrefix(std::string text, std::string_view prefix) {
  if (prefix == "MO01") return text;
  for (size_t at = text.find("MO01"); at != std::string::npos; at = text.find("MO01", at + 4)) {
    text.replace(at, 4, prefix);
  }
  return text;
}

constexpr const char* kNotUnrated = "NOT(MO01:TIPOLLA = 'NT') AND ";
constexpr const char* kDates = "INRANGE(MO01:FECLLA,DesFec,HasFec)";
constexpr const char* kTyped = "MO01:TIPOLLA = Loc:Tipo";
constexpr const char* kTimeWindow =
    "( ((MO01:FECLLA = DesFec AND MO01:HORLLA >= DesHor) OR MO01:FECLLA > DesFec) AND "
    "(MO01:FECLLA < HASFEC OR (MO01:FECLLA = HasFec AND MO01:HORLLA <= HasHor)) )";
constexpr const char* kAccounts = "((MA09:DESCTA >= desde) AND (MA09:DESCTA <= hasta)) AND ";

std::string Compose(std::string_view prefix, bool time_window, bool typed, bool accounts) {
  std::string t = kNotUnrated;
  if (accounts) t += kAccounts;
  if (time_window) {
    if (typed) t += std::string(kTyped) + " AND ";
    t += kTimeWindow;
  } else {
    t += kDates;
    if (typed) t += std::string(" AND ") + kTyped;
  }
  return ForPrefix(t, prefix);
}

}  // namespace

const char* CallPrefix(Direction d) {
  return d == Direction::kOutgoing ? "MO01" : "MO02";
}
const char* CallLabel(Direction d) {
  return d == Direction::kOutgoing ? "FXMO01" : "FXMO02";
}
const char* AliasLabel(Direction d) {
  return d == Direction::kOutgoing ? "ALMO01" : "ALMO02";
}
const char* TransferLabel(Direction d) {
  return d == Direction::kOutgoing ? "FXTR01" : "FXTR02";
}
const char* TransferPrefix(Direction d) {
  return d == Direction::kOutgoing ? "TR01" : "TR02";
}

std::string StandardFilter(std::string_view prefix, bool time_window, bool typed) {
  return Compose(prefix, time_window, typed, false);
}

std::string AccountFilter(std::string_view prefix, bool time_window, bool typed) {
  return Compose(prefix, time_window, typed, true);
}

std::string FreeFilter() {
  return "NOT(MO01:TIPOLLA = 'NT') AND MO01:TIPOLLA = 'ES' AND MO01:COSLLA = 0";
}

std::string UnratedFilter() {
  return "MO01:TIPOLLA = 'NT'";
}

std::string NumberDetailFilter(std::string_view prefix) {
  return ForPrefix(kDates, prefix);
}

bool TypeSelects(std::string_view loc_tipo, std::string_view tipolla) {
  if (nv::Clip(loc_tipo).empty()) return nv::CompareClipped(tipolla, "NT") != 0;
  return nv::CompareClipped(tipolla, loc_tipo) == 0;
}

bool WindowSelects(const Window& w, int32_t fecha, int32_t hora) {
  if (w.timed()) {
    const bool from = (fecha == w.desfec && hora >= w.deshor) || fecha > w.desfec;
    const bool to = fecha < w.hasfec || (fecha == w.hasfec && hora <= w.hashor);
    return from && to;
  }
  return w.desfec <= fecha && fecha <= w.hasfec;
}

bool CallSelects(std::string_view loc_tipo, const Window& w, const nv::dict::CallRecord& r) {
  if (!TypeSelects(loc_tipo, r.TIPOLLA.view())) return false;
  return WindowSelects(w, r.FECLLA.day(), r.HORLLA);
}

bool Range::Contains(std::string_view text) const {
  if (kind != RangeKind::kText) return true;
  return nv::dict::RANGO_STRING(text, desde, hasta);
}

bool Range::Contains(int64_t number) const {
  if (kind != RangeKind::kNumber) return true;
  return low <= number && number <= high;
}

std::string OrderKey(std::string_view prefix, std::string_view suffix) {
  return std::string(prefix) + ":" + std::string(prefix) + std::string(suffix);
}

std::string AccountOrder(std::string_view prefix) {
  return ForPrefix("MA09:DESCTA,MO01:FECLLA,MO01:HORLLA", prefix);
}

}  // namespace fxr4
