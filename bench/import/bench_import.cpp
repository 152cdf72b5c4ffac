// bench_import [COMPANIES] [--existing N] [--calls N] [--paced N] [--base DIR]
// [--no-peer]: the text
// import of COMPANIES companies (default 10,000) with 3 numbers and 2
// contacts each (each contact with one number), over a directory that
// already holds N other companies and contacts (default 10,000) and N calls
// (default 1,000,000); a tenth of the imported numbers are numbers that
// calls went to, so their calls are re-linked.
//   - unpaced (agenda --importar): units of work per second and the time of
//     each stage, against SQLite doing the same inserts, look-ups, updates
//     and re-links over the same data (the same line reading, a commit
//     every 2,000 units as our import flushes every 2,000);
//   - paced (the window, one unit per hundredth of a second): a sample of
//     --paced companies (default 300) run unit by unit; the user waits the
//     larger of the hundredth and the unit's work, and the time for the
//     whole set is extrapolated from the sample's mean.
// Ratios are SQLite's time divided by ours: above 1 means we are faster.
// --base DIR keeps the existing installation in DIR and takes it from there
// on the next run (for repeated runs of one size); --no-peer leaves SQLite
// out (for profiling).
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "agenda/import_text.h"
#include "agenda/import_text_parse.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/line_file.h"
#include "host/dictionary/records.h"
#include "host/runtime/file.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"
#include "tools/demodata/demodata.h"

namespace {

using Clock = std::chrono::steady_clock;
using nv::dict::CallRecord;
using nv::dict::TransferRecord;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor seconds of this process (user and system): what the work cost,
// whatever else the machine was running.
double CpuSeconds() {
  return double(std::clock()) / CLOCKS_PER_SEC;
}

// --- SQLite, laid out like the directory, the calls and the staging tables.

class Lite {
 public:
  ~Lite() {
    for (auto& [sql, s] : stmts_) sqlite3_finalize(s);
    sqlite3_close(db);
  }
  bool Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
      sqlite3_free(err);
      return false;
    }
    return true;
  }
  // A prepared statement, reset, with its parameters bound (ints and texts).
  template <class... A>
  sqlite3_stmt* Q(const char* sql, const A&... args) {
    sqlite3_stmt*& s = stmts_[sql];
    if (s == nullptr) sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    sqlite3_reset(s);
    int i = 0;
    (Bind(s, ++i, args), ...);
    return s;
  }
  void Run(sqlite3_stmt* s) { sqlite3_step(s); }
  // The first column of the first row, or -1.
  int64_t One(sqlite3_stmt* s) {
    return sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
  }
  sqlite3* db = nullptr;

 private:
  static void Bind(sqlite3_stmt* s, int i, int64_t v) { sqlite3_bind_int64(s, i, v); }
  static void Bind(sqlite3_stmt* s, int i, int v) { sqlite3_bind_int64(s, i, v); }
  static void Bind(sqlite3_stmt* s, int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
  }
  std::map<std::string, sqlite3_stmt*> stmts_;
};

