// The report choosers: the fifteen ELG_RPT_... procedures are one window
// procedure (ElegirReporte) driven by a table of what differs between them
// (block family, date group, range lists over a lookup file, directory
// option, call types, the four reports they start).
//
// The chooser runs on the caller's thread; every press of its print button
// starts one report on a thread of its own (kReportStack bytes of stack)
// with its own copies of the block and the print options. Report threads
// outlive the chooser; WaitReports waits for them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace fxr4 {

// The chooser window's controls (the block's fields by their names).
namespace elegir {
enum : int {
  DESFEC = 1,
  CAL_DESFEC,  // calendar buttons
  DESHOR,
  HASFEC,
  CAL_HASFEC,
  HASHOR,
  DESDE,
  HASTA,
  TIPLLA,
  CURTAB,
  COPIAS,
  VISTA_PREVIA,
  TIPO_REPORTE,
  IMPRIMIR,
  CANCELAR,
};
}  // namespace elegir

// The parameter block family of a chooser (params.h).
enum class Familia { kRpt, kCtas, kCod, kReque };

// The date fields: "Rango de Fechas" (Desde, Hasta), the date chooser's
// "Desde"/"Hasta" groups with dates and times, or none (requirement).
enum class Fechas { kRango, kFechaHora, kNinguna };

// The two range lists over a lookup file, in its primary-key order.
struct ListaRango {
  const char* grupo = nullptr;  // group title; nullptr: no range lists
  const char* archivo = nullptr;
  const char* picture = nullptr;  // the field's picture
  // Columns: code and description; code_title nullptr for the account
  // chooser, whose list shows and stores the description alone.
  const char* titulo_codigo = nullptr;
  const char* campo_codigo = nullptr;
  const char* titulo_descripcion = nullptr;
  const char* campo_descripcion = nullptr;
};

struct Elegir {
  const char* name;  // "ELG_RPT_SALENT_LIN"
  Familia familia;
  Fechas fechas;
  ListaRango rango;
  bool agendadas;      // the directory option LOC:TIPLLA
  bool tipo_llamadas;  // "Tipo de Llamadas" (CURTAB)
  bool direcciones;    // looks at LLASAL/LLAENT (not free and unrated calls)
  // [outgoing, incoming][summary, detail]; nullptr: nothing is started.
  const char* reportes[2][2];
};

const Elegir* Choosers(size_t* n);
const Elegir* FindChooser(std::string_view name);

// Runs a report procedure by its exported name on the calling thread
// (what the RPT_... exports do): summary, detail or special detail, to the
// library's output (or CSV file). Unknown names do nothing.
void RunReport(std::string_view name, std::string_view option, std::string_view block,
               std::string_view opc);

// Stack of a report thread: a report lays out pages, formats pictures and,
// writing a PDF, calls into Qt; its deepest run uses well under a tenth of
// this (tests measure it).
inline constexpr size_t kReportStack = 8u << 20;

// Starts `run` on a detached thread with `stack` bytes of stack, counted
// until it ends; false (nothing started) when the system refuses a thread.
bool StartReportThread(std::function<void()> run, size_t stack = kReportStack);
// Waits until every report thread started so far has ended.
void WaitReports();

// How a chooser starts a report: procedure, directory option (empty for
// the others), block, OPC_IMPRESION. The default starts RunReport on a
// report thread; tests record instead. An empty function restores it.
using Arrancar = std::function<void(const char* procedure, std::string option, std::string block,
                                    std::string opc)>;
void SetReportStarter(Arrancar starter);

// The chooser procedure: `param` is the caller's block, `opcion` the
// directory chooser's first argument (ignored by the others).
void ElegirReporte(const Elegir& e, std::string_view opcion, std::string_view param);

}  // namespace fxr4
