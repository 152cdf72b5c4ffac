// Two programs on one table: the station program (station/station.cpp)
// adds, holds or locks while this test works on the same files through its
// own open. The table's byte-range locks are open-file-description locks,
// so the two see each other as two stations would.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "drivers/dbase3/dbf_check.h"
#include "tests/drivers/dbase3/db3_test_decl.h"
#include "tests/support/fake_env.h"

extern char** environ;

namespace db3test {
namespace {

std::string StationPath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string self(buf, n > 0 ? size_t(n) : 0);
  return self.substr(0, self.find_last_of('/') + 1) + "db3_station";
}

// A running station; its first output line is awaited by Line().
class Station {
 public:
  explicit Station(std::vector<std::string> args) {
    args.insert(args.begin(), StationPath());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
  }
  ~Station() {
    if (out_) std::fclose(out_);
    if (pid_ > 0) Wait();
  }
  std::string Line() {
    char buf[256] = {};
    if (!std::fgets(buf, sizeof buf, out_)) return "";
    std::string s(buf);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = 0;
  FILE* out_ = nullptr;
};

class Db3Stations : public TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    File f(CustDecl(Path("CUST")));
    ASSERT_EQ(f.Create(), 0);
  }
};

TEST_F(Db3Stations, TwoProgramsAddingLoseNothing) {
  {
    Station a({"add", dir_, "1", "400"});
    Station b({"add", dir_, "1001", "400"});
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
  }
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Share(), 0);
  EXPECT_EQ(f.Records(), 800);
  EXPECT_EQ(f.Records(f.key(0)), 800);
  Fill(f, 1350, "");
  ASSERT_EQ(f.Get(f.key(0)), 0);
  EXPECT_EQ(Clip(f.MemoText(0)), "memo 1350");
  const db3::CheckResult r =
      db3::CheckTable(Path("CUST.DBF"), {Path("CUCODE.NDX"), Path("CUNAME.NDX")});
  EXPECT_EQ(r.status, 0) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(r.live, 800u);
}

TEST_F(Db3Stations, HeldRecordAndLockedTable) {
  {
    Station a({"add", dir_, "1", "10"});
    ASSERT_EQ(a.Wait(), 0);
  }
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Share(), 0);
  const std::string stop = Path("stop");
  {
    Station holder({"hold", dir_, "5", stop});
    ASSERT_EQ(holder.Line(), "held");
    Fill(f, 5, "");
    f.Hold();
    EXPECT_EQ(f.Get(f.key(0)), 43);
    ASSERT_EQ(f.Get(f.key(0)), 0);  // without a hold it is read
    f.As<CustRecord>().AMOUNT = 9;
    EXPECT_EQ(f.Put(), 5);
    Fill(f, 6, "");
    ASSERT_EQ(f.Get(f.key(0)), 0);
    f.As<CustRecord>().AMOUNT = 9;
    EXPECT_EQ(f.Put(), 0);
    EXPECT_EQ(f.Lock(0), 32);
    EXPECT_EQ(f.Pack(), 5);  // another station has the table open
    WriteBytes("stop", {});
    EXPECT_EQ(holder.Wait(), 0);
  }
  std::filesystem::remove(stop);
  Fill(f, 5, "");
  f.Hold();
  EXPECT_EQ(f.Get(f.key(0)), 0);
  EXPECT_EQ(f.Release(), 0);
  {
    Station locker({"lock", dir_, stop});
    ASSERT_EQ(locker.Line(), "locked");
    Fill(f, 50, "NUEVO");
    EXPECT_EQ(f.Add(), 32);
    EXPECT_EQ(f.Lock(0), 32);
    WriteBytes("stop", {});
    EXPECT_EQ(locker.Wait(), 0);
  }
  EXPECT_EQ(f.Add(), 0);
  EXPECT_EQ(f.Lock(), 0);
  EXPECT_EQ(f.Unlock(), 0);
}

// Codes of the records a reader sees through each index, "1,2,3|3,1,2".
std::string SeenByKeys(File& f) {
  std::string out;
  for (int k = 0; k < 2; ++k) {
    if (k) out += "|";
    f.Set(f.key(k));
    std::vector<int32_t> codes;
    int err;
    while ((err = f.Next()) == 0) codes.push_back(int32_t{f.As<CustRecord>().CODE});
    if (err != 33) return "error " + std::to_string(err);
    std::sort(codes.begin(), codes.end());
    for (int32_t c : codes) out += std::to_string(c) + ",";
  }
  return out;
}

std::string Codes(int first, int last) {
  std::string s;
  for (int c = first; c <= last; ++c) s += std::to_string(c) + ",";
  return s + "|" + s;
}

