// A C face of the headless backend for the C test of the library boundary:
// the test program plays the user of a chooser through these calls, as the
// suite's main program's own user would.
#include <string>

#include "host/ui/headless/headless_backend.h"

#define UI_SCRIPT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
nv::ui::HeadlessBackend* g_ui = nullptr;
}

// Installs the headless backend (once).
UI_SCRIPT_EXPORT void ui_script_start() {
  if (g_ui == nullptr) g_ui = new nv::ui::HeadlessBackend;
}

// When the window is next idle, presses its button of that text.
UI_SCRIPT_EXPORT void ui_script_press(const char* caption, const char* button) {
  g_ui->OnIdle(caption, [text = std::string(button)](nv::ui::Window& w) {
    for (const nv::ui::ControlState& c : w.controls()) {
      if (c.def.kind == nv::ui::ControlKind::kButton && c.text == text) {
        nv::ui::Press(w, c.def.id);
        return;
      }
    }
  });
}

// What the backend noted (unattended windows, unanswered messages).
UI_SCRIPT_EXPORT int ui_script_notes() {
  return int(g_ui->notes().size());
}
