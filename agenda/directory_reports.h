// The directory reports: the choosers Elegir_Reporte_Empresas and
// Elegir_Reporte_Contactos ("Elegir tipo de reporte") and the four report
// procedures Reporte_Empresas_Rapido, Reporte_Empresas_Detallado,
// Reporte_Contactos_Rapido and Reporte_Contactos_Detallado.
//
// The four are one design: a table row says which entries a report lists
// (companies 'E' or contacts 'C'), whether it is the quick or the detailed
// form, and its title; DirectoryLayout builds the bands from the row and
// RunDirectoryReport walks FXMA11 by MA11:MA11_C1 from the from-name to the
// to-name, printing each entry (and, for the detailed forms, the company's
// contacts and numbers or the contact's numbers).
//
// A run reads through files of its own (nv::File over the dictionary's
// declarations, opened read-only and shared), so the main window's lists
// keep their buffers and positions. It never writes a data file. The same
// run serves the windows (progress window, preview or printer) and the
// command line (tools/agendarpt: PDF or text, page by page).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "agenda/procedures.h"
#include "host/report/document.h"
#include "host/report/layout.h"
#include "host/report/status.h"
#include "host/ui/window_def.h"

namespace nv::dict {
class Dictionary;
}
namespace nv::ui {
class ProgressWindow;
}

namespace agenda {

struct DirectoryReport {
  const char* name;   // procedure name, "Reporte_Empresas_Rapido"
  char kind;          // MA11:ESEMPR of the entries listed: 'E' or 'C'
  bool detailed;
  const char* title;  // UTF-8
};

// The four reports, companies first, quick before detailed.
const std::vector<DirectoryReport>& DirectoryReports();
// By procedure name (case-insensitive); nullptr when unknown.
const DirectoryReport* FindDirectoryReport(std::string_view name);
// The report of a kind and form.
const DirectoryReport& DirectoryReportOf(char kind, bool detailed);

// The layout of a report: header (title, "Versión 2.00"), footer ("Página",
// date, time, "Fonvex Windows") and its bands.
nv::report::ReportLayout DirectoryLayout(const DirectoryReport& report);

// The report arguments: from-name and to-name (50 characters each,
// Windows-1252), copies, preview (1 = preview).
struct ReportArgs {
  std::string desde;
  std::string hasta;
  int16_t copias = 1;
  uint8_t vista_previa = 0;
};
// A to-name above every name (the command line's default: to the end).
std::string LastName();

struct ReportOptions {
  // Stepped by records read; "Cancelar" ends the run. May be null.
  nv::ui::ProgressWindow* progress = nullptr;
  // Takes every page as it ends (the document then keeps none); empty: the
  // pages stay in the result's document.
  std::function<nv::report::Status(nv::report::Page&&)> page_sink;
};

struct ReportRun {
  enum Status {
    kOk,
    kEmpty,       // no entry in the range: nothing printed
    kCancelled,   // "Cancelar" in the progress window: nothing delivered
    kOpenFailed,  // a directory file could not be opened: `message` says which
    kOutputFailed,  // the page sink failed: `message` says why
  };
  Status status = kOk;
  std::string message;  // Windows-1252
  int64_t entries = 0;  // entries printed
  int pages = 0;
  double first_band_seconds = 0;  // from the start to the first band printed
  nv::report::Document document;  // without the pages taken by a sink
};

ReportRun RunDirectoryReport(const nv::dict::Dictionary& dic, const DirectoryReport& report,
                             const ReportArgs& args, const ReportOptions& options = {});

// Where the windows' finished documents go (the program sets the preview
// and printer; tests catch them). Without one a document is dropped.
void SetReportOutput(std::function<void(nv::report::Document&&)> output);

// The four procedures: progress window "Progreso...", the run, then the
// document to the output, the framework's answer to an empty report, or
// the error message.
void Reporte_Empresas_Rapido(const ReportArgs& args);
void Reporte_Empresas_Detallado(const ReportArgs& args);
void Reporte_Contactos_Rapido(const ReportArgs& args);
void Reporte_Contactos_Detallado(const ReportArgs& args);

// The chooser "Elegir tipo de reporte".
enum ChooserControl : nv::ui::ControlId {
  kElgTipo = 1,
  kElgDesde,
  kElgHasta,
  kElgCopias,
  kElgVista,
  kElgImprimir,
  kElgCancelar,
};
nv::ui::WindowDef ChooserWindowDef();
void Elegir_Reporte_Empresas();
void Elegir_Reporte_Contactos();

// Fills the table's two chooser entries.
void RegisterDirectoryReports(Procedures& table);

}  // namespace agenda
