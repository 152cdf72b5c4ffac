// Packed decimals of the runtime (DECIMAL(n) fields of records).
//
// Layout of a decimal of `size` bytes (1..16) with `places` decimal places:
// big-endian BCD. The high nibble of the first byte is the sign (0x0
// positive, 0xF negative; any value with its top bit set reads as negative),
// followed by 2*size-1 digit nibbles, the last `places` of them after the
// decimal point. So a 2-byte decimal holds up to 3 digits, 3 bytes up to 5,
// 4 bytes up to 7; zero is all zero bytes and "top bit of the first byte set"
// means negative, which is what the key encoding relies on.
//
// Invariants kept by every writer here: only 0x0 or 0xF is written as sign,
// zero is always written positive, every digit nibble is 0..9, and nothing is
// written outside p[0..size) (on any failure p is left untouched).
// Readers accept a negative zero (it compares equal to zero). A digit nibble
// above 9 makes the decimal corrupt: conversions that return bool answer
// false, DecimalToText answers "", DecimalToDouble and DecimalCompare read
// it as zero.
//
// Rounding (to fewer places) is half away from zero everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

// True when size is 1..16 and places 0..2*size-1.
NV_API bool DecimalShapeValid(size_t size, int places);
NV_API bool DecimalIsValid(const uint8_t* p, size_t size);

// Packing; false on overflow, bad shape or bad input (p untouched).
// `value` is in whole units: 12 with 2 places stores 12.00.
NV_API bool DecimalFromInt64(int64_t value, uint8_t* p, size_t size, int places);
// `scaled` is the digits as an integer: 1234 with 2 places stores 12.34.
NV_API bool DecimalFromScaled(int64_t scaled, uint8_t* p, size_t size);
// Through 15 significant digits, so 1.005 is taken as written and rounds to
// 1.01 with 2 places. NaN and infinities are refused.
NV_API bool DecimalFromDouble(long double value, uint8_t* p, size_t size, int places);
// Text: optional blanks, an optional leading '+' or '-' (or a trailing '-'),
// digits with at most one '.', at least one digit. Anything else is refused.
NV_API bool DecimalFromText(std::string_view text, uint8_t* p, size_t size, int places);

// Unpacking.
NV_API bool DecimalToScaled(const uint8_t* p, size_t size, int64_t* scaled);
NV_API double DecimalToDouble(const uint8_t* p, size_t size, int places);
// Plain text: "-123.45", "0.50", "7"; no sign for zero.
NV_API std::string DecimalToText(const uint8_t* p, size_t size, int places);

// Numeric comparison, sign-aware, across sizes and places: -1, 0 or 1.
NV_API int DecimalCompare(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b,
                          size_t b_size, int b_places);
// out = a + b (out may alias a or b). False on overflow of out, corrupt
// input or bad shape; out is then untouched.
NV_API bool DecimalAdd(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b,
                       size_t b_size, int b_places, uint8_t* out, size_t out_size, int out_places);
NV_API bool DecimalSubtract(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b,
                            size_t b_size, int b_places, uint8_t* out, size_t out_size,
                            int out_places);

// The value rounded half away from zero to `places` (0..18) as plain text
// ("-1234.50"), through 15 significant digits; "" for NaN, infinities and
// values of more than 40 integer digits. Shared with picture formatting.
NV_API std::string RoundedText(long double value, int places);

template <size_t Bytes, int Places>
struct Decimal {
  static_assert(Bytes >= 1 && Bytes <= 16, "a decimal has 1 to 16 bytes");
  static_assert(Places >= 0 && Places <= static_cast<int>(2 * Bytes - 1), "bad places");
  static constexpr int kDigits = static_cast<int>(2 * Bytes - 1);
  uint8_t bytes_[Bytes];

  Decimal() { std::memset(bytes_, 0, Bytes); }

  bool Set(int64_t value) { return DecimalFromInt64(value, bytes_, Bytes, Places); }
  bool SetScaled(int64_t scaled) { return DecimalFromScaled(scaled, bytes_, Bytes); }
  bool SetDouble(long double value) { return DecimalFromDouble(value, bytes_, Bytes, Places); }
  bool SetText(std::string_view text) { return DecimalFromText(text, bytes_, Bytes, Places); }
  bool Add(const Decimal& other) {
    return DecimalAdd(bytes_, Bytes, Places, other.bytes_, Bytes, Places, bytes_, Bytes, Places);
  }

  bool Scaled(int64_t* out) const { return DecimalToScaled(bytes_, Bytes, out); }
  double ToDouble() const { return DecimalToDouble(bytes_, Bytes, Places); }
  std::string ToText() const { return DecimalToText(bytes_, Bytes, Places); }
  bool IsZero() const { return Compare(Decimal()) == 0; }

  template <size_t B2, int P2>
  int Compare(const Decimal<B2, P2>& o) const {
    return DecimalCompare(bytes_, Bytes, Places, o.bytes_, B2, P2);
  }
  template <size_t B2, int P2>
  friend bool operator==(const Decimal& a, const Decimal<B2, P2>& b) {
    return a.Compare(b) == 0;
  }
  template <size_t B2, int P2>
  friend bool operator<(const Decimal& a, const Decimal<B2, P2>& b) {
    return a.Compare(b) < 0;
  }
};

}  // namespace nv
