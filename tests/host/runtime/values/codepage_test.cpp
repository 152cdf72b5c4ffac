#include "host/runtime/codepage.h"

#include <gtest/gtest.h>

#include <set>

namespace nv {
namespace {

TEST(Codepage, EveryByteRoundTripsBothWays) {
  std::set<int> oem_seen, ansi_seen;
  for (int b = 0; b < 256; ++b) {
    auto u = static_cast<uint8_t>(b);
    EXPECT_EQ(OemToAnsi(AnsiToOem(u)), u) << b;
    EXPECT_EQ(AnsiToOem(OemToAnsi(u)), u) << b;
    oem_seen.insert(AnsiToOem(u));
    ansi_seen.insert(OemToAnsi(u));
    if (b < 0x80) {
      EXPECT_EQ(AnsiToOem(u), u);
    }
  }
  EXPECT_EQ(oem_seen.size(), 256u);
  EXPECT_EQ(ansi_seen.size(), 256u);
}

TEST(Codepage, SpanishLettersMapExactly) {
  // ANSI bytes and their code page 850 counterparts.
  const std::pair<uint8_t, uint8_t> pairs[] = {
      {0xF1, 0xA4}, {0xD1, 0xA5}, {0xE1, 0xA0}, {0xE9, 0x82}, {0xED, 0xA1}, {0xF3, 0xA2},
      {0xFA, 0xA3}, {0xC1, 0xB5}, {0xC9, 0x90}, {0xCD, 0xD6}, {0xD3, 0xE0}, {0xDA, 0xE9},
      {0xFC, 0x81}, {0xDC, 0x9A}, {0xBF, 0xA8}, {0xA1, 0xAD}};
  for (auto [ansi, oem] : pairs) {
    EXPECT_EQ(AnsiToOem(ansi), oem) << int(ansi);
    EXPECT_EQ(OemToAnsi(oem), ansi) << int(oem);
  }
  std::string text =
      "\xBF"
      "Ma\xF1"
      "ana? \xA1S\xED!";
  std::string copy = text;
  AnsiToOem(copy.data(), copy.size());
  EXPECT_NE(copy, text);
  OemToAnsi(copy.data(), copy.size());
  EXPECT_EQ(copy, text);
}

TEST(Codepage, Utf8BothWays) {
  EXPECT_EQ(Utf8FromAnsi("Atenci\xF3n \x80"), "Atención €");
  EXPECT_EQ(AnsiFromUtf8("Atención €"), "Atenci\xF3n \x80");
  EXPECT_EQ(AnsiFromUtf8("ñÑáéíóúÁÉÍÓÚüÜ¿¡"),
            "\xF1\xD1\xE1\xE9\xED\xF3\xFA\xC1\xC9\xCD\xD3\xDA\xFC\xDC\xBF\xA1");
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(AnsiFromUtf8(Utf8FromAnsi(one)), one) << b;
  }
}

TEST(Codepage, Utf8WithoutAnsiFormOrMalformedBecomesQuestionMark) {
  EXPECT_EQ(AnsiFromUtf8("a\u0416b"), "a?b");    // Cyrillic
  EXPECT_EQ(AnsiFromUtf8("\U0001F600"), "?");    // outside the BMP
  EXPECT_EQ(AnsiFromUtf8("a\x80z"), "a?z");      // stray continuation
  EXPECT_EQ(AnsiFromUtf8("a\xC3"), "a?");        // cut sequence at the end
  EXPECT_EQ(AnsiFromUtf8("\xC3z"), "?z");        // lead byte without continuation
  EXPECT_EQ(AnsiFromUtf8("\xC0\xAF"), "?");      // overlong '/'
  EXPECT_EQ(AnsiFromUtf8("\xED\xA0\x80"), "?");  // surrogate
  EXPECT_EQ(AnsiFromUtf8("\xFF"), "?");
}

}  // namespace
}  // namespace nv
