// bench_browse: opening the main window's company list (FXMA11 in name
// order, companies only, 20 rows a page) over N companies kept by the flat
// store, and scrolling it page by page to the end; against SQLite reading
// the same rows with an ordered keyset query in the same run.
//
//   bench_browse [--companies N] [--page ROWS] [--runs K] [--dir FOLDER]
//
// Prints the time to the first rows, the mean time per page and the whole
// scroll for both (each the best of K runs), the peak resident set, and
// their ratios: SQLite's time divided by ours (above 1
// means the flat store is faster). Goal: first rows well under 100 ms.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/dictionary/declarations.h"
#include "host/dictionary/records.h"
#include "host/runtime/file.h"
#include "host/ui/browse.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Processor time of this thread: on a loaded machine a side that makes
// system calls waits longer for the processor than its work takes.
double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Company names in an order unrelated to their codes; one entry in ten is a
// contact, which the list filters out.
std::string NameOf(int64_t i) {
  uint64_t h = uint64_t(i) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  char buf[64];
  static const char* kTrades[] = {"Distribuidora",  "Ferretería",  "Transportes", "Laboratorios",
                                  "Construcciones", "Metalúrgica", "Imprenta",    "Textil"};
  std::snprintf(buf, sizeof buf, "%s %06llu", kTrades[h % 8], (unsigned long long)(h % 1000000));
  return std::string(buf) + " #" + std::to_string(i);
}

struct Result {
  double first = 0, per_page = 0, total = 0, cpu_per_page = 0;
  int64_t rows = 0, pages = 0;
};

