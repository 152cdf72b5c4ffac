// Several processes sharing one flat file, each a run of the station
// program (tests/drivers/flat/station): writers adding records inside and
// outside transactions while readers walk the key, a station holding a
// record, and writers killed (SIGKILL) at named crash points inside and
// outside a transaction. NV_LONG_TESTS=1 runs the long versions.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

bool LongTests() {
  const char* v = std::getenv("NV_LONG_TESTS");
  return v && *v && std::string(v) != "0";
}

std::string StationProgram() {
  std::string exe = nv::GetEnv()->ProgramPath();
  return exe.substr(0, exe.find_last_of('/')) + "/flat_station";
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output
};

// Starts the station with `args` and its own profile; `crash` names a crash
// point (empty: none).
Child Spawn(const std::vector<std::string>& args, const std::string& profile,
            const std::string& crash = "") {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::setenv("NVRUN_PROFILE", profile.c_str(), 1);
    if (crash.empty()) {
      ::unsetenv("NV_FLAT_CRASH");
    } else {
      ::setenv("NV_FLAT_CRASH", crash.c_str(), 1);
    }
    std::vector<std::string> all = {StationProgram()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

// Waits for the child: its wait status and what it printed.
int Wait(Child& c, std::string* printed = nullptr) {
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = ::read(c.out, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  ::close(c.out);
  int status = 0;
  ::waitpid(c.pid, &status, 0);
  if (printed) *printed = text;
  return status;
}

// The kill tests at named crash points need a build with them (the test
// builds of `make test` have them; a plain build does not).
#if defined(NV_CRASH_POINTS)
#define NEEDS_CRASH_POINTS()
#else
#define NEEDS_CRASH_POINTS() GTEST_SKIP() << "built without NV_CRASH_POINTS"
#endif

bool Succeeded(int status) {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SharedStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearError();
    ASSERT_EQ(::access(StationProgram().c_str(), X_OK), 0) << StationProgram();
  }
  // A profile giving the station its own folder for the transaction file.
  std::string StationProfile(int n) {
    std::string folder = dir_ / ("st" + std::to_string(n));
    ::mkdir(folder.c_str(), 0700);
    std::string ini = dir_ / ("st" + std::to_string(n) + ".ini");
    std::string text = "[NWN21]\nNRVTMP=" + folder + "\n";
    WriteBytes(ini, std::vector<uint8_t>(text.begin(), text.end()));
    return ini;
  }
  void CreateWith(int records) {
    FileDecl d = CustDecl(dir_ / "CUST");
    d.attributes = kFileCreate;
    File f(d);
    ASSERT_EQ(f.Create(), 0);
    ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
    for (int i = 1; i <= records; ++i) {
      Fill(f, i, "INICIAL " + std::to_string(i));
      f.SetMemoText(0, "nota " + std::to_string(i));
      ASSERT_EQ(f.Add(), 0);
    }
    ASSERT_EQ(f.Close(), 0);
  }
  std::map<std::string, std::vector<uint8_t>> Snapshot() {
    std::map<std::string, std::vector<uint8_t>> m;
    for (const char* n : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
      m[n] = ReadBytes(dir_ / n);
    return m;
  }
  // After a writer killed inside a transaction: OPEN rolls it back, and the
  // five records and every byte are as `before` had them.
  void ExpectRolledBack(const std::map<std::string, std::vector<uint8_t>>& before) {
    File f(CustDecl(dir_ / "CUST"));
    EXPECT_EQ(f.Open(), 0);
    EXPECT_EQ(f.Records(), 5);
    f.Close();
    const auto after = Snapshot();
    for (auto& [name, bytes] : before) EXPECT_EQ(after.at(name), bytes) << name;
    EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
  }

  TempDir dir_;
};

TEST_F(SharedStationTest, FourWritersAndTwoReadersKeepEveryCommittedRecordOnce) {
  const int per_writer = LongTests() ? 5000 : 60;
  const int batch = 10;
  CreateWith(0);
  const std::string stop = dir_ / "STOP";
  std::vector<Child> writers, readers;
  for (int w = 0; w < 4; ++w)
    writers.push_back(Spawn({"add", dir_.path(), std::to_string((w + 1) * 100000),
                             std::to_string(per_writer), std::to_string(batch)},
                            StationProfile(w)));
  for (int r = 0; r < 2; ++r)
    readers.push_back(Spawn({"read", dir_.path(), stop}, StationProfile(10 + r)));
  for (Child& c : writers) EXPECT_TRUE(Succeeded(Wait(c)));
  WriteBytes(stop, {});
  for (Child& c : readers) {
    std::string walks;
    EXPECT_TRUE(Succeeded(Wait(c, &walks)));
    EXPECT_GT(std::atoi(walks.c_str()), 0);
  }
  std::vector<int32_t> expected;
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < per_writer; ++i)
      if ((i / batch) % 3 != 2) expected.push_back((w + 1) * 100000 + i);
  std::sort(expected.begin(), expected.end());

  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
  std::vector<int32_t> codes;
  f.Set(f.key(0));
  while (f.Next() == 0) {
    codes.push_back(f.As<CustRecord>().CODE);
    EXPECT_EQ(f.MemoText(0).substr(0, 5), "memo ");
  }
  EXPECT_EQ(codes, expected);  // committed once each, rolled back absent
  EXPECT_EQ(f.Records(), int64_t(expected.size()));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(f.Records(f.key(k)), int64_t(expected.size())) << k;
  std::set<int32_t> in_record_order;
  f.Set();
  while (f.Next() == 0) EXPECT_TRUE(in_record_order.insert(f.As<CustRecord>().CODE).second);
  EXPECT_EQ(in_record_order.size(), expected.size());
  f.Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
  for (int w = 0; w < 4; ++w) EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
}

// Two writers opening in compatibility mode (0x02) share the file like
// deny-none writers: header lock and re-reads, no record number used twice.
TEST_F(SharedStationTest, TwoCompatibilityModeWritersKeepEveryRecordOnce) {
  const int per_writer = LongTests() ? 2000 : 60;
  CreateWith(0);
  std::vector<Child> writers;
  for (int w = 0; w < 2; ++w)
    writers.push_back(Spawn({"add", dir_.path(), std::to_string((w + 1) * 100000),
                             std::to_string(per_writer), "10", "2"},
                            StationProfile(w)));
  for (Child& c : writers) EXPECT_TRUE(Succeeded(Wait(c)));
  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Open(kReadWrite | kDenyAll), 0);
  std::set<int32_t> codes;
  f.Set();
  while (f.Next() == 0) EXPECT_TRUE(codes.insert(f.As<CustRecord>().CODE).second);
  size_t expected = 0;
  for (int i = 0; i < per_writer; ++i) expected += (i / 10) % 3 != 2 ? 2 : 0;
  EXPECT_EQ(codes.size(), expected);
  EXPECT_EQ(f.Records(f.key(0)), int64_t(expected));
  f.Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// PACK, REMOVE and RENAME while another station has the file open (or is in
// a transaction on it) are refused with 5 and change nothing; once it has
// closed the file they run.
TEST_F(SharedStationTest, WholeFileOperationsWaitForEveryOtherStationToClose) {
  using Op = std::function<int(File&)>;
  const std::vector<std::pair<std::string, Op>> ops = {
      {"pack", [](File& f) { return f.Pack(); }},
      {"remove", [](File& f) { return f.Remove(); }},
      {"rename", [&](File& f) { return f.Rename(dir_ / "OTRO"); }}};
  int n = 0;
  for (const auto& [name, op] : ops) {
    for (bool txn : {false, true}) {
      if (txn && name != "pack") continue;
      SCOPED_TRACE(name + (txn ? " in a transaction" : ""));
      for (const char* f : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
        nv::GetEnv()->Remove(dir_ / f);
      CreateWith(5);
      {
        File f(CustDecl(dir_ / "CUST"));
        ASSERT_EQ(f.Open(), 0);
        ASSERT_EQ(f.Get(int32_t(2)), 0);
        ASSERT_EQ(f.Delete(), 0);
      }
      // Opened first: the station's transaction keeps the header lock.
      File f(CustDecl(dir_ / "CUST"));
      if (name == "pack") {
        ASSERT_EQ(f.Open(), 0);
      }
      const std::string stop = dir_ / ("STOP" + std::to_string(++n));
      std::vector<std::string> args = {"open", dir_.path(), stop};
      if (txn) args.insert(args.end(), {"CUST", "900"});
      Child other = Spawn(args, StationProfile(n));
      char line[8] = {};
      ASSERT_EQ(::read(other.out, line, 5), 5);
      const auto before = Snapshot();
      EXPECT_EQ(op(f), 5);  // at once, without waiting for the header lock
      WriteBytes(stop, {});
      EXPECT_TRUE(Succeeded(Wait(other)));
      if (!txn) {
        auto after = Snapshot();
        if (name == "pack") after.erase("CUST.DAT");  // the header's change time
        for (auto& [file, bytes] : after) EXPECT_EQ(bytes, before.at(file)) << file;
      }
      if (name == "pack") {
        EXPECT_EQ(f.Records(), txn ? 5 : 4);
      }
      EXPECT_EQ(op(f), 0);
      EXPECT_EQ(nv::GetEnv()->Exists(dir_ / "CUST.DAT"), name == "pack");
      if (name == "pack") {
        EXPECT_EQ(f.Records(), txn ? 5 : 4);
        f.Close();
        EXPECT_TRUE(Consistent(dir_ / "CUST"));
      }
    }
  }
}

TEST_F(SharedStationTest, AHoldOfAnotherStationGives43AndRecoverOutlivesItsDeath) {
  CreateWith(3);
  Child holder = Spawn({"hold", dir_.path(), "2", "30"}, StationProfile(0));
  char line[8] = {};
  ASSERT_GT(::read(holder.out, line, 5), 0);
  ASSERT_EQ(std::string(line, 4), "held");
  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Open(), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 0);  // reading without holding is not disturbed
  ASSERT_EQ(f.Hold(1), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 43);
  ::kill(holder.pid, SIGKILL);
  Wait(holder);
  // The mark outlives its station; RECOVER takes it as a dead program's.
  ASSERT_EQ(f.Hold(1), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 43);
  f.Send("RECOVER=1");
  ASSERT_EQ(f.Hold(5), 0);
  EXPECT_EQ(f.Get(int32_t(2)), 0);
  ASSERT_EQ(f.Release(), 0);
  f.Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// Two transactions taking two files in opposite orders: instead of waiting
// for each other for ever, the one that waits too long answers 32 and rolls
// back; the other commits. Nothing of the rolled-back one remains.
TEST_F(SharedStationTest, TransactionsTakingFilesInOppositeOrderDoNotWaitForEver) {
  for (const char* name : {"A", "B"}) {
    FileDecl d = CustDecl(dir_ / name);
    d.attributes = kFileCreate;
    File f(d);
    ASSERT_EQ(f.Create(), 0);
  }
  Child ab = Spawn({"txn2", dir_.path(), "A", "B", "1"}, StationProfile(0));
  Child ba = Spawn({"txn2", dir_.path(), "B", "A", "2"}, StationProfile(1));
  char line[8] = {};
  ASSERT_EQ(::read(ab.out, line, 5), 5);
  ASSERT_EQ(::read(ba.out, line, 5), 5);
  WriteBytes(dir_ / "OPENED", {});
  ASSERT_EQ(::read(ab.out, line, 6), 6);
  ASSERT_EQ(::read(ba.out, line, 6), 6);
  WriteBytes(dir_ / "GO", {});
  const int sa = Wait(ab), sb = Wait(ba);
  ASSERT_TRUE(WIFEXITED(sa) && WIFEXITED(sb));
  const int ea = WEXITSTATUS(sa), eb = WEXITSTATUS(sb);
  EXPECT_TRUE(ea == 0 || ea == 3) << ea;
  EXPECT_TRUE(eb == 0 || eb == 3) << eb;
  EXPECT_TRUE(ea == 3 || eb == 3);
  for (const char* name : {"A", "B"}) {
    File f(CustDecl(dir_ / name));
    ASSERT_EQ(f.Open(), 0);
    std::set<int32_t> codes;
    f.Set(f.key(0));
    while (f.Next() == 0) codes.insert(f.As<CustRecord>().CODE);
    std::set<int32_t> want;
    if (ea == 0) want.insert(1);
    if (eb == 0) want.insert(2);
    EXPECT_EQ(codes, want) << name;
    f.Close();
    EXPECT_TRUE(Consistent(dir_ / name));
  }
}

// What a killed writer (the station's "crash": three ADDs of 500..502, then
// record 2 rewritten) may leave outside a transaction, or what a reader sees
// of it while it runs: every record either as it was or as written, never a
// mix; the five first records all there. `seen`: code -> (name, memo).
using Seen = std::map<int32_t, std::pair<std::string, std::string>>;
// `records` is RECORDS of the file, read with the walk (exact) or after it
// while the writer may have added more (at least).
std::string OldOrNew(const Seen& seen, int64_t records, bool exact = true) {
  for (int i = 1; i <= 5; ++i) {
    auto it = seen.find(i);
    if (it == seen.end()) return "record " + std::to_string(i) + " lost";
    const auto old_one =
        std::make_pair("INICIAL " + std::to_string(i), "nota " + std::to_string(i));
    const auto new_one = std::make_pair(std::string("CAMBIADO"), std::string("otra nota"));
    if (it->second != old_one && !(i == 2 && it->second == new_one))
      return "record " + std::to_string(i) + " is '" + it->second.first + "' / '" +
             it->second.second + "'";
  }
  for (int i = 0; i < 3; ++i) {
    auto it = seen.find(500 + i);
    if (it == seen.end()) continue;
    if (it->second != std::make_pair("NUEVO " + std::to_string(i), std::string(300, char('a' + i))))
      return "record " + std::to_string(500 + i) + " is half written";
  }
  if (exact ? int64_t(seen.size()) != records : int64_t(seen.size()) > records)
    return "the key and the header disagree";
  return "";
}

std::string OldOrNew(File& f) {
  Seen seen;
  f.Set(f.key(0));
  int err;
  while ((err = f.Next()) == 0) {
    const CustRecord& r = f.As<CustRecord>();
    std::string memo = f.MemoText(0);
    memo.erase(memo.find_last_not_of(' ') + 1);
    seen[int32_t(r.CODE)] = {std::string(Clip(r.NAME.view())), memo};
  }
  if (err != 33) return "NEXT answered " + std::to_string(err);
  return OldOrNew(seen, f.Records());
}

// The station "readall" output back into what it saw.
std::string OldOrNew(const std::string& printed) {
  Seen seen;
  int64_t records = -1;
  size_t at = 0;
  while (at < printed.size()) {
    size_t end = printed.find('\n', at);
    if (end == std::string::npos) end = printed.size();
    const std::string line = printed.substr(at, end - at);
    at = end + 1;
    if (line.rfind("records ", 0) == 0) {
      records = std::atoll(line.c_str() + 8);
      continue;
    }
    const size_t a = line.find('|'), b = line.find('|', a + 1);
    if (a == std::string::npos || b == std::string::npos) return "unreadable line '" + line + "'";
    seen[std::atoi(line.c_str())] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
  }
  if (records < 0) return "the reader did not finish";
  return OldOrNew(seen, records, false);
}

// Kills a writer at each named crash point (its n-th passage) and opens the
// file again: inside a transaction the files equal their state before it
// byte for byte; outside one, each record is old or new and the inspector
// finds the files consistent.
TEST_F(SharedStationTest, WritersKilledAtCrashPointsLeaveRecoverableFiles) {
  NEEDS_CRASH_POINTS();
  const std::vector<std::string> points = {"journal-written", "journal-synced", "after-mark",
                                           "before-header",   "after-header",   "before-data",
                                           "after-data",      "before-memo",    "after-memo",
                                           "before-key",      "before-unmark"};
  const int passages = LongTests() ? 12 : 2;
  int tried_inside = 0, failed_inside = 0, tried_outside = 0, failed_outside = 0;
  for (int inside : {1, 0}) {
    for (const std::string& point : points) {
      for (int n = 1; n <= passages; ++n) {
        if (!inside && point.rfind("journal", 0) == 0) continue;          // no journal outside
        if (inside && point.find("mark") != std::string::npos) continue;  // no mark inside
        SCOPED_TRACE(point + ":" + std::to_string(n) + (inside ? " inside" : " outside"));
        for (const char* name : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
          nv::GetEnv()->Remove(dir_ / name);
        CreateWith(5);
        auto before = Snapshot();
        Child c = Spawn({"crash", dir_.path(), std::to_string(inside)}, StationProfile(0),
                        point + ":" + std::to_string(n));
        int status = Wait(c);
        if (!(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
          EXPECT_TRUE(Succeeded(status));
          continue;  // the point was not reached n times
        }
        File f(CustDecl(dir_ / "CUST"));
        int err = f.Open();
        std::string contents;
        if (err == 0) {
          f.Records();
          err = ErrorCode();
          if (!inside) contents = OldOrNew(f);
          f.Close();
        }
        if (inside) {
          ++tried_inside;
          auto after = Snapshot();
          bool same = err == 0 && after == before;
          EXPECT_EQ(err, 0);
          for (auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name;
          EXPECT_FALSE(nv::GetEnv()->Exists(dir_ / "CUST.LOG"));
          if (!same) ++failed_inside;
        } else {
          ++tried_outside;
          std::string fault = err                 ? "OPEN/RECORDS error " + std::to_string(err)
                              : !contents.empty() ? contents
                              : !Consistent(dir_ / "CUST") ? "files the inspector rejects"
                                                           : "";
          EXPECT_EQ(fault, "");
          if (!fault.empty()) ++failed_outside;
        }
      }
    }
  }
  std::printf("crash points inside a transaction: %d tried, %d failed\n", tried_inside,
              failed_inside);
  std::printf("crash points outside a transaction: %d tried, %d inconsistent afterwards\n",
              tried_outside, failed_outside);
  EXPECT_GT(tried_inside, 0);
  EXPECT_GT(tried_outside, 0);
  EXPECT_EQ(failed_inside, 0);
  EXPECT_EQ(failed_outside, 0);
}

// A COMMIT killed after it journalled the held-back key writes, at each of
// their writes, and after it flushed every file: the transaction file still
// stands, so the next OPEN puts every byte back as before the transaction.
TEST_F(SharedStationTest, ACommitKilledAtAnyOfItsStepsIsRolledBackWhole) {
  NEEDS_CRASH_POINTS();
  int tried = 0;
  for (const char* point : {"commit-journalled:1", "before-key:1", "before-key:3", "commit-synced:1"}) {
    SCOPED_TRACE(point);
    for (const char* name : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
      nv::GetEnv()->Remove(dir_ / name);
    CreateWith(5);
    const auto before = Snapshot();
    Child c = Spawn({"crash", dir_.path(), "1"}, StationProfile(0), point);
    const int status = Wait(c);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ++tried;
    ExpectRolledBack(before);
  }
  EXPECT_EQ(tried, 4);
}

// A reader that starts while a writer station is stopped at each point of
// its writes waits for the writer's operation to end (it does not finish
// while the writer stands still) and then sees each record wholly old or
// wholly new, its key entries and its memo with it.
TEST_F(SharedStationTest, AReaderMeetingAWriterAtAnyPointOfAWriteSeesOldOrNewRecords) {
  const std::vector<std::string> points = {"after-mark",    "before-data",  "after-data",
                                           "before-memo",   "after-memo",   "before-key",
                                           "before-header", "after-header", "before-unmark"};
  const int passages = LongTests() ? 12 : 2;
  int paused = 0;
  for (const std::string& point : points) {
    for (int n = 1; n <= passages; ++n) {
      SCOPED_TRACE(point + ":" + std::to_string(n));
      for (const char* name : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
        nv::GetEnv()->Remove(dir_ / name);
      CreateWith(5);
      const std::string go = dir_ / "GO";
      nv::GetEnv()->Remove(go);
      // The reader opens first: its reads, not its OPEN, meet the writer.
      Child reader = Spawn({"readall", dir_.path(), go}, StationProfile(1));
      char line[8] = {};
      ASSERT_EQ(::read(reader.out, line, 5), 5);
      Child writer = Spawn({"crash", dir_.path(), "0"}, StationProfile(0),
                           point + ":" + std::to_string(n) + ":stop");
      int status = 0;
      ::waitpid(writer.pid, &status, WUNTRACED);
      WriteBytes(go, {});
      if (!WIFSTOPPED(status)) {
        ::close(writer.out);
        EXPECT_TRUE(Succeeded(status));
        Wait(reader);
        continue;  // the point was not reached n times
      }
      ++paused;
      ::usleep(100 * 1000);
      pollfd printed = {reader.out, POLLIN, 0};
      EXPECT_EQ(::poll(&printed, 1, 0), 0) << "read while the writer stood still";
      ::kill(writer.pid, SIGCONT);
      std::string seen;
      EXPECT_TRUE(Succeeded(Wait(reader, &seen)));
      EXPECT_TRUE(Succeeded(Wait(writer)));
      EXPECT_EQ(OldOrNew(seen), "");
    }
  }
  std::printf("writer stopped at %d points\n", paused);
  EXPECT_GT(paused, 8);
}

// A reader that begins a walk and then stops reading keeps its run only for
// a few milliseconds: a writer station is not held up by it.
TEST_F(SharedStationTest, AReaderThatStopsReadingDoesNotHoldUpAWriter) {
  CreateWith(5);
  File r(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(r.Open(kReadOnly | kDenyNone), 0);
  ASSERT_EQ(r.Set(r.key(0)), 0);
  ASSERT_EQ(r.Next(), 0);  // a run begun, and left idle
  Child writer = Spawn({"add", dir_.path(), "700", "3", "3"}, StationProfile(0));
  int status = 0;
  for (int waited = 0; waited < 500 && ::waitpid(writer.pid, &status, WNOHANG) == 0; ++waited)
    ::usleep(10 * 1000);
  if (!WIFEXITED(status)) {
    ::kill(writer.pid, SIGKILL);
    ADD_FAILURE() << "the writer waited for the idle reader";
  }
  ::close(writer.out);
  EXPECT_TRUE(Succeeded(status));
  // The reader goes on from where it stood and sees the records added.
  int err, walked = 1;
  while ((err = r.Next()) == 0) ++walked;
  EXPECT_EQ(err, 33);
  EXPECT_EQ(walked, 8);
  r.Close();
}

// A writer killed inside a transaction while it created or appended to its
// journal (its writes after the last whole trailer never happened): a
// journal shorter than its start, a torn last trailer and a torn piece
// after the last trailer are rolled back as far as whole trailers reach and
// the file opens as it was before the transaction.
TEST_F(SharedStationTest, AJournalCutShortByAKillIsRolledBackAndTheFileOpens) {
  NEEDS_CRASH_POINTS();
  const std::vector<std::string> cuts = {"empty", "half start", "torn trailer", "torn piece"};
  int tried = 0;
  for (const std::string& cut : cuts) {
    // Cut before any piece: only where no write of the transaction was made.
    const int passages = cut == "empty" || cut == "half start" ? 1 : 3;
    for (int n = 1; n <= passages; ++n) {
      SCOPED_TRACE(cut + " at journal-written:" + std::to_string(n));
      for (const char* name : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
        nv::GetEnv()->Remove(dir_ / name);
      CreateWith(5);
      const auto before = Snapshot();
      Child c = Spawn({"crash", dir_.path(), "1"}, StationProfile(0),
                      "journal-written:" + std::to_string(n));
      const int status = Wait(c);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      std::vector<uint8_t> log = ReadBytes(dir_ / "CUST.LOG");
      ASSERT_GT(log.size(), 87u);
      if (cut == "empty") log.clear();
      if (cut == "half start") log.resize(50);
      if (cut == "torn trailer") log.resize(log.size() - 3);
      for (int i = 0; cut == "torn piece" && i < 700; ++i) log.push_back(uint8_t(i * 7 + 1));
      WriteBytes(dir_ / "CUST.LOG", log);
      ++tried;
      ExpectRolledBack(before);
      EXPECT_TRUE(Consistent(dir_ / "CUST"));
    }
  }
  EXPECT_EQ(tried, 8);
}

// Two runs of one program (one station profile, so one folder for their
// transaction files) are in transactions at once, on two files and on one
// file (the second waits for the first's header lock); one killed right
// after LOGOUT or in the middle of a transaction keeps no other run of the
// program from starting its own.
TEST_F(SharedStationTest, EveryRunOfAProgramHasATransactionFileOfItsOwn) {
  for (const char* name : {"A", "B"}) {
    FileDecl d = CustDecl(dir_ / name);
    d.attributes = kFileCreate;
    File f(d);
    ASSERT_EQ(f.Create(), 0);
  }
  CreateWith(5);
  const std::string profile = StationProfile(0);
  char line[8] = {};
  int n = 0;
  auto both = [&](const char* first, const char* second, bool waits) {
    const std::string stop1 = dir_ / ("S" + std::to_string(++n)),
                      stop2 = dir_ / ("S" + std::to_string(++n));
    Child one = Spawn({"open", dir_.path(), stop1, first, std::to_string(100 + n)}, profile);
    ASSERT_EQ(::read(one.out, line, 5), 5);
    Child two = Spawn({"open", dir_.path(), stop2, second, std::to_string(101 + n)}, profile);
    if (waits) {
      ::usleep(300000);  // the second has started its transaction and waits
      WriteBytes(stop1, {});
    }
    EXPECT_EQ(::read(two.out, line, 5), 5);
    WriteBytes(stop1, {});
    WriteBytes(stop2, {});
    EXPECT_TRUE(Succeeded(Wait(one)));
    EXPECT_TRUE(Succeeded(Wait(two)));
  };
  both("A", "B", false);
  both("CUST", "CUST", true);
  {
    Child c = Spawn({"logout", dir_.path()}, profile);
    ASSERT_EQ(::read(c.out, line, 6), 6);
    ::kill(c.pid, SIGKILL);
    Wait(c);
  }
  both("A", "B", false);
  Child c = Spawn({"crash", dir_.path(), "1"}, profile, "journal-synced:3");
  const bool crashed = !Succeeded(Wait(c));
  both("CUST", "B", false);
  std::set<int32_t> codes;
  File f(CustDecl(dir_ / "CUST"));
  ASSERT_EQ(f.Open(), 0);
  f.Set(f.key(0));
  while (f.Next() == 0) codes.insert(f.As<CustRecord>().CODE);
  std::set<int32_t> want = {1, 2, 3, 4, 5, 104, 105, 108};
  if (!crashed) want.insert({500, 501, 502});  // built without crash points
  EXPECT_EQ(codes, want);
  f.Close();
  EXPECT_TRUE(Consistent(dir_ / "CUST"));
}

// The churn station's log after a kill: the codes and versions once every
// finished unit is applied to `start`, and with the unfinished one too.
void ApplyLog(const std::string& text, std::map<int32_t, int> start, std::map<int32_t, int>* done,
              std::map<int32_t, int>* with_last) {
  *done = start;
  std::map<int32_t, int> unit = start;
  size_t at = 0;
  while (at < text.size()) {
    const size_t nl = text.find('\n', at);
    if (nl == std::string::npos) break;  // a line cut short: never started
    const std::string line = text.substr(at, nl - at);
    at = nl + 1;
    int32_t code = 0;
    int ver = 0;
    std::sscanf(line.c_str() + std::min<size_t>(line.size(), 1), "%d %d", &code, &ver);
    if (line == "U") unit = *done;
    if (line == "C") *done = unit;
    if (line == "E") unit.clear();
    if (line[0] == 'A' || line[0] == 'P') unit[code] = ver;
    if (line[0] == 'D') unit.erase(code);
  }
  *with_last = unit;
}

// Reads the file as a program would after the kill: OPEN (which recovers),
// every record in record order and by each key. "" when every record is
// whole and the keys agree, else what is wrong; *state gets the records.
std::string ReadBack(const std::string& base, std::map<int32_t, int>* state, bool* refused) {
  state->clear();
  File f(CustDecl(base));
  if (int err = f.Open()) {
    *refused = true;
    return "OPEN answered " + std::to_string(err);
  }
  f.Set();
  int err;
  while ((err = f.Next()) == 0) {
    const CustRecord& r = f.As<CustRecord>();
    const std::string name(Clip(r.NAME.view()));
    const int ver = std::atoi(name.substr(name.find('V') + 1).c_str());
    std::string memo = f.MemoText(0);
    memo.erase(memo.find_last_not_of(' ') + 1);
    if (name != "R" + std::to_string(r.CODE) + "V" + std::to_string(ver) ||
        memo != ChurnMemo(r.CODE, ver) || r.AGE != ver % 90)
      return "record " + std::to_string(r.CODE) + " half written";
    (*state)[r.CODE] = ver;
  }
  if (err != 33) return "NEXT answered " + std::to_string(err);
  if (f.Records() != int64_t(state->size())) return "RECORDS disagrees";
  for (int k = 0; k < 2; ++k) {
    if (f.Records(f.key(k)) != int64_t(state->size())) return "key " + std::to_string(k) + " count";
    std::map<int32_t, int> by_key;
    f.Set(f.key(k));
    while (f.Next() == 0) by_key[f.As<CustRecord>().CODE] = 0;
    if (by_key.size() != state->size()) return "key " + std::to_string(k) + " entries";
  }
  f.Close();
  if (!Consistent(base)) return "files the inspector rejects";
  return "";
}

// A writer killed at random moments (1 to 40 ms after it starts working)
// while it adds, rewrites and deletes records with memos, one unit in four
// a transaction, now and then PACK, BUILD and EMPTY, with a second station
// opening and walking the file all along: every kill leaves a file that
// opens, whose records are those of the finished units (or with the unit
// under way, whole), and whose keys agree with them.
TEST_F(SharedStationTest, WritersKilledAtRandomMomentsLeaveWholeFiles) {
  const int kills = LongTests() ? 1000 : 25;
  CreateWith(0);
  const std::string stop = dir_ / "STOP", log = dir_ / "churn.log";
  Child peek = Spawn({"peek", dir_.path(), stop}, StationProfile(1));
  std::mt19937 rng(20261208);
  std::map<int32_t, int> state;
  int tried = 0, mismatches = 0, refused = 0, disagreeing = 0, failed = 0;
  for (int i = 0; i < kills; ++i) {
    nv::GetEnv()->Remove(log);
    Child c = Spawn({"churn", dir_.path(), std::to_string(i), log}, StationProfile(0));
    char line[4] = {};
    if (::read(c.out, line, 3) != 3) {
      ++failed;
      Wait(c);
      continue;
    }
    ::usleep(useconds_t(1000 + rng() % 40000));
    ::kill(c.pid, SIGKILL);
    const int status = Wait(c);
    if (!WIFSIGNALED(status)) ++failed;  // the churn stopped on an error
    ++tried;
    std::string text;
    nv::ReadWholeFile(log, &text);
    std::map<int32_t, int> done, with_last, now;
    ApplyLog(text, state, &done, &with_last);
    bool open_refused = false;
    const std::string fault = ReadBack(dir_ / "CUST", &now, &open_refused);
    if (open_refused) {
      ++refused;
    } else if (!fault.empty()) {
      ++disagreeing;
    } else if (now != done && now != with_last) {
      ++mismatches;
    }
    EXPECT_EQ(fault, "") << "kill " << i;
    EXPECT_TRUE(now == done || now == with_last) << "kill " << i;
    if (open_refused) break;
    state = now;
  }
  WriteBytes(stop, {});
  EXPECT_TRUE(Succeeded(Wait(peek))) << "the second station";
  std::printf(
      "random kills: %d tried, %d mismatches, %d files OPEN refuses, %d with keys "
      "disagreeing, %d writers stopped by an error\n",
      tried, mismatches, refused, disagreeing, failed);
  EXPECT_EQ(failed, 0);
  EXPECT_GT(tried, kills / 2);
}

// EMPTY killed at every point: the next open finds the five records or
// none, and keys that agree.
TEST_F(SharedStationTest, EmptyKilledAtCrashPointsLeavesTheOldOrTheEmptyFile) {
  NEEDS_CRASH_POINTS();
  int tried = 0;
  for (const char* point : {"after-mark", "after-header", "before-key", "before-unmark"}) {
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE(std::string(point) + ":" + std::to_string(n));
      for (const char* name : {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03"})
        nv::GetEnv()->Remove(dir_ / name);
      CreateWith(5);
      Child c = Spawn({"empty", dir_.path()}, StationProfile(0), point + (":" + std::to_string(n)));
      if (Succeeded(Wait(c))) continue;
      ++tried;
      File f(CustDecl(dir_ / "CUST"));
      ASSERT_EQ(f.Open(), 0);
      const int64_t records = f.Records();
      EXPECT_TRUE(records == 0 || records == 5) << records;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(f.Records(f.key(k)), records) << k;
      f.Close();
      EXPECT_TRUE(Consistent(dir_ / "CUST"));
    }
  }
  std::printf("EMPTY killed at %d points\n", tried);
}

// PACK killed at every point (while it deletes, writes its work files, puts
// them in place, builds the keys): the next open finds records 1, 3 and 5 as
// they were, 2 and 4 as they were or gone, and the files consistent.
TEST_F(SharedStationTest, PackKilledAtCrashPointsLeavesTheOldOrThePackedFile) {
  NEEDS_CRASH_POINTS();
  const std::vector<std::string> points = {"after-mark",   "before-data", "pack-rename",
                                           "pack-renamed", "before-key",  "after-header",
                                           "before-unmark"};
  const int passages = LongTests() ? 8 : 2;
  int tried = 0;
  for (const std::string& point : points) {
    for (int n = 1; n <= passages; ++n) {
      SCOPED_TRACE(point + ":" + std::to_string(n));
      for (const char* name :
           {"CUST.DAT", "CUST.MEM", "CUST.K01", "CUST.K02", "CUST.K03", "CUST.T00", "CUST.M00"})
        nv::GetEnv()->Remove(dir_ / name);
      CreateWith(5);
      Child c = Spawn({"pack", dir_.path()}, StationProfile(0), point + ":" + std::to_string(n));
      int status = Wait(c);
      if (!(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)) {
        EXPECT_TRUE(Succeeded(status));
        continue;
      }
      ++tried;
      File f(CustDecl(dir_ / "CUST"));
      ASSERT_EQ(f.Open(), 0);
      std::map<int32_t, std::string> seen;
      f.Set(f.key(0));
      while (f.Next() == 0) {
        std::string memo = f.MemoText(0);
        memo.erase(memo.find_last_not_of(' ') + 1);
        seen[f.As<CustRecord>().CODE] =
            std::string(Clip(f.As<CustRecord>().NAME.view())) + "/" + memo;
      }
      EXPECT_EQ(f.Records(), int64_t(seen.size()));
      EXPECT_EQ(f.Records(f.key(1)), int64_t(seen.size()));
      f.Close();
      for (int i = 1; i <= 5; ++i) {
        const std::string want = "INICIAL " + std::to_string(i) + "/nota " + std::to_string(i);
        if (i % 2 == 0 && !seen.count(i)) continue;
        EXPECT_EQ(seen[i], want) << i;
      }
      EXPECT_LE(seen.size(), 5u);
      EXPECT_TRUE(Consistent(dir_ / "CUST"));
    }
  }
  std::printf("PACK killed at %d points\n", tried);
  EXPECT_GT(tried, 4);
}

}  // namespace
}  // namespace flattest
