// bench_flat: the flat driver against SQLite doing the same work in the same
// run, printed as times and ratios. A ratio is SQLite's time divided by the
// flat driver's: above 1 means the flat file is faster.
//
//   bench_flat [N] [--durable=M] [--scans=K] [--dir=FOLDER] [--keys-only] [--flat-only] [--cpu]
//              [--build-only]
//
// N records of about 100 bytes (a unique 32-bit code key and a 30-character
// name key) go through: bulk APPEND while streaming (SQLite: one transaction,
// synchronous=OFF), BUILD of both keys (CREATE INDEX), N random GETs by code,
// a full ordered scan by each key, and M durable ADDs, each with the header
// flushed (SQLite: autocommit inserts, synchronous=FULL). N defaults to
// 1,000,000 and M to 20,000 (never more than N). --scans=K makes each
// ordered scan K times on every side and keeps the best (default 1: the
// first scan, with whatever the system's cache holds). --flat-only leaves SQLite
// out (profiling); --cpu times both sides by the process's CPU time rather
// than the clock (a machine loaded by other work); --build-only stops each
// side after its BUILD (the APPEND and BUILD lines alone). The file is opened by one
// program, read-write deny-write, as SQLite's one connection has its
// database to itself; bench_flat_shared measures stations sharing a file.
//
// SQLite runs twice: once laid out as the flat file is (a table plus a
// unique index on code and an index on name) and once as a user would set
// it up, with `code INTEGER PRIMARY KEY`, so that its table is kept in code
// order (its "BUILD" then makes the name index only).
//
// The flat driver's memory is printed too: the growth of the resident set
// from before the file is created to after the scans, how much of it is the
// program's own memory rather than pages of the mapped files, and the
// process's peak (which counts the records held for both sides and SQLite's).
//
// The same figures are also taken for the key layer alone (the key files
// without the data file), which runs even where the driver cannot be loaded.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "drivers/flat/key_build.h"
#include "drivers/flat/key_file.h"
#include "host/runtime/declaration.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"

namespace {

#pragma pack(push, 1)
struct BenchRecord {
  int32_t CODE;
  nv::String<30> NAME;
  nv::String<66> FILL;
};
#pragma pack(pop)
static_assert(sizeof(BenchRecord) == 100);

struct Options {
  uint64_t n = 1000000;
  uint64_t durable = 20000;
  int scans = 1;  // ordered scans made, the best kept
  std::string dir;
  bool keys_only = false;  // the key layer alone, no SQLite or driver rows
  bool flat_only = false;  // no SQLite (profiling the flat side)
  bool build_only = false;  // APPEND and BUILD only
};

struct Row {
  std::string what;
  double flat = -1;
  double sqlite = -1;
  double clustered = -1;  // SQLite with code INTEGER PRIMARY KEY
};

// A figure of /proc/self/status in kB: "VmRSS" (resident set now),
// "RssAnon" (of it, heap and other memory of the program's own, not pages
// of mapped files) or "VmHWM" (the resident set's peak).
long StatusKb(const char* name = "VmRSS") {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  const size_t len = std::strlen(name);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, name, len) == 0 && line[len] == ':' &&
        std::sscanf(line + len + 1, "%ld", &kb) == 1)
      break;
  std::fclose(f);
  return kb;
}


// Set when any measured work fails: the program then ends with 1, so that a
// smoke run catches a broken driver or key layer.
bool g_failed = false;

// --cpu: the process's CPU time (user and system) instead of the clock's,
// for a machine loaded by other work (a durable ADD's wait for the disk is
// then not counted, on either side).
bool g_cpu_time = false;

