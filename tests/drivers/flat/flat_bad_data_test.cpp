// Bad input for the flat driver: truncated and garbled data files, wrong
// owners, declarations that do not match the file, key files that belong to
// another file, broken memo chains. Every case ends in an error number,
// never a crash.
#include <random>

#include <gtest/gtest.h>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

class FlatBadDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearError();
    File f(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(), 0);
    for (int i = 1; i <= 20; ++i) {
      Fill(f, i, "NOMBRE " + std::to_string(i), int16_t(i), i % 3 ? "LEON" : "");
      f.SetMemoText(0, std::string(size_t(i * 20), char('a' + i)));
      ASSERT_EQ(f.Add(), 0);
    }
    ASSERT_EQ(f.Close(), 0);
    good_ = ReadBytes(dir_ / "CUST.DAT");
  }

  // Opens and walks every order; answers the first error of the open.
  int OpenAndWalk(const FileDecl& d) {
    File f(d);
    int err = f.Open();
    if (err) return err;
    for (int k = -1; k < f.key_count(); ++k) {
      k < 0 ? f.Set() : f.Set(f.key(k));
      for (int i = 0; i < 100 && f.Next() == 0; ++i) {
      }
      k < 0 ? f.Set() : f.Set(f.key(k));
      for (int i = 0; i < 100 && f.Previous() == 0; ++i) {
      }
    }
    for (int32_t p = 0; p < 25; ++p) f.Get(p);
    f.Records();
    f.Close();
    return 0;
  }

  TempDir dir_;
  std::vector<uint8_t> good_;
};

TEST_F(FlatBadDataTest, TruncatedDataFileGives36) {
  for (size_t cut : {size_t(0), size_t(10), size_t(84), size_t(85), size_t(150), size_t(300),
                     good_.size() - 1}) {
    std::vector<uint8_t> b(good_.begin(), good_.begin() + long(cut));
    WriteBytes(dir_ / "CUST.DAT", b);
    EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 36) << "cut at " << cut;
  }
}

TEST_F(FlatBadDataTest, WrongSignatureGives36) {
  std::vector<uint8_t> b = good_;
  b[0] = 'X';
  WriteBytes(dir_ / "CUST.DAT", b);
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 36);
}

TEST_F(FlatBadDataTest, ImpossibleCountersGive36) {
  std::vector<uint8_t> b = good_;
  b[25] = 0xFF;  // last live record beyond the records
  WriteBytes(dir_ / "CUST.DAT", b);
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 36);
  b = good_;
  b[21] = 10;  // records start inside the header
  WriteBytes(dir_ / "CUST.DAT", b);
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 36);
}

TEST_F(FlatBadDataTest, DeclarationThatDoesNotMatchGives47) {
  FileDecl no_memo = CustDecl(dir_ / "CUST", false);
  EXPECT_EQ(OpenAndWalk(no_memo), 47);
  FileDecl memo_size = CustDecl(dir_ / "CUST");
  memo_size.memos[0].size = 601;
  EXPECT_EQ(OpenAndWalk(memo_size), 47);
  FileDecl fewer_keys = CustDecl(dir_ / "CUST");
  fewer_keys.keys.pop_back();
  EXPECT_EQ(OpenAndWalk(fewer_keys), 47);
  FileDecl owner = CustDecl(dir_ / "CUST");
  owner.owner = "DUENO";
  EXPECT_EQ(OpenAndWalk(owner), 47);
  FileDecl scrambled = CustDecl(dir_ / "CUST");
  scrambled.attributes |= kFileScrambled;
  EXPECT_EQ(OpenAndWalk(scrambled), 47);
  // Another record layout entirely.
  FileDecl other;
  other.driver = "Norvane";
  other.name = dir_ / "CUST";
  other.record = DeclareRecord<CustRecord>("CU", {NV_FIELD(CustRecord, CODE)});
  EXPECT_EQ(OpenAndWalk(other), 47);
}

TEST_F(FlatBadDataTest, OwnedFileWithAnotherOwnerGives36) {
  FileDecl d = CustDecl(dir_ / "OWNED");
  d.owner = "PROPIETARIO";
  {
    File f(d);
    ASSERT_EQ(f.Create(), 0);
  }
  d.owner = "OTRO DUENO";
  EXPECT_EQ(OpenAndWalk(d), 36);
  d.owner = "PROPIETARIO";
  EXPECT_EQ(OpenAndWalk(d), 0);
}

TEST_F(FlatBadDataTest, KeyFileMissingOrFromAnotherFileGives46) {
  std::vector<uint8_t> k01 = ReadBytes(dir_ / "CUST.K01");
  std::filesystem::remove(dir_ / "CUST.K01");
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 46);
  // The name key's file in the code key's place: other components.
  std::filesystem::copy_file(dir_ / "CUST.K02", dir_ / "CUST.K01");
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 46);
  // A key file of the same shape from a file with other records.
  {
    File g(CustDecl(dir_ / "OTHER"));
    ASSERT_EQ(g.Create(), 0);
    ASSERT_EQ(g.Open(), 0);
    Fill(g, 1, "X");
    ASSERT_EQ(g.Add(), 0);
  }
  std::filesystem::remove(dir_ / "CUST.K01");
  std::filesystem::copy_file(dir_ / "OTHER.K01", dir_ / "CUST.K01");
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 46);
  // IGNORECORRUPTIONS skips the count test, and BUILD mends the key.
  File f(CustDecl(dir_ / "CUST", true));
  EXPECT_EQ(f.Send("IGNORECORRUPTIONS=ON"), "OFF");
  ASSERT_EQ(f.Open(), 0);
  ASSERT_EQ(f.Build(f.key(0)), 0);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_EQ(f.Send("IGNORECORRUPTIONS=OFF"), "ON");
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 0);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  // A truncated key file.
  WriteBytes(dir_ / "CUST.K01", std::vector<uint8_t>(k01.begin(), k01.begin() + 20));
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 46);
}

