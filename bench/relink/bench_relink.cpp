// bench_relink [N] [--store=DRIVER]: over a call file of N records (default 1,000,000),
//   - the longest-prefix lookup rate of call numbers in the directory;
//   - the re-linking of the calls of a number that matches 1% of them, run
//     to completion (no per-tick limit), against SQLite doing the same
//     re-link with one UPDATE over indexed tables, in two forms: the owner
//     found through an index shaped like RE09_C3 (first character, length
//     descending, number), and SQLite's fastest form, the owner looked up
//     by each prefix of the call's number through the primary key;
//   - the same re-link in the window, ten call records per timer tick. The
//     user waits (ticks x timer period) when a tick's work fits in the
//     period, else (ticks x work per tick); the headless backend fires the
//     ticks back to back, so the bench measures the work per tick and
//     computes the waiting time from the tick count.
// The call file is written through the driver in stream mode (APPEND) and
// its keys built once at the end (BUILD). Files are written to a temporary
// folder and removed afterwards. The store is the flat driver unless
// --store names another registered driver. Ratios are SQLite's time divided
// by ours (our rate over SQLite's): above 1 means we are faster.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
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

int WriteFlat(nv::dict::Dictionary& dic, const Data& d, double* build_seconds) {
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
  mo01->Flush();
  const auto t = Clock::now();
  if (int err = mo01->Build(); err != 0 && err != nv::kErrNotImplemented) return Fail("BUILD", err);
  *build_seconds = Seconds(t);
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

// The owner of the longest directory number that is a prefix of the call
// number `x` (an SQL expression), as SQLite reads it through the index shaped like RE09_C3...
std::string OwnerByLength(const std::string& x) {
  return "SELECT d.codigo, d.gruage FROM dir d WHERE d.carini = substr(" + x +
         ", 1, 1) AND d.lontel <= length(" + x + ") AND substr(" + x +
         ", 1, d.lontel) = d.nrotel ORDER BY d.lontel DESC LIMIT 1";
}
// ... and through the primary key, one probe per prefix of the number.
std::string OwnerByPrefixes(const std::string& x) {
  std::string in;
  for (int i = 1; i <= 30; ++i)
    in += (i > 1 ? ", substr(" : "substr(") + x + ", 1, " + std::to_string(i) + ")";
  return "SELECT d.codigo, d.gruage FROM dir d WHERE d.nrotel IN (" + in +
         ") ORDER BY length(d.nrotel) DESC LIMIT 1";
}

// Lookups per second of `numbers` with one prepared SQLite query; the codes
// found go to *codes.
double LiteLookupRate(sqlite3* db, const std::string& sql, const std::vector<std::string>& numbers,
                      std::vector<int32_t>* codes) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return 0;
  codes->assign(numbers.size(), 0);
  const auto t = Clock::now();
  for (size_t i = 0; i < numbers.size(); ++i) {
    sqlite3_bind_text(s, 1, numbers[i].c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(s) == SQLITE_ROW) (*codes)[i] = sqlite3_column_int(s, 0);
    sqlite3_reset(s);
  }
  const double secs = Seconds(t);
  sqlite3_finalize(s);
  return double(numbers.size()) / secs;
}

// The re-link of the calls under `prefix` as one UPDATE; answers seconds.
double LiteRelink(Lite& l, const std::string& owner, const char* prefix, int* rows) {
  const std::string sql =
      "UPDATE calls SET (codigo, gruage) = (" + owner + ") WHERE nrotel LIKE '" + prefix + "%'";
  const auto t = Clock::now();
  if (!l.Exec(sql.c_str())) return -1;
  const double secs = Seconds(t);
  *rows = sqlite3_changes(l.db);
  return secs;
}

