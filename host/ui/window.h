// The window and its event loop.
//
//   nv::ui::Window w(kDef);
//   w.Open();
//   while (w.Accept()) {
//     switch (w.Event()) {
//       case nv::ui::Event::kAccepted:
//         if (w.Field() == kAceptar) w.Close(nv::ui::kCompleted);
//         break;
//       ...
//     }
//   }
//   return w.result();
//
// The same procedure runs under any backend (Qt for users, headless for
// tests); it never sees which. A window opened while another is open is
// modal over it. A window belongs to the thread that opened it: its control
// state, its attached browse lists and its files are touched only on that
// thread. Backends deliver user input as actions (Deliver) that Accept runs
// on the owning thread, so nothing else ever mutates the window.
//
// Invariants of the loop:
//   - Accept returns true with exactly one current event, or false once the
//     window has closed; after false the window is closed for good.
//   - The first event is kOpenWindow; the last one returned is kCloseWindow.
//   - kCloseWindow comes from Close(), Post(kCloseWindow), the user closing
//     the window, or a closing button's event having been handled. While
//     handling it the procedure may call KeepOpen() to cancel the close.
//   - Pending actions run before the next event is taken; events are taken
//     in the order posted.
//
// States:  created --Open--> open --kCloseWindow handled--> closed
//                             ^            | KeepOpen
//                             +------------+
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/export.h"
#include "host/runtime/picture.h"
#include "host/ui/window_def.h"

namespace nv::ui {

class Browse;
class WindowPeer;

enum class Event {
  kNone,
  kOpenWindow,
  kCloseWindow,
  kTimer,
  kAccepted,      // button pressed, entry completed, menu item, list double-click
  kSelected,      // control got the focus
  kNewSelection,  // list highlight moved, drop list / option / check changed
  kAlertKey,      // a registered alert key was pressed
};
NV_API const char* EventName(Event e);

// Key codes the backends report.
enum Key : int {
  kKeyNone = 0,
  kKeyEnter = 13,
  kKeyEsc = 27,
  kKeyUp = 0x100,
  kKeyDown,
  kKeyPageUp,
  kKeyPageDown,
  kKeyHome,
  kKeyEnd,
  kKeyInsert,
  kKeyDelete,
  kKeyLeft = 0x110,
  kKeyRight,
  kKeyF1 = 0x200,  // F1..F12 = kKeyF1 + n - 1
};

// What changed, for the backends to mirror.
enum class Prop {
  kAll,
  kText,
  kValue,
  kEnabled,
  kHidden,
  kItems,
  kRows,  // list rows or highlight
  kProgress,
  kCaption,
  kFont,
  kTip,
  kPosition,
  kFocus,
  kTimer,
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// kStyleMarked: the control carries the window's marker (a button shown
// pressed in).
enum FontStyle : int {
  kStyleNormal = 0,
  kStyleBold = 1,
  kStyleItalic = 2,
  kStyleUnderline = 4,
  kStyleMarked = 8
};

// The state of one control. Backends read it (on the owning thread) when
// told that a property changed.
struct ControlState {
  ControlDef def;   // children removed; see parent
  int parent = -1;  // index of the containing control, -1 for the window
  std::string text;
  int value = 0;  // check 0/1, option 1.., drop/list choice 1.. (0 none)
  bool enabled = true;
  bool hidden = false;
  std::vector<std::string> items;
  int progress_low = 0, progress_high = 100, progress_value = 0;
  uint32_t colour = 0xFFFFFFFFu;  // 0xRRGGBB; all ones: default
  int style = kStyleNormal;
  std::string tip;
  Rect position;
  Browse* browse = nullptr;             // list over a file, not owned
  ControlId locator_list = kNoControl;  // entry: incremental locator of that list
  std::string typed;                    // list: what was typed on it since the last move
  int frame = 0;                        // animation frame
};

class NV_API Window {
 public:
  explicit Window(WindowDef def);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // --- life
  void Open();
  bool Accept();
  // Takes a pending event without waiting (windows of long processes poll
  // for "Cancelar" between units of work): true with a current event.
  bool Poll();
  bool is_open() const { return state_ == State::kOpen; }
  // Ends the window with a result: posts kCloseWindow.
  void Close(int result);
  void Close() { Close(result_); }
  // While handling kCloseWindow: do not close after all.
  void KeepOpen();
  int result() const { return result_; }
  void SetResult(int r) { result_ = r; }

  // --- the current event
  ui::Event Event() const { return current_.event; }
  ControlId Field() const { return current_.control; }
  int Keycode() const { return current_.key; }
  void Post(ui::Event e, ControlId control = kNoControl, int key = 0);

  // --- controls
  bool Has(ControlId id) const { return index_.count(id) != 0; }
  const ControlState& control(ControlId id) const;
  const std::vector<ControlState>& controls() const { return controls_; }
  const WindowDef& def() const { return def_; }

  std::string Text(ControlId id) const;
  void SetText(ControlId id, std::string_view text);
  // Entry contents through the entry's picture (formatting/de-formatting).
  nv::Value Contents(ControlId id) const;
  void SetContents(ControlId id, const nv::Value& v);
  // Check 0/1, option 1.., drop list / fixed list choice 1.. (0 none).
  int Value(ControlId id) const;
  void SetValue(ControlId id, int v);
  bool Enabled(ControlId id) const;
  void Enable(ControlId id);
  void Disable(ControlId id);
  bool Hidden(ControlId id) const;
  void Hide(ControlId id);
  void Unhide(ControlId id);
  // Gives the focus to a control. An entry or drop list that takes the
  // focus back while its own kAccepted is handled refuses what was typed:
  // the gesture that completed it ends there, so a button press already
  // queued behind it (Enter's default button, the click that took the
  // focus away) is withdrawn and the refusal is said once.
  void Select(ControlId id);
  ControlId Focus() const { return focus_; }
  // Redisplays a control (0: the whole window) from its state.
  void Display(ControlId id = kNoControl);

