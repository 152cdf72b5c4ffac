// Properties, state snapshots, deferred builds and remote binding, as every
// driver's skeleton offers them (exercised through the in-memory driver).
#include <gtest/gtest.h>

#include "drivers/common/skeleton.h"
#include "host/runtime/driver_services.h"
#include "host/runtime/error_state.h"
#include "tests/drivers/common/cust_decl.h"

namespace {

using namespace nv;
using nvtest::CustDecl;
using nvtest::CustRecord;
using nvtest::Fcb;
using nvtest::FillCust;

class ServicesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { nvtest::RegisterMemTest(); }
  void SetUp() override { ClearError(); }

  // A created and opened file with customers 1..n (name "Cn", age n).
  void Fill(File& f, int n) {
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(), 0);
    for (int i = 1; i <= n; ++i) {
      std::string name = "C" + std::to_string(i);
      FillCust(f, i, name.c_str(), int16_t(i));
      ASSERT_EQ(f.Add(), 0);
    }
  }
  DrvFcbHead* Head(File& f) { return static_cast<DrvFcbHead*>(Fcb(f)); }
  int32_t Code(File& f) { return f.As<CustRecord>().CODE; }
};

TEST_F(ServicesTest, FileProperties) {
  File f(CustDecl("propfile", "/TRACE=ON"));
  EXPECT_EQ(f.GetProperty(29455), "2");  // keys
  EXPECT_EQ(f.GetProperty(29458), "4");  // fields
  EXPECT_EQ(f.GetProperty(29456), "0");
  EXPECT_EQ(f.GetProperty(29457), "2");
  EXPECT_EQ(f.GetProperty(29460), "/TRACE=ON");
  EXPECT_EQ(f.SetProperty(29460, "/OTRO"), 0);
  EXPECT_EQ(f.GetProperty(29460), "/OTRO");
  EXPECT_EQ(Head(f)->fixed_names & 4, 4u);
  EXPECT_EQ(f.SetProperty(29462, "nuevo"), 0);
  EXPECT_EQ(f.GetProperty(29462), "nuevo");
  EXPECT_EQ(f.GetProperty(29459), "");
  EXPECT_EQ(f.SetProperty(29459, "1"), 0);
  EXPECT_EQ(f.GetProperty(29459), "1");
  EXPECT_EQ(f.GetProperty(31942), "1");  // permission to create
  EXPECT_EQ(f.GetProperty(29453), "29453");
  // 29441 (logout membership) needs an open file.
  EXPECT_EQ(f.SetProperty(29441, "0"), 37);
  std::string buf = f.GetProperty(29515);
  EXPECT_NE(buf.find(":38:38"), std::string::npos) << buf;
}

TEST_F(ServicesTest, UnknownPropertiesAreLeftToTheRuntime) {
  File f(CustDecl("propunknown"));
  EXPECT_EQ(f.Call(kOpGetProperty, nullptr, {0}, {"12345"}), 0);  // not handled
  EXPECT_EQ(f.Call(kOpGetProperty, nullptr, {0}, {"29455"}), 1);  // handled
  EXPECT_EQ(f.Call(kOpSetProperty, nullptr, {0}, {"x", "12345"}), 0);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(f.GetProperty(29460), "");  // nothing changed
}

TEST_F(ServicesTest, FieldMemoAndKeyProperties) {
  File f(CustDecl("propfield"));
  EXPECT_EQ(f.GetProperty(29463, 2), "CUS:NAME");
  EXPECT_EQ(f.GetProperty(29462, 2), "");  // its name is its label
  EXPECT_EQ(f.SetProperty(29462, "NOMBRE", 2), 0);
  EXPECT_EQ(f.GetProperty(29462, 2), "NOMBRE");
  EXPECT_EQ(f.GetProperty(31745, 1), "LONG");
  EXPECT_EQ(f.GetProperty(31929, 2), "20");
  EXPECT_EQ(f.GetProperty(29475, 4), "3");  // TAGS[3]
  EXPECT_EQ(f.GetProperty(29475, 1), "0");
  EXPECT_EQ(f.GetProperty(29458, 1), "1");
  EXPECT_EQ(f.GetProperty(29476, 1), "0");
  EXPECT_EQ(f.GetProperty(31851, 2), std::to_string(reinterpret_cast<intptr_t>(f.key(1))));
  EXPECT_EQ(f.GetProperty(29463, -1), "CUS:NOTES");
  EXPECT_EQ(f.GetProperty(31929, -1), "300");
  EXPECT_EQ(f.SetProperty(31935, "texto del memo", -1), 0);
  EXPECT_EQ(f.GetProperty(31744, -1), "texto del memo");
  EXPECT_EQ(f.MemoText(0).substr(0, 14), "texto del memo");

  KeyDecl* k = f.key(1);
  EXPECT_EQ(f.GetKeyProperty(k, 29462), "BYNAME");
  EXPECT_EQ(f.GetKeyProperty(k, 29463), "CUS:KEY_NAME");
  EXPECT_EQ(f.GetKeyProperty(k, 29466), "2");
  EXPECT_EQ(f.GetKeyProperty(k, 29467), "1");  // duplicates allowed
  EXPECT_EQ(f.GetKeyProperty(k, 29469), "1");  // case-insensitive
  EXPECT_EQ(f.GetKeyProperty(k, 29471, 2), "3");
  EXPECT_EQ(f.GetKeyProperty(k, 29472, 1), "1");
  EXPECT_EQ(f.GetKeyProperty(k, 29472, 2), "");  // AGE descending
  EXPECT_EQ(f.GetKeyProperty(k, 31745), "KEY");
  EXPECT_EQ(f.GetKeyProperty(f.key(0), 29467), "");
}

