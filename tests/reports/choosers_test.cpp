// The fifteen choosers under the headless backend: what each one starts for
// every direction and form, the block it hands over (the caller's, with the
// values on screen), the range lists over the lookup files, the calendar
// buttons, the copies check, and a real report run on a report thread.
#include <pthread.h>

#include <QGuiApplication>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/ui/browse.h"
#include "host/ui/headless/headless_backend.h"
#include "reports/calendario.h"
#include "reports/choosers.h"
#include "reports/fixed_filters.h"
#include "reports/output.h"
#include "reports/summary_family.h"
#include "tests/reports/report_fixture.h"

// The font library (the PDF test below) keeps caches for the life of the
// process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace fxr4test {
namespace {

using namespace fxr4::elegir;
using nv::ui::Window;

constexpr const char* kCaption = "Elegir tipo de reporte";

struct Started {
  std::string proc, option, block, opc;
};

// The report a chooser starts, from the names alone: ELG_RPT_SALENT_X
// starts RPT_SAL_Y_... or RPT_ENT_Y_...; the free and unrated choosers
// only their outgoing reports; no incoming detail by account group.
std::string Expected(const std::string& chooser, int dir, int tipo) {
  static const std::map<std::string, std::string> kFamily = {
      {"INT", "INTERNOS"},        {"LIN", "LINEAS"},          {"CTAS", "CTAS"},
      {"GRP_INT", "GRP_INT"},     {"GRP_LIN", "GRP_LINEAS"},  {"GRP_CTAS", "GRP_CTAS"},
      {"FECHA", "FECHA"},         {"NUMEROS", "NUMEROS"},     {"GRP_AGENDA", "GRP_AGENDA"},
      {"AGENDADAS", "AGENDADAS"}, {"REQUERIMIENTO", "REQUE"}, {"GRP_AGENTES", "GRP_AGENTES"},
      {"AGENTES", "AGENTES"}};
  const std::string form = tipo == 0 ? "_RESUMEN" : "_DETALLE";
  const std::string salent = "ELG_RPT_SALENT_";
  if (chooser.rfind(salent, 0) != 0) return "RPT_" + chooser.substr(8) + form;
  const std::string family = kFamily.at(chooser.substr(salent.size()));
  if (family == "GRP_CTAS" && dir == 1 && tipo == 1) return "";
  return std::string("RPT_") + (dir == 0 ? "SAL_" : "ENT_") + family + form;
}

class ChooserTest : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    // Three rows in each lookup file, added out of key order.
    for (int i : {3, 1, 2}) {
      const std::string code = std::to_string(100 + i);
      const std::string desc = "Desc " + std::to_string(i);
      nv::dict::MA07Record l{};
      l.NROLIN = code;
      l.DESLIN = desc;
      Add("FXMA07", l);
      nv::dict::MA08Record x{};
      x.NROINT = code;
      x.DESINT = desc;
      Add("FXMA08", x);
      nv::dict::MA09Record a{};
      a.NROCTA = code;
      a.DESCTA = "Cuenta " + std::to_string(4 - i);  // descriptions in reverse order
      Add("FXMA09", a);
      nv::dict::MA02Record g{};
      g.CODAGT = i;
      g.DESCRI = desc;
      Add("FXMA02", g);
      nv::dict::TA03Record t3{};
      t3.CODGRU = i;
      t3.DESGRU = desc;
      Add("FXTA03", t3);
      nv::dict::TA09Record t9{};
      t9.GRUAGE.Set(i);
      t9.DESGRU = desc;
      Add("FXTA09", t9);
      nv::dict::TA13Record t13{};
      t13.GRUCTA.Set(i);
      t13.DESGRU = desc;
      Add("FXTA13", t13);
      nv::dict::TA14Record t14{};
      t14.GRULIN.Set(i);
      t14.DESGRU = desc;
      Add("FXTA14", t14);
      nv::dict::TA15Record t15{};
      t15.GRUINT.Set(i);
      t15.DESGRU = desc;
      Add("FXTA15", t15);
    }
    writers_.clear();
    nv::dict::FxdatsInit(nullptr, profile_.get());
    fxr4::SetReportStarter([this](const char* p, std::string o, std::string b, std::string c) {
      started_.push_back({p, std::move(o), std::move(b), std::move(c)});
    });
  }
  void TearDown() override {
    fxr4::SetReportStarter(nullptr);
    nv::dict::FxdatsKill();
    ReportTest::TearDown();
  }

  // Runs a chooser; each step plays the user once the chooser is idle
  // (after the events of the step before were handled), then the chooser
  // is cancelled.
  using Step = std::function<void(Window&)>;
  std::vector<Started> Choose(const fxr4::Elegir& e, const std::string& option,
                              const std::string& block, std::vector<Step> steps) {
    started_.clear();
    steps.push_back([](Window& w) { nv::ui::Press(w, CANCELAR); });
    ui_.OnOpen(kCaption, steps[0]);
    for (size_t i = 1; i < steps.size(); ++i) ui_.OnIdle(kCaption, steps[i]);
    fxr4::ElegirReporte(e, option, block);
    return started_;
  }

  // A caller's block of the chooser's family, every field set.
  static std::string Block(const fxr4::Elegir& e, uint8_t llasal, uint8_t llaent) {
    const int32_t desfec = Day(2026, 3, 1), hasfec = Day(2026, 3, 31);
    const int32_t deshor = Hms(8, 0, 0), hashor = Hms(18, 30, 0);
    auto common = [&](auto& b) {
      fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
      b.DESFEC = desfec;
      b.HASFEC = hasfec;
      b.DESHOR = deshor;
      b.HASHOR = hashor;
      b.LLASAL = llasal;
      b.LLAENT = llaent;
      b.CURTAB = "Nacionales";
    };
    switch (e.familia) {
      case fxr4::Familia::kCtas: {
        fxr4::PARAM_RPT_CTAS b;
        common(b);
        b.DESDE = "Cuenta 1";
        b.HASTA = "Cuenta 3";
        b.NEW_COL_SEL = 7;
        b.REGISTRO_ACTUAL = "registro";
        return Bytes(b);
      }
      case fxr4::Familia::kCod: {
        fxr4::PARAM_RPT_COD b;
        common(b);
        b.DESDE = 1;
        b.HASTA = 3;
        b.NEW_COL_SEL = 7;
        b.VECTOR_CLASES[2] = "abc";
        return Bytes(b);
      }
      case fxr4::Familia::kReque: {
        fxr4::PARAM_RPT_REQUE b;
        common(b);
        b.DESDUR = 100;
        b.HASDUR = 90000;
        b.OPCIONES_CTAS = "Se";
        b.DESCOS = 0.5;
        b.HASCOS = 99.25;
        b.DESNRO = "011";
        b.APLICO_FILTRO = 1;
        return Bytes(b);
      }
      case fxr4::Familia::kRpt: {
        fxr4::PARAM_RPT b;
        common(b);
        b.DESDE = "101";
        b.HASTA = "103";
        b.NEW_COL_SEL = 7;
        b.REGISTRO_ACTUAL = "registro";
        return Bytes(b);
      }
    }
    return {};
  }

  nv::ui::HeadlessBackend ui_;
  std::vector<Started> started_;
};

