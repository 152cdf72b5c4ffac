// IMPORTAR_AGENDA_DOS (menu "Importar agenda FXDOS"): copies the directory of
// the suite's older DOS version into the agenda, keeping the old codes. Its
// groups (FXTA06DOS) become directory groups (FXTA09), its entries
// (FXMA06DOS) companies (FXMA11) and its numbers (FXRE01DOS) company numbers
// (FXRE09). No staging tables, no re-linking of calls.
//
// The window "Importación de datos" runs the import on its timer:
//
//   idle --Importar--> step 1 --tick--> step 2 --tick--> finished
//
// Each step runs whole within one tick, its target files in stream mode and
// flushed at the end of the step, so "Salir" (or the close box) can only be
// seen between steps; while the timer runs it asks whether to cancel.
//
// What is never lost: a record already in the directory is never changed,
// except that a blank company address or number comment is filled in. A
// failed add or update is listed under "Errores" and the run goes on. When
// one of the three old files cannot be opened (missing, damaged, of another
// layout) the window says which and why, and nothing is imported.
#pragma once

#include "agenda/import_window.h"
#include "agenda/procedures.h"
#include "host/ui/window_def.h"

namespace agenda {

// The window definition (caption "Importación de datos").
nv::ui::WindowDef ImportWindowDef();

void IMPORTAR_AGENDA_DOS();

// Fills the table's IMPORTAR_AGENDA_DOS entry.
void RegisterDosImport(Procedures& table);

}  // namespace agenda
