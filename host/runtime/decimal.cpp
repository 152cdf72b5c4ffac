// Packed decimal arithmetic. Values are unpacked into a sign and a string of
// decimal digits with a number of places, worked on as text (exact for every
// width up to 31 digits), and packed back only when they fit.
#include "host/runtime/decimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace nv {
namespace {

struct Num {
  bool neg = false;
  std::string digits;  // most significant first; value = digits / 10^places
  int places = 0;
};

void StripLeadingZeros(Num* n) {
  size_t keep = static_cast<size_t>(n->places) + 1;  // at least one integer digit
  size_t lead = 0;
  while (n->digits.size() - lead > keep && n->digits[lead] == '0') ++lead;
  n->digits.erase(0, lead);
}

bool IsZeroDigits(const std::string& d) {
  return d.find_first_not_of('0') == std::string::npos;
}

// Rounds (half away from zero) or extends to `places`.
void Rescale(Num* n, int places) {
  if (places >= n->places) {
    n->digits.append(static_cast<size_t>(places - n->places), '0');
  } else {
    size_t drop = static_cast<size_t>(n->places - places);
    bool up = n->digits[n->digits.size() - drop] >= '5';
    n->digits.resize(n->digits.size() - drop);
    if (up) {
      size_t i = n->digits.size();
      while (i > 0) {
        --i;
        if (n->digits[i] == '9') {
          n->digits[i] = '0';
        } else {
          ++n->digits[i];
          break;
        }
        if (i == 0) n->digits.insert(n->digits.begin(), '1');
      }
      if (n->digits.empty()) n->digits = "1";
    }
  }
  n->places = places;
  if (n->digits.size() < static_cast<size_t>(places) + 1) {
    n->digits.insert(0, static_cast<size_t>(places) + 1 - n->digits.size(), '0');
  }
}

bool Read(const uint8_t* p, size_t size, int places, Num* n) {
  n->neg = (p[0] & 0x80) != 0;
  n->places = places;
  n->digits.clear();
  for (size_t i = 0; i < size; ++i) {
    int hi = p[i] >> 4;
    int lo = p[i] & 0x0F;
    if (i > 0) {
      if (hi > 9) return false;
      n->digits.push_back(static_cast<char>('0' + hi));
    }
    if (lo > 9) return false;
    n->digits.push_back(static_cast<char>('0' + lo));
  }
  if (IsZeroDigits(n->digits)) n->neg = false;
  return true;
}

// Packs n (rescaled to `places`) into p; false when it does not fit.
bool Write(Num n, uint8_t* p, size_t size, int places) {
  if (!DecimalShapeValid(size, places)) return false;
  Rescale(&n, places);
  StripLeadingZeros(&n);
  const size_t digits = 2 * size - 1;
  if (n.digits.size() > digits) return false;
  n.digits.insert(0, digits - n.digits.size(), '0');
  bool neg = n.neg && !IsZeroDigits(n.digits);
  uint8_t buf[16];
  buf[0] = static_cast<uint8_t>((neg ? 0xF0 : 0x00) | (n.digits[0] - '0'));
  for (size_t i = 1; i < size; ++i) {
    buf[i] = static_cast<uint8_t>(((n.digits[2 * i - 1] - '0') << 4) | (n.digits[2 * i] - '0'));
  }
  std::memcpy(p, buf, size);
  return true;
}

bool ParseText(std::string_view t, Num* n) {
  size_t b = 0, e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  t = t.substr(b, e - b);
  bool neg = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    neg = t.front() == '-';
    t.remove_prefix(1);
  } else if (!t.empty() && t.back() == '-') {
    neg = true;
    t.remove_suffix(1);
  }
  std::string digits;
  int places = 0;
  bool point = false;
  bool any = false;
  for (char c : t) {
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
      any = true;
      if (point) ++places;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!any) return false;
  n->neg = neg;
  n->digits = digits;
  n->places = places;
  if (n->digits.size() < static_cast<size_t>(places) + 1) {
    n->digits.insert(0, static_cast<size_t>(places) + 1 - n->digits.size(), '0');
  }
  StripLeadingZeros(n);
  return true;
}

