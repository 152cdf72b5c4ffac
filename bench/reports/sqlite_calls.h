// The SQLite side of the report benchmarks: one call record as a row of the
// peer's table mo01(codlla, fecha, hora, nroint, nrolin, nrotel, durlla,
// coslla, tipolla), through a prepared INSERT of nine parameters.
#pragma once

#include <sqlite3.h>

#include <string>

#include "host/dictionary/records.h"

namespace bench {

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

}  // namespace bench
