// Detail report benchmark: N outgoing calls (default 1,000,000) over 50
// lines and ten months, written through the flat driver; the detail report
// by line over all lines and a one-month window (about a tenth of the
// calls). Measures the counting pre-scan, the printing walk, PDF rendering
// (pages per second), and the same selection, count and totals as one SQL
// query over SQLite with the same index, in the same run; prints ratios.
//
//   bench_reports [N]
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/runtime/date_time.h"
#include "host/runtime/profile.h"
#include "reports/detail_report.h"
#include "reports/params.h"

namespace {

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  char tmpl[] = "/tmp/fxr4-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  ::mkdir((dir + "/Archivos").c_str(), 0700);
  nv::ProfileFile profile(dir + "/fxr4.INI");
  profile.WriteString("Dictionary", "Folder", dir + "/Archivos");
  nv::dict::Dictionary dict(&profile);

  // Data: dates over ten months, times over the day, 50 lines, 5% "NT".
  const int32_t first = nv::DateFromYmd(2026, 1, 1);
  const int32_t month_from = nv::DateFromYmd(2026, 4, 1), month_to = nv::DateFromYmd(2026, 4, 30);
  std::mt19937 rng(7);
  sqlite3* db = nullptr;
  sqlite3_open((dir + "/calls.db").c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
               "CREATE TABLE mo01(codlla INTEGER, fecha INTEGER, hora INTEGER, nroint TEXT,"
               " nrolin TEXT, nrotel TEXT, durlla INTEGER, coslla REAL, tipolla TEXT);"
               "CREATE INDEX mo01_c1 ON mo01(fecha, hora);"
               "CREATE INDEX mo01_c2 ON mo01(nrolin, fecha, hora);"
               "BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO mo01 VALUES(?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
  {
    std::unique_ptr<nv::File> f = dict.NewFile("FXMO01");
    for (const char* l : {"FXMO01", "FXTR01", "FXMA07", "FXMA08", "FXMA09", "FXMA02", "FXMA11",
                          "FXRE09", "FXTA03", "FXTA09", "FXTA13", "FXTA14", "FXTA15"}) {
      std::unique_ptr<nv::File> c = dict.NewFile(l);
      if (c->Create() != 0) {
        std::fprintf(stderr, "cannot create %s\n", l);
        return 1;
      }
    }
    if (f->Open() != 0) return 1;
    f->Stream();
    auto t = std::chrono::steady_clock::now();
    nv::dict::CallRecord& r = f->As<nv::dict::CallRecord>();
    for (long i = 0; i < n; ++i) {
      r = nv::dict::CallRecord{};
      r.CODLLA = int32_t(i + 1);
      r.FECLLA.set_day(first + int32_t(rng() % 300));
      r.HORLLA = int32_t(1 + rng() % 8640000);
      r.NROINT = std::to_string(200 + rng() % 100);
      r.NROLIN = "L" + std::to_string(10 + rng() % 50);
      r.NROTEL = std::to_string(1140000000 + rng() % 1000000);
      r.DURLLA = int32_t(100 + rng() % 60000);
      r.COSLLA = double(rng() % 1000) / 100;
      r.TIPOLLA = rng() % 20 == 0 ? "NT" : "LO";
      r.TRANSF = " ";
      if (f->Add() != 0) {
        std::fprintf(stderr, "add failed at %ld\n", i);
        return 1;
      }
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
    f->Flush();
    f->Close();
    std::printf("written %ld calls (flat and SQLite) in %.2f s\n", n, Since(t));
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT; ANALYZE;", nullptr, nullptr, nullptr);

  // The report: by line, all lines, one month.
  fxr4::PARAM_RPT b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = month_from;
  b.HASFEC = month_to;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDE = "";
  b.HASTA = "";
  b.CURTAB = "Todas";
  fxr4::OPC_IMPRESION opc{0, 1};
  nv::report::Document doc;
  fxr4::RunOptions o;
  o.dict = &dict;
  o.deliver = [&](nv::report::Document&& d) { doc = std::move(d); };
  const fxr4::DetailProc* p = fxr4::FindDetailProc("RPT_SAL_LINEAS_DETALLE");
  fxr4::RunResult res =
      fxr4::RunDetail(*p, std::string_view(reinterpret_cast<const char*>(&b), sizeof b),
                      std::string_view(reinterpret_cast<const char*>(&opc), sizeof opc), o);
  auto t = std::chrono::steady_clock::now();
  nv::report::Status st = nv::report::RenderPdf(doc, dir + "/report.pdf");
  const double pdf_s = Since(t);
  if (!st.ok()) std::fprintf(stderr, "pdf: %s\n", st.message().c_str());

  // The same selection as one SQL query.
  t = std::chrono::steady_clock::now();
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT count(*), sum(durlla), sum(coslla) FROM (SELECT durlla, coslla FROM "
                     "mo01 WHERE tipolla <> 'NT' AND fecha BETWEEN ?1 AND ?2 AND hora BETWEEN 1 "
                     "AND 8640000 ORDER BY nrolin, fecha, hora)",
                     -1, &q, nullptr);
  sqlite3_bind_int(q, 1, month_from);
  sqlite3_bind_int(q, 2, month_to);
  long long sql_count = 0;
  double sql_cost = 0;
  if (sqlite3_step(q) == SQLITE_ROW) {
    sql_count = sqlite3_column_int64(q, 0);
    sql_cost = sqlite3_column_double(q, 2);
  }
  sqlite3_finalize(q);
  const double sql_s = Since(t);
  sqlite3_close(db);

  std::printf("selected %lld calls (SQLite %lld), cost %.2f (SQLite %.2f)\n",
              static_cast<long long>(res.calls), sql_count, res.cost, sql_cost);
  std::printf("pre-scan        %9.3f s\n", res.prescan_seconds);
  std::printf("print walk      %9.3f s  (%d pages)\n", res.print_seconds, res.pages);
  std::printf("PDF rendering   %9.3f s  (%.1f pages/s)\n", pdf_s,
              pdf_s > 0 ? res.pages / pdf_s : 0.0);
  std::printf("SQLite query    %9.3f s\n", sql_s);
  if (sql_s > 0) {
    std::printf("ratio pre-scan / SQLite      %8.2f\n", res.prescan_seconds / sql_s);
    std::printf("ratio print walk / SQLite    %8.2f\n", res.print_seconds / sql_s);
  }
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) return 1;
  return (res.calls == sql_count) ? 0 : 1;
}
