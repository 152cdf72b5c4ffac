// The SQLite side of the report benchmarks: one call record as a row of the
// peer's table mo01(codlla, fecha, hora, nroint, nrolin, nrotel, durlla,
// coslla, tipolla), through a prepared INSERT of nine parameters.
#pragma once

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "host/dictionary/records.h"
#include "host/runtime/file.h"

namespace bench {

// The command line of a report benchmark, [N] [--data DIR] [--runs K]
// [--walks-only], and the folder it works in. Without --data DIR: a new
// temporary folder, removed at the end. With it: DIR, kept, and reused as it
// is when an earlier run left the data of the same N there (writing a
// million calls takes minutes; the report runs take seconds). --runs K
// times the selections K times each (ours and SQLite's alternately) and
// keeps the best of each; --walks-only leaves out all but the selections.
struct DataDir {
  std::string path;
  bool keep = false;
  bool ready = false;  // holds the data of this N: skip writing it
  int runs = 1;
  bool walks_only = false;

  bool Open(int argc, char** argv, const char* tmp_name, long* n) {
    *n = 1000000;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
        path = argv[++i];
        keep = true;
      } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
        runs = std::max(1, std::atoi(argv[++i]));
      } else if (std::strcmp(argv[i], "--walks-only") == 0) {
        walks_only = true;
      } else {
        *n = std::strtol(argv[i], nullptr, 10);
      }
    }
    if (!keep) {
      std::string tmpl = std::string("/tmp/") + tmp_name + "-XXXXXX";
      if (mkdtemp(tmpl.data()) == nullptr) return false;
      path = tmpl;
    } else {
      ::mkdir(path.c_str(), 0700);
      ready = std::ifstream(Marker(*n)).good();
      // Only what a run writes there is removed.
      const std::string q = "'" + path + "'";
      if (!ready && std::system(("rm -rf " + q + "/Archivos " + q + "/calls.db " + q + "/ready-* " +
                                 q + "/fxr4.INI").c_str()) != 0)
        return false;
    }
    ::mkdir((path + "/Archivos").c_str(), 0700);
    return true;
  }
  // After the data is written: later runs with --data reuse it.
  void Written(long n) const {
    if (keep) std::ofstream(Marker(n)) << n << "\n";
  }
  bool Close() const {
    return keep || std::system(("rm -rf '" + path + "'").c_str()) == 0;
  }
  std::string Marker(long n) const { return path + "/ready-" + std::to_string(n); }
};

// Opens (creates) the peer's database at `path` with the table mo01 and the
// indexes of the flat call file's keys C1 (date, time) and C2 (line, date,
// time), begins the load's transaction and answers the prepared INSERT.
inline sqlite3_stmt* OpenCallTable(const std::string& path, sqlite3** db) {
  sqlite3_open(path.c_str(), db);
  sqlite3_exec(*db,
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE mo01(codlla INTEGER, fecha INTEGER, hora INTEGER, nroint TEXT,"
               " nrolin TEXT, nrotel TEXT, durlla INTEGER, coslla REAL, tipolla TEXT);"
               "CREATE INDEX mo01_c1 ON mo01(fecha, hora);"
               "CREATE INDEX mo01_c2 ON mo01(nrolin, fecha, hora);"
               "BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(*db, "INSERT INTO mo01 VALUES(?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
  return ins;
}

// The files a report run opens, created empty before the load.
inline constexpr const char* kReportFiles[] = {"FXMO01", "FXTR01", "FXMA07", "FXMA08", "FXMA09",
                                               "FXMA02", "FXMA11", "FXRE09", "FXTA03", "FXTA09",
                                               "FXTA13", "FXTA14", "FXTA15"};

// Processor time of the calling thread, in seconds: on a loaded machine it
// compares the two sides better than the time on the clock.
inline double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

inline void InsertCall(sqlite3_stmt* ins, const nv::dict::CallRecord& r) {
  sqlite3_bind_int(ins, 1, r.CODLLA);
  sqlite3_bind_int(ins, 2, r.FECLLA.day());
  sqlite3_bind_int(ins, 3, r.HORLLA);
  sqlite3_bind_text(ins, 4, r.NROINT.str().c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(ins, 5, r.NROLIN.str().c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(ins, 6, r.NROTEL.str().c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(ins, 7, r.DURLLA);
  sqlite3_bind_double(ins, 8, r.COSLLA);
  sqlite3_bind_text(ins, 9, r.TIPOLLA.str().c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_step(ins);
  sqlite3_reset(ins);
}

// Writes n calls, each made by make(i, &record), to the call file `f`
// (opened; streamed, then flushed and closed) and through `ins` to the
// peer's table, whose load is then committed and analysed. False, with a
// message, when an ADD fails.
template <typename Make>
bool WriteCalls(nv::File* f, sqlite3* db, sqlite3_stmt* ins, long n, Make make) {
  f->Stream();
  const auto t = std::chrono::steady_clock::now();
  nv::dict::CallRecord& r = f->As<nv::dict::CallRecord>();
  for (long i = 0; i < n; ++i) {
    make(i, &r);
    if (f->Add() != 0) {
      std::fprintf(stderr, "add failed at %ld\n", i);
      return false;
    }
    InsertCall(ins, r);
  }
  f->Flush();
  f->Close();
  std::printf("written %ld calls (flat and SQLite) in %.2f s\n", n,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT; ANALYZE;", nullptr, nullptr, nullptr);
  return true;
}

}  // namespace bench
