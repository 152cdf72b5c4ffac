// Summary reports and the special reports: what the document shows, and the
// agreement of the two forms of every family (the summary's view and filter
// text against the detail's walk and in-code selection) on random calls and
// random parameter blocks.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "host/dictionary/services.h"
#include "host/ui/framework.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/progress.h"
#include "reports/csv_export.h"
#include "reports/output.h"
#include "reports/fixed_filters.h"
#include "reports/summary_report.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

using nv::dict::MA02Record;
using nv::dict::MA07Record;
using nv::dict::MA08Record;
using nv::dict::MA09Record;
using nv::dict::MA11Record;
using nv::dict::RE09Record;

const int32_t kD1 = Day(2026, 3, 2);
const int32_t kD3 = Day(2026, 3, 4);

inline std::string Reque(int32_t desfec, int32_t hasfec, const char* ctas, const char* agentes,
                         const char* agenda, const char* desnro = "", const char* hasnro = "") {
  fxr4::PARAM_RPT_REQUE b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = desfec;
  b.HASFEC = hasfec;
  b.DESHOR = 0;
  b.HASHOR = 0;
  b.DESDUR = 0;
  b.HASDUR = 1 << 30;
  b.OPCIONES_CTAS = ctas;
  b.OPCIONES_AGENTES = agentes;
  b.OPCIONES_AGENDA = agenda;
  b.DESCOS = -1e9;
  b.HASCOS = 1e9;
  b.DESNRO = desnro;
  b.HASNRO = hasnro;
  b.CURTAB = "Todas";
  return Bytes(b);
}

class SummaryTest : public ReportTest {
 protected:
  // Runs a summary (or, with `detail`, the matching detail form) and
  // collects the selected records' RINLLA, which the tests use as identity.
  Output RunAny(const std::string& name, const std::string& block, const std::string& option = "A",
                std::multiset<int32_t>* ids = nullptr, const std::string& opc = Opc()) {
    Output out;
    writers_.clear();
    fxr4::RunOptions o;
    o.dict = dict_.get();
    o.deliver = [&](nv::report::Document&& d) {
      out.delivered = true;
      out.text = nv::report::RenderText(d, fxr4::TextOptionsFor(d));
      out.doc = std::move(d);
    };
    if (ids != nullptr)
      o.on_selected = [&](const CallRecord& r) { ids->insert(int32_t{r.RINLLA}); };
    if (const fxr4::SummaryProc* s = fxr4::FindSummaryProc(name)) {
      out.result = fxr4::RunSummary(*s, option, block, opc, o);
    } else if (const fxr4::DetailProc* d = fxr4::FindSpecialDetail(name)) {
      out.result = fxr4::RunSpecialDetail(*d, option, block, opc, o);
    } else if (const fxr4::DetailProc* dp = fxr4::FindDetailProc(name)) {
      out.result = fxr4::RunDetail(*dp, block, opc, o);
    } else {
      ADD_FAILURE() << name;
    }
    return out;
  }
};