// Every chooser, every pair of direction flags, both forms: the report the
// names call for (one that the library has), with the caller's block
// untouched, the preview on and one copy, the directory option passed on.
TEST_F(ChooserTest, EveryChooserStartsItsReportWithTheCallersBlock) {
  size_t n = 0;
  const fxr4::Elegir* all = fxr4::Choosers(&n);
  ASSERT_EQ(n, 15u);
  for (size_t i = 0; i < n; ++i) {
    const fxr4::Elegir& e = all[i];
    for (const auto& [llasal, llaent] : {std::pair{1, 1}, {1, 0}, {0, 1}, {0, 0}}) {
      for (int tipo : {0, 1}) {
        SCOPED_TRACE(std::string(e.name) + " LLASAL=" + std::to_string(llasal) +
                     " LLAENT=" + std::to_string(llaent) + " tipo=" + std::to_string(tipo));
        const std::string block = Block(e, uint8_t(llasal), uint8_t(llaent));
        const std::vector<Started> got = Choose(e, "N", block, {[&](Window& w) {
                                                  EXPECT_EQ(w.Value(VISTA_PREVIA), 1);
                                                  EXPECT_EQ(w.Value(TIPO_REPORTE), 1);
                                                  nv::ui::Choose(w, TIPO_REPORTE, tipo + 1);
                                                  nv::ui::Press(w, IMPRIMIR);
                                                }});
        const bool free = !e.direcciones;
        const int dir = free || llasal != 0 ? 0 : (llaent != 0 ? 1 : -1);
        const std::string want = dir < 0 ? "" : Expected(e.name, dir, tipo);
        if (want.empty()) {
          EXPECT_TRUE(got.empty());
          continue;
        }
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].proc, want);
        EXPECT_TRUE(fxr4::FindSummaryProc(want) != nullptr ||
                    fxr4::FindDetailProc(want) != nullptr ||
                    fxr4::FindSpecialDetail(want) != nullptr)
            << want;
        EXPECT_EQ(got[0].block, block);
        EXPECT_EQ(got[0].opc, Opc(1, 1));
        EXPECT_EQ(got[0].option, e.agendadas ? "N" : "");
      }
    }
  }
  EXPECT_TRUE(ui_.messages().empty());
}

