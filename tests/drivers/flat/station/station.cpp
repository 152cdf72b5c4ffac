// One station of the flat driver's multi-process tests. The folder holds a
// customer file CUST (see flat_test_decl.h); the station's transaction file
// goes where its profile ($NVRUN_PROFILE, section NWN21) says.
//
//   flat_station add <dir> <first code> <count> <batch> [mode]
//     adds codes first..first+count-1 in batches of `batch`; batch i runs
//     outside a transaction (i % 3 == 0), in one that commits (1) or in one
//     that rolls back (2). The file is opened with `mode` (default 0x42).
//   flat_station open <dir> <stop file> [<file> <code>]
//     opens CUST (or <file>) shared (with a code: then adds it in a
//     transaction), prints "open" and keeps it so until the stop file
//     exists (then commits).
//   flat_station churn <dir> <seed> <log>
//     random work until it is killed: ADD, PUT and DELETE with memos, one
//     unit in four a transaction of 1 to 8 of them, now and then PACK
//     (refused while another station has the file), BUILD and EMPTY. Each
//     unit is written to the log ("U" and its operations) before it starts
//     and "C" after it ends; prints "go" once the file is open.
//   flat_station peek <dir> <stop file>
//     opens, walks the code key, closes, again, until the stop file exists.
//   flat_station logout <dir>
//     opens CUST, starts a transaction, prints "ready" and sleeps.
//   flat_station read <dir> <stop file>
//     walks the code key forwards until the stop file exists, checking that
//     every walk is in ascending order; prints the number of walks.
//   flat_station crash <dir> <inside>
//     adds three records and rewrites record 2 (inside a transaction when
//     <inside> is 1, committed at the end); NV_FLAT_CRASH kills it on the way.
//   flat_station txn2 <dir> <first> <second> <code>
//     opens both data files (then "open" and waits for the file OPENED), one
//     transaction adding <code> to <first> (then "ready" and waits for GO),
//     then to <second>; exit 3 when it had to roll back.
//   flat_station readall <dir> <go file>
//     opens CUST shared, read-only (then "open" and waits for the go file),
//     and prints every record in code order as "code|name|memo", then
//     "records n" (RECORDS of the file).
//   flat_station pack <dir>
//     deletes records 2 and 4 and packs the file.
//   flat_station empty <dir>
//     empties the file.
//   flat_station hold <dir> <record> <seconds>
//     holds the record and sleeps, so another station meets the mark.
// Exit status 0 on success; the failing step and error on stderr otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <random>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/drivers/flat/flat_test_decl.h"

using namespace flattest;

namespace {

int Fail(const char* what, int err) {
  std::fprintf(stderr, "station %d: %s failed with %d\n", int(::getpid()), what, err);
  return 1;
}

int Add(const std::string& dir, int first, int count, int batch, uint32_t mode) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(mode)) return Fail("open", e);
  f.SetProperty(29441, "1");
  for (int b = 0; b * batch < count; ++b) {
    const int mode = b % 3;
    if (mode && f.Logout() != 0) return Fail("logout", ErrorCode());
    for (int i = b * batch; i < count && i < (b + 1) * batch; ++i) {
      Fill(f, first + i, "STATION " + std::to_string(first + i), int16_t(i % 90));
      f.SetMemoText(0, "memo " + std::to_string(first + i));
      if (int e = f.Add()) return Fail("add", e);
    }
    if (mode == 1 && f.Commit() != 0) return Fail("commit", ErrorCode());
    if (mode == 2 && f.Rollback() != 0) return Fail("rollback", ErrorCode());
  }
  if (int e = f.Close()) return Fail("close", e);
  return 0;
}

int Read(const std::string& dir, const std::string& stop) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadOnly | kDenyNone)) return Fail("open", e);
  int walks = 0;
  while (::access(stop.c_str(), F_OK) != 0) {
    if (int e = f.Set(f.key(0))) return Fail("set", e);
    int32_t last = INT32_MIN;
    int e = 0;
    while ((e = f.Next()) == 0) {
      int32_t code = f.As<CustRecord>().CODE;
      if (code <= last) return Fail("key order", code);
      last = code;
    }
    if (e != 33) return Fail("next", e);
    ++walks;
  }
  std::printf("%d\n", walks);
  return 0;
}

int Crash(const std::string& dir, bool inside) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  f.SetProperty(29441, "1");
  if (inside && f.Logout() != 0) return Fail("logout", ErrorCode());
  for (int i = 0; i < 3; ++i) {
    Fill(f, 500 + i, "NUEVO " + std::to_string(i));
    f.SetMemoText(0, std::string(300, char('a' + i)));
    if (int e = f.Add()) return Fail("add", e);
  }
  if (int e = f.Get(int32_t(2))) return Fail("get", e);
  Fill(f, 2, "CAMBIADO", 55, "SORIA");
  f.SetMemoText(0, "otra nota");
  if (int e = f.Put()) return Fail("put", e);
  if (inside && f.Commit() != 0) return Fail("commit", ErrorCode());
  return f.Close() ? 1 : 0;
}

