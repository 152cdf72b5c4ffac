// bench_odbc [N] [M,M2...]: the ODBC driver through the runtime's file verbs
// against the same statements written directly against the ODBC API, over
// SQLite and PostgreSQL, in one run. Ratio = raw ODBC time / ours (above 1:
// we are faster). Also batched against unbatched inserts through the driver.
//
// Walks over PostgreSQL tables of M rows (default 5 N): the first row after
// SET from a key value in the middle, the next 999 rows (a page), and how
// much the process's peak memory grew meanwhile, for the driver and for the
// raw statements, with the data-source settings of docs/odbc.md; then the
// driver once more without them, to show what they are for.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/runtime/declaration.h"
#include "host/runtime/error_state.h"
#include "host/runtime/file.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace {

using namespace nv;
using Clock = std::chrono::steady_clock;

#pragma pack(push, 1)
struct Rec {
  int32_t CODE;
  String<30> NAME;
  int32_t AMOUNT;
};
#pragma pack(pop)

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_odbc: %s (%d %s)\n", what.c_str(), ErrorCode(), FileError().c_str());
  std::exit(1);
}

FileDecl Decl(const std::string& owner, const std::string& table) {
  static auto rt = DeclareRecord<Rec>("BR", {NV_FIELD(Rec, CODE), NV_FIELD(Rec, NAME), NV_FIELD(Rec, AMOUNT)});
  FileDecl d;
  d.label = table;
  d.driver = "ODBC";
  d.name = table;
  d.owner = owner;
  d.record = rt;
  d.keys = {{"BR:K_" + table, {"BR:CODE"}, kKeyPrimary, ""}};
  return d;
}

// The raw side: one connection, prepared statements, bound buffers.
struct Raw {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  explicit Raw(const std::string& cs) {
    SQLAllocEnv(&env);
    SQLAllocConnect(env, &dbc);
    SQLCHAR out[256];
    SQLSMALLINT n;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, out, 255, &n,
                                        SQL_DRIVER_NOPROMPT)))
      Die("conexión directa");
  }
  ~Raw() {
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
  }
  SQLHSTMT Prepare(const std::string& sql) {
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    if (!SQL_SUCCEEDED(SQLPrepare(st, (SQLCHAR*)sql.c_str(), SQL_NTS))) Die("prepare " + sql);
    return st;
  }
};

// One row of the raw side's reads by key: the key parameter and the columns.
struct RawRow {
  SQLINTEGER key = 0, code = 0, amount = 0;
  char name[91] = {};
  SQLLEN l1 = 0, l2 = 0, l3 = 0;
  void Bind(SQLHSTMT st) {
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
    SQLBindCol(st, 1, SQL_C_SLONG, &code, 0, &l1);
    SQLBindCol(st, 2, SQL_C_CHAR, name, sizeof name, &l2);
    SQLBindCol(st, 3, SQL_C_SLONG, &amount, 0, &l3);
  }
};

struct Row {
  const char* what;
  double ours, raw;
};

