// Summary report benchmark (the summary mode of the reports benchmark): N
// outgoing calls (default 1,000,000) over 50 lines and ten months, written
// through the flat driver, with a directory of 200 numbers; the summary by
// line over 5 of the 50 lines and all the dates (about a tenth of the
// calls). Measures the selection (view, key range and filter text), the
// summary to PDF and the export to CSV (lines per second), and the same
// selection as one SQL query over SQLite with the same indexes, in the same
// run; prints the ratio SQLite's time / ours (above 1: we are faster).
//
//   bench_reports_summary [N] [--data DIR] [--runs K] [--walks-only]
//
// With --data the calls are written into DIR once and reused by later runs
// of the same N; the selections are timed K times (at least twice) and the
// best kept; --walks-only stops after them.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "bench/reports/sqlite_calls.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/runtime/date_time.h"
#include "host/runtime/profile.h"
#include "reports/csv_export.h"
#include "reports/params.h"
#include "reports/summary_report.h"

namespace {

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  long n = 0;
  bench::DataDir data;
  if (!data.Open(argc, argv, "fxr4-bench-summary", &n)) return 1;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  const std::string dir = data.path;
  nv::ProfileFile profile(dir + "/fxr4.INI");
  profile.WriteString("Dictionary", "Folder", dir + "/Archivos");
  nv::dict::Dictionary dict(&profile);

  const int32_t first = nv::DateFromYmd(2026, 1, 1), last = first + 299;
  std::mt19937 rng(11);
  sqlite3* db = nullptr;
  if (data.ready) {
    sqlite3_open((dir + "/calls.db").c_str(), &db);
    std::printf("reusing the %ld calls of %s\n", n, dir.c_str());
  } else {
    sqlite3_stmt* ins = bench::OpenCallTable(dir + "/calls.db", &db);
    for (const char* l : bench::kReportFiles) {
      if (dict.NewFile(l)->Create() != 0) {
        std::fprintf(stderr, "cannot create %s\n", l);
        return 1;
      }
    }
    // The directory: 200 seven-digit prefixes, each the start of a thousand
    // of the numbers called.
    std::unique_ptr<nv::File> ma11 = dict.NewFile("FXMA11"), re09 = dict.NewFile("FXRE09");
    if (ma11->Open() != 0 || re09->Open() != 0) return 1;
    for (int i = 1; i <= 200; ++i) {
      auto& e = ma11->As<nv::dict::MA11Record>();
      e = nv::dict::MA11Record{};
      e.CODIGO = i;
      e.NOMBRE = "Empresa " + std::to_string(i);
      e.ESEMPR = "E";
      auto& t = re09->As<nv::dict::RE09Record>();
      t = nv::dict::RE09Record{};
      t.CODIGO.Set(i);
      t.NROTEL = std::to_string(1140000 + i * 3);
      t.COMENT = "Conmutador";
      t.CARINI = "1";
      t.LONTEL = 7;
      if (ma11->Add() != 0 || re09->Add() != 0) return 1;
    }
    ma11->Close();
    re09->Close();

    std::unique_ptr<nv::File> f = dict.NewFile("FXMO01");
    auto make = [&](long i, nv::dict::CallRecord* call) {
      nv::dict::CallRecord& r = *call;
      r = nv::dict::CallRecord{};
      r.CODLLA = int32_t(i + 1);
      r.FECLLA.set_day(first + int32_t(rng() % 300));
      r.HORLLA = int32_t(1 + rng() % 8640000);
      r.NROINT = std::to_string(200 + rng() % 100);
      r.NROLIN = "L" + std::to_string(10 + rng() % 50);
      r.NROTEL = std::to_string(1140000000 + rng() % 1000000);
      r.DURLLA = int32_t(100 + rng() % 60000);
      r.COSLLA = double(rng() % 1000) / 100;
      r.DESLLA = "Local";
      r.TIPOLLA = rng() % 20 == 0 ? "NT" : "LO";
      r.TRANSF = " ";
    };
    if (f->Open() != 0 || !bench::WriteCalls(f.get(), db, ins, n, make)) return 1;
    data.Written(n);
  }

  // The summary by line: lines L10 to L14, all the dates, whole days.
  fxr4::PARAM_RPT b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = first;
  b.HASFEC = last;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDE = "L10";
  b.HASTA = "L14";
  b.CURTAB = "Todas";
  const std::string block(reinterpret_cast<const char*>(&b), sizeof b);
  fxr4::OPC_IMPRESION opc{0, 1};
  const std::string opc_text(reinterpret_cast<const char*>(&opc), sizeof opc);
  const fxr4::SummaryProc* p = fxr4::FindSummaryProc("RPT_SAL_LINEAS_RESUMEN");
  fxr4::RunOptions o;
  o.dict = &dict;

