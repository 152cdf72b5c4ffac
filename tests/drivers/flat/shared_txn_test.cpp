// Sharing and transactions of the flat driver within one process: LOGOUT,
// COMMIT and ROLLBACK against snapshots of every file, failed writes, bad
// journals found at OPEN, the file LOCK with and without RECOVER on a fake
// clock, held records between two opens (which behave as two stations), the
// recount after a broken lock and the options that depend on sharing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>

#include "drivers/flat/flat_journal.h"
#include "tests/drivers/flat/flat_test_decl.h"
#include "tests/support/fake_env.h"

namespace flattest {
namespace {

constexpr uint32_t kExclusive = kReadWrite | kDenyAll;

class SharedTxnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearError();
    const char* p = std::getenv("NVRUN_PROFILE");
    saved_profile_ = p ? p : "";
    profile_ = dir_ / "station.ini";
    Profile("NRVTMP=" + dir_.path() + "\n");
  }
  void TearDown() override { ::setenv("NVRUN_PROFILE", saved_profile_.c_str(), 1); }
  void Profile(const std::string& nwn21) {
    WriteBytes(profile_, Bytes("[NWN21]\n" + nwn21));
    ::setenv("NVRUN_PROFILE", profile_.c_str(), 1);
  }
  static std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

  std::unique_ptr<File> Make(uint32_t mode = kReadWrite | kDenyNone, bool create = true) {
    FileDecl d = CustDecl(dir_ / "CUST");
    d.attributes = kFileCreate;
    auto f = std::make_unique<File>(d);
    if (create) {
      EXPECT_EQ(f->Create(), 0) << ErrorCode();
    }
    EXPECT_EQ(f->Open(mode), 0) << ErrorCode();
    return f;
  }
  void AddN(File& f, int n, int first) {
    for (int i = 0; i < n; ++i) {
      Fill(f, first + i, "NOMBRE " + std::to_string(first + i));
      f.SetMemoText(0, "NOTA " + std::to_string(first + i));
      ASSERT_EQ(f.Add(), 0) << ErrorCode();
    }
  }
  // Every file of CUST, by name.
  std::map<std::string, std::vector<uint8_t>> Snapshot() {
    std::map<std::string, std::vector<uint8_t>> m;
    for (const char* n : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
      m[n] = ReadBytes(dir_ / n);
    return m;
  }
  std::string TxnFile() { return flat::TransactionPath(); }
  // Every file of CUST as `before` had it.
  void ExpectUnchanged(const std::map<std::string, std::vector<uint8_t>>& before) {
    auto after = Snapshot();
    for (auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name;
  }
  // A file of `records` records opened shared, its bytes kept in *before,
  // in a transaction that journals it.
  std::unique_ptr<File> InTransaction(int records,
                                      std::map<std::string, std::vector<uint8_t>>* before) {
    {
      auto f = Make();
      AddN(*f, records, 1);
    }
    auto f = Make(kReadWrite | kDenyNone, false);
    *before = Snapshot();
    EXPECT_EQ(f->SetProperty(29441, "1"), 0);
    EXPECT_EQ(f->Logout(), 0);
    return f;
  }

  TempDir dir_;
  std::string profile_, saved_profile_;
};

TEST_F(SharedTxnTest, TransactionFileGoesToTheProfileFolder) {
  std::string p = TxnFile();
  EXPECT_EQ(p.substr(0, dir_.path().size() + 1), dir_.path() + "/");
  EXPECT_EQ(p.substr(p.size() - 4), ".TR$");
  EXPECT_EQ(flat::JournalPath("/x/CUST.DAT"), "/x/CUST.LOG");
}

TEST_F(SharedTxnTest, RollbackAfterThreeAddsAndAPutRestoresEveryByte) {
  {
    auto f = Make();
    AddN(*f, 4, 1);
  }
  auto f = Make(kReadWrite | kDenyNone, false);
  auto before = Snapshot();
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  EXPECT_TRUE(nv::GetEnv()->Exists(TxnFile()));
  AddN(*f, 3, 10);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  Fill(*f, 2, "CAMBIADO", 77, "BILBAO");
  f->SetMemoText(0, std::string(400, 'x'));
  ASSERT_EQ(f->Put(), 0);
  EXPECT_TRUE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  EXPECT_GT(ReadBytes(dir_ / "CUST.DAT").size(), before["CUST.DAT"].size());
  ASSERT_EQ(f->Rollback(), 0);
  EXPECT_FALSE(nv::GetEnv()->Exists(TxnFile()));
  EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  ExpectUnchanged(before);
  // The open file reads its header again: the rolled-back records are gone.
  EXPECT_EQ(f->Records(), 4);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  EXPECT_EQ(f->As<CustRecord>().NAME, std::string("NOMBRE 2"));
  EXPECT_EQ(f->Get(int32_t(5)), 35);
  // And the file goes on working.
  AddN(*f, 1, 20);
  EXPECT_EQ(f->Records(), 5);
  f->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// EMPTY, PACK and BUILD cut and rewrite whole files: inside a transaction
// their bytes are journalled like any write, and ROLLBACK puts back every
// byte of the data, memo and key files.
TEST_F(SharedTxnTest, RollbackUndoesEmptyPackAndBuild) {
  for (int verb = 0; verb < 3; ++verb) {
    SCOPED_TRACE(verb == 0 ? "EMPTY" : verb == 1 ? "PACK" : "BUILD");
    for (const char* n : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
      nv::GetEnv()->Remove(dir_ / n);
    {
      auto f = Make();
      AddN(*f, 40, 1);
      for (int code : {3, 17, 29}) {
        ASSERT_EQ(f->Get(int32_t(code)), 0);
        ASSERT_EQ(f->Delete(), 0);
      }
    }
    auto f = Make(kReadWrite | kDenyNone, false);
    auto before = Snapshot();
    ASSERT_EQ(f->SetProperty(29441, "1"), 0);
    ASSERT_EQ(f->Logout(), 0);
    ASSERT_EQ(verb == 0 ? f->Empty() : verb == 1 ? f->Pack() : f->Build(), 0);
    EXPECT_EQ(f->Records(), verb == 0 ? 0 : 37);
    if (verb == 1) {
      EXPECT_LT(ReadBytes(dir_ / "CUST.DAT").size(), before["CUST.DAT"].size());
    }
    ASSERT_EQ(f->Rollback(), 0);
    ExpectUnchanged(before);
    EXPECT_EQ(f->Records(), 37);
    EXPECT_EQ(f->Records(f->key(1)), 37);
    f->Close();
    EXPECT_TRUE(Consistent(dir_ / "CUST"));
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.T00"));
  }
}

TEST_F(SharedTxnTest, JournalAndTransactionFileLayouts) {
  auto f = Make();
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 1, 1);
  std::vector<uint8_t> tr = ReadBytes(TxnFile());
  ASSERT_EQ(tr.size() % flat::kTxnEntrySize, 0u);
  ASSERT_GE(tr.size(), 2 * flat::kTxnEntrySize);  // data file and at least its memo or a key
  EXPECT_EQ(tr[0] | tr[1] << 8, 1);
  EXPECT_EQ(tr[2] | tr[3] << 8, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(tr.data() + 4)), dir_ / "CUST.DAT");
  EXPECT_EQ(tr[83] | tr[84] << 8, 2);
  EXPECT_EQ(tr[85] | tr[86] << 8, 1);  // shares the data file's journal
  std::vector<uint8_t> j = ReadBytes(dir_ / "CUST.LOG");
  ASSERT_GE(j.size(), flat::kJournalStart + flat::kTrailerSize);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(j.data())), TxnFile());
  for (size_t i = flat::kJournalNameSize; i < flat::kJournalStart; ++i) EXPECT_EQ(j[i], 0);
  // The record went beyond the end: its trailer has length 0; the last
  // trailer belongs to a write that overwrote bytes.
  const uint8_t* t = j.data() + j.size() - flat::kTrailerSize;
  EXPECT_NE(t[4] | t[5] << 8, 0);
  ASSERT_EQ(f->Commit(), 0);
  EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  EXPECT_FALSE(nv::GetEnv()->Exists(TxnFile()));
  EXPECT_EQ(f->Records(), 1);
}

