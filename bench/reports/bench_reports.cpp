// Detail report benchmark: N outgoing calls (default 1,000,000) over 50
// lines and ten months, written through the flat driver; the detail report
// by line over all lines and a one-month window (about a tenth of the
// calls). Measures the counting pre-scan, the printing walk (lookups and
// layout included), PDF rendering (pages per second), and, in the same run,
// the same selection over SQLite with the same indexes: one query for the
// count and totals (against the pre-scan) and one for the rows in report
// order (against the printing walk).
//
// Ratios are SQLite's time divided by ours: above 1 we are faster.
//
// The same report with the plain walks (every call of each line) shows what
// seeking saves. Then the report runs again while another process (this program with
// --writer) adds calls of the following days to the same call file, opened
// shared: the report must select exactly what it selected alone, and the
// writer's slowest ADD is printed. The peak resident memory of the report
// (the data generation left out) closes the output.
//
//   bench_reports [N] [--data DIR] [--runs K] [--walks-only] [--odbc CONNECTION|auto]
//
// With --odbc the same calls are also written into the ODBC data source
// (a PostgreSQL database: "Driver={PostgreSQL Unicode};Server=...;
// UseDeclareFetch=1;Fetch=1000;", or "auto" for a throwaway server of its own) and
// the report runs over it unchanged; its times are compared with the flat
// store's and with SQLite's (ratios: their time divided by the server
// report's).
//
// With --data the calls are written into DIR once and reused by later runs
// of the same N (the writer's calls, dated after the ten months, add up
// there but change no selection); --runs K keeps the best of K runs of the
// report and of SQLite's queries; --walks-only stops after them.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "bench/reports/sqlite_calls.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/runtime/date_time.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"
#include "reports/detail_report.h"
#include "reports/params.h"
#include "tests/drivers/odbc/odbc_servers.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

const int32_t kFirst = nv::DateFromYmd(2026, 1, 1);
const int32_t kMonthFrom = nv::DateFromYmd(2026, 4, 1);
const int32_t kMonthTo = nv::DateFromYmd(2026, 4, 30);

// A random call of day `day` (any day when negative).
void RandomCall(std::mt19937& rng, int32_t id, int32_t day, nv::dict::CallRecord* r) {
  *r = nv::dict::CallRecord{};
  r->CODLLA = id;
  r->FECLLA.set_day(day >= 0 ? day : kFirst + int32_t(rng() % 300));
  r->HORLLA = int32_t(1 + rng() % 8640000);
  r->NROINT = std::to_string(200 + rng() % 100);
  r->NROLIN = "L" + std::to_string(10 + rng() % 50);
  r->NROTEL = std::to_string(1140000000 + rng() % 1000000);
  r->DURLLA = int32_t(100 + rng() % 60000);
  r->COSLLA = double(rng() % 1000) / 100;
  r->TIPOLLA = rng() % 20 == 0 ? "NT" : "LO";
  r->TRANSF = " ";
}

