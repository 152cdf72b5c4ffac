#include "host/runtime/fixed_string.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace nv {
namespace {

static_assert(sizeof(String<30>) == 30 && std::is_standard_layout_v<String<30>>);
static_assert(sizeof(CString<13>) == 13 && std::is_standard_layout_v<CString<13>>);
static_assert(sizeof(PString<20>) == 20 && std::is_standard_layout_v<PString<20>>);

TEST(FixedString, StringPadsCutsAndComparesClipped) {
  String<5> s("ab");
  EXPECT_EQ(s.view(), "ab   ");
  EXPECT_EQ(s.clipped(), "ab");
  s = "abcdefg";
  EXPECT_EQ(s.view(), "abcde");
  String<8> t("abcde  ");
  EXPECT_TRUE(s == t);
  EXPECT_TRUE(s == "abcde");
  EXPECT_FALSE(s == "abcd");
  EXPECT_TRUE(String<3>("ab") < String<4>("abc"));
  EXPECT_TRUE(String<3>().empty());
}

TEST(FixedString, CStringAndPStringStayInsideTheirBytes) {
  CString<4> c("abcdef");
  EXPECT_EQ(c.view(), "abc");
  EXPECT_EQ(c.data_[3], '\0');
  CString<4> corrupt;
  std::memset(corrupt.data_, 'x', 4);  // no terminating zero on disk
  EXPECT_EQ(corrupt.view(), "xxxx");

  PString<4> p("abcdef");
  EXPECT_EQ(p.len_, 3);
  EXPECT_EQ(p.view(), "abc");
  p.len_ = 200;  // corrupt length byte
  EXPECT_EQ(p.view().size(), 3u);
}

TEST(FixedString, Helpers) {
  EXPECT_EQ(Clip("ab  "), "ab");
  EXPECT_EQ(Clip("   "), "");
  EXPECT_EQ(Clip(" a"), " a");
  EXPECT_EQ(LeftJustify("  ab "), "ab   ");
  EXPECT_EQ(LeftJustify("   "), "   ");
  EXPECT_EQ(CompareClipped("ab", "ab   "), 0);
  EXPECT_LT(CompareClipped("ab", "abc"), 0);
  EXPECT_GT(CompareClipped("\xE9", "z"), 0);  // bytes compare unsigned
  char buf[4];
  AssignPadded(buf, 4, "x");
  EXPECT_EQ(std::string_view(buf, 4), "x   ");
  AssignPadded(buf, 4, "toolong");
  EXPECT_EQ(std::string_view(buf, 4), "tool");
}

TEST(FixedString, UpperFollowsWindows1252) {
  // ñ á é í ó ú ü → Ñ Á É Í Ó Ú Ü; ÷ stays; ÿ š œ ž → Ÿ Š Œ Ž.
  EXPECT_EQ(Upper("espa\xF1"
                  "a \xE1\xE9\xED\xF3\xFA\xFC"),
            "ESPA\xD1"
            "A \xC1\xC9\xCD\xD3\xDA\xDC");
  EXPECT_EQ(UpperChar('\xF7'), '\xF7');
  EXPECT_EQ(UpperChar('\xFF'), '\x9F');
  EXPECT_EQ(UpperChar('\x9A'), '\x8A');
  EXPECT_EQ(UpperChar('\x9C'), '\x8C');
  EXPECT_EQ(UpperChar('\x9E'), '\x8E');
  EXPECT_EQ(UpperChar('\xDF'), '\xDF');  // ß has no single capital
  EXPECT_EQ(UpperChar('\xD1'), '\xD1');
  EXPECT_EQ(Upper("a1z[{"), "A1Z[{");
}

}  // namespace
}  // namespace nv
