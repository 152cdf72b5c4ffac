// The flat record layer and operations, single program: deletion and re-use
// through the free chain, live bounds, memo blocks and their free chain,
// streaming, options, WATCH, read-only files, keys of every kind, BUILD,
// PACK and the files as a whole. The inspector checks the files after the
// steps that change them.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/runtime/codepage.h"
#include "host/runtime/read_fields.h"
#include "tests/drivers/flat/flat_test_decl.h"
#include "tests/support/fake_env.h"

namespace flattest {
namespace {

// Counts header writes (writes at offset 0) of .DAT files.
class CountingEnv : public nv::EnvWrapper {
 public:
  CountingEnv() : nv::EnvWrapper(nv::DefaultEnv()) {}
  int Open(const std::string& path, const nv::OpenOptions& o,
           std::unique_ptr<nv::EnvFile>* out) override {
    std::unique_ptr<nv::EnvFile> f;
    int r = target()->Open(path, o, &f);
    if (r) return r;
    *out = std::make_unique<Counted>(std::move(f), this,
                                     path.size() > 4 && path.substr(path.size() - 4) == ".DAT");
    return 0;
  }
  int header_writes = 0;

 private:
  class Counted : public nv::EnvFile {
   public:
    Counted(std::unique_ptr<nv::EnvFile> f, CountingEnv* e, bool dat)
        : f_(std::move(f)), e_(e), dat_(dat) {}
    int Read(uint64_t o, void* b, size_t n, size_t* g) override { return f_->Read(o, b, n, g); }
    int Write(uint64_t o, const void* b, size_t n) override {
      if (dat_ && o == 0) ++e_->header_writes;
      return f_->Write(o, b, n);
    }
    int Truncate(uint64_t s) override { return f_->Truncate(s); }
    int Size(uint64_t* s) override { return f_->Size(s); }
    int Sync(bool d) override { return f_->Sync(d); }
    int Lock(uint64_t o, uint64_t l, bool e, bool w) override { return f_->Lock(o, l, e, w); }
    int Unlock(uint64_t o, uint64_t l) override { return f_->Unlock(o, l); }
    const std::string& Path() const override { return f_->Path(); }

   private:
    std::unique_ptr<nv::EnvFile> f_;
    CountingEnv* e_;
    bool dat_;
  };
};

constexpr uint32_t kRecSize = sizeof(CustRecord) + 5;

class FlatRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearError(); }

  std::unique_ptr<File> Make(uint8_t attributes = kFileCreate, bool memo = true,
                             const std::string& owner = "") {
    FileDecl d = CustDecl(dir_ / "CUST", memo);
    d.attributes = attributes;
    d.owner = owner;
    auto f = std::make_unique<File>(d);
    EXPECT_EQ(f->Create(), 0) << ErrorCode();
    EXPECT_EQ(f->Open(), 0) << ErrorCode();
    return f;
  }
  void AddN(File& f, int n, int first_code = 1) {
    for (int i = 0; i < n; ++i) {
      Fill(f, first_code + i, "NOMBRE " + std::to_string(first_code + i));
      ASSERT_EQ(f.Add(), 0) << ErrorCode();
    }
  }
  std::vector<uint8_t> Dat() { return ReadBytes(dir_ / "CUST.DAT"); }
  uint32_t RecordsStart() { return U32At(Dat(), 21); }
  uint32_t Link(uint32_t n) { return U32At(Dat(), RecordsStart() + (n - 1) * kRecSize + 1); }
  uint8_t Status(uint32_t n) { return Dat()[RecordsStart() + (n - 1) * kRecSize]; }
  std::vector<int32_t> Codes(File& f, KeyDecl* key) {
    std::vector<int32_t> v;
    key ? f.Set(key) : f.Set();
    while (f.Next() == 0) v.push_back(f.As<CustRecord>().CODE);
    return v;
  }

  TempDir dir_;
};

