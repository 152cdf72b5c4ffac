#include "host/runtime/decimal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace nv {
namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
  return std::vector<uint8_t>(p, p + n);
}

TEST(Decimal, LayoutSignNibbleAndDigits) {
  uint8_t b[4];
  ASSERT_TRUE(DecimalFromInt64(123, b, 2, 0));
  EXPECT_EQ(Bytes(b, 2), (std::vector<uint8_t>{0x01, 0x23}));
  ASSERT_TRUE(DecimalFromInt64(-123, b, 2, 0));
  EXPECT_EQ(Bytes(b, 2), (std::vector<uint8_t>{0xF1, 0x23}));
  ASSERT_TRUE(DecimalFromInt64(12345, b, 3, 0));
  EXPECT_EQ(Bytes(b, 3), (std::vector<uint8_t>{0x01, 0x23, 0x45}));
  ASSERT_TRUE(DecimalFromText("12.34", b, 4, 2));
  EXPECT_EQ(Bytes(b, 4), (std::vector<uint8_t>{0x00, 0x00, 0x12, 0x34}));
  ASSERT_TRUE(DecimalFromInt64(0, b, 4, 2));
  EXPECT_EQ(Bytes(b, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(DecimalFromText("-0.00", b, 4, 2));  // zero is never written negative
  EXPECT_EQ(Bytes(b, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(Decimal, WidthsAndOverflowNeverWriteOutOfBounds) {
  uint8_t b[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_TRUE(DecimalFromInt64(999, b + 1, 2, 0));
  EXPECT_FALSE(DecimalFromInt64(1000, b + 1, 2, 0));
  EXPECT_FALSE(DecimalFromInt64(-1000, b + 1, 2, 0));
  EXPECT_EQ(b[0], 0xAA);
  EXPECT_EQ(b[3], 0xAA);
  EXPECT_EQ(Bytes(b + 1, 2), (std::vector<uint8_t>{0x09, 0x99}));  // untouched by failures
  EXPECT_TRUE(DecimalFromInt64(99999, b, 3, 0));
  EXPECT_FALSE(DecimalFromInt64(100000, b, 3, 0));
  EXPECT_TRUE(DecimalFromInt64(9999999, b, 4, 0));
  EXPECT_FALSE(DecimalFromInt64(10000000, b, 4, 0));
  EXPECT_FALSE(DecimalFromInt64(100000, b, 4, 2));  // 100000.00 needs 8 digits
  EXPECT_FALSE(DecimalFromInt64(1, b, 0, 0));
  EXPECT_FALSE(DecimalFromInt64(1, b, 17, 0));
  EXPECT_FALSE(DecimalFromInt64(1, b, 2, 4));  // more places than digits
  uint8_t big[16];
  EXPECT_TRUE(DecimalFromInt64(INT64_MIN, big, 16, 0));
  EXPECT_EQ(DecimalToText(big, 16, 0), "-9223372036854775808");
  int64_t v = 0;
  EXPECT_TRUE(DecimalToScaled(big, 16, &v));
  EXPECT_EQ(v, INT64_MIN);
  ASSERT_TRUE(DecimalFromText("9999999999999999999999999999999", big, 16, 0));  // 31 digits
  EXPECT_FALSE(DecimalToScaled(big, 16, &v));
  EXPECT_FALSE(DecimalFromText("10000000000000000000000000000000", big, 16, 0));
}

TEST(Decimal, UnpackToScaledDoubleAndText) {
  Decimal<4, 2> d;
  ASSERT_TRUE(d.SetText("-123.45"));
  int64_t s = 0;
  ASSERT_TRUE(d.Scaled(&s));
  EXPECT_EQ(s, -12345);
  EXPECT_DOUBLE_EQ(d.ToDouble(), -123.45);
  EXPECT_EQ(d.ToText(), "-123.45");
  ASSERT_TRUE(d.SetText("0.5"));
  EXPECT_EQ(d.ToText(), "0.50");
  ASSERT_TRUE(d.Set(7));
  EXPECT_EQ(d.ToText(), "7.00");
  ASSERT_TRUE(d.SetScaled(7));
  EXPECT_EQ(d.ToText(), "0.07");
  Decimal<3, 0> code;
  ASSERT_TRUE(code.Set(42));
  EXPECT_EQ(code.ToText(), "42");
  static_assert(sizeof(Decimal<3, 0>) == 3 && Decimal<3, 0>::kDigits == 5);
}

TEST(Decimal, RoundsHalfAwayFromZero) {
  Decimal<4, 2> d;
  ASSERT_TRUE(d.SetText("1.005"));
  EXPECT_EQ(d.ToText(), "1.01");
  ASSERT_TRUE(d.SetText("-1.005"));
  EXPECT_EQ(d.ToText(), "-1.01");
  ASSERT_TRUE(d.SetText("1.004"));
  EXPECT_EQ(d.ToText(), "1.00");
  ASSERT_TRUE(d.SetDouble(1.005));
  EXPECT_EQ(d.ToText(), "1.01");
  ASSERT_TRUE(d.SetDouble(-2.675));
  EXPECT_EQ(d.ToText(), "-2.68");
  ASSERT_TRUE(d.SetText("99999.994"));
  EXPECT_EQ(d.ToText(), "99999.99");
  EXPECT_FALSE(d.SetText("99999.995"));  // rounds up past 7 digits
  EXPECT_FALSE(d.SetDouble(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(d.SetDouble(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(d.SetDouble(1e300));
}

TEST(Decimal, TextIsCheckedStrictly) {
  uint8_t b[3] = {0x01, 0x23, 0x45};
  for (const char* bad :
       {"", "   ", "-", ".", "1.2.3", "12a", "a12", "1 2", "--1", "+-1", "1e5", "0x10", "1,5"}) {
    EXPECT_FALSE(DecimalFromText(bad, b, 3, 0)) << bad;
  }
  EXPECT_EQ(Bytes(b, 3), (std::vector<uint8_t>{0x01, 0x23, 0x45}));
  EXPECT_TRUE(DecimalFromText("  42 ", b, 3, 0));
  EXPECT_EQ(DecimalToText(b, 3, 0), "42");
  EXPECT_TRUE(DecimalFromText("42-", b, 3, 0));
  EXPECT_EQ(DecimalToText(b, 3, 0), "-42");
  EXPECT_TRUE(DecimalFromText("+.5", b, 3, 1));
  EXPECT_EQ(DecimalToText(b, 3, 1), "0.5");
  EXPECT_TRUE(DecimalFromText("00012", b, 3, 0));
  EXPECT_EQ(DecimalToText(b, 3, 0), "12");
}

TEST(Decimal, CompareIsNumericAndSignAware) {
  uint8_t a[3], b[4];
  auto cmp = [&](const char* x, int xp, const char* y, int yp) {
    EXPECT_TRUE(DecimalFromText(x, a, 3, xp)) << x;
    EXPECT_TRUE(DecimalFromText(y, b, 4, yp)) << y;
    return DecimalCompare(a, 3, xp, b, 4, yp);
  };
  EXPECT_EQ(cmp("5", 0, "5.00", 2), 0);
  EXPECT_EQ(cmp("-5", 0, "5", 0), -1);
  EXPECT_EQ(cmp("-5", 0, "-10", 0), 1);
  EXPECT_EQ(cmp("10", 0, "9.99", 2), 1);
  EXPECT_EQ(cmp("0.1", 1, "0.09", 2), 1);
  const uint8_t neg_zero[2] = {0xF0, 0x00}, zero[2] = {0, 0};
  EXPECT_EQ(DecimalCompare(neg_zero, 2, 0, zero, 2, 0), 0);
  EXPECT_EQ(DecimalToText(neg_zero, 2, 0), "0");
  Decimal<2, 0> x, y;
  x.Set(-3);
  y.Set(2);
  EXPECT_TRUE(x < y);
  EXPECT_FALSE(y < x);
  EXPECT_TRUE((Decimal<3, 1>() == Decimal<2, 0>()));
}

// Keys order packed decimals by their bytes after this transformation: when
// the top bit of the first byte is set every byte is inverted, otherwise the
// top bit is set. The layout must make that order the numeric one.
TEST(Decimal, KeyEncodingOrdersNumerically) {
  auto key = [](int64_t v) {
    uint8_t b[3];
    EXPECT_TRUE(DecimalFromInt64(v, b, 3, 1));
    std::vector<uint8_t> k(b, b + 3);
    if (k[0] & 0x80) {
      for (auto& x : k) x = static_cast<uint8_t>(~x);
    } else {
      k[0] |= 0x80;
    }
    return k;
  };
  std::vector<uint8_t> prev = key(-9999);
  for (int64_t v = -9998; v <= 9999; ++v) {
    std::vector<uint8_t> k = key(v);
    ASSERT_LT(prev, k) << v;
    prev = k;
  }
}

TEST(Decimal, AddWithSignsAndOverflow) {
  Decimal<2, 0> a;
  Decimal<2, 0> b;
  ASSERT_TRUE(a.Set(500));
  ASSERT_TRUE(b.Set(499));
  EXPECT_TRUE(a.Add(b));
  EXPECT_EQ(a.ToText(), "999");
  ASSERT_TRUE(b.Set(1));
  EXPECT_FALSE(a.Add(b));  // 1000 does not fit
  EXPECT_EQ(a.ToText(), "999");
  ASSERT_TRUE(b.Set(-999));
  EXPECT_TRUE(a.Add(b));
  EXPECT_EQ(a.ToText(), "0");
  uint8_t raw[2];
  std::memcpy(raw, a.bytes_, 2);
  EXPECT_EQ(raw[0], 0);  // zero result is positive
  ASSERT_TRUE(a.Set(-7));
  ASSERT_TRUE(b.Set(3));
  EXPECT_TRUE(a.Add(b));
  EXPECT_EQ(a.ToText(), "-4");
  ASSERT_TRUE(b.Set(-999));
  EXPECT_TRUE(a.Add(b) == false);  // -1003

  uint8_t x[3], y[3], out[4];
  ASSERT_TRUE(DecimalFromText("12.34", x, 3, 2));
  ASSERT_TRUE(DecimalFromText("-0.345", y, 3, 3));
  ASSERT_TRUE(DecimalAdd(x, 3, 2, y, 3, 3, out, 4, 2));
  EXPECT_EQ(DecimalToText(out, 4, 2), "12.00");  // 11.995 rounded half away
  ASSERT_TRUE(DecimalSubtract(x, 3, 2, y, 3, 3, out, 4, 3));
  EXPECT_EQ(DecimalToText(out, 4, 3), "12.685");
}

TEST(Decimal, CorruptNibblesAreRefused) {
  const uint8_t bad[2] = {0x0A, 0x12};  // digit nibble A
  const uint8_t bad2[2] = {0x01, 0x2F};
  EXPECT_FALSE(DecimalIsValid(bad, 2));
  EXPECT_FALSE(DecimalIsValid(bad2, 2));
  int64_t v = 99;
  EXPECT_FALSE(DecimalToScaled(bad, 2, &v));
  EXPECT_EQ(v, 99);
  EXPECT_EQ(DecimalToText(bad2, 2, 0), "");
  EXPECT_EQ(DecimalToDouble(bad2, 2, 0), 0.0);
  const uint8_t one[2] = {0x00, 0x01};
  uint8_t out[2] = {0x55, 0x55};
  EXPECT_FALSE(DecimalAdd(bad, 2, 0, one, 2, 0, out, 2, 0));
  EXPECT_EQ(out[0], 0x55);
  EXPECT_EQ(DecimalCompare(bad, 2, 0, one, 2, 0), -1);  // read as zero
}

TEST(Decimal, RoundedText) {
  EXPECT_EQ(RoundedText(1234.5, 2), "1234.50");
  EXPECT_EQ(RoundedText(-0.004, 2), "0.00");
  EXPECT_EQ(RoundedText(-0.005, 2), "-0.01");
  EXPECT_EQ(RoundedText(0.5, 0), "1");
  EXPECT_EQ(RoundedText(-2.5, 0), "-3");
  EXPECT_EQ(RoundedText(999.996, 2), "1000.00");
  EXPECT_EQ(RoundedText(1e20, 0), "100000000000000000000");
  EXPECT_EQ(RoundedText(0.000123, 5), "0.00012");
  EXPECT_EQ(RoundedText(std::numeric_limits<double>::infinity(), 2), "");
}

}  // namespace
}  // namespace nv