double Now() {
  if (g_cpu_time) return double(std::clock()) / CLOCKS_PER_SEC;
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Seconds(const std::function<bool()>& work, bool* ok) {
  const double t0 = Now();
  *ok = work();
  if (!*ok) g_failed = true;
  return Now() - t0;
}

// The best of `times` runs of the work (stops at the first failure).
double Best(int times, const std::function<bool()>& work, bool* ok) {
  double best = -1;
  for (int i = 0; i < std::max(times, 1); ++i) {
    const double t = Seconds(work, ok);
    if (!*ok) return t;
    if (best < 0 || t < best) best = t;
  }
  return best;
}

// The data: codes 1..N in random order, names of random capitals.
struct Data {
  std::vector<BenchRecord> records;
  std::vector<int32_t> probes;  // random codes to GET
};

Data MakeData(uint64_t n, uint64_t extra) {
  Data d;
  std::mt19937 rng(42);
  std::vector<int32_t> codes(n + extra);
  for (size_t i = 0; i < codes.size(); ++i) codes[i] = int32_t(i + 1);
  std::shuffle(codes.begin(), codes.begin() + std::ptrdiff_t(n), rng);
  d.records.resize(codes.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    BenchRecord& r = d.records[i];
    r.CODE = codes[i];
    char name[31];
    int len = 8 + int(rng() % 20);
    for (int j = 0; j < len; ++j) name[j] = char('A' + rng() % 26);
    name[len] = 0;
    r.NAME = name;
    r.FILL = "some filler text of the record";
  }
  for (uint64_t i = 0; i < n; ++i) d.probes.push_back(int32_t(1 + rng() % n));
  return d;
}

// ---------------------------------------------------------------- SQLite
class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    std::filesystem::remove(path);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) db_ = nullptr;
  }
  ~Sqlite() {
    if (db_) sqlite3_close(db_);
  }
  bool Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    std::fprintf(stderr, "sqlite: %s: %s\n", sql, err ? err : "?");
    sqlite3_free(err);
    return false;
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
    return s;
  }
  bool Insert(sqlite3_stmt* s, const BenchRecord& r) {
    sqlite3_bind_int(s, 1, r.CODE);
    sqlite3_bind_text(s, 2, r.NAME.data_, 30, SQLITE_STATIC);
    sqlite3_bind_text(s, 3, r.FILL.data_, 66, SQLITE_STATIC);
    bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
  }
  bool ok() const { return db_ != nullptr; }

 private:
  sqlite3* db_ = nullptr;
};

// Reads every column of every row of a query (as a program reading records).
bool ScanAll(sqlite3_stmt* s, uint64_t expect) {
  uint64_t rows = 0;
  int64_t sink = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    sink += sqlite3_column_int(s, 0);
    sink += sqlite3_column_bytes(s, 1) + sqlite3_column_bytes(s, 2);
    const unsigned char* t = sqlite3_column_text(s, 1);
    if (t) sink += t[0];
    ++rows;
  }
  sqlite3_finalize(s);
  return rows == expect && sink != 0;
}

void RunSqlite(const Options& o, const Data& d, std::vector<Row>& rows, bool clustered) {
  Sqlite db(o.dir + (clustered ? "/clustered.db" : "/bench.db"));
  bool ok = db.ok() && db.Exec("PRAGMA synchronous=OFF") &&
            db.Exec(clustered ? "CREATE TABLE t(code INTEGER PRIMARY KEY, name TEXT, fill TEXT)"
                              : "CREATE TABLE t(code INTEGER, name TEXT, fill TEXT)");
  if (!ok) {
    g_failed = true;
    return;
  }
  auto at = [&](Row& r) -> double& { return clustered ? r.clustered : r.sqlite; };
  const uint64_t n = o.n;
  sqlite3_stmt* ins = db.Prepare("INSERT INTO t(code, name, fill) VALUES(?, ?, ?)");
  at(rows[0]) = Seconds(
      [&] {
        bool good = db.Exec("BEGIN");
        for (uint64_t i = 0; good && i < n; ++i) good = db.Insert(ins, d.records[i]);
        return good && db.Exec("COMMIT");
      },
      &ok);
  at(rows[1]) = Seconds(
      [&] {
        return (clustered || db.Exec("CREATE UNIQUE INDEX t_code ON t(code)")) &&
               db.Exec("CREATE INDEX t_name ON t(name)");
      },
      &ok);
  if (o.build_only) {
    sqlite3_finalize(ins);
    return;
  }
  sqlite3_stmt* get = db.Prepare("SELECT code, name, fill FROM t WHERE code = ?");
  at(rows[2]) = Seconds(
      [&] {
        int64_t sink = 0;
        for (int32_t code : d.probes) {
          sqlite3_bind_int(get, 1, code);
          if (sqlite3_step(get) != SQLITE_ROW) return false;
          sink += sqlite3_column_int(get, 0) + sqlite3_column_bytes(get, 2);
          sqlite3_reset(get);
        }
        return sink != 0;
      },
      &ok);
  sqlite3_finalize(get);
  at(rows[3]) = Best(
      o.scans,
      [&] { return ScanAll(db.Prepare("SELECT code, name, fill FROM t ORDER BY code"), n); }, &ok);
  at(rows[4]) = Best(
      o.scans,
      [&] { return ScanAll(db.Prepare("SELECT code, name, fill FROM t ORDER BY name"), n); }, &ok);
  db.Exec("PRAGMA synchronous=FULL");
  at(rows[5]) = Seconds(
      [&] {
        bool good = true;
        for (uint64_t i = n; good && i < n + o.durable; ++i) good = db.Insert(ins, d.records[i]);
        return good;
      },
      &ok);
  sqlite3_finalize(ins);
}