TEST_F(FlatRecordTest, EmptyFileHasZeroCountersAndBounds) {
  auto f = Make();
  std::vector<uint8_t> d = Dat();
  EXPECT_EQ(U32At(d, 5), 0u);
  EXPECT_EQ(U32At(d, 9), 0u);
  EXPECT_EQ(U32At(d, 25), 0u);
  EXPECT_EQ(U32At(d, 29), 0u);
  EXPECT_EQ(U32At(d, 33), 0u);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, DeletionsChainAndAreReusedLastFirst) {
  auto f = Make(kFileCreate | kFileReclaim);
  AddN(*f, 6);
  for (int n : {2, 5}) {
    ASSERT_EQ(f->Get(int32_t(n)), 0);
    ASSERT_EQ(f->Delete(), 0);
  }
  std::vector<uint8_t> d = Dat();
  EXPECT_EQ(U32At(d, 33), 5u);
  EXPECT_EQ(U32At(d, 9), 2u);
  EXPECT_EQ(Link(5), 2u);
  EXPECT_EQ(Link(2), 0u);
  EXPECT_EQ(Status(5), 0x11);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  Fill(*f, 100, "NUEVO");
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(f->Pointer(), 5);
  Fill(*f, 101, "OTRO");
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(f->Pointer(), 2);
  Fill(*f, 102, "MAS");
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(f->Pointer(), 7);
  EXPECT_EQ(U32At(Dat(), 9), 0u);
  EXPECT_EQ(f->Records(), 7);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, WithoutReuseAddAppends) {
  auto f = Make();
  AddN(*f, 3);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  ASSERT_EQ(f->Delete(), 0);
  Fill(*f, 50, "X");
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(f->Pointer(), 4);
  EXPECT_EQ(U32At(Dat(), 5), 4u);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, LiveBoundsMoveInwardPastDeletedRecords) {
  auto f = Make();
  AddN(*f, 5);
  for (int n : {4, 5, 1}) {
    ASSERT_EQ(f->Get(int32_t(n)), 0);
    ASSERT_EQ(f->Delete(), 0);
  }
  EXPECT_EQ(U32At(Dat(), 25), 3u);
  EXPECT_EQ(U32At(Dat(), 29), 2u);
  for (int n : {2, 3}) {
    ASSERT_EQ(f->Get(int32_t(n)), 0);
    ASSERT_EQ(f->Delete(), 0);
  }
  EXPECT_EQ(U32At(Dat(), 25), 0u);
  EXPECT_EQ(U32At(Dat(), 29), 0u);
  EXPECT_TRUE(Codes(*f, nullptr).empty());
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, MemoOf300CharactersTakesTwoBlocksAndIsFreedToTheChainHead) {
  auto f = Make();
  std::string text(300, 'x');
  text[0] = 'A';
  text[299] = 'Z';
  Fill(*f, 1, "UNO");
  f->SetMemoText(0, text);
  ASSERT_EQ(f->Add(), 0);
  Fill(*f, 2, "DOS");
  f->SetMemoText(0, "corto");
  ASSERT_EQ(f->Add(), 0);
  std::vector<uint8_t> mem = ReadBytes(dir_ / "CUST.MEM");
  ASSERT_EQ(mem.size(), 6u + 3 * 256);
  EXPECT_EQ(mem[0], 0x4D);
  EXPECT_EQ(mem[1], 0x33);
  EXPECT_EQ(Link(1), 1u);
  EXPECT_EQ(U32At(mem, 6), 2u);        // block 1 -> block 2
  EXPECT_EQ(U32At(mem, 6 + 256), 0u);  // block 2 ends the memo
  EXPECT_EQ(mem[6 + 4], 'A');
  EXPECT_EQ(mem[6 + 256 + 4 + 47], 'Z');  // character 300 is the 48th of block 2
  // Deleting record 1 puts blocks 1-2 in front of the (empty) free chain;
  // then deleting record 2 puts block 3 in front of them.
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f->MemoText(0)), text);
  ASSERT_EQ(f->Delete(), 0);
  mem = ReadBytes(dir_ / "CUST.MEM");
  EXPECT_EQ(U32At(mem, 2), 1u);
  EXPECT_EQ(U32At(mem, 6 + 256), 0u);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  ASSERT_EQ(f->Delete(), 0);
  mem = ReadBytes(dir_ / "CUST.MEM");
  EXPECT_EQ(U32At(mem, 2), 3u);
  EXPECT_EQ(U32At(mem, 6 + 2 * 256), 1u);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  // A new memo takes the free blocks first.
  Fill(*f, 3, "TRES");
  f->SetMemoText(0, std::string(260, 'm'));
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(ReadBytes(dir_ / "CUST.MEM").size(), 6u + 3 * 256);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, NoMemoReadLeavesTheMemoAloneOnPut) {
  auto f = Make();
  Fill(*f, 1, "UNO");
  f->SetMemoText(0, "texto guardado");
  ASSERT_EQ(f->Add(), 0);
  f->SetMemoText(0, "");
  ASSERT_EQ(f->NoMemo(), 0);
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f->MemoText(0)), "");
  f->As<CustRecord>().AGE = 99;
  ASSERT_EQ(f->Put(), 0);
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f->MemoText(0)), "texto guardado");
  EXPECT_EQ(f->As<CustRecord>().AGE, 99);
}