TEST_F(SummaryTest, OneLinePerCallWithDirectoryTextsHeadingsAndTotals) {
  CallRecord a = Call(1, kD1, Hms(9, 0, 0), "L1", "201");
  a.NROTEL = "4455667";
  a.DESLLA = nv::AnsiFromUtf8("Córdoba");
  CallRecord t1 = Call(2, kD3, Hms(23, 59, 59), "L1", "202");  // HASFEC at any time
  CallRecord t2 = Call(2, kD3, Hms(23, 59, 59), "L1", "203");
  t1.TRANSF = t2.TRANSF = "T";
  for (CallRecord* r : {&a, &t1, &t2}) AddCall(*r);
  AddCall(Call(3, kD3 + 1, Hms(9, 0, 0), "L1"));
  Add("FXMA11", [] {
    MA11Record r{};
    r.CODIGO = 40;
    r.NOMBRE = nv::AnsiFromUtf8("Juan Pérez");
    r.ESEMPR = "C";
    return r;
  }());
  Add("FXRE09", [] {
    RE09Record r{};
    r.CODIGO.Set(40);
    r.NROTEL = "44556";
    r.COMENT = "Celular";
    r.CARINI = "4";
    r.LONTEL = 5;
    return r;
  }());
  Output o =
      RunAny("RPT_SAL_LINEAS_RESUMEN", Rpt(kD1, kD3, 0, 0, "L1", "L1"), "A", nullptr, Opc(1, 2));
  ASSERT_TRUE(o.delivered);
  for (const char* s :
       {"Informe de llamadas salientes - Por Líneas -", "desde el  2/03/2026 hasta el  4/03/2026",
        "línea/s: L1 al: L1", "Fecha", "Hora", "Línea", "Interno", "Número", "Duración", "Costo",
        "Agenda", "Juan Pérez - Celular", "Total Llamadas: 3", "Total Duración: 0:03:00",
        "Total Costo: 4.50", "Página", "Fonvex Windows"}) {
    EXPECT_NE(o.text.find(s), std::string::npos) << s << "\n" << o.text;
  }
  EXPECT_EQ(Count(o.text, " 4/03/2026 23:59:59"), 2);  // one line per leg
  EXPECT_EQ(o.text.find("0114100003"), std::string::npos);
  EXPECT_EQ(nv::Utf8FromAnsi(o.doc.caption), "Reporte de llamadas salientes por líneas resumido");
  EXPECT_EQ(o.doc.copies, 2);
  EXPECT_FALSE(o.doc.skip_preview);
  // The incoming line report titles its column "Linea"; a filter that
  // selects nothing prints the headings and zero totals.
  o = RunAny("RPT_ENT_LINEAS_RESUMEN", Rpt(kD1, kD3, 0, 0, "L1", "L1"));
  EXPECT_NE(o.text.find("Linea "), std::string::npos);
  EXPECT_NE(o.text.find("Total Llamadas: 0"), std::string::npos);
  // An inverted range, and a group family with its column.
  o = RunAny("RPT_SAL_GRP_LINEAS_RESUMEN", Cod(kD1, kD3, 9, 2));
  EXPECT_NE(o.text.find("grupo/s: 9 al: 2"), std::string::npos);
  EXPECT_NE(o.text.find("Grupo"), std::string::npos);
  EXPECT_NE(o.text.find("Total Llamadas: 0"), std::string::npos);
}

TEST_F(SummaryTest, AccountSummaryFollowsDescriptionThenDateAndTime) {
  auto acct = [&](const char* code, const char* desc) {
    MA09Record r{};
    r.NROCTA = code;
    r.DESCTA = nv::AnsiFromUtf8(desc);
    Add("FXMA09", r);
  };
  acct("C1", "VENTAS");
  acct("C2", "COMPRAS Y DEPÓSITO");
  CallRecord v = Call(1, kD1, Hms(9, 0, 0));
  v.NROCTA = "C1";
  CallRecord c2 = Call(2, kD3, Hms(8, 0, 0));
  c2.NROCTA = "C2";
  CallRecord c1 = Call(3, kD1, Hms(10, 0, 0));
  c1.NROCTA = "C2";
  for (CallRecord* r : {&v, &c2, &c1}) AddCall(*r);
  Output o = RunAny("RPT_SAL_CTAS_RESUMEN", Ctas(kD1, kD3, "A", "W"));
  const size_t first = o.text.find("0114100003"), second = o.text.find("0114100002"),
               third = o.text.find("0114100001");
  ASSERT_NE(third, std::string::npos) << o.text;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_NE(o.text.find("COMPRAS Y DEPÓSITO"), std::string::npos);
  EXPECT_NE(o.text.find("código de cuenta/s: A al: W"), std::string::npos);
}

