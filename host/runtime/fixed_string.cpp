// Text helpers over Windows-1252 bytes.
#include "host/runtime/fixed_string.h"

namespace nv {

std::string_view Clip(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return text.substr(0, n);
}

std::string LeftJustify(std::string_view text) {
  size_t lead = 0;
  while (lead < text.size() && text[lead] == ' ') ++lead;
  std::string out(text.substr(lead));
  out.append(lead, ' ');
  return out;
}

char UpperChar(char c) {
  auto u = static_cast<uint8_t>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 0x20);
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
  switch (u) {
    case 0xFF:
      return static_cast<char>(0x9F);  // ÿ → Ÿ
    case 0x9A:
      return static_cast<char>(0x8A);  // š → Š
    case 0x9C:
      return static_cast<char>(0x8C);  // œ → Œ
    case 0x9E:
      return static_cast<char>(0x8E);  // ž → Ž
    default:
      return c;
  }
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

int CompareClipped(std::string_view a, std::string_view b) {
  a = Clip(a);
  b = Clip(b);
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<uint8_t>(a[i]);
    auto y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void AssignPadded(char* dst, size_t n, std::string_view src) {
  size_t k = src.size() < n ? src.size() : n;
  if (k > 0) std::memcpy(dst, src.data(), k);
  if (n > k) std::memset(dst + k, ' ', n - k);
}

}  // namespace nv