TEST_F(FlatRecordTest, AppendWhileStreamingWritesTheHeaderOnceAtFlush) {
  CountingEnv env;
  nvtest::ScopedEnv scoped(&env);
  auto f = Make();
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(kReadWrite | kDenyWrite), 0);
  ASSERT_EQ(f->Stream(), 0);
  env.header_writes = 0;
  for (int i = 0; i < 50; ++i) {
    Fill(*f, i + 1, "X");
    ASSERT_EQ(f->Append(), 0);
  }
  // Kept back and written past the header's count: no busy mark needed.
  EXPECT_EQ(env.header_writes, 0);
  ASSERT_EQ(f->Flush(), 0);
  EXPECT_EQ(env.header_writes, 1);
  EXPECT_EQ(U32At(Dat(), 5), 50u);
  // APPEND leaves the keys alone until BUILD.
  EXPECT_EQ(f->Records(f->key(0)), 0);
  ASSERT_EQ(f->Build(), 0);
  EXPECT_EQ(f->Records(f->key(0)), 50);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  // Streaming then CLOSE writes the dirty header too.
  ASSERT_EQ(f->Stream(), 0);
  Fill(*f, 51, "Y");
  ASSERT_EQ(f->Append(), 0);
  env.header_writes = 0;
  ASSERT_EQ(f->Close(), 0);
  EXPECT_EQ(env.header_writes, 1);
  EXPECT_EQ(U32At(Dat(), 5), 51u);
}

// Streaming a file no other open may write holds its key pages back until
// FLUSH: this open reads them from memory, and the files as a crash would
// leave them meanwhile (records written, keys not, busy mark on disk) are
// repaired by the next open. A FLUSH the disk refuses says so, and the
// file is repaired when opened again.
TEST_F(FlatRecordTest, StreamingAFileToItselfHoldsItsKeysBackUntilFlush) {
  nvtest::FailingEnv failing;
  nvtest::ScopedEnv scoped(&failing);
  auto f = Make();
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(kReadWrite | kDenyWrite), 0);
  ASSERT_EQ(f->Stream(), 0);
  AddN(*f, 300);
  Fill(*f, 5, "");
  ASSERT_EQ(f->Get(f->key(0)), 0);
  f->As<CustRecord>().CODE = 1005;
  ASSERT_EQ(f->Put(), 0);
  Fill(*f, 7, "");
  ASSERT_EQ(f->Get(f->key(0)), 0);
  ASSERT_EQ(f->Delete(), 0);
  std::vector<int32_t> expected;
  for (int i = 1; i <= 300; ++i)
    if (i != 5 && i != 7) expected.push_back(i);
  expected.push_back(1005);
  EXPECT_EQ(Codes(*f, f->key(0)), expected);
  // What a crash now would leave.
  TempDir crashed;
  for (const char* ext : {".DAT", ".MEM", ".K01", ".K02", ".K03"}) {
    std::error_code ec;
    std::filesystem::copy_file(dir_ / ("CUST" + std::string(ext)),
                               crashed / ("CUST" + std::string(ext)), ec);
  }
  {
    File g(CustDecl(crashed / "CUST"));
    ASSERT_EQ(g.Open(), 0) << ErrorCode();
    EXPECT_EQ(Codes(g, g.key(0)), expected);
    ASSERT_EQ(g.Close(), 0);
    EXPECT_TRUE(Consistent(crashed / "CUST"));
  }
  ASSERT_EQ(f->Flush(), 0);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  // A second batch whose key pages the disk refuses at FLUSH.
  ASSERT_EQ(f->Stream(), 0);
  AddN(*f, 50, 2001);
  failing.write_budget = 0;
  EXPECT_NE(f->Flush(), 0);
  failing.write_budget = -1;
  f->Close();
  ASSERT_EQ(f->Open(), 0) << ErrorCode();
  EXPECT_EQ(f->Records(), int64_t(expected.size()) + 50);
  EXPECT_EQ(f->Records(f->key(0)), int64_t(expected.size()) + 50);
  ASSERT_EQ(f->Close(), 0);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A CLOSE whose flush the disk refuses answers the error, yet the file is
