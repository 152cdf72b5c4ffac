// Golden bytes of the flat formats: for a small declaration written here,
// the header, field and key descriptors, picture, records and the first key
// page, worked out by hand from the format tables (not by the driver's code).
#include <gtest/gtest.h>

#include "tests/drivers/flat/flat_test_decl.h"
#include "tests/support/fake_env.h"

namespace flattest {
namespace {

#pragma pack(push, 1)
struct GoldRecord {
  int32_t NUM;
  String<6> NAME;
  int16_t QTY;
};
#pragma pack(pop)
static_assert(sizeof(GoldRecord) == 12);

FileDecl GoldDecl(const std::string& path, const std::string& owner = "") {
  static auto rt = DeclareRecord<GoldRecord>(
      "GL", {NV_FIELD(GoldRecord, NUM), NV_FIELD(GoldRecord, NAME, .picture = "@s6"),
             NV_FIELD(GoldRecord, QTY)});
  FileDecl d;
  d.label = "GOLD";
  d.driver = "Norvane";
  d.name = path;
  d.owner = owner;
  d.record = rt;
  d.keys = {{"GL:KEY_NUM", {"GL:NUM"}, 0, ""}};
  return d;
}

using Bytes = std::vector<uint8_t>;

Bytes Text(const char* s, size_t width, uint8_t pad = ' ') {
  Bytes b(width, pad);
  for (size_t i = 0; i < width && s[i]; ++i) b[i] = uint8_t(s[i]);
  return b;
}
void Append(Bytes* to, const Bytes& b) {
  to->insert(to->end(), b.begin(), b.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) Append(&out, p);
  return out;
}
Bytes Slice(const Bytes& b, size_t from, size_t n) {
  if (from + n > b.size()) return {};
  return Bytes(b.begin() + long(from), b.begin() + long(from + n));
}

// Header of the gold file: records, last and first live as given.
Bytes GoldHeader(uint8_t status, uint8_t records, uint8_t last, uint8_t first,
                 const char* file_prefix, const char* record_prefix) {
  return Cat({
      {0x43, 0x33},               // signature "C3"
      {status, 0x00},             // status
      {0x01},                     // keys
      {records, 0, 0, 0},         // records
      {0, 0, 0, 0},               // deleted
      {0x03, 0x00},               // fields
      {0x01, 0x00},               // pictures
      {0x00, 0x00},               // arrays
      {0x11, 0x00},               // record size 12 + 5
      {0xC5, 0, 0, 0},            // records start 85 + 81 + 25 + 6 = 197
      {last, 0, 0, 0},            // last live
      {first, 0, 0, 0},           // first live
      {0, 0, 0, 0},               // free chain
      Text("", 12),               // record name
      Text("", 12),               // memo file name
      Text(file_prefix, 3, 0),    // file prefix
      Text(record_prefix, 3, 0),  // record prefix
      {0, 0},                     // memo size
      {0, 0, 0, 0, 0, 0},         // reserved
      {0x81, 0xEE, 0x36, 0x00},   // change time 3600001
      {0x50, 0x40, 0x01, 0x00},   // change date 82000
      {0x00, 0x00},               // checksum (not owned)
  });
}

Bytes GoldDescription() {
  return Cat({
      // Field 1: LONG stored as 1.
      {0x01},
      Text("GL:NUM", 16),
      {0x00, 0x00},
      {0x04, 0x00},
      {0, 0},
      {0, 0},
      {0, 0},
      // Field 2: STRING with picture, stored as 4, picture 1.
      {0x04},
      Text("GL:NAME", 16),
      {0x04, 0x00},
      {0x06, 0x00},
      {0, 0},
      {0, 0},
      {0x01, 0x00},
      // Field 3: SHORT stored as 6.
      {0x06},
      Text("GL:QTY", 16),
      {0x0A, 0x00},
      {0x02, 0x00},
      {0, 0},
      {0, 0},
      {0, 0},
      // Key: one component, unique and required (0x40), length 4.
      {0x01},
      Text("GL:KEY_NUM", 16),
      {0x40},
      {0x04},
      {0x01, 0x01, 0x00, 0x00, 0x00, 0x04},
      // Picture "@s6": length 4, text and zero.
      {0x04, 0x00, '@', 's', '6', 0x00},
  });
}

class FlatGoldenTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearError(); }
  nvtest::FakeClockEnv clock_;
  nvtest::ScopedEnv scoped_{&clock_};
  TempDir dir_;
};

