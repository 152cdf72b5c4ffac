// bench_dirreports: Reporte_Empresas_Detallado over N companies with 3
// contacts and 3 numbers each, kept by the flat store:
//   - the whole report written to a PDF page by page: pages per second, and
//     the memory the run holds (resident set growth, sampled every 100
//     pages), for N/10 and for N companies;
//   - a name range of 1% of the directory: the time to its first band;
//   - the report's walk (bands laid out, pages dropped) against SQLite
//     reading the same companies, contacts and numbers with prepared
//     queries, in the same run.
//
//   bench_dirreports [--companies N] [--dir FOLDER]
//
// Ratios are SQLite's time divided by ours (above 1: we are faster).
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QGuiApplication>

#include "agenda/directory_reports.h"
#include "host/dictionary/declarations.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/report/qt/pdf_renderer.h"
#include "host/runtime/file.h"
#include "host/runtime/profile.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

int Fail(const char* what, int err) {
  std::fprintf(stderr, "bench_dirreports: %s: %d\n", what, err);
  return 1;
}

std::string CompanyName(int64_t i) {
  uint64_t h = uint64_t(i) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  static const char* kTrades[] = {"Distribuidora",  "Ferretería",  "Transportes", "Laboratorios",
                                  "Construcciones", "Metalúrgica", "Imprenta",    "Textil"};
  char buf[80];
  std::snprintf(buf, sizeof buf, "%s %06llu #%lld", kTrades[h % 8],
                (unsigned long long)(h % 1000000), (long long)i);
  return buf;
}

