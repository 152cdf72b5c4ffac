// Two programs on one table: the station program (station/station.cpp)
// adds, holds or locks while this test works on the same files through its
// own open. The table's byte-range locks are open-file-description locks,
// so the two see each other as two stations would.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "drivers/dbase3/dbf_check.h"
#include "tests/drivers/dbase3/db3_test_decl.h"

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

}  // namespace
}  // namespace db3test
