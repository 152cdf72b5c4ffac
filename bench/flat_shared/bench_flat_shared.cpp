// bench_flat_shared: the flat driver's shared files against SQLite in WAL
// mode, the same work in the same run, printed as rates and ratios. A ratio
// is SQLite's time for the work divided by the flat driver's (the flat rate
// over SQLite's): above 1 means the flat file is faster.
//
//   bench_flat_shared [N] [--txns=T] [--seconds=S] [--rounds=R] [--dir=FOLDER]
//
// ADD with 1, 2 and 4 processes: each process adds N records (about 100
// bytes, a unique code key and a name key) to one file opened shared, each
// ADD durable on its own (header written and flushed; SQLite: autocommit
// inserts, synchronous=FULL). COMMIT: T transactions of 100 ADDs each
// (LOGOUT, 100 ADDs, COMMIT; SQLite: BEGIN, 100 inserts, COMMIT). N
// defaults to 2,000 and T to 20. The work is done in R turns (default 4),
// the flat driver's and SQLite's taken one after the other, and each side's
// turns are added up: the time of a flush on a shared machine's disk varies
// tenfold from one second to the next, and turns in alternation give both
// sides the same disk.
//
// Reads while one writes: over a file of 20,000 records, 4 processes walk
// the code key from end to end again and again (SQLite: SELECT ... ORDER BY
// code) while a fifth adds records, durable, for S seconds (default 2).
// Printed: the records read per second, the writer's ADDs per second and
// its worst and mean ADD time, also with the writer alone, so that the
// delay the readers cause is seen.
//
// The header byte lock serialises every write on a shared file: an ADD
// holds it from the header read to the flushed header write, so processes
// share one stream of ADDs whose pace is the flush of the data file; more
// processes gain only by overlapping the work outside the lock. Inside a
// transaction the lock is kept until COMMIT, so other writers wait for the
// whole transaction. Readers hold it shared for a run of reads.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/runtime/declaration.h"
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

