// Turning a bound value into the text of a value item.
//
// The engine formats through a ValueFormatter so that a caller (or a test) can
// supply its own; the default one uses the runtime's picture formatting. A
// formatter must be usable from several report threads at once: the engine
// only calls its const members.
#pragma once

#include <string>
#include <string_view>

#include "host/report/value.h"
#include "host/runtime/export.h"

namespace nv::report {

class NV_API ValueFormatter {
 public:
  virtual ~ValueFormatter();
  // Text of `value` under `picture` (a non-empty picture starting with '@').
  // The value has already been converted to the picture's kind: a string for
  // @S, a number for @N, a day number for @D, a time for @T, a string or a
  // number for @P.
  virtual std::string Format(std::string_view picture, const Value& value) const = 0;
};

// The runtime-backed formatter (stateless; one shared instance).
NV_API const ValueFormatter& DefaultFormatter();

// Formats `value` for an item with `picture`:
// - no picture: strings as they are, numbers in their shortest exact decimal
//   form, day numbers and times through "@d6" and "@t4";
// - otherwise the picture's letter (case-insensitive) chooses the kind, and a
//   value of another kind converts first: a string is read as a number
//   (leading blanks skipped, anything that is not a number is 0) for @N, @D
//   and @T, and is passed on as it is for @P (a pattern takes its digits); a number is truncated to
//   an integer for @D and @T; numbers, days and times are written as decimal text for @S;
// - a picture with an unknown letter formats as an empty text.
NV_API std::string FormatValue(const ValueFormatter& formatter, std::string_view picture,
                               const Value& value);

}  // namespace nv::report