// The values on screen go into the block: a row chosen in each range list
// stores its code (the account list its description) and a typed date.
TEST_F(ChooserTest, ScreenValuesGoIntoTheBlock) {
  size_t n = 0;
  const fxr4::Elegir* all = fxr4::Choosers(&n);
  for (size_t i = 0; i < n; ++i) {
    const fxr4::Elegir& e = all[i];
    if (e.fechas == fxr4::Fechas::kNinguna) continue;
    SCOPED_TRACE(e.name);
    const std::vector<Started> got = Choose(e, "N", Block(e, 1, 0), {[&](Window& w) {
                                              nv::ui::Type(w, DESFEC, "5/3/2026");
                                              if (e.rango.grupo != nullptr) {
                                                // Three rows, in primary-key order.
                                                ASSERT_EQ(w.Rows(DESDE).size(), 3u);
                                                nv::ui::Choose(w, DESDE, 2);
                                                nv::ui::Choose(w, HASTA, 1);
                                              }
                                              if (e.fechas == fxr4::Fechas::kFechaHora)
                                                nv::ui::Type(w, HASHOR, "9:15");
                                              if (e.agendadas) nv::ui::Choose(w, TIPLLA, 1);
                                              if (e.tipo_llamadas) nv::ui::Choose(w, CURTAB, 2);
                                              nv::ui::Type(w, COPIAS, "3");
                                              nv::ui::Choose(w, VISTA_PREVIA, 0);
                                              nv::ui::Press(w, IMPRIMIR);
                                            }});
    ASSERT_EQ(got.size(), 1u);
    const std::string& b = got[0].block;
    int32_t desfec, hashor;
    std::memcpy(&desfec, b.data(), 4);
    std::memcpy(&hashor, b.data() + 12, 4);
    EXPECT_EQ(desfec, Day(2026, 3, 5));
    if (e.fechas == fxr4::Fechas::kFechaHora) {
      EXPECT_EQ(hashor, Hms(9, 15, 0));
    }
    EXPECT_EQ(got[0].opc, Opc(0, 3));
    if (e.agendadas) {
      EXPECT_EQ(got[0].option, "A");
    }
    if (e.tipo_llamadas) {
      const size_t curtab = e.familia == fxr4::Familia::kCod ? 55 : 67;
      EXPECT_EQ(nv::Clip(b.substr(e.familia == fxr4::Familia::kCtas ? 187 : curtab, 20)),
                "Locales");
    }
    if (e.rango.grupo == nullptr) continue;
    if (e.familia == fxr4::Familia::kCod) {
      int32_t desde, hasta;
      std::memcpy(&desde, b.data() + 16, 4);
      std::memcpy(&hasta, b.data() + 20, 4);
      EXPECT_EQ(desde, 2);
      EXPECT_EQ(hasta, 1);
    } else if (e.familia == fxr4::Familia::kCtas) {
      // Accounts 101, 102, 103 are "Cuenta 3", "Cuenta 2", "Cuenta 1".
      EXPECT_EQ(nv::Clip(b.substr(16, 50)), "Cuenta 2");
      EXPECT_EQ(nv::Clip(b.substr(66, 50)), "Cuenta 3");
    } else {
      EXPECT_EQ(nv::Clip(b.substr(16, 10)), "102");
      EXPECT_EQ(nv::Clip(b.substr(26, 10)), "101");
    }
  }
}

