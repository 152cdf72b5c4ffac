// A chooser and the calendar under the Qt backend, offscreen: the range
// list is a combination box over the lookup file in columns, a row chosen
// in it is the range's value, the calendar marks 25 May and confirms it by
// a click, and the print button starts the report with what is on screen.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <functional>

#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/ui/qt/qt_backend.h"
#include "reports/choosers.h"
#include "tests/reports/report_fixture.h"

// The font library keeps caches for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace fxr4test {
namespace {

QWidget* TopLevel(const QString& title) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->windowTitle() == title) return top;
  }
  return nullptr;
}

template <class W>
W* Find(QWidget* top, const std::function<bool(W*)>& what) {
  for (W* w : top->findChildren<W*>()) {
    if (what(w)) return w;
  }
  return nullptr;
}

class QtChooserTest : public ReportTest {};

TEST_F(QtChooserTest, RangeListCalendarAndPrint) {
  for (int i = 1; i <= 5; ++i) {
    nv::dict::MA08Record x{};
    x.NROINT = std::to_string(100 + i);
    x.DESINT = "Interno " + std::to_string(i);
    Add("FXMA08", x);
  }
  writers_.clear();
  nv::dict::FxdatsInit(nullptr, profile_.get());
  std::vector<std::string> started;
  fxr4::SetReportStarter([&](const char* p, std::string, std::string b, std::string) {
    started.push_back(std::string(p) + " " + std::string(nv::Clip(b.substr(16, 10))) + " " +
                      std::to_string(*reinterpret_cast<const int32_t*>(b.data())));
  });
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "reports_qt_test";
  char* argv[] = {name, nullptr};
  nv::ui::QtBackend qt(argc, argv);

  int rows = -1, may25_style = 0;
  bool may25_red = false;
  QString tip, chosen;
  int step = 0, ticks = 0;
  QTimer driver;
  driver.setInterval(50);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    if (++ticks > 400) step = 99;  // lost: let the test fail, not hang
    QWidget* chooser = TopLevel("Elegir tipo de reporte");
    QWidget* calendar = TopLevel("Calendario");
    if (step == 0 && chooser != nullptr) {
      QComboBox* desde = Find<QComboBox>(chooser, [](QComboBox* b) { return b->isEditable(); });
      if (desde == nullptr || desde->count() == 0) return;
      rows = desde->count();
      emit desde->activated(1);
      step = 1;
    } else if (step == 1 && chooser != nullptr) {
      QComboBox* desde = Find<QComboBox>(chooser, [](QComboBox* b) { return b->isEditable(); });
      chosen = desde->lineEdit()->text();
      if (chosen.isEmpty()) return;
      Find<QToolButton>(chooser, [](QToolButton*) { return true; })->click();
      step = 2;
    } else if (step == 2 && calendar != nullptr) {
      QPushButton* day = Find<QPushButton>(
          calendar, [](QPushButton* b) { return b->isEnabled() && b->text() == "25"; });
      if (day == nullptr) return;
      may25_style = (day->font().bold() ? 1 : 0) | (day->font().underline() ? 4 : 0);
      may25_red = day->palette().color(QPalette::ButtonText) == QColor(255, 0, 0);
      tip = day->toolTip();
      day->click();  // the current day: confirms
      step = 3;
    } else if (step == 3 && calendar == nullptr && chooser != nullptr) {
      Find<QPushButton>(chooser, [](QPushButton* b) { return b->text() == "&Imprimir"; })->click();
      step = 4;
    } else if (step == 4 && !started.empty()) {
      Find<QPushButton>(chooser, [](QPushButton* b) { return b->text() == "&Cancelar"; })->click();
      step = 5;
    } else if (step == 99) {
      for (nv::ui::Window* w : nv::ui::OpenWindows())
        w->Deliver([](nv::ui::Window& win) { win.UserClose(); });
    }
  });
  driver.start();
  fxr4::PARAM_RPT b;
  fxr4::CopyBlock(&b, sizeof b, nullptr, 0);
  b.DESFEC = Day(2026, 5, 25);
  b.HASFEC = Day(2026, 5, 31);
  b.DESHOR = b.HASHOR = 0;
  b.LLASAL = 1;
  b.CURTAB = "Todas";
  fxr4::ElegirReporte(*fxr4::FindChooser("ELG_RPT_SALENT_INT"), "", Bytes(b));
  driver.stop();
  EXPECT_EQ(step, 5);
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(chosen, "102");
  EXPECT_EQ(may25_style, 1 | 4);
  EXPECT_TRUE(may25_red);
  EXPECT_EQ(tip, "Primer gobierno patrio");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], "RPT_SAL_INTERNOS_RESUMEN 102 " + std::to_string(Day(2026, 5, 25)));
  fxr4::SetReportStarter(nullptr);
  nv::dict::FxdatsKill();
}

}  // namespace
}  // namespace fxr4test