int Fail(const char* what, int err) {
  std::fprintf(stderr, "bench_browse: %s: %d\n", what, err);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t n = 100000;
  int page = 20;
  int runs = 1;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--companies" && i + 1 < argc) {
      n = std::atoll(argv[++i]);
    } else if (a == "--page" && i + 1 < argc) {
      page = std::atoi(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "uso: bench_browse [--companies N] [--page FILAS] [--runs K] [--dir CARPETA]\n");
      return 2;
    }
  }
  if (n < 1 || page < 1 || runs < 1) return Fail("argumentos", 2);
  bool own_dir = dir.empty();
  if (own_dir) {
    char tmpl[] = "/tmp/bench-browse-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return Fail("mkdtemp", errno);
    dir = tmpl;
  }

  // --- the data, written once for both sides
  std::vector<std::string> names;
  names.reserve(size_t(n + n / 9));
  const int64_t total_rows = n + n / 9;  // n companies plus contacts
  nv::FileDecl d = nv::dict::DefaultDecl("FXMA11");
  d.name = dir + "/FXMA11";
  auto t0 = Clock::now();
  {
    nv::File w(d);
    if (int e = w.Create()) return Fail("CREATE", e);
    if (int e = w.Open(nv::kReadWrite | nv::kDenyAll)) return Fail("OPEN", e);
    w.Stream();
    for (int64_t i = 1; i <= total_rows; ++i) {
      w.Clear();
      auto& r = w.As<nv::dict::MA11Record>();
      r.CODIGO = int32_t(i);
      names.push_back(NameOf(i));
      r.NOMBRE = names.back();
      r.ESEMPR = (i % 10 == 0) ? "C" : "E";
      if (int e = w.Append()) return Fail("APPEND", e);
    }
    if (int e = w.Build()) return Fail("BUILD", e);
    w.Flush();
    w.Close();
  }
  auto t1 = Clock::now();
  sqlite3* db = nullptr;
  const std::string db_path = dir + "/ma11.db";
  if (sqlite3_open(db_path.c_str(), &db) != SQLITE_OK) return Fail("sqlite3_open", 1);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; CREATE TABLE ma11(codigo INTEGER PRIMARY KEY, nombre "
               "TEXT, esempr TEXT); BEGIN;",
               nullptr, nullptr, nullptr);
  {
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO ma11 VALUES(?,?,?)", -1, &ins, nullptr);
    for (int64_t i = 1; i <= total_rows; ++i) {
      sqlite3_bind_int64(ins, 1, i);
      sqlite3_bind_text(ins, 2, names[size_t(i - 1)].c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(ins, 3, i % 10 == 0 ? "C" : "E", -1, SQLITE_STATIC);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
  }
  sqlite3_exec(db, "COMMIT; CREATE INDEX ma11_c1 ON ma11(nombre, esempr);", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  auto t2 = Clock::now();
  std::printf("datos: %lld empresas (+%lld contactos): flat %.0f ms, SQLite %.0f ms\n",
              (long long)n, (long long)(total_rows - n), Ms(t0, t1), Ms(t1, t2));

  // --- our list: open the file, first page, then page down to the end
  std::string last_row, lite_last_row;
  auto run_ours = [&](Result* out) -> int {
    Result r;
    auto s = Clock::now();
    nv::File f(d);
    if (int e = f.Open()) return Fail("OPEN", e);
    nv::ui::Browse b(&f);
    b.AddOrder("Nombre", "MA11:MA11_C1");
    b.SetFilter([&f] { return f.As<nv::dict::MA11Record>().ESEMPR == "E"; }, {"MA11:ESEMPR"});
    b.SetColumns({nv::ui::Col("Nombre", "@s50", "MA11:NOMBRE")});
    b.SetPageSize(page);
    b.Reset();
    auto first = Clock::now();
    r.first = Ms(s, first);
    r.rows = b.shown();
    const double cpu = CpuMs();
    while (b.more_below()) {
      b.PageDown();
      r.rows += page;
      ++r.pages;
    }
    auto end = Clock::now();
    r.cpu_per_page = r.pages ? (CpuMs() - cpu) / double(r.pages) : 0;
    r.total = Ms(s, end);
    r.per_page = r.pages ? Ms(first, end) / double(r.pages) : 0;
    const auto last = b.Page();
    if (!last.empty()) last_row = last.back()[0];
    f.Close();
    *out = r;
    return 0;
  };

  // --- SQLite: the same rows by keyset paging
  auto run_lite = [&](Result* out) {
    Result r;
    auto s = Clock::now();
    sqlite3_open(db_path.c_str(), &db);
    sqlite3_stmt* first_q = nullptr;
    sqlite3_stmt* next_q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT codigo, nombre FROM ma11 WHERE esempr='E' ORDER BY nombre, "
                       "esempr LIMIT ?",
                       -1, &first_q, nullptr);
    sqlite3_prepare_v2(db,
                       "SELECT codigo, nombre FROM ma11 WHERE esempr='E' AND nombre > ? ORDER BY "
                       "nombre, esempr LIMIT ?",
                       -1, &next_q, nullptr);
    std::string last_name;
    auto read_page = [&](sqlite3_stmt* q) {
      int got = 0;
      while (sqlite3_step(q) == SQLITE_ROW) {
        // The next page starts after the last shown row (the look-ahead
        // row is shown again at the top of the next page).
        if (got < page) last_name = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
        ++got;
      }
      sqlite3_reset(q);
      return got;
    };
    sqlite3_bind_int(first_q, 1, page + 1);
    int got = read_page(first_q);
    auto first = Clock::now();
    r.first = Ms(s, first);
    r.rows = got;
    const double cpu = CpuMs();
    while (got > page) {
      sqlite3_bind_text(next_q, 1, last_name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(next_q, 2, page + 1);
      got = read_page(next_q);
      r.rows += std::min(got, page);
      ++r.pages;
    }
    auto end = Clock::now();
    r.cpu_per_page = r.pages ? (CpuMs() - cpu) / double(r.pages) : 0;
    lite_last_row = last_name;
    r.total = Ms(s, end);
    r.per_page = r.pages ? Ms(first, end) / double(r.pages) : 0;
    sqlite3_finalize(first_q);
    sqlite3_finalize(next_q);
    sqlite3_close(db);
    *out = r;
  };

  // Best of K runs of each side, the two sides taking turns.
  auto keep_best = [](Result* best, const Result& r, int run) {
    if (run == 0) {
      *best = r;
      return;
    }
    best->first = std::min(best->first, r.first);
    best->per_page = std::min(best->per_page, r.per_page);
    best->total = std::min(best->total, r.total);
    best->cpu_per_page = std::min(best->cpu_per_page, r.cpu_per_page);
  };
  Result ours, lite;
  for (int k = 0; k < runs; ++k) {
    Result r;
    if (int e = run_ours(&r)) return e;
    keep_best(&ours, r, k);
    run_lite(&r);
    keep_best(&lite, r, k);
  }
  if (!last_row.empty()) std::printf("última fila (flat): %s\n", last_row.c_str());
  // Both sides end on the same company (the smoke run's check).
  while (!last_row.empty() && last_row.back() == ' ') last_row.pop_back();
  if (last_row != lite_last_row) {
    std::fprintf(stderr, "bench_browse: la última fila difiere: \"%s\" / \"%s\"\n",
                 last_row.c_str(), lite_last_row.c_str());
    return 1;
  }

  std::printf("%-8s %12s %14s %16s %12s %8s\n", "", "primeras(ms)", "por página(ms)",
              "procesador(ms)", "total(ms)", "páginas");
  for (const auto& [name, r] : {std::pair<const char*, const Result&>{"flat", ours},
                                std::pair<const char*, const Result&>{"SQLite", lite}}) {
    std::printf("%-8s %12.2f %14.4f %16.4f %12.1f %8lld\n", name, r.first, r.per_page,
                r.cpu_per_page, r.total, (long long)r.pages);
  }
  auto ratio = [](double peer, double our) { return our > 0 ? peer / our : 0; };
  std::printf(
      "razón SQLite/flat (más de 1: flat más rápido): primeras %.2f, por página %.2f "
      "(procesador %.2f), total %.2f\n",
      ratio(lite.first, ours.first), ratio(lite.per_page, ours.per_page),
      ratio(lite.cpu_per_page, ours.cpu_per_page), ratio(lite.total, ours.total));
  std::printf("objetivo primeras filas < 100 ms: %s\n", ours.first < 100 ? "cumplido" : "NO");
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("memoria residente máxima: %.1f MB\n", double(ru.ru_maxrss) / 1024.0);
  if (own_dir) {
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) return 1;
  }
  return 0;
}
