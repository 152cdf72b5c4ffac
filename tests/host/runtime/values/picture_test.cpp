#include "host/runtime/picture.h"

#include <gtest/gtest.h>

#include "host/runtime/date_time.h"

namespace nv {
namespace {

const int32_t k5March2026 = DateFromYmd(2026, 3, 5);
const int32_t k9h05m07s42 = TimeFromHms(9, 5, 7, 42);

// Every example of the picture rules.
TEST(Picture, NumberExamples) {
  EXPECT_EQ(FormatNumber("@n-4.0", int64_t{12}), "  12");
  EXPECT_EQ(FormatNumber("@n02", int64_t{5}), "05");
  EXPECT_EQ(FormatNumber("@n04", int64_t{2026}), "2026");
  EXPECT_EQ(FormatNumber("@N6B", 0.0), "      ");
  EXPECT_EQ(FormatNumber("@n10.2", 1234.5), "  1,234.50");
  EXPECT_EQ(FormatNumber("@N11.2", -3.0), "      -3.00");
  EXPECT_EQ(FormatNumber("@N-_12.2", -1234.5), "    -1234.50");
  EXPECT_EQ(FormatNumber("@n-14", int64_t{1234567}), "     1,234,567");
  EXPECT_EQ(FormatNumber("@N10.`4", 1234.5), "1.234,5000");
}

TEST(Picture, NumberOptions) {
  EXPECT_EQ(FormatNumber("@N6", 0), "     0");
  EXPECT_EQ(FormatNumber("@N6.2B", 0.004), "      ");  // rounds to zero
  EXPECT_EQ(FormatNumber("@N6.2B", 0.005), "  0.01");
  EXPECT_EQ(FormatNumber("@N8.2", 2.675), "    2.68");  // half away from zero
  EXPECT_EQ(FormatNumber("@N8.2", -2.675), "   -2.68");
  EXPECT_EQ(FormatNumber("@N6.2", -0.001), "  0.00");  // no minus for a rounded zero
  EXPECT_EQ(FormatNumber("@N4", int64_t{12345}), "####");
  EXPECT_EQ(FormatNumber("@N4", int64_t{-999}), "-999");
  EXPECT_EQ(FormatNumber("@N4", int64_t{-1000}), "####");
  EXPECT_EQ(FormatNumber("@N5", 1234.0), "1,234");
  EXPECT_EQ(FormatNumber("@N4", 1234.0), "####");  // the separator counts
  EXPECT_EQ(FormatNumber("@N_4", 1234.0), "1234");
  EXPECT_EQ(FormatNumber("@N05", int64_t{-12}), "-0012");
  EXPECT_EQ(FormatNumber("@N*8.2", 12.5), "***12.50");
  EXPECT_EQ(FormatNumber("@N*8.2", -12.5), "**-12.50");
  EXPECT_EQ(FormatNumber("@N*9", 1234567.0), "1,234,567");
  EXPECT_EQ(FormatNumber("@N12`2", 1234567.891), "1.234.567,89");
  EXPECT_EQ(FormatNumber("@N6", std::numeric_limits<double>::infinity()), "######");
  EXPECT_EQ(FormatNumber("@n6", std::numeric_limits<double>::quiet_NaN()), "######");
  EXPECT_EQ(Format("@N6", Value("  -42 ")), "   -42");  // a text value reads as a number
  EXPECT_EQ(PictureWidth("@N-_12.2"), 12);
}

TEST(Picture, NumberDeformat) {
  EXPECT_DOUBLE_EQ(DeformatNumber("@n10.2", "  1,234.50"), 1234.5);
  EXPECT_DOUBLE_EQ(DeformatNumber("@N11.2", "      -3.00"), -3);
  EXPECT_DOUBLE_EQ(DeformatNumber("@N11.2", "3.00-"), -3);
  EXPECT_DOUBLE_EQ(DeformatNumber("@N10.`4", "1.234,5000"), 1234.5);
  EXPECT_DOUBLE_EQ(DeformatNumber("@N*8.2", "***12.50"), 12.5);
  EXPECT_DOUBLE_EQ(DeformatNumber("@n-4.0", "12"), 12);
  for (const char* bad : {"", "   ", "abc", "12x", "1.2.3", "--5", "-", "1-2"}) {
    EXPECT_EQ(DeformatNumber("@N10.2", bad), 0) << bad;
  }
  EXPECT_EQ(DeformatNumber("@D6", "12"), 0);  // not a number picture
  EXPECT_EQ(Deformat("@N10.2", "1,234.5"), Value(1234.5));
}

TEST(Picture, DateExamples) {
  EXPECT_EQ(FormatDate("@D1", k5March2026), " 3/05/26");
  EXPECT_EQ(FormatDate("@D2", k5March2026), " 3/05/2026");
  EXPECT_EQ(FormatDate("@D5", k5March2026), " 5/03/26");
  EXPECT_EQ(FormatDate("@D6", k5March2026), " 5/03/2026");
  EXPECT_EQ(FormatDate("@d6", k5March2026), " 5/03/2026");
  EXPECT_EQ(FormatDate("@D06", k5March2026), "05/03/2026");
  EXPECT_EQ(FormatDate("@d06", k5March2026), "05/03/2026");
  EXPECT_EQ(FormatDate("@D01", k5March2026), "03/05/26");
  EXPECT_EQ(FormatDate("@D6", DateFromYmd(2026, 12, 25)), "25/12/2026");
  EXPECT_EQ(FormatDate("@D6", 0), "          ");
  EXPECT_EQ(FormatDate("@D1", 0), "        ");
  EXPECT_EQ(FormatDate("@D6", -3), "##########");
  EXPECT_EQ(FormatDate("@D6", kMaxDate + 1), "##########");
  EXPECT_EQ(FormatDate("@D5", DateFromYmd(1905, 1, 9)), " 9/01/05");
  EXPECT_EQ(PictureWidth("@D6"), 10);
  EXPECT_EQ(PictureWidth("@D1"), 8);
}

TEST(Picture, DateDeformat) {
  EXPECT_EQ(DeformatDate("@D6", " 5/03/2026"), k5March2026);
  EXPECT_EQ(DeformatDate("@D6", "05/03/2026"), k5March2026);
  EXPECT_EQ(DeformatDate("@D6", "5-3-26"), k5March2026);
  EXPECT_EQ(DeformatDate("@D6", "5.3.2026"), k5March2026);
  EXPECT_EQ(DeformatDate("@D6", "5/3/49"), DateFromYmd(2049, 3, 5));
  EXPECT_EQ(DeformatDate("@D6", "5/3/50"), DateFromYmd(1950, 3, 5));
  EXPECT_EQ(DeformatDate("@D2", "3/05/2026"), k5March2026);
  EXPECT_EQ(DeformatDate("@D1", " 3/05/26"), k5March2026);
  EXPECT_EQ(DeformatDate("@D5", " 5/03/26"), k5March2026);
  for (const char* bad :
       {"31/02/2026", "29/02/1900", "29/02/2025", "0/1/2026", "1/13/2026", "5/3/202", "5/3/2",
        "5/3", "5/3/2026/1", "005/3/2026", "a/3/2026", "5 3 2026", "", "  "}) {
    EXPECT_EQ(DeformatDate("@D6", bad), 0) << bad;
  }
  EXPECT_NE(DeformatDate("@D6", "29/02/2000"), 0);
  EXPECT_EQ(Deformat("@D6", "5/3/2026"), Value(k5March2026));
}

TEST(Picture, TimeExamples) {
  EXPECT_EQ(FormatTime("@T1", k9h05m07s42), " 9:05");
  EXPECT_EQ(FormatTime("@T4", k9h05m07s42), " 9:05:07");
  EXPECT_EQ(FormatTime("@T04", k9h05m07s42), "09:05:07");
  EXPECT_EQ(FormatTime("@t04", k9h05m07s42), "09:05:07");
  EXPECT_EQ(FormatTime("@T4", 3001), " 0:00:30");  // a duration
  EXPECT_EQ(FormatTime("@T4", 1), " 0:00:00");
  EXPECT_EQ(FormatTime("@T4", kMaxTime), "23:59:59");
  EXPECT_EQ(FormatTime("@T4", 0), "        ");
  EXPECT_EQ(FormatTime("@T1", 0), "     ");
  EXPECT_EQ(FormatTime("@T4", 30 * 360000 + 1), "30:00:00");  // long durations
  EXPECT_EQ(FormatTime("@T4", -5), "########");
}

TEST(Picture, TimeDeformat) {
  EXPECT_EQ(DeformatTime("@T4", " 9:05:07"), TimeFromHms(9, 5, 7));
  EXPECT_EQ(DeformatTime("@T4", "09:05"), TimeFromHms(9, 5, 0));
  EXPECT_EQ(DeformatTime("@T1", "23:59"), TimeFromHms(23, 59, 0));
  EXPECT_EQ(DeformatTime("@T1", "0:00"), 1);
  for (const char* bad :
       {"24:00", "9:60", "9:05:60", "9", "9:5", "9:05:07:01", "ab:cd", "", "-1:00"}) {
    EXPECT_EQ(DeformatTime("@T4", bad), 0) << bad;
  }
}

TEST(Picture, PatternExample) {
  EXPECT_EQ(FormatNumber("@P##-########-#P", int64_t{20123456789}), "20-12345678-9");
  EXPECT_EQ(FormatNumber("@p##-########-#p", 20123456789.0), "20-12345678-9");
  EXPECT_EQ(FormatNumber("@P##-########-#P", int64_t{123}), "00-00000012-3");
  EXPECT_EQ(Format("@P(###) ###P", Value("555-123")), "(555) 123");
  EXPECT_EQ(FormatNumber("@P##P", int64_t{123}), "##");
  EXPECT_EQ(DeformatPattern("@P##-########-#P", "20-12345678-9"), "20123456789");
  EXPECT_EQ(Deformat("@P##-########-#P", "20-12345678-9"), Value("20123456789"));
  EXPECT_EQ(PictureWidth("@P##-########-#P"), 13);
}

TEST(Picture, Strings) {
  EXPECT_EQ(FormatString("@s5", "abc"), "abc  ");
  EXPECT_EQ(FormatString("@S3", "abcdef"), "abc");
  EXPECT_EQ(FormatString("@s50", "").size(), 50u);
  EXPECT_EQ(Format("@S4", Value(int64_t{42})), "42  ");
  EXPECT_EQ(Deformat("@S3", "abcdef"), Value("abc"));
  EXPECT_EQ(Deformat("@S10", "ab"), Value("ab"));
}

TEST(Picture, MalformedPicturesAreRefusedWithoutCrashing) {
  for (const char* bad : {"",
                          "@",
                          "@S",
                          "@S0",
                          "@Sx",
                          "S10",
                          "@X5",
                          "@N",
                          "@N-",
                          "@N0",
                          "@N_",
                          "@N10.",
                          "@N10.x",
                          "@N10`",
                          "@N4.4",
                          "@N10.2Bx",
                          "@N10.99",
                          "@N999999",
                          "@N99999999999999",
                          "@D",
                          "@D3",
                          "@D0",
                          "@D7",
                          "@D66",
                          "@D6x",
                          "@T",
                          "@T2",
                          "@T04x",
                          "@P",
                          "@PP",
                          "@P##",
                          "@P--P",
                          " @N10",
                          "@N10 ",
                          "@S99999999999999999999"}) {
    Picture p;
    EXPECT_FALSE(ParsePicture(bad, &p)) << bad;
    EXPECT_EQ(Format(bad, Value(12.5)), "") << bad;
    EXPECT_EQ(PictureWidth(bad), 0) << bad;
    EXPECT_EQ(DeformatNumber(bad, "12"), 0) << bad;
    EXPECT_EQ(Deformat(bad, "12"), Value()) << bad;
  }
  EXPECT_TRUE(ParsePicture("@n-4.0", nullptr));
}

}  // namespace
}  // namespace nv
