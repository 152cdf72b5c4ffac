// The seam between the framework and a screen. A backend makes one peer per
// open window, shows message boxes and the busy cursor. Two backends exist:
// Qt Widgets (host/ui/qt, the real program) and headless (host/ui/headless,
// tests). Procedures never include either; they reach the backend in force
// through Window and Message.
//
// Thread-safety: SetBackend is called once at start-up (or by a test's
// fixture) before windows open. Backends themselves must accept calls from
// any thread that opens a window (reports run on threads of their own).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/runtime/export.h"
#include "host/ui/window.h"

namespace nv::ui {

// A window's presence on a screen. Every call comes from the window's owning
// thread.
class NV_API WindowPeer {
 public:
  virtual ~WindowPeer();
  // The model changed: mirror control `id` (0 with kAll/kCaption/kTimer: the
  // window) from window.control(id).
  virtual void Update(ControlId id, Prop what) = 0;
  // Blocks until the window has a pending action or event (user input,
  // timers, scripted input). Must make progress: return only when something
  // is pending, or after calling Window::ForceEnd().
  virtual void Wait() = 0;
  // Handles pending input without blocking (progress windows poll).
  virtual void Pump() {}
};

enum class Icon { kNone, kError, kQuestion, kExclamation, kInformation };

struct MessageSpec {
  std::string text;     // Windows-1252; '|' starts a new line
  std::string caption;  // Windows-1252
  Icon icon = Icon::kNone;
  std::vector<std::string> buttons;  // texts, '&' marks the mnemonic
  int default_button = 1;            // 1-based
};

class NV_API Backend {
 public:
  virtual ~Backend();
  // `modal`: another window is open (the new one goes over it).
  virtual std::unique_ptr<WindowPeer> CreatePeer(Window& w, bool modal) = 0;
  // Shows a message box; answers the 1-based number of the button chosen.
  virtual int Message(const MessageSpec& m) = 0;
  virtual void SetBusy(bool busy) = 0;
  // The warning sound that goes with some messages (none by default).
  virtual void Beep() {}
  // Window opened/closed (after CreatePeer, before the peer is destroyed).
  virtual void Opened(Window&) {}
  virtual void Closed(Window&) {}
};

// The backend in force. Without one, windows close at once and message
// boxes answer their default button, each noted on stderr.
NV_API Backend* GetBackend();
NV_API void SetBackend(Backend* backend);

// Windows open at the moment, oldest first.
NV_API std::vector<Window*> OpenWindows();

// Message box: text, caption, icon, buttons as one text ("Sí|No"), default
// button; answers the 1-based number of the button chosen, or 0 when the box
// was closed without one. An empty buttons text means one "&Aceptar".
NV_API int Message(std::string_view text, std::string_view caption = "", Icon icon = Icon::kNone,
                   std::string_view buttons = "&Aceptar", int default_button = 1);

// The warning sound.
NV_API void Beep();

// Busy (hourglass) cursor for the life of the object; nests.
class NV_API BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace nv::ui