const char* kSchema =
    "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
    "CREATE TABLE ma11(codigo INTEGER PRIMARY KEY, nombre TEXT, esempr TEXT, fecalt INT,"
    " direcc TEXT, locali TEXT, provin TEXT, codrub INT, codres INT, client INT, codemp INT,"
    " cargoc TEXT, cuitno TEXT, coniva TEXT, codpos TEXT, coment TEXT);"
    "CREATE UNIQUE INDEX ma11_c1 ON ma11(nombre, esempr); CREATE INDEX ma11_c4 ON ma11(codemp);"
    "CREATE TABLE re09(codigo INT, nrotel TEXT PRIMARY KEY, coment TEXT, gruage INT, carini TEXT,"
    " lontel INT);"
    "CREATE INDEX re09_cp ON re09(codigo); CREATE INDEX re09_c3 ON re09(carini, lontel DESC);"
    "CREATE TABLE ta02(codrub INTEGER PRIMARY KEY, desrub TEXT); CREATE INDEX ta02_c1 ON "
    "ta02(desrub);"
    "CREATE TABLE ta09(gruage INTEGER PRIMARY KEY, desgru TEXT); CREATE INDEX ta09_c1 ON "
    "ta09(desgru);"
    "CREATE TABLE calls(id INTEGER PRIMARY KEY, nrotel TEXT, codigo INT, gruage INT);"
    "CREATE TABLE arub(codigo INT, des TEXT, codarc INT); CREATE INDEX arub_c2 ON arub(codarc);"
    "CREATE TABLE agru(codigo INT, des TEXT, codarc INT); CREATE INDEX agru_c2 ON agru(codarc);"
    "CREATE TABLE aemp(codarc INT, fecalt INT, nombre TEXT, direcc TEXT, locali TEXT, provin TEXT,"
    " codrub INT, client INT, cuitno TEXT, coniva TEXT, codpos TEXT);"
    "CREATE INDEX aemp_c1 ON aemp(codarc);"
    "CREATE TABLE atee(codarc INT, nrotel TEXT, coment TEXT, gruage INT);"
    "CREATE INDEX atee_cp ON atee(codarc);"
    "CREATE TABLE acon(codarc INT, fecalt INT, nombre TEXT, direcc TEXT, locali TEXT, provin TEXT,"
    " codemp INT, cargoc TEXT, codpos TEXT); CREATE INDEX acon_c2 ON acon(codemp);"
    "CREATE TABLE atec(codarc INT, nrotel TEXT, coment TEXT, gruage INT);"
    "CREATE INDEX atec_cp ON atec(codarc);";

// The existing directory and calls, copied from our files.
bool CopyInto(Lite& l, nv::dict::Dictionary& dic) {
  if (!l.Exec(kSchema) || !l.Exec("BEGIN")) return false;
  nv::dict::FileAccess* ma11 = dic.Access("FXMA11");
  ma11->UseFile();
  ma11->file().Set();
  auto& m = ma11->rec<nv::dict::MA11Record>();
  while (ma11->file().Next() == 0)
    l.Run(l.Q("INSERT INTO ma11(codigo, nombre, esempr, codemp) VALUES(?,?,?,?)", int64_t(m.CODIGO),
              m.NOMBRE.str(), m.ESEMPR.str(), int64_t(m.CODEMP)));
  ma11->Close();
  nv::dict::FileAccess* re09 = dic.Access("FXRE09");
  re09->UseFile();
  re09->file().Set();
  auto& r = re09->rec<nv::dict::RE09Record>();
  while (re09->file().Next() == 0) {
    int64_t c = 0, g = 0;
    r.CODIGO.Scaled(&c);
    r.GRUAGE.Scaled(&g);
    l.Run(l.Q("INSERT INTO re09 VALUES(?,?,?,?,?,?)", c, r.NROTEL.str(), r.COMENT.str(), g,
              r.CARINI.str(), int64_t(r.LONTEL)));
  }
  re09->Close();
  for (const char* label : {"FXTA02", "FXTA09"}) {
    nv::dict::FileAccess* a = dic.Access(label);
    a->UseFile();
    a->file().Set();
    while (a->file().Next() == 0) {
      int64_t c = 0;
      if (label[4] == '0' && label[5] == '2') {
        auto& t = a->rec<nv::dict::TA02Record>();
        t.CODRUB.Scaled(&c);
        l.Run(l.Q("INSERT INTO ta02 VALUES(?,?)", c, t.DESRUB.str()));
      } else {
        auto& t = a->rec<nv::dict::TA09Record>();
        t.GRUAGE.Scaled(&c);
        l.Run(l.Q("INSERT INTO ta09 VALUES(?,?)", c, t.DESGRU.str()));
      }
    }
    a->Close();
  }
  int64_t id = 0;
  for (const char* label : {"FXMO01", "FXMO02", "FXTR01", "FXTR02"}) {
    nv::dict::FileAccess* a = dic.Access(label);
    if (a->UseFile() != 0) continue;
    a->file().Set();
    const bool leg = label[2] == 'M';
    while (a->file().Next() == 0) {
      const std::string n =
          leg ? a->rec<CallRecord>().NROTEL.str() : a->rec<TransferRecord>().NROTEL.str();
      const int64_t c = leg ? a->rec<CallRecord>().CODIGO : a->rec<TransferRecord>().CODIGO;
      l.Run(l.Q("INSERT INTO calls VALUES(?,?,?,0)", ++id, n, c));
    }
    a->Close();
  }
  return l.Exec("COMMIT; CREATE INDEX calls_c9 ON calls(nrotel);");
}