TEST_F(ServicesTest, RestoreAfterTheRecordWasDeletedGoesOnAfterIt) {
  File f(CustDecl("snapdel"));
  Fill(f, 5);
  f.Set(f.key(0));
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(Code(f), 2);
  intptr_t h = f.SaveState();
  ASSERT_NE(h, 0);
  ASSERT_EQ(f.Delete(), 0);  // the record just read
  f.Set(f.key(1));           // wander off
  f.Next();
  f.RestoreState(h);         // the record kept is gone (35), the place is kept
  EXPECT_EQ(f.Next(), 0);
  EXPECT_EQ(Code(f), 3);
  EXPECT_EQ(f.Next(), 0);
  EXPECT_EQ(Code(f), 4);
  f.FreeState(h);
}

TEST_F(ServicesTest, RestoreContinuesAfterTheSavedRecord) {
  File f(CustDecl("snapnext"));
  Fill(f, 5);
  f.Set(f.key(0));
  f.Next();
  f.Next();
  f.Next();
  intptr_t h = f.SaveState();
  f.Set(f.key(0));
  f.Next();
  EXPECT_EQ(Code(f), 1);
  EXPECT_EQ(f.RestoreState(h), 0);
  EXPECT_EQ(Code(f), 3);  // read again
  EXPECT_EQ(f.Next(), 0);
  EXPECT_EQ(Code(f), 4);
  EXPECT_EQ(f.FreeState(h), 0);
}

TEST_F(ServicesTest, RestoreOfAClosedSnapshotOnlyCloses) {
  File f(CustDecl("snapclosed"));
  ASSERT_EQ(f.Create(), 0);
  intptr_t h = f.SaveState();
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.RestoreState(h), 0);
  EXPECT_EQ(f.Next(), kErrFileNotOpen);
  f.FreeState(h);
  EXPECT_EQ(f.RestoreState(0), 78);
  File g(CustDecl("snapclosed"));
  intptr_t other = g.SaveState();
  EXPECT_EQ(f.RestoreState(other), 47);
  g.FreeState(other);
  EXPECT_EQ(f.FreeState(0), 0);
}

TEST_F(ServicesTest, DeferredBuildRunsWhenTheWindowAsksAndReportsProgress) {
  File f(CustDecl("deferred"));
  Fill(f, 1000);
  std::vector<std::pair<uint32_t, intptr_t>> messages;
  std::vector<std::vector<intptr_t>> events;
  SetMessageHandler([&](uint32_t m, intptr_t, intptr_t l) { messages.push_back({m, l}); });
  SetEventHandler([&](int32_t e, intptr_t a, intptr_t b, intptr_t c) {
    events.push_back({e, a, b, c});
    return 0;
  });
  // Asking twice toggles the request off again.
  f.SetProperty(29446, "50");
  f.SetProperty(29446, "50");
  EXPECT_EQ(Head(f)->state & kStateDeferNext, 0u);
  f.SetProperty(29446, "50");
  EXPECT_EQ(f.Build(f.key(0)), 0);
  EXPECT_EQ(f.Send("BUILDS"), "0");  // not yet
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, kMsgDeferredBuild);
  EXPECT_EQ(messages[0].second, reinterpret_cast<intptr_t>(f.descriptor()));
  EXPECT_EQ(f.Call(kOpRunDeferred), 0);
  EXPECT_EQ(f.Send("BUILDS"), "1");
  // 1000 records, n = 50: progress every 100 records.
  size_t progress = 0;
  for (auto& e : events) progress += e[0] == kEventBuildProgress ? 1 : 0;
  EXPECT_EQ(progress, 10u);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), (std::vector<intptr_t>{kEventBuildDone, 1, 512, 0}));
  EXPECT_EQ(f.GetProperty(29446), "");

  // A cancel answered to a progress event ends the build with 93.
  SetEventHandler([](int32_t e, intptr_t, intptr_t, intptr_t) { return e == kEventBuildProgress; });
  f.SetProperty(29446, "100");
  f.Build(f.key(0));
  EXPECT_EQ(f.Call(kOpRunDeferred), 0);
  EXPECT_EQ(ErrorCode(), 93);
  SetEventHandler(nullptr);
  SetMessageHandler(nullptr);
}

TEST_F(ServicesTest, RemoteBindingForwardsAndRefuses) {
  File target(CustDecl("remoto"));
  Fill(target, 3);
  target.Close();
  RegisterRemoteTarget("servidor/remoto", &target);

  File f(CustDecl("local"));
  EXPECT_EQ(f.SetProperty(29510, "nadie"), kErrFileNotFound);
  EXPECT_EQ(f.GetProperty(29510), "");
  EXPECT_EQ(f.SetProperty(29510, "servidor/remoto"), 0);
  EXPECT_EQ(f.GetProperty(29510), "servidor/remoto");
  EXPECT_EQ(f.SetProperty(29510, "otro"), 96);
  EXPECT_EQ(f.Open(), 0);  // forwarded
  f.Set(f.key(0));
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(Code(f), 1);   // the remote record arrives in this buffer
  EXPECT_EQ(f.Add(), kErrNotImplemented);
  EXPECT_EQ(f.Records(), 0);
  EXPECT_EQ(ErrorCode(), kErrNotImplemented);

  File other(CustDecl("otro"));
  ASSERT_EQ(other.Create(), 0);
  EXPECT_EQ(other.Open(), 90);  // bindings exist in the process

  EXPECT_EQ(f.Close(), 0);
  EXPECT_EQ(f.SetProperty(29510, ""), 0);
  EXPECT_EQ(other.Open(), 0);
  UnregisterRemoteTarget("servidor/remoto");
}

}  // namespace