TEST_F(SummaryTest, UnopenableCallFileIsAnErrorWithoutDocument) {
  writers_.clear();
  ASSERT_EQ(system(("rm -f '" + dir_ + "/Archivos/FXMO02'*").c_str()), 0);
  nv::ui::ErrorReporter reporter;
  nv::ui::SetCurrentErrorReporter(&reporter);
  Output o = RunAny("RPT_ENT_FECHA_RESUMEN", Rpt(kD1, kD3));
  nv::ui::SetCurrentErrorReporter(nullptr);
  EXPECT_EQ(o.result.status, fxr4::RunResult::kOpenFailed);
  EXPECT_FALSE(o.delivered);
  ASSERT_FALSE(reporter.shown().empty());
  EXPECT_NE(reporter.shown().back().find("FXMO02"), std::string::npos) << reporter.shown().back();
}

TEST_F(SummaryTest, CancelAndDamagedFilesNeverDeliverAReport) {
  for (int i = 0; i < 300; ++i) AddCall(Call(i + 1, kD1, Hms(8, 0, 0) + i));
  {
    nv::ui::HeadlessBackend ui;
    ui.OnOpen(nv::ui::ProgressWindow::kCaption,
              [](nv::ui::Window& w) { nv::ui::Press(w, nv::ui::ProgressWindow::kCancelar); });
    Output o = RunAny("RPT_SAL_FECHA_RESUMEN", Rpt(kD1, kD3));
    EXPECT_EQ(o.result.status, fxr4::RunResult::kCancelled);
    EXPECT_FALSE(o.delivered);
    nv::ui::SetBackend(nullptr);
  }
  // The data file cut to a third under its keys: an error, not a shorter
  // report.
  writers_.clear();
  const std::string data =
      dir_ + "/Archivos/" +
      std::filesystem::path(dict_->EffectiveName("FXMO01")).filename().string();
  const auto size = std::filesystem::file_size(data);
  std::filesystem::resize_file(data, size / 3);
  nv::ui::ErrorReporter reporter;
  nv::ui::SetCurrentErrorReporter(&reporter);
  Output o = RunAny("RPT_SAL_LINEAS_RESUMEN", Rpt(kD1, kD3, 0, 0, "L1", "L1"));
  nv::ui::SetCurrentErrorReporter(nullptr);
  EXPECT_NE(o.result.status, fxr4::RunResult::kOk) << o.text;
  EXPECT_FALSE(o.delivered);
  EXPECT_FALSE(reporter.shown().empty());
}

// --- agreement of the two forms

struct Oracle {
  // What every selected call of a special member must satisfy.
  static bool Holds(fxr4::SpecialKind k, const CallRecord& r, const std::string& option) {
    switch (k) {
      case fxr4::SpecialKind::kFree:
        return r.TIPOLLA == "ES" && r.COSLLA == 0;
      case fxr4::SpecialKind::kUnrated:
        return r.TIPOLLA == "NT";
      case fxr4::SpecialKind::kDirectory:
        return option == "N" ? r.CODIGO == 0 : r.CODIGO > 0;
      default:
        return true;
    }
  }
};