TEST_F(SharedTxnTest, CommitKeepsTheChangesAndFilesOutsideTheLogoutAreNotJournalled) {
  auto f = Make();
  AddN(*f, 2, 1);
  ASSERT_EQ(f->SetProperty(29441, "-1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 2, 3);  // not in the logout
  EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  ASSERT_EQ(f->Rollback(), 0);
  EXPECT_EQ(f->Records(), 4);
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 2, 5);
  ASSERT_EQ(f->Commit(), 0);
  EXPECT_EQ(f->Records(), 6);
  f->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// After a PACK outside a transaction the open goes on with the packed
// files under their own names: a transaction then journals CUST.DAT and
// CUST.MEM, not the work files they were made as, and a rollback works.
TEST_F(SharedTxnTest, ATransactionAfterAPackJournalsTheFilesByTheirNames) {
  auto f = Make();
  AddN(*f, 4, 1);
  ASSERT_EQ(f->Get(int32_t(2)), 0);
  ASSERT_EQ(f->Delete(), 0);
  ASSERT_EQ(f->Pack(), 0);
  const auto before = Snapshot();
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 2, 10);
  ASSERT_EQ(f->Flush(), 0);
  const std::vector<uint8_t> tr = ReadBytes(TxnFile());
  for (size_t at = 0; at + flat::kTxnEntrySize <= tr.size(); at += flat::kTxnEntrySize) {
    const std::string name(reinterpret_cast<const char*>(tr.data() + at + 4));
    EXPECT_EQ(name.substr(0, dir_.path().size() + 6), dir_ / "CUST.") << name;
    EXPECT_TRUE(name.back() != '0') << name;
  }
  ASSERT_EQ(f->Rollback(), 0);
  EXPECT_EQ(f->Records(), 3);
  f->Close();
  ExpectUnchanged(before);
}

TEST_F(SharedTxnTest, RollbackOfADamagedJournalAnswers65AndCanBeRetried) {
  auto f = Make();
  AddN(*f, 2, 1);
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  EXPECT_EQ(f->Commit(), 0);  // no transaction: nothing to do
  EXPECT_EQ(f->Rollback(), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 2, 10);
  // Key pages are held back until the transaction ends or the file is
  // flushed: flushed now, the journal below is the whole one.
  ASSERT_EQ(f->Flush(), 0);
  const std::vector<uint8_t> journal = ReadBytes(dir_ / "CUST.LOG");
  std::vector<uint8_t> bad = journal;
  bad.resize(bad.size() - 3);  // a torn trailer at the end
  WriteBytes(dir_ / "CUST.LOG", bad);
  EXPECT_EQ(f->Rollback(), 65);
  EXPECT_TRUE(nv::GetEnv()->Exists(TxnFile()));  // the transaction stays for another try
  WriteBytes(dir_ / "CUST.LOG", journal);
  EXPECT_EQ(f->Rollback(), 0);
  EXPECT_EQ(f->Records(), 2);
  f->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A second LOGOUT answers 56; a transaction file left by a program that
// died is taken over, one that a running program holds is left to it.
TEST_F(SharedTxnTest, SecondLogoutAnswers56AndOnlyARunningProgramKeepsItsFile) {
  auto f = Make();
  ASSERT_EQ(f->Logout(), 0);
  EXPECT_EQ(f->Logout(), 56);
  ASSERT_EQ(f->Commit(), 0);
  WriteBytes(TxnFile(), Bytes("left by a crash"));
  EXPECT_EQ(f->Logout(), 0);
  EXPECT_EQ(ReadBytes(TxnFile()).size(), 0u);
  EXPECT_EQ(f->Commit(), 0);
  EXPECT_FALSE(nv::GetEnv()->Exists(TxnFile()));
  // Held by another run of the program: the next name.
  std::unique_ptr<nv::EnvFile> other;
  nv::OpenOptions o;
  o.mode = kReadWrite | kDenyNone;
  o.create = true;
  ASSERT_EQ(nv::GetEnv()->Open(TxnFile(), o, &other), 0);
  ASSERT_EQ(other->Lock(nv::kShareLockBase + 8, 1, true, false), 0);
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  AddN(*f, 1, 1);
  EXPECT_GE(ReadBytes(flat::TransactionPath(2)).size(), flat::kTxnEntrySize);
  EXPECT_EQ(f->Commit(), 0);
  EXPECT_TRUE(nv::GetEnv()->Exists(TxnFile()));
  EXPECT_FALSE(nv::GetEnv()->Exists(flat::TransactionPath(2)));
}

// Transaction files of programs that died are not left lying about: LOGOUT
// deletes those no journal needs (a program that died before its first
// journalled write), and leaves a running program's and one whose journal
// is still to be rolled back.
TEST_F(SharedTxnTest, LogoutDeletesTheTransactionFilesOfDeadProgramsThatNoJournalNeeds) {
  auto f = Make();
  auto entry = [](const std::string& data) {
    std::vector<uint8_t> e(flat::kTxnEntrySize, 0);
    e[0] = 1;
    std::memcpy(e.data() + 4, data.data(), data.size());
    return e;
  };
  WriteBytes(flat::TransactionPath(2), {});
  WriteBytes(flat::TransactionPath(3), entry(dir_ / "OTRO.DAT"));
  WriteBytes(flat::TransactionPath(4), entry(dir_ / "OTRO.DAT"));
  WriteBytes(flat::TransactionPath(5), entry(dir_ / "VIVO.DAT"));
  WriteBytes(dir_ / "VIVO.LOG", std::vector<uint8_t>(flat::kJournalStart + 8, 0));
  std::unique_ptr<nv::EnvFile> running;  // number 4 belongs to a running program
  nv::OpenOptions o;
  o.mode = kReadWrite | kDenyNone;
  ASSERT_EQ(nv::GetEnv()->Open(flat::TransactionPath(4), o, &running), 0);
  ASSERT_EQ(running->Lock(nv::kShareLockBase + 8, 1, true, false), 0);
  ASSERT_EQ(f->Logout(), 0);
  ASSERT_EQ(f->Commit(), 0);
  for (int n : {1, 2, 3}) EXPECT_FALSE(nv::GetEnv()->Exists(flat::TransactionPath(n))) << n;
  for (int n : {4, 5}) EXPECT_TRUE(nv::GetEnv()->Exists(flat::TransactionPath(n))) << n;
}

TEST_F(SharedTxnTest, LogoutThatCannotCreateItsFileAnswers48) {
  auto f = Make();
  Profile("NRVTMP=" + dir_.path() + "/no/such/folder\n");
  EXPECT_EQ(f->Logout(), 48);
  Profile("NRVTMP=" + dir_.path() + "\n");
  EXPECT_EQ(f->Logout(), 0);
  EXPECT_EQ(f->Commit(), 0);
}

// Key pages are held back until COMMIT: a disk that fills up then makes
// COMMIT answer the error and keep the transaction, which ROLLBACK undoes.
TEST_F(SharedTxnTest, DiskFullAtCommitKeepsTheTransactionForRollback) {
  nvtest::FailingEnv env;
  nvtest::ScopedEnv scoped(&env);
  std::map<std::string, std::vector<uint8_t>> before;
  auto f = InTransaction(30, &before);
  AddN(*f, 20, 100);
  env.write_budget = 100;
  const int err = f->Commit();
  EXPECT_TRUE(err == 48 || err == 5) << err;
  EXPECT_TRUE(nv::GetEnv()->Exists(TxnFile()));
  env.write_budget = -1;
  ASSERT_EQ(f->Rollback(), 0);
  EXPECT_FALSE(nv::GetEnv()->Exists(TxnFile()));
  ExpectUnchanged(before);
  EXPECT_EQ(f->Records(), 30);
  AddN(*f, 1, 300);
  f->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A flush that fails at COMMIT is answered and the journals stay: the
// changes may not be on disk, and ROLLBACK can still put back every byte.
TEST_F(SharedTxnTest, AFailedFlushAtCommitKeepsTheTransactionForRollback) {
  nvtest::FailingEnv env(nv::DefaultEnv(), "CUST.DAT");
  nvtest::ScopedEnv scoped(&env);
  std::map<std::string, std::vector<uint8_t>> before;
  auto f = InTransaction(30, &before);
  AddN(*f, 20, 100);
  env.fail_syncs = true;
  EXPECT_NE(f->Commit(), 0);
  EXPECT_TRUE(nv::GetEnv()->Exists(TxnFile()));
  EXPECT_TRUE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  env.fail_syncs = false;
  ASSERT_EQ(f->Rollback(), 0);
  ExpectUnchanged(before);
  EXPECT_EQ(f->Records(), 30);
}

TEST_F(SharedTxnTest, DiskFullInsideATransactionLeavesNothingAfterRollback) {
  nvtest::FailingEnv env;
  nvtest::ScopedEnv scoped(&env);
  std::map<std::string, std::vector<uint8_t>> before;
  auto f = InTransaction(3, &before);
  AddN(*f, 2, 10);
  int failed = 0;
  env.write_budget = 700;
  for (int i = 0; i < 10 && failed == 0; ++i) {
    Fill(*f, 100 + i, "LLENO");
    failed = f->Add();
  }
  EXPECT_TRUE(failed == 48 || failed == 5) << failed;
  // The handle refuses further writes until the rollback.
  Fill(*f, 200, "DESPUES");
  EXPECT_NE(f->Add(), 0);
  env.write_budget = -1;
  ASSERT_EQ(f->Rollback(), 0);
  ExpectUnchanged(before);
  AddN(*f, 1, 300);
  EXPECT_EQ(f->Records(), 4);
  f->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A journal left behind in another program's name: recovered at OPEN.
class JournalAtOpenTest : public SharedTxnTest {
 protected:
  // Writes a transaction file with one entry (CUST.DAT) and a journal whose
  // body is `body` (trailers and bytes).
  void Leave(const std::vector<uint8_t>& body, bool with_txn = true) {
    const std::string txn = dir_ / "DEAD.TR$";
    std::vector<uint8_t> j(flat::kJournalStart, 0);
    std::memcpy(j.data(), txn.data(), txn.size());
    j.insert(j.end(), body.begin(), body.end());
    WriteBytes(dir_ / "CUST.LOG", j);
    if (!with_txn) return;
    std::vector<uint8_t> e(flat::kTxnEntrySize, 0);
    e[0] = 1;
    std::string name = dir_ / "CUST.DAT";
    std::memcpy(e.data() + 4, name.data(), name.size());
    WriteBytes(txn, e);
  }
  static std::vector<uint8_t> Trailer(uint32_t offset, uint16_t file, uint16_t length) {
    std::vector<uint8_t> t(8);
    for (int i = 0; i < 4; ++i) t[size_t(i)] = uint8_t(offset >> (8 * i));
    t[4] = uint8_t(file);
    t[5] = uint8_t(file >> 8);
    t[6] = uint8_t(length);
    t[7] = uint8_t(length >> 8);
    return t;
  }
};

TEST_F(JournalAtOpenTest, ADeadTransactionIsRolledBackAtOpen) {
  {
    auto f = Make();
    AddN(*f, 2, 1);
  }
  std::vector<uint8_t> dat = ReadBytes(dir_ / "CUST.DAT");
  // The dead program had overwritten byte 0..3 of record 1's data and
  // appended garbage.
  const uint32_t start = U32At(dat, 21);
  std::vector<uint8_t> body(dat.begin() + start + 5, dat.begin() + start + 9);
  auto t1 = Trailer(start + 5, 1, 4);
  body.insert(body.end(), t1.begin(), t1.end());
  auto t2 = Trailer(uint32_t(dat.size()), 1, 0);
  body.insert(body.end(), t2.begin(), t2.end());
  Leave(body);
  std::vector<uint8_t> damaged = dat;
  damaged[start + 5] ^= 0xFF;
  damaged.insert(damaged.end(), 50, 0xEE);
  WriteBytes(dir_ / "CUST.DAT", damaged);
  for (uint32_t mode : {kExclusive, uint32_t(kReadWrite | kDenyNone)}) {
    SCOPED_TRACE(mode);
    auto f = Make(mode, false);
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "DEAD.TR$"));
    EXPECT_EQ(f->Records(), 2);
    f->Close();
    EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT"), dat);
    if (mode == kExclusive) {
      Leave(body);
      WriteBytes(dir_ / "CUST.DAT", damaged);
    }
  }
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(JournalAtOpenTest, AJournalWhoseTransactionFileIsGoneWasCommitted) {
  {
    auto f = Make();
    AddN(*f, 2, 1);
  }
  std::vector<uint8_t> dat = ReadBytes(dir_ / "CUST.DAT");
  Leave(Trailer(100, 1, 0), false);
  auto f = Make(kExclusive, false);
  f->Close();
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT"), dat);  // nothing undone
  EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
}

// A dead writer's journal whose end no whole trailer covers (killed while
// it wrote the journal's start or a piece) protects writes that were never
// made: the tail is dropped, the rest rolled back, and the file opens. Only
// a journal whose start is damaged answers 65.
TEST_F(JournalAtOpenTest, TornJournalTailsAreDroppedAndADamagedStartAnswers65) {
  {
    auto f = Make();
    AddN(*f, 2, 1);
  }
  const std::vector<uint8_t> dat = ReadBytes(dir_ / "CUST.DAT");
  struct Case {
    const char* what;
    std::vector<uint8_t> body;
  } cases[] = {
      {"unknown file number", Trailer(100, 7, 0)},
      {"length beyond the journal", Trailer(100, 1, 300)},
      {"short trailer", {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Leave(c.body);
    File f(CustDecl(dir_ / "CUST"));
    EXPECT_EQ(f.Open(kExclusive), 0);
    f.Close();
    EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT"), dat);
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  }
  // Shorter than the transaction file's name.
  WriteBytes(dir_ / "CUST.LOG", {1, 2, 3});
  {
    File f(CustDecl(dir_ / "CUST"));
    EXPECT_EQ(f.Open(kExclusive), 0);
  }
  // Its writer died before the 8 zero bytes: recovery deletes the journal
  // and the dead program's transaction file with it.
  Leave({});
  std::vector<uint8_t> torn = ReadBytes(dir_ / "CUST.LOG");
  torn.resize(flat::kJournalNameSize);
  WriteBytes(dir_ / "CUST.LOG", torn);
  {
    File f(CustDecl(dir_ / "CUST"));
    EXPECT_EQ(f.Open(kExclusive), 0);
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "DEAD.TR$"));
  }
  // The 8 zero bytes after the name are not there.
  Leave(Trailer(100, 1, 0));
  std::vector<uint8_t> j = ReadBytes(dir_ / "CUST.LOG");
  j[flat::kJournalNameSize] = 9;
  WriteBytes(dir_ / "CUST.LOG", j);
  File f(CustDecl(dir_ / "CUST"));
  EXPECT_EQ(f.Open(kExclusive), 65);
}

// --- Two opens in one process behave as two stations.

TEST_F(SharedTxnTest, LockRefusesOthersAndRecoverBreaksAStandingLock) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto a = Make();
  AddN(*a, 3, 1);
  auto b = Make(kReadWrite | kDenyNone, false);
  auto c = Make(kReadWrite | kDenyNone, false);
  ASSERT_EQ(b->Hold(), 0);
  ASSERT_EQ(a->Lock(), 0);
  // Closing another open gives up none of a's lock.
  ASSERT_EQ(c->Close(), 0);
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[2] & 1, 1);
  // A read that holds (asked before the LOCK) meets the lock: 43.
  EXPECT_EQ(b->Get(int32_t(1)), 43);
  // Another open: 32 at once, 5 for OPEN; a third open closing drops nothing.
  b->Records();
  EXPECT_EQ(ErrorCode(), 32);
  {
    File c(CustDecl(dir_ / "CUST"));
    EXPECT_EQ(c.Open(), 5);
  }
  b->Records();
  EXPECT_EQ(ErrorCode(), 32);
  // The owner works on; UNLOCK lets the others in.
  AddN(*a, 1, 10);
  ASSERT_EQ(a->Unlock(), 0);
  EXPECT_EQ(b->Records(), 4);
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[2] & 1, 0);
  // RECOVER=5: a lock whose header stands still for 5 seconds is broken.
  ASSERT_EQ(a->Lock(), 0);
  b->Send("RECOVER=5");
  const int64_t t0 = clock.ticks;
  EXPECT_EQ(b->Records(), 4);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_GE(clock.ticks - t0, 5000);
  EXPECT_LT(clock.ticks - t0, 8000);
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[2] & 1, 0);
  a->Close();
  b->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A program killed while it held the file LOCK (and in the middle of a
// write, its busy mark on): the first OPEN of a program with RECOVER set
// breaks the lock and repairs the file, keys and memo chain included.
TEST_F(SharedTxnTest, RecoverAtAFirstOpenBreaksTheLockOfAProgramThatDied) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  {
    auto f = Make();
    AddN(*f, 4, 1);
  }
  for (uint8_t marks : {uint8_t(0x01), uint8_t(0x11)}) {
    SCOPED_TRACE(int(marks));
    std::vector<uint8_t> dat = ReadBytes(dir_ / "CUST.DAT");
    dat[2] |= marks;
    WriteBytes(dir_ / "CUST.DAT", dat);
    File f(CustDecl(dir_ / "CUST"));
    f.Send("RECOVER=2");
    ASSERT_EQ(f.Open(), 0);
    EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[2] & 0x11, 0);
    EXPECT_EQ(f.Records(f.key(0)), 4);
    f.Close();
    EXPECT_TRUE(Consistent(dir_ / "CUST"));
  }
}

