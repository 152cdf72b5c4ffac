// Picture parsing, formatting and de-formatting.
#include "host/runtime/picture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/runtime/date_time.h"
#include "host/runtime/decimal.h"

namespace nv {
namespace {

constexpr int kMaxNumberWidth = 255;
constexpr int kMaxStringWidth = 65535;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

// Reads 1..9 digits at t[*pos]; false when there is none.
bool ReadInt(std::string_view t, size_t* pos, int* out) {
  size_t start = *pos;
  long v = 0;
  while (*pos < t.size() && IsDigit(t[*pos]) && *pos - start < 9) {
    v = v * 10 + (t[*pos] - '0');
    ++*pos;
  }
  if (*pos == start || (*pos < t.size() && IsDigit(t[*pos]))) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ParseNumber(std::string_view t, size_t pos, Picture* p) {
  p->kind = Picture::Kind::kNumber;
  if (pos < t.size() && t[pos] == '-') {
    p->minus = true;
    ++pos;
  }
  if (pos < t.size() && (t[pos] == '0' || t[pos] == '_' || t[pos] == '*')) p->fill = t[pos++];
  if (!ReadInt(t, &pos, &p->width) || p->width < 1 || p->width > kMaxNumberWidth) return false;
  p->grouping = p->fill == 0 || p->fill == '*';
  if (pos + 1 < t.size() && t[pos] == '.' && t[pos + 1] == '`') {
    p->group_sep = '.';
    ++pos;
  }
  if (pos < t.size() && (t[pos] == '.' || t[pos] == '`')) {
    p->decimal_mark = t[pos] == '.' ? '.' : ',';
    ++pos;
    if (!ReadInt(t, &pos, &p->places) || p->places > 18) return false;
    if (p->places > 0 && p->places >= p->width) return false;
  }
  if (p->decimal_mark == ',') p->group_sep = '.';
  if (pos < t.size() && (t[pos] == 'B' || t[pos] == 'b')) {
    p->blank_zero = true;
    ++pos;
  }
  return pos == t.size();
}

// Digits of a value for patterns (no sign, no leading zeros).
std::string PatternDigits(const Value& v) {
  std::string d;
  if (v.kind == Value::Kind::kText) {
    for (char c : v.text) {
      if (IsDigit(c)) d.push_back(c);
    }
  } else if (v.kind == Value::Kind::kInteger) {
    uint64_t mag =
        v.integer < 0 ? 0 - static_cast<uint64_t>(v.integer) : static_cast<uint64_t>(v.integer);
    d = std::to_string(mag);
  } else {
    d = RoundedText(std::fabs(v.number), 0);
  }
  size_t nz = d.find_first_not_of('0');
  return nz == std::string::npos ? "" : d.substr(nz);
}

// Plain text ("-1234.50") of a value rounded to `places`; "" when impossible.
std::string PlainNumber(const Value& v, int places) {
  if (v.kind == Value::Kind::kInteger) {
    std::string s = std::to_string(v.integer);
    if (places > 0) s += "." + std::string(static_cast<size_t>(places), '0');
    return s;
  }
  return RoundedText(v.AsNumber(), places);
}

std::string GroupDigits(const std::string& digits, char sep) {
  std::string out;
  size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(sep);
    out.push_back(digits[i]);
  }
  return out;
}

std::string FormatNumberPic(const Picture& p, const Value& v) {
  const size_t width = static_cast<size_t>(p.width);
  const std::string overflow(width, '#');
  std::string plain = PlainNumber(v, p.places);
  if (plain.empty()) return overflow;
  bool neg = plain[0] == '-';
  if (neg) plain.erase(0, 1);
  size_t point = plain.find('.');
  std::string int_part = plain.substr(0, point);
  std::string frac = point == std::string::npos ? "" : plain.substr(point + 1);
  if (p.blank_zero && int_part.find_first_not_of('0') == std::string::npos &&
      frac.find_first_not_of('0') == std::string::npos) {
    return std::string(width, ' ');
  }
  std::string body = p.grouping ? GroupDigits(int_part, p.group_sep) : int_part;
  if (p.places > 0) {
    body.push_back(p.decimal_mark);
    body += frac;
  }
  std::string sign = neg ? "-" : "";
  if (sign.size() + body.size() > width) return overflow;
  size_t pad = width - sign.size() - body.size();
  if (p.fill == '0') return sign + std::string(pad, '0') + body;
  return std::string(pad, p.fill == '*' ? '*' : ' ') + sign + body;
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string Lead(int v, bool zero) {
  char buf[16];
  std::snprintf(buf, sizeof buf, zero ? "%02d" : "%2d", v);
  return buf;
}

std::string FormatDatePic(const Picture& p, const Value& v) {
  const size_t width = static_cast<size_t>(p.width);
  int64_t date = v.AsInteger();
  if (date == 0) return std::string(width, ' ');
  int y, m, d;
  if (date < 0 || date > kMaxDate || !YmdFromDate(static_cast<int32_t>(date), &y, &m, &d)) {
    return std::string(width, '#');
  }
  bool month_first = p.form == 1 || p.form == 2;
  bool long_year = p.form == 2 || p.form == 6;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04d", y);
  std::string year = long_year ? std::string(buf) : Two(y % 100);
  if (month_first) return Lead(m, p.zero) + "/" + Two(d) + "/" + year;
  return Lead(d, p.zero) + "/" + Two(m) + "/" + year;
}

std::string FormatTimePic(const Picture& p, const Value& v) {
  const size_t width = static_cast<size_t>(p.width);
  int64_t time = v.AsInteger();
  if (time == 0) return std::string(width, ' ');
  if (time < 0 || time > 100LL * 360000) return std::string(width, '#');
  int64_t t = time - 1;
  int h = static_cast<int>(t / 360000);
  int m = static_cast<int>(t / 6000 % 60);
  int s = static_cast<int>(t / 100 % 60);
  std::string out = Lead(h, p.zero) + ":" + Two(m);
  if (p.form == 4) out += ":" + Two(s);
  return out;
}

std::string FormatPatternPic(const Picture& p, const Value& v) {
  std::string digits = PatternDigits(v);
  size_t slots = 0;
  for (char c : p.pattern) slots += c == '#';
  if (digits.size() > slots) return std::string(static_cast<size_t>(p.width), '#');
  digits.insert(0, slots - digits.size(), '0');
  std::string out = p.pattern;
  size_t k = 0;
  for (char& c : out) {
    if (c == '#') c = digits[k++];
  }
  return out;
}

// Splits "a<sep>b[<sep>c]" into numbers of 1..max_len digits each.
int SplitNumbers(std::string_view t, std::string_view seps, int* parts, int* lens, int max_parts) {
  int n = 0;
  size_t pos = 0;
  while (true) {
    if (n == max_parts) return -1;
    size_t start = pos;
    int v = 0;
    while (pos < t.size() && IsDigit(t[pos]) && pos - start < 4) v = v * 10 + (t[pos++] - '0');
    if (pos == start) return -1;
    parts[n] = v;
    lens[n] = static_cast<int>(pos - start);
    ++n;
    if (pos == t.size()) return n;
    if (seps.find(t[pos]) == std::string_view::npos) return -1;
    ++pos;
  }
}

}  // namespace

double Value::AsNumber() const {
  switch (kind) {
    case Kind::kNumber:
      return number;
    case Kind::kInteger:
      return static_cast<double>(integer);
    case Kind::kText:
      return DeformatNumber("@N-_30.15", text);
  }
  return 0;
}

int64_t Value::AsInteger() const {
  if (kind == Kind::kInteger) return integer;
  double d = AsNumber();
  if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) return INT64_MIN;
  return static_cast<int64_t>(d);
}

std::string Value::AsText() const {
  switch (kind) {
    case Kind::kText:
      return text;
    case Kind::kInteger:
      return std::to_string(integer);
    case Kind::kNumber: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", number);
      return buf;
    }
  }
  return "";
}