  // The same selection, rows and totals as one SQL query.
  long long sql_count = 0;
  double sql_cost = 0;
  auto sql_select = [&] {
    auto t = Clock::now();
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT fecha, hora, nrolin, nroint, nrotel, durlla, coslla FROM mo01 "
                       "WHERE nrolin BETWEEN 'L10' AND 'L14' AND tipolla <> 'NT' AND fecha "
                       "BETWEEN ?1 AND ?2 ORDER BY nrolin, fecha, hora",
                       -1, &q, nullptr);
    sqlite3_bind_int(q, 1, first);
    sqlite3_bind_int(q, 2, last);
    sql_count = 0;
    sql_cost = 0;
    while (sqlite3_step(q) == SQLITE_ROW) {
      ++sql_count;
      sql_cost += sqlite3_column_double(q, 6);
    }
    sqlite3_finalize(q);
    return Since(t);
  };

  // Selection: the best of at least two runs each, ours and SQLite's in
  // turn (the first also reads the files into the system's cache).
  fxr4::RunResult sel;
  double select_s = 1e9, sql_s = 1e9, select_cpu = 1e9, sql_cpu = 1e9;
  for (int i = 0; i < std::max(2, data.runs); ++i) {
    auto t = Clock::now();
    double cpu = bench::ThreadCpuSeconds();
    sel = fxr4::SelectSummary(*p, "", block, o);
    select_s = std::min(select_s, Since(t));
    select_cpu = std::min(select_cpu, bench::ThreadCpuSeconds() - cpu);
    cpu = bench::ThreadCpuSeconds();
    sql_s = std::min(sql_s, sql_select());
    sql_cpu = std::min(sql_cpu, bench::ThreadCpuSeconds() - cpu);
  }
  sqlite3_close(db);
  std::printf("selected %lld calls (SQLite %lld), cost %.2f (SQLite %.2f)\n",
              static_cast<long long>(sel.calls), sql_count, sel.cost, sql_cost);
  std::printf("selection       %9.3f s\n", select_s);
  std::printf("SQLite query    %9.3f s\n", sql_s);
  if (select_s > 0) std::printf("ratio SQLite / selection     %8.2f\n", sql_s / select_s);
  if (select_cpu > 0) {
    std::printf("processor time: selection %.3f s, SQLite %.3f s, ratio %.2f\n", select_cpu,
                sql_cpu, sql_cpu / select_cpu);
  }
  if (data.walks_only) return data.Close() && sel.calls == sql_count ? 0 : 1;

  nv::report::Document doc;
  o.deliver = [&](nv::report::Document&& d) { doc = std::move(d); };
  auto t = Clock::now();
  const fxr4::RunResult pdf_run = fxr4::RunSummary(*p, "", block, opc_text, o);
  const double layout_s = Since(t);
  t = Clock::now();
  nv::report::Status st = nv::report::RenderPdf(doc, dir + "/summary.pdf");
  const double render_s = Since(t);
  if (!st.ok()) std::fprintf(stderr, "pdf: %s\n", st.message().c_str());

  t = Clock::now();
  fxr4::CsvExport csv(dir + "/summary.csv", "");
  if (!csv.Open()) return 1;
  const fxr4::RunResult csv_run = fxr4::RunSummary(*p, "", block, opc_text, o, &csv);
  const bool csv_ok = csv.Close();
  const double csv_s = Since(t);

  const double lines = double(sel.calls);
  std::printf("summary to PDF  %9.3f s  (layout %.3f s, %d pages; %.0f lines/s)\n",
              layout_s + render_s, layout_s, pdf_run.pages,
              layout_s + render_s > 0 ? lines / (layout_s + render_s) : 0.0);
  std::printf("summary to CSV  %9.3f s  (%lld rows; %.0f lines/s)\n", csv_s,
              static_cast<long long>(csv.rows()), csv_s > 0 ? lines / csv_s : 0.0);
  if (!data.Close()) return 1;
  const bool agree = sel.calls == sql_count && pdf_run.calls == sql_count &&
                     csv_run.calls == sql_count && csv.rows() == sql_count && csv_ok;
  if (!agree) std::fprintf(stderr, "the selections disagree\n");
  return agree ? 0 : 1;
}