// Two presses start two runs, each with its own copy of the block; a
// number of copies a short cannot hold, or none, is refused with a message
// and starts nothing; the calendar buttons put the date the calendar
// answers into their field.
TEST_F(ChooserTest, TwoPressesCopiesAndCalendarButtons) {
  const fxr4::Elegir& e = *fxr4::FindChooser("ELG_RPT_SALENT_LIN");
  ui_.QueueAnswer(1);
  ui_.QueueAnswer(1);
  ui_.OnOpen("Calendario", [](Window& w) { w.UserKey(nv::ui::kKeyRight); });
  ui_.OnIdle("Calendario", [](Window& w) {
    for (const auto& c : w.controls()) {
      if (c.style & nv::ui::kStyleMarked) nv::ui::Press(w, c.def.id);
    }
  });
  using nv::ui::Press;
  const std::vector<Started> got = Choose(e, "", Block(e, 1, 1),
                                          {[](Window& w) { Press(w, IMPRIMIR); },
                                           [](Window& w) {
                                             nv::ui::Choose(w, CURTAB, 2);
                                             nv::ui::Choose(w, TIPO_REPORTE, 2);
                                             Press(w, IMPRIMIR);
                                           },
                                           [](Window& w) {
                                             nv::ui::Type(w, COPIAS, "0");
                                             Press(w, IMPRIMIR);
                                           },
                                           [](Window& w) {
                                             nv::ui::Type(w, COPIAS, "40000");
                                             Press(w, IMPRIMIR);
                                           },
                                           [](Window& w) {
                                             nv::ui::Type(w, COPIAS, "2");
                                             Press(w, CAL_HASFEC);
                                           },
                                           [](Window& w) { Press(w, IMPRIMIR); }});
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].proc, "RPT_SAL_LINEAS_RESUMEN");
  EXPECT_EQ(nv::Clip(got[0].block.substr(67, 20)), "Nacionales");
  EXPECT_EQ(got[1].proc, "RPT_SAL_LINEAS_DETALLE");
  EXPECT_EQ(nv::Clip(got[1].block.substr(67, 20)), "Locales");
  const auto messages = ui_.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].shape.text,
            nv::AnsiFromUtf8("La cantidad de copias debe estar entre 1 y 32767."));
  int32_t hasfec;
  std::memcpy(&hasfec, got[2].block.data() + 4, 4);
  EXPECT_EQ(hasfec, Day(2026, 4, 1));
  EXPECT_EQ(got[2].opc, Opc(1, 2));
}

// A lookup file that cannot be opened is told, and the chooser still
// works with typed ranges.
TEST_F(ChooserTest, MissingLookupFileIsToldAndRangesStillTake) {
  ASSERT_EQ(std::remove((dir_ + "/Archivos/FXMA08.DAT").c_str()), 0);
  const fxr4::Elegir& e = *fxr4::FindChooser("ELG_RPT_SALENT_INT");
  ui_.QueueAnswer(1);
  const std::vector<Started> got = Choose(e, "", Block(e, 1, 0), {[&](Window& w) {
                                            nv::ui::Type(w, DESDE, "200");
                                            nv::ui::Press(w, IMPRIMIR);
                                          }});
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_NE(ui_.messages()[0].shape.text.find("FXMA08"), std::string::npos);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(nv::Clip(got[0].block.substr(16, 10)), "200");
}