// closed all the same: the next OPEN of the same handle works instead of
// answering "already open" for the rest of the program.
TEST_F(FlatRecordTest, AFailedCloseStillClosesTheFile) {
  nvtest::FailingEnv failing;
  nvtest::ScopedEnv scoped(&failing);
  auto f = Make();
  ASSERT_EQ(f->Stream(), 0);
  AddN(*f, 20);
  failing.failing_syncs = 100;
  EXPECT_NE(f->Close(), 0);
  failing.failing_syncs = 0;
  ASSERT_EQ(f->Open(), 0) << ErrorCode();
  EXPECT_EQ(f->Records(), f->Records(f->key(0)));
  ASSERT_EQ(f->Close(), 0);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A station streaming into a shared file writes the header after each
// APPEND (not flushed): another station adding meanwhile must not land on
// the records appended.
TEST_F(FlatRecordTest, StreamingIntoASharedFileShowsEveryAppendToOtherStations) {
  auto a = Make();
  File b(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(b.Open(kReadWrite | kDenyNone), 0);
  ASSERT_EQ(a->Stream(), 0);
  for (int i = 1; i <= 3; ++i) {
    Fill(*a, i, "A");
    ASSERT_EQ(a->Append(), 0);
  }
  EXPECT_EQ(b.Records(), 3);
  Fill(b, 4, "B");
  ASSERT_EQ(b.Add(), 0);
  Fill(*a, 5, "A");
  ASSERT_EQ(a->Append(), 0);
  ASSERT_EQ(a->Flush(), 0);
  ASSERT_EQ(a->Build(), 0);
  std::vector<int32_t> codes;
  ASSERT_EQ(a->Set(a->key(0)), 0);
  while (a->Next() == 0) codes.push_back(a->As<CustRecord>().CODE);
  EXPECT_EQ(codes, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  b.Close();
  a->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, HeaderTimeFollowsTheRuntimeClock) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto f = Make();
  AddN(*f, 1);
  EXPECT_EQ(U32At(Dat(), 75), 3600001u);
  EXPECT_EQ(U32At(Dat(), 79), 82000u);
  clock.clock += 500;
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  ASSERT_EQ(f->Put(), 0);
  EXPECT_EQ(U32At(Dat(), 75), 3600001u) << "PUT leaves the header alone";
  EXPECT_EQ(f->Send("MAINTAINHEADERTIME=ON"), "OFF");
  EXPECT_EQ(f->Send("MAINTAINHEADERTIME"), "ON");
  ASSERT_EQ(f->Put(), 0);
  EXPECT_EQ(U32At(Dat(), 75), 3600501u);
}

TEST_F(FlatRecordTest, IgnoreStatusReadsDeletedRecordsAndRevivesThemOnPut) {
  auto f = Make();
  AddN(*f, 3);
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(kReadWrite | kDenyWrite), 0);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  ASSERT_EQ(f->Delete(), 0);
  EXPECT_EQ(f->Get(int32_t(2)), 35);
  EXPECT_EQ(f->Send("DELETED"), "OFF");
  EXPECT_EQ(f->Send("IGNORESTATUS=ON"), "OFF");
  EXPECT_EQ(f->Send("DELETED"), "");
  EXPECT_EQ(ErrorCode(), 33) << "no current record yet";
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  EXPECT_EQ(f->Send("DELETED"), "ON");
  EXPECT_EQ(f->Send("HELD"), "OFF");
  ASSERT_EQ(f->Put(), 0);
  EXPECT_EQ(f->Send("IGNORESTATUS=OFF"), "ON");
  EXPECT_EQ(f->Records(), 3);
  EXPECT_EQ(Codes(*f, f->key(0)), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, IgnoreStatusIsRefusedOnASharedFile) {
  auto f = Make();
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Share(kReadWrite | kDenyNone), 0);
  EXPECT_EQ(f->Send("IGNORESTATUS=ON"), "");
  EXPECT_EQ(ErrorCode(), 63);
  EXPECT_EQ(f->Send("IGNORECORRUPTIONS=ON"), "OFF");
}

TEST_F(FlatRecordTest, WatchedRecordChangedByAnotherOpenGives89) {
  auto f = Make();
  AddN(*f, 2);
  File other(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(other.Open(), 0);
  ASSERT_EQ(f->Watch(), 0);
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  ASSERT_EQ(other.Get(int32_t(1)), 0);
  other.As<CustRecord>().AGE = 77;
  ASSERT_EQ(other.Put(), 0);
  f->As<CustRecord>().AGE = 11;
  EXPECT_EQ(f->Put(), 89);
  // Unwatched, the same PUT goes through.
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  f->As<CustRecord>().AGE = 11;
  EXPECT_EQ(f->Put(), 0);
  // Watched and unchanged: fine.
  ASSERT_EQ(f->Watch(), 0);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  EXPECT_EQ(f->Put(), 0);
}

TEST_F(FlatRecordTest, HeldRecordIsMarkedOnDiskAndRefusedToOthers) {
  auto f = Make();
  AddN(*f, 2);
  ASSERT_EQ(f->Hold(), 0);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  EXPECT_EQ(Status(2), 0x41);
  File other(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(other.Open(), 0);
  ASSERT_EQ(other.Get(int32_t(2)), 0) << "reading a held record is fine";
  EXPECT_EQ(other.Put(), 5);
  EXPECT_EQ(other.Delete(), 5);
  f->As<CustRecord>().AGE = 5;
  EXPECT_EQ(f->Put(), 0) << "the holder writes";
  ASSERT_EQ(f->Release(), 0);
  EXPECT_EQ(Status(2) & 0x40, 0);
  ASSERT_EQ(other.Get(int32_t(2)), 0);
  EXPECT_EQ(other.Put(), 0);
}

TEST_F(FlatRecordTest, ReadOnlyFileRefusesWritesWith5) {
  auto f = Make();
  AddN(*f, 1);
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(kReadOnly | kDenyNone), 0);
  std::vector<uint8_t> before = Dat();
  Fill(*f, 9, "NO");
  EXPECT_EQ(f->Add(), 5);
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(f->Put(), 5);
  EXPECT_EQ(f->Delete(), 5);
  EXPECT_EQ(f->Empty(), 5);
  ASSERT_EQ(f->Close(), 0);
  EXPECT_EQ(Dat(), before);
}

TEST_F(FlatRecordTest, KeyOrderOfNegativeNumbersAndCaseInsensitiveNames) {
  auto f = Make();
  const int32_t codes[] = {5, -70000, 0, -1, 70000};
  const char* names[] = {"smith", "SMITH", "Adams", "ZETA", "mora"};
  for (int i = 0; i < 5; ++i) {
    Fill(*f, codes[i], names[i], int16_t(i));
    ASSERT_EQ(f->Add(), 0);
  }
  EXPECT_EQ(Codes(*f, f->key(0)), (std::vector<int32_t>{-70000, -1, 0, 5, 70000}));
  // Name ascending (no case), then age descending.
  EXPECT_EQ(Codes(*f, f->key(1)), (std::vector<int32_t>{0, 70000, -70000, 5, -1}));
  Fill(*f, 0, "smith", 1);
  ASSERT_EQ(f->Get(f->key(1)), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, -70000);
}

TEST_F(FlatRecordTest, OptionalKeyLeavesBlankRecordsOut) {
  auto f = Make();
  Fill(*f, 1, "A", 1, "LEON");
  ASSERT_EQ(f->Add(), 0);
  Fill(*f, 2, "B", 1, "");
  ASSERT_EQ(f->Add(), 0);
  Fill(*f, 3, "C", 1, "AVILA");
  ASSERT_EQ(f->Add(), 0);
  EXPECT_EQ(f->Records(f->key(2)), f->Records() - 1);
  EXPECT_EQ(Codes(*f, f->key(2)), (std::vector<int32_t>{3, 1}));
  // A PUT that blanks the value takes the entry out; one that fills it in puts it back.
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  f->As<CustRecord>().CITY = "";
  ASSERT_EQ(f->Put(), 0);
  EXPECT_EQ(f->Records(f->key(2)), 1);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  f->As<CustRecord>().CITY = "BURGOS";
  ASSERT_EQ(f->Put(), 0);
  EXPECT_EQ(Codes(*f, f->key(2)), (std::vector<int32_t>{3, 2}));
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, BuildWithDuplicatesInAUniqueKeyReportsThemAndGives40) {
  auto f = Make();
  for (int code : {7, 8, 7, 7}) {
    Fill(*f, code, "X");
    ASSERT_EQ(f->Append(), 0);
  }
  EXPECT_EQ(f->Build(), 40);
  EXPECT_EQ(f->Records(f->key(0)), 4) << "the tree is complete";
  EXPECT_EQ(f->Records(f->key(1)), 4);
  std::string report;
  ASSERT_EQ(ReadWholeFile(dir_ / "CUST.BLD", &report), 0);
  EXPECT_EQ(report,
            "Duplicate record numbers for:\nCU:KEY_CODE\n"
            "Record number: 1\nRecord number: 3\n\nRecord number: 4\n\n");
}

TEST_F(FlatRecordTest, PositionsOrdinalsSkipAndEnds) {
  auto f = Make();
  AddN(*f, 10);
  KeyDecl* k = f->key(0);
  ASSERT_EQ(f->GetOrdinal(k, 4), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 4);
  EXPECT_EQ(f->Pointer(k), 4);
  EXPECT_EQ(f->GetOrdinal(k, 11), 35);
  ASSERT_EQ(f->SetOrdinal(k, 7), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 7);
  ASSERT_EQ(f->Skip(2), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 10);
  EXPECT_TRUE(f->Eof());
  EXPECT_FALSE(f->Bof());
  ASSERT_EQ(f->Skip(-3), 0);
  ASSERT_EQ(f->Previous(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 6);
  f->Set(k);
  EXPECT_TRUE(f->Bof() == false && f->Eof() == false);
  // Position texts: 4-byte record number, then the key value in key order.
  ASSERT_EQ(f->Get(int32_t(3)), 0);
  EXPECT_EQ(f->Position(), std::string("\x03\0\0\0", 4));
  EXPECT_EQ(f->Position(k), std::string("\x03\0\0\0\x80\0\0\x03", 8));
  ASSERT_EQ(f->Reget(k, std::string("\x05\0\0\0\x80\0\0\x05", 8)), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 5);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 6);
  // SET(key, key, pointer) and SET(file, key).
  Fill(*f, 8, "");
  ASSERT_EQ(f->Set(k, k, 1), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 8);
  Fill(*f, 9, "");
  ASSERT_EQ(f->SetFromKey(k), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->Pointer(), 9);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->Pointer(), 10);
  EXPECT_EQ(f->Bytes(), int64_t(U32At(Dat(), 21) + 10 * kRecSize));
}

TEST_F(FlatRecordTest, BuildIndexFromComponentTextAndDropItAtClose) {
  FileDecl d = CustDecl(dir_ / "CUST");
  d.keys.push_back({"CU:DYN", {}, kKeyIndex, ""});
  File f(d);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  const int ages[] = {40, 20, 30, 20};
  for (int i = 0; i < 4; ++i) {
    Fill(f, i + 1, "N", int16_t(ages[i]));
    ASSERT_EQ(f.Add(), 0);
  }
  KeyDecl* dyn = f.key(3);
  EXPECT_EQ(f.BuildIndex(dyn, ""), 76);
  EXPECT_EQ(f.BuildIndex(dyn, "cu:nada"), 76);
  ASSERT_EQ(f.BuildIndex(dyn, " +cu:age, -CU:code"), 0) << ErrorCode();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "CUST.I04"));
  std::vector<int32_t> order;
  f.Set(dyn);
  while (f.Next() == 0) order.push_back(f.As<CustRecord>().CODE);
  EXPECT_EQ(order, (std::vector<int32_t>{4, 2, 3, 1}));
  // An index is not kept by ADD.
  Fill(f, 5, "N", 1);
  ASSERT_EQ(f.Add(), 0);
  EXPECT_EQ(f.Records(dyn), 4);
  ASSERT_EQ(f.Close(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "CUST.I04"));
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, PackDropsDeletedRecordsKeepsMemosAndRebuildsKeys) {
  auto f = Make();
  for (int i = 1; i <= 6; ++i) {
    Fill(*f, i, "N" + std::to_string(i));
    f->SetMemoText(0, "memo " + std::to_string(i) + std::string(size_t(i * 60), '.'));
    ASSERT_EQ(f->Add(), 0);
  }
  for (int n : {1, 4, 5}) {
    ASSERT_EQ(f->Get(int32_t(n)), 0);
    ASSERT_EQ(f->Delete(), 0);
  }
  ASSERT_EQ(f->Pack(), 0) << ErrorCode();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "CUST.T00"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "CUST.M00"));
  EXPECT_EQ(U32At(Dat(), 5), 3u);
  EXPECT_EQ(U32At(Dat(), 9), 0u);
  EXPECT_EQ(Codes(*f, nullptr), (std::vector<int32_t>{2, 3, 6}));
  EXPECT_EQ(Codes(*f, f->key(0)), (std::vector<int32_t>{2, 3, 6}));
  ASSERT_EQ(f->Get(int32_t(3)), 0);
  EXPECT_EQ(Clip(f->MemoText(0)), "memo 6" + std::string(360, '.'));
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  ASSERT_EQ(f->Close(), 0);
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(FlatRecordTest, OemFilesStoreStringsAndMemosInTheOemCodePage) {
  auto f = Make(kFileCreate | kFileOem);
  Fill(*f, 1, "\xD1U\xD1O");  // "ÑUÑO" in the program's code page
  f->SetMemoText(0, "ni\xF1o");
  ASSERT_EQ(f->Add(), 0);
  std::vector<uint8_t> d = Dat();
  const uint32_t at = RecordsStart() + 5 + 4;
  EXPECT_EQ(d[at], AnsiToOem(uint8_t(0xD1)));
  EXPECT_EQ(d[at + 1], 'U');
  std::vector<uint8_t> mem = ReadBytes(dir_ / "CUST.MEM");
  EXPECT_EQ(mem[6 + 4 + 2], AnsiToOem(uint8_t(0xF1)));
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(Clip(f->As<CustRecord>().NAME.view()), "\xD1U\xD1O");
  EXPECT_EQ(Clip(f->MemoText(0)), "ni\xF1o");
  flat::InspectOptions o;
  o.oem = true;
  EXPECT_TRUE(Consistent(dir_ / "CUST", o));
}