// A transaction writing <first> then <second> (data files A or B in dir),
// after "ready" on standard output and once the file GO exists. Exit 0 when
// it committed, 3 when the second file answered 32 and it rolled back.
int Txn2(const std::string& dir, const std::string& first, const std::string& second, int code) {
  File a(CustDecl(dir + "/" + first)), b(CustDecl(dir + "/" + second));
  if (int e = a.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  if (int e = b.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  a.SetProperty(29441, "1");
  b.SetProperty(29441, "1");
  std::printf("open\n");
  std::fflush(stdout);
  while (::access((dir + "/OPENED").c_str(), F_OK) != 0) ::usleep(2000);
  if (a.Logout() != 0) return Fail("logout", ErrorCode());
  Fill(a, code, "PRIMERO");
  if (int e = a.Add()) return Fail("add", e);
  std::printf("ready\n");
  std::fflush(stdout);
  while (::access((dir + "/GO").c_str(), F_OK) != 0) ::usleep(2000);
  Fill(b, code, "SEGUNDO");
  int e = b.Add();
  if (e == 32) {
    if (a.Rollback() != 0) return Fail("rollback", ErrorCode());
    return 3;
  }
  if (e) return Fail("add", e);
  if (a.Commit() != 0) return Fail("commit", ErrorCode());
  return 0;
}

int ReadAll(const std::string& dir, const std::string& go) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadOnly | kDenyNone)) return Fail("open", e);
  std::printf("open\n");
  std::fflush(stdout);
  while (::access(go.c_str(), F_OK) != 0) ::usleep(2000);
  if (int e = f.Set(f.key(0))) return Fail("set", e);
  int e = 0;
  while ((e = f.Next()) == 0) {
    std::string memo = f.MemoText(0);
    memo.erase(memo.find_last_not_of(' ') + 1);
    std::printf("%d|%s|%s\n", int(f.As<CustRecord>().CODE),
                std::string(Clip(f.As<CustRecord>().NAME.view())).c_str(), memo.c_str());
  }
  if (e != 33) return Fail("next", e);
  std::fflush(stdout);  // what was read shows at once
  std::printf("records %lld\n", (long long)f.Records());
  return 0;
}

// Deletes records 2 and 4, then PACK.
int Pack(const std::string& dir) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  for (int32_t code : {2, 4}) {
    if (int e = f.Get(code)) return Fail("get", e);
    if (int e = f.Delete()) return Fail("delete", e);
  }
  if (int e = f.Pack()) return Fail("pack", e);
  return f.Close() ? 1 : 0;
}

int KeepOpen(const std::string& dir, const std::string& stop, const std::string& name, int code) {
  File f(CustDecl(dir + "/" + name));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  f.SetProperty(29441, "1");
  if (code) {
    if (f.Logout() != 0) return Fail("logout", ErrorCode());
    Fill(f, code, "EN TRANSACCION");
    if (int e = f.Add()) return Fail("add", e);
  }
  std::printf("open\n");
  std::fflush(stdout);
  while (::access(stop.c_str(), F_OK) != 0) ::usleep(2000);
  if (code && f.Commit() != 0) return Fail("commit", ErrorCode());
  return f.Close() ? 1 : 0;
}

int LogoutAndSleep(const std::string& dir) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  f.SetProperty(29441, "1");
  if (f.Logout() != 0) return Fail("logout", ErrorCode());
  std::printf("ready\n");
  std::fflush(stdout);
  ::sleep(60);
  return 0;
}

void ChurnFill(File& f, int32_t code, int ver) {
  Fill(f, code, "R" + std::to_string(code) + "V" + std::to_string(ver), int16_t(ver % 90),
       ver % 5 == 0 ? "" : "C" + std::to_string(ver % 7));
  f.SetMemoText(0, ChurnMemo(code, ver));
}

