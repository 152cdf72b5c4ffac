// bench_relink [N] [--store=DRIVER]: over a call file of N records (default 1,000,000),
//   - the longest-prefix lookup rate of call numbers in the directory;
//   - the re-linking of the calls of a number that matches 1% of them, run
//     to completion (no per-tick limit), against SQLite doing the same
//     re-link with one UPDATE over indexed tables;
//   - the same re-link in the window, ten call records per timer tick.
// Files are written to a temporary folder and removed afterwards. The store
// is the flat driver unless --store names another registered driver.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "agenda/relink.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"
#include "host/ui/headless/headless_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
using nv::dict::CallRecord;
using nv::dict::RE09Record;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int Fail(const char* what, int err) {
  std::fprintf(stderr, "bench_relink: %s failed (%d)\n", what, err);
  return 1;
}

constexpr const char* kPrefix = "0351";

struct Data {
  std::vector<std::string> directory;  // numbers
  std::vector<std::string> calls;
};

// Directory numbers: area codes, blocks of lines and full numbers, prefixes
// of each other; calls: 1% under kPrefix, the rest elsewhere.
Data MakeData(int64_t n) {
  std::mt19937_64 rng(42);
  auto digits = [&](int len) {
    std::string s;
    for (int i = 0; i < len; ++i) s += char('0' + rng() % 10);
    return s;
  };
  Data d;
  std::set<std::string> seen;
  const int64_t numbers = std::min<int64_t>(3000, std::max<int64_t>(50, n / 10));
  for (int64_t i = 0; i < numbers; ++i) {
    std::string s = "0" + std::to_string(2 + rng() % 8) + digits(1 + int(rng() % 8));
    if (s.compare(0, 4, kPrefix) == 0 || !seen.insert(s).second) continue;
    d.directory.push_back(s);
  }
  d.directory.push_back(std::string(kPrefix) + "4567");  // a longer number under the prefix
  for (int64_t i = 0; i < n; ++i) {
    if (rng() % 100 == 0) {
      d.calls.push_back(std::string(kPrefix) + digits(6));
    } else {
      std::string s = "0" + std::to_string(2 + rng() % 8) + digits(8);
      if (s.compare(0, 4, kPrefix) == 0) s[3] = '2';
      d.calls.push_back(s);
    }
  }
  return d;
}

int WriteFlat(nv::dict::Dictionary& dic, const Data& d) {
  // Written alone (deny all) in stream mode, keys built at the end.
  std::unique_ptr<nv::File> re09 = dic.NewFile("FXRE09");
  if (int err = re09->Create()) return Fail("CREATE FXRE09", err);
  if (int err = re09->Open(nv::kReadWrite | nv::kDenyAll)) return Fail("OPEN FXRE09", err);
  re09->Stream();
  int32_t owner = 0;
  for (const std::string& n : d.directory) {
    re09->Clear();
    auto& r = re09->As<RE09Record>();
    r.CODIGO.Set(++owner);
    r.NROTEL = n;
    r.GRUAGE.Set(owner % 50);
    r.CARINI = n.substr(0, 1);
    r.LONTEL = uint8_t(n.size());
    if (int err = re09->Append()) return Fail("APPEND FXRE09", err);
  }
  if (int err = re09->Build(); err != 0 && err != nv::kErrNotImplemented)
    return Fail("BUILD FXRE09", err);
  re09->Flush();
  re09->Close();
  for (const char* label : {"FXMO01", "FXMO02", "FXTR01", "FXTR02"}) {
    std::unique_ptr<nv::File> f = dic.NewFile(label);
    if (int err = f->Create()) return Fail("CREATE", err);
  }
  std::unique_ptr<nv::File> mo01 = dic.NewFile("FXMO01");
  if (int err = mo01->Open(nv::kReadWrite | nv::kDenyAll)) return Fail("OPEN", err);
  mo01->Stream();
  int32_t id = 0;
  for (const std::string& n : d.calls) {
    mo01->Clear();
    auto& r = mo01->As<CallRecord>();
    r.CODLLA = ++id;
    r.FECLLA.set_day(82000 + id % 30);
    r.NROTEL = n;
    if (int err = mo01->Append()) return Fail("APPEND", err);
  }
  if (int err = mo01->Build(); err != 0 && err != nv::kErrNotImplemented) return Fail("BUILD", err);
  mo01->Flush();
  mo01->Close();
  return 0;
}

