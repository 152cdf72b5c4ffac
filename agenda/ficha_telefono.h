// The number form "Ficha de Teléfonos" (Ficha_Telefono), run by the number
// lists of the company and contact forms through the list-update mechanism
// with the FXRE09 buffer primed by the list.
//
// Rules: numbers are unique across the whole directory (a number typed
// again, also with other trailing blanks, is refused on insert and nothing
// is written); RE09:CARINI and RE09:LONTEL are derived from the clipped
// number whenever the record is written; a stored number is never edited
// (the field is disabled for change and delete); after a write the calls of
// the number are re-linked when the form closes.
//
// Thread-safety: the program's main thread.
#pragma once

#include "host/ui/browse.h"
#include "host/ui/window_def.h"

namespace agenda {

enum FichaTelefonoControl : nv::ui::ControlId {
  kFtNumero = 1,
  kFtComentario,
  kFtGrupo,
  kFtGrupoBoton,
  kFtGrupoDesc,
  kFtAceptar,
  kFtCancelar,
};

nv::ui::WindowDef FichaTelefonoWindow();

// Answers kCompleted when the record was written, else kCancelled.
int Ficha_Telefono(nv::ui::Request request);

}  // namespace agenda