int Churn(const std::string& dir, unsigned seed, const std::string& log_path) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  f.SetProperty(29441, "1");
  std::map<int32_t, int> live;  // code -> version
  int32_t next = 1;
  f.Set();
  while (f.Next() == 0) {
    const CustRecord& r = f.As<CustRecord>();
    const std::string name(Clip(r.NAME.view()));
    live[r.CODE] = std::atoi(name.substr(name.find('V') + 1).c_str());
    next = std::max(next, r.CODE + 1);
  }
  const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (log < 0) return Fail("log", errno);
  std::printf("go\n");
  std::fflush(stdout);
  for (;;) {
    const bool txn = pick(4) == 0;
    const int count = txn ? 1 + pick(8) : 1;
    const int whole = txn ? 100 : pick(100);
    std::string unit = "U\n";
    if (whole < 3) {
      if (int e = f.Pack(); e != 0 && e != 5) return Fail("pack", e);
      continue;
    }
    if (whole < 6) {
      if (int e = f.Build()) return Fail("build", e);
      continue;
    }
    if (whole < 7 && live.size() > 40) {
      unit += "E\n";
      if (::write(log, unit.data(), unit.size()) < 0) return Fail("log", errno);
      if (int e = f.Empty()) return Fail("empty", e);
      live.clear();
      if (::write(log, "C\n", 2) < 0) return Fail("log", errno);
      continue;
    }
    // The unit's operations, chosen before it starts.
    std::vector<std::pair<char, std::pair<int32_t, int>>> ops;
    std::map<int32_t, int> after = live;
    for (int i = 0; i < count; ++i) {
      const int what = after.empty() ? 0 : pick(10);
      if (what < 4) {
        ops.push_back({'A', {next, 0}});
        after[next++] = 0;
      } else {
        auto it = after.begin();
        std::advance(it, pick(int(after.size())));
        if (what < 7) {
          ops.push_back({'P', {it->first, it->second + 1}});
          ++it->second;
        } else {
          ops.push_back({'D', {it->first, 0}});
          after.erase(it);
        }
      }
      unit += std::string(1, ops.back().first) + " " + std::to_string(ops.back().second.first) +
              " " + std::to_string(ops.back().second.second) + "\n";
    }
    if (::write(log, unit.data(), unit.size()) < 0) return Fail("log", errno);
    if (txn && f.Logout() != 0) return Fail("logout", ErrorCode());
    for (const auto& [op, cv] : ops) {
      const auto [code, ver] = cv;
      int e = 0;
      if (op == 'A') {
        ChurnFill(f, code, ver);
        e = f.Add();
      } else if (f.As<CustRecord>().CODE = code, (e = f.Get(f.key(0))) == 0) {
        if (op == 'P') {
          ChurnFill(f, code, ver);
          e = f.Put();
        } else {
          e = f.Delete();
        }
      }
      if (e) return Fail(op == 'A' ? "add" : op == 'P' ? "put" : "delete", e);
    }
    if (txn && f.Commit() != 0) return Fail("commit", ErrorCode());
    live = after;
    if (::write(log, "C\n", 2) < 0) return Fail("log", errno);
  }
}

int Peek(const std::string& dir, const std::string& stop) {
  while (::access(stop.c_str(), F_OK) != 0) {
    File f(CustDecl(dir + "/CUST"));
    if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
    f.Set(f.key(0));
    int32_t last = INT32_MIN;
    int e = 0;
    while ((e = f.Next()) == 0) {
      if (f.As<CustRecord>().CODE <= last) return Fail("key order", f.As<CustRecord>().CODE);
      last = f.As<CustRecord>().CODE;
    }
    if (e != 33) return Fail("next", e);
    if (int e2 = f.Close()) return Fail("close", e2);
    ::usleep(3000);
  }
  return 0;
}

int Empty(const std::string& dir) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  if (int e = f.Empty()) return Fail("empty", e);
  return f.Close() ? 1 : 0;
}

int Hold(const std::string& dir, int record, int seconds) {
  File f(CustDecl(dir + "/CUST"));
  if (int e = f.Open(kReadWrite | kDenyNone)) return Fail("open", e);
  f.Hold();
  if (int e = f.Get(int32_t(record))) return Fail("get", e);
  std::printf("held\n");
  std::fflush(stdout);
  ::sleep(unsigned(seconds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string cmd = argv[1], dir = argv[2];
  if (cmd == "add" && (argc == 6 || argc == 7))
    return Add(dir, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
               argc == 7 ? uint32_t(std::strtoul(argv[6], nullptr, 0)) : kReadWrite | kDenyNone);
  if (cmd == "open" && argc == 4) return KeepOpen(dir, argv[3], "CUST", 0);
  if (cmd == "open" && argc == 6) return KeepOpen(dir, argv[3], argv[4], std::atoi(argv[5]));
  if (cmd == "logout" && argc == 3) return LogoutAndSleep(dir);
  if (cmd == "churn" && argc == 5) return Churn(dir, unsigned(std::atoi(argv[3])), argv[4]);
  if (cmd == "peek" && argc == 4) return Peek(dir, argv[3]);
  if (cmd == "read" && argc == 4) return Read(dir, argv[3]);
  if (cmd == "crash" && argc == 4) return Crash(dir, std::atoi(argv[3]) != 0);
  if (cmd == "pack" && argc == 3) return Pack(dir);
  if (cmd == "readall" && argc == 4) return ReadAll(dir, argv[3]);
  if (cmd == "empty" && argc == 3) return Empty(dir);
  if (cmd == "txn2" && argc == 6) return Txn2(dir, argv[3], argv[4], std::atoi(argv[5]));
  if (cmd == "hold" && argc == 5) return Hold(dir, std::atoi(argv[3]), std::atoi(argv[4]));
  return 2;
}
