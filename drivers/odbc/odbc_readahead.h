// Reading a result ahead on a thread of its own: while the program works on
// the rows it has, the next row sets come over from the server and are
// converted by the ODBC driver on the other processor.
//
// A ReadAhead owns a few row sets. Its reader fetches into a free one, hands
// it over in the result's order and takes the next free one; the walk takes
// the sets in that order and gives each back once it has moved on.
//
// Invariants:
// - The reader calls ODBC only on its statement, only while it holds its
//   fetch mutex (and the driver's call lock, CallLock, when the statement's
//   connection is shared with files), and only after seeing, under them,
//   that it has not been stopped. Stop() takes the fetch mutex once the
//   reader is stopped, so once it returns, or once the ReadAhead is gone,
//   the statement is the walk's alone.
// - A row set belongs to one side at a time: free and being filled, the
//   reader's; handed over, the walk's until given back. Handing over and
//   giving back pass through the ReadAhead's mutex, which neither side holds
//   while it fetches or works on rows, and never allocate: rows fetched
//   always reach the walk.
// - The reader neither examines diagnostics nor writes the call log: the
//   return code of each fetch travels with its row set, and the reader stops
//   after any fetch that did not end in SQL_SUCCESS, so that the statement's
//   diagnostics are still there when the walk reaches that point and
//   examines them (an error is answered where the walk meets it).
// - Lock order: the call lock, the fetch mutex, the ReadAhead's mutex. The
//   reader waits for nothing while it holds the fetch mutex; the walk never
//   waits for a row set while it holds the call lock (the reader may wait
//   for it): it stops the reader and fetches itself instead.
// - A thread that cannot start leaves no ReadAhead: the walk fetches itself.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "drivers/odbc/odbc_api.h"

namespace odbc {

// A row set: per result column, its values and their indicators.
struct RowSetColumn {
  SQLSMALLINT c_type = 0;
  uint32_t width = 0;
  std::vector<char> buf;
  std::vector<SQLLEN> ind;
};
struct RowSet {
  std::vector<RowSetColumn> cols;
  SQLULEN rows = 0;
  SQLRETURN rc = SQL_SUCCESS;
};

class ReadAhead {
 public:
  // Starts reading the open result of `h` (a statement of connection `dbc`
  // whose row set size is `rowset`) into `sets` row sets laid out as
  // `shape`. `shared`: files use the connection too (each fetch then takes
  // the call lock). Null when no thread could start. Under the call lock.
  static std::unique_ptr<ReadAhead> Start(const OdbcApi& api, SQLHSTMT h, SQLHDBC dbc, bool shared,
                                          const std::vector<RowSetColumn>& shape, SQLULEN rowset,
                                          int sets);
  // Stops the reader and waits for it to end (leaves it to end by itself
  // when the calling thread holds the call lock, once no fetch is under way).
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next row set of the result, waiting for it as needed: false when
  // the reader has ended or been stopped and nothing it read is left (the
  // walk fetches from the statement itself). The set is the caller's until
  // it gives it back.
  bool Take(RowSet* set);
  void GiveBack(RowSet set);
  // No further fetches (waits for the one under way); what was read stays
  // to be taken.
  void Stop();

  struct Shared;

 private:
  explicit ReadAhead(std::shared_ptr<Shared> s);
  static void Read(std::shared_ptr<Shared> s);

  std::shared_ptr<Shared> s_;
  std::thread thread_;
};

}  // namespace odbc