// Calls under `prefix` whose code differs between the flat call file and
// the SQLite table (both in number order).
int64_t Mismatches(nv::dict::Dictionary& dic, Lite& l, const char* prefix) {
  std::vector<std::pair<std::string, int32_t>> flat, lite;
  nv::dict::FileAccess* mo01 = dic.Access("FXMO01");
  if (mo01->UseFile() != 0) return -1;
  nv::File& f = mo01->file();
  auto& r = f.As<CallRecord>();
  f.Clear();
  r.NROTEL = prefix;
  nv::KeyDecl* k = f.key("MO01:MO01_C9");
  if (f.Set(k, k) == 0) {
    while (f.Next() == 0) {
      const std::string n(r.NROTEL.clipped());
      if (n.compare(0, std::strlen(prefix), prefix) != 0) break;
      flat.emplace_back(n, int32_t(r.CODIGO));
    }
  }
  mo01->Close();
  sqlite3_stmt* s = nullptr;
  const std::string sql =
      "SELECT nrotel, codigo FROM calls WHERE nrotel LIKE '" + std::string(prefix) + "%'";
  sqlite3_prepare_v2(l.db, sql.c_str(), -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW)
    lite.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                      sqlite3_column_int(s, 1));
  sqlite3_finalize(s);
  std::sort(flat.begin(), flat.end());
  std::sort(lite.begin(), lite.end());
  if (flat.size() != lite.size()) return int64_t(std::max(flat.size(), lite.size()));
  int64_t bad = 0;
  for (size_t i = 0; i < flat.size(); ++i) bad += flat[i] != lite[i];
  return bad;
}

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
    std::fprintf(stderr, "usage: bench_relink [N] [--store=DRIVER]\n");
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
  std::printf("bench_relink: N = %lld calls, %zu directory numbers, %lld calls under \"%s\"\n",
              static_cast<long long>(n), data.directory.size(), static_cast<long long>(under),
              kPrefix);

  nv::ui::HeadlessBackend ui;
  nv::dict::FxdatsInit(nullptr, nullptr);
  nv::dict::Dictionary& dic = *nv::dict::Dic();
  dic.SetCallFileNames();
  auto t = Clock::now();
  double build = 0;
  if (WriteFlat(dic, data, &build) != 0) return 1;
  std::printf("  write %s files (STREAM/APPEND, then BUILD %.2f s)  %8.2f s\n", label, build,
              Seconds(t));
  Lite lite;
  t = Clock::now();
  if (!WriteLite(lite, data)) return 1;
  std::printf("  write SQLite tables                          %8.2f s\n", Seconds(t));
  int status = 0;

  // 1. Lookup rate (no cache: every number reads the directory).
  {
    const std::vector<std::string> numbers(data.calls.begin(),
                                           data.calls.begin() + std::min<int64_t>(n, 20000));
    nv::dict::FileAccess* re09 = dic.Access("FXRE09");
    re09->UseFile();
    agenda::DirectoryLookup look(re09->file());
    std::vector<int32_t> flat_codes(numbers.size());
    t = Clock::now();
    for (size_t i = 0; i < numbers.size(); ++i) flat_codes[i] = look.Lookup(numbers[i]).codigo;
    const double flat_rate = double(numbers.size()) / Seconds(t);
    re09->Close();
    std::vector<int32_t> by_length, by_prefixes;
    const double lite_length = LiteLookupRate(lite.db, OwnerByLength("?1"), numbers, &by_length);
    const double lite_prefixes =
        LiteLookupRate(lite.db, OwnerByPrefixes("?1"), numbers, &by_prefixes);
    const int64_t found =
        std::count_if(flat_codes.begin(), flat_codes.end(), [](int32_t c) { return c != 0; });
    const bool same = flat_codes == by_length && flat_codes == by_prefixes;
    std::printf(
        "  lookups: %zu numbers, %lld found, %.2f keyed reads each (%lld reads learning "
        "lengths); answers %s SQLite's\n",
        numbers.size(), static_cast<long long>(found),
        double(look.probes()) / double(numbers.size()), static_cast<long long>(look.scans()),
        same ? "equal" : "DIFFER FROM");
    std::printf(
        "  lookup rate   %s %9.0f /s | SQLite by length %9.0f /s (ratio %.2f) | SQLite by "
        "prefixes %9.0f /s (ratio %.2f)\n",
        label, flat_rate, lite_length, flat_rate / lite_length, lite_prefixes,
        flat_rate / lite_prefixes);
    if (!same) status = 1;
  }

  // 2. Re-link for the prefix, run to completion; the prefix becomes a
  // directory number, so every call under it changes owner.
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
  // What RelinkCalls does, with the run's counters kept.
  t = Clock::now();
  int64_t visited = -1, lookups = 0, reads = 0;
  {
    agenda::RelinkFiles files(dic);
    if (!files.ok()) return Fail("re-link files", 0);
    agenda::CallRelinker run(files.re09(), files.calls(), kPrefix);
    run.Begin();
    run.Step(0);
    run.Finish();
    visited = run.visited();
    lookups = run.lookup().lookups();
    reads = run.lookup().reads();
  }
  const double flat = Seconds(t);
  lite.Exec(("INSERT INTO dir VALUES('" + std::string(kPrefix) + "', 999999, 0, '0', 4)").c_str());
  int rows_length = 0, rows_prefixes = 0;
  const double lite_length = LiteRelink(lite, OwnerByLength("calls.nrotel"), kPrefix, &rows_length);
  const int64_t bad = Mismatches(dic, lite, kPrefix);
  const double lite_prefixes =
      LiteRelink(lite, OwnerByPrefixes("calls.nrotel"), kPrefix, &rows_prefixes);
  std::printf(
      "  re-link \"%s\", no tick limit: %s %lld calls in %.3f s; SQLite by length %d rows "
      "in %.3f s; SQLite by prefixes %d rows in %.3f s; codes %s\n",
      kPrefix, label, static_cast<long long>(visited), flat, rows_length, lite_length,
      rows_prefixes, lite_prefixes, bad == 0 ? "equal" : "DIFFER");
  std::printf(
      "  re-link rate  %s %9.0f /s | SQLite by length %9.0f /s (ratio %.2f) | SQLite by "
      "prefixes %9.0f /s (ratio %.2f)\n",
      label, double(visited) / flat, rows_length / lite_length, lite_length / flat,
      rows_prefixes / lite_prefixes, lite_prefixes / flat);
  std::printf(
      "  re-link directory reads: %lld lookups (one per distinct call number), %lld "
      "keyed reads (%.3f per call)\n",
      static_cast<long long>(lookups), static_cast<long long>(reads),
      visited > 0 ? double(reads) / double(visited) : 0.0);
  if (bad != 0) status = 1;

  // 3. The window: ten calls per tick (the owner changes so every call is
  // written). The headless backend fires each tick as soon as the last one
  // is done, and its clock moves one timer period (1/100 s) per tick.
  re09 = dic.Access("FXRE09");
  re09->UseFile();
  r.NROTEL = kPrefix;
  if (re09->TryFetch("RE09:RE09_C1") == 0) {
    r.CODIGO.Set(888888);
    re09->file().Put();
  }
  re09->Close();
  ui.SetAutoTimers(true, int(visited / agenda::kRecordsPerTick + 10));
  const int64_t clock_start = ui.Now();
  t = Clock::now();
  const int64_t windowed = agenda::Actualizar_MOyTR(kPrefix);
  const double work = Seconds(t);
  const int64_t ticks = ui.Now() - clock_start;
  const double period = 0.01;
  const double per_tick = ticks > 0 ? work / double(ticks) : 0.0;
  const double waited = double(ticks) * std::max(period, per_tick);
  std::printf(
      "  window, %d calls per tick: %lld calls in %lld ticks; work %.3f s (%.0f us per "
      "tick, %s the %.0f ms period); the user waits %lld ticks x %.0f ms = %.2f s\n",
      agenda::kRecordsPerTick, static_cast<long long>(windowed), static_cast<long long>(ticks),
      work, per_tick * 1e6, per_tick <= period ? "within" : "beyond", period * 1e3,
      static_cast<long long>(ticks), std::max(period, per_tick) * 1e3, waited);

  nv::dict::FxdatsKill();
  if (chdir(old_cwd) != 0) return 1;
  const std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) return 1;
  if (visited != under || windowed != under) return Fail("re-link count", int(visited));
  return status;
}
