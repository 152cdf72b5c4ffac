// Fills the entries of the procedure table (procedures.h) that the forms
// and the number search serve: Ficha_Empresa, Ficha_Contacto and
// Buscar_Telefono.
#pragma once

#include "agenda/procedures.h"

namespace agenda {

void RegisterForms(Procedures& table);

}  // namespace agenda