TEST_F(FlatRecordTest, ScrambledRecordsAreXoredWithTheOwnerKey) {
  auto f = Make(kFileCreate | kFileScrambled, false, "SECRETO");
  Fill(*f, 0x01020304, "ABCD");
  ASSERT_EQ(f->Add(), 0);
  std::vector<uint8_t> d = Dat();
  uint32_t key = 0x5A3C;
  const std::string owner = "SECRETO";
  for (size_t i = 0; i + 1 < owner.size(); i += 2)
    key += uint8_t(owner[i]) | uint8_t(owner[i + 1]) << 8;
  ASSERT_GT(d.size(), kRecSize);
  const uint32_t at = uint32_t(d.size()) - kRecSize;  // the header itself is scrambled
  EXPECT_EQ(d[at], 0x01) << "the prefix stays plain";
  EXPECT_EQ(uint8_t(d[at + 5] ^ uint8_t(key)), 0x04);
  EXPECT_EQ(uint8_t(d[at + 6] ^ uint8_t(key >> 8)), 0x03);
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(), 0);
  ASSERT_EQ(f->Get(int32_t(1)), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 0x01020304);
  flat::InspectOptions o;
  o.owner = owner;
  o.scrambled = true;
  EXPECT_TRUE(Consistent(dir_ / "CUST", o));
}