bool Value::operator==(const Value& o) const {
  if (IsText() || o.IsText()) return IsText() && o.IsText() && text == o.text;
  if (kind == Kind::kInteger && o.kind == Kind::kInteger) return integer == o.integer;
  return AsNumber() == o.AsNumber();
}

bool ParsePicture(std::string_view t, Picture* out) {
  Picture p;
  if (t.size() < 3 || t[0] != '@') return false;
  char letter = Lower(t[1]);
  size_t pos = 2;
  bool ok = false;
  switch (letter) {
    case 's':
      p.kind = Picture::Kind::kString;
      ok = ReadInt(t, &pos, &p.width) && pos == t.size() && p.width >= 1 &&
           p.width <= kMaxStringWidth;
      break;
    case 'n':
      ok = ParseNumber(t, pos, &p);
      break;
    case 'd':
    case 't': {
      p.kind = letter == 'd' ? Picture::Kind::kDate : Picture::Kind::kTime;
      if (pos < t.size() && t[pos] == '0' && pos + 1 < t.size()) {
        p.zero = true;
        ++pos;
      }
      if (pos + 1 != t.size() || !IsDigit(t[pos])) break;
      p.form = t[pos] - '0';
      if (letter == 'd') {
        ok = p.form == 1 || p.form == 2 || p.form == 5 || p.form == 6;
        p.width = p.form == 1 || p.form == 5 ? 8 : 10;
      } else {
        ok = p.form == 1 || p.form == 4;
        p.width = p.form == 1 ? 5 : 8;
      }
      break;
    }
    case 'p':
      p.kind = Picture::Kind::kPattern;
      if (Lower(t.back()) != 'p' || t.size() < 4) break;
      p.pattern = std::string(t.substr(2, t.size() - 3));
      p.width = static_cast<int>(p.pattern.size());
      ok = p.pattern.find('#') != std::string::npos;
      break;
    default:
      break;
  }
  if (ok && out) *out = p;
  return ok;
}