TEST_F(SummaryTest, BothFormsOfEveryFamilySelectTheSameCalls) {
  const bool long_run = std::getenv("NV_LONG_TESTS") != nullptr;
  std::mt19937 rng(1207);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const char* kLines[] = {"", "L1", "L2", "L3", "L4", "L5"};
  const char* kExts[] = {"", "201", "202", "203", "204"};
  const char* kAccts[] = {"", "C1", "C2", "C3", "0", "C9"};
  const char* kDescs[] = {"ALFA", "BETA", "DELTA", "GAMA"};
  const char* kTypes[] = {"LO", "NA", "IN", "ES", "ES", "NT", "CE"};
  const int32_t base = Day(2026, 5, 4);
  std::map<int32_t, CallRecord> by_id;
  for (int i = 1; i <= (long_run ? 8000 : 2000); ++i) {
    CallRecord r = Call(i, base + pick(0, 6), pick(1, 8640000), kLines[pick(0, 5)],
                        kExts[pick(0, 4)], kTypes[pick(0, 6)]);
    if (pick(0, 7) == 0) r.HORLLA = 0;
    if (pick(0, 15) == 0) r.HORLLA = 8640000;
    r.RINLLA = i;
    r.DURLLA = pick(1, 9000);
    r.COSLLA = pick(0, 3) == 0 ? 0 : pick(1, 999) / 100.0;
    r.NROTEL = std::to_string(pick(10, 40));
    r.NROCTA = kAccts[pick(0, 5)];
    r.GRULIN.Set(pick(0, 4));
    r.GRUINT.Set(pick(0, 4));
    r.GRUCTA.Set(pick(0, 4));
    r.GRUAGE.Set(pick(0, 4));
    r.CODAGT = pick(0, 4);
    r.GRUAGT = pick(0, 3);
    r.CODIGO = pick(0, 2) == 0 ? 0 : pick(1, 3);
    if (pick(0, 9) == 0) r.TRANSF = "T";
    AddCall(r, i % 2 == 0);
    by_id[i] = r;
  }
  std::set<std::string> marked;
  for (int i = 1; i <= 4; ++i) {
    const bool m[4] = {pick(0, 2) > 0, pick(0, 2) > 0, pick(0, 1) > 0, pick(0, 1) > 0};
    MA07Record l{};
    l.NROLIN = kLines[i];
    l.MULTISEL = m[0];
    Add("FXMA07", l);
    MA08Record e{};
    e.NROINT = kExts[i];
    e.MULTISEL = m[1];
    Add("FXMA08", e);
    MA09Record a{};
    a.NROCTA = kAccts[i];
    a.DESCTA = kDescs[i - 1];
    a.MULTISEL = m[2];
    Add("FXMA09", a);
    MA02Record g{};
    g.CODAGT = i;
    g.MULTISEL = m[3];
    Add("FXMA02", g);
    if (m[0]) marked.insert(std::string("L") + kLines[i]);
    if (m[1]) marked.insert(std::string("E") + kExts[i]);
  }

  size_t n = 0;
  const fxr4::SummaryProc* procs = fxr4::SummaryProcs(&n);
  int64_t selected = 0, time_zero = 0, reque_outside = 0;
  for (size_t pi = 0; pi < n; ++pi) {
    const fxr4::SummaryProc& s = procs[pi];
    std::string detail = s.name;
    detail.replace(detail.find("RESUMEN"), 7, "DETALLE");
    if (fxr4::FindDetailProc(detail) == nullptr && fxr4::FindSpecialDetail(detail) == nullptr) {
      continue;  // no detail form (incoming account groups)
    }
    const fxr4::SpecialKind special = fxr4::SpecialOf(s.name);
    for (int round = 0; round < (long_run ? 20 : 5); ++round) {
      // Random ranges, and a blank end after a start, a blank range and an
      // inverted one.
      const int shape = round % 5 < 2 ? 0 : round % 5 - 1;
      int32_t desfec = base + pick(-1, 6), hasfec = base + pick(0, 7);
      int32_t deshor = 0, hashor = 0;
      if (pick(0, 2) == 0) {
        deshor = pick(0, 3) ? pick(1, 8640000) : 0;
        hashor = pick(0, 3) ? pick(1, 8640000) : 0;
      }
      const char* curtab = pick(0, 2) ? "Todas" : (pick(0, 1) ? "Especiales" : "Locales");
      std::string block, option = pick(0, 2) ? (pick(0, 1) ? "A" : "N") : "X";
      if (special == fxr4::SpecialKind::kRequirement) {
        const char* kOpt3[] = {"Se", "Si", "To", "Xx"};
        const char* kAge[] = {"Ag", "No", "To", "Zz"};
        const int bad = pick(0, 9);
        block = Reque(desfec, hasfec, kOpt3[bad == 0 ? 3 : pick(0, 2)],
                      kOpt3[bad == 1 ? 3 : pick(0, 2)], kAge[bad == 2 ? 3 : pick(0, 2)],
                      pick(0, 2) ? "" : "20", pick(0, 1) ? "" : "33");
        fxr4::PARAM_RPT_REQUE b = fxr4::CopiedBlock<fxr4::PARAM_RPT_REQUE>(block);
        b.DESHOR = deshor;
        b.HASHOR = hashor;
        b.DESDUR = pick(0, 3) ? 0 : pick(1, 4000);
        b.DESCOS = pick(0, 3) ? -1 : 0.5;
        b.CURTAB = curtab;
        block = Bytes(b);
        if (bad <= 2) ++reque_outside;
      } else if (s.block == fxr4::BlockKind::kCod) {
        const int lo = shape == 3 ? 4 : pick(-1, 4), hi = shape == 3 ? 1 : pick(-1, 5);
        fxr4::PARAM_RPT_COD b =
            fxr4::CopiedBlock<fxr4::PARAM_RPT_COD>(Cod(desfec, hasfec, lo, hi, curtab));
        b.DESHOR = deshor;
        b.HASHOR = hashor;
        block = Bytes(b);
      } else if (s.block == fxr4::BlockKind::kCtas) {
        const char* kBounds[] = {"", "ALFA", "B", "DELTA", "GAMA", "ZZZ"};
        const int from = shape == 0 ? pick(0, 3) : (shape == 2 ? 0 : 4);
        const int to = shape == 0 ? pick(0, 5) : (shape == 3 ? 1 : 0);
        fxr4::PARAM_RPT_CTAS b = fxr4::CopiedBlock<fxr4::PARAM_RPT_CTAS>(
            Ctas(desfec, hasfec, kBounds[from], kBounds[to], curtab));
        b.DESHOR = deshor;
        b.HASHOR = hashor;
        block = Bytes(b);
      } else {
        const bool ext = s.field == fxr4::GroupField::kNROINT;
        const char* const* v = ext ? kExts : kLines;
        const int top = ext ? 4 : 5;
        const int from = shape == 0 ? pick(0, top) : (shape == 2 ? 0 : 3);
        const int to = shape == 0 ? pick(0, top) : (shape == 3 ? 1 : 0);
        block = Rpt(desfec, hasfec, deshor, hashor, v[from], v[to], curtab);
      }
      std::multiset<int32_t> by_summary, by_detail;
      const Output so = RunAny(s.name, block, option, &by_summary);
      const Output dout = RunAny(detail, block, option, &by_detail);
      ASSERT_TRUE(so.delivered && dout.delivered) << s.name;
      const bool whole_days = (deshor == 0 && hashor == 0) || special == fxr4::SpecialKind::kFree ||
                              special == fxr4::SpecialKind::kUnrated;
      for (int32_t id : by_detail) {
        ASSERT_EQ(by_summary.count(id), by_detail.count(id)) << s.name << " call " << id;
      }
      for (int32_t id : by_summary) {
        const CallRecord& r = by_id[id];
        ASSERT_TRUE(Oracle::Holds(special, r, option)) << s.name << " call " << id;
        if (special == fxr4::SpecialKind::kRequirement) {
          ASSERT_TRUE(marked.count("L" + r.NROLIN.str()) && marked.count("E" + r.NROINT.str()))
              << "unmarked line or extension " << id;
        }
        if (by_detail.count(id) != 0) continue;
        // The one difference: with whole days the summary takes a call
        // stored with time 0 on DESFEC, which the detail's widened window
        // leaves out.
        ASSERT_TRUE(whole_days && r.HORLLA == 0 && r.FECLLA.day() == desfec)
            << s.name << " takes call " << id << " that its detail form leaves out: cta '"
            << r.NROCTA.str() << "' " << r.FECLLA.day() - base << " " << r.HORLLA << " block "
            << desfec - base << ".." << hasfec - base << " " << deshor << ".." << hashor << " "
            << curtab;
        ++time_zero;
      }
      EXPECT_EQ(so.result.calls, int64_t(by_summary.size()));
      EXPECT_EQ(dout.result.calls, int64_t(by_detail.size())) << detail;
      selected += int64_t(by_detail.size());
    }
  }
  EXPECT_GT(selected, 2000);  // not an agreement over empty selections
  EXPECT_GT(time_zero, 0);
  EXPECT_GT(reque_outside, 0);
}