nv::FileDecl BenchDecl(const std::string& name) {
  static auto rt = nv::DeclareRecord<BenchRecord>(
      "BEN",
      {NV_FIELD(BenchRecord, CODE), NV_FIELD(BenchRecord, NAME), NV_FIELD(BenchRecord, FILL)});
  nv::FileDecl decl;
  decl.label = "BENCH";
  decl.driver = "Norvane";
  decl.name = name;
  decl.record = rt;
  decl.attributes = nv::kFileCreate;
  decl.keys = {{"BEN:KEY_CODE", {"BEN:CODE"}, 0, ""},
               {"BEN:KEY_NAME", {"BEN:NAME"}, nv::kKeyDup, ""}};
  return decl;
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void FillRecord(BenchRecord* r, int32_t code) {
  r->CODE = code;
  r->NAME = "NOMBRE " + std::to_string((code * 7919) % 100003);
  r->FILL = "relleno";
}

// --- flat driver

int FlatAdds(const std::string& dir, int first, int n) {
  nv::File f(BenchDecl(dir + "/BENCH"));
  if (f.Open(nv::kReadWrite | nv::kDenyNone) != 0) return 1;
  for (int i = 0; i < n; ++i) {
    FillRecord(&f.As<BenchRecord>(), first + i);
    if (f.Add() != 0) return 2;
  }
  return f.Close() ? 3 : 0;
}

int SqliteOpen(const std::string& path, sqlite3** db) {
  if (sqlite3_open(path.c_str(), db) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(*db, 60000);
  sqlite3_exec(*db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
  return 0;
}

bool SqliteInsert(sqlite3_stmt* s, int32_t code) {
  BenchRecord r;
  FillRecord(&r, code);
  sqlite3_bind_int(s, 1, code);
  sqlite3_bind_text(s, 2, r.NAME.data(), 30, SQLITE_TRANSIENT);
  sqlite3_bind_text(s, 3, r.FILL.data(), 66, SQLITE_TRANSIENT);
  bool ok = sqlite3_step(s) == SQLITE_DONE;
  sqlite3_reset(s);
  return ok;
}

// The bench table in a new database, with the name index of the flat file.
void SqliteCreate(const std::string& path) {
  sqlite3* db = nullptr;
  SqliteOpen(path, &db);
  sqlite3_exec(db,
               "CREATE TABLE bench(code INTEGER PRIMARY KEY, name TEXT, fill TEXT);"
               "CREATE INDEX bench_name ON bench(name, code);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

int SqliteAdds(const std::string& path, int first, int n, int per_txn) {
  sqlite3* db = nullptr;
  if (SqliteOpen(path, &db)) return 1;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO bench(code, name, fill) VALUES(?, ?, ?)", -1, &s, nullptr);
  int rc = 0;
  for (int i = 0; i < n && rc == 0; i += per_txn) {
    if (per_txn > 1) sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int j = i; j < i + per_txn && j < n && rc == 0; ++j)
      if (!SqliteInsert(s, first + j)) rc = 2;
    if (per_txn > 1 && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) rc = 3;
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rc;
}

// Runs `work(p)` in `procs` processes at once; answers the seconds taken.
template <class F>
double InProcesses(int procs, F work, bool* ok) {
  const double t0 = Now();
  std::vector<pid_t> pids;
  for (int p = 0; p < procs; ++p) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(work(p));
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "process %d ended with status %d\n", int(pid), status);
      *ok = false;
    }
  }
  return Now() - t0;
}

// --- reads while one writes

struct Mixed {
  double reads = 0;     // records read per second, all readers
  double adds = 0;      // ADDs per second
  double worst_ms = 0;  // the writer's slowest ADD
  double mean_ms = 0;
};

// A child's figures go back through a small file: "records adds worst_s total_s".
void Report(const std::string& path, double records, double adds, double worst, double total) {
  if (FILE* p = std::fopen(path.c_str(), "w")) {
    std::fprintf(p, "%.0f %.0f %.9f %.9f\n", records, adds, worst, total);
    std::fclose(p);
  }
}

// The writer: ADDs codes from `first` until `seconds` have passed.
template <class Add>
int Writer(const std::string& out, double seconds, int from, Add add) {
  const double end = Now() + seconds;
  double worst = 0, total = 0;
  int n = 0;
  while (Now() < end) {
    const double t0 = Now();
    if (!add(from + n)) return 2;
    const double t = Now() - t0;
    worst = std::max(worst, t);
    total += t;
    ++n;
  }
  Report(out, 0, n, worst, total);
  return 0;
}

// A reader: whole walks by code until `seconds` have passed.
template <class Walk>
int Reader(const std::string& out, double seconds, Walk walk) {
  const double end = Now() + seconds;
  double records = 0;
  while (Now() < end) {
    const long got = walk();
    if (got < 0) return 2;
    records += double(got);
  }
  Report(out, records, 0, 0, 0);
  return 0;
}

// Runs the writer (process 0, adding codes from `from` on) and `readers`
// readers; sums their figures.
template <class W, class R>
Mixed RunMixed(const std::string& dir, int readers, double seconds, int from, W writer, R reader,
               bool* ok) {
  InProcesses(
      readers + 1,
      [&](int p) {
        const std::string out = dir + "/res" + std::to_string(p);
        return p == 0 ? Writer(out, seconds, from, writer) : Reader(out, seconds, reader);
      },
      ok);
  Mixed m;
  for (int p = 0; p <= readers; ++p) {
    double records = 0, adds = 0, worst = 0, total = 0;
    FILE* in = std::fopen((dir + "/res" + std::to_string(p)).c_str(), "r");
    if (!in || std::fscanf(in, "%lf %lf %lf %lf", &records, &adds, &worst, &total) != 4)
      *ok = false;
    if (in) std::fclose(in);
    m.reads += records / seconds;
    if (p == 0) {
      m.adds = adds / seconds;
      m.worst_ms = worst * 1000;
      m.mean_ms = adds > 0 ? total / adds * 1000 : 0;
    }
  }
  return m;
}

bool ReadsWhileWriting(const std::string& dir, double seconds) {
  constexpr int kRecords = 20000;
  constexpr int kReaders = 4;
  const std::string base = dir + "/RW";
  std::filesystem::create_directories(base);
  {
    nv::File f(BenchDecl(base + "/BENCH"));
    if (f.Create() != 0 || f.Open(nv::kReadWrite | nv::kDenyAll) != 0 || f.Stream() != 0)
      return false;
    for (int i = 1; i <= kRecords; ++i) {
      FillRecord(&f.As<BenchRecord>(), i);
      if (f.Append() != 0) return false;
    }
    if (f.Build() != 0 || f.Close() != 0) return false;
  }
  const std::string db_path = base + "/bench.db";
  SqliteCreate(db_path);
  if (SqliteAdds(db_path, 1, kRecords, kRecords) != 0) return false;
  auto flat_writer = [&](int i) {
    static nv::File* f = nullptr;
    if (!f) {
      f = new nv::File(BenchDecl(base + "/BENCH"));
      if (f->Open(nv::kReadWrite | nv::kDenyNone) != 0) return false;
    }
    FillRecord(&f->As<BenchRecord>(), i);
    return f->Add() == 0;
  };
  auto flat_reader = [&]() -> long {
    static nv::File* f = nullptr;
    if (!f) {
      f = new nv::File(BenchDecl(base + "/BENCH"));
      if (f->Open(nv::kReadOnly | nv::kDenyNone) != 0) return -1;
    }
    if (f->Set(f->key(0)) != 0) return -1;
    long n = 0;
    while (f->Next() == 0) ++n;
    return n;
  };
  auto lite_writer = [&](int i) {
    static sqlite3* db = nullptr;
    static sqlite3_stmt* s = nullptr;
    if (!db) {
      SqliteOpen(db_path, &db);
      sqlite3_prepare_v2(db, "INSERT INTO bench(code, name, fill) VALUES(?, ?, ?)", -1, &s,
                         nullptr);
    }
    return SqliteInsert(s, i);
  };
  auto lite_reader = [&]() -> long {
    static sqlite3* db = nullptr;
    static sqlite3_stmt* s = nullptr;
    if (!db) {
      SqliteOpen(db_path, &db);
      sqlite3_prepare_v2(db, "SELECT code, name, fill FROM bench ORDER BY code", -1, &s, nullptr);
    }
    long n = 0;
    int64_t sink = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      sink += sqlite3_column_int(s, 0) + sqlite3_column_bytes(s, 1) + sqlite3_column_bytes(s, 2);
      ++n;
    }
    sqlite3_reset(s);
    return sink != 0 ? n : -1;
  };
  // One reader alone: a shared open against a deny-write one (the same
  // walks; a ratio near 1 means shared reads cost what exclusive ones do).
  auto walks = [&](uint32_t mode) {
    nv::File f(BenchDecl(base + "/BENCH"));
    if (f.Open(mode) != 0) return -1.0;
    const double t0 = Now();
    long n = 0;
    for (int i = 0; i < 20; ++i) {
      f.Set(f.key(0));
      while (f.Next() == 0) ++n;
    }
    const double t = Now() - t0;
    return n == 20L * kRecords ? t : -1.0;
  };
  const double shared = walks(nv::kReadOnly | nv::kDenyNone);
  const double exclusive = walks(nv::kReadOnly | nv::kDenyWrite);
  std::printf(
      "%-24s %14.0f %14.0f %8.2f  (exclusive rec/s, shared rec/s, exclusive time / shared)\n",
      "walks, shared/exclusive", 20 * kRecords / exclusive, 20 * kRecords / shared,
      exclusive / shared);
  bool ok = shared > 0 && exclusive > 0;
  const Mixed alone = RunMixed(base, 0, seconds, 1000000, flat_writer, flat_reader, &ok);
  const Mixed flat = RunMixed(base, kReaders, seconds, 2000000, flat_writer, flat_reader, &ok);
  const Mixed lite_alone = RunMixed(base, 0, seconds, 1000000, lite_writer, lite_reader, &ok);
  const Mixed lite = RunMixed(base, kReaders, seconds, 2000000, lite_writer, lite_reader, &ok);
  std::printf("%-24s %14.0f %14.0f %8.2f\n", "reads, 4 proc + 1 writer", flat.reads, lite.reads,
              lite.reads > 0 ? flat.reads / lite.reads : 0);
  std::printf("%-24s %14.0f %14.0f %8.2f\n", "ADD while 4 read", flat.adds, lite.adds,
              lite.adds > 0 ? flat.adds / lite.adds : 0);
  std::printf(
      "writer's ADD time, ms (worst / mean): flat alone %.2f / %.2f, with readers %.2f / %.2f;"
      " SQLite alone %.2f / %.2f, with readers %.2f / %.2f\n",
      alone.worst_ms, alone.mean_ms, flat.worst_ms, flat.mean_ms, lite_alone.worst_ms,
      lite_alone.mean_ms, lite.worst_ms, lite.mean_ms);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int n = 2000, txns = 20, rounds = 4;
  double seconds = 2;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--txns=", 0) == 0) {
      txns = std::atoi(a.c_str() + 7);
    } else if (a.rfind("--seconds=", 0) == 0) {
      seconds = std::atof(a.c_str() + 10);
    } else if (a.rfind("--rounds=", 0) == 0) {
      rounds = std::atoi(a.c_str() + 9);
    } else if (a.rfind("--dir=", 0) == 0) {
      dir = a.substr(6);
    } else {
      n = std::atoi(a.c_str());
    }
  }
  if (n < 1 || txns < 1 || seconds <= 0 || rounds < 1) return 2;
  rounds = std::min({rounds, n, txns});
  bool own_dir = dir.empty();
  if (own_dir) {
    char tmpl[] = "/tmp/nvbenchshXXXXXX";
    dir = ::mkdtemp(tmpl);
  }
  // The transaction file of this program goes to the bench folder.
  const std::string ini = dir + "/bench.ini";
  if (FILE* p = std::fopen(ini.c_str(), "w")) {
    std::fprintf(p, "[NWN21]\nNRVTMP=%s\n", dir.c_str());
    std::fclose(p);
  }
  ::setenv("NVRUN_PROFILE", ini.c_str(), 1);

  std::printf("ratio: SQLite's time / flat time (above 1 = flat faster)\n");
  std::printf("%-24s %14s %14s %8s\n", "work", "flat rec/s", "sqlite rec/s", "ratio");
  bool all_ok = true;
  for (int procs : {1, 2, 4}) {
    const std::string base = dir + "/P" + std::to_string(procs);
    std::filesystem::create_directories(base);
    {
      nv::File f(BenchDecl(base + "/BENCH"));
      if (f.Create() != 0) return 1;
    }
    const std::string db_path = base + "/bench.db";
    SqliteCreate(db_path);
    bool ok = true;
    double flat = 0, lite = 0;
    // Each process adds N records in all, in `rounds` turns taken by the two
    // sides in turn.
    for (int r = 0; r < rounds; ++r) {
      const int from = r * n / rounds, count = (r + 1) * n / rounds - from;
      flat += InProcesses(
          procs, [&](int p) { return FlatAdds(base, (p + 1) * 10000000 + from, count); }, &ok);
      lite += InProcesses(
          procs, [&](int p) { return SqliteAdds(db_path, (p + 1) * 10000000 + from, count, 1); },
          &ok);
    }
    all_ok = all_ok && ok;
    const double total = double(n) * procs;
    std::printf("%-24s %14.0f %14.0f %8.2f%s\n",
                ("ADD, " + std::to_string(procs) + " proc").c_str(), total / flat, total / lite,
                lite / flat, ok ? "" : "  (failed)");
  }
  {
    const std::string base = dir + "/TX";
    std::filesystem::create_directories(base);
    nv::File f(BenchDecl(base + "/BENCH"));
    if (f.Create() != 0 || f.Open(nv::kReadWrite | nv::kDenyNone) != 0) return 1;
    f.SetProperty(29441, "1");
    const std::string db_path = base + "/bench.db";
    SqliteCreate(db_path);
    bool ok = true;
    double flat = 0, lite = 0;
    for (int r = 0; r < rounds && ok; ++r) {
      const int from = r * txns / rounds, to = (r + 1) * txns / rounds;
      const double t0 = Now();
      for (int t = from; t < to && ok; ++t) {
        ok = f.Logout() == 0;
        for (int i = 0; i < 100 && ok; ++i) {
          FillRecord(&f.As<BenchRecord>(), t * 100 + i + 1);
          ok = f.Add() == 0;
        }
        ok = ok && f.Commit() == 0;
      }
      flat += Now() - t0;
      const double t1 = Now();
      ok = ok && SqliteAdds(db_path, from * 100 + 1, (to - from) * 100, 100) == 0;
      lite += Now() - t1;
    }
    f.Close();
    all_ok = all_ok && ok;
    const double total = double(txns) * 100;
    std::printf("%-24s %14.0f %14.0f %8.2f%s\n", "COMMIT of 100 ADDs", total / flat, total / lite,
                lite / flat, ok ? "" : "  (failed)");
  }
  all_ok = ReadsWhileWriting(dir, seconds) && all_ok;
  if (own_dir) std::filesystem::remove_all(dir);
  return all_ok ? 0 : 1;
}