// Compares magnitudes of two values of the same places.
int CompareMagnitude(Num a, Num b) {
  StripLeadingZeros(&a);
  StripLeadingZeros(&b);
  if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size() ? -1 : 1;
  int c = a.digits.compare(b.digits);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareNum(Num a, Num b) {
  int places = a.places > b.places ? a.places : b.places;
  Rescale(&a, places);
  Rescale(&b, places);
  bool az = IsZeroDigits(a.digits), bz = IsZeroDigits(b.digits);
  bool an = a.neg && !az, bn = b.neg && !bz;
  if (an != bn) return an ? -1 : 1;
  int m = CompareMagnitude(a, b);
  return an ? -m : m;
}

Num AddNum(Num a, Num b) {
  int places = a.places > b.places ? a.places : b.places;
  Rescale(&a, places);
  Rescale(&b, places);
  size_t len = (a.digits.size() > b.digits.size() ? a.digits.size() : b.digits.size()) + 1;
  a.digits.insert(0, len - a.digits.size(), '0');
  b.digits.insert(0, len - b.digits.size(), '0');
  Num r;
  r.places = places;
  r.digits.assign(len, '0');
  if (a.neg == b.neg) {
    int carry = 0;
    for (size_t i = len; i-- > 0;) {
      int s = (a.digits[i] - '0') + (b.digits[i] - '0') + carry;
      r.digits[i] = static_cast<char>('0' + s % 10);
      carry = s / 10;
    }
    r.neg = a.neg;
  } else {
    const Num* big = &a;
    const Num* small = &b;
    if (a.digits.compare(b.digits) < 0) std::swap(big, small);
    int borrow = 0;
    for (size_t i = len; i-- > 0;) {
      int s = (big->digits[i] - '0') - (small->digits[i] - '0') - borrow;
      borrow = s < 0;
      if (s < 0) s += 10;
      r.digits[i] = static_cast<char>('0' + s);
    }
    r.neg = big->neg;
  }
  StripLeadingZeros(&r);
  if (IsZeroDigits(r.digits)) r.neg = false;
  return r;
}

Num FromInt64(int64_t v) {
  Num n;
  n.neg = v < 0;
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  n.digits = std::to_string(mag);
  return n;
}

}  // namespace

bool DecimalShapeValid(size_t size, int places) {
  return size >= 1 && size <= 16 && places >= 0 && places <= static_cast<int>(2 * size - 1);
}

bool DecimalIsValid(const uint8_t* p, size_t size) {
  if (size < 1 || size > 16) return false;
  Num n;
  return Read(p, size, 0, &n);
}

bool DecimalFromInt64(int64_t value, uint8_t* p, size_t size, int places) {
  return Write(FromInt64(value), p, size, places);
}

bool DecimalFromScaled(int64_t scaled, uint8_t* p, size_t size) {
  if (size < 1 || size > 16) return false;
  return Write(FromInt64(scaled), p, size, 0);
}

bool DecimalFromDouble(long double value, uint8_t* p, size_t size, int places) {
  if (!DecimalShapeValid(size, places)) return false;
  std::string text = RoundedText(value, places);
  Num n;
  if (text.empty() || !ParseText(text, &n)) return false;
  return Write(n, p, size, places);
}

bool DecimalFromText(std::string_view text, uint8_t* p, size_t size, int places) {
  Num n;
  if (!ParseText(text, &n)) return false;
  return Write(n, p, size, places);
}

bool DecimalToScaled(const uint8_t* p, size_t size, int64_t* scaled) {
  if (size < 1 || size > 16) return false;
  Num n;
  if (!Read(p, size, 0, &n)) return false;
  StripLeadingZeros(&n);
  if (n.digits.size() > 19) return false;
  uint64_t mag = std::strtoull(n.digits.c_str(), nullptr, 10);
  if (n.digits.size() == 19 && n.digits > "9223372036854775808") return false;
  if (!n.neg && mag > static_cast<uint64_t>(INT64_MAX)) return false;
  *scaled = n.neg ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
  return true;
}

