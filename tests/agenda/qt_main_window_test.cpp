// The main window under the Qt backend, offscreen, over a demo installation:
// both lists come up filled in name order; a driver timer reads them and
// leaves with "Salir".
#include <QApplication>
#include <QTimer>

#include <algorithm>

#include "agenda/main_window.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/qt/qt_backend.h"
#include "tests/agenda/agenda_fixture.h"

// The font library keeps caches for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace agendatest {
namespace {

using namespace nv::ui;

class QtMainWindowTest : public AgendaTest {};

std::vector<std::string> Names(const Window& w, ControlId list) {
  std::vector<std::string> out;
  for (const auto& row : w.Rows(list)) out.emplace_back(nv::Clip(row.at(0)));
  return out;
}

TEST_F(QtMainWindowTest, BothListsFilledInNameOrder) {
  WriteDemo(40, 50, 100);
  MainProgram(true, 1);
  ui_.reset();  // the Qt backend takes over
  nv::SetEnv(nullptr);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "agenda_qt_test";
  char* argv[] = {name, nullptr};
  QtBackend qt(argc, argv);
  std::vector<std::string> companies, contacts;
  bool seen = false;
  QTimer driver;
  driver.setInterval(50);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (Window* w : OpenWindows()) {
      if (w->Caption() != "Agenda" || seen) continue;
      seen = true;
      companies = Names(*w, agenda::kEmpLista);
      contacts = Names(*w, agenda::kConLista);
      w->Deliver([](Window& win) { win.UserPress(agenda::kSalir); });
    }
  });
  driver.start();
  EXPECT_EQ(agenda::ProgramStart(), agenda::kExitOk);
  driver.stop();
  EXPECT_TRUE(seen);
  ASSERT_GE(companies.size(), 5u);
  ASSERT_GE(contacts.size(), 5u);
  EXPECT_TRUE(std::is_sorted(companies.begin(), companies.end()));
  EXPECT_TRUE(std::is_sorted(contacts.begin(), contacts.end()));
}

}  // namespace
}  // namespace agendatest