void Run(const std::string& server, const std::string& owner, int n, std::vector<Row>* rows,
         double* batch_ratio) {
  std::mt19937 rng(7);
  std::vector<int32_t> codes(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) codes[size_t(i)] = i + 1;
  std::shuffle(codes.begin(), codes.end(), rng);
  auto fresh = [&](const std::string& table) {
    File f(Decl(owner, table));
    f.Remove();
    ClearError();
    if (f.Create() != 0) Die("CREATE " + table);
  };
  // Inserts: ours unbatched, ours batched, raw prepared.
  fresh("BENCH_A");
  fresh("BENCH_B");
  fresh("BENCH_C");
  File a(Decl(owner, "BENCH_A"));
  if (a.Open() != 0) Die("OPEN");
  auto t0 = Clock::now();
  for (int32_t c : codes) {
    Rec& r = a.As<Rec>();
    r.CODE = c;
    r.NAME = "Nombre " + std::to_string(c);
    r.AMOUNT = c * 3;
    if (a.Add() != 0) Die("ADD");
  }
  const double ours_insert = Since(t0);
  File b(Decl(owner, "BENCH_B"));
  if (b.Open() != 0) Die("OPEN");
  b.SetProperty(29506, "100");
  t0 = Clock::now();
  for (int32_t c : codes) {
    Rec& r = b.As<Rec>();
    r.CODE = c;
    r.NAME = "Nombre " + std::to_string(c);
    r.AMOUNT = c * 3;
    if (b.Add() != 0) Die("ADD por lotes");
  }
  b.Close();
  const double batched = Since(t0);
  Raw raw(owner);
  {
    SQLHSTMT st = raw.Prepare("INSERT INTO \"BENCH_C\" (BR_CODE,BR_NAME,BR_AMOUNT) VALUES (?,?,?)");
    SQLINTEGER code = 0, amount = 0;
    char name[31];
    SQLLEN name_len = 0;
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &code, 0, nullptr);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 30, 0, name, 31, &name_len);
    SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &amount, 0, nullptr);
    t0 = Clock::now();
    for (int32_t c : codes) {
      code = c;
      amount = c * 3;
      name_len = std::snprintf(name, sizeof name, "Nombre %d", c);
      if (!SQL_SUCCEEDED(SQLExecute(st))) Die("INSERT directo");
    }
    rows->push_back({"inserts", ours_insert, Since(t0)});
    SQLFreeStmt(st, SQL_DROP);
  }
  *batch_ratio = ours_insert / batched;
  // Point reads by key.
  t0 = Clock::now();
  for (int32_t c : codes) {
    a.As<Rec>().CODE = c;
    if (a.Get(a.key(0)) != 0) Die("GET");
  }
  const double ours_get = Since(t0);
  {
    SQLHSTMT st = raw.Prepare("SELECT BR_CODE,BR_NAME,BR_AMOUNT FROM \"BENCH_A\" WHERE BR_CODE = ?");
    RawRow row;
    row.Bind(st);
    t0 = Clock::now();
    for (int32_t c : codes) {
      row.key = c;
      if (!SQL_SUCCEEDED(SQLExecute(st)) || SQLFetch(st) != SQL_SUCCESS) Die("SELECT directo");
      SQLFreeStmt(st, SQL_CLOSE);
    }
    rows->push_back({"point reads by key", ours_get, Since(t0)});
    SQLFreeStmt(st, SQL_DROP);
  }
  // Ordered reads, one row a fetch and 100 rows a fetch.
  for (int set : {1, 100}) {
    a.SetProperty(29505, std::to_string(set));
    t0 = Clock::now();
    a.Set(a.key(0));
    int count = 0;
    while (a.Next() == 0) ++count;
    if (count != n) Die("NEXT");
    const double ours_scan = Since(t0);
    SQLHSTMT st = raw.Prepare("SELECT BR_CODE,BR_NAME,BR_AMOUNT FROM \"BENCH_A\" ORDER BY BR_CODE");
    std::vector<SQLINTEGER> code(static_cast<size_t>(set)), amount(static_cast<size_t>(set));
    std::vector<char> name(static_cast<size_t>(set) * 91);
    std::vector<SQLLEN> l1(static_cast<size_t>(set)), l2(static_cast<size_t>(set)), l3(static_cast<size_t>(set));
    std::vector<SQLUSMALLINT> status(static_cast<size_t>(set));
    if (set > 1) SQLSetStmtOption(st, SQL_ROWSET_SIZE, SQLULEN(set));
    SQLBindCol(st, 1, SQL_C_SLONG, code.data(), 0, l1.data());
    SQLBindCol(st, 2, SQL_C_CHAR, name.data(), 91, l2.data());
    SQLBindCol(st, 3, SQL_C_SLONG, amount.data(), 0, l3.data());
    t0 = Clock::now();
    if (!SQL_SUCCEEDED(SQLExecute(st))) Die("SELECT ordenado directo");
    int raw_count = 0;
    if (set == 1) {
      while (SQLFetch(st) == SQL_SUCCESS) ++raw_count;
    } else {
      SQLULEN got = 0;
      while (SQL_SUCCEEDED(SQLExtendedFetch(st, SQL_FETCH_NEXT, 0, &got, status.data()))) raw_count += int(got);
    }
    if (raw_count != n) Die("fetch directo");
    rows->push_back({set == 1 ? "ordered reads, 1 row a fetch" : "ordered reads, 100 rows a fetch",
                     ours_scan, Since(t0)});
    SQLFreeStmt(st, SQL_DROP);
  }
  a.Close();
  std::printf("\n%s, N = %d\n", server.c_str(), n);
  std::printf("%-34s %10s %10s %7s\n", "work", "ours (s)", "raw (s)", "ratio");
  for (const Row& r : *rows) std::printf("%-34s %10.3f %10.3f %7.2f\n", r.what, r.ours, r.raw, r.raw / r.ours);
  std::printf("%-34s %10.3f %10s %7.2f  (unbatched / batched)\n", "inserts, batches of 100", batched, "",
              *batch_ratio);
}

// Peak resident memory of the process in KB (VmHWM), and a reset of it.
long PeakKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

struct WalkTimes {
  double first = 1e9, page = 1e9;  // best of the runs, seconds
  long grew_kb = 0;                // the most the peak grew in a run
};

WalkTimes OurWalk(const std::string& owner, const std::string& table, int32_t from, int runs) {
  WalkTimes w;
  File f(Decl(owner, table));
  if (f.Open() != 0) Die("OPEN " + table);
  for (int run = 0; run < runs; ++run) {
    ResetPeak();
    const long before = PeakKb();
    auto t0 = Clock::now();
    f.As<Rec>().CODE = from + run;
    f.Set(f.key(0), f.key(0));
    if (f.Next() != 0) Die("primera fila");
    w.first = std::min(w.first, Since(t0));
    t0 = Clock::now();
    for (int i = 1; i < 1000; ++i)
      if (f.Next() != 0) Die("página");
    w.page = std::min(w.page, Since(t0));
    w.grew_kb = std::max(w.grew_kb, PeakKb() - before);
  }
  return w;
}

