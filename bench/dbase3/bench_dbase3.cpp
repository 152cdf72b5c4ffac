// bench_dbase3: the dBase III driver against SQLite doing the same work in
// the same run, printed as processor times and ratios. A ratio is SQLite's time
// divided by the driver's: above 1 means the dBase III table is faster.
//
//   bench_dbase3 [N] [--dir=FOLDER]
//
// N records (default 200,000) of a numeric code (unique index), a
// 30-character name (index with duplicates allowed) and 60 characters of
// filler go through: ADD of every record with both indexes kept (the table
// opened by this program alone, streaming until FLUSH, with BUFFERS=65536; SQLite: the table
// with both indexes made first, one transaction, synchronous=OFF), N GETs
// by random code, and a scan of the whole table in name order.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
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
  nv::String<60> FILL;
};
#pragma pack(pop)

bool g_failed = false;

// Processor time of this process (user and system): the machines this runs
// on are shared, and the wall clock there counts other programs' turns.
double CpuNow() {
  return double(std::clock()) / CLOCKS_PER_SEC;
}

double Seconds(const std::function<bool()>& work) {
  const double t0 = CpuNow();
  if (!work()) g_failed = true;
  return CpuNow() - t0;
}

struct Data {
  std::vector<int32_t> codes;
  std::vector<std::string> names;
  std::vector<int32_t> probes;
};

Data MakeData(size_t n) {
  Data d;
  std::mt19937 rng(42);
  for (size_t i = 0; i < n; ++i) d.codes.push_back(int32_t(i + 1));
  std::shuffle(d.codes.begin(), d.codes.end(), rng);
  for (size_t i = 0; i < n; ++i) {
    std::string name;
    const int len = 8 + int(rng() % 20);
    for (int j = 0; j < len; ++j) name += char('A' + rng() % 26);
    d.names.push_back(name);
  }
  for (size_t i = 0; i < n; ++i) d.probes.push_back(int32_t(1 + rng() % n));
  return d;
}

nv::FileDecl Decl(const std::string& path) {
  static auto rt = nv::DeclareRecord<BenchRecord>(
      "BE", {NV_FIELD(BenchRecord, CODE, .name = "CODE=N(9)"), NV_FIELD(BenchRecord, NAME),
             NV_FIELD(BenchRecord, FILL)});
  nv::FileDecl d;
  d.label = "BENCH";
  d.driver = "dBase3";
  d.name = path;
  d.record = rt;
  // Index pages kept in memory: enough for both indexes of the largest run.
  d.driver_string = "BUFFERS=65536";
  d.keys = {{"BE:BECODE", {"BE:CODE"}, 0, ""}, {"BE:BENAME", {"BE:NAME"}, nv::kKeyDup, ""}};
  return d;
}

void RunOurs(const std::string& dir, const Data& d, double* t) {
  nv::File f(Decl(dir + "/BENCH"));
  if (f.Create() != 0 || f.Open(nv::kReadWrite | nv::kDenyWrite) != 0) {
    std::fprintf(stderr, "dBase3: create/open error %d\n", nv::ErrorCode());
    g_failed = true;
    return;
  }
  const size_t n = d.codes.size();
  t[0] = Seconds([&] {
    f.Stream();
    auto& r = f.As<BenchRecord>();
    for (size_t i = 0; i < n; ++i) {
      r.CODE = d.codes[i];
      r.NAME = d.names[i];
      r.FILL = "some filler text of the record";
      if (f.Add() != 0) return false;
    }
    return f.Flush() == 0;
  });
  t[1] = Seconds([&] {
    auto& r = f.As<BenchRecord>();
    for (int32_t code : d.probes) {
      r.CODE = code;
      if (f.Get(f.key(0)) != 0 || r.CODE != code) return false;
    }
    return true;
  });
  t[2] = Seconds([&] {
    size_t rows = 0;
    f.Set(f.key(1));
    while (f.Next() == 0) ++rows;
    return rows == n;
  });
  f.Close();
}

bool Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
  std::fprintf(stderr, "sqlite: %s: %s\n", sql, err ? err : "?");
  sqlite3_free(err);
  return false;
}

void RunSqlite(const std::string& dir, const Data& d, double* t) {
  sqlite3* db = nullptr;
  const std::string path = dir + "/bench.db";
  std::filesystem::remove(path);
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || !Exec(db, "PRAGMA synchronous=OFF") ||
      !Exec(db, "CREATE TABLE t(code INTEGER, name TEXT, fill TEXT)") ||
      !Exec(db, "CREATE UNIQUE INDEX t_code ON t(code)") ||
      !Exec(db, "CREATE INDEX t_name ON t(name)")) {
    g_failed = true;
    return;
  }
  const size_t n = d.codes.size();
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t(code, name, fill) VALUES(?, ?, ?)", -1, &ins, nullptr);
  t[0] = Seconds([&] {
    if (!Exec(db, "BEGIN")) return false;
    for (size_t i = 0; i < n; ++i) {
      sqlite3_bind_int(ins, 1, d.codes[i]);
      sqlite3_bind_text(ins, 2, d.names[i].c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, "some filler text of the record", -1, SQLITE_STATIC);
      if (sqlite3_step(ins) != SQLITE_DONE) return false;
      sqlite3_reset(ins);
    }
    return Exec(db, "COMMIT");
  });
  sqlite3_finalize(ins);
  sqlite3_stmt* get = nullptr;
  sqlite3_prepare_v2(db, "SELECT code, name, fill FROM t WHERE code = ?", -1, &get, nullptr);
  t[1] = Seconds([&] {
    for (int32_t code : d.probes) {
      sqlite3_bind_int(get, 1, code);
      if (sqlite3_step(get) != SQLITE_ROW || sqlite3_column_int(get, 0) != code) return false;
      sqlite3_reset(get);
    }
    return true;
  });
  sqlite3_finalize(get);
  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db, "SELECT code, name, fill FROM t ORDER BY name", -1, &scan, nullptr);
  t[2] = Seconds([&] {
    size_t rows = 0;
    int64_t sink = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
      sink += sqlite3_column_int(scan, 0) + sqlite3_column_bytes(scan, 1) +
              sqlite3_column_bytes(scan, 2);
      ++rows;
    }
    return rows == n && sink != 0;
  });
  sqlite3_finalize(scan);
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  size_t n = 200000;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--dir=", 6) == 0) dir = argv[i] + 6;
    else n = size_t(std::max(1L, std::atol(argv[i])));
  }
  bool own_dir = dir.empty();
  if (own_dir) {
    char tmpl[] = "/tmp/benchdb3XXXXXX";
    dir = ::mkdtemp(tmpl);
  }
  const Data d = MakeData(n);
  double ours[3] = {}, peer[3] = {};
  RunOurs(dir, d, ours);
  RunSqlite(dir, d, peer);
  const char* what[3] = {"ADD with two indexes", "GET by random code", "scan in name order"};
  std::printf("%zu records                  dBase3 s   SQLite s   ratio (SQLite/dBase3)\n", n);
  for (int i = 0; i < 3; ++i)
    std::printf("%-26s %9.3f  %9.3f   %6.2f\n", what[i], ours[i], peer[i],
                ours[i] > 0 ? peer[i] / ours[i] : 0.0);
  if (own_dir) std::filesystem::remove_all(dir);
  return g_failed ? 1 : 0;
}
