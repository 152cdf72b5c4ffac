#include "agenda/forms.h"

#include "agenda/buscar_telefono.h"
#include "agenda/ficha_contacto.h"
#include "agenda/ficha_empresa.h"

namespace agenda {

void RegisterForms(Procedures& table) {
  table.Ficha_Empresa = [](std::string_view request, int32_t code) {
    return Ficha_Empresa(request, code);
  };
  table.Ficha_Contacto = [](std::string_view request, int32_t code) {
    return Ficha_Contacto(request, code);
  };
  table.Buscar_Telefono = [] { Buscar_Telefono(); };
}

}  // namespace agenda