  std::vector<std::string> Items(ControlId id) const;
  void SetItems(ControlId id, std::vector<std::string> items);
  void SetProgressRange(ControlId id, int low, int high);
  void SetProgress(ControlId id, int value);
  int ProgressValue(ControlId id) const;
  std::string Caption() const;  // readable from any thread
  void SetCaption(std::string_view caption);
  void SetFont(ControlId id, uint32_t colour, int style);
  std::string Tip(ControlId id) const;
  void SetTip(ControlId id, std::string_view tip);
  Rect Position(ControlId id) const;
  void SetPosition(ControlId id, Rect r);
  int Timer() const { return timer_; }
  void SetTimer(int hundredths);

  // --- lists over files
  void AttachBrowse(ControlId list, Browse* browse);
  Browse* browse(ControlId list) const;
  // Texts of the rows shown by a list (browse page or fixed items), and the
  // highlighted row (0-based, -1 none).
  std::vector<std::vector<std::string>> Rows(ControlId list) const;
  int Highlight(ControlId list) const;
  // Moves the highlight of a list (no event); false when the row is not shown.
  bool SetHighlight(ControlId list, int row);
  // The entry becomes an incremental locator of the list: typing moves the
  // list to the first record at or after the typed text; completing it moves
  // the focus to the list.
  void SetLocator(ControlId entry, ControlId list);
  // Select mode (lookup lists): Enter or double-click on a list picks the
  // highlighted record into its file's buffer and closes with kCompleted.
  void SetSelectMode(bool on) { select_mode_ = on; }
  bool select_mode() const { return select_mode_; }
  // Picks the highlighted record of a list and closes with kCompleted
  // (the "Seleccionar" button of a lookup list). False when the list is empty.
  bool SelectHighlighted(ControlId list);

  // The button Enter presses: the one marked Default, else "Aceptar";
  // the button Esc presses: "Cancelar". kNoControl when there is none.
  ControlId DefaultButton() const;
  ControlId CancelButton() const;

  // Keys that raise kAlertKey.
  void Alert(int key) { alerts_.push_back(key); }
  bool IsAlert(int key) const;

  // --- user input, as backends (and tests) deliver it. These may be called
  // from any thread: they queue an action that the owning thread runs.
  void Deliver(std::function<void(Window&)> action);
  // The actions themselves (owning thread).
  void UserSetText(ControlId id, std::string_view text);  // typing (no event)
  void UserComplete(ControlId id);                        // Enter / leaving a changed entry
  void UserPress(ControlId id);                           // button, menu item
  void UserSetValue(ControlId id, int v);                 // check, option, drop list
  void UserFocus(ControlId id);
  void UserListKey(ControlId id, int key);
  void UserListClick(ControlId id, int row);
  void UserListActivate(ControlId id);  // Enter / double-click
  // Characters typed while a list over a file has the focus: they add to the
  // list's typed text and move it to the first record at or after it (in
  // the browse's locator field); a move by key or click, or `restart` (a
  // pause in typing), starts afresh. On a drop list over a file the record
  // located becomes its choice (its locator).
  void UserListType(ControlId id, std::string_view text, bool restart = false);
  // Alert keys raise kAlertKey. Otherwise Enter presses the default button;
  // Esc presses Cancelar, or closes the window when it has none (not a
  // window with a menu bar: a program's main window ends with its Salir).
  void UserKey(int key);
  void UserClose();  // the window's close box

  // --- for backends
  WindowPeer* peer() const { return peer_.get(); }
  bool HasPending() const;
  // Blocks the owning thread until something is pending or the time passes.
  void WaitPending(int timeout_ms);
  // Called (from the posting thread) after each Post or Deliver, so that a
  // backend waiting in its own event loop can wake up.
  void SetWakeHook(std::function<void()> hook);
  // Ends an Accept loop that can make no progress (headless guard).
  void ForceEnd();
  // Backend-private data (the headless backend's bookkeeping).
  void* backend_data = nullptr;

 private:
  enum class State { kCreated, kOpen, kClosed };
  struct Ev {
    ui::Event event = ui::Event::kNone;
    ControlId control = kNoControl;
    int key = 0;
  };

  ControlState& Mut(ControlId id);
  void Flatten(const std::vector<ControlDef>& defs, int parent);
  void Changed(ControlId id, Prop p);
  void Finish();
  void ListMoved(ControlId list, bool moved);

  WindowDef def_;
  std::vector<ControlState> controls_;
  std::map<ControlId, size_t> index_;
  std::string caption_;
  int timer_ = 0;
  State state_ = State::kCreated;
  Ev current_;
  int result_ = 0;
  bool closing_ = false;      // the current event is kCloseWindow
  bool close_after_ = false;  // the current event came from a closing button
  bool force_end_ = false;
  bool select_mode_ = false;
  ControlId focus_ = kNoControl;
  std::vector<int> alerts_;
  std::unique_ptr<WindowPeer> peer_;

  mutable std::mutex mu_;  // guards events_ and actions_
  std::condition_variable cv_;
  std::deque<Ev> events_;
  std::deque<std::function<void(Window&)>> actions_;
  std::function<void()> wake_;
};

// Runs a procedure's window modally from inside another procedure: nothing
// to do beyond calling the procedure; kept for readability of callers.
template <class F, class... A>
auto Start(F&& procedure, A&&... args) {
  return std::forward<F>(procedure)(std::forward<A>(args)...);
}

}  // namespace nv::ui
