// The import window under the Qt backend, offscreen, on real timers: the
// run goes to its end while the window shows its progress, and the widgets
// show the state the procedure set.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "host/ui/qt/qt_backend.h"
#include "tests/agenda/import/import_fixture.h"

// The font library keeps caches for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace importtest {
namespace {

using namespace nv::ui;

class QtImportTest : public ImportTest {
 protected:
  void SetUp() override {
    ImportTest::SetUp();
    ui_.reset();  // the Qt backend takes over
    nv::SetEnv(nullptr);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qt_ = std::make_unique<QtBackend>(argc_, argv_);
  }
  void TearDown() override {
    qt_.reset();
    ImportTest::TearDown();
  }
  int argc_ = 1;
  char name_[24] = "agenda_import_qt";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QtBackend> qt_;
};

TEST_F(QtImportTest, TheWindowShowsARunToItsEnd) {
  WriteInputs("1,Comercio\n", "1,Clientes\n", "1,1/1/2020,Uno,,,,1,0,,RI,\n2,,Dos,,,,,0,,,\n",
              "1,111,,1\n2,222,,0\n", "9,,Nueve,,,,1,,\n", "9,999,,0\nx\n");
  bool pressed = false, seen_running = false, seen_clock = false, done = false;
  int bar_value = -1, bar_max = 0;
  std::string percent;
  QTimer driver;
  driver.setInterval(20);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    std::vector<Window*> open = OpenWindows();
    if (open.empty()) return;
    Window* w = open.back();
    if (w->Caption() != A("Importación de datos")) return;
    if (!pressed) {
      pressed = true;
      w->Deliver([](Window& win) { win.UserPress(agenda::kImpImportar); });
      return;
    }
    seen_running = seen_running || w->Timer() != 0;
    // While it works the window shows a clock picture (RELOJnn.ICO).
    if (w->Timer() != 0) {
      for (QWidget* top : QApplication::topLevelWidgets())
        for (QLabel* l : top->findChildren<QLabel*>())
          seen_clock = seen_clock || (l->isVisible() && !l->pixmap().isNull());
    }
    if (w->Timer() == 0 && !done) {
      done = true;
      // The widgets as the user sees them.
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        if (auto* bar = top->findChild<QProgressBar*>()) {
          bar_value = bar->value();
          bar_max = bar->maximum();
        }
        for (QLabel* l : top->findChildren<QLabel*>())
          if (l->text().contains("Completo")) percent = l->text().toStdString();
      }
      w->Deliver([](Window& win) { win.UserPress(agenda::kImpSalir); });
    }
  });
  driver.start();
  agenda::AgendaProcedures().Importar();
  driver.stop();
  EXPECT_TRUE(seen_running);
  EXPECT_TRUE(seen_clock);
  EXPECT_TRUE(done);
  EXPECT_EQ(percent, "100 % Completo");
  EXPECT_EQ(bar_value, bar_max);
  EXPECT_EQ(Entries().size(), 3u);
  EXPECT_EQ(Numbers().size(), 3u);
}

}  // namespace
}  // namespace importtest
