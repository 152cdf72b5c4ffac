// The loader and the dispatch skeleton, end to end through the in-memory test
// driver (a real shared library found by its registered name).
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/string_stack.h"
#include "tests/drivers/common/cust_decl.h"
#include "tests/support/fake_env.h"

namespace {

using namespace nv;
using nvtest::CustDecl;
using nvtest::CustRecord;
using nvtest::Fcb;

class SkeletonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nvtest::RegisterMemTest(); }
  void SetUp() override { ClearError(); }

  void Fill(File& f, int32_t code, const char* name, int16_t age) {
    nvtest::FillCust(f, code, name, age);
  }
};

TEST_F(SkeletonTest, RegistrationRecordReadThroughDlsymIsWhatTheRuntimeLoaded) {
  std::string error;
  Driver* d = FindDriver("memtest", &error);  // registered names ignore case
  ASSERT_NE(d, nullptr) << error;
  void* h = dlopen(d->path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(h, nullptr);
  auto* reg = static_cast<const DrvReg*>(dlsym(h, "MEM$DrvReg"));
  ASSERT_EQ(reg, d->reg);
  EXPECT_STREQ(reg->name, "MemTest");
  EXPECT_STREQ(reg->description, "Tabla en memoria");
  EXPECT_EQ(reinterpret_cast<void*>(reg->entry), dlsym(h, "MEMTEST"));
  EXPECT_EQ(int(reg->operations[0]), 37);
  EXPECT_GT(uint32_t(reg->fcb_size), sizeof(DrvFcbHead));
  dlclose(h);
}

TEST_F(SkeletonTest, MissingDriverNamesItselfAndTheFoldersSearched) {
  RegisterDriver("Ausente", "libnvausente.so", "AUS$DrvReg");
  FileDecl d = CustDecl("ausente");
  d.driver = "Ausente";
  File f(d);
  EXPECT_NE(f.Open(), 0);
  EXPECT_EQ(ErrorCode(), kErrNoDriver);
  EXPECT_NE(FileError().find("\"Ausente\""), std::string::npos) << FileError();
  EXPECT_NE(FileError().find("libnvausente.so"), std::string::npos);
  for (const std::string& folder : DriverSearchFolders()) {
    EXPECT_NE(FileError().find(folder), std::string::npos) << folder;
  }
}

TEST_F(SkeletonTest, ViewRequestCreatesNothing) {
  File f(CustDecl("view"));
  EXPECT_EQ(f.Call(kOpViewEntry), 0);
  EXPECT_EQ(Fcb(f), nullptr);
  EXPECT_FALSE(f.driver_active());
}

TEST_F(SkeletonTest, FirstOperationCreatesTheBlockAndRegisterOnAClosedFileFreesIt) {
  File f(CustDecl("first"));
  EXPECT_EQ(f.Name(), "first");
  auto* fcb = static_cast<DrvFcbHead*>(Fcb(f));
  ASSERT_NE(fcb, nullptr);
  EXPECT_TRUE(f.driver_active());
  EXPECT_EQ(fcb->fd, f.descriptor());
  EXPECT_EQ(fcb->keys.size(), 2u);
  EXPECT_EQ(fcb->fields.size(), 4u);
  ASSERT_NE(f.memo(0)->buffer, nullptr);  // the driver made the memo buffer, blank
  EXPECT_EQ(f.MemoText(0), std::string(300, ' '));

  std::string text;
  intptr_t r = f.Call(kOpSend, nullptr, {}, {"REGISTER"}, &text);
  EXPECT_EQ(r, reinterpret_cast<intptr_t>(f.driver()->reg));
  EXPECT_EQ(text, std::to_string(r));
  EXPECT_EQ(Fcb(f), nullptr);
  EXPECT_EQ(f.memo(0)->buffer, nullptr);
  EXPECT_EQ(f.key(0)->drv_kcb, nullptr);
  EXPECT_FALSE(f.driver_active());

  // SEND as the first operation also creates the block (and REGISTER frees it).
  f.Send("REGISTER");
  EXPECT_EQ(Fcb(f), nullptr);
  EXPECT_EQ(StringStackDepth(), 0u);
}

TEST_F(SkeletonTest, NameFollowsTheThreeLengthConventions) {
  File f(CustDecl("ignored"));
  char fixed[12];
  std::memcpy(fixed, "FIJO.DAT    ", 12);
  f.descriptor()->name = {fixed, 12};
  EXPECT_EQ(f.Name(), "FIJO.DAT");
  char counted[] = "\x07" "CONTADO" "basura";
  f.descriptor()->name = {counted, kLenPString};
  EXPECT_EQ(f.Name(), "CONTADO");
  const char* zero = "CERO";
  f.descriptor()->name = {zero, kLenCString};
  EXPECT_EQ(f.Name(), "CERO");
  EXPECT_EQ(f.Create(), 0);
  EXPECT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Name(), "CERO");
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, BofAndEofAnswerOneWhenTheTestFails) {
  File f(CustDecl("bofeof"));
  EXPECT_TRUE(f.Bof());  // the file is not open: error 37, answer 1
  EXPECT_EQ(ErrorCode(), kErrFileNotOpen);
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(ErrorCode(), kErrFileNotOpen);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  Fill(f, 1, "Uno", 10);
  ASSERT_EQ(f.Add(), 0);
  f.Set();
  EXPECT_FALSE(f.Eof());
  EXPECT_EQ(ErrorCode(), 0);
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, UnknownCodesAnswer80AndStillPopTheirTexts) {
  File f(CustDecl("unknown"));
  PushString("centinela");
  f.Call(34, nullptr, {}, {"uno", "dos"});  // pops two texts, implemented by no driver
  EXPECT_EQ(ErrorCode(), kErrNotImplemented);
  EXPECT_EQ(StringStackDepth(), 1u);
  f.Call(90, nullptr, {}, {"uno"});
  EXPECT_EQ(ErrorCode(), kErrNotImplemented);
  f.Call(200);
  EXPECT_EQ(ErrorCode(), kErrNotImplemented);
  f.Call(kOpCommit);  // a known code outside this driver's list
  EXPECT_EQ(ErrorCode(), kErrNotImplemented);
  EXPECT_EQ(PopTemp(), "centinela");
  EXPECT_EQ(StringStackDepth(), 0u);
}

