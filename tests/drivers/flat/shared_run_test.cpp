// Read runs of a file opened shared: whatever a reader keeps in memory (key
// pages, record blocks, records read ahead in key order, the header), the
// next read after another open's ADD, PUT, DELETE, BUILD or PACK sees the
// file as that open left it.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <set>

#include "tests/drivers/flat/flat_test_decl.h"

namespace flattest {
namespace {

// The file as `f` walks it in record order (key -1) or by a key.
std::string Walk(File& f, int key, int* count = nullptr) {
  std::string out;
  int err = key < 0 ? f.Set() : f.Set(f.key(key));
  if (err) return "SET answered " + std::to_string(err);
  int n = 0;
  while ((err = f.Next()) == 0) {
    out += std::to_string(f.As<CustRecord>().CODE) + ":" +
           std::string(Clip(f.As<CustRecord>().NAME.view())) + " ";
    ++n;
  }
  if (err != 33) out += "NEXT answered " + std::to_string(err);
  if (count) *count = n;
  return out;
}

// The declaration of a new CUST file in `dir`, to be created.
FileDecl NewCust(const TempDir& dir) {
  FileDecl d = CustDecl(dir / "CUST");
  d.attributes = kFileCreate;
  return d;
}

TEST(SharedRunTest, AReaderSeesAnotherOpensAddPutDeleteBuildAndPack) {
  TempDir dir;
  // The transaction file goes to the test's folder.
  const char* saved = std::getenv("NVRUN_PROFILE");
  const std::string saved_profile = saved ? saved : "";
  const std::string text = "[NWN21]\nNRVTMP=" + dir.path() + "\n";
  WriteBytes(dir / "run.ini", std::vector<uint8_t>(text.begin(), text.end()));
  ::setenv("NVRUN_PROFILE", (dir / "run.ini").c_str(), 1);
  FileDecl d = CustDecl(dir / "CUST");
  d.attributes = kFileCreate;
  File w(d);
  ASSERT_EQ(w.Create(), 0);
  ASSERT_EQ(w.Open(kReadWrite | kDenyNone), 0);
  w.SetProperty(29441, "1");
  File r(CustDecl(dir / "CUST"));
  ASSERT_EQ(r.Open(kReadOnly | kDenyNone), 0);
  // Enough records for walks over several key pages and record blocks.
  std::set<int32_t> live;
  for (int32_t i = 1; i <= 600; ++i) {
    Fill(w, i, "NOMBRE " + std::to_string(i * 7919 % 600));
    ASSERT_EQ(w.Add(), 0);
    live.insert(i);
  }
  std::mt19937 rng(11);
  auto any_live = [&] {
    auto it = live.begin();
    std::advance(it, rng() % live.size());
    return *it;
  };
  const char* ops[] = {"ADD", "PUT", "DELETE", "BUILD", "PACK"};
  for (int round = 0; round < 30; ++round) {
    const std::string op = ops[round % 5];
    SCOPED_TRACE(op + " in round " + std::to_string(round));
    // The reader is half way through a walk, its run kept, when the other
    // open writes.
    ASSERT_EQ(r.Set(r.key(1)), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(r.Next(), 0);
    // The reader has read ahead the records of the entries after its place;
    // half of the records changed are among them.
    const std::string at = r.Position(r.key(1));
    std::vector<int32_t> ahead;
    ASSERT_EQ(w.Reset(w.key(1), at), 0);
    while (ahead.size() < 10 && w.Next() == 0) ahead.push_back(w.As<CustRecord>().CODE);
    if (op == "ADD") {
      Fill(w, 1000 + round, "NUEVO " + std::to_string(round));
      ASSERT_EQ(w.Add(), 0);
      live.insert(1000 + round);
    } else if (op == "PUT" || op == "DELETE") {
      for (int i = 0; i < 20; ++i) {
        const int32_t code = i < int(ahead.size()) ? ahead[size_t(i)] : any_live();
        if (!live.count(code)) continue;
        w.As<CustRecord>().CODE = code;
        ASSERT_EQ(w.Get(w.key(0)), 0);
        if (op == "DELETE") {
          live.erase(w.As<CustRecord>().CODE);
          ASSERT_EQ(w.Delete(), 0);
        } else {
          w.As<CustRecord>().NAME = "CAMBIADO " + std::to_string(rng() % 1000);
          ASSERT_EQ(w.Put(), 0);
        }
      }
    } else if (op == "BUILD") {
      ASSERT_EQ(w.Build(), 0);
    } else {
      // Inside a transaction PACK copies its work files over the files the
      // reader has open (a PACK refused because another open has the file
      // leaves it as it was, and the reader sees that).
      ASSERT_EQ(w.Logout(), 0);
      const int err = w.Pack();
      ASSERT_EQ(err ? w.Rollback() : w.Commit(), 0) << err;
    }
    // The reader's walk goes on from its place as a new walk from there
    // reads the file now (the writer's walk: its first entry may be the one
    // the reader stands on).
    ASSERT_EQ(w.Reset(w.key(1), at), 0);
    int werr = w.Next();
    if (werr == 0 && w.Position(w.key(1)) == at) werr = w.Next();
    for (int i = 0; i < 20; ++i, werr = w.Next()) {
      const int rerr = r.Next();
      ASSERT_EQ(rerr, werr) << "step " << i;
      if (rerr != 0) break;
      EXPECT_EQ(r.As<CustRecord>().CODE, w.As<CustRecord>().CODE) << "step " << i;
      EXPECT_EQ(r.As<CustRecord>().NAME.view(), w.As<CustRecord>().NAME.view()) << "step " << i;
    }
    for (int key : {-1, 0, 1}) {
      int count = 0;
      EXPECT_EQ(Walk(r, key, &count), Walk(w, key)) << "key " << key;
      EXPECT_EQ(count, int(live.size())) << "key " << key;
    }
    EXPECT_EQ(r.Records(), int64_t(live.size()));
  }
  r.Close();
  w.Close();
  EXPECT_TRUE(Consistent(dir / "CUST"));
  ::setenv("NVRUN_PROFILE", saved_profile.c_str(), 1);
}

// Records are read from the data file mapped in memory: a reader whose
// file another open cuts (EMPTY) and fills again reads only what the file
// holds now, whether it shares the file or opened it deny-write and cut it
// itself; a record past the end is refused, never read from the mapping.
TEST(SharedRunTest, AReaderOfAFileCutShorterReadsOnlyWhatItHolds) {
  TempDir dir;
  File w(NewCust(dir));
  ASSERT_EQ(w.Create(), 0);
  ASSERT_EQ(w.Open(kReadWrite | kDenyNone), 0);
  ASSERT_EQ(w.Stream(), 0);  // no flush after each ADD
  auto add = [&](int32_t from, int32_t to) {
    for (int32_t i = from; i <= to; ++i) {
      Fill(w, i, "NOMBRE " + std::to_string(i));
      ASSERT_EQ(w.Add(), 0);
    }
  };
  add(1, 2000);
  File r(CustDecl(dir / "CUST"));
  ASSERT_EQ(r.Open(kReadOnly | kDenyNone), 0);
  ASSERT_EQ(r.Set(r.key(0)), 0);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(r.Next(), 0);
  ASSERT_EQ(r.Get(1800), 0);
  ASSERT_EQ(w.Empty(), 0);
  EXPECT_EQ(r.Next(), 33);
  EXPECT_EQ(r.Get(1800), 35);
  add(5001, 5100);
  int count = 0;
  EXPECT_EQ(Walk(r, 0, &count).substr(0, 17), "5001:NOMBRE 5001 ");
  EXPECT_EQ(count, 100);
  EXPECT_EQ(r.Get(101), 35);
  r.Close();
  w.Close();

  // Alone (deny write): its own EMPTY, then ADDs past where the file ended.
  File x(CustDecl(dir / "CUST"));
  ASSERT_EQ(x.Open(kReadWrite | kDenyWrite), 0);
  ASSERT_EQ(x.Stream(), 0);
  ASSERT_EQ(x.Get(100), 0);
  ASSERT_EQ(x.Empty(), 0);
  EXPECT_EQ(x.Get(100), 35);
  for (int32_t i = 1; i <= 3000; ++i) {
    Fill(x, i, "OTRO " + std::to_string(i));
    ASSERT_EQ(x.Add(), 0);
  }
  ASSERT_EQ(x.Get(2999), 0);
  EXPECT_EQ(x.As<CustRecord>().CODE, 2999);
  EXPECT_EQ(Walk(x, 1, &count).empty(), false);
  EXPECT_EQ(count, 3000);
  x.Close();
  EXPECT_TRUE(Consistent(dir / "CUST"));

  // Cut behind the driver's back, the header counting records the file no
  // longer holds: refused as a damaged file before anything is read.
  std::vector<uint8_t> bytes = ReadBytes(dir / "CUST.DAT");
  bytes.resize(bytes.size() - 64 * 1024);
  WriteBytes(dir / "CUST.DAT", bytes);
  File y(CustDecl(dir / "CUST"));
  EXPECT_EQ(y.Open(kReadOnly | kDenyWrite), 36);
}

// A program that forks while its driver's thread waits for a run to end:
// the child's runs are ended by a thread of its own (the parent's thread
// and its condition are not the child's), so a child that stops reading
// does not hold up the parent's writes. The fork follows the parent's
// first run closely, while its thread may still be starting: under the
// address sanitizer that left the child's thread stuck on an allocator lock
// (about one paired run in four, with the machine busy).
TEST(SharedRunTest, AForkedChildsIdleRunDoesNotHoldUpItsParent) {
  TempDir dir;
  File w(NewCust(dir));
  ASSERT_EQ(w.Create(), 0);
  ASSERT_EQ(w.Open(kReadWrite | kDenyNone), 0);
  for (int32_t i = 1; i <= 5; ++i) {
    Fill(w, i, "NOMBRE");
    ASSERT_EQ(w.Add(), 0);
  }
  Walk(w, 0);  // a run begun: the thread is started and waits
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    File r(CustDecl(dir / "CUST"));
    int count = 0;
    const bool ok = r.Open(kReadOnly | kDenyNone) == 0 && (Walk(r, 0, &count), count == 5) &&
                    r.Set(r.key(0)) == 0 && r.Next() == 0;  // a run left idle
    if (::write(ready[1], "r", 1) != 1) ::_exit(2);
    ::usleep(1500 * 1000);
    ::_exit(ok ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  const auto t0 = std::chrono::steady_clock::now();
  Fill(w, 6, "NUEVO");
  EXPECT_EQ(w.Add(), 0);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::seconds(1)) << "the parent waited for the child's idle run";
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(w.Close(), 0);
}

}  // namespace
}  // namespace flattest