TEST_F(FlatRecordTest, CopyRenameAndRemoveTakeEveryFileAlong) {
  auto f = Make();
  AddN(*f, 3);
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Copy(dir_ / "COPIA"), 0) << ErrorCode();
  for (const char* ext : {".DAT", ".MEM", ".K01", ".K02", ".K03"})
    EXPECT_TRUE(std::filesystem::exists(dir_ / (std::string("COPIA") + ext))) << ext;
  std::filesystem::create_directory(dir_ / "sub");
  ASSERT_EQ(f->Copy(dir_ / "sub"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "sub/CUST.K02"));
  ASSERT_EQ(f->Rename(dir_ / "OTRO"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "CUST.DAT"));
  File g(CustDecl(dir_ / "OTRO"));
  ASSERT_EQ(g.Open(), 0);
  EXPECT_EQ(g.Records(), 3);
  ASSERT_EQ(g.Close(), 0);
  ASSERT_EQ(g.Remove(), 0);
  for (const char* ext : {".DAT", ".MEM", ".K01"})
    EXPECT_FALSE(std::filesystem::exists(dir_ / (std::string("OTRO") + ext))) << ext;
  EXPECT_EQ(g.Remove(), 2);
}

TEST_F(FlatRecordTest, CreateNeedsPermissionAndANameAndFailsCleanly) {
  FileDecl d = CustDecl(dir_ / "CUST");
  d.attributes = 0;
  File f(d);
  EXPECT_EQ(f.Create(), 54);
  FileDecl e = CustDecl(dir_ / "missing/folder/CUST");
  File g(e);
  EXPECT_NE(g.Create(), 0);
  EXPECT_LE(ErrorCode(), 18);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  // A disk that fills up while creating: the error, and nothing left behind.
  nvtest::FailingEnv failing;
  failing.write_budget = 100;
  nvtest::ScopedEnv scoped(&failing);
  File h(CustDecl(dir_ / "FULL"));
  EXPECT_EQ(h.Create(), 5);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "FULL.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "FULL.K01"));
}

