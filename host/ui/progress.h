// The progress window of long processes ("Avance de Progreso": thermometer,
// the process's own text, the percentage and "Cancelar") and the process
// manager that walks a file with it.
//
// A process (a report on its own thread, a re-linking run) opens the window,
// calls Step between units of work and stops when Step answers false. Step
// polls the window without waiting, so the window stays live and
// "Cancelar" is seen at the next step.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/runtime/export.h"
#include "host/ui/window.h"

namespace nv {
class File;
struct KeyDecl;
}  // namespace nv

namespace nv::ui {

class NV_API ProgressWindow {
 public:
  enum : ControlId { kThermometer = 1, kUserText, kPercent, kCancelar };
  static constexpr const char* kCaption = "Avance de Progreso";

  // `caption`: the window's caption (the reports' report manager shows
  // "Progreso...").
  explicit ProgressWindow(std::string_view user_text = "", std::string_view caption = kCaption);
  void Open();
  void Close();
  void SetText(std::string_view text);
  // What follows the number in the percentage text (" %" unless set; the
  // detail reports show "N% Completo"). Rewrites the text shown.
  void SetPercentSuffix(std::string_view suffix);
  // Moves the thermometer to done/total (total 0 shows 0 %); answers false
  // once the user has pressed "Cancelar" or closed the window.
  bool Step(int64_t done, int64_t total);
  bool cancelled() const { return cancelled_; }
  int percent() const { return percent_; }
  Window& window() { return window_; }

 private:
  void Poll();
  Window window_;
  bool cancelled_ = false;
  int percent_ = -1;
  std::string percent_suffix_ = " %";
};

// The report manager's answer to a report whose process took no record:
// the message kNoRecordsText (caption "Atención", information icon); the
// report prints and previews nothing.
inline constexpr const char* kNoRecordsText = "No hay registros para imprimir.";
NV_API void TellNoRecords();

// Walks a file in a key's order (record order when key is null) from its
// start, calling `each` for every record that passes `filter`, stepping the
// progress window (when given) by records read out of RECORDS. Stops when
// `each` answers false or the user cancels. Answers the number of records
// handed to `each`, or -1 when cancelled.
NV_API int64_t RunProcess(nv::File& file, nv::KeyDecl* key, const std::function<bool()>& filter,
                          const std::function<bool()>& each, ProgressWindow* progress);

}  // namespace nv::ui