TEST_F(SummaryTest, RequirementOptionOutsideItsThreeSelectsNothing) {
  CallRecord r = Call(1, kD1, Hms(9, 0, 0), "L1", "201");
  AddCall(r);
  Add("FXMA07", [] {
    MA07Record l{};
    l.NROLIN = "L1";
    l.MULTISEL = 1;
    return l;
  }());
  Add("FXMA08", [] {
    MA08Record e{};
    e.NROINT = "201";
    e.MULTISEL = 1;
    return e;
  }());
  for (const char* name : {"RPT_SAL_REQUE_RESUMEN", "RPT_SAL_REQUE_DETALLE"}) {
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "To", "To", "To")).result.calls, 1) << name;
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "to", "To", "To")).result.calls, 0) << name;
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "To", "Ag", "To")).result.calls, 0) << name;
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "To", "To", "Se")).result.calls, 0) << name;
    // Only HASNRO given: a blank lower bound.
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "To", "To", "To", "", "0115")).result.calls, 1);
    EXPECT_EQ(RunAny(name, Reque(kD1, kD3, "To", "To", "To", "", "0113")).result.calls, 0);
  }
  const Output o = RunAny("RPT_SAL_REQUE_RESUMEN", Reque(kD1, kD3, "To", "To", "To"));
  EXPECT_NE(o.text.find("Informe de llamadas salientes - Por Requerimiento -"), std::string::npos);
}

