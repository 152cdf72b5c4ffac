// The agenda program's start and end, in this order:
//   1. the runtime is asked whether it is compatible with version 5.500;
//      only then does the program run;
//   2. the global objects are built: the error manager, the fuzzy-match
//      service (option 1 on, option 2 off) and the INI manager on
//      "agenda.INI";
//   3. once per process, the file-structure upgrade manager is configured
//      ("BadFile" = 0, driver "Vtr", "AllFiles" ignored, "SPCreate" = 1,
//      "Backup" = 1);
//   4. full-window dragging, when on, is switched off while the program runs
//      and back on afterwards;
//   5. FXDATS:INIT with the error and INI managers, the main window, then
//      FXDATS:KILL, the INI manager, the fuzzy service and the error manager
//      are torn down in that order.
// A halt during login ends the run at once: nothing after the main window's
// login is done except restoring the dragging setting.
//
// Thread-safety: the program's main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/dictionary/dictionary.h"
#include "host/runtime/profile.h"
#include "host/ui/framework.h"

namespace agenda {

// The runtime version the program is built for ("5.500").
inline constexpr int kRequiredRuntime = 5500;
inline constexpr const char* kIniName = "agenda.INI";

// Exit status of ProgramStart.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRuntime = 3;  // runtime not compatible: nothing ran
inline constexpr int kExitHalted = 1;   // halted during login
inline constexpr int kExitNoFiles = 4;  // the directory files could not be opened

struct StartOptions {
  std::string ini_name = kIniName;
  // The compatibility question (tests answer no).
  std::function<bool(int required)> runtime_compatible;
};

// Passes the dictionary's file errors to the framework's error manager.
class FileErrorBridge : public nv::dict::ErrorReporter {
 public:
  explicit FileErrorBridge(nv::ui::ErrorReporter* target) : target_(target) {}
  void FileError(std::string_view label, std::string_view operation, int code,
                 const std::string& text) override;

 private:
  nv::ui::ErrorReporter* target_;
};

// The program's global objects (alive between steps 2 and 5).
struct GlobalObjects {
  nv::ui::ErrorReporter error_manager;
  nv::ui::FuzzyMatch fuzzy;
  nv::ui::ProfileObject ini;
  nv::ProfileFile ini_file;  // the same file, as the dictionary reads it
  FileErrorBridge bridge{&error_manager};
};
// nullptr outside a run.
GlobalObjects* Globals();

// Configures the upgrade manager the first time it is called in a process;
// answers whether this call did it.
bool ConfigureUpgradeManager();

// Runs the program; answers the exit status.
int ProgramStart(const StartOptions& options = {});

}  // namespace agenda
