// The framework's global objects: the error reporter, the profile-file
// object and the fuzzy-matching object. A program (or library) makes its own
// and may point the current references at a caller's (FXR4:INIT does).
//
// Thread-safety: each object guards its state; report threads share them.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/runtime/export.h"
#include "host/runtime/profile.h"

namespace nv::ui {

// Holds the name of the procedure running (a stack: procedures nest) and
// shows errors in message boxes.
class NV_API ErrorReporter {
 public:
  ErrorReporter() = default;
  void Init() {}
  void Kill();

  // Procedure names, innermost last.
  void Enter(std::string_view procedure);
  // Removes the innermost occurrence of the name (or the innermost name
  // when the name is empty); nothing when the name is not held.
  void Leave(std::string_view procedure = {});
  std::string procedure() const;

  // Shows the runtime's current error (nv::ErrorText()) with the caption
  // "Error", error icon and "&Aceptar"; the text names the procedure.
  void ShowError();
  // Shows a text as an error of the current procedure.
  void Show(std::string_view text, std::string_view caption = "Error");
  // What was shown, for tests and logs (Windows-1252).
  std::vector<std::string> shown() const;

 private:
  mutable std::mutex mu_;
  std::vector<std::string> names_;
  std::vector<std::string> shown_;
};

// The procedure-name bracket: registered for the scope's life.
class NV_API ProcedureScope {
 public:
  ProcedureScope(ErrorReporter& reporter, std::string_view name);
  ~ProcedureScope();
  ProcedureScope(const ProcedureScope&) = delete;
  ProcedureScope& operator=(const ProcedureScope&) = delete;

 private:
  ErrorReporter& reporter_;
  std::string name_;
};

// The current error reporter: the one set with SetCurrentErrorReporter, else
// a process-wide default.
NV_API ErrorReporter& CurrentErrorReporter();
NV_API void SetCurrentErrorReporter(ErrorReporter* reporter);

// The profile-file object over a named profile ("agenda.INI"); an empty name
// is the system's default profile.
class NV_API ProfileObject {
 public:
  void Init(std::string_view file_name);
  void Kill();
  const std::string& file_name() const { return file_.name(); }
  std::string Fetch(std::string_view section, std::string_view entry,
                    std::string_view def = "") const;
  long FetchInt(std::string_view section, std::string_view entry, long def = 0) const;
  bool Update(std::string_view section, std::string_view entry, std::string_view value) const;

 private:
  nv::ProfileFile file_;
};

// Fuzzy matching of a typed text against a stored one.
//   option 1: ignore case and accents (Windows-1252 letters) when on;
//   option 2: the typed words may come in any order when on (otherwise the
//             typed text must appear as one piece).
class NV_API FuzzyMatch {
 public:
  void Init() {}
  void Kill() {}
  void SetOption(int option, bool on);
  bool Option(int option) const;
  // 0 (no match) to 100 (equal after the options' folding); a match of the
  // whole typed text inside the stored one scores between.
  int Match(std::string_view typed, std::string_view stored) const;

 private:
  bool fold_ = true;
  bool any_order_ = false;
};

// Folds a Windows-1252 text for comparison: upper case, accents removed.
NV_API std::string FoldAnsi(std::string_view text);

}  // namespace nv::ui
