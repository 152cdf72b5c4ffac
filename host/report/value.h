// Values that a report procedure binds to a layout's value items by name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace nv::report {

// A string (Windows-1252), a number, a day number or a time. Which picture
// letter the item carries decides how it is shown; the kind says how the
// value converts when the two differ (see FormatValue).
struct Value {
  enum class Kind { kString, kNumber, kDate, kTime };

  Kind kind = Kind::kString;
  std::string text;
  double number = 0;
  int32_t integer = 0;  // day number or time (hundredths of a second + 1)

  static Value String(std::string s) {
    Value v;
    v.text = std::move(s);
    return v;
  }
  static Value Number(double n) {
    Value v;
    v.kind = Kind::kNumber;
    v.number = n;
    return v;
  }
  static Value Date(int32_t day) {
    Value v;
    v.kind = Kind::kDate;
    v.integer = day;
    return v;
  }
  static Value Time(int32_t time) {
    Value v;
    v.kind = Kind::kTime;
    v.integer = time;
    return v;
  }
};

}  // namespace nv::report
