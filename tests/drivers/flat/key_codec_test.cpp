// Key value encoding: the byte order of encoded values against an order
// computed independently from the decoded values, null tests, descriptors
// and key file names.
#include "drivers/flat/key_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/runtime/codepage.h"
#include "host/runtime/decimal.h"

namespace flat {
namespace {

KeyComponent Comp(uint8_t stored, uint16_t offset, uint16_t size, bool desc = false) {
  KeyComponent c;
  c.stored_type = stored;
  c.offset = offset;
  c.size = size;
  c.descending = desc;
  return c;
}

std::string Enc(const KeyComponent& c, const void* field, bool nocase = false, bool oem = false) {
  std::string out(c.size, '\0');
  EncodeComponent(c, nocase, oem, static_cast<const uint8_t*>(field),
                  reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

// Sorts values by a plain comparator and checks that the encodings are in
// strictly ascending byte order wherever the values differ (and equal where
// they are equal).
template <typename T, typename Less>
void ExpectOrderKept(const KeyComponent& c, std::vector<T> values, Less less) {
  std::sort(values.begin(), values.end(), less);
  for (size_t i = 1; i < values.size(); ++i) {
    std::string a = Enc(c, &values[i - 1]);
    std::string b = Enc(c, &values[i]);
    if (less(values[i - 1], values[i]))
      ASSERT_LT(a, b) << "at " << i;
    else
      ASSERT_EQ(a, b) << "at " << i;
  }
}

TEST(KeyCodec, IntegersAreBigEndianWithTheSignFlipped) {
  int16_t s = -2;
  EXPECT_EQ(Enc(Comp(kStoredShort, 0, 2), &s), std::string("\x7F\xFE", 2));
  int32_t l = 0x01020304;
  EXPECT_EQ(Enc(Comp(kStoredLong, 0, 4), &l), std::string("\x81\x02\x03\x04", 4));
  uint8_t b = 0xC3;
  EXPECT_EQ(Enc(Comp(kStoredByte, 0, 1), &b), std::string("\xC3", 1));
}

TEST(KeyCodec, IndependentOrderOfRandomValues) {
  std::mt19937 rng(7);
  std::vector<int16_t> shorts;
  std::vector<int32_t> longs;
  std::vector<uint8_t> bytes;
  std::vector<double> reals = {0.0, -0.5, 0.5, 1e-300, -1e-300, 1e300, -1e300, 42.0, -42.0};
  for (int i = 0; i < 3000; ++i) {
    shorts.push_back(int16_t(rng()));
    longs.push_back(int32_t(rng()));
    bytes.push_back(uint8_t(rng()));
    double d = std::ldexp(double(int32_t(rng())), int(rng() % 200) - 100);
    reals.push_back(d);
  }
  shorts.insert(shorts.end(), {INT16_MIN, -1, 0, 1, INT16_MAX});
  longs.insert(longs.end(), {INT32_MIN, -1, 0, 1, INT32_MAX});
  ExpectOrderKept(Comp(kStoredShort, 0, 2), shorts, std::less<int16_t>());
  ExpectOrderKept(Comp(kStoredLong, 0, 4), longs, std::less<int32_t>());
  ExpectOrderKept(Comp(kStoredByte, 0, 1), bytes, std::less<uint8_t>());
  ExpectOrderKept(Comp(kStoredReal, 0, 8), reals, std::less<double>());
  // Descending components reverse the order.
  ExpectOrderKept(Comp(kStoredLong, 0, 4, true), longs, std::greater<int32_t>());
  ExpectOrderKept(Comp(kStoredReal, 0, 8, true), reals, std::greater<double>());
}

// A whole key of two components (a case-insensitive name, then a
// descending 16-bit age) against a comparator of the decoded fields.
TEST(KeyCodec, IndependentOrderOfTwoComponentKeys) {
#pragma pack(push, 1)
  struct Rec {
    char name[4];
    int16_t age;
  };
#pragma pack(pop)
  KeySpec shape;
  shape.components = {Comp(kStoredString, 0, 4), Comp(kStoredShort, 4, 2, true)};
  shape.nocase = true;
  std::mt19937 rng(3);
  std::vector<Rec> recs(3000);
  for (Rec& r : recs) {
    for (char& c : r.name) c = "abAB z"[rng() % 6];
    r.age = int16_t(int(rng() % 200) - 100);
  }
  auto upper = [](const Rec& r) {
    std::string s(r.name, 4);
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  auto less = [&](const Rec& a, const Rec& b) {
    if (upper(a) != upper(b)) return upper(a) < upper(b);
    return a.age > b.age;
  };
  std::sort(recs.begin(), recs.end(), less);
  std::string prev;
  for (size_t i = 0; i < recs.size(); ++i) {
    std::string key(6, '\0');
    ASSERT_TRUE(EncodeKey(shape, reinterpret_cast<const uint8_t*>(&recs[i]),
                          reinterpret_cast<uint8_t*>(key.data())));
    if (i > 0) {
      if (less(recs[i - 1], recs[i]))
        ASSERT_LT(prev, key) << i;
      else
        ASSERT_EQ(prev, key) << i;
    }
    prev = key;
  }
}

TEST(KeyCodec, NegativeFloatsInReverseMagnitudeBeforePositive) {
  const double v[] = {-1000.0, -2.5, -0.001, 0.0, 0.001, 2.5, 1000.0};
  KeyComponent c = Comp(kStoredReal, 0, 8);
  for (size_t i = 1; i < std::size(v); ++i) EXPECT_LT(Enc(c, &v[i - 1]), Enc(c, &v[i])) << v[i];
  // Sign byte first after reversal; positive values get it moved up by 128.
  double one = 1.0;  // 3F F0 00 .. 00
  EXPECT_EQ(Enc(c, &one), std::string("\xBF\xF0\0\0\0\0\0\0", 8));
  double minus_one = -1.0;  // BF F0 00 .. 00, all inverted
  EXPECT_EQ(Enc(c, &minus_one), std::string("\x40\x0F\xFF\xFF\xFF\xFF\xFF\xFF", 8));
}

TEST(KeyCodec, PackedDecimalsInNumericOrder) {
  std::mt19937 rng(11);
  struct Dec {
    uint8_t b[4];
  };
  std::vector<Dec> values;
  for (int i = 0; i < 2000; ++i) {
    Dec d;
    int64_t v = int64_t(rng() % 19999999) - 9999999;
    ASSERT_TRUE(nv::DecimalFromScaled(v, d.b, 4));
    values.push_back(d);
  }
  auto less = [](const Dec& a, const Dec& b) {
    return nv::DecimalCompare(a.b, 4, 2, b.b, 4, 2) < 0;
  };
  ExpectOrderKept(Comp(kStoredDecimal, 0, 4), values, less);
  // The rule itself: negative values are inverted, others get the top bit.
  Dec neg;
  ASSERT_TRUE(nv::DecimalFromScaled(-5, neg.b, 4));  // F0 00 00 05
  EXPECT_EQ(Enc(Comp(kStoredDecimal, 0, 4), neg.b), std::string("\x0F\xFF\xFF\xFA", 4));
  Dec pos;
  ASSERT_TRUE(nv::DecimalFromScaled(5, pos.b, 4));
  EXPECT_EQ(Enc(Comp(kStoredDecimal, 0, 4), pos.b), std::string("\x80\x00\x00\x05", 4));
}

TEST(KeyCodec, StringsUpperCasedWhenCaseInsensitiveThenCollated) {
  KeyComponent c = Comp(kStoredString, 0, 6);
  EXPECT_EQ(Enc(c, "smith "), "smith ");
  EXPECT_EQ(Enc(c, "smith ", true), "SMITH ");
  EXPECT_EQ(Enc(c, "SMITH ", true), Enc(c, "smith ", true));
  // Windows-1252 accented small letters are upper-cased too.
  EXPECT_EQ(Enc(Comp(kStoredGroup, 0, 2), "\xE9\xF1", true), "\xC9\xD1");
  // OEM files hold OEM bytes in their key values.
  std::string oem = Enc(Comp(kStoredString, 0, 1), "\xC9", false, true);
  EXPECT_EQ(uint8_t(oem[0]), nv::AnsiToOem(0xC9));
  EXPECT_EQ(Enc(Comp(kStoredPictureString, 0, 3, true), "abc"), std::string("\x9E\x9D\x9C", 3));
}

TEST(KeyCodec, WholeKeysAndOptionalNulls) {
  KeySpec shape;
  shape.components = {Comp(kStoredString, 4, 5), Comp(kStoredLong, 0, 4)};
  shape.optional = true;
  uint8_t rec[9];
  int32_t n = 0;
  std::memcpy(rec, &n, 4);
  std::memcpy(rec + 4, "     ", 5);
  uint8_t out[9];
  EXPECT_FALSE(EncodeKey(shape, rec, out));
  std::memcpy(rec + 4, "  \0xy", 5);  // blanks up to a zero byte
  EXPECT_FALSE(EncodeKey(shape, rec, out));
  rec[4] = 'A';
  EXPECT_TRUE(EncodeKey(shape, rec, out));
  EXPECT_EQ(out[0], 'A');
  EXPECT_EQ(out[5], 0x80);  // the long follows the string
  std::memcpy(rec + 4, "     ", 5);
  n = -1;
  std::memcpy(rec, &n, 4);
  EXPECT_TRUE(EncodeKey(shape, rec, out));
  shape.optional = false;
  std::memset(rec, 0, 4);
  EXPECT_TRUE(EncodeKey(shape, rec, out));  // a required key always has an entry

  double zero = -0.0;
  EXPECT_TRUE(ComponentIsNull(Comp(kStoredReal, 0, 8), reinterpret_cast<uint8_t*>(&zero)));
  uint8_t dec[3] = {0, 0, 1};
  EXPECT_FALSE(ComponentIsNull(Comp(kStoredDecimal, 0, 3), dec));
}

// Random records of every stored type, ascending and descending: a key value
// decodes to exactly the bytes of its components, and to nothing else.
TEST(KeyCodec, DecodeGivesBackTheComponentBytes) {
  std::vector<KeyComponent> comps;
  const uint8_t types[] = {kStoredShort, kStoredLong,   kStoredReal,
                           kStoredByte,  kStoredDecimal, kStoredString, kStoredGroup};
  const uint16_t sizes[] = {2, 4, 8, 1, 3, 7, 4};
  uint16_t at = 3;  // a gap before the first component stays untouched
  for (size_t i = 0; i < 7; ++i) {
    comps.push_back(Comp(types[i], at, sizes[i], i % 2 == 1));
    at = uint16_t(at + sizes[i] + 1);
  }
  EXPECT_TRUE(ComponentsDecodable(comps, false, false));
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> rec(at), back(at, 0xEE), want(at, 0xEE);
    for (uint8_t& b : rec) b = uint8_t(rng());
    std::string value;
    for (const KeyComponent& c : comps) {
      value += Enc(c, rec.data() + c.offset);
      std::copy_n(rec.begin() + c.offset, c.size, want.begin() + c.offset);
    }
    DecodeComponents(comps, reinterpret_cast<const uint8_t*>(value.data()), back.data());
    ASSERT_EQ(back, want) << "round " << round;
  }
  EXPECT_FALSE(ComponentsDecodable(comps, true, false));
  EXPECT_FALSE(ComponentsDecodable(comps, false, true));
  comps.erase(comps.begin() + 5, comps.end());  // numbers only: case and code page do not matter
  EXPECT_TRUE(ComponentsDecodable(comps, true, true));
}

TEST(KeyCodec, LengthsAttributesAndLimits) {
  KeySpec shape;
  shape.components = {Comp(kStoredLong, 0, 4)};
  EXPECT_EQ(shape.entry_length(), 8);
  EXPECT_EQ(shape.entries_per_page(), 62);
  EXPECT_EQ(shape.stored_attributes(), kAttrRequired);
  shape.components = {Comp(kStoredString, 0, 200), Comp(kStoredString, 200, 46)};
  EXPECT_EQ(shape.Validate(), kErrKeyTooLong);  // 246 bytes
  shape.components[1].size = 45;
  EXPECT_EQ(shape.Validate(), 0);
  EXPECT_EQ(shape.Validate(244), kErrKeyTooLong);
  EXPECT_EQ(shape.entry_length(), 249);
  EXPECT_EQ(shape.entries_per_page(), 2);
  shape.components = {Comp(kStoredString, 0, 246)};
  EXPECT_EQ(499 / (246 + 4), 1);  // the longest entry: one per page
  shape.components.clear();
  EXPECT_EQ(shape.Validate(), kErrKeyTooLong);
  shape.components = {Comp(kStoredString, 0, 0)};
  EXPECT_EQ(shape.Validate(), kErrKeyTooLong);

  KeySpec s2;
  s2.components = {Comp(kStoredByte, 0, 1)};
  s2.index = true;
  s2.optional = true;
  s2.nocase = true;
  EXPECT_EQ(s2.stored_attributes(), kAttrDup | kAttrIndex | kAttrNoCase);
  EXPECT_TRUE(s2.allows_duplicates());
}

TEST(KeyCodec, DescriptorRoundTripAndBadInput) {
  KeySpec shape;
  shape.name = "MA11:NOMBRE";
  shape.nocase = true;
  shape.dup = true;
  KeyComponent c = Comp(kStoredPictureString, 300, 30);
  c.field_number = 7;
  shape.components = {c, Comp(kStoredLong, 2, 4)};
  std::string d = EncodeKeyDescriptor(shape);
  ASSERT_EQ(d.size(), 19u + 12u);
  EXPECT_EQ(d.substr(1, 16), "MA11:NOMBRE     ");
  EXPECT_EQ(uint8_t(d[17]), kAttrDup | kAttrNoCase | kAttrRequired);
  EXPECT_EQ(uint8_t(d[18]), 34);
  EXPECT_EQ(std::string(d.data() + 19, 6), std::string("\x04\x07\x00\x2C\x01\x1E", 6));
  KeySpec back;
  size_t used = 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(d.data());
  ASSERT_TRUE(DecodeKeyDescriptor(p, d.size(), &back, &used));
  EXPECT_EQ(used, d.size());
  EXPECT_EQ(back.name, "MA11:NOMBRE");
  EXPECT_TRUE(back.dup && back.nocase && !back.optional && !back.index);
  ASSERT_EQ(back.components.size(), 2u);
  EXPECT_EQ(back.components[0].offset, 300);
  EXPECT_EQ(back.components[0].field_number, 7);
  // Short or inconsistent descriptors are refused.
  EXPECT_FALSE(DecodeKeyDescriptor(p, 18, &back, &used));
  EXPECT_FALSE(DecodeKeyDescriptor(p, d.size() - 1, &back, &used));
  std::string bad = d;
  bad[18] = 35;  // key length does not match the components
  EXPECT_FALSE(
      DecodeKeyDescriptor(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), &back, &used));
}

TEST(KeyCodec, KeyFileNames) {
  EXPECT_EQ(KeyFileName("CUST.DAT", 1, false), "CUST.K01");
  EXPECT_EQ(KeyFileName("CUST.DAT", 10, false), "CUST.K0A");
  EXPECT_EQ(KeyFileName("CUST.DAT", 35, false), "CUST.K0Z");
  EXPECT_EQ(KeyFileName("CUST.DAT", 36, false), "CUST.K10");
  EXPECT_EQ(KeyFileName("./Archivos/FXMO01.VTR", 2, true), "./Archivos/FXMO01.I02");
  EXPECT_EQ(KeyFileName("dir.x/CUST", 1, false), "dir.x/CUST.K01");
  EXPECT_EQ(ReplaceExtension("a\\b.c\\CUST.DAT", ".BLD"), "a\\b.c\\CUST.BLD");
}

}  // namespace
}  // namespace flat