WalkTimes RawWalk(const std::string& owner, const std::string& table, int32_t from, int runs) {
  WalkTimes w;
  Raw raw(owner);
  SQLHSTMT st = raw.Prepare("SELECT BR_CODE,BR_NAME,BR_AMOUNT FROM \"" + table +
                            "\" WHERE BR_CODE >= ? ORDER BY BR_CODE");
  RawRow row;
  row.Bind(st);
  for (int run = 0; run < runs; ++run) {
    ResetPeak();
    const long before = PeakKb();
    row.key = from + run;
    auto t0 = Clock::now();
    if (!SQL_SUCCEEDED(SQLExecute(st)) || SQLFetch(st) != SQL_SUCCESS) Die("primera fila directa");
    w.first = std::min(w.first, Since(t0));
    t0 = Clock::now();
    for (int i = 1; i < 1000; ++i)
      if (SQLFetch(st) != SQL_SUCCESS) Die("página directa");
    w.page = std::min(w.page, Since(t0));
    SQLFreeStmt(st, SQL_CLOSE);
    w.grew_kb = std::max(w.grew_kb, PeakKb() - before);
  }
  SQLFreeStmt(st, SQL_DROP);
  return w;
}

// The table of M rows, filled by the server itself.
void FillWalkTable(const std::string& owner, const std::string& table, int m) {
  File f(Decl(owner, table));
  f.Remove();
  ClearError();
  if (f.Create() != 0 || f.Open() != 0) Die("CREATE " + table);
  const std::string fill = "INSERT INTO \"" + table + "\" SELECT g, 'Nombre ' || g, g * 3 FROM "
                           "generate_series(1, " + std::to_string(m) + ") g";
  if (f.Send(fill) != "0" || f.Send("ANALYZE \"" + table + "\"") != "0") Die("llenado");
}

void Walks(const std::string& owner, const std::string& plain_owner, const std::vector<int>& sizes) {
  std::printf("\nPostgreSQL walks: first row after SET from the middle, then 999 more\n");
  std::printf("%-10s %-9s %12s %12s %7s %12s %12s %7s %10s %10s\n", "rows", "settings", "first ours",
              "first raw", "ratio", "page ours", "page raw", "ratio", "+KB ours", "+KB raw");
  for (int m : sizes) {
    const std::string table = "BENCH_W" + std::to_string(m);
    FillWalkTable(owner, table, m);
    const int32_t from = std::max(1, std::min(m / 2, m - 1010));
    const int runs = 5;
    const WalkTimes ours = OurWalk(owner, table, from, runs);
    const WalkTimes raw = RawWalk(owner, table, from, runs);
    std::printf("%-10d %-9s %10.3fms %10.3fms %7.2f %10.3fms %10.3fms %7.2f %10ld %10ld\n", m, "stream",
                ours.first * 1e3, raw.first * 1e3, raw.first / ours.first, ours.page * 1e3,
                raw.page * 1e3, raw.page / ours.page, ours.grew_kb, raw.grew_kb);
    const WalkTimes plain = OurWalk(plain_owner, table, from, 1);
    std::printf("%-10d %-9s %10.3fms %12s %7s %10.3fms %12s %7s %10ld\n", m, "default", plain.first * 1e3,
                "", "", plain.page * 1e3, "", "", plain.grew_kb);
    File f(Decl(owner, table));
    f.Remove();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 20000;
  const auto& sv = odbctest::GetServers(true);
  std::vector<Row> rows;
  double batch = 0;
  // Without a sync per commit, so that the driver's work is measured rather
  // than the disk's (the same owner for both sides).
  Run("SQLite", sv.SqliteOwner() + "SyncPragma=OFF;", n, &rows, &batch);
  if (!sv.pg_error.empty()) Die(sv.pg_error);
  if (sv.pg_skip.empty()) {
    rows.clear();
    Run("PostgreSQL", sv.PgOwner(), n, &rows, &batch);
    std::vector<int> sizes;
    std::stringstream list(argc > 2 ? argv[2] : std::to_string(std::max(1000, 5 * n)));
    for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::max(2000, std::atoi(item.c_str())));
    // The same server without the streaming settings.
    std::string plain = sv.PgOwner();
    for (const char* setting : {"UseDeclareFetch=1;", "Fetch=1000;"}) plain.erase(plain.find(setting), std::strlen(setting));
    Walks(sv.PgOwner(), plain, sizes);
  } else {
    std::printf("\nPostgreSQL: %s\n", sv.pg_skip.c_str());
  }
  return 0;
}
