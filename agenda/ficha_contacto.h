// The contact form "Ficha de Contactos" (Ficha_Contacto): adds, changes and
// deletes a contact of FXMA11 with its numbers. The flow it shares with the
// company form is described in entry_form.cpp; the controls are
// FichaControl (ficha_common.h).
//
// Thread-safety: the program's main thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "agenda/ficha_common.h"
#include "host/ui/window_def.h"

namespace agenda {

nv::ui::WindowDef FichaContactoWindow();

// request "A" (code: the new contact's company, 0 none), "M" or "B" (the
// contact's code).
int Ficha_Contacto(std::string_view request, int32_t code);

}  // namespace agenda