TEST_F(SummaryTest, DirectoryTextsAreThoseOfTheDictionaryLookup) {
  std::mt19937 rng(9);
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char('0' + rng() % 4);
    return s;
  };
  std::set<std::string> used;  // directory numbers are unique
  for (int i = 1; i <= 60; ++i) {
    MA11Record e{};
    e.CODIGO = i;
    e.NOMBRE = i == 7 ? "" : nv::AnsiFromUtf8("Compañía número " + std::to_string(i));
    Add("FXMA11", e);
    RE09Record n{};
    n.CODIGO.Set(i % 9 == 0 ? 500 : i);  // some owners are gone
    std::string number;
    while (number.empty() || !used.insert(number).second) number = digits(1 + int(rng() % 6));
    n.NROTEL = number;
    n.COMENT = i % 3 == 0 ? "" : "Fax";
    n.CARINI = n.NROTEL.view().substr(0, 1);
    n.LONTEL = uint8_t(n.NROTEL.clipped().size());
    Add("FXRE09", n);
  }
  writers_.clear();
  fxr4::AgendaTexts texts(*dict_);
  nv::dict::DirectoryLookup lookup(*dict_);
  for (int i = 0; i < 2000; ++i) {
    const std::string number = i % 50 == 0 ? "" : digits(1 + int(rng() % 9));
    const std::string want(nv::String<40>(lookup.Description(number)).clipped());
    ASSERT_EQ(texts.Of(number), want) << number;
  }
}