TEST_F(SharedTxnTest, LockWithSecondsGivesUpAfterTheTimeout) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto a = Make();
  auto b = Make(kReadWrite | kDenyNone, false);
  ASSERT_EQ(a->Lock(), 0);
  const int32_t c0 = clock.clock;
  EXPECT_EQ(b->Lock(3), 32);
  EXPECT_GE(clock.clock - c0, 300);
  EXPECT_LT(clock.clock - c0, 500);
  a->Close();  // CLOSE gives the lock up
  EXPECT_EQ(b->Lock(3), 0);
  EXPECT_EQ(ReadBytes(dir_ / "CUST.DAT")[2] & 1, 1);
  ASSERT_EQ(b->Unlock(), 0);
}

TEST_F(SharedTxnTest, HeldRecordGivesAnotherHolding43AfterItsTimeout) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto a = Make();
  AddN(*a, 3, 1);
  auto b = Make(kReadWrite | kDenyNone, false);
  auto c = Make(kReadWrite | kDenyNone, false);
  ASSERT_EQ(a->Hold(), 0);
  ASSERT_EQ(a->Get(int32_t(2)), 0);
  const std::vector<uint8_t> d = ReadBytes(dir_ / "CUST.DAT");
  const uint32_t rs = sizeof(CustRecord) + 5;
  EXPECT_EQ(d[U32At(d, 21) + rs] & 0x40, 0x40);
  // A read that does not hold is not disturbed.
  EXPECT_EQ(b->Get(int32_t(2)), 0);
  // A read that holds waits out its timeout.
  const int64_t t0 = clock.ticks;
  ASSERT_EQ(b->Hold(3), 0);
  EXPECT_EQ(b->Get(int32_t(2)), 43);
  EXPECT_GE(clock.ticks - t0, 3000);
  EXPECT_LT(clock.ticks - t0, 5000);
  // HOLD without seconds does not wait.
  ASSERT_EQ(b->Hold(), 0);
  EXPECT_EQ(b->Get(int32_t(2)), 43);
  // Closing a third open drops none of a's marks.
  c->Close();
  ASSERT_EQ(b->Hold(1), 0);
  EXPECT_EQ(b->Get(int32_t(2)), 43);
  // Writing a record another holds: 5.
  ASSERT_EQ(b->Get(int32_t(2)), 0);
  EXPECT_EQ(b->Put(), 5);
  // RELEASE frees it.
  ASSERT_EQ(a->Release(), 0);
  ASSERT_EQ(b->Hold(1), 0);
  EXPECT_EQ(b->Get(int32_t(2)), 0);
  ASSERT_EQ(b->Release(), 0);
  // RECOVER clears a mark that outlived it (its program died).
  ASSERT_EQ(a->Hold(), 0);
  ASSERT_EQ(a->Get(int32_t(3)), 0);
  b->Send("RECOVER=2");
  ASSERT_EQ(b->Hold(10), 0);
  const int64_t t1 = clock.ticks;
  EXPECT_EQ(b->Get(int32_t(3)), 0);
  EXPECT_GE(clock.ticks - t1, 2000);
  EXPECT_LT(clock.ticks - t1, 4000);
}