TEST_F(SkeletonTest, CommonRefusalsComeFromTheSkeleton) {
  FileDecl d = CustDecl("");
  File f(d);
  EXPECT_EQ(f.Open(), 45);   // no file name
  EXPECT_EQ(f.Share(), 45);
  d.name = "sincrear";
  d.attributes = 0;          // no permission to create
  File g(d);
  EXPECT_EQ(g.Create(), 54);
  d.attributes = kFileCreate;
  File h(d);
  ASSERT_EQ(h.Create(), 0);
  ASSERT_EQ(h.Open(), 0);
  EXPECT_EQ(h.BuildIndex(h.key(1), "   "), 76);
  EXPECT_EQ(h.BuildIndex(h.key(1), "CUS:NAME"), 0);
  h.Close();
  h.Remove();
}

TEST_F(SkeletonTest, OperationsOfAClosedFileAreRefused) {
  File f(CustDecl("closed"));
  EXPECT_EQ(f.Next(), kErrFileNotOpen);
  EXPECT_EQ(f.Add(), kErrFileNotOpen);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Open(), kErrFileAlreadyOpen);
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, LockRetriesWhileTheFileIsLockedElsewhere) {
  nvtest::FakeClockEnv env;
  nvtest::ScopedEnv scoped(&env);
  File f(CustDecl("lock1"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  f.Send("FAILLOCKS=3");
  EXPECT_EQ(f.Lock(), 0);
  EXPECT_EQ(env.delays, 3);  // 32 three times, a wait of 1000 after each

  // Another error ends LOCK(file) at once.
  env.delays = 0;
  f.Send("FAILLOCKS=1");
  f.Send("LOCKERROR=5");
  EXPECT_EQ(f.Lock(), 5);
  EXPECT_EQ(env.delays, 0);
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, LockWithSecondsRetriesAnyErrorUntilTheClockRunsOut) {
  nvtest::FakeClockEnv env;
  nvtest::ScopedEnv scoped(&env);
  File f(CustDecl("lock2", "/FAILLOCKS=1000/LOCKERROR=5"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  const int32_t start = env.clock;
  EXPECT_EQ(f.Lock(3), 5);
  EXPECT_EQ(env.clock - start, 300);  // three waits of 1000 take 300 hundredths
  EXPECT_EQ(env.delays, 3);

  env.delays = 0;
  f.Send("FAILLOCKS=2");
  EXPECT_EQ(f.Lock(3), 0);
  EXPECT_EQ(env.delays, 2);

  // Across midnight the clock wraps and the wait still ends.
  env.delays = 0;
  env.clock = 8640000 - 50;
  f.Send("FAILLOCKS=1000");
  EXPECT_EQ(f.Lock(2), 5);
  EXPECT_EQ(env.delays, 2);
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, DriverStringOptionsAreReadWhenTheBlockIsCreated) {
  File f(CustDecl("options", " / TRACE=ON / NOTA=a//b / FAILLOCKS = 0 "));
  EXPECT_EQ(f.Send("TRACE"), "ON");
  EXPECT_EQ(f.Send("trace=off"), "ON");
  EXPECT_EQ(f.Send("TRACE"), "OFF");
}

TEST_F(SkeletonTest, TracingFollowsTheDriverSectionOfTheSystemProfile) {
  char dir[] = "/tmp/nvtraceXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string profile = std::string(dir) + "/fonvex.ini";
  std::string trace = std::string(dir) + "/traza.log";
  {
    std::ofstream p(profile);
    p << "[NWMemTest]\nProfile=1\nTraceFile=" << trace << "\nDetails=1\n";
  }
  const char* old = getenv("NVRUN_PROFILE");
  std::string saved = old ? old : "";
  setenv("NVRUN_PROFILE", profile.c_str(), 1);
  {
    File f(CustDecl("traced"));
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(), 0);
    Fill(f, 7, "Siete", 70);
    f.Add();
    f.Close();
    f.Remove();
  }
  if (old) setenv("NVRUN_PROFILE", saved.c_str(), 1);
  else unsetenv("NVRUN_PROFILE");
  std::ifstream in(trace);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string log = ss.str();
  EXPECT_NE(log.find("MemTest traced CREATE error=0"), std::string::npos) << log;
  EXPECT_NE(log.find("ADD error=0"), std::string::npos) << log;
  EXPECT_NE(log.find("Siete"), std::string::npos) << log;  // details carry the record
  unlink(trace.c_str());
  unlink(profile.c_str());
  rmdir(dir);
}

TEST_F(SkeletonTest, SkeletonCodesAnswerWithoutTheDriver) {
  File f(CustDecl("codes"));
  EXPECT_EQ(f.Call(kOpEntryPoint), reinterpret_cast<intptr_t>(f.driver()->entry));
  EXPECT_EQ(f.Call(kOpAccepted92), 0);
  EXPECT_EQ(f.Call(kOpAccepted93), 0);
  EXPECT_EQ(ErrorCode(), 0);
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  for (int i = 1; i <= 3; ++i) {
    Fill(f, i, "X", int16_t(i));
    ASSERT_EQ(f.Add(), 0);
  }
  EXPECT_EQ(f.Call(kOpRecordsGreater, nullptr, {2}), 1);
  EXPECT_EQ(f.Call(kOpRecordsGreater, nullptr, {3}), 0);

  EXPECT_EQ(f.CurrentKey(), 0);
  f.Set(f.key(1));
  EXPECT_EQ(f.CurrentKey(), 2);

  // CLEAR: strings blank, numbers zero, memos blank; 1 fills high values.
  f.SetMemoText(0, "nota");
  f.Clear(0);
  auto& r = f.As<CustRecord>();
  EXPECT_EQ(int32_t(r.CODE), 0);
  EXPECT_EQ(std::string(r.NAME.view()), std::string(20, ' '));
  EXPECT_EQ(std::string(r.TAGS[2].view()), "    ");
  EXPECT_EQ(f.MemoText(0), std::string(300, ' '));
  f.Clear(1);
  EXPECT_EQ(int32_t(r.CODE), INT32_MAX);
  EXPECT_EQ(int16_t(r.AGE), INT16_MAX);
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, FinalCloseClosesAndFreesTheBlock) {
  File f(CustDecl("final"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  f.Call(kOpFinalClose);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(Fcb(f), nullptr);
  EXPECT_FALSE(f.driver_active());
  EXPECT_EQ(f.Next(), kErrFileNotOpen);  // a new block, closed
  f.Remove();
}

TEST_F(SkeletonTest, FailedCreationLeavesNothingAndIsTriedAgain) {
  FileDecl d = CustDecl("badkey");
  d.keys.push_back({"CUS:KEY_TAGS", {"CUS:TAGS"}, 0, ""});  // an array cannot be a key
  File f(d);
  EXPECT_EQ(f.Open(), 75);
  EXPECT_EQ(Fcb(f), nullptr);
  EXPECT_EQ(f.memo(0)->buffer, nullptr);
  EXPECT_EQ(f.key(0)->drv_kcb, nullptr);
  EXPECT_EQ(f.Open(), 75);
  EXPECT_FALSE(f.Bof() == false);

  FileDecl big = CustDecl("bigmemo");
  big.memos[0].size = 65536;
  File g(big);
  EXPECT_EQ(g.Open(), 47);
}

TEST_F(SkeletonTest, BookkeepingKeepsTheLastOperationAndPosition) {
  File f(CustDecl("books"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  Fill(f, 5, "Cinco", 5);
  f.Add();
  Fill(f, 2, "Dos", 2);
  f.Add();
  f.Set(f.key(0));
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(int32_t(f.As<CustRecord>().CODE), 2);
  auto* fcb = static_cast<DrvFcbHead*>(Fcb(f));
  EXPECT_EQ(fcb->last_op, uint32_t(kOpNext));
  EXPECT_EQ(fcb->last_position, f.Position(f.key(0)));
  EXPECT_EQ(fcb->last_op2, uint32_t(kOpPositionKey));
  f.Next();
  f.Next();  // past the end
  EXPECT_EQ(ErrorCode(), 33);
  EXPECT_EQ(fcb->last_error, 33u);
  EXPECT_EQ(ErrorFile(), f.descriptor());
  f.Close();
  f.Remove();
}

TEST_F(SkeletonTest, PropertyTextsAndWordsArriveInTheirOrder) {
  File f(CustDecl("props"));
  EXPECT_EQ(f.SetProperty(90001, "valor uno", 3), 0);
  EXPECT_EQ(f.GetProperty(90001, 3), "valor uno");
  EXPECT_EQ(f.GetProperty(90001, 0), "");
  EXPECT_EQ(f.SetKeyProperty(f.key(1), 90002, "EXTERNO", 2), 0);
  EXPECT_EQ(f.GetKeyProperty(f.key(1), 90002, 2), "EXTERNO");
  EXPECT_EQ(f.GetKeyProperty(f.key(0), 90002, 2), "");
  EXPECT_EQ(StringStackDepth(), 0u);
}

TEST_F(SkeletonTest, KeysOrderAndFindRecords) {
  File f(CustDecl("keys"));
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  Fill(f, 1, "beta", 30);
  f.Add();
  Fill(f, 2, "ALFA", 20);
  f.Add();
  Fill(f, 3, "Beta", 40);
  f.Add();
  Fill(f, 1, "dup", 1);
  EXPECT_EQ(f.Add(), 40);
  EXPECT_TRUE(f.Duplicate());
  f.Set(f.key(1));
  std::vector<int32_t> codes;
  while (f.Next() == 0) codes.push_back(f.As<CustRecord>().CODE);
  EXPECT_EQ(codes, (std::vector<int32_t>{2, 3, 1}));  // name without case, then age descending
  f.As<CustRecord>().CODE = 3;
  EXPECT_EQ(f.Get(f.key(0)), 0);
  EXPECT_EQ(f.As<CustRecord>().NAME.clipped(), "Beta");
  EXPECT_EQ(f.Records(), 3);
  f.Close();
  f.Remove();
}

}  // namespace
