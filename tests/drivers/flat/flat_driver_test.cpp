// The flat driver through the runtime's file verbs and the real loader:
// registration record, file names, the record layer and reading in record
// and key order.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "drivers/flat/flat_driver.h"
#include "host/runtime/driver_table.h"
#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

class FlatDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearError(); }
  TempDir dir_;
};

TEST_F(FlatDriverTest, RegistrationRecordHoldsTheDriversValues) {
  std::string error;
  Driver* d = FindDriver("Norvane", &error);
  ASSERT_NE(d, nullptr) << error;
  const DrvReg* reg = d->reg;
  EXPECT_STREQ(reg->name, "Norvane");
  EXPECT_STREQ(reg->file_name, "NVFLAT.DLL");
  EXPECT_STREQ(reg->description, "Norvane 2.1");
  EXPECT_STREQ(reg->companion, "NVFLATS.DLL");
  const uint32_t capabilities = reg->capabilities;  // packed: read by value
  EXPECT_EQ(capabilities, 0x02BCE79Fu);
  // The block sizes are the real sizes of the driver's blocks.
  const uint32_t sizes[4] = {reg->field_block_size, reg->key_block_size, reg->memo_block_size,
                             reg->fcb_size};
  EXPECT_EQ(sizes[0], sizeof(flat::FlatField));
  EXPECT_EQ(sizes[1], sizeof(flat::FlatKey));
  EXPECT_EQ(sizes[2], sizeof(flat::FlatMemo));
  EXPECT_EQ(sizes[3], sizeof(flat::FlatFcb));
  const uint8_t limits[28] = {0,    0xFF, 0,    0xFE, 0,    0xFF, 0xFF, 0xFF, 0, 0,
                              0,    0xFE, 0,    0,    0,    0xFF, 0xFF, 0,    0, 0x04,
                              0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(0, std::memcmp(reg->limits, limits, 28));
  const uint8_t ops[] = {1,  4,  2,  5,  3,  6,  52, 14, 7,  8,  9,  10, 11, 12, 57, 13, 29,
                         15, 16, 17, 72, 86, 18, 19, 20, 21, 22, 23, 24, 65, 25, 26, 27, 28,
                         61, 62, 31, 30, 54, 32, 33, 66, 67, 36, 37, 38, 63, 64, 40, 60, 41,
                         42, 43, 44, 47, 45, 46, 71, 85, 48, 49, 56, 50, 58, 98, 99, 102};
  ASSERT_EQ(reg->operations[0], 67);
  EXPECT_EQ(0, std::memcmp(reg->operations + 1, ops, 67));
  const uint8_t types[] = {9, 1, 2, 6, 9, 10, 18, 21, 22, 24};
  EXPECT_EQ(0, std::memcmp(reg->operations + 68, types, 10));
  void* h = dlopen(d->path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(reg->entry), dlsym(h, "NORVANE"));
  dlclose(h);
  // SEND "REGISTER" answers the same record.
  File f(CustDecl(dir_ / "CUST"));
  EXPECT_EQ(f.Send("REGISTER"), std::to_string(reinterpret_cast<intptr_t>(reg)));
}

TEST_F(FlatDriverTest, FileNamesFollowTheDeclaredName) {
  FileDecl d = CustDecl(dir_ / "CUST");
  d.keys.resize(36, d.keys[0]);
  for (size_t i = 1; i < 36; ++i) d.keys[i].attributes = kKeyDup;
  File f(d);
  ASSERT_EQ(f.Create(), 0) << ErrorCode();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.MEM"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.K01"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.K0A"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.K10"));
  EXPECT_EQ(f.Name(), dir_ / "CUST");
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Name(), dir_ / "CUST.DAT");
}

TEST_F(FlatDriverTest, AddReadBackInRecordAndKeyOrder) {
  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  const char* names[] = {"PEREZ", "alvarez", "Gomez", "ZAPATA", "BRAVO"};
  for (int i = 0; i < 5; ++i) {
    Fill(f, 100 - i, names[i], int16_t(20 + i));
    f.SetMemoText(0, std::string("nota ") + names[i]);
    ASSERT_EQ(f.Add(), 0) << ErrorCode();
  }
  EXPECT_EQ(f.Records(), 5);
  f.Set();
  std::vector<int> codes;
  while (f.Next() == 0) codes.push_back(f.As<CustRecord>().CODE);
  EXPECT_EQ(ErrorCode(), 33);
  EXPECT_EQ(codes, (std::vector<int>{100, 99, 98, 97, 96}));
  codes.clear();
  f.Set(f.key(0));
  while (f.Next() == 0) codes.push_back(f.As<CustRecord>().CODE);
  EXPECT_EQ(codes, (std::vector<int>{96, 97, 98, 99, 100}));
  std::vector<std::string> by_name;
  f.Set(f.key(1));
  while (f.Previous() == 0) by_name.emplace_back(Clip(f.As<CustRecord>().NAME.view()));
  EXPECT_EQ(by_name, (std::vector<std::string>{"ZAPATA", "PEREZ", "Gomez", "BRAVO", "alvarez"}));
  f.As<CustRecord>().CODE = 98;
  ASSERT_EQ(f.Get(f.key(0)), 0);
  EXPECT_EQ(Clip(f.As<CustRecord>().NAME.view()), "Gomez");
  EXPECT_EQ(Clip(f.MemoText(0)), "nota Gomez");
  EXPECT_EQ(f.Pointer(), 3);
  EXPECT_EQ(f.Pointer(f.key(0)), 3);
}

}  // namespace
}  // namespace flattest