// ---------------------------------------------------------------- driver
nv::FileDecl BenchDecl(const std::string& name) {
  static auto rt = nv::DeclareRecord<BenchRecord>(
      "BEN",
      {NV_FIELD(BenchRecord, CODE), NV_FIELD(BenchRecord, NAME), NV_FIELD(BenchRecord, FILL)});
  nv::FileDecl decl;
  decl.label = "BENCH";
  decl.driver = "Norvane";
  decl.name = name;
  decl.record = rt;
  decl.keys = {{"BEN:KEY_CODE", {"BEN:CODE"}, 0, ""},
               {"BEN:KEY_NAME", {"BEN:NAME"}, nv::kKeyDup, ""}};
  return decl;
}

bool Check(int rc, const char* what) {
  if (rc == 0) return true;
  std::fprintf(stderr, "flat driver: %s failed with %d\n", what, rc);
  return false;
}

void RunDriver(const Options& o, const Data& d, std::vector<Row>& rows) {
  std::string error;
  if (!nv::FindDriver("Norvane", &error)) {
    std::printf("(flat driver not loaded: %s)\n", error.c_str());
    return;
  }
  const long rss_before = StatusKb();
  const long anon_before = StatusKb("RssAnon");
  nv::File f(BenchDecl(o.dir + "/BENCH"));
  if (!Check(f.Create(), "CREATE") || !Check(f.Open(nv::kReadWrite | nv::kDenyWrite), "OPEN")) {
    g_failed = true;
    return;
  }
  const uint64_t n = o.n;
  bool ok = false;
  double t = Seconds(
      [&] {
        if (!Check(f.Stream(), "STREAM")) return false;
        for (uint64_t i = 0; i < n; ++i) {
          f.As<BenchRecord>() = d.records[i];
          if (!Check(f.Append(), "APPEND")) return false;
        }
        return Check(f.Flush(), "FLUSH");
      },
      &ok);
  if (!ok) return;
  rows[0].flat = t;
  t = Seconds([&] { return Check(f.Build(), "BUILD"); }, &ok);
  if (!ok) return;
  rows[1].flat = t;
  if (o.build_only) {
    f.Close();
    return;
  }
  t = Seconds(
      [&] {
        for (int32_t code : d.probes) {
          f.As<BenchRecord>().CODE = code;
          if (!Check(f.Get(f.key(0)), "GET")) return false;
        }
        return true;
      },
      &ok);
  if (!ok) return;
  rows[2].flat = t;
  for (int k = 0; k < 2; ++k) {
    t = Best(
        o.scans,
        [&] {
          if (!Check(f.Set(f.key(k)), "SET")) return false;
          uint64_t count = 0;
          while (f.Next() == 0) ++count;
          if (count != n)
            std::fprintf(stderr, "flat driver: scan read %llu\n", (unsigned long long)count);
          return count == n;
        },
        &ok);
    if (!ok) return;
    rows[3 + k].flat = t;
  }
  // Records and key pages are read from the files mapped in memory: those
  // pages are the system's file cache, shared, not the program's own memory.
  std::printf(
      "flat driver: resident set grew by %.1f MB from CREATE to the end of the scans, "
      "%.1f MB of it the program's own memory (the rest mapped file pages); peak %.1f MB\n",
      double(StatusKb() - rss_before) / 1024.0,
      double(StatusKb("RssAnon") - anon_before) / 1024.0, double(StatusKb("VmHWM")) / 1024.0);
  t = Seconds(
      [&] {
        for (uint64_t i = n; i < n + o.durable; ++i) {
          f.As<BenchRecord>() = d.records[i];
          if (!Check(f.Add(), "ADD")) return false;
        }
        return true;
      },
      &ok);
  if (ok) rows[5].flat = t;
  f.Close();
}

