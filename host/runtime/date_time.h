// Day numbers, times of day and their binary record forms.
//
// A date is a day number: day 0 is Sunday 28 December 1800, so 1 January 1801
// is day 4 and a day number modulo 7 is 0 on Sundays. Day 0 also means "no
// date"; valid dates are days 1 (29 December 1800) to kMaxDate (31 December
// 9999).
// A time is hundredths of a second since midnight plus 1: 1 is midnight,
// 8640000 is 23:59:59.99; 0 means "no time". Durations use the same unit.
// All functions are pure; today's date and the clock come from the Env.
#pragma once

#include <cstdint>

#include "host/runtime/export.h"

namespace nv {

inline constexpr int32_t kMaxDate = 2994626;  // 31 December 9999
inline constexpr int32_t kMaxTime = 8640000;  // 23:59:59.99

NV_API bool IsLeapYear(int year);
NV_API int DaysInMonth(int year, int month);  // 0 for a month outside 1..12
// 0 when the date is impossible or outside the valid range.
NV_API int32_t DateFromYmd(int year, int month, int day);
// False (and the outputs untouched) for a day number outside 1..kMaxDate.
NV_API bool YmdFromDate(int32_t date, int* year, int* month, int* day);
// 0 Sunday .. 6 Saturday; also defined for day 0 and out-of-range numbers
// (negative numbers wrap correctly).
NV_API int DayOfWeek(int32_t date);

#pragma pack(push, 1)
// Binary date form of records: day, month, 16-bit little-endian year.
struct BinDate {
  uint8_t day;
  uint8_t month;
  uint16_t year;
};
// Binary time form of records: hundredths, seconds, minutes, hours.
struct BinTime {
  uint8_t hundredths;
  uint8_t seconds;
  uint8_t minutes;
  uint8_t hours;
};
#pragma pack(pop)
static_assert(sizeof(BinDate) == 4 && sizeof(BinTime) == 4);

// An all-zero or impossible binary date gives 0.
NV_API int32_t DateFromBin(const BinDate& bin);
// Date 0 (or an invalid number) gives the all-zero form.
NV_API BinDate BinFromDate(int32_t date);
// An impossible binary time gives 0; the all-zero form is midnight (1).
NV_API int32_t TimeFromBin(const BinTime& bin);
// Time 0 (or an invalid number) gives the all-zero form.
NV_API BinTime BinFromTime(int32_t time);

// 0 when impossible (hours 0..23, minutes and seconds 0..59, hundredths 0..99).
NV_API int32_t TimeFromHms(int hours, int minutes, int seconds, int hundredths = 0);
// False (outputs untouched) for a time outside 1..kMaxTime.
NV_API bool HmsFromTime(int32_t time, int* hours, int* minutes, int* seconds, int* hundredths);

// The day number of a count of local seconds since 1 January 1970 00:00
// (0 outside the valid range).
NV_API int32_t DateFromUnixSeconds(int64_t local_seconds);
// The time of a count of seconds since midnight (taken modulo one day) and
// hundredths (0..99, clamped).
NV_API int32_t TimeFromSecondsOfDay(int64_t seconds, int hundredths = 0);

}  // namespace nv