TEST_F(FlatGoldenTest, CreatedFileHeaderAndDescriptionArea) {
  File f(GoldDecl(dir_ / "GOLD"));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  Bytes dat = ReadBytes(dir_ / "GOLD.DAT");
  // The key name gives the file prefix; the record prefix stays.
  Bytes want = Cat({GoldHeader(0x80, 0, 0, 0, "GL", "GL"), GoldDescription()});
  ASSERT_EQ(dat.size(), 197u);
  EXPECT_EQ(Slice(dat, 0, 85), Slice(want, 0, 85));
  EXPECT_EQ(Slice(dat, 85, 81), Slice(want, 85, 81)) << "field descriptors";
  EXPECT_EQ(Slice(dat, 166, 25), Slice(want, 166, 25)) << "key descriptor";
  EXPECT_EQ(Slice(dat, 191, 6), Slice(want, 191, 6)) << "picture";
  // The empty key file: header page and an empty root page.
  Bytes k01 = ReadBytes(dir_ / "GOLD.K01");
  ASSERT_EQ(k01.size(), 1024u);
  Bytes kh = Cat({{1, 0, 0, 0},
                  {0, 0, 0, 0},
                  {1, 0, 0, 0},
                  {1, 0, 0, 0},
                  {0, 0, 0, 0},
                  {0, 0, 0, 0},
                  {0, 0, 0, 0},
                  {0x40},
                  {62},
                  {1},
                  {8, 0},
                  {1},
                  {0}});
  EXPECT_EQ(Slice(k01, 0, 35), kh);
  EXPECT_EQ(Slice(k01, 35, 1024 - 35), Bytes(1024 - 35, 0));
}

TEST_F(FlatGoldenTest, RecordsAndFirstKeyPageAfterThreeAdds) {
  File f(GoldDecl(dir_ / "GOLD"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  const int32_t nums[] = {5, -1, 300};
  const char* names[] = {"ALFA", "BETA", "GAMA"};
  for (int i = 0; i < 3; ++i) {
    auto& r = f.As<GoldRecord>();
    r.NUM = nums[i];
    r.NAME = names[i];
    r.QTY = int16_t(i + 1);
    ASSERT_EQ(f.Add(), 0);
  }
  ASSERT_EQ(f.Close(), 0);
  Bytes dat = ReadBytes(dir_ / "GOLD.DAT");
  ASSERT_EQ(dat.size(), 197u + 3 * 17);
  EXPECT_EQ(Slice(dat, 0, 85), GoldHeader(0x80, 3, 3, 1, "GL", "GL"));
  Bytes rec2 = Cat({{0x01, 0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, Text("BETA", 6), {0x02, 0x00}});
  EXPECT_EQ(Slice(dat, 197 + 17, 17), rec2);
  Bytes k01 = ReadBytes(dir_ / "GOLD.K01");
  ASSERT_GE(k01.size(), 1024u);
  Bytes kh = Cat({{1, 0, 0, 0},
                  {3, 0, 0, 0},
                  {1, 0, 0, 0},
                  {1, 0, 0, 0},
                  {3, 0, 0, 0},
                  {2, 0, 0, 0},
                  {0, 0, 0, 0},
                  {0x40},
                  {62},
                  {1},
                  {8, 0},
                  {1},
                  {0}});
  EXPECT_EQ(Slice(k01, 0, 35), kh);
  // Leaf: count, next, previous, parent, then (record, value) in key order;
  // values big-endian with the top bit inverted.
  Bytes page = Cat({{3},
                    {0, 0, 0, 0},
                    {0, 0, 0, 0},
                    {0, 0, 0, 0},
                    {2, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF},
                    {1, 0, 0, 0, 0x80, 0x00, 0x00, 0x05},
                    {3, 0, 0, 0, 0x80, 0x00, 0x01, 0x2C}});
  page.resize(512, 0);
  EXPECT_EQ(Slice(k01, 512, 512), page);
}

// Owner scrambling, worked out independently: the key is 0x5A3C plus the
// owner's 16-bit words; header bytes 4..84 and every descriptor are XORed
// word by word; the checksum is the byte sum of the plain header.
TEST_F(FlatGoldenTest, OwnedFileIsScrambledWithTheOwnerKey) {
  File f(GoldDecl(dir_ / "GOLD", "AB"));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  Bytes dat = ReadBytes(dir_ / "GOLD.DAT");
  ASSERT_EQ(dat.size(), 197u);
  const uint16_t key = uint16_t(0x5A3C + ('A' | ('B' << 8)));
  auto unscramble = [&](Bytes b) {
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
      b[i] ^= uint8_t(key);
      b[i + 1] ^= uint8_t(key >> 8);
    }
    return b;
  };
  Bytes plain = GoldHeader(0x82, 0, 0, 0, "GL", "GL");
  uint32_t sum = 0;
  for (uint8_t b : plain) sum += b;
  plain[83] = uint8_t(sum);
  plain[84] = uint8_t(sum >> 8);
  Bytes head = Slice(dat, 0, 4);
  Append(&head, unscramble(Slice(dat, 4, 81)));
  EXPECT_EQ(head, plain);
  Bytes desc = GoldDescription();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(unscramble(Slice(dat, 85 + 27 * i, 27)), Slice(desc, 27 * i, 27)) << i;
  EXPECT_EQ(unscramble(Slice(dat, 166, 25)), Slice(desc, 81, 25));
  // The picture's length stays plain, its text is scrambled.
  EXPECT_EQ(Slice(dat, 191, 2), Slice(desc, 106, 2));
  EXPECT_EQ(unscramble(Slice(dat, 193, 4)), Slice(desc, 108, 4));
  // Only the same owner string reads it back.
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  ASSERT_EQ(f.Close(), 0);
  File other(GoldDecl(dir_ / "GOLD", "AC"));
  EXPECT_EQ(other.Open(), 36);
}

}  // namespace
}  // namespace flattest
