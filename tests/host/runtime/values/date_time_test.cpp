#include "host/runtime/date_time.h"

#include <gtest/gtest.h>

#include <cstring>

namespace nv {
namespace {

TEST(DateTime, EpochAndWeekdays) {
  EXPECT_EQ(DateFromYmd(1800, 12, 28), 0);  // day 0 is "no date"
  EXPECT_EQ(DateFromYmd(1800, 12, 29), 1);
  EXPECT_EQ(DateFromYmd(1801, 1, 1), 4);
  EXPECT_EQ(DayOfWeek(0), 0);                        // Sunday
  EXPECT_EQ(DayOfWeek(DateFromYmd(2026, 3, 1)), 0);  // a Sunday
  EXPECT_EQ(DayOfWeek(DateFromYmd(2026, 3, 5)), 4);  // a Thursday
  EXPECT_EQ(DayOfWeek(DateFromYmd(2000, 1, 1)), 6);  // a Saturday
  EXPECT_EQ(DayOfWeek(-1), 6);
  EXPECT_EQ(DateFromYmd(9999, 12, 31), kMaxDate);
  int y = 0, m = 0, d = 0;
  EXPECT_FALSE(YmdFromDate(0, &y, &m, &d));
  EXPECT_FALSE(YmdFromDate(kMaxDate + 1, &y, &m, &d));
  EXPECT_FALSE(YmdFromDate(-5, &y, &m, &d));
  EXPECT_EQ(y, 0);
}

TEST(DateTime, ImpossibleDates) {
  EXPECT_EQ(DateFromYmd(2026, 2, 31), 0);
  EXPECT_EQ(DateFromYmd(2025, 2, 29), 0);
  EXPECT_EQ(DateFromYmd(1900, 2, 29), 0);  // 1900 is not leap
  EXPECT_NE(DateFromYmd(2000, 2, 29), 0);  // 2000 is
  EXPECT_NE(DateFromYmd(2024, 2, 29), 0);
  EXPECT_EQ(DateFromYmd(2026, 4, 31), 0);
  EXPECT_EQ(DateFromYmd(2026, 13, 1), 0);
  EXPECT_EQ(DateFromYmd(2026, 0, 1), 0);
  EXPECT_EQ(DateFromYmd(2026, 1, 0), 0);
  EXPECT_EQ(DateFromYmd(10000, 1, 1), 0);
  EXPECT_EQ(DateFromYmd(1799, 12, 31), 0);
  EXPECT_EQ(DateFromYmd(-4, 1, 1), 0);
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2100));
}

TEST(DateTime, EveryDayFrom1801To9999RoundTrips) {
  int32_t expected = 4;
  int weekday = 4;
  for (int y = 1801; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysInMonth(y, m); ++d) {
        int32_t n = DateFromYmd(y, m, d);
        ASSERT_EQ(n, expected) << y << "-" << m << "-" << d;
        int yy, mm, dd;
        ASSERT_TRUE(YmdFromDate(n, &yy, &mm, &dd));
        ASSERT_TRUE(yy == y && mm == m && dd == d) << n;
        ASSERT_EQ(DayOfWeek(n), weekday);
        BinDate bin = BinFromDate(n);
        ASSERT_EQ(DateFromBin(bin), n);
        ++expected;
        weekday = (weekday + 1) % 7;
      }
    }
  }
  EXPECT_EQ(expected - 1, kMaxDate);
}

TEST(DateTime, BinaryDateLayoutAndBadBytes) {
  BinDate bin = BinFromDate(DateFromYmd(2026, 3, 5));
  uint8_t raw[4];
  std::memcpy(raw, &bin, 4);
  EXPECT_EQ(raw[0], 5);
  EXPECT_EQ(raw[1], 3);
  EXPECT_EQ(raw[2], 2026 & 0xFF);
  EXPECT_EQ(raw[3], 2026 >> 8);
  BinDate zero = BinFromDate(0);
  EXPECT_EQ(zero.day + zero.month + zero.year, 0);
  EXPECT_EQ(DateFromBin(BinDate{0, 0, 0}), 0);
  EXPECT_EQ(DateFromBin(BinDate{31, 2, 2026}), 0);
  EXPECT_EQ(DateFromBin(BinDate{255, 255, 65535}), 0);
}

TEST(DateTime, Times) {
  EXPECT_EQ(TimeFromHms(0, 0, 0, 0), 1);
  EXPECT_EQ(TimeFromHms(23, 59, 59, 99), kMaxTime);
  EXPECT_EQ(TimeFromHms(9, 5, 7, 42), ((9 * 60 + 5) * 60 + 7) * 100 + 42 + 1);
  EXPECT_EQ(TimeFromHms(24, 0, 0), 0);
  EXPECT_EQ(TimeFromHms(12, 60, 0), 0);
  EXPECT_EQ(TimeFromHms(12, 0, 60), 0);
  EXPECT_EQ(TimeFromHms(12, 0, 0, 100), 0);
  EXPECT_EQ(TimeFromHms(-1, 0, 0), 0);
  int h, m, s, c;
  EXPECT_FALSE(HmsFromTime(0, &h, &m, &s, &c));
  EXPECT_FALSE(HmsFromTime(kMaxTime + 1, &h, &m, &s, &c));
  for (int32_t t = 1; t <= kMaxTime; t += 997) {
    ASSERT_TRUE(HmsFromTime(t, &h, &m, &s, &c));
    ASSERT_EQ(TimeFromHms(h, m, s, c), t);
    ASSERT_EQ(TimeFromBin(BinFromTime(t)), t);
  }
  BinTime bin = BinFromTime(TimeFromHms(9, 5, 7, 42));
  uint8_t raw[4];
  std::memcpy(raw, &bin, 4);
  EXPECT_EQ(raw[0], 42);
  EXPECT_EQ(raw[1], 7);
  EXPECT_EQ(raw[2], 5);
  EXPECT_EQ(raw[3], 9);
  EXPECT_EQ(TimeFromBin(BinTime{0, 0, 0, 0}), 1);
  EXPECT_EQ(TimeFromBin(BinTime{0, 0, 0, 24}), 0);
}

TEST(DateTime, FromClockValues) {
  EXPECT_EQ(DateFromUnixSeconds(0), DateFromYmd(1970, 1, 1));
  EXPECT_EQ(DateFromUnixSeconds(86399), DateFromYmd(1970, 1, 1));
  EXPECT_EQ(DateFromUnixSeconds(-1), DateFromYmd(1969, 12, 31));
  EXPECT_EQ(DateFromUnixSeconds(1772668800), DateFromYmd(2026, 3, 5));
  EXPECT_EQ(DateFromUnixSeconds(INT64_C(1) << 50), 0);
  EXPECT_EQ(TimeFromSecondsOfDay(0), 1);
  EXPECT_EQ(TimeFromSecondsOfDay(9 * 3600 + 5 * 60 + 7, 42), TimeFromHms(9, 5, 7, 42));
  EXPECT_EQ(TimeFromSecondsOfDay(86400), 1);
  EXPECT_EQ(TimeFromSecondsOfDay(-1, 500), kMaxTime);
}

}  // namespace
}  // namespace nv
