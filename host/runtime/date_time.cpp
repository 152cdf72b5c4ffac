// Day numbers are computed through a proleptic Gregorian day count (days
// since 1 March of year 0), shifted so that 28 December 1800 is day 0.
#include "host/runtime/date_time.h"

namespace nv {
namespace {

// Days since 0000-03-01 of a Gregorian date (the well-known civil algorithm).
int64_t CivilDays(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int dd = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int mm = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (mm <= 2));
  *m = mm;
  *d = dd;
}

const int64_t kEpoch = CivilDays(1800, 12, 28);

}  // namespace

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int32_t DateFromYmd(int year, int month, int day) {
  if (year < 1800 || year > 9999) return 0;
  if (day < 1 || day > DaysInMonth(year, month)) return 0;
  const int64_t n = CivilDays(year, month, day) - kEpoch;
  if (n < 1 || n > kMaxDate) return 0;
  return static_cast<int32_t>(n);
}

bool YmdFromDate(int32_t date, int* year, int* month, int* day) {
  if (date < 1 || date > kMaxDate) return false;
  CivilFromDays(kEpoch + date, year, month, day);
  return true;
}

int DayOfWeek(int32_t date) {
  int r = date % 7;
  return r < 0 ? r + 7 : r;
}

int32_t DateFromBin(const BinDate& bin) {
  return DateFromYmd(bin.year, bin.month, bin.day);
}

BinDate BinFromDate(int32_t date) {
  BinDate bin{0, 0, 0};
  int y, m, d;
  if (YmdFromDate(date, &y, &m, &d)) {
    bin.day = static_cast<uint8_t>(d);
    bin.month = static_cast<uint8_t>(m);
    bin.year = static_cast<uint16_t>(y);
  }
  return bin;
}

int32_t TimeFromBin(const BinTime& bin) {
  return TimeFromHms(bin.hours, bin.minutes, bin.seconds, bin.hundredths);
}

BinTime BinFromTime(int32_t time) {
  BinTime bin{0, 0, 0, 0};
  int h, m, s, c;
  if (HmsFromTime(time, &h, &m, &s, &c)) {
    bin.hundredths = static_cast<uint8_t>(c);
    bin.seconds = static_cast<uint8_t>(s);
    bin.minutes = static_cast<uint8_t>(m);
    bin.hours = static_cast<uint8_t>(h);
  }
  return bin;
}

int32_t TimeFromHms(int hours, int minutes, int seconds, int hundredths) {
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
      hundredths < 0 || hundredths > 99) {
    return 0;
  }
  return ((hours * 60 + minutes) * 60 + seconds) * 100 + hundredths + 1;
}

bool HmsFromTime(int32_t time, int* hours, int* minutes, int* seconds, int* hundredths) {
  if (time < 1 || time > kMaxTime) return false;
  int32_t t = time - 1;
  *hundredths = t % 100;
  t /= 100;
  *seconds = t % 60;
  t /= 60;
  *minutes = t % 60;
  *hours = t / 60;
  return true;
}

int32_t DateFromUnixSeconds(int64_t local_seconds) {
  int64_t days = local_seconds / 86400;
  if (local_seconds % 86400 < 0) --days;
  const int64_t n = CivilDays(1970, 1, 1) - kEpoch + days;
  if (n < 1 || n > kMaxDate) return 0;
  return static_cast<int32_t>(n);
}

int32_t TimeFromSecondsOfDay(int64_t seconds, int hundredths) {
  int64_t s = seconds % 86400;
  if (s < 0) s += 86400;
  if (hundredths < 0) hundredths = 0;
  if (hundredths > 99) hundredths = 99;
  return static_cast<int32_t>(s * 100 + hundredths + 1);
}

}  // namespace nv
