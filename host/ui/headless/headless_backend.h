// The headless backend: windows without a screen, for tests. The test plays
// the user with a script:
//
//   nv::ui::HeadlessBackend ui;          // installs itself for its lifetime
//   ui.QueueAnswer(2);                   // the next message box answers "No"
//   ui.OnOpen("Seguridad", [](nv::ui::Window& w) {
//     nv::ui::Type(w, kNombre, "ANA");
//     nv::ui::Press(w, kAceptar);
//   });
//   int code = Login();
//
// When a window is idle (its procedure waits in Accept with nothing
// pending) the backend, in this order: runs the first OnOpen action that
// matches a window not idle before, then the next OnIdle action for its
// caption; else, when the window has a timer, moves the test clock on to
// the timer's next tick and fires it; else it closes the window and notes
// "unattended: <caption>", so that a test can never hang. Captions match
// the definition's caption or the current one.
//
// The clock: the backend keeps a test clock in hundredths of a second that
// only AdvanceClock (or an idle window's timer) moves. clock_env() is an
// nv::Env whose Today/Clock/TickCount follow it; a test installs it with
// nv::SetEnv so that procedures reading the runtime's clock see the same
// time as their timers.
//
// Message boxes answer from the queue; with the queue empty they answer the
// default button and note "unanswered: <caption>: <text>".
//
// Thread-safety: every method may be called from any thread; windows opened
// on other threads (reports and their progress windows) are scripted the
// same way. Actions run on the thread of the window they act on.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/runtime/env.h"
#include "host/runtime/export.h"
#include "host/ui/backend.h"

namespace nv::ui {

class NV_API HeadlessBackend : public Backend {
 public:
  using Action = std::function<void(Window&)>;

  struct MessageRecord {
    MessageSpec shape;
    int answer = 0;
    bool from_queue = false;
  };

  // Installs itself as the backend in force; the destructor restores none.
  HeadlessBackend();
  ~HeadlessBackend() override;

  // --- the script
  void OnOpen(std::string caption, Action action);
  void OnIdle(std::string caption, Action action);
  void QueueAnswer(int button);
  // Timers of idle windows advance the clock by themselves (default on);
  // at most `max_ticks` such ticks per window before it is ended.
  void SetAutoTimers(bool on, int max_ticks = 100000);
  // Real milliseconds each automatic tick waits first (default 0), for
  // windows that poll something living on the real clock (a modem).
  void SetTickPace(int ms);

  // --- the clock
  int64_t Now() const;
  void AdvanceClock(int64_t hundredths);
  // Today and time of day at clock 0 (defaults: day 82000, 10:00:00).
  void SetClockStart(int32_t today, int32_t clock);
  nv::Env* clock_env() { return clock_env_.get(); }

  // --- what happened
  std::vector<MessageRecord> messages() const;
  std::vector<std::string> notes() const;
  std::vector<std::string> opened() const;  // captions, in order of opening
  // An open window by caption (definition or current), newest first.
  Window* Find(std::string_view caption) const;
  bool busy() const;
  int busy_count() const;  // times the busy cursor was turned on
  int beeps() const;

  // --- Backend
  std::unique_ptr<WindowPeer> CreatePeer(Window& w, bool modal) override;
  int Message(const MessageSpec& m) override;
  void SetBusy(bool busy) override;
  void Beep() override;
  void Opened(Window& w) override;
  void Closed(Window& w) override;

 private:
  class Peer;
  class ClockEnv;
  friend class Peer;
  struct Script {
    std::string caption;
    Action action;
    bool on_open;
  };
  struct Timing {
    int64_t due = 0;  // 0: no timer
    int period = 0;
    bool seen_idle = false;
    int unattended = 0;
    int auto_ticks = 0;
  };

  void Idle(Window& w);
  void Reschedule(Window& w);
  void FireDue(std::vector<Window*>* due);

  mutable std::mutex mu_;
  std::deque<Script> scripts_;
  std::deque<int> answers_;
  std::vector<MessageRecord> messages_;
  std::vector<std::string> notes_;
  std::vector<std::string> opened_;
  std::vector<Window*> open_;
  std::map<Window*, Timing> timing_;
  int64_t now_ = 0;
  int32_t start_today_ = 82000;
  int32_t start_clock_ = 3600001;
  bool auto_timers_ = true;
  int max_ticks_ = 100000;
  bool busy_ = false;
  int busy_count_ = 0;
  int beeps_ = 0;
  int tick_pace_ms_ = 0;
  std::unique_ptr<nv::Env> clock_env_;
};

// The user's gestures, for scripts (they run on the window's thread).
// Typing into an entry and completing it (Enter).
NV_API void Type(Window& w, ControlId entry, std::string_view text);
// Pressing a button (or choosing a menu item).
NV_API void Press(Window& w, ControlId button);
// Choosing a value of a check box, option group or drop list.
NV_API void Choose(Window& w, ControlId control, int value);
// A key on a list (Up, Down, PageUp ... Enter) and a click on a row.
NV_API void ListKey(Window& w, ControlId list, int key);
NV_API void ClickRow(Window& w, ControlId list, int row);
// Typing characters while a list has the focus (its incremental locator).
NV_API void TypeOnList(Window& w, ControlId list, std::string_view text);
NV_API void DoubleClickRow(Window& w, ControlId list, int row);

}  // namespace nv::ui
