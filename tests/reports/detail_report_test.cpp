// Detail reports over call files written through the flat driver: what the
// text rendering of the document shows for selection, transfers, totals,
// lookups, headings and progress.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "host/runtime/picture.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/progress.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

using nv::dict::MA02Record;
using nv::dict::MA07Record;
using nv::dict::MA08Record;
using nv::dict::MA09Record;
using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::dict::TA09Record;
using nv::dict::TA14Record;
using nv::dict::TransferRecord;

const int32_t kD1 = Day(2026, 3, 2);
const int32_t kD2 = Day(2026, 3, 3);
const int32_t kD3 = Day(2026, 3, 4);

using DetailTest = ReportTest;

TEST_F(DetailTest, AllTypesNeverSelectUnratedCalls) {
  AddCall(Call(1, kD2, Hms(10, 0, 0), "L1", "201", "LO"));
  AddCall(Call(2, kD2, Hms(11, 0, 0), "L1", "201", "NT"));
  AddCall(Call(3, kD2, Hms(12, 0, 0), "L1", "201", "IN"));
  Output o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L1"));
  ASSERT_TRUE(o.delivered);
  EXPECT_NE(o.text.find("0114100001"), std::string::npos);
  EXPECT_EQ(o.text.find("0114100002"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  EXPECT_NE(o.text.find("Total Llamadas: 2"), std::string::npos);
  // A chosen type selects only that code, and "NT" calls never.
  o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L1", "Internacionales"));
  EXPECT_EQ(o.text.find("0114100001"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  EXPECT_NE(o.text.find("Informe de llamadas salientes - Internacionales por Líneas -"),
            std::string::npos)
      << o.text;
  EXPECT_NE(o.text.find("Total Llamadas: 1"), std::string::npos);
}

TEST_F(DetailTest, TimeWindowIncludesBothEndsToTheHundredth) {
  const int32_t hashor = Hms(18, 30, 0);
  AddCall(Call(1, kD3, hashor));           // exactly (HASFEC, HASHOR)
  AddCall(Call(2, kD3, hashor + 1));       // a hundredth later
  AddCall(Call(3, kD2, Hms(23, 59, 59)));  // a day between: any time
  AddCall(Call(4, kD1, Hms(8, 0, 0)));     // exactly (DESFEC, DESHOR)
  AddCall(Call(5, kD1, Hms(8, 0, 0) - 1));
  Output o = Run("RPT_SAL_FECHA_DETALLE", Rpt(kD1, kD3, Hms(8, 0, 0), hashor));
  ASSERT_TRUE(o.delivered);
  EXPECT_NE(o.text.find("0114100001"), std::string::npos);
  EXPECT_EQ(o.text.find("0114100002"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  EXPECT_NE(o.text.find("0114100004"), std::string::npos);
  EXPECT_EQ(o.text.find("0114100005"), std::string::npos);
  EXPECT_EQ(o.result.calls, 3);
  // The date family writes its times with @T1.
  EXPECT_NE(o.text.find("desde el  2/03/2026 a las  8:00 hasta el  4/03/2026 a las 18:30"),
            std::string::npos)
      << o.text;
}

TEST_F(DetailTest, WholeDaysLeaveOutACallStoredWithTimeZero) {
  AddCall(Call(1, kD1, 0));
  AddCall(Call(2, kD1, 1));
  AddCall(Call(3, kD3, 8640000));
  Output o = Run("RPT_SAL_FECHA_DETALLE", Rpt(kD1, kD3));
  EXPECT_EQ(o.text.find("0114100001"), std::string::npos);
  EXPECT_NE(o.text.find("0114100002"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  // The heading keeps the dates-only wording: it is built before widening.
  EXPECT_NE(o.text.find("desde el  2/03/2026 hasta el  4/03/2026"), std::string::npos);
  EXPECT_EQ(o.text.find("a las"), std::string::npos);
}

void AddTransfer(ReportTest* t, int32_t id, int32_t day) {
  TransferRecord h{};
  h.CODLLA = id;
  h.FECLLA.set_day(day);
  h.HORLLA = Hms(9, 0, 0);
  h.DURLLA = 30001;
  h.COSLLA = 7.25;
  h.DESLLA = "TRONCAL";
  h.NROLIN = "L1";
  h.NROTEL = "1145556666";
  t->Add("FXTR01", h);
}

TEST_F(DetailTest, TransferredCallPrintsOncePerGroupWithAllLegs) {
  AddTransfer(this, 70, kD2);
  CallRecord a = Call(70, kD2, Hms(9, 0, 0), "L1", "201");
  CallRecord b = Call(70, kD2, Hms(9, 1, 0), "L1", "202");
  CallRecord c = Call(70, kD2, Hms(9, 2, 0), "L1", "203");
  for (CallRecord* r : {&a, &b, &c}) r->TRANSF = "T";
  b.CODAGT = 12;
  AddCall(a);
  AddCall(b);
  AddCall(c);
  AddCall(Call(71, kD2, Hms(10, 0, 0), "L1", "201"));
  Add("FXMA02", [] {
    MA02Record r{};
    r.CODAGT = 12;
    r.DESCRI = "AGENTE DOCE";
    return r;
  }());

  // By line: all three legs share L1, so the call prints once with three legs.
  Output o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L9"));
  ASSERT_TRUE(o.delivered);
  EXPECT_EQ(Count(o.text, "Datos de Transferencias"), 1) << o.text;
  EXPECT_EQ(Count(o.text, "1145556666"), 1);
  EXPECT_EQ(Count(o.text, "AGENTE DOCE"), 1);  // the leg with an agent, and its code
  EXPECT_NE(o.text.find("Agente:              12  AGENTE DOCE"), std::string::npos) << o.text;
  // Each leg prints its extension and its own date, time and duration line.
  for (const char* ext : {"201", "202", "203"}) {
    EXPECT_EQ(Count(o.text, std::string("       Interno: ") + ext), 1) << ext << "\n" << o.text;
  }
  // Every selected leg counts.
  EXPECT_EQ(o.result.calls, 4);
  EXPECT_NE(o.text.find("Total Llamadas: 4"), std::string::npos);
  EXPECT_NE(o.text.find("Total Costo: 6.00"), std::string::npos);

  // By extension the legs fall in three groups: the call prints in each.
  o = Run("RPT_SAL_INTERNOS_DETALLE", Rpt(kD1, kD3, 0, 0, "201", "203"));
  EXPECT_EQ(Count(o.text, "Datos de Transferencias"), 3);
  EXPECT_NE(o.text.find("Total Llamadas: 4"), std::string::npos);
  // The percentage reaches 100 only at the last printed call.
  ASSERT_FALSE(o.percents.empty());
  EXPECT_EQ(o.percents.front(), 0);
  EXPECT_EQ(o.percents.back(), 100);
  EXPECT_EQ(std::count(o.percents.begin(), o.percents.end(), 100), 1);
  for (size_t i = 1; i < o.percents.size(); ++i) EXPECT_GE(o.percents[i], o.percents[i - 1]);
}

TEST_F(DetailTest, EmptyAndInvertedReportsPrintHeadingsAndZeroTotals) {
  AddCall(Call(1, kD2, Hms(10, 0, 0)));
  for (const std::string& block : {Rpt(kD3, kD1), Rpt(kD1, kD3, 0, 0, "L5", "L2"), Rpt(0, 0)}) {
    Output o = Run("RPT_SAL_LINEAS_DETALLE", block);
    ASSERT_TRUE(o.delivered);
    EXPECT_NE(o.text.find("Informe de llamadas salientes - Por Líneas -"), std::string::npos);
    EXPECT_NE(o.text.find("Total Llamadas: 0"), std::string::npos);
    EXPECT_NE(o.text.find("Total Duración: 0:00:00"), std::string::npos);
    EXPECT_NE(o.text.find("Página    1"), std::string::npos);
    EXPECT_NE(o.text.find("Fonvex Windows"), std::string::npos);
    EXPECT_EQ(o.text.find("0114100001"), std::string::npos);
    EXPECT_EQ(o.result.calls, 0);
  }
  Output o = Run("RPT_SAL_GRP_LINEAS_DETALLE", Cod(kD1, kD3, 9, 2));
  EXPECT_NE(o.text.find("grupo/s: 9 al: 2"), std::string::npos);
  EXPECT_NE(o.text.find("Total Llamadas: 0"), std::string::npos);
}

TEST_F(DetailTest, PlainCallPrintsOnlyItsOwnBandsAndLookupsFillTheOthers) {
  AddCall(Call(1, kD2, Hms(10, 0, 0), "L1", "201"));
  CallRecord full = Call(2, kD2, Hms(11, 0, 0), "L2", "202");
  full.NROCTA = "C10";
  full.CODAGT = 5;
  full.CODIGO = 40;
  full.NROTEL = "4455667";
  full.GRULIN.Set(3);
  full.GRUAGE.Set(8);
  AddCall(full);
  Add("FXMA07", [] {
    MA07Record r{};
    r.NROLIN = "L2";
    r.DESLIN = "LINEA DOS";
    return r;
  }());
  Add("FXTA14", [] {
    TA14Record r{};
    r.GRULIN.Set(3);
    r.DESGRU = "TRONCALES NORTE";
    return r;
  }());
  Add("FXMA09", [] {
    MA09Record r{};
    r.NROCTA = "C10";
    r.DESCTA = nv::AnsiFromUtf8("Cañerías");
    return r;
  }());
  Add("FXMA02", [] {
    MA02Record r{};
    r.CODAGT = 5;
    r.DESCRI = "AGENTE CINCO";
    return r;
  }());
  Add("FXMA11", [] {
    MA11Record r{};
    r.CODIGO = 30;
    r.NOMBRE = "ACME SA";
    r.ESEMPR = "E";
    return r;
  }());
  Add("FXMA11", [] {
    MA11Record r{};
    r.CODIGO = 40;
    r.NOMBRE = "JUAN PEREZ";
    r.CODEMP = 30;
    r.ESEMPR = "C";
    return r;
  }());
  Add("FXRE09", [] {
    RE09Record r{};
    r.CODIGO.Set(40);
    r.NROTEL = "44556";
    r.COMENT = "CELULAR JUAN";
    r.CARINI = "4";
    r.LONTEL = 5;
    return r;
  }());
  Add("FXTA09", [] {
    TA09Record r{};
    r.GRUAGE.Set(8);
    r.DESGRU = "CLIENTES";
    return r;
  }());

  Output o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L1"));
  EXPECT_NE(o.text.find("Número:"), std::string::npos);
  EXPECT_EQ(o.text.find("Cuenta:"), std::string::npos);
  EXPECT_EQ(o.text.find("Agente:"), std::string::npos);
  EXPECT_EQ(o.text.find("Datos de la Agenda"), std::string::npos);

  o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L2", "L2"));
  for (const char* s : {"LINEA DOS", "TRONCALES NORTE", "Cuenta:", "Cañerías",
                        "Agente:", "AGENTE CINCO", "Datos de la Agenda", "JUAN PEREZ", "ACME SA",
                        "CELULAR JUAN", "CLIENTES", "Origen/Destino:", "Duración:"}) {
    EXPECT_NE(o.text.find(s), std::string::npos) << s << "\n" << o.text;
  }
  EXPECT_NE(o.text.find("línea/s: L2 al: L2"), std::string::npos);
  // Both calls in one run (lookups are remembered for the run): each shows
  // its own line's description, or none.
  o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L2"));
  EXPECT_EQ(Count(o.text, "LINEA DOS"), 1) << o.text;
  EXPECT_EQ(Count(o.text, "AGENTE CINCO"), 1);
}

TEST_F(DetailTest, NumericRangesWalkTheGroupKey) {
  for (int g = 1; g <= 6; ++g) {
    CallRecord r = Call(g, kD2, Hms(10, g, 0));
    r.GRULIN.Set(g);
    AddCall(r);
  }
  Output o = Run("RPT_SAL_GRP_LINEAS_DETALLE", Cod(kD1, kD3, 3, 5));
  EXPECT_EQ(o.result.calls, 3);
  EXPECT_EQ(o.text.find("0114100002"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  EXPECT_NE(o.text.find("0114100005"), std::string::npos);
  EXPECT_EQ(o.text.find("0114100006"), std::string::npos);
  // Out-of-range codes of a damaged block select nothing and do not fail.
  o = Run("RPT_SAL_GRP_LINEAS_DETALLE", Cod(kD1, kD3, 2000000000, 2100000000));
  EXPECT_EQ(o.result.calls, 0);
  o = Run("RPT_SAL_GRP_LINEAS_DETALLE", Cod(kD1, kD3, -2000000000, 2000000000));
  EXPECT_EQ(o.result.calls, 6);
}

TEST_F(DetailTest, AccountReportsFollowTheDescriptionOrder) {
  auto acct = [&](const char* code, const char* desc) {
    MA09Record r{};
    r.NROCTA = code;
    r.DESCTA = desc;
    Add("FXMA09", r);
  };
  acct("C1", "VENTAS");
  acct("C2", "COMPRAS");
  acct("C3", "ZETA");
  CallRecord v = Call(1, kD2, Hms(9, 0, 0));
  v.NROCTA = "C1";
  CallRecord c = Call(2, kD2, Hms(10, 0, 0));
  c.NROCTA = "C2";
  CallRecord z = Call(3, kD2, Hms(11, 0, 0));
  z.NROCTA = "C3";
  AddCall(v);
  AddCall(c);
  AddCall(z);
  Output o = Run("RPT_SAL_CTAS_DETALLE", Ctas(kD1, kD3, "A", "W"));
  ASSERT_TRUE(o.delivered);
  const size_t compras = o.text.find("0114100002");
  const size_t ventas = o.text.find("0114100001");
  ASSERT_NE(compras, std::string::npos);
  ASSERT_NE(ventas, std::string::npos);
  EXPECT_LT(compras, ventas);
  EXPECT_EQ(o.text.find("0114100003"), std::string::npos);
  EXPECT_EQ(o.result.calls, 2);
  EXPECT_NE(o.text.find("código de cuenta/s: A al: W"), std::string::npos);
  // The typed title of this procedure has its own prefix and suffix.
  o = Run("RPT_SAL_CTAS_DETALLE", Ctas(kD1, kD3, "A", "W", "Locales"));
  EXPECT_NE(o.text.find("Informe de llamada Locales salientes - Por Códigos de Cuentas -"),
            std::string::npos);
}

TEST_F(DetailTest, NumberReportCountsByDateAndPrintsByNumber) {
  CallRecord a = Call(1, kD2, Hms(9, 0, 0));
  a.NROTEL = "999";
  CallRecord b = Call(2, kD2, Hms(10, 0, 0));
  b.NROTEL = "111";
  AddCall(a);
  AddCall(b);
  AddCall(Call(3, kD3 + 5, Hms(9, 0, 0)));
  Output o = Run("RPT_SAL_NUMEROS_DETALLE", Rpt(kD1, kD3));
  EXPECT_EQ(o.result.calls, 2);
  EXPECT_LT(o.text.find("111"), o.text.find("999"));
  EXPECT_EQ(o.percents.back(), 100);
}

TEST_F(DetailTest, IncomingReportsReadTheIncomingFile) {
  AddCall(Call(1, kD2, Hms(9, 0, 0)), true);
  AddCall(Call(2, kD2, Hms(9, 0, 0)), false);
  Output o = Run("RPT_ENT_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L1"));
  EXPECT_EQ(o.text.find("0114100001"), std::string::npos);
  EXPECT_NE(o.text.find("0114100002"), std::string::npos);
  EXPECT_NE(o.text.find("linea/s: L1 al: L1"), std::string::npos);
  // The call's own cost, in the incoming picture @n10.2 (the totals band
  // writes its own "Total Costo: 1.50").
  EXPECT_NE(o.text.find("Costo:       1.50"), std::string::npos) << o.text;
}

// The text without the page footers, which carry the time of printing.
std::string WithoutFooters(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.find("Fonvex Windows") == std::string::npos) out += line + "\n";
    start = end + 1;
  }
  return out;
}

TEST_F(DetailTest, ConcurrentRunsOverTheSameFilesDoNotShareBuffers) {
  for (int i = 0; i < 300; ++i) {
    CallRecord r = Call(i + 1, kD1 + i % 3, Hms(8, 0, 0) + i * 100, i % 2 ? "L1" : "L2",
                        i % 3 ? "201" : "202");
    if (i % 7 == 0) r.TRANSF = "T";
    AddCall(r);
  }
  const Output alone = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L2"));
  const Output alone_ext = Run("RPT_SAL_INTERNOS_DETALLE", Rpt(kD1, kD3, 0, 0, "201", "202"));
  Output runs[4];
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      runs[i] = Run(i % 2 ? "RPT_SAL_INTERNOS_DETALLE" : "RPT_SAL_LINEAS_DETALLE",
                    i % 2 ? Rpt(kD1, kD3, 0, 0, "201", "202") : Rpt(kD1, kD3, 0, 0, "L1", "L2"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    const Output& want = i % 2 ? alone_ext : alone;
    EXPECT_EQ(runs[i].result.calls, want.result.calls);
    EXPECT_EQ(WithoutFooters(runs[i].text), WithoutFooters(want.text)) << "run " << i;
  }
}

TEST_F(DetailTest, CancelStopsTheRunWithoutADocument) {
  for (int i = 0; i < 50; ++i) AddCall(Call(i + 1, kD2, Hms(8, 0, 0) + i));
  nv::ui::HeadlessBackend ui;
  ui.OnOpen(nv::ui::ProgressWindow::kCaption,
            [](nv::ui::Window& w) { nv::ui::Press(w, nv::ui::ProgressWindow::kCancelar); });
  Output o = Run("RPT_SAL_FECHA_DETALLE", Rpt(kD1, kD3));
  EXPECT_EQ(o.result.status, fxr4::RunResult::kCancelled);
  EXPECT_FALSE(o.delivered);
  ASSERT_FALSE(o.percents.empty());
  EXPECT_LT(o.percents.back(), 100);
  nv::ui::SetBackend(nullptr);
}

TEST_F(DetailTest, BadParameterBlocksNeverCrash) {
  AddCall(Call(1, kD2, Hms(9, 0, 0)));
  const std::string blocks[] = {"",
                                "x",
                                std::string(40, '\0'),
                                std::string(1000, '\xFF'),
                                std::string(87, ' '),
                                Rpt(kD1, kD3).substr(0, 10),
                                Rpt(kD1, kD3) + std::string(500, 'Z')};
  const std::string opcs[] = {"", "\x01", std::string(10, '\xFF'), Opc(1, -5)};
  size_t n = 0;
  const fxr4::DetailProc* procs = fxr4::DetailProcs(&n);
  ASSERT_EQ(n, 21u);
  for (size_t i = 0; i < n; ++i) {
    for (const std::string& b : blocks) {
      for (const std::string& opc : opcs) {
        Output o = Run(procs[i].name, b, opc);
        EXPECT_EQ(o.result.status, fxr4::RunResult::kOk) << procs[i].name;
        EXPECT_TRUE(o.delivered);
        EXPECT_GE(o.doc.copies, 1);
        EXPECT_LE(o.doc.copies, 999);
      }
    }
  }
  // A longer block is cut: the excess is not read.
  Output o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3, 0, 0, "L1", "L1") + "garbage");
  EXPECT_EQ(o.result.calls, 1);
  // A short block is blank-filled: HASFEC reads as 0x20202020 (far in the
  // future) and the blank range holds only calls without a line.
  o = Run("RPT_SAL_LINEAS_DETALLE", Rpt(kD1, kD3).substr(0, 4));
  EXPECT_EQ(o.result.calls, 0);
  EXPECT_NE(o.text.find("Total Llamadas: 0"), std::string::npos);
}

TEST_F(DetailTest, PrintOptionsReachTheDocument) {
  Output o = Run("RPT_SAL_FECHA_DETALLE", Rpt(kD1, kD3), Opc(1, 3));
  EXPECT_FALSE(o.doc.skip_preview);
  EXPECT_EQ(o.doc.copies, 3);
  EXPECT_EQ(nv::Utf8FromAnsi(o.doc.caption), "Reporte de llamadas salientes por fecha detallado");
  o = Run("RPT_SAL_FECHA_DETALLE", Rpt(kD1, kD3), Opc(0, 1));
  EXPECT_TRUE(o.doc.skip_preview);
}

// The text rendering cuts a value to its box: every number, date and time
// of the layout has a box as wide as its picture, so the text shows what the
// PDF shows.
TEST(DetailLayoutTest, NumbersDatesAndTimesFitTheirBoxes) {
  for (fxr4::Direction d : {fxr4::Direction::kOutgoing, fxr4::Direction::kIncoming}) {
    const nv::report::ReportLayout l = fxr4::DetailLayout(d);
    std::vector<const nv::report::Band*> bands = {&l.page_header, &l.page_footer, &l.totals};
    for (const nv::report::Band& b : l.details) bands.push_back(&b);
    for (const nv::report::Band* b : bands) {
      for (const nv::report::Item& it : b->items) {
        if (it.kind != nv::report::ItemKind::kValue || it.picture[1] == 's') continue;
        EXPECT_GE(it.width / 100, nv::PictureWidth(it.picture)) << b->name << " " << it.name;
      }
    }
  }
}

// A call file that cannot be opened (missing, held exclusively by another
// program, damaged) is an error with the file's name and the error's text,
// never an empty report.
TEST_F(DetailTest, UnopenableCallFileIsAnErrorWithoutADocument) {
  AddCall(Call(1, kD2, Hms(9, 0, 0)), false);
  writers_.clear();
  const std::string data =
      dir_ + "/Archivos/" +
      std::filesystem::path(dict_->EffectiveName("FXMO02")).filename().string();
  ASSERT_TRUE(std::filesystem::exists(data)) << data;
  struct Case {
    const char* what;
    std::function<void()> spoil;
    const char* text;
  };
  std::unique_ptr<nv::File> holder;
  const Case cases[] = {
      {"held",
       [&] {
         holder = dict_->NewFile("FXMO02");
         ASSERT_EQ(holder->Open(nv::kReadWrite | nv::kDenyAll), 0);
       },
       "Acceso denegado"},
      {"damaged",
       [&] {
         holder.reset();
         std::ofstream(data, std::ios::binary | std::ios::in) << "basura basura basura";
       },
       ""},
      {"missing", [&] { std::filesystem::remove(data); }, "Archivo no encontrado"},
  };
  for (const Case& c : cases) {
    c.spoil();
    nv::ui::HeadlessBackend ui;
    Output o = Run("RPT_ENT_FECHA_DETALLE", Rpt(kD1, kD3));
    nv::ui::SetBackend(nullptr);
    EXPECT_EQ(o.result.status, fxr4::RunResult::kOpenFailed) << c.what;
    EXPECT_NE(o.result.open_error, 0) << c.what;
    EXPECT_FALSE(o.delivered) << c.what;
    ASSERT_EQ(ui.messages().size(), 1u) << c.what;
    const std::string shown = nv::Utf8FromAnsi(ui.messages()[0].shape.text);
    EXPECT_NE(shown.find("No se puede abrir el archivo de llamadas FXMO02"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find(dict_->EffectiveName("FXMO02")), std::string::npos) << shown;
    EXPECT_NE(shown.find(c.text), std::string::npos) << c.what << ": " << shown;
    EXPECT_NE(shown.find("RPT_ENT_FECHA_DETALLE"), std::string::npos) << shown;
    EXPECT_EQ(ui.messages()[0].shape.icon, nv::ui::Icon::kError);
  }
}

// The progress window itself shows "N% Completo" as the run moves on.
TEST_F(DetailTest, ProgressWindowShowsThePercentCompleted) {
  for (int i = 0; i < 8; ++i) AddCall(Call(i + 1, kD2, Hms(8, 0, 0) + i));
  nv::ui::HeadlessBackend ui;
  std::atomic<nv::ui::Window*> window{nullptr};
  ui.OnOpen(nv::ui::ProgressWindow::kCaption, [&](nv::ui::Window& w) { window = &w; });
  std::vector<std::string> shown;
  fxr4::RunOptions o;
  o.dict = dict_.get();
  o.deliver = [](nv::report::Document&&) {};
  // Each new percentage: the window still shows the one before it.
  o.on_progress = [&](int, const std::string&) {
    if (nv::ui::Window* w = window.load()) {
      shown.push_back(w->Text(nv::ui::ProgressWindow::kPercent));
    }
  };
  writers_.clear();
  fxr4::RunDetail(*fxr4::FindDetailProc("RPT_SAL_FECHA_DETALLE"), Rpt(kD1, kD3), Opc(), o);
  nv::ui::SetBackend(nullptr);
  const std::vector<std::string> want = {"0% Completo",  "0% Completo",  "12% Completo",
                                         "25% Completo", "37% Completo", "50% Completo",
                                         "62% Completo", "75% Completo", "87% Completo"};
  EXPECT_EQ(shown, want);
}

// Descriptions are chosen upper-cased while MA09_C1 orders them as written:
// a lower-case description that sorts after the range's end is still in.
TEST_F(DetailTest, AccountRangeTakesMixedCaseDescriptions) {
  const char* accounts[][2] = {{"C1", "banco"}, {"C2", "ZETA"}, {"C3", "Caja"}, {"C4", "Beta"}};
  for (int i = 0; i < 4; ++i) {
    MA09Record a{};
    a.NROCTA = accounts[i][0];
    a.DESCTA = accounts[i][1];
    Add("FXMA09", a);
    CallRecord r = Call(i + 1, kD2, Hms(9, i, 0));
    r.NROCTA = accounts[i][0];
    AddCall(r);
  }
  Output o = Run("RPT_SAL_CTAS_DETALLE", Ctas(kD1, kD3, "b", "caja"));
  // banco, Beta and Caja (BANCO, BETA, CAJA within B..CAJA), ZETA not.
  EXPECT_EQ(o.result.calls, 3) << o.text;
  EXPECT_NE(o.text.find("0114100001"), std::string::npos);
  EXPECT_NE(o.text.find("0114100003"), std::string::npos);
  EXPECT_NE(o.text.find("0114100004"), std::string::npos);
  EXPECT_EQ(o.text.find("0114100002"), std::string::npos);
}

}  // namespace
}  // namespace fxr4test