// ---------------------------------------------------------------- key layer
class MemorySource : public flat::RecordSource {
 public:
  MemorySource(const Data& d, uint64_t n) : d_(d), n_(n) {}
  int Rewind() override {
    at_ = 0;
    return 0;
  }
  int Next(uint32_t* record, const uint8_t** data, bool* done) override {
    *done = at_ == n_;
    if (!*done) {
      *record = uint32_t(at_ + 1);
      *data = reinterpret_cast<const uint8_t*>(&d_.records[at_]);
      ++at_;
    }
    return 0;
  }

 private:
  const Data& d_;
  uint64_t n_;
  uint64_t at_ = 0;
};

flat::KeySpec BenchKey(int which) {
  flat::KeySpec s;
  flat::KeyComponent c;
  if (which == 0) {
    c.stored_type = flat::kStoredLong;
    c.offset = 0;
    c.size = 4;
  } else {
    c.stored_type = flat::kStoredString;
    c.offset = 4;
    c.size = 30;
    s.dup = true;
  }
  s.components.push_back(c);
  s.name = which == 0 ? "BEN:KEY_CODE" : "BEN:KEY_NAME";
  return s;
}

void RunKeys(const Options& o, const Data& d, std::vector<Row>& rows) {
  std::unique_ptr<flat::KeyFile> keys[2];
  for (int k = 0; k < 2; ++k)
    if (flat::KeyFile::Create(nullptr, o.dir + "/KEYS.K0" + char('1' + k), BenchKey(k), &keys[k],
                              nv::OpenOptions{0x12})) {
      g_failed = true;
      return;
    }
  const uint64_t n = o.n;
  bool ok = false;
  MemorySource src(d, n);
  flat::BuildReport report(nullptr, o.dir + "/KEYS.BLD");
  double t = Seconds(
      [&] {
        for (auto& k : keys)
          if (flat::BuildKey(nullptr, k.get(), src, &report, o.dir) != 0) return false;
        return true;
      },
      &ok);
  if (!ok) return;
  rows[1].flat = t;
  if (o.build_only) return;
  t = Seconds(
      [&] {
        uint8_t v[4];
        flat::KeyCursor c;
        uint32_t record;
        for (int32_t code : d.probes) {
          flat::EncodeKey(keys[0]->shape(), reinterpret_cast<const uint8_t*>(&code), v);
          if (keys[0]->Seek(v, 0, &c) != 0 || c.at_end()) return false;
          if (keys[0]->Entry(c, &record, nullptr) != 0) return false;
        }
        return true;
      },
      &ok);
  if (!ok) return;
  rows[2].flat = t;
  for (int k = 0; k < 2; ++k) {
    t = Best(
        o.scans,
        [&] {
          flat::KeyCursor c;
          uint64_t count = 0;
          uint32_t record;
          std::string value;
          if (keys[k]->First(&c) != 0) return false;
          while (!c.at_end()) {
            if (keys[k]->Entry(c, &record, &value) != 0 || keys[k]->Next(&c) != 0) return false;
            ++count;
          }
          return count == n;
        },
        &ok);
    if (!ok) return;
    rows[3 + k].flat = t;
  }
  t = Seconds(
      [&] {
        uint8_t v[30];
        for (uint64_t i = n; i < n + o.durable; ++i) {
          const uint8_t* rec = reinterpret_cast<const uint8_t*>(&d.records[i]);
          for (auto& k : keys) {
            flat::EncodeKey(k->shape(), rec, v);
            if (k->Insert(uint32_t(i + 1), v) != 0 || k->Flush(true) != 0) return false;
          }
        }
        return true;
      },
      &ok);
  if (ok) rows[5].flat = t;
}