// A program that denies others writing streams ADDs: the count in the
// header waits for its FLUSH while index pages may reach the disk before.
// A reader sharing the table sees the counted records only, without error;
// an exclusive open meeting such an entry calls the index damaged.
TEST_F(Db3Stations, ReaderSkipsEntriesOfRecordsAStreamingWriterHasNotCounted) {
  File w(CustDecl(Path("CUST")));
  ASSERT_EQ(w.Open(kReadWrite | kDenyWrite), 0) << ErrorCode();
  for (int code = 1; code <= 10; ++code) {
    Fill(w, code, "N" + std::to_string(code % 13));
    ASSERT_EQ(w.Add(), 0);
  }
  const size_t index_before = Bytes("CUCODE.NDX").size();
  ASSERT_EQ(w.Send("BUFFERS=2"), "4096");  // index pages spill at once
  ASSERT_EQ(w.Stream(), 0);
  File r(CustDecl(Path("CUST")));
  ASSERT_EQ(r.Share(kReadOnly | kDenyNone), 0) << ErrorCode();
  for (int code = 11; code <= 400; ++code) {
    Fill(w, code, "N" + std::to_string(code % 13));
    ASSERT_EQ(w.Add(), 0) << code;
    // Between two of the writer's operations the indexes in the files are
    // whole trees, never one split in the middle.
    if (code % 10 == 0) {
      ASSERT_EQ(SeenByKeys(r), Codes(1, 10)) << code;
    }
  }
  ASSERT_GT(Bytes("CUCODE.NDX").size(), index_before + 4 * 512);

  EXPECT_EQ(r.Records(), 10);
  EXPECT_EQ(r.Records(r.key(0)), 10);
  EXPECT_EQ(SeenByKeys(r), Codes(1, 10));
  Fill(r, 300, "");
  EXPECT_EQ(r.Get(r.key(0)), 35);
  EXPECT_EQ(r.GetOrdinal(r.key(0), 11), 35);
  ASSERT_EQ(r.GetOrdinal(r.key(0), 10), 0);
  EXPECT_EQ(int32_t{r.As<CustRecord>().CODE}, 10);

  ASSERT_EQ(w.Flush(), 0);
  EXPECT_EQ(r.Records(r.key(1)), 400);
  EXPECT_EQ(SeenByKeys(r), Codes(1, 400));
  ASSERT_EQ(r.Close(), 0);
  ASSERT_EQ(w.Close(), 0);

  // The same entries in a table whose count was cut to 390 (a writer that
  // never flushed): skipped when shared, damage when exclusive.
  std::vector<uint8_t> b = Bytes("CUST.DBF");
  b[4] = 390 % 256;
  b[5] = 390 / 256;
  WriteBytes("CUST.DBF", b);
  ASSERT_EQ(r.Share(kReadOnly | kDenyNone), 0) << ErrorCode();
  EXPECT_EQ(SeenByKeys(r), Codes(1, 390));
  ASSERT_EQ(r.Close(), 0);
  ASSERT_EQ(r.Open(kReadOnly | kDenyWrite), 0) << ErrorCode();
  EXPECT_EQ(SeenByKeys(r), "error 38");
}

// A program streaming into a table no one else may write is killed before
// its FLUSH: its records and count never reach the table, but index pages
// naming them do, and so do a rewritten and a deleted record whose index
// changes wait in memory. The next program that opens the table for
// writing finds every index agreeing with the table.
class Db3Killed : public Db3Stations {
 protected:
  // Codes 1 to 10 added and flushed, then a streaming writer killed.
  void KillWriter(std::vector<std::string> args) {
    {
      Station a({"add", dir_, "1", "10"});
      ASSERT_EQ(a.Wait(), 0);
    }
    const size_t index_before = Bytes("CUCODE.NDX").size();
    args.insert(args.begin(), {"stream", dir_});
    Station w(args);
    ASSERT_EQ(w.Line(), "ready");
    w.Kill();
    ASSERT_GT(Bytes("CUCODE.NDX").size(), index_before + 4 * 512);
  }
  void Check(uint32_t live) {
    const db3::CheckResult r =
        db3::CheckTable(Path("CUST.DBF"), {Path("CUCODE.NDX"), Path("CUNAME.NDX")});
    EXPECT_EQ(r.status, 0) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.live, live);
  }
};

