// The SQLite side of the report benchmarks: one call record as a row of the
// peer's table mo01(codlla, fecha, hora, nroint, nrolin, nrotel, durlla,
// coslla, tipolla), through a prepared INSERT of nine parameters.
#pragma once

#include <sqlite3.h>

#include "host/dictionary/records.h"

namespace bench {

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