void Print(const char* title, const std::vector<Row>& rows) {
  std::printf("\n%s (ratio: SQLite's time / flat time, above 1 = flat faster)\n", title);
  std::printf("%-44s %10s %10s %10s %8s %8s\n", "operation", "flat (s)", "SQLite", "clustered",
              "ratio", "ratio cl");
  auto fmt = [](char* out, size_t n, double v, const char* f) {
    if (v >= 0) std::snprintf(out, n, f, v);
  };
  for (const Row& r : rows) {
    if (r.flat < 0 && r.sqlite < 0) continue;
    char f[32] = "-", s[32] = "-", c[32] = "-", q[32] = "-", qc[32] = "-";
    fmt(f, sizeof f, r.flat, "%.3f");
    fmt(s, sizeof s, r.sqlite, "%.3f");
    fmt(c, sizeof c, r.clustered, "%.3f");
    if (r.flat > 0) {
      fmt(q, sizeof q, r.sqlite >= 0 ? r.sqlite / r.flat : -1, "%.2f");
      fmt(qc, sizeof qc, r.clustered >= 0 ? r.clustered / r.flat : -1, "%.2f");
    }
    std::printf("%-44s %10s %10s %10s %8s %8s\n", r.what.c_str(), f, s, c, q, qc);
  }
}

std::vector<Row> RowNames(const Options& o, const char* first) {
  return {{first},
          {"BUILD of both keys / CREATE INDEX x2"},
          {std::to_string(o.n) + " random GET by code"},
          {"ordered scan by code"},
          {"ordered scan by name"},
          {std::to_string(o.durable) + " durable ADD / autocommit FULL"}};
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool durable_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--durable=", 0) == 0) {
      o.durable = std::strtoull(a.c_str() + 10, nullptr, 10);
      durable_given = true;
    } else if (a.rfind("--scans=", 0) == 0) {
      o.scans = std::max(1, std::atoi(a.c_str() + 8));
    } else if (a == "--keys-only") {
      o.keys_only = true;
    } else if (a == "--flat-only") {
      o.flat_only = true;
    } else if (a == "--build-only") {
      o.build_only = true;
    } else if (a == "--cpu") {
      g_cpu_time = true;
    } else if (a.rfind("--dir=", 0) == 0) {
      o.dir = a.substr(6);
    } else if (!a.empty() && a[0] != '-') {
      o.n = std::strtoull(a.c_str(), nullptr, 10);
    } else {
      std::fprintf(stderr,
                   "usage: bench_flat [N] [--durable=M] [--scans=K] [--dir=FOLDER] "
                   "[--keys-only] [--flat-only] [--cpu] [--build-only]\n");
      return 2;
    }
  }
  if (o.n == 0) o.n = 1;
  if (!durable_given) o.durable = std::min<uint64_t>(o.durable, o.n);
  bool own_dir = o.dir.empty();
  if (own_dir) {
    std::string t = (std::filesystem::temp_directory_path() / "bench_flatXXXXXX").string();
    if (!mkdtemp(t.data())) return 1;
    o.dir = t;
  }
  std::printf("bench_flat: N=%llu records of %zu bytes, %llu durable ADDs, folder %s\n",
              (unsigned long long)o.n, sizeof(BenchRecord), (unsigned long long)o.durable,
              o.dir.c_str());
  Data d = MakeData(o.n, o.durable);

  std::vector<Row> sql = RowNames(o, "bulk APPEND (streaming) / 1 transaction");
  if (!o.keys_only && !o.flat_only) {
    RunSqlite(o, d, sql, false);
    RunSqlite(o, d, sql, true);
  }

  std::vector<Row> drv = sql;
  for (Row& r : drv) r.flat = -1;
  if (!o.keys_only) {
    RunDriver(o, d, drv);
    Print("Flat driver through the file verbs against SQLite", drv);
  }

  std::vector<Row> keys = sql;
  for (Row& r : keys) r.flat = -1;
  keys[0].sqlite = keys[0].clustered = -1;
  keys[2].what += " (key entry only)";
  keys[3].what += " (key entries only)";
  keys[4].what += " (key entries only)";
  keys[5].what = std::to_string(o.durable) + " key inserts, synced / autocommit FULL";
  RunKeys(o, d, keys);
  Print("Key layer alone against SQLite", keys);

  if (own_dir) std::filesystem::remove_all(o.dir);
  return g_failed ? 1 : 0;
}