// SQLite: the same directory and calls, indexed as the flat keys are.
struct Lite {
  sqlite3* db = nullptr;
  ~Lite() { sqlite3_close(db); }
  bool Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
      sqlite3_free(err);
      return false;
    }
    return true;
  }
};

bool WriteLite(Lite& l, const Data& d) {
  if (sqlite3_open("relink.db", &l.db) != SQLITE_OK) return false;
  if (!l.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA case_sensitive_like=ON;"
              "CREATE TABLE dir(nrotel TEXT PRIMARY KEY, codigo INT, gruage INT, carini TEXT,"
              " lontel INT);"
              "CREATE INDEX dir_c3 ON dir(carini, lontel DESC, nrotel);"
              "CREATE TABLE calls(id INTEGER PRIMARY KEY, nrotel TEXT, codigo INT, gruage INT);"
              "BEGIN;"))
    return false;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(l.db, "INSERT INTO dir VALUES(?,?,?,?,?)", -1, &s, nullptr);
  int owner = 0;
  for (const std::string& n : d.directory) {
    ++owner;
    sqlite3_bind_text(s, 1, n.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 2, owner);
    sqlite3_bind_int(s, 3, owner % 50);
    sqlite3_bind_text(s, 4, n.c_str(), 1, SQLITE_STATIC);
    sqlite3_bind_int(s, 5, int(n.size()));
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_prepare_v2(l.db, "INSERT INTO calls VALUES(?,?,0,0)", -1, &s, nullptr);
  int id = 0;
  for (const std::string& n : d.calls) {
    sqlite3_bind_int(s, 1, ++id);
    sqlite3_bind_text(s, 2, n.c_str(), -1, SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  return l.Exec("COMMIT; CREATE INDEX calls_c9 ON calls(nrotel);");
}

constexpr const char* kLiteOwner =
    "(SELECT d.%s FROM dir d WHERE d.carini = substr(calls.nrotel, 1, 1)"
    " AND d.lontel <= length(calls.nrotel) AND substr(calls.nrotel, 1, d.lontel) = d.nrotel"
    " ORDER BY d.lontel DESC LIMIT 1)";

}  // namespace

int main(int argc, char** argv) {
  int64_t n = 1000000;
  std::string store;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--store=", 0) == 0) {
      store = a.substr(8);
    } else {
      n = std::atoll(argv[i]);
    }
  }
  if (n <= 0) {
    std::fprintf(stderr, "usage: bench_relink [N]\n");
    return 2;
  }
  char tmpl[] = "/tmp/bench_relink-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return Fail("mkdtemp", errno);
  const std::string dir = tmpl;
  char old_cwd[4096];
  if (getcwd(old_cwd, sizeof old_cwd) == nullptr || chdir(dir.c_str()) != 0) return 1;
  setenv("NVRUN_PROFILE", (dir + "/fonvex.ini").c_str(), 1);
  mkdir("Archivos", 0755);
  if (!store.empty()) {
    nv::WriteProfileString("", "Dictionary", "Driver", store);
    nv::WriteProfileString("", "Dictionary", "Folder", dir + "/Archivos");
  }

  const char* label = store.empty() ? "flat" : store.c_str();
  const Data data = MakeData(n);
  int64_t under = 0;
  for (const std::string& c : data.calls) under += c.compare(0, 4, kPrefix) == 0;
  std::printf("bench_relink: %lld calls, %zu directory numbers, %lld calls under \"%s\"\n",
              static_cast<long long>(n), data.directory.size(), static_cast<long long>(under),
              kPrefix);

  nv::ui::HeadlessBackend ui;
  nv::dict::FxdatsInit(nullptr, nullptr);
  nv::dict::Dictionary& dic = *nv::dict::Dic();
  dic.SetCallFileNames();
  auto t = Clock::now();
  if (WriteFlat(dic, data) != 0) return 1;
  std::printf("  write %s files        %8.2f s\n", label, Seconds(t));
  Lite lite;
  t = Clock::now();
  if (!WriteLite(lite, data)) return 1;
  std::printf("  write SQLite tables     %8.2f s\n", Seconds(t));

  // 1. Lookup rate (no cache: every number reads the directory).
  const int64_t lookups = std::min<int64_t>(n, 2000);
  int64_t found = 0;
  {
    nv::dict::FileAccess* re09 = dic.Access("FXRE09");
    re09->UseFile();
    agenda::DirectoryLookup look(re09->file());
    t = Clock::now();
    for (int64_t i = 0; i < lookups; ++i) found += look.Lookup(data.calls[size_t(i)]).codigo != 0;
    const double flat = Seconds(t);
    re09->Close();
    sqlite3_stmt* s = nullptr;
    char sql[512];
    std::snprintf(sql, sizeof sql,
                  "SELECT codigo FROM dir d WHERE d.carini = substr(?1, 1, 1) AND d.lontel <= "
                  "length(?1) AND substr(?1, 1, d.lontel) = d.nrotel ORDER BY d.lontel DESC "
                  "LIMIT 1");
    sqlite3_prepare_v2(lite.db, sql, -1, &s, nullptr);
    int64_t lite_found = 0;
    t = Clock::now();
    for (int64_t i = 0; i < lookups; ++i) {
      sqlite3_bind_text(s, 1, data.calls[size_t(i)].c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(s) == SQLITE_ROW) ++lite_found;
      sqlite3_reset(s);
    }
    const double sq = Seconds(t);
    sqlite3_finalize(s);
    std::printf("  lookups                 %lld (%lld found; SQLite %lld)\n",
                static_cast<long long>(lookups), static_cast<long long>(found),
                static_cast<long long>(lite_found));
    std::printf("  lookup rate  %s %10.0f /s   SQLite %10.0f /s   ratio %.2f\n", label,
                lookups / flat, lookups / sq, sq / flat);
  }

  // 2. Re-link for the prefix, run to completion.
  nv::dict::FileAccess* re09 = dic.Access("FXRE09");
  re09->UseFile();
  re09->file().Clear();
  auto& r = re09->rec<RE09Record>();
  r.CODIGO.Set(999999);
  r.NROTEL = kPrefix;
  r.CARINI = std::string(kPrefix, 1);
  r.LONTEL = 4;
  re09->file().Add();
  re09->Close();
  t = Clock::now();
  const int64_t visited = agenda::RelinkCalls(kPrefix);
  const double flat = Seconds(t);
  char sql[1024], owner[400], group[400];
  std::snprintf(owner, sizeof owner, kLiteOwner, "codigo");
  std::snprintf(group, sizeof group, kLiteOwner, "gruage");
  std::snprintf(sql, sizeof sql,
                "UPDATE calls SET codigo = %s, gruage = %s WHERE nrotel LIKE '%s%%'", owner, group,
                kPrefix);
  lite.Exec(("INSERT INTO dir VALUES('" + std::string(kPrefix) + "', 999999, 0, '0', 4)").c_str());
  t = Clock::now();
  lite.Exec(sql);
  const double sq = Seconds(t);
  std::printf(
      "  re-link \"%s\": %s %lld calls in %.3f s (%.0f /s); SQLite %d rows in %.3f s;"
      " ratio %.2f\n",
      kPrefix, label, static_cast<long long>(visited), flat, visited / (flat > 0 ? flat : 1e-9),
      sqlite3_changes(lite.db), sq, sq / (flat > 0 ? flat : 1e-9));

  // 3. The window: ten calls per tick (the owner changes so every call is written).
  re09 = dic.Access("FXRE09");
  re09->UseFile();
  r.NROTEL = kPrefix;
  if (re09->TryFetch("RE09:RE09_C1") == 0) {
    r.CODIGO.Set(888888);
    re09->file().Put();
  }
  re09->Close();
  ui.SetAutoTimers(true, int(visited / agenda::kRecordsPerTick + 10));
  t = Clock::now();
  const int64_t windowed = agenda::Actualizar_MOyTR(kPrefix);
  const double win = Seconds(t);
  std::printf("  window, %d per tick: %lld calls in %.3f s (%lld ticks, %.1f us per tick)\n",
              agenda::kRecordsPerTick, static_cast<long long>(windowed), win,
              static_cast<long long>(ui.Now()), ui.Now() ? win * 1e6 / double(ui.Now()) : 0.0);

  nv::dict::FxdatsKill();
  if (chdir(old_cwd) != 0) return 1;
  const std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) return 1;
  return visited == under && windowed == under ? 0 : Fail("re-link count", int(visited));
}