TEST_F(SharedTxnTest, RecountRebuildsCountersBoundsAndChain) {
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto a = Make();
  AddN(*a, 6, 1);
  for (int n : {2, 5, 6}) {
    ASSERT_EQ(a->Get(int32_t(n)), 0);
    ASSERT_EQ(a->Delete(), 0);
  }
  auto b = Make(kReadWrite | kDenyNone, false);
  b->Send("RECOVER=1");
  a.reset();
  // A program died holding the lock, its counters half-written.
  std::vector<uint8_t> dat = ReadBytes(dir_ / "CUST.DAT");
  dat[2] |= 1;
  for (int i : {5, 9, 25, 29, 33}) dat[size_t(i)] = 0;
  WriteBytes(dir_ / "CUST.DAT", dat);
  EXPECT_EQ(b->Records(), 3);
  dat = ReadBytes(dir_ / "CUST.DAT");
  EXPECT_EQ(dat[2] & 1, 0);
  EXPECT_EQ(U32At(dat, 5), 6u);
  EXPECT_EQ(U32At(dat, 9), 3u);
  EXPECT_EQ(U32At(dat, 25), 4u);
  EXPECT_EQ(U32At(dat, 29), 1u);
  EXPECT_EQ(U32At(dat, 33), 6u);
  b->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// A second open of a file the transaction wrote would wait for the
// transaction's own lock for ever: it answers 32 after the bounded wait.
TEST_F(SharedTxnTest, ASecondOpenOfAFileTheTransactionWroteAnswers32InsteadOfWaiting) {
  {
    auto f = Make();
    AddN(*f, 2, 1);
  }
  nvtest::FakeClockEnv clock;
  nvtest::ScopedEnv scoped(&clock);
  auto a = Make(kReadWrite | kDenyNone, false);
  File b(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(b.Open(kReadWrite | kDenyNone), 0);
  ASSERT_EQ(a->SetProperty(29441, "1"), 0);
  ASSERT_EQ(b.SetProperty(29441, "1"), 0);
  ASSERT_EQ(a->Logout(), 0);
  AddN(*a, 1, 10);
  Fill(b, 20, "OTRA");
  EXPECT_EQ(b.Add(), 32);
  ASSERT_EQ(a->Rollback(), 0);
  EXPECT_EQ(b.Add(), 0);
  EXPECT_EQ(a->Records(), 3);
  b.Close();
  a->Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

TEST_F(SharedTxnTest, IgnoreStatusDependsOnSharing) {
  auto a = Make();
  EXPECT_EQ(a->Send("IGNORESTATUS=ON"), "");
  EXPECT_EQ(ErrorCode(), 63);
  a->Close();
  ASSERT_EQ(a->Open(kExclusive), 0);
  EXPECT_EQ(a->Send("IGNORESTATUS=ON"), "OFF");
  EXPECT_EQ(a->Send("IGNORESTATUS"), "ON");
  EXPECT_EQ(a->Send("DELETED"), "");
  EXPECT_EQ(ErrorCode(), 33);
  EXPECT_EQ(a->Send("MAINTAINHEADERTIME=ON"), "OFF");
  EXPECT_EQ(a->Send("MAINTAINHEADERTIME"), "ON");
}

// --- Fatal runtime errors.

// Byte locks of the header answer "invalid handle"; journals cannot be made.
class BrokenEnv : public nv::EnvWrapper {
 public:
  BrokenEnv() : nv::EnvWrapper(nv::DefaultEnv()) {}
  int Open(const std::string& path, const nv::OpenOptions& o,
           std::unique_ptr<nv::EnvFile>* out) override {
    if (no_journals && path.size() > 4 && path.substr(path.size() - 4) == ".LOG") return 5;
    std::unique_ptr<nv::EnvFile> f;
    int r = target()->Open(path, o, &f);
    if (r) return r;
    *out = std::make_unique<Locks>(std::move(f), this);
    return 0;
  }
  bool bad_locks = false;
  bool no_journals = false;

 private:
  class Locks : public nv::EnvFile {
   public:
    Locks(std::unique_ptr<nv::EnvFile> f, BrokenEnv* e) : f_(std::move(f)), e_(e) {}
    int Read(uint64_t o, void* b, size_t n, size_t* g) override { return f_->Read(o, b, n, g); }
    int Write(uint64_t o, const void* b, size_t n) override { return f_->Write(o, b, n); }
    int Truncate(uint64_t s) override { return f_->Truncate(s); }
    int Size(uint64_t* s) override { return f_->Size(s); }
    int Sync(bool d) override { return f_->Sync(d); }
    int Lock(uint64_t o, uint64_t l, bool x, bool w) override {
      return e_->bad_locks ? nv::kOsInvalidHandle : f_->Lock(o, l, x, w);
    }
    int Unlock(uint64_t o, uint64_t l) override { return f_->Unlock(o, l); }
    const std::string& Path() const override { return f_->Path(); }

   private:
    std::unique_ptr<nv::EnvFile> f_;
    BrokenEnv* e_;
  };
};

using SharedTxnDeathTest = SharedTxnTest;

TEST_F(SharedTxnDeathTest, ALockingFailureThatIsNeitherGrantedNorRefusedIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BrokenEnv env;
  nvtest::ScopedEnv scoped(&env);
  auto f = Make();
  env.bad_locks = true;
  EXPECT_DEATH(f->Records(), "DOS FILE LOCKING ERROR");
  env.bad_locks = false;
}

TEST_F(SharedTxnDeathTest, AJournalThatCannotBeStartedIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BrokenEnv env;
  nvtest::ScopedEnv scoped(&env);
  auto f = Make();
  ASSERT_EQ(f->SetProperty(29441, "1"), 0);
  ASSERT_EQ(f->Logout(), 0);
  env.no_journals = true;
  Fill(*f, 1, "X");
  EXPECT_DEATH(f->Add(), "UNABLE TO START LOG");
  env.no_journals = false;
  EXPECT_EQ(f->Commit(), 0);
}

}  // namespace
}  // namespace flattest
