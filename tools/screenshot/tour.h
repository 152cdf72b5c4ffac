// A tour of every agenda window under the Qt backend: the program runs over
// the installation in ./Archivos, a timer plays the user and opens, one at a
// time, the login, the main window on both tabs, the company and contact
// forms in each mode, the number form in each mode, the number search, the
// lookup lists and their forms, the dialer and the modem configuration
// (over a simulated modem on COM2), and About; each window is handed to
// `visit` once it is on screen. Used by agenda_screenshot (a PNG of each window)
// and by the layout test (the widget tree of each window).
//
// Thread-safety: the GUI thread.
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "host/ui/qt/qt_backend.h"
#include "host/ui/window.h"

namespace agenda_tour {

// A window on screen: its file-like name ("ficha-empresa-modificar"), the
// framework's window and its top-level widget.
using Visit = std::function<void(const std::string& name, nv::ui::Window& w, QWidget* top)>;

struct Result {
  int status = -1;  // the program's exit status
  std::vector<std::string> visited;
  std::string stalled;  // the window the tour waited for in vain
};

// Runs the program with the tour; logs in as `user`/`password`.
Result Run(nv::ui::QtBackend& qt, const std::string& user, const std::string& password,
           const Visit& visit);

// The top-level widget showing a window (by its current caption).
QWidget* TopLevelOf(const nv::ui::Window& w);

}  // namespace agenda_tour