TEST(SpecialHeadingsTest, TitlesOfTheSpecialReports) {
  const fxr4::Window timed{Day(2026, 3, 2), Day(2026, 3, 4), Hms(8, 0, 0), Hms(18, 30, 0)};
  struct Case {
    fxr4::SpecialKind kind;
    fxr4::Direction d;
    const char* option;
    const char* curtab;
    const char* t1;
    bool with_times;
  } cases[] = {
      {fxr4::SpecialKind::kFree, fxr4::Direction::kOutgoing, "", "Locales",
       "Informe de llamadas salientes - Gratuitas Por Fecha -", false},
      {fxr4::SpecialKind::kUnrated, fxr4::Direction::kOutgoing, "", "Todas",
       "Informe de llamadas salientes - No Tarifadas por Fecha -", false},
      {fxr4::SpecialKind::kDirectory, fxr4::Direction::kIncoming, "N", "Todas",
       "Informe de llamadas entrantes - No Agendadas -", true},
      {fxr4::SpecialKind::kDirectory, fxr4::Direction::kOutgoing, "A", "Locales",
       "Informe de llamadas salientes - Locales Agendadas -", true},
      {fxr4::SpecialKind::kRequirement, fxr4::Direction::kIncoming, "", "Celulares",
       "Informe de llamadas entrantes - Celulares por Requerimientos -", true},
  };
  for (const Case& c : cases) {
    std::string t[3];
    fxr4::SpecialHeadings(c.kind, c.d, c.option, timed, c.curtab, t);
    EXPECT_EQ(t[0], c.t1);
    EXPECT_EQ(t[1], c.with_times ? "desde el  2/03/2026 a las  8:00:00 hasta el  4/03/2026 a las "
                                   "18:30:00"
                                 : "desde el  2/03/2026 hasta el  4/03/2026")
        << c.t1;
    EXPECT_EQ(t[2], "");
  }
  // Every text fits the filter buffer whole.
  EXPECT_LT(fxr4::RequirementFilter("MO02", true).size(), fxr4::kSummaryFilterBufferSize);
}

TEST(SummaryExportsTest, EveryProcedureIsExportedUnderItsName) {
  char self[4096];
  const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  self[len > 0 ? len : 0] = 0;
  const std::string path = std::filesystem::path(self).parent_path().string() + "/libFXR4.so";
  void* h = dlopen(path.c_str(), RTLD_NOW);
  ASSERT_NE(h, nullptr) << dlerror();
  size_t n = 0;
  const fxr4::SummaryProc* sums = fxr4::SummaryProcs(&n);
  EXPECT_EQ(n, 28u);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(dlsym(h, sums[i].name), nullptr) << sums[i].name;
  const fxr4::DetailProc* special = fxr4::SpecialDetails(&n);
  EXPECT_EQ(n, 6u);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(dlsym(h, special[i].name), nullptr) << special[i].name;
  dlclose(h);
}

// --- export

// RFC 4180 fields of one CSV text (quotes doubled inside quoted fields).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& f = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        f += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        f += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      rows.emplace_back(1);
    } else {
      f += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

std::string ReadFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

TEST_F(SummaryTest, CsvOfAHundredThousandCallsKeepsAccentsAndQuoting) {
  const std::string path = dir_ + "/big.csv";
  fxr4::CsvExport csv(path, "Cuenta");
  ASSERT_TRUE(csv.Open()) << csv.error();
  CallRecord r = Call(1, Day(2026, 3, 5), Hms(9, 5, 7));
  r.DURLLA = 366100;  // 1:01:01
  r.COSLLA = 1234.5;
  r.DESLLA = nv::AnsiFromUtf8("Córdoba, \"Capital\"");
  const std::string agenda = nv::AnsiFromUtf8("Peña Núñez");
  for (int i = 0; i < 100000; ++i) csv.Row(r, agenda, nv::AnsiFromUtf8("Dirección"));
  ASSERT_TRUE(csv.Close());
  const std::string text = ReadFile(path);
  ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  const auto rows = ParseCsv(text.substr(3));
  ASSERT_EQ(rows.size(), 100001u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Fecha", "Hora", "Línea", "Interno", "Número",
                                               "Duración (segundos)", "Duración", "Costo", "Tipo",
                                               "Origen/Destino", "Agenda", "Cuenta"}));
  EXPECT_EQ(rows[100000],
            (std::vector<std::string>{"05/03/2026", "09:05:07", "L1", "201", "0114100001", "3661",
                                      "1:01:01", "1234.50", "LO", "Córdoba, \"Capital\"",
                                      "Peña Núñez", "Dirección"}));
  // A file that cannot be written is refused with its reason.
  fxr4::CsvExport bad(dir_ + "/no/such/folder.csv", "");
  EXPECT_FALSE(bad.Open());
  EXPECT_NE(bad.error().find("no se puede escribir"), std::string::npos);
}

}  // namespace
}  // namespace fxr4test
