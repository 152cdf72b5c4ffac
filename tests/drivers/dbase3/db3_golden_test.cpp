// Golden bytes of the dBase III formats for a small declaration written
// here: table header, field descriptors, terminator, a record and the end
// marker; the memo file's header and block; the index header and its leaf.
// The expected bytes are worked out by hand from the published layouts.
#include <cstring>

#include "host/runtime/date_time.h"
#include "tests/drivers/dbase3/db3_test_decl.h"
#include "tests/support/fake_env.h"

namespace db3test {
namespace {

#pragma pack(push, 1)
struct GoldRecord {
  String<6> NAME;
  int32_t QTY;
  BinDate WHEN;
  uint8_t OK;
  int32_t NOTE;
};
#pragma pack(pop)

FileDecl GoldDecl(const std::string& path) {
  static auto rt = DeclareRecord<GoldRecord>(
      "GL", {NV_FIELD(GoldRecord, NAME), NV_FIELD(GoldRecord, QTY, .name = "QTY=N(5)"),
             NV_FIELD(GoldRecord, WHEN), NV_FIELD(GoldRecord, OK), NV_FIELD(GoldRecord, NOTE)});
  FileDecl d;
  d.label = "GOLD";
  d.driver = "dBase3";
  d.name = path;
  d.record = rt;
  d.keys = {{"GL:GOLDNAME", {"GL:NAME"}, 0, ""}};
  d.memos = {{"GL:NOTE", 100, 0, ""}};
  return d;
}

using B = std::vector<uint8_t>;

B Descriptor(const char* name, char type, uint8_t len, uint8_t dec) {
  B d(32, 0);
  std::memcpy(d.data(), name, std::strlen(name));
  d[11] = uint8_t(type);
  d[16] = len;
  d[17] = dec;
  return d;
}

B Cat(std::initializer_list<B> parts) {
  B out;
  for (const B& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

B Str(const std::string& s) {
  return B(s.begin(), s.end());
}

class Db3Golden : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    env_.today = DateFromYmd(2026, 12, 8);
    SetEnv(&env_);
  }
  void TearDown() override {
    SetEnv(nullptr);
    TempFolder::TearDown();
  }
  nvtest::FakeClockEnv env_;
};

TEST_F(Db3Golden, TableMemoAndIndexBytes) {
  File f(GoldDecl(Path("GOLD")));
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  // Created: header, five descriptors, 0x0D, then the end marker.
  const B header = {0x83, 126, 12, 8, 0, 0, 0, 0, 193, 0, 31, 0, 0, 0, 0, 0,
                    0,    0,   0,  0, 0, 0, 0, 0, 0,   0, 0,  0, 0, 0, 0, 0};
  const B fields = Cat({Descriptor("NAME", 'C', 6, 0), Descriptor("QTY", 'N', 5, 0),
                        Descriptor("WHEN", 'D', 8, 0), Descriptor("OK", 'L', 1, 0),
                        Descriptor("NOTE", 'M', 10, 0)});
  EXPECT_EQ(Bytes("GOLD.DBF"), Cat({header, fields, {0x0D, 0x1A}}));

  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  auto& r = f.As<GoldRecord>();
  r.NAME = "ABC";
  r.QTY = 42;
  r.WHEN = BinFromDate(DateFromYmd(2026, 12, 8));
  r.OK = 1;
  f.SetMemoText(0, "Hola");
  ASSERT_EQ(f.Add(), 0) << ErrorCode();
  ASSERT_EQ(f.Close(), 0);

  B counted = header;
  counted[4] = 1;
  EXPECT_EQ(Bytes("GOLD.DBF"),
            Cat({counted, fields, {0x0D}, Str(" ABC      4220261208T         1"), {0x1A}}));

  B memo(1024, 0);
  memo[0] = 2;  // next free block
  memo[16] = 0x03;
  std::memcpy(&memo[512], "Hola\x1A\x1A", 6);
  EXPECT_EQ(Bytes("GOLD.DBT"), memo);

  B ndx(1024, 0);
  ndx[0] = 1;        // root page
  ndx[4] = 2;        // pages in the file
  ndx[12] = 6;       // key length
  ndx[14] = 31;      // keys per page: (512 - 4) / 16
  ndx[18] = 16;      // item: 6 + 8 rounded up to 4
  ndx[23] = 1;       // unique
  std::memcpy(&ndx[24], "NAME", 4);
  ndx[512] = 1;      // one key
  ndx[512 + 8] = 1;  // record 1 (page below 0: a leaf)
  std::memcpy(&ndx[512 + 12], "ABC   ", 6);
  EXPECT_EQ(Bytes("GOLDNAME.NDX"), ndx);
}

TEST_F(Db3Golden, UpdateYearByteWithZeroY2k) {
  File f(GoldDecl(Path("GOLD")));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Send("ZEROY2K=ON"), "OFF");
  f.As<GoldRecord>().NAME = "X";
  ASSERT_EQ(f.Add(), 0);
  EXPECT_EQ(Bytes("GOLD.DBF")[1], 26);
  EXPECT_EQ(f.Send("ZEROY2K=OFF"), "ON");
  f.As<GoldRecord>().QTY = 7;
  ASSERT_EQ(f.Put(), 0);
  EXPECT_EQ(Bytes("GOLD.DBF")[1], 126);
  // A day number 0 is kept as eight blanks and reads back as 0.
  const B b = Bytes("GOLD.DBF");
  EXPECT_EQ(std::string(b.begin() + 193 + 12, b.begin() + 193 + 20), "        ");
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(DateFromBin(f.As<GoldRecord>().WHEN), 0);
}

TEST_F(Db3Golden, OmnisVariantHeader) {
  File f(GoldDecl(Path("OMNI")));
  EXPECT_EQ(f.Send("OMNIS"), "");
  ASSERT_EQ(f.Create(), 0);
  B block(32, 0);
  block[0] = 0x0D;
  const B b = Bytes("OMNI.DBF");
  ASSERT_EQ(b.size(), 32u * 5 + 64 + 1);
  EXPECT_EQ(b[8] | b[9] << 8, 32 * 5 + 64);
  EXPECT_EQ(B(b.begin() + 192, b.begin() + 224), block);
  EXPECT_EQ(b.back(), 0x1A);
  ASSERT_EQ(f.Open(), 0) << ErrorCode();
  f.As<GoldRecord>().NAME = "OMNIS";
  ASSERT_EQ(f.Add(), 0);
  ASSERT_EQ(f.Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f.As<GoldRecord>().NAME.view()), "OMNIS");
}

}  // namespace
}  // namespace db3test
