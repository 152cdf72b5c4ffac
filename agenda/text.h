// Source literals are UTF-8; every text inside the runtime (window
// definitions, record fields, message boxes) is Windows-1252.
#pragma once

#include <string>
#include <string_view>

#include "host/runtime/codepage.h"

namespace agenda {

inline std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

}  // namespace agenda

#include <cstdint>

#include "host/runtime/decimal.h"

namespace agenda {

// The value of a packed decimal without places (0 when it is corrupt).
template <size_t B>
int64_t Int(const nv::Decimal<B, 0>& d) {
  int64_t v = 0;
  return d.Scaled(&v) ? v : 0;
}

}  // namespace agenda