// Over 10,000 lines the chooser opens reading one page for each range
// list, not the file.
TEST_F(ChooserTest, OpensOverTenThousandLinesReadingOnePage) {
  {
    // One batch: stream mode and a flush.
    std::unique_ptr<nv::File> f = dict_->NewFile("FXMA07");
    ASSERT_EQ(f->Open(), 0);
    ASSERT_EQ(f->Stream(), 0);
    for (int i = 0; i < 10000; ++i) {
      auto& l = f->As<nv::dict::MA07Record>();
      l = {};
      l.NROLIN = "L" + std::to_string(10000 + i);
      l.DESLIN = "Linea " + std::to_string(i);
      ASSERT_EQ(f->Add(), 0);
    }
    ASSERT_EQ(f->Flush(), 0);
  }
  const auto start = std::chrono::steady_clock::now();
  double ms = 0;
  nv::ui::BrowseStats desde, hasta;
  Choose(*fxr4::FindChooser("ELG_RPT_SALENT_LIN"), "",
         Block(*fxr4::FindChooser("ELG_RPT_SALENT_LIN"), 1, 0), {[&](Window& w) {
           ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
           desde = w.browse(DESDE)->stats();
           hasta = w.browse(HASTA)->stats();
         }});
  std::printf("chooser open over 10,003 lines: %.1f ms\n", ms);
  EXPECT_LE(desde.next + desde.previous, 2 * (12 + 1));
  EXPECT_LE(hasta.next + hasta.previous, 2 * (12 + 1));
}

// Bytes of the stack of a thread that were ever written: the stack is
// painted before the thread starts.
struct Painted {
  std::function<void()> run;
};
void* PaintedMain(void* arg) {
  static_cast<Painted*>(arg)->run();
  return nullptr;
}
size_t StackUsed(size_t size, const std::function<void()>& run) {
  std::vector<unsigned char> stack(size, 0xA5);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, stack.data(), size);
  Painted p{run};
  pthread_t t;
  EXPECT_EQ(pthread_create(&t, &attr, PaintedMain, &p), 0);
  pthread_join(t, nullptr);
  pthread_attr_destroy(&attr);
  size_t untouched = 0;
  while (untouched < size && stack[untouched] == 0xA5) ++untouched;
  return size - untouched;
}

// A report started by the chooser runs to its document on the thread the
// chooser starts; the deepest reports use a small part of that stack.
TEST_F(ChooserTest, ReportRunsOnTheChoosersThread) {
  for (int i = 0; i < 30; ++i) {
    nv::dict::CallRecord c = Call(i + 1, Day(2026, 3, 1 + i % 28), Hms(9, i, 0), "101");
    c.CODIGO = i % 3;
    AddCall(c);
  }
  writers_.clear();
  fxr4::SetReportStarter(nullptr);
  const std::string out = dir_ + "/reporte.txt";
  ASSERT_TRUE(fxr4::SetOutput("text:" + out));
  const fxr4::Elegir& e = *fxr4::FindChooser("ELG_RPT_SALENT_LIN");
  Choose(e, "", Block(e, 1, 0), {[&](Window& w) {
           nv::ui::Choose(w, CURTAB, 1);
           nv::ui::Choose(w, TIPO_REPORTE, 2);
           nv::ui::Press(w, IMPRIMIR);
         }});
  fxr4::WaitReports();
  std::ifstream f(out);
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_NE(text.str().find("101"), std::string::npos);
  EXPECT_EQ(Count(text.str(), "CAPITAL"), 30) << text.str();

  // Measured: the detail and summary runs of the family and the
  // directory reports, written as PDF through Qt.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "reports_test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app =
      QGuiApplication::instance() == nullptr ? new QGuiApplication(argc, argv) : nullptr;
  (void)app;
  ASSERT_TRUE(fxr4::SetOutput("pdf:" + dir_ + "/reporte.pdf"));
  size_t deepest = 0;
  for (const char* proc : {"RPT_SAL_LINEAS_DETALLE", "RPT_SAL_LINEAS_RESUMEN",
                           "RPT_SAL_AGENDADAS_DETALLE", "RPT_SAL_AGENDADAS_RESUMEN"}) {
    const size_t used =
        StackUsed(fxr4::kReportStack, [&] { fxr4::RunReport(proc, "A", Block(e, 1, 0), Opc()); });
    deepest = std::max(deepest, used);
  }
  std::printf("deepest report stack: %zu bytes of %zu\n", deepest, fxr4::kReportStack);
  EXPECT_LT(deepest, fxr4::kReportStack / 8);
  EXPECT_GT(deepest, 25000u);  // the old 25,000-byte stack would not do
  ASSERT_TRUE(fxr4::SetOutput("none"));
}

}  // namespace
}  // namespace fxr4test