int PictureWidth(std::string_view picture) {
  Picture p;
  return ParsePicture(picture, &p) ? p.width : 0;
}

std::string Format(const Picture& p, const Value& v) {
  switch (p.kind) {
    case Picture::Kind::kString: {
      std::string s = v.AsText();
      s.resize(static_cast<size_t>(p.width), ' ');
      return s;
    }
    case Picture::Kind::kNumber:
      return FormatNumberPic(p, v);
    case Picture::Kind::kDate:
      return FormatDatePic(p, v);
    case Picture::Kind::kTime:
      return FormatTimePic(p, v);
    case Picture::Kind::kPattern:
      return FormatPatternPic(p, v);
  }
  return "";
}

std::string Format(std::string_view picture, const Value& value) {
  Picture p;
  if (!ParsePicture(picture, &p)) return "";
  return Format(p, value);
}

std::string FormatPicture(std::string_view picture, const Value& value) {
  return Format(picture, value);
}
std::string FormatNumber(std::string_view picture, double value) {
  return Format(picture, Value(value));
}
std::string FormatNumber(std::string_view picture, int64_t value) {
  return Format(picture, Value(static_cast<long long>(value)));
}
std::string FormatDate(std::string_view picture, int32_t date) {
  return Format(picture, Value(date));
}
std::string FormatTime(std::string_view picture, int32_t time) {
  return Format(picture, Value(time));
}
std::string FormatString(std::string_view picture, std::string_view text) {
  return Format(picture, Value(text));
}

double DeformatNumber(std::string_view picture, std::string_view text) {
  Picture p;
  if (!ParsePicture(picture, &p) || p.kind != Picture::Kind::kNumber) return 0;
  std::string s;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == p.group_sep || (c == '*' && p.fill == '*')) continue;
    s.push_back(c);
  }
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.erase(0, 1);
  } else if (!s.empty() && s.back() == '-') {
    neg = true;
    s.pop_back();
  }
  std::string plain;
  bool mark = false, any = false;
  for (char c : s) {
    if (IsDigit(c)) {
      plain.push_back(c);
      any = true;
    } else if (c == p.decimal_mark && !mark) {
      plain.push_back('.');
      mark = true;
    } else {
      return 0;
    }
  }
  if (!any) return 0;
  double v = std::strtod(plain.c_str(), nullptr);
  return neg ? -v : v;
}

int32_t DeformatDate(std::string_view picture, std::string_view text) {
  Picture p;
  if (!ParsePicture(picture, &p) || p.kind != Picture::Kind::kDate) return 0;
  int parts[3], lens[3];
  if (SplitNumbers(Trim(text), "/-.", parts, lens, 3) != 3) return 0;
  if (lens[0] > 2 || lens[1] > 2 || (lens[2] != 2 && lens[2] != 4)) return 0;
  int year = parts[2];
  if (lens[2] == 2) year += year < 50 ? 2000 : 1900;
  bool month_first = p.form == 1 || p.form == 2;
  int month = month_first ? parts[0] : parts[1];
  int day = month_first ? parts[1] : parts[0];
  return DateFromYmd(year, month, day);
}

int32_t DeformatTime(std::string_view picture, std::string_view text) {
  Picture p;
  if (!ParsePicture(picture, &p) || p.kind != Picture::Kind::kTime) return 0;
  int parts[3] = {0, 0, 0}, lens[3];
  int n = SplitNumbers(Trim(text), ":", parts, lens, 3);
  if (n < 2) return 0;
  for (int i = 0; i < n; ++i) {
    if (lens[i] > 2 || (i > 0 && lens[i] != 2)) return 0;
  }
  return TimeFromHms(parts[0], parts[1], n == 3 ? parts[2] : 0, 0);
}

std::string DeformatPattern(std::string_view picture, std::string_view text) {
  Picture p;
  if (!ParsePicture(picture, &p) || p.kind != Picture::Kind::kPattern) return "";
  std::string d;
  for (char c : text) {
    if (IsDigit(c)) d.push_back(c);
  }
  return d;
}

Value Deformat(std::string_view picture, std::string_view text) {
  Picture p;
  if (!ParsePicture(picture, &p)) return Value();
  switch (p.kind) {
    case Picture::Kind::kString:
      return Value(text.substr(0, static_cast<size_t>(p.width)));
    case Picture::Kind::kNumber:
      return Value(DeformatNumber(picture, text));
    case Picture::Kind::kDate:
      return Value(DeformatDate(picture, text));
    case Picture::Kind::kTime:
      return Value(DeformatTime(picture, text));
    case Picture::Kind::kPattern:
      return Value(DeformatPattern(picture, text));
  }
  return Value();
}

}  // namespace nv
