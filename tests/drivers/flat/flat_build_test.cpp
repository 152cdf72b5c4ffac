// BUILD through the driver over files larger than the block it reads the
// records in: every live record keyed, none deleted, in plain files and in
// scrambled OEM ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

constexpr int kRecords = 20000;  // two read blocks of 55-byte records

void AppendRecords(File& f) {
  std::mt19937 rng(17);
  ASSERT_EQ(f.Stream(), 0);
  for (int i = 1; i <= kRecords; ++i) {
    std::string name = "NOMBRE ";
    for (int j = 0; j < 6; ++j) name += char('A' + rng() % 26);
    Fill(f, i, name, int16_t(rng() % 90), i % 5 ? "MADRID" : "");
    ASSERT_EQ(f.Append(), 0) << ErrorCode();
  }
  ASSERT_EQ(f.Flush(), 0);
}

TEST(FlatBuild, EveryLiveRecordIsKeyedAcrossTheReadBlocks) {
  struct Kind {
    uint32_t attributes;
    const char* owner;
  };
  for (Kind kind : {Kind{kFileCreate, ""}, Kind{kFileCreate | kFileScrambled | kFileOem, "SECRETO"}}) {
    SCOPED_TRACE(kind.attributes);
    TempDir dir;
    FileDecl d = CustDecl(dir / "CUST", false);
    d.attributes = kind.attributes;
    d.owner = kind.owner;
    File f(d);
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(kReadWrite | kDenyWrite), 0);
    AppendRecords(f);
    ASSERT_EQ(f.Build(), 0);
    // Deleted records, some at the edges of the blocks, are left out.
    std::vector<int32_t> codes;
    for (int32_t n = 1; n <= kRecords; ++n) {
      if (n % 97 == 0 || n == 19065 || n == 19066 || n == kRecords) {
        ASSERT_EQ(f.Get(n), 0);
        ASSERT_EQ(f.Delete(), 0);
      } else {
        codes.push_back(n);
      }
    }
    ASSERT_EQ(f.Build(), 0);
    std::vector<int32_t> walked;
    ASSERT_EQ(f.Set(f.key(0)), 0);
    while (f.Next() == 0) walked.push_back(f.As<CustRecord>().CODE);
    EXPECT_EQ(walked, codes);
    // The name key gives the same records, and each one whole.
    std::vector<int32_t> by_name;
    ASSERT_EQ(f.Set(f.key(1)), 0);
    while (f.Next() == 0) {
      const CustRecord& r = f.As<CustRecord>();
      ASSERT_EQ(double(r.AMOUNT), r.CODE * 1.5);
      by_name.push_back(r.CODE);
    }
    std::sort(by_name.begin(), by_name.end());
    EXPECT_EQ(by_name, codes);
    ASSERT_EQ(f.Close(), 0);
  }
}

}  // namespace
}  // namespace flattest
