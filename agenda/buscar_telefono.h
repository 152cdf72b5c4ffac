// The number search "Busqueda por número telefónico" (Buscar_Telefono):
// every directory number in number order with the name of its owner,
// company or contact alike, and its comment; a locator on the number.
//
// Thread-safety: the program's main thread.
#pragma once

#include "host/ui/window_def.h"

namespace agenda {

enum BuscarTelefonoControl : nv::ui::ControlId {
  kBtSheet = 1,
  kBtTab,
  kBtNumero,
  kBtLista,
  kBtSalir,
};

nv::ui::WindowDef BuscarTelefonoWindow();
void Buscar_Telefono();

}  // namespace agenda