TEST_F(Db3Killed, IndexesAgreeWithTheTableAfterAStreamingWriterIsKilled) {
  ASSERT_NO_FATAL_FAILURE(KillWriter({"11", "390"}));
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Share(), 0) << ErrorCode();
  const std::vector<uint8_t> table = Bytes("CUST.DBF");
  EXPECT_EQ(table[14], 0);
  // The records written but never counted are cut off.
  EXPECT_EQ(table.size(),
            size_t(table[8] | table[9] << 8) + 10u * (table[10] | table[11] << 8) + 1);
  EXPECT_EQ(table.back(), 0x1A);
  Check(9);
  EXPECT_EQ(SeenByKeys(f), "1,2,3,4,5,7,8,9,10,|1,2,3,4,5,7,8,9,10,");
  // The lost records go in again under the record numbers they had.
  for (int code = 6; code <= 400; code += code == 6 ? 5 : 1) {
    Fill(f, code, "N" + std::to_string(code % 97));
    ASSERT_EQ(f.Add(), 0) << code;
  }
  ASSERT_EQ(f.Close(), 0);
  Check(400);
}

// EMPTY cuts the table at once: its count cannot wait for the FLUSH.
TEST_F(Db3Killed, TableEmptiedByAStreamingWriterThatIsKilledStaysReadable) {
  ASSERT_NO_FATAL_FAILURE(KillWriter({"11", "300", "empty"}));
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Share(), 0) << ErrorCode();
  EXPECT_EQ(f.Records(), 0);
  Check(0);
  Fill(f, 11, "N11");
  ASSERT_EQ(f.Add(), 0);
  ASSERT_EQ(f.Close(), 0);
  Check(1);
}

// While a writer streams, the table's header says so (byte 14, which
// dBase III programs leave alone) until its FLUSH or CLOSE; a reader
// sharing the table meanwhile repairs nothing. FLUSH also ends streaming.
TEST_F(Db3Stations, StreamingWriterMarksTheHeaderUntilFlushAndClose) {
  auto mark = [&] { return int(Bytes("CUST.DBF")[14]); };
  File w(CustDecl(Path("CUST")));
  ASSERT_EQ(w.Open(kReadWrite | kDenyWrite), 0) << ErrorCode();
  ASSERT_EQ(w.Stream(), 0);
  EXPECT_EQ(mark(), 0);
  for (int code = 1; code <= 300; ++code) {
    Fill(w, code, "N" + std::to_string(code % 7));
    ASSERT_EQ(w.Add(), 0);
  }
  {
    File r(CustDecl(Path("CUST")));
    ASSERT_EQ(r.Share(kReadOnly | kDenyNone), 0) << ErrorCode();
    EXPECT_EQ(r.Records(), 0);
    File x(CustDecl(Path("CUST")));
    EXPECT_NE(x.Share(), 0);  // so a mark a writable open finds has no owner
  }
  EXPECT_EQ(mark(), 1);
  ASSERT_EQ(w.Flush(), 0);
  const std::vector<uint8_t> head = Bytes("CUST.DBF");
  EXPECT_EQ(std::vector<uint8_t>(head.begin() + 12, head.begin() + 32),
            std::vector<uint8_t>(20, 0));
  // FLUSH ended streaming: the next ADD reaches the table with its count.
  Fill(w, 301, "B");
  ASSERT_EQ(w.Add(), 0);
  EXPECT_EQ(mark(), 0);
  EXPECT_EQ(Bytes("CUST.DBF")[4] | Bytes("CUST.DBF")[5] << 8, 301);
  ASSERT_EQ(w.Stream(), 0);
  Fill(w, 302, "C");
  ASSERT_EQ(w.Add(), 0);
  EXPECT_EQ(mark(), 1);
  ASSERT_EQ(w.Close(), 0);
  EXPECT_EQ(mark(), 0);
  File f(CustDecl(Path("CUST")));
  ASSERT_EQ(f.Share(), 0) << ErrorCode();
  EXPECT_EQ(SeenByKeys(f), Codes(1, 302));
}

// A FLUSH whose files cannot be forced to disk says so (-247, 90); the
// next one, with the disk back, succeeds.
TEST_F(Db3Stations, FlushThatCannotReachTheDiskIsAnError) {
  nvtest::FailingEnv env;
  nvtest::ScopedEnv use(&env);
  File w(CustDecl(Path("CUST")));
  ASSERT_EQ(w.Open(kReadWrite | kDenyWrite), 0) << ErrorCode();
  ASSERT_EQ(w.Stream(), 0);
  Fill(w, 1, "A");
  ASSERT_EQ(w.Add(), 0);
  env.fail_syncs = true;
  EXPECT_EQ(w.Flush(), 90);
  EXPECT_EQ(FileErrorCode(), "-247");
  env.fail_syncs = false;
  EXPECT_EQ(w.Flush(), 0);
  ASSERT_EQ(w.Close(), 0);
}

}  // namespace
}  // namespace db3test
