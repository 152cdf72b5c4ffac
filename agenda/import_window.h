// The controls of the window "Importación de datos", shared by the import
// of text files and the import of the older DOS directory: both windows
// show the same pieces, each with its own texts.
#pragma once

#include "host/ui/window_def.h"

namespace agenda {

enum ImportControl : nv::ui::ControlId {
  kImpImportar = 1,
  kImpEstado,      // status line
  kImpPorcentaje,  // percentage line
  kImpProgreso,    // progress bar
  kImpErrores,     // "Errores" list
  kImpReloj,       // clock
  kImpSalir,
};

}  // namespace agenda