TEST_F(FlatBadDataTest, ChangedKeyDescriptorIsRewrittenByAWritingOpen) {
  const size_t at = 85 + 7 * 27 + 17;  // attributes of the first key descriptor
  std::vector<uint8_t> b = good_;
  b[at] ^= 0x01;
  WriteBytes(dir_ / "CUST.DAT", b);
  {
    File f(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(f.Open(kReadOnly | kDenyNone), 0);
  }
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[at], b[at]);
  {
    File f(CustDecl(dir_ / "CUST"));
    ASSERT_EQ(f.Open(), 0);
  }
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[at], good_[at]);
}

TEST_F(FlatBadDataTest, BrokenMemoChainGives36OnRead) {
  std::vector<uint8_t> mem = ReadBytes(dir_ / "CUST.MEM");
  // Record 20's memo (400 characters) starts in some block; make every
  // block point at itself.
  for (size_t off = 6; off + 256 <= mem.size(); off += 256) {
    uint32_t self = uint32_t((off - 6) / 256 + 1);
    mem[off] = uint8_t(self);
    mem[off + 1] = uint8_t(self >> 8);
    mem[off + 2] = mem[off + 3] = 0;
  }
  WriteBytes(dir_ / "CUST.MEM", mem);
  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Get(int32_t(20)), 36);
  // A memo file cut short.
  ASSERT_EQ(f.Close(), 0);
  WriteBytes(dir_ / "CUST.MEM", std::vector<uint8_t>(mem.begin(), mem.begin() + 3));
  EXPECT_EQ(OpenAndWalk(CustDecl(dir_ / "CUST")), 36);
}

TEST_F(FlatBadDataTest, InspectorTellsFaultsFromBadFiles) {
  std::string report;
  EXPECT_EQ(flat::InspectFlatFile(dir_ / "CUST", {}, &report), flat::kConsistent) << report;
  // A record marked deleted behind the header's back.
  std::vector<uint8_t> b = good_;
  const uint32_t start = U32At(b, 21);
  b[start + 2 * (sizeof(CustRecord) + 5)] |= 0x10;
  WriteBytes(dir_ / "CUST.DAT", b);
  report.clear();
  EXPECT_EQ(flat::InspectFlatFile(dir_ / "CUST", {}, &report), flat::kInconsistent);
  EXPECT_NE(report.find("borrados"), std::string::npos) << report;
  WriteBytes(dir_ / "CUST.DAT", good_);
  // A key entry whose value is not its record's.
  std::vector<uint8_t> k = ReadBytes(dir_ / "CUST.K01");
  std::vector<uint8_t> k_bad = k;
  k_bad[512 + 13 + 4 + 3] ^= 0x01;
  WriteBytes(dir_ / "CUST.K01", k_bad);
  report.clear();
  EXPECT_EQ(flat::InspectFlatFile(dir_ / "CUST", {}, &report), flat::kInconsistent) << report;
  WriteBytes(dir_ / "CUST.K01", k);
  // Every cut of the data file, of the key file and of the memo file is
  // reported (1 or 2), never a crash.
  for (const char* name : {"CUST.DAT", "CUST.K01", "CUST.MEM"}) {
    const std::vector<uint8_t> whole = ReadBytes(dir_ / name);
    for (size_t cut = 1; cut < whole.size(); cut += cut < 100 ? 1 : 37) {
      WriteBytes(dir_ / name, std::vector<uint8_t>(whole.begin(), whole.end() - long(cut)));
      report.clear();
      EXPECT_NE(flat::InspectFlatFile(dir_ / "CUST", {}, &report), flat::kConsistent)
          << name << " cut by " << cut;
    }
    WriteBytes(dir_ / name, whole);
  }
  // Not a flat file at all.
  WriteBytes(dir_ / "CUST.DAT", {'n', 'o', 'p', 'e'});
  report.clear();
  EXPECT_EQ(flat::InspectFlatFile(dir_ / "CUST", {}, &report), flat::kBadFile);
}

TEST_F(FlatBadDataTest, GarbledBytesNeverCrash) {
  std::mt19937 rng(7);
  const std::vector<uint8_t> k01 = ReadBytes(dir_ / "CUST.K01");
  const std::vector<uint8_t> mem = ReadBytes(dir_ / "CUST.MEM");
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> b = good_, k = k01, m = mem;
    for (int i = 0; i < 8; ++i) {
      std::vector<uint8_t>& t = rng() % 3 == 0 ? b : (rng() % 2 ? k : m);
      t[rng() % t.size()] = uint8_t(rng());
    }
    WriteBytes(dir_ / "CUST.DAT", b);
    WriteBytes(dir_ / "CUST.K01", k);
    WriteBytes(dir_ / "CUST.MEM", m);
    int err = OpenAndWalk(CustDecl(dir_ / "CUST"));
    EXPECT_TRUE(err == 0 || err == 36 || err == 46 || err == 47) << err;
    std::string report;
    flat::InspectFlatFile(dir_ / "CUST", {}, &report);
  }
}

}  // namespace
}  // namespace flattest
