// The Qt Widgets backend: every window definition becomes a real dialog,
// laid out from the order of its controls (form grids, lists that take the
// spare height, button rows; see host/ui/README.md), sized from the
// pictures to fit the screen and remembered in the profile; message boxes
// are QMessageBoxes, timers QTimers, browse lists table views over a model
// that holds only the browse's current page.
//
// Use: the program makes a QtBackend (with argc/argv it also makes the
// QApplication; otherwise one must exist), which installs itself, then runs
// its procedures. Procedures never include Qt headers.
//
// Threads: widgets live on the GUI thread (the QApplication's). A window
// opened on another thread (a report's progress window) is built, updated
// and destroyed on the GUI thread through blocking queued calls, while its
// own thread waits for input on the window's queue; user input reaches it as
// actions that its own thread runs. Message boxes and the busy cursor are
// marshalled the same way. The GUI thread must therefore never block waiting
// for a thread that has a window open (join report threads only after they
// finished).
//
// Modality: a window opened while another is open is application-modal; its
// procedure's Accept runs a nested event loop until input arrives.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "host/runtime/export.h"
#include "host/ui/backend.h"

namespace nv::ui {

class NV_API QtBackend : public Backend {
 public:
  // Needs a QApplication. Installs itself as the backend in force.
  QtBackend();
  // For programs: makes the QApplication too (unless one exists), owned by
  // the backend for its life. argc must outlive the backend.
  QtBackend(int& argc, char** argv);
  ~QtBackend() override;

  // Answers the next message box without showing it (tests).
  void QueueAnswer(int button);

  std::unique_ptr<WindowPeer> CreatePeer(Window& w, bool modal) override;
  int Message(const MessageSpec& m) override;
  void SetBusy(bool busy) override;
  void Beep() override;

 private:
  std::shared_ptr<void> app_;  // the QApplication this backend made, if any
  std::mutex mu_;
  std::deque<int> answers_;
};

}  // namespace nv::ui