// The same import done with SQL: the same lines read and split by the same
// code, staged, then merged with the same look-ups, and the calls of each
// number re-linked with one UPDATE (the owner of the longest prefix through
// the index shaped like RE09_C3). Answers the seconds taken.
double LiteImport(Lite& l, const std::string& folder, int64_t* units) {
  const auto t = Clock::now();
  int64_t pending = 0;
  auto unit = [&] {
    ++*units;
    if (++pending >= 2000) {
      l.Exec("COMMIT; BEGIN");
      pending = 0;
    }
  };
  l.Exec("BEGIN");
  struct File {
    const char* name;
    size_t fields;
  };
  const File files[] = {{"RubrosAg", 2}, {"GruposAg", 2}, {"Empresas", 11},
                        {"TelefonE", 4}, {"Contacto", 9}, {"TelefonC", 4}};
  std::vector<std::string> f;
  for (const File& file : files) {
    nv::dict::LineFile reader;
    if (reader.Open(folder + file.name + ".txt") != 0) continue;
    while (reader.Next() == 0) {
      unit();
      const std::string line(reader.full_line());
      if (!agenda::SplitFields(line, file.fields, &f)) continue;
      int64_t a = 0, b = 0;
      int32_t d = 0;
      const std::string name(file.name);
      if (name == "RubrosAg" || name == "GruposAg") {
        agenda::ParseNumber(f[0], &a);
        l.Run(l.Q(name == "RubrosAg" ? "INSERT INTO arub VALUES(0,?,?)"
                                     : "INSERT INTO agru VALUES(0,?,?)",
                  f[1], a));
      } else if (name == "Empresas") {
        agenda::ParseNumber(f[0], &a);
        agenda::ParseDate(f[1], &d);
        int64_t rub = 0, cli = 0;
        agenda::ParseNumber(f[6], &rub);
        agenda::ParseNumber(f[7], &cli);
        l.Run(l.Q("INSERT INTO aemp VALUES(?,?,?,?,?,?,?,?,?,?,?)", a, int64_t(d), f[2], f[3], f[4],
                  f[5], rub, cli, f[8], agenda::VatCondition(f[9]), f[10]));
      } else if (name == "Contacto") {
        agenda::ParseNumber(f[0], &a);
        agenda::ParseDate(f[1], &d);
        agenda::ParseNumber(f[6], &b);
        l.Run(l.Q("INSERT INTO acon VALUES(?,?,?,?,?,?,?,?,?)", a, int64_t(d), f[2], f[3], f[4],
                  f[5], b, f[7], f[8]));
      } else {
        agenda::ParseNumber(f[0], &a);
        agenda::ParseNumber(f[3], &b);
        l.Run(l.Q(name == "TelefonE" ? "INSERT INTO atee VALUES(?,?,?,?)"
                                     : "INSERT INTO atec VALUES(?,?,?,?)",
                  a, agenda::DigitsOnly(f[1]), f[2], b));
      }
    }
  }
  // Categories and groups.
  for (int g = 0; g < 2; ++g) {
    const std::string tab = g == 0 ? "arub" : "agru";
    std::vector<std::pair<int64_t, std::string>> staged;
    sqlite3_stmt* s = l.Q(g == 0 ? "SELECT rowid, des FROM arub ORDER BY codarc"
                                 : "SELECT rowid, des FROM agru ORDER BY codarc");
    while (sqlite3_step(s) == SQLITE_ROW)
      staged.emplace_back(sqlite3_column_int64(s, 0),
                          reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    for (const auto& [rowid, des] : staged) {
      unit();
      int64_t code = l.One(l.Q(g == 0 ? "SELECT codrub FROM ta02 WHERE desrub = ?"
                                      : "SELECT gruage FROM ta09 WHERE desgru = ?",
                               des));
      if (code < 0) {
        l.Run(l.Q(
            g == 0 ? "INSERT INTO ta02(desrub) VALUES(?)" : "INSERT INTO ta09(desgru) VALUES(?)",
            des));
        code = sqlite3_last_insert_rowid(l.db);
      }
      l.Run(l.Q(g == 0 ? "UPDATE arub SET codigo = ? WHERE rowid = ?"
                       : "UPDATE agru SET codigo = ? WHERE rowid = ?",
                code, rowid));
    }
  }
  const std::string owner =
      "(SELECT d.codigo, d.gruage FROM re09 d WHERE d.carini = substr(calls.nrotel, 1, 1) AND "
      "d.lontel <= length(calls.nrotel) AND substr(calls.nrotel, 1, d.lontel) = d.nrotel ORDER BY "
      "d.lontel DESC LIMIT 1)";
  const std::string relink = "UPDATE calls SET (codigo, gruage) = " + owner +
                             " WHERE nrotel >= ?1 AND nrotel < ?1 || char(127)";
  auto number = [&](const std::string& n, const std::string& coment, int64_t group_file,
                    int64_t owner_code) {
    unit();
    if (l.One(l.Q("SELECT codigo FROM re09 WHERE nrotel = ?", n)) < 0) {
      const int64_t group = l.One(l.Q("SELECT codigo FROM agru WHERE codarc = ?", group_file));
      l.Run(l.Q("INSERT INTO re09 VALUES(?,?,?,?,substr(?,1,1),?)", owner_code, n, coment,
                std::max<int64_t>(group, 0), n, int64_t(n.size())));
    } else {
      l.Run(l.Q("UPDATE re09 SET codigo = ? WHERE nrotel = ?", owner_code, n));
    }
    l.Run(l.Q(relink.c_str(), n));
  };
  auto numbers_of = [&](const char* table, int64_t code, int64_t owner_code) {
    std::vector<std::tuple<std::string, std::string, int64_t>> rows;
    sqlite3_stmt* s = l.Q(std::string(table) == "atee"
                              ? "SELECT nrotel, coment, gruage FROM atee WHERE codarc = ?"
                              : "SELECT nrotel, coment, gruage FROM atec WHERE codarc = ?",
                          code);
    while (sqlite3_step(s) == SQLITE_ROW)
      rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                        reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                        sqlite3_column_int64(s, 2));
    for (const auto& [n, c, g] : rows) number(n, c, g, owner_code);
  };
  auto contacts_of = [&](int64_t company_file, int64_t company) {
    std::vector<std::pair<int64_t, std::string>> rows;
    sqlite3_stmt* s = l.Q("SELECT codarc, nombre FROM acon WHERE codemp = ?", company_file);
    while (sqlite3_step(s) == SQLITE_ROW)
      rows.emplace_back(sqlite3_column_int64(s, 0),
                        reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    for (const auto& [code, name] : rows) {
      unit();
      int64_t dir = l.One(l.Q("SELECT codigo FROM ma11 WHERE nombre = ? AND esempr = 'C'", name));
      if (dir < 0) {
        l.Run(l.Q("INSERT INTO ma11(nombre, esempr, codemp) VALUES(?, 'C', ?)", name, company));
        dir = sqlite3_last_insert_rowid(l.db);
      } else {
        l.Run(l.Q("UPDATE ma11 SET codemp = ? WHERE codigo = ?", company, dir));
      }
      numbers_of("atec", code, dir);
    }
  };
  std::vector<std::pair<int64_t, std::string>> companies;
  {
    sqlite3_stmt* s = l.Q("SELECT codarc, nombre FROM aemp ORDER BY codarc");
    while (sqlite3_step(s) == SQLITE_ROW)
      companies.emplace_back(sqlite3_column_int64(s, 0),
                             reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
  }
  for (const auto& [file_code, name] : companies) {
    unit();
    int64_t dir = l.One(l.Q("SELECT codigo FROM ma11 WHERE nombre = ? AND esempr = 'E'", name));
    if (dir < 0) {
      l.Run(
          l.Q("INSERT INTO ma11(nombre, esempr, codemp) SELECT nombre, 'E', 0 FROM aemp WHERE "
              "codarc = ?",
              file_code));
      dir = sqlite3_last_insert_rowid(l.db);
    } else {
      l.Run(
          l.Q("UPDATE ma11 SET direcc = (SELECT direcc FROM aemp WHERE codarc = ?) WHERE "
              "codigo = ?",
              file_code, dir));
    }
    numbers_of("atee", file_code, dir);
    contacts_of(file_code, dir);
  }
  contacts_of(0, 0);
  l.Exec(
      "DELETE FROM arub; DELETE FROM agru; DELETE FROM aemp; DELETE FROM atee; DELETE FROM "
      "acon; DELETE FROM atec; COMMIT");
  return Seconds(t);
}

// Numbers that calls went to and the directory does not hold: a tenth of
// the imported numbers, so that their calls are re-linked.
std::vector<std::string> CalledNumbers(nv::dict::Dictionary& dic, size_t want) {
  std::vector<std::string> out;
  nv::dict::FileAccess* mo01 = dic.Access("FXMO01");
  nv::dict::FileAccess* re09 = dic.Access("FXRE09");
  if (mo01->UseFile() != 0 || re09->UseFile() != 0) return out;
  const int64_t records = mo01->file().Records();
  const int64_t stride = std::max<int64_t>(1, records / int64_t(want + 1));
  for (int64_t i = 1; i <= records && out.size() < want; i += stride) {
    if (mo01->file().Get(int32_t(i)) != 0) continue;
    const std::string n = agenda::DigitsOnly(mo01->rec<CallRecord>().NROTEL.str());
    if (n.size() < 6) continue;
    re09->rec<nv::dict::RE09Record>().NROTEL = n;
    if (re09->TryFetch("RE09:RE09_C1") == 0) continue;
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
  }
  re09->Close();
  mo01->Close();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int companies = 10000, existing = 10000, paced = 300;
  int64_t calls = 1000000;
  std::string base;
  bool peer = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::atoll(argv[++i]) : 0; };
    if (a == "--existing") {
      existing = int(next());
    } else if (a == "--calls") {
      calls = next();
    } else if (a == "--paced") {
      paced = int(next());
    } else if (a == "--base" && i + 1 < argc) {
      base = argv[++i];
    } else if (a == "--no-peer") {
      peer = false;
    } else {
      companies = std::atoi(a.c_str());
    }
  }
  if (companies <= 0 || existing < 0 || calls < 0 || paced < 0) {
    std::fprintf(stderr,
                 "usage: bench_import [COMPANIES] [--existing N] [--calls N] [--paced N] "
                 "[--base DIR] [--no-peer]\n");
    return 2;
  }
  char tmpl[] = "/tmp/bench_import-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  const std::string dir = tmpl;
  if (chdir(dir.c_str()) != 0) return 1;
  setenv("NVRUN_PROFILE", (dir + "/fonvex.ini").c_str(), 1);
  nv::WriteProfileString("", "Dictionary", "Folder", dir + "/Archivos");

  std::printf(
      "bench_import: %d companies x (3 numbers + 2 contacts with 1 number) over %d "
      "companies, %d contacts and %lld calls\n",
      companies, existing, existing, static_cast<long long>(calls));
  auto t = Clock::now();
  demodata::Options o;
  o.out = "Archivos";
  o.calls = calls;
  o.companies = existing;
  o.contacts = existing;
  demodata::Summary summary;
  std::string error;
  struct stat st;
  if (!base.empty() && stat((base + "/Archivos").c_str(), &st) == 0) {
    if (std::system(("cp -a '" + base + "/Archivos' Archivos").c_str()) != 0) return 1;
    std::printf("  existing installation copied from %s  %8.2f s\n", base.c_str(), Seconds(t));
  } else {
    if (demodata::Write(o, &summary, &error) != 0) {
      std::fprintf(stderr, "bench_import: %s\n", error.c_str());
      return 1;
    }
    std::printf("  existing installation written                    %8.2f s\n", Seconds(t));
    if (!base.empty() &&
        std::system(("mkdir -p '" + base + "' && cp -a Archivos '" + base + "/'").c_str()) != 0)
      return 1;
  }
  nv::dict::FxdatsInit(nullptr, nullptr);
  nv::dict::Dictionary& dic = *nv::dict::Dic();
  dic.SetCallFileNames();
  dic.globals().CODUSR.Set(1);

  Lite lite;
  if (sqlite3_open("import.db", &lite.db) != SQLITE_OK) return 1;
  t = Clock::now();
  if (peer && !CopyInto(lite, dic)) return 1;
  if (peer) std::printf("  the same copied into SQLite                      %8.2f s\n", Seconds(t));

  demodata::TextSample sample;
  sample.out = "textos";
  sample.companies = companies;
  sample.numbers_per_company = 3;
  sample.contacts_per_company = 2;
  sample.errors = false;
  sample.numbers = CalledNumbers(dic, size_t(companies) * 5 / 10);
  demodata::TextSampleSummary ts;
  if (demodata::WriteTextSample(sample, &ts, &error) != 0) return 1;
  std::printf("  text files: %lld lines (%zu numbers that calls went to)\n",
              static_cast<long long>(ts.lines), sample.numbers.size());

  // Unpaced, as agenda --importar runs it.
  agenda::TextImport run(dic, "textos/", agenda::ImportPacing::kUnpaced);
  std::vector<std::pair<std::string, double>> stages;
  auto stage_start = Clock::now();
  const auto start = stage_start;
  std::string stage = "load";
  run.on_status = [&](const std::string& s) {
    const std::string name = s.rfind("Paso 7", 0) == 0   ? "categories and groups"
                             : s.rfind("Paso 9", 0) == 0 ? "data and re-links"
                             : s.rfind("Final", 0) == 0  ? "end"
                                                         : "";
    if (name.empty() || name == stage) return;
    stages.emplace_back(stage, Seconds(stage_start));
    stage = name;
    stage_start = Clock::now();
  };
  const double cpu0 = CpuSeconds();
  if (!run.Start()) return 1;
  const int64_t units = run.RunUnpaced();
  const double ours = Seconds(start);
  stages.emplace_back(stage, Seconds(stage_start));
  const double ours_cpu = CpuSeconds() - cpu0;
  if (!run.errors().empty()) {
    std::fprintf(stderr, "bench_import: %zu errors, first: %s\n", run.errors().size(),
                 run.errors()[0].c_str());
    return 1;
  }
  int64_t lite_units = 0;
  const double cpu1 = CpuSeconds();
  const double theirs = peer ? LiteImport(lite, "textos/", &lite_units) : 0;
  const double theirs_cpu = CpuSeconds() - cpu1;
  std::printf("\n  unpaced import         ours %8.2f s   SQLite %8.2f s   ratio %.2f\n", ours,
              theirs, theirs / ours);
  std::printf("  processor time         ours %8.2f s   SQLite %8.2f s   ratio %.2f\n", ours_cpu,
              theirs_cpu, theirs_cpu / ours_cpu);
  for (const auto& [name, secs] : stages) std::printf("    %-24s %8.2f s\n", name.c_str(), secs);
  std::printf("  units                  ours %8lld     SQLite %8lld\n",
              static_cast<long long>(units), static_cast<long long>(lite_units));
  std::printf("  units per second       ours %8.0f     SQLite %8.0f   ratio %.2f\n", units / ours,
              lite_units / theirs, (units / ours) / (lite_units / theirs));
  std::printf("  numbers re-linked      %lld\n", static_cast<long long>(run.relinked_numbers()));

  // Paced: a sample, unit by unit, one tick each.
  if (paced > 0) {
    demodata::TextSample p = sample;
    p.out = "paced";
    p.seed = 2;
    p.companies = paced;
    p.numbers.clear();
    if (demodata::WriteTextSample(p, &ts, &error) != 0) return 1;
    agenda::TextImport window(dic, "paced/");
    if (!window.Start()) return 1;
    double wall = 0, work = 0;
    int64_t n = 0;
    while (window.running()) {
      const auto u = Clock::now();
      n += window.Tick(1);
      const double secs = Seconds(u);
      work += secs;
      wall += std::max(0.01, secs);
    }
    std::printf("\n  paced sample: %d companies, %lld units: work %.2f s, the user waits %.1f s\n",
                paced, static_cast<long long>(n), work, wall);
    std::printf("  paced, whole set (extrapolated): about %.0f s (%.1f min)\n",
                wall / double(n) * double(units), wall / double(n) * double(units) / 60);
  }
  nv::dict::FxdatsKill();
  const std::string cmd = "rm -rf '" + dir + "'";
  return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