// Writes the directory: companies 1..n, contacts n+1.., numbers; and the
// same rows into SQLite.
int Write(const std::string& dir, int64_t n, std::vector<std::string>* companies) {
  auto decl = [&](const char* label) {
    nv::FileDecl d = nv::dict::DefaultDecl(label);
    d.name = dir + "/" + label;
    return d;
  };
  nv::File ma11(decl("FXMA11")), re09(decl("FXRE09"));
  for (nv::File* f : {&ma11, &re09}) {
    if (int e = f->Create()) return Fail("CREATE", e);
    if (int e = f->Open(nv::kReadWrite | nv::kDenyAll)) return Fail("OPEN", e);
    f->Stream();
  }
  for (const char* label : {"FXTA01", "FXTA02"}) {
    nv::File f(decl(label));
    if (int e = f.Create()) return Fail("CREATE", e);
  }
  sqlite3* db = nullptr;
  if (sqlite3_open((dir + "/dir.db").c_str(), &db) != SQLITE_OK) return Fail("sqlite3_open", 1);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; CREATE TABLE ma11(codigo INTEGER PRIMARY KEY, nombre TEXT,"
               " direcc TEXT, locali TEXT, cuitno TEXT, esempr TEXT, codemp INTEGER, cargoc TEXT);"
               "CREATE TABLE re09(codigo INTEGER, nrotel TEXT, coment TEXT,"
               " PRIMARY KEY(codigo, nrotel)); BEGIN;",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* ins_ma = nullptr;
  sqlite3_stmt* ins_re = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO ma11 VALUES(?,?,?,?,?,?,?,?)", -1, &ins_ma, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO re09 VALUES(?,?,?)", -1, &ins_re, nullptr);
  int64_t contact = n;
  auto add = [&](int32_t code, const std::string& name, const char* kind, int32_t company) {
    ma11.Clear();
    auto& r = ma11.As<nv::dict::MA11Record>();
    r.CODIGO = code;
    r.NOMBRE = name;
    r.DIRECC = "Av. Corrientes " + std::to_string(code % 5000);
    r.LOCALI = "Buenos Aires";
    r.CUITNO = "30" + std::to_string(100000000 + code);
    r.ESEMPR = kind;
    r.CODEMP = company;
    r.CARGOC = company ? "Compras" : "";
    r.FECALT.set_day(82000);
    sqlite3_bind_int64(ins_ma, 1, code);
    sqlite3_bind_text(ins_ma, 2, r.NOMBRE.str().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins_ma, 3, r.DIRECC.str().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins_ma, 4, "Buenos Aires", -1, SQLITE_STATIC);
    sqlite3_bind_text(ins_ma, 5, r.CUITNO.str().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(ins_ma, 6, kind, -1, SQLITE_STATIC);
    sqlite3_bind_int64(ins_ma, 7, company);
    sqlite3_bind_text(ins_ma, 8, r.CARGOC.str().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(ins_ma);
    sqlite3_reset(ins_ma);
    return ma11.Append();
  };
  for (int64_t i = 1; i <= n; ++i) {
    companies->push_back(CompanyName(i));
    if (int e = add(int32_t(i), companies->back(), "E", 0)) return Fail("APPEND", e);
    for (int k = 0; k < 3; ++k) {
      ++contact;
      if (int e = add(int32_t(contact), "Contacto " + std::to_string(contact), "C", int32_t(i)))
        return Fail("APPEND", e);
      re09.Clear();
      auto& t = re09.As<nv::dict::RE09Record>();
      t.CODIGO.Set(i);
      t.NROTEL = "11" + std::to_string(40000000 + i * 3 + k);
      t.COMENT = k == 0 ? "Conmutador" : "Ventas";
      nv::dict::DeriveNumberFields(t);
      sqlite3_bind_int64(ins_re, 1, i);
      sqlite3_bind_text(ins_re, 2, t.NROTEL.str().c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins_re, 3, t.COMENT.str().c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(ins_re);
      sqlite3_reset(ins_re);
      if (int e = re09.Append()) return Fail("APPEND", e);
    }
  }
  sqlite3_finalize(ins_ma);
  sqlite3_finalize(ins_re);
  sqlite3_exec(db,
               "COMMIT; CREATE INDEX ma11_c1 ON ma11(nombre, esempr);"
               "CREATE INDEX ma11_c4 ON ma11(codemp, nombre);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  for (nv::File* f : {&ma11, &re09}) {
    if (int e = f->Build()) return Fail("BUILD", e);
    f->Flush();
    f->Close();
  }
  std::sort(companies->begin(), companies->end());
  return 0;
}

// SQLite's walk of the same rows: companies of the range in name order,
// each company's contacts and numbers.
double SqliteWalk(const std::string& dir, const std::string& from, const std::string& to,
                  int64_t* rows) {
  const auto s = Clock::now();
  sqlite3* db = nullptr;
  sqlite3_open((dir + "/dir.db").c_str(), &db);
  sqlite3_stmt *q = nullptr, *qc = nullptr, *qn = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT codigo, nombre, direcc, locali, cuitno FROM ma11 WHERE nombre >= ? "
                     "AND nombre <= ? AND esempr = 'E' ORDER BY nombre, esempr",
                     -1, &q, nullptr);
  sqlite3_prepare_v2(db, "SELECT nombre, cargoc FROM ma11 WHERE codemp = ? ORDER BY nombre", -1,
                     &qc, nullptr);
  sqlite3_prepare_v2(db, "SELECT nrotel, coment FROM re09 WHERE codigo = ? ORDER BY nrotel", -1,
                     &qn, nullptr);
  sqlite3_bind_text(q, 1, from.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(q, 2, to.c_str(), -1, SQLITE_TRANSIENT);
  size_t bytes = 0;
  while (sqlite3_step(q) == SQLITE_ROW) {
    ++*rows;
    const int64_t code = sqlite3_column_int64(q, 0);
    for (int c = 1; c < 5; ++c) bytes += size_t(sqlite3_column_bytes(q, c));
    for (sqlite3_stmt* sub : {qc, qn}) {
      sqlite3_bind_int64(sub, 1, code);
      while (sqlite3_step(sub) == SQLITE_ROW) {
        bytes += size_t(sqlite3_column_bytes(sub, 0)) + size_t(sqlite3_column_bytes(sub, 1));
      }
      sqlite3_reset(sub);
    }
  }
  for (sqlite3_stmt* st : {q, qc, qn}) sqlite3_finalize(st);
  sqlite3_close(db);
  if (bytes == 0) *rows = 0;
  return Seconds(s, Clock::now());
}

struct PdfRun {
  int pages = 0;
  double seconds = 0;
  long rss_growth_kb = 0;
};

PdfRun ToPdf(const nv::dict::Dictionary& dic, const agenda::ReportArgs& args,
             const std::string& path) {
  PdfRun out;
  const agenda::DirectoryReport& def = agenda::DirectoryReportOf('E', true);
  nv::report::Document shape;
  shape.paper = agenda::DirectoryLayout(def).page;
  nv::report::PdfStream pdf;
  const long before = RssKb();
  long peak = before;
  const auto s = Clock::now();
  if (!pdf.Begin(shape, path).ok()) return out;
  agenda::ReportOptions options;
  options.page_sink = [&](nv::report::Page&& p) {
    if (++out.pages % 100 == 0) peak = std::max(peak, RssKb());
    return pdf.Add(p);
  };
  agenda::RunDirectoryReport(dic, def, args, options);
  pdf.Finish();
  out.seconds = Seconds(s, Clock::now());
  out.rss_growth_kb = std::max(peak, RssKb()) - before;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t n = 100000;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--companies" && i + 1 < argc) {
      n = std::atoll(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "uso: bench_dirreports [--companies N] [--dir CARPETA]\n");
      return 2;
    }
  }
  if (n < 10) return Fail("--companies (al menos 10)", 2);
  const bool own_dir = dir.empty();
  if (own_dir) {
    char tmpl[] = "/tmp/bench-dirreports-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return Fail("mkdtemp", errno);
    dir = tmpl;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QGuiApplication app(argc, argv);

  std::vector<std::string> names;
  auto t0 = Clock::now();
  if (int e = Write(dir, n, &names)) return e;
  std::printf("datos: %lld empresas, %lld contactos, %lld teléfonos (flat y SQLite): %.1f s\n",
              (long long)n, (long long)(3 * n), (long long)(3 * n), Seconds(t0, Clock::now()));

  const std::string ini = dir + "/agenda.INI";
  nv::WriteProfileString(ini, "Dictionary", "Folder", dir);
  const nv::ProfileFile profile(ini);
  const nv::dict::Dictionary dic(&profile);

  // The whole report to PDF, over a tenth of the names and over all of them.
  agenda::ReportArgs tenth;
  tenth.desde = names.front();
  tenth.hasta = names[size_t(n / 10)];
  agenda::ReportArgs all;
  all.hasta = agenda::LastName();
  const PdfRun small = ToPdf(dic, tenth, dir + "/decimo.pdf");
  const PdfRun big = ToPdf(dic, all, dir + "/todo.pdf");
  std::printf("PDF, %lld empresas: %d páginas en %.2f s = %.0f páginas/s, memoria retenida %.1f MB\n",
              (long long)(n / 10 + 1), small.pages, small.seconds,
              small.pages / std::max(small.seconds, 1e-9), small.rss_growth_kb / 1024.0);
  std::printf("PDF, %lld empresas: %d páginas en %.2f s = %.0f páginas/s, memoria retenida %.1f MB\n",
              (long long)n, big.pages, big.seconds, big.pages / std::max(big.seconds, 1e-9),
              big.rss_growth_kb / 1024.0);

  // A name range of 1% of the directory: time to its first band.
  agenda::ReportArgs one;
  one.desde = names[size_t(n / 2)];
  one.hasta = names[size_t(n / 2 + n / 100)];
  agenda::ReportOptions drop;
  drop.page_sink = [](nv::report::Page&&) { return nv::report::Status::Ok(); };
  const auto& def = agenda::DirectoryReportOf('E', true);
  auto s = Clock::now();
  agenda::ReportRun r1 = agenda::RunDirectoryReport(dic, def, one, drop);
  const double ours_1 = Seconds(s, Clock::now());
  std::printf("rango del 1%% (%lld empresas): primera banda a los %.1f ms (objetivo < 100 ms)\n",
              (long long)r1.entries, r1.first_band_seconds * 1000);

  // The walk against SQLite: the 1% range and the whole directory.
  int64_t lite_rows = 0;
  const double lite_1 = SqliteWalk(dir, one.desde, one.hasta, &lite_rows);
  std::printf("rango del 1%%: informe %.3f s, SQLite %.3f s (%lld empresas), razón %.2f\n", ours_1,
              lite_1, (long long)lite_rows, lite_1 / ours_1);
  s = Clock::now();
  agenda::ReportRun rall = agenda::RunDirectoryReport(dic, def, all, drop);
  const double ours_all = Seconds(s, Clock::now());
  lite_rows = 0;
  const double lite_all = SqliteWalk(dir, "", "\xFF", &lite_rows);
  std::printf("todo: informe %.2f s (%lld empresas, %d páginas), SQLite %.2f s (%lld), razón %.2f\n",
              ours_all, (long long)rall.entries, rall.pages, lite_all, (long long)lite_rows,
              lite_all / ours_all);
  const bool ok = r1.status == agenda::ReportRun::kOk && rall.entries == n &&
                  lite_rows == n && big.pages == rall.pages;
  if (own_dir) {
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "no se pudo borrar %s\n", dir.c_str());
  }
  if (!ok) return Fail("el informe y SQLite no leyeron lo mismo", 1);
  return 0;
}
