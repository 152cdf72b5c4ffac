#include "agenda/startup.h"

#include <atomic>

#include "agenda/main_window.h"
#include "agenda/text.h"
#include "host/platform/platform.h"
#include "host/runtime/version.h"

namespace agenda {

namespace {

GlobalObjects* g_globals = nullptr;
std::atomic<bool> g_upgrade_configured{false};

}  // namespace

void FileErrorBridge::FileError(std::string_view label, std::string_view operation, int code,
                                const std::string& text) {
  std::string msg = A("Error en el archivo ") + std::string(label) + " (" + std::string(operation) +
                    "): " + std::to_string(code);
  if (!text.empty()) msg += " " + text;
  target_->Show(msg);
}

GlobalObjects* Globals() {
  return g_globals;
}

bool ConfigureUpgradeManager() {
  if (g_upgrade_configured.exchange(true)) return false;
  nv::platform::ds_SetOption("BadFile", 0);
  nv::platform::ds_AddDriver("Vtr");
  nv::platform::ds_IgnoreDriver("AllFiles", 1);
  nv::platform::ds_SetOption("SPCreate", 1);
  nv::platform::ds_SetOption("Backup", 1);
  return true;
}

int ProgramStart(const StartOptions& options) {
  // 1. Runtime version.
  const bool compatible = options.runtime_compatible ? options.runtime_compatible(kRequiredRuntime)
                                                     : nv::RuntimeCompatible(kRequiredRuntime);
  if (!compatible) return kExitRuntime;

  // 2. Global objects.
  GlobalObjects globals;
  globals.error_manager.Init();
  globals.fuzzy.Init();
  globals.fuzzy.SetOption(1, true);
  globals.fuzzy.SetOption(2, false);
  globals.ini.Init(options.ini_name);
  globals.ini_file.set_name(options.ini_name);
  g_globals = &globals;
  nv::ui::SetCurrentErrorReporter(&globals.error_manager);

  // 3. Upgrade manager, once per process.
  ConfigureUpgradeManager();

  // 4. Full-window dragging off while the program runs.
  const bool drag_was_on = nv::platform::GetDragFullWindows();
  if (drag_was_on) nv::platform::SetDragFullWindows(false, true, true);

  // 5. Dictionary, main window, tear-down.
  nv::dict::FxdatsInit(&globals.bridge, &globals.ini_file);
  const int status = Ventana_Principal();

  if (drag_was_on) nv::platform::SetDragFullWindows(true, true, true);
  if (status == kMainHalted) {
    // A halt ends the program directly: the files the main window opened
    // are closed by the dictionary going away, nothing is written.
    nv::dict::FxdatsKill();
    g_globals = nullptr;
    nv::ui::SetCurrentErrorReporter(nullptr);
    return kExitHalted;
  }
  nv::dict::FxdatsKill();
  globals.ini.Kill();
  globals.fuzzy.Kill();
  globals.error_manager.Kill();
  g_globals = nullptr;
  nv::ui::SetCurrentErrorReporter(nullptr);
  return status == kMainNoFiles ? kExitNoFiles : kExitOk;
}

}  // namespace agenda
