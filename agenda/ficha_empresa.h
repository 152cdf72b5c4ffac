// The company form "Ficha de la empresa" (Ficha_Empresa): adds, changes and
// deletes a company of FXMA11 with its numbers and contacts. The flow it
// shares with the contact form (provisional record, hold loop, unique
// name, cascades) is described in entry_form.cpp; the controls are
// FichaControl (ficha_common.h).
//
// Thread-safety: the program's main thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "agenda/ficha_common.h"
#include "host/ui/window_def.h"

namespace agenda {

nv::ui::WindowDef FichaEmpresaWindow();

// request "A" (code ignored), "M" or "B" (the company's code).
int Ficha_Empresa(std::string_view request, int32_t code);

}  // namespace agenda
