// Formatting of bound values by picture.
#include "host/report/value_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "host/runtime/picture.h"

namespace nv::report {
namespace {

char PictureLetter(std::string_view picture) {
  if (picture.size() < 2 || picture[0] != '@') return '\0';
  char c = picture[1];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return c;
}

std::string NumberText(double n) {
  if (!std::isfinite(n)) return "0";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  if (ec != std::errc()) return "0";
  return std::string(buf, end);
}

double TextNumber(std::string_view text) {
  std::string s(text);
  const char* p = s.c_str();
  while (*p == ' ') ++p;
  char* end = nullptr;
  double d = std::strtod(p, &end);
  if (end == p || !std::isfinite(d)) return 0;
  return d;
}

int32_t ToInt32(double d) {
  if (!std::isfinite(d)) return 0;
  d = std::trunc(d);
  if (d > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (d < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(d);
}

double AsNumber(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kString:
      return TextNumber(v.text);
    case Value::Kind::kNumber:
      return v.number;
    case Value::Kind::kDate:
    case Value::Kind::kTime:
      return v.integer;
  }
  return 0;
}

std::string AsText(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kString:
      return v.text;
    case Value::Kind::kNumber:
      return NumberText(v.number);
    case Value::Kind::kDate:
    case Value::Kind::kTime:
      return std::to_string(v.integer);
  }
  return {};
}

class RuntimeFormatter final : public ValueFormatter {
 public:
  std::string Format(std::string_view picture, const Value& value) const override {
    switch (value.kind) {
      case Value::Kind::kString:
        return nv::FormatPicture(picture, nv::Value(value.text));
      case Value::Kind::kNumber:
        return nv::FormatPicture(picture, nv::Value(value.number));
      case Value::Kind::kDate:
      case Value::Kind::kTime:
        return nv::FormatPicture(picture, nv::Value(value.integer));
    }
    return {};
  }
};

}  // namespace

ValueFormatter::~ValueFormatter() = default;

const ValueFormatter& DefaultFormatter() {
  static const RuntimeFormatter kFormatter;  // stateless, read-only
  return kFormatter;
}

std::string FormatValue(const ValueFormatter& formatter, std::string_view picture,
                        const Value& value) {
  if (picture.empty()) {
    switch (value.kind) {
      case Value::Kind::kString:
      case Value::Kind::kNumber:
        return AsText(value);
      case Value::Kind::kDate:
        return formatter.Format("@d6", value);
      case Value::Kind::kTime:
        return formatter.Format("@t4", value);
    }
    return {};
  }
  switch (PictureLetter(picture)) {
    case 'S':
      return formatter.Format(picture, Value::String(AsText(value)));
    case 'P':
      // A pattern takes the digits of a text (a tax number kept as a string)
      // as well as of a number.
      if (value.kind == Value::Kind::kString) return formatter.Format(picture, value);
      return formatter.Format(picture, Value::Number(AsNumber(value)));
    case 'N':
      return formatter.Format(picture, Value::Number(AsNumber(value)));
    case 'D':
      return formatter.Format(picture, Value::Date(ToInt32(AsNumber(value))));
    case 'T':
      return formatter.Format(picture, Value::Time(ToInt32(AsNumber(value))));
    default:
      return {};
  }
}

}  // namespace nv::report
