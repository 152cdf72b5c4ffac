// agenda_screenshot: runs the agenda's main window over the installation in
// ./Archivos (logged in as the user given, through the single sign-on hand-
// over) and writes a PNG of it. For people (documentation, reviews), not a
// test. Usually started by screenshot.sh under Xvfb; with
// QT_QPA_PLATFORM=offscreen it needs no display at all.
//
//   agenda_screenshot OUT.png [USER_CODE] [TAB]    TAB: 1 companies, 2 contacts
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "agenda/main_window.h"
#include "agenda/startup.h"
#include "host/platform/platform.h"
#include "host/runtime/codepage.h"
#include "host/runtime/profile.h"
#include "host/ui/qt/qt_backend.h"
#include "host/ui/window.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "uso: agenda_screenshot SALIDA.png [CODIGO_USUARIO] [PESTAÑA]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const std::string user = argc > 2 ? argv[2] : "1";
  const int tab = argc > 3 ? std::atoi(argv[3]) : 1;
  int qt_argc = 1;
  nv::ui::QtBackend qt(qt_argc, argv);
  // The hand-over of the suite's main program: no login window.
  nv::platform::SetWindowLookup([](std::string_view t) { return t == "Fonvex Windows V2"; });
  const std::string saved = nv::GetProfileString("", "FXQ-USR", "CODIGO", "");
  nv::WriteProfileString("", "FXQ-USR", "CODIGO", user);

  bool written = false;
  int step = 0;
  QTimer driver;
  driver.setInterval(300);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    for (nv::ui::Window* w : nv::ui::OpenWindows()) {
      if (w->Caption() != "Agenda") continue;
      if (step == 0 && tab == 2) {
        w->Deliver([](nv::ui::Window& win) { win.UserSetValue(agenda::kSheet, 2); });
      }
      if (step++ < 2) return;  // let the window settle
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->windowTitle() == "Agenda") {
          written = top->grab().save(out, "PNG");
        }
      }
      w->Deliver([](nv::ui::Window& win) { win.UserPress(agenda::kSalir); });
    }
  });
  driver.start();
  const int status = agenda::ProgramStart();
  nv::WriteProfileString("", "FXQ-USR", "CODIGO", saved);
  if (!written) {
    std::fprintf(stderr, "agenda_screenshot: no se pudo capturar la ventana (estado %d)\n", status);
    return 1;
  }
  std::printf("%s\n", argv[1]);
  return 0;
}