std::string DecimalToText(const uint8_t* p, size_t size, int places) {
  if (!DecimalShapeValid(size, places)) return "";
  Num n;
  if (!Read(p, size, places, &n)) return "";
  StripLeadingZeros(&n);
  std::string out = n.neg ? "-" : "";
  size_t int_len = n.digits.size() - static_cast<size_t>(places);
  out.append(n.digits, 0, int_len);
  if (places > 0) {
    out.push_back('.');
    out.append(n.digits, int_len, std::string::npos);
  }
  return out;
}

double DecimalToDouble(const uint8_t* p, size_t size, int places) {
  std::string text = DecimalToText(p, size, places);
  return text.empty() ? 0.0 : std::strtod(text.c_str(), nullptr);
}

int DecimalCompare(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b, size_t b_size,
                   int b_places) {
  Num x, y;
  if (!DecimalShapeValid(a_size, a_places) || !Read(a, a_size, a_places, &x))
    x = Num{false, "0", 0};
  if (!DecimalShapeValid(b_size, b_places) || !Read(b, b_size, b_places, &y))
    y = Num{false, "0", 0};
  return CompareNum(x, y);
}

bool DecimalAdd(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b, size_t b_size,
                int b_places, uint8_t* out, size_t out_size, int out_places) {
  Num x, y;
  if (!DecimalShapeValid(a_size, a_places) || !DecimalShapeValid(b_size, b_places)) return false;
  if (!Read(a, a_size, a_places, &x) || !Read(b, b_size, b_places, &y)) return false;
  return Write(AddNum(x, y), out, out_size, out_places);
}

bool DecimalSubtract(const uint8_t* a, size_t a_size, int a_places, const uint8_t* b, size_t b_size,
                     int b_places, uint8_t* out, size_t out_size, int out_places) {
  Num x, y;
  if (!DecimalShapeValid(a_size, a_places) || !DecimalShapeValid(b_size, b_places)) return false;
  if (!Read(a, a_size, a_places, &x) || !Read(b, b_size, b_places, &y)) return false;
  y.neg = !y.neg;
  return Write(AddNum(x, y), out, out_size, out_places);
}

std::string RoundedText(long double value, int places) {
  if (!std::isfinite(value) || places < 0 || places > 18) return "";
  bool neg = value < 0;
  long double mag = neg ? -value : value;
  if (mag >= 1e40L) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14Le", mag);  // d.dddddddddddddde±xx
  std::string mant;
  for (const char* c = buf; *c && *c != 'e'; ++c) {
    if (*c >= '0' && *c <= '9') mant.push_back(*c);
  }
  int exp = std::atoi(std::strchr(buf, 'e') + 1);
  // value = 0.mant * 10^(exp+1): express as digits with `places` places.
  Num n;
  n.neg = neg;
  int point = exp + 1;  // digits of mant before the decimal point
  if (point >= static_cast<int>(mant.size())) {
    n.digits = mant + std::string(static_cast<size_t>(point) - mant.size(), '0');
    n.places = 0;
  } else if (point > 0) {
    n.digits = mant;
    n.places = static_cast<int>(mant.size()) - point;
  } else {
    n.digits = std::string(static_cast<size_t>(-point), '0') + mant;
    n.places = static_cast<int>(n.digits.size());
  }
  if (n.digits.size() < static_cast<size_t>(n.places) + 1) n.digits.insert(0, "0");
  Rescale(&n, places);
  StripLeadingZeros(&n);
  if (IsZeroDigits(n.digits)) n.neg = false;
  std::string out = n.neg ? "-" : "";
  size_t int_len = n.digits.size() - static_cast<size_t>(places);
  out.append(n.digits, 0, int_len);
  if (places > 0) {
    out.push_back('.');
    out.append(n.digits, int_len, std::string::npos);
  }
  return out;
}

}  // namespace nv