TEST_F(FlatRecordTest, FailedWriteLeavesTheHandleRefusingWrites) {
  nvtest::FailingEnv failing;
  nvtest::ScopedEnv scoped(&failing);
  auto f = Make();
  AddN(*f, 2);
  failing.write_budget = 10;
  Fill(*f, 3, "X");
  EXPECT_NE(f->Add(), 0);
  failing.write_budget = -1;
  Fill(*f, 4, "Y");
  EXPECT_NE(f->Add(), 0) << "the handle stays refused until reopened";
  ASSERT_EQ(f->Close(), 0);
  ASSERT_EQ(f->Open(), 0);
  EXPECT_EQ(f->Add(), 0);
}

// Reads narrowed to some fields (property kPropReadFields): a walk by the
// code key answers from the entry and leaves the other fields and the memo
// as they were; by the case-insensitive name key it reads the record (its
// entries do not give the name back) but still leaves the memo. POSITION of
// another key, PUT, and bad property values.
TEST_F(FlatRecordTest, NarrowedReadsAnswerFromTheKeyEntry) {
  auto f = Make();
  AddN(*f, 5);
  KeyDecl* by_code = f->key(0);
  KeyDecl* by_name = f->key(1);
  ASSERT_EQ(f->SetProperty(kPropReadFields, "1"), 0);
  EXPECT_EQ(f->GetProperty(kPropReadFields), "1");
  f->Clear();
  f->As<CustRecord>().CITY = "CENTINELA";
  f->SetMemoText(0, "sin leer");
  ASSERT_EQ(f->Set(by_code), 0);
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->As<CustRecord>().CODE, 2);
  EXPECT_EQ(Clip(f->As<CustRecord>().CITY.view()), "CENTINELA");
  EXPECT_EQ(Clip(f->MemoText(0)), "sin leer");
  const std::string name_pos = f->Position(by_name);  // read from the record
  EXPECT_EQ(f->Put(), 33);  // the buffer holds the code only
  ASSERT_EQ(f->Set(by_name), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Clip(f->As<CustRecord>().NAME.view()), "NOMBRE 1");
  EXPECT_EQ(Clip(f->MemoText(0)), "sin leer");

  // Whole reads again: the same record gives the same positions.
  ASSERT_EQ(f->SetProperty(kPropReadFields, ""), 0);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  EXPECT_EQ(f->Position(by_name), name_pos);
  EXPECT_EQ(Clip(f->As<CustRecord>().CITY.view()), "MADRID");
  EXPECT_EQ(f->Put(), 0);

  for (const char* bad : {"0", "8", "1,", "x", "2,,3"}) {
    ASSERT_EQ(f->SetProperty(kPropReadFields, "1"), 0);
    EXPECT_EQ(f->SetProperty(kPropReadFields, bad), 75) << bad;
    EXPECT_EQ(f->GetProperty(kPropReadFields), "") << bad;
  }
}

}  // namespace
}  // namespace flattest