// VmHWM of /proc/self/status in kB, after an optional reset of the mark.
long PeakRssKb(bool reset) {
  if (reset) std::ofstream("/proc/self/clear_refs") << "5";
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The writer process: adds calls dated after the ten months to the shared
// call file until its standard input closes; prints "r" after its first ADD,
// then "adds max_ms mean_ms" at the end.
int Writer(const std::string& dir) {
  nv::ProfileFile profile(dir + "/fxr4.INI");
  nv::dict::Dictionary dict(&profile);
  std::unique_ptr<nv::File> f = dict.NewFile("FXMO01");
  if (f->Open(nv::kReadWrite | nv::kDenyNone) != 0) return 1;
  std::mt19937 rng(99);
  nv::dict::CallRecord& r = f->As<nv::dict::CallRecord>();
  long adds = 0;
  double worst = 0, total = 0;
  fd_set in;
  for (int32_t id = 50000000;; ++id) {
    FD_ZERO(&in);
    FD_SET(0, &in);
    timeval now{0, 0};
    if (select(1, &in, nullptr, nullptr, &now) > 0) break;  // closed: the report ended
    RandomCall(rng, id, kFirst + 300 + int32_t(rng() % 30), &r);
    auto t = Clock::now();
    if (f->Add() != 0) return 2;
    const double s = Since(t);
    worst = std::max(worst, s);
    total += s;
    ++adds;
    if (adds == 1) {  // the report starts once the writer is adding
      std::fputc('r', stdout);
      std::fflush(stdout);
    }
    usleep(200);  // a busy exchange: a few thousand calls a second at most
  }
  std::printf("%ld %.3f %.3f\n", adds, worst * 1000, adds ? total * 1000 / adds : 0.0);
  return 0;
}

struct Sql {
  long long count = 0;
  double cost = 0;
  double totals_s = 0, rows_s = 0;
  double totals_cpu = 0, rows_cpu = 0;
};

// The selection of the report as SQLite runs it: count and totals, then the
// rows in the report's order.
Sql SqlSelection(sqlite3* db) {
  const char* where =
      " FROM mo01 WHERE nrolin BETWEEN ?3 AND ?4 AND tipolla <> 'NT' AND fecha BETWEEN ?1 AND ?2"
      " AND hora BETWEEN 1 AND 8640000";
  Sql out;
  auto run = [&](const std::string& sql, bool rows) {
    auto t = Clock::now();
    const double cpu = bench::ThreadCpuSeconds();
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr);
    sqlite3_bind_int(q, 1, kMonthFrom);
    sqlite3_bind_int(q, 2, kMonthTo);
    sqlite3_bind_text(q, 3, "", -1, SQLITE_STATIC);
    sqlite3_bind_text(q, 4, "ZZZZZZZZZZ", -1, SQLITE_STATIC);
    long long n = 0;
    while (sqlite3_step(q) == SQLITE_ROW) {
      if (!rows) {
        out.count = sqlite3_column_int64(q, 0);
        out.cost = sqlite3_column_double(q, 2);
      } else {
        // Every column the report prints of the call.
        for (int c = 0; c < 9; ++c) sqlite3_column_text(q, c);
        ++n;
      }
    }
    sqlite3_finalize(q);
    (rows ? out.rows_s : out.totals_s) = Since(t);
    (rows ? out.rows_cpu : out.totals_cpu) = bench::ThreadCpuSeconds() - cpu;
    if (rows && n != out.count) std::fprintf(stderr, "SQLite rows %lld != %lld\n", n, out.count);
  };
  run(std::string("SELECT count(*), sum(durlla), sum(coslla)") + where, false);
  run(std::string("SELECT codlla, fecha, hora, nroint, nrolin, nrotel, durlla, coslla, tipolla") +
          where + " ORDER BY nrolin, fecha, hora",
      true);
  return out;
}

fxr4::RunResult Report(const nv::dict::Dictionary& dict, nv::report::Document* doc, bool seek) {
  fxr4::PARAM_RPT b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = kMonthFrom;
  b.HASFEC = kMonthTo;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDE = "";
  b.HASTA = "ZZZZZZZZZZ";  // every line
  b.CURTAB = "Todas";
  fxr4::OPC_IMPRESION opc{0, 1};
  fxr4::RunOptions o;
  o.dict = &dict;
  o.seek = seek;
  o.deliver = [&](nv::report::Document&& d) { *doc = std::move(d); };
  return fxr4::RunDetail(*fxr4::FindDetailProc("RPT_SAL_LINEAS_DETALLE"),
                         std::string_view(reinterpret_cast<const char*>(&b), sizeof b),
                         std::string_view(reinterpret_cast<const char*>(&opc), sizeof opc), o);
}

double Ratio(double peer, double ours) {
  return ours > 0 ? peer / ours : 0;
}

// Takes "--odbc VALUE" out of the command line.
std::string TakeOdbc(int* argc, char** argv) {
  std::string value;
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--odbc") == 0 && i + 1 < *argc) {
      value = argv[++i];
      continue;
    }
    argv[out++] = argv[i];
  }
  *argc = out;
  return value;
}

// The best times of two runs of the report.
void KeepBest(const fxr4::RunResult& again, fxr4::RunResult* best) {
  best->prescan_seconds = std::min(best->prescan_seconds, again.prescan_seconds);
  best->print_seconds = std::min(best->print_seconds, again.print_seconds);
  best->prescan_cpu_seconds = std::min(best->prescan_cpu_seconds, again.prescan_cpu_seconds);
  best->print_cpu_seconds = std::min(best->print_cpu_seconds, again.print_cpu_seconds);
}

