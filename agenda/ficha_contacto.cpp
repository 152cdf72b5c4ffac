#include "agenda/ficha_contacto.h"

#include "agenda/text.h"

namespace agenda {

using namespace nv::ui;

WindowDef FichaContactoWindow() {
  std::vector<ControlDef> general = {
      Prompt(A("Alta:")),
      Entry(kFcAlta, "@d06").ReadOnly(),
      Prompt(A("Responsable:")),
      Entry(kFcResponsable, "@n-4.0"),
      Button(kFcResponsableBoton, "...").Tip(A("Seleccionar un usuario responsable")),
      Prompt("", kFcResponsableNombre),
      Prompt(A("Nombre:")),
      Entry(kFcNombre, "@s50"),
      Prompt(A("Dirección:")),
      Entry(kFcDireccion, "@s50"),
      Prompt(A("Código Postal:")),
      Entry(kFcCodPostal, "@s15"),
      Prompt(A("Localidad:")),
      Entry(kFcLocalidad, "@s30"),
      Prompt(A("Provincia:")),
      Entry(kFcProvincia, "@s15"),
      Prompt(A("Cargo:")),
      Entry(kFcCargo, "@s30"),
      Prompt(A("Empresa:")),
      Entry(kFcEmpresa, "@n-14"),
      Button(kFcEmpresaBoton, "...")
          .Tip(A("Seleccionar la empresa a la que pertenece el contacto")),
      Prompt("", kFcEmpresaNombre),
  };
  AddNumberList(&general, A("Teléfonos/e-mails del contacto"));
  return FichaWindow(A("Ficha de Contactos"), general);
}

int Ficha_Contacto(std::string_view request, int32_t code) {
  return RunEntryForm(true, request, code);
}

}  // namespace agenda
