// The text import's engine: loads the six comma-separated files of a folder
// into the staging tables, then merges the staged data into the directory
// and re-links the calls of every imported number. The window `Importar`
// and the command `agenda --importar CARPETA` drive the same engine; only
// their pacing differs (the window runs one unit per timer tick, the
// command as many as it likes).
//
// Steps (one unit = one line or one staged record):
//   1..6  loading: RubrosAg, GruposAg, Empresas, TelefonE, Contacto,
//         TelefonC, one line per unit, into AUXAGRU ... AUXAGTC;
//   7     categories: each staged category matched by description in
//         FXTA02 (added when missing), its directory code kept in AUXAGRU;
//   8     groups: the same with FXTA09 and AUXAGGR;
//   9     data, by phases: Empresas -> Telefonos de Empresas -> Contactos
//         de Empresas -> Telefonos de Contactos de Empresas -> (back to
//         Contactos de Empresas, then Empresas) ... -> Contactos sin
//         Empresas <-> Telefonos de Contactos sin Empresas -> Fin.
//
// Invariants:
//   - Nothing is ever deleted from the directory: companies and contacts
//     are matched by name within their kind, categories and groups by
//     description, numbers by number; a match is updated in place (its code
//     kept, its comments kept), anything else is added.
//   - Every rejected line and every failed write adds one entry to errors()
//     (Windows-1252 text) and the run goes on; only a failed flush at the
//     end of a tick stops it (see Tick).
//   - The staging tables are opened deny-all for the whole run (a second
//     station cannot import at the same time) and emptied when a run
//     starts; a stopped run leaves them on disk, "Fin" removes them.
//   - The directory and call files written within one tick are in batch
//     (stream) mode from their first write of the tick and are flushed when
//     the tick ends, so a tick's work is on disk before the next tick
//     starts (a window's tick is one unit, an unpaced one kUnpacedTickUnits).
//     The staging tables, this run's scratch, stay in batch mode
//     until they are closed.
//
// Thread-safety: the program's main thread (it uses the dictionary's files).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agenda/import_window.h"
#include "host/ui/window_def.h"

namespace nv::dict {
class Dictionary;
}

namespace agenda {

inline constexpr int kImportSteps = 9;

// Phases of step 9, named as the window shows them.
enum class ImportPhase {
  kEmpresas,
  kTelefonosDeEmpresas,
  kContactosDeEmpresas,
  kTelefonosDeContactosDeEmpresas,
  kContactosSinEmpresas,
  kTelefonosDeContactosSinEmpresas,
  kFin,
};
const char* PhaseName(ImportPhase phase);

// The folder the window reads its files from.
inline constexpr const char* kImportFolder = ".\\Archivos\\";

// How a run is driven. The window runs one unit per timer tick over files
// it shares with every other station. Unpaced (the command line) runs ticks
// of kUnpacedTickUnits units, and takes the directory files deny-write
// when no other station has them open for writing (shared otherwise).
enum class ImportPacing { kWindow, kUnpaced };
inline constexpr int64_t kUnpacedTickUnits = 10000;

class TextImport {
 public:
  // `folder` ends with a separator ('\' or '/').
  TextImport(nv::dict::Dictionary& dic, std::string folder = kImportFolder,
             ImportPacing pacing = ImportPacing::kWindow);
  ~TextImport();
  TextImport(const TextImport&) = delete;
  TextImport& operator=(const TextImport&) = delete;

  // Observers: every new status line and every new error (Windows-1252).
  std::function<void(const std::string&)> on_status;
  std::function<void(const std::string&)> on_error;

  // "Importar": opens the staging tables and the first file. False when the
  // run cannot start (the reason is the status line and one error).
  bool Start();
  // Runs up to `units` units (0: to the end), then ends the tick (flushes
  // what the tick wrote). Answers the units run. A flush that fails is an
  // error and interrupts the run (running() and finished() false, the
  // staging tables left as a cancel leaves them).
  int64_t Tick(int64_t units);
  // Ticks until the run ends (the command line's way). Answers the units.
  int64_t RunUnpaced();
  // Stops a run where it is (cancel): what was written stays, the staging
  // tables are closed and left on disk.
  void Stop();

  bool running() const { return running_; }
  bool finished() const { return finished_; }
  int step() const { return step_; }
  ImportPhase phase() const { return phase_; }
  int64_t line() const { return line_; }
  int64_t progress() const { return progress_; }
  int64_t range() const { return range_; }
  // INT(progress / range x 100) followed by " % Completo".
  std::string PercentText() const;
  const std::string& status() const { return status_; }
  const std::vector<std::string>& errors() const { return errors_; }
  // Lines rejected while loading (each one is also an error).
  int64_t rejected() const { return rejected_; }
  int64_t relinked_numbers() const { return relinked_; }

 private:
  struct Impl;
  void Unit();
  void SetStatus(std::string text);
  void Error(std::string text);
  void Reject(std::string text);
  bool EndWrites();
  void Interrupt();
  // Steps 1 to 6.
  void OpenSource(int source);
  void LoadLine();
  std::string Stage(int source);
  // Steps 7 and 8.
  void BeginTables(int step);
  void MergeTable();
  // Step 9.
  void BeginData();
  void MergeData();
  void PositionAt(int table, int32_t code);
  bool NextOf(int table, int32_t code);
  int32_t DirectoryCode(int table, int32_t file_code);
  bool MergeCompany();
  bool MergeContact(int32_t company);
  void MergeNumber(int table, int32_t owner);
  void Relink(const std::string& number);
  void RelinkTick();
  void Finish();

  std::unique_ptr<Impl> impl_;
  std::string status_;
  std::vector<std::string> errors_;
  int step_ = 0;
  ImportPhase phase_ = ImportPhase::kEmpresas;
  int64_t line_ = 0, progress_ = 0, range_ = 0, rejected_ = 0, relinked_ = 0;
  bool running_ = false, finished_ = false;
};

// The window "Importación de datos" (menu "Importar archivos de texto");
// its controls are in agenda/import_window.h.
nv::ui::WindowDef ImportarWindowDef();
void Importar();

// The import without a window, for scripts: prints the status lines and the
// errors (UTF-8) to `out`; answers 0 when every line was taken, 1 when any
// line was rejected or a write failed, 4 when the directory could not be
// opened. `folder` holds the six files.
int ImportarSinVentana(const std::string& folder, std::FILE* out);

// `agenda --importar CARPETA [--usuario CODIGO]`: the dictionary over the
// program's "agenda.INI", then ImportarSinVentana on standard output.
int ImportCommand(int argc, char** argv);

// Registers Importar in the program's procedure table.
struct Procedures;
void RegisterTextImport(Procedures& table);

}  // namespace agenda