// The report with the files in a data source: the calls written there once
// (again when the table does not hold n of them), in batches of inserts;
// the best of `runs` runs in *out, the first in *first. The call file stays
// open meanwhile, as the suite's main program keeps its files open: the
// report's files share its connection. The first run is on a new server
// process, which maps the server's shared memory page by page as the walk
// touches it; later runs find it mapped.
// Processor time of the whole process (every thread), in seconds.
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// `process_cpu`: the least processor time of the whole process a run took
// (the ODBC driver reads ahead on a thread of its own).
bool ServerReport(const std::string& conn, const std::string& dir, long n, int runs,
                  fxr4::RunResult* out, fxr4::RunResult* first, double* process_cpu) {
  ::mkdir((dir + "/pg").c_str(), 0700);
  nv::ProfileFile profile(dir + "/pg/fxr4.INI");
  profile.WriteString("Dictionary", "Driver", "ODBC");
  profile.WriteString("Dictionary", "Owner", conn);
  nv::dict::Dictionary dict(&profile);
  std::unique_ptr<nv::File> f = dict.NewFile("FXMO01");
  const bool ready = f->Open() == 0 && f->Records() == n;
  f->Close();
  if (!ready) {
    auto t = Clock::now();
    for (const char* l : bench::kReportFiles) {
      std::unique_ptr<nv::File> c = dict.NewFile(l);
      c->Remove();
      if (c->Create() != 0) {
        std::fprintf(stderr, "cannot create %s in the data source: %s\n", l,
                     nv::ErrorText().c_str());
        return false;
      }
    }
    if (f->Open() != 0 || f->SetProperty(29506, "1000") != 0) return false;
    std::mt19937 rng(7);  // the calls of the flat store
    nv::dict::CallRecord& r = f->As<nv::dict::CallRecord>();
    for (long i = 0; i < n; ++i) {
      RandomCall(rng, int32_t(i + 1), -1, &r);
      if (f->Add() != 0) {
        std::fprintf(stderr, "add failed at %ld: %s\n", i, nv::ErrorText().c_str());
        return false;
      }
    }
    if (f->Close() != 0) return false;
    std::printf("written %ld calls into the data source in %.2f s\n", n, Since(t));
  }
  if (f->Open(nv::kReadOnly | nv::kDenyNone) != 0) return false;
  nv::report::Document doc;
  double cpu = ProcessCpuSeconds();
  *out = Report(dict, &doc, true);
  *first = *out;
  *process_cpu = 1e9;
  for (int i = 1; i < runs && out->status == fxr4::RunResult::kOk; ++i) {
    doc = nv::report::Document{};
    cpu = ProcessCpuSeconds();
    const fxr4::RunResult again = Report(dict, &doc, true);
    *process_cpu = std::min(*process_cpu, ProcessCpuSeconds() - cpu);
    if (again.status != fxr4::RunResult::kOk || again.calls != out->calls) return false;
    KeepBest(again, out);
  }
  if (runs < 2) *process_cpu = ProcessCpuSeconds() - cpu;
  return out->status == fxr4::RunResult::kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--writer") == 0) return Writer(argv[2]);
  std::string odbc = TakeOdbc(&argc, argv);
  long n = 0;
  bench::DataDir data;
  if (!data.Open(argc, argv, "fxr4-bench", &n)) return 1;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  const std::string dir = data.path;
  nv::ProfileFile profile(dir + "/fxr4.INI");
  profile.WriteString("Dictionary", "Folder", dir + "/Archivos");
  nv::dict::Dictionary dict(&profile);

  // Data: dates over ten months, times over the day, 50 lines, 5% "NT".
  std::mt19937 rng(7);
  sqlite3* db = nullptr;
  if (data.ready) {
    sqlite3_open((dir + "/calls.db").c_str(), &db);
    std::printf("reusing the %ld calls of %s\n", n, dir.c_str());
  } else {
    sqlite3_stmt* ins = bench::OpenCallTable(dir + "/calls.db", &db);
    std::unique_ptr<nv::File> f = dict.NewFile("FXMO01");
    for (const char* l : bench::kReportFiles) {
      std::unique_ptr<nv::File> c = dict.NewFile(l);
      if (c->Create() != 0) {
        std::fprintf(stderr, "cannot create %s\n", l);
        return 1;
      }
    }
    if (f->Open() != 0 ||
        !bench::WriteCalls(f.get(), db, ins, n, [&](long i, nv::dict::CallRecord* r) {
          RandomCall(rng, int32_t(i + 1), -1, r);
        }))
      return 1;
    data.Written(n);
  }

  // The report alone, then the same selection in SQLite.
  PeakRssKb(true);
  nv::report::Document doc;
  fxr4::RunResult res = Report(dict, &doc, true);
  const long report_rss = PeakRssKb(false);
  double pdf_s = 0;
  if (!data.walks_only) {
    auto t = Clock::now();
    nv::report::Status st = nv::report::RenderPdf(doc, dir + "/report.pdf");
    pdf_s = Since(t);
    if (!st.ok()) std::fprintf(stderr, "pdf: %s\n", st.message().c_str());
  }
  doc = nv::report::Document{};
  Sql sql = SqlSelection(db);
  for (int i = 1; i < data.runs; ++i) {  // the best of each
    const fxr4::RunResult again = Report(dict, &doc, true);
    doc = nv::report::Document{};
    KeepBest(again, &res);
    const Sql s = SqlSelection(db);
    sql.totals_s = std::min(sql.totals_s, s.totals_s);
    sql.rows_s = std::min(sql.rows_s, s.rows_s);
    sql.totals_cpu = std::min(sql.totals_cpu, s.totals_cpu);
    sql.rows_cpu = std::min(sql.rows_cpu, s.rows_cpu);
  }
  sqlite3_close(db);

  std::printf("selected %lld calls (SQLite %lld), cost %.2f (SQLite %.2f)\n",
              static_cast<long long>(res.calls), sql.count, res.cost, sql.cost);
  std::printf("pre-scan        %9.3f s   SQLite count and totals %9.3f s   ratio %6.2f\n",
              res.prescan_seconds, sql.totals_s, Ratio(sql.totals_s, res.prescan_seconds));
  std::printf(
      "print walk      %9.3f s   SQLite rows in order    %9.3f s   ratio %6.2f  (%d pages)\n",
      res.print_seconds, sql.rows_s, Ratio(sql.rows_s, res.print_seconds), res.pages);
  std::printf("processor time: pre-scan %.3f s, SQLite %.3f s, ratio %.2f; print walk %.3f s, "
              "SQLite %.3f s, ratio %.2f\n",
              res.prescan_cpu_seconds, sql.totals_cpu,
              Ratio(sql.totals_cpu, res.prescan_cpu_seconds), res.print_cpu_seconds, sql.rows_cpu,
              Ratio(sql.rows_cpu, res.print_cpu_seconds));
  bool server_ok = true;
  if (odbc == "auto") {
    // Server memory enough for the call table and its line key at a
    // million calls (PostgreSQL's default, 128 MB, reads them in again on
    // every walk).
    const odbctest::Servers& sv = odbctest::GetServers(true, "-c shared_buffers=512MB");
    if (!sv.pg_skip.empty() || !sv.pg_error.empty()) {
      std::printf("over PostgreSQL: skipped (%s)\n", (sv.pg_skip + sv.pg_error).c_str());
      odbc.clear();
    } else {
      odbc = sv.PgOwner();
    }
  }
  if (!odbc.empty()) {
    fxr4::RunResult pg, pg_first;
    double pg_process_cpu = 0;
    server_ok = ServerReport(odbc, dir, n, data.runs, &pg, &pg_first, &pg_process_cpu) &&
                pg.calls == res.calls &&
                pg.cost == res.cost;
    std::printf("over PostgreSQL selected %lld calls, same as the flat store: %s\n",
                static_cast<long long>(pg.calls), server_ok ? "yes" : "NO");
    std::printf("first run, on a new server connection: pre-scan %.3f s, print walk %.3f s\n",
                pg_first.prescan_seconds, pg_first.print_seconds);
    std::printf(
        "pre-scan        %9.3f s   flat store %9.3f s ratio %6.2f   SQLite %9.3f s ratio %6.2f\n",
        pg.prescan_seconds, res.prescan_seconds, Ratio(res.prescan_seconds, pg.prescan_seconds),
        sql.totals_s, Ratio(sql.totals_s, pg.prescan_seconds));
    std::printf(
        "print walk      %9.3f s   flat store %9.3f s ratio %6.2f   SQLite %9.3f s ratio %6.2f\n",
        pg.print_seconds, res.print_seconds, Ratio(res.print_seconds, pg.print_seconds), sql.rows_s,
        Ratio(sql.rows_s, pg.print_seconds));
    const double ours = pg.prescan_seconds + pg.print_seconds;
    std::printf(
        "whole report    %9.3f s   flat store %9.3f s ratio %6.2f   SQLite %9.3f s ratio %6.2f\n",
        ours, res.prescan_seconds + res.print_seconds,
        Ratio(res.prescan_seconds + res.print_seconds, ours), sql.totals_s + sql.rows_s,
        Ratio(sql.totals_s + sql.rows_s, ours));
    const double ours_cpu = pg.prescan_cpu_seconds + pg.print_cpu_seconds;
    const double flat_cpu = res.prescan_cpu_seconds + res.print_cpu_seconds;
    std::printf("processor time over PostgreSQL (the report's thread only): pre-scan %.3f s "
                "(flat %.3f s, ratio %.2f), print walk %.3f s (flat %.3f s, ratio %.2f), whole %.3f s (flat "
                "%.3f s, ratio %.2f)\n",
                pg.prescan_cpu_seconds, res.prescan_cpu_seconds,
                Ratio(res.prescan_cpu_seconds, pg.prescan_cpu_seconds), pg.print_cpu_seconds,
                res.print_cpu_seconds, Ratio(res.print_cpu_seconds, pg.print_cpu_seconds),
                ours_cpu, flat_cpu, Ratio(flat_cpu, ours_cpu));
    std::printf("processor time of the whole process over PostgreSQL (every thread, the "
                "report's document included): %.3f s\n",
                pg_process_cpu);
  }
  if (data.walks_only) {
    std::printf("peak RSS: %ld kB for the report (its document of %d pages included)\n",
                report_rss, res.pages);
    return data.Close() && res.calls == sql.count && server_ok ? 0 : 1;
  }
  std::printf("PDF rendering   %9.3f s   (%.1f pages/s)\n", pdf_s,
              pdf_s > 0 ? res.pages / pdf_s : 0.0);
  const fxr4::RunResult plain = Report(dict, &doc, false);
  doc = nv::report::Document{};
  std::printf("plain walks     pre-scan %7.3f s, print walk %7.3f s (every call of each line)\n",
              plain.prescan_seconds, plain.print_seconds);

  // Again, while another process adds calls to the file.
  int to_writer[2], from_writer[2];
  if (pipe(to_writer) != 0 || pipe(from_writer) != 0) return 1;
  const pid_t writer = fork();
  if (writer == 0) {
    dup2(to_writer[0], 0);
    dup2(from_writer[1], 1);
    close(to_writer[1]);
    close(from_writer[0]);
    execl("/proc/self/exe", argv[0], "--writer", dir.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(to_writer[0]);
  close(from_writer[1]);
  char ready = 0;  // the writer has made its first ADD
  if (read(from_writer[0], &ready, 1) != 1) std::fprintf(stderr, "writer did not start\n");
  const fxr4::RunResult busy = Report(dict, &doc, true);
  close(to_writer[1]);
  char line[128] = {0};
  const ssize_t got = read(from_writer[0], line, sizeof line - 1);
  close(from_writer[0]);
  int status = 0;
  waitpid(writer, &status, 0);
  long adds = 0;
  double worst_ms = 0, mean_ms = 0;
  if (got <= 0 || std::sscanf(line, "%ld %lf %lf", &adds, &worst_ms, &mean_ms) != 3) {
    std::fprintf(stderr, "writer failed (status %d)\n", status);
  }
  const bool busy_ok = busy.calls == res.calls && busy.cost == res.cost && busy.status == 0;
  std::printf("with a writer   pre-scan %7.3f s, print walk %7.3f s, same selection: %s\n",
              busy.prescan_seconds, busy.print_seconds, busy_ok ? "yes" : "NO");
  std::printf("writer          %ld ADDs during the report, slowest %.2f ms, mean %.3f ms\n", adds,
              worst_ms, mean_ms);
  std::printf(
      "peak RSS: %ld kB for the report (its document of %d pages included), %ld kB "
      "with PDF rendering and the other runs\n",
      report_rss, res.pages, PeakRssKb(false));

  if (!data.Close()) return 1;
  return (res.calls == sql.count && busy_ok && adds > 0 && server_ok) ? 0 : 1;
}
