// Display pictures: turning values into text ("formatting") and text back
// into values ("de-formatting").
//
//   @Sn                               string of width n
//   @N[-][fill]width[grouping][places][B]   number
//   @D[0]n  (n = 1, 2, 5, 6)          date (day number)
//   @T[0]n  (n = 1, 4)                time or duration (hundredths + 1)
//   @P...P                            pattern: each '#' takes a digit
//
// The letter after '@' (and a number picture's B, a pattern's closing P) is
// case-insensitive. A malformed picture (no '@', unknown letter, missing or
// zero width, missing or too many places, unknown date or time form, trailing
// characters) is refused by ParsePicture; Format then gives "" and the
// Deformat functions give an empty value (0 or ""). Nothing here throws.
//
// Decisions where the picture rules leave room:
// - a number picture whose decimal mark is ',' (a grave accent) groups with
//   '.', whether or not the '.' is written, so that the two marks never
//   coincide and the text can be read back;
// - with zero fill the minus sign comes first ("-0012"); with blank or
//   asterisk fill it sits right before the digits ("  -12", "**-12");
// - a date or time value outside its range formats as '#' repeated width
//   times (0 stays blanks); times up to 99 hours format, for durations;
// - a pattern value with more digits than the pattern has '#' formats as
//   '#' repeated width times; negative numbers use their digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/runtime/export.h"

namespace nv {

// A value a picture formats: a number (double or exact integer) or a text.
struct NV_API Value {
  enum class Kind { kNumber, kInteger, kText };
  Kind kind = Kind::kInteger;
  double number = 0;
  int64_t integer = 0;
  std::string text;

  Value() = default;
  Value(double v) : kind(Kind::kNumber), number(v) {}          // NOLINT
  Value(int v) : kind(Kind::kInteger), integer(v) {}           // NOLINT
  Value(long v) : kind(Kind::kInteger), integer(v) {}          // NOLINT
  Value(long long v) : kind(Kind::kInteger), integer(v) {}     // NOLINT
  Value(std::string_view v) : kind(Kind::kText), text(v) {}    // NOLINT
  Value(const char* v) : kind(Kind::kText), text(v) {}         // NOLINT
  Value(const std::string& v) : kind(Kind::kText), text(v) {}  // NOLINT

  bool IsText() const { return kind == Kind::kText; }
  // A text reads as a plain number ("-12.5", blanks allowed); otherwise 0.
  double AsNumber() const;
  int64_t AsInteger() const;  // truncated toward zero
  std::string AsText() const;
  bool operator==(const Value& o) const;
};

struct Picture {
  enum class Kind { kString, kNumber, kDate, kTime, kPattern };
  Kind kind = Kind::kString;
  int width = 0;
  // Numbers.
  bool minus = false;     // '-' written
  char fill = 0;          // 0 (blanks, grouping), '0', '_', '*'
  bool grouping = false;  // thousands separators shown
  char group_sep = ',';
  char decimal_mark = '.';
  int places = 0;
  bool blank_zero = false;  // trailing B
  // Dates and times.
  int form = 0;       // 1, 2, 5, 6 (dates); 1, 4 (times)
  bool zero = false;  // leading zero kept
  // Patterns: the text between the P's.
  std::string pattern;
};

NV_API bool ParsePicture(std::string_view text, Picture* out);
// The display width; 0 for a malformed picture.
NV_API int PictureWidth(std::string_view picture);

NV_API std::string Format(std::string_view picture, const Value& value);
NV_API std::string Format(const Picture& picture, const Value& value);
NV_API Value Deformat(std::string_view picture, std::string_view text);

NV_API std::string FormatNumber(std::string_view picture, double value);
NV_API std::string FormatNumber(std::string_view picture, int64_t value);
inline std::string FormatNumber(std::string_view picture, int value) {
  return FormatNumber(picture, static_cast<int64_t>(value));
}
NV_API std::string FormatDate(std::string_view picture, int32_t date);
NV_API std::string FormatTime(std::string_view picture, int32_t time);
NV_API std::string FormatString(std::string_view picture, std::string_view text);
// Same as Format: the picture letter chooses.
NV_API std::string FormatPicture(std::string_view picture, const Value& value);

// 0 for text that is not a number (or a picture that is not a number's).
NV_API double DeformatNumber(std::string_view picture, std::string_view text);
// 0 for an impossible date or a picture that is not a date's.
NV_API int32_t DeformatDate(std::string_view picture, std::string_view text);
// 0 for an impossible time or a picture that is not a time's.
NV_API int32_t DeformatTime(std::string_view picture, std::string_view text);
// The digits of the text; "" for a picture that is not a pattern.
NV_API std::string DeformatPattern(std::string_view picture, std::string_view text);

}  // namespace nv
