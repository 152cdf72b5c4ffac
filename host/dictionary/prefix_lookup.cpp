#include "host/dictionary/prefix_lookup.h"

#include <cstring>

#include "host/dictionary/records.h"
#include "host/runtime/fixed_string.h"

namespace nv::dict {

namespace {

bool AllDigits(std::string_view s) {
  for (char ch : s)
    if (ch < '0' || ch > '9') return false;
  return true;
}

}  // namespace

PrefixLookup::PrefixLookup(nv::File& re09) : re09_(re09), key_(re09.key("RE09:RE09_C3")) {
  if (key_ == nullptr) key_ = re09.key("ARE09:RE09_C3");
}

void PrefixLookup::ResetCache() {
  cached_ = false;
  cache_number_.clear();
  cache_link_ = {};
  gap_char_ = -1;
  for (Gap& g : gaps_) g = Gap{};
  for (size_t c = 0; c < 256; ++c) {
    known_[c] = false;
    lengths_[c].clear();
  }
}

NumberOwner PrefixLookup::Find(std::string_view number) {
  const std::string_view x = nv::Clip(number);
  if (cached_ && x == cache_number_) return cache_link_;
  cache_link_ = Walk(x);
  cache_number_ = std::string(x);
  cached_ = true;
  return cache_link_;
}

const std::vector<uint8_t>& PrefixLookup::Lengths(char first) {
  const auto c = static_cast<unsigned char>(first);
  std::vector<uint8_t>& out = lengths_[c];
  if (known_[c] || key_ == nullptr) return out;
  known_[c] = true;
  // From the longest length down: each positioned read lands on the first
  // number of the next shorter length present (numbers start at the lowest
  // bytes), or leaves the first character.
  auto& r = re09_.As<RE09Record>();
  for (int below = 255; below > 0;) {
    re09_.Clear();
    r.CARINI = std::string_view(&first, 1);
    r.LONTEL = uint8_t(below);
    // Blanks: the lowest text every store keeps (a server refuses a zero
    // byte inside a text).
    std::memset(r.NROTEL.data(), ' ', sizeof r.NROTEL);
    if (re09_.Set(key_, key_) != 0 || re09_.Next() != 0) break;
    ++scans_;
    const uint8_t length = r.LONTEL;
    if (r.CARINI.view()[0] != first || length == 0 || length > below) break;
    out.push_back(length);
    below = length - 1;
  }
  return out;
}

void PrefixLookup::Probe(char first, uint8_t length, std::string_view prefix, Gap* gap) {
  auto& r = re09_.As<RE09Record>();
  ++probes_;
  re09_.Clear();
  r.CARINI = std::string_view(&first, 1);
  r.LONTEL = length;
  r.NROTEL = prefix;
  *gap = Gap{};
  gap->known = true;
  gap->from = std::string(prefix);
  gap->digits = AllDigits(prefix);
  if (re09_.Set(key_, key_) != 0 || re09_.Next() != 0 || r.CARINI.view()[0] != first ||
      r.LONTEL != length) {
    gap->end = true;
    return;
  }
  const std::string_view next = r.NROTEL.clipped();
  gap->next = std::string(next);
  gap->exact = next.size() == length;
  gap->digits = gap->digits && gap->exact && AllDigits(next);
  int64_t code = 0, group = 0;
  r.CODIGO.Scaled(&code);
  r.GRUAGE.Scaled(&group);
  gap->link = {int32_t(code), int32_t(group)};
}

NumberOwner PrefixLookup::Walk(std::string_view x) {
  if (x.empty() || key_ == nullptr) return {};
  ++lookups_;
  const int first = static_cast<unsigned char>(x[0]);
  if (first != gap_char_) {
    for (Gap& g : gaps_) g = Gap{};
    gap_char_ = first;
  }
  for (const uint8_t length : Lengths(x[0])) {
    if (length > x.size() || length > kWidth) continue;
    const std::string_view prefix = x.substr(0, length);
    Gap& g = gaps_[length];
    // Inside the gap of an earlier probe (digits only): no need to read.
    const bool inside =
        g.known && g.digits && AllDigits(prefix) && g.from <= prefix && (g.end || prefix <= g.next);
    const bool same = g.known && prefix == g.from;
    if (!inside && !same) Probe(x[0], length, prefix, &g);
    if (!g.end && g.exact && prefix == g.next) return g.link;
  }
  return {};
}

NumberOwner PrefixLookup::Lookup(std::string_view number) {
  if (!LookupRecord(number)) return {};
  auto& r = re09_.As<RE09Record>();
  int64_t code = 0, group = 0;
  r.CODIGO.Scaled(&code);
  r.GRUAGE.Scaled(&group);
  return {int32_t(code), int32_t(group)};
}

bool PrefixLookup::LookupRecord(std::string_view number) {
  const std::string_view x = nv::Clip(number);
  if (x.empty() || key_ == nullptr) return false;
  ++lookups_;
  auto& r = re09_.As<RE09Record>();
  for (const uint8_t length : Lengths(x[0])) {
    if (length > x.size() || length > kWidth) continue;
    const std::string_view prefix = x.substr(0, length);
    re09_.Clear();
    r.CARINI = x.substr(0, 1);
    r.LONTEL = length;
    r.NROTEL = prefix;
    ++probes_;
    if (re09_.Get(key_) != 0) continue;
    // The key matched; a record whose derived fields disagree with its
    // number is no match.
    if (r.NROTEL.clipped() != prefix) continue;
    return true;
  }
  return false;
}

}  // namespace nv::dict
