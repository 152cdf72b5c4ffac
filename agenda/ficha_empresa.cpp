#include "agenda/ficha_empresa.h"

#include "agenda/text.h"

namespace agenda {

using namespace nv::ui;

const char* const kCondicionesIva[6] = {"Responsable Inscripto",   "Responsable No Inscripto",
                                        "Responsable Monotributo", "Consumidor Final",
                                        "No Responsable",          "Exento"};

WindowDef FichaEmpresaWindow() {
  std::vector<std::string> iva;
  for (const char* c : kCondicionesIva) iva.push_back(A(c));
  std::vector<ControlDef> general = {
      Prompt(A("Responsable:")),
      Entry(kFcResponsable, "@n-4.0"),
      Button(kFcResponsableBoton, "...").Tip(A("Selecionar un usuario responsable")),
      Prompt("", kFcResponsableNombre),
      Check(kFcCliente, A("Cliente")),
      Prompt(A("Alta:")),
      Entry(kFcAlta, "@d06").ReadOnly(),
      Prompt(A("&Nombre")),
      Entry(kFcNombre, "@s50"),
      Prompt(A("&Dirección")),
      Entry(kFcDireccion, "@s50"),
      Prompt(A("Código &Postal")),
      Entry(kFcCodPostal, "@s15"),
      Prompt(A("Rubro:")),
      Entry(kFcRubro, "@n-4.0"),
      Button(kFcRubroBoton, "...").Tip(A("Seleccionar un rubro")),
      Prompt("", kFcRubroDesc),
      Prompt(A("&Localidad:")),
      Entry(kFcLocalidad, "@s30"),
      Prompt(A("Provincia:")),
      Entry(kFcProvincia, "@s15"),
      Prompt(A("Cond. de I.V.A.:")),
      DropList(kFcIva, iva),
      Prompt(A("CUIL/CUIT:")),
      Entry(kFcCuit, "@P##-########-#P"),
      List(kFcContactos,
           {Col(A("Nombre"), "@s50", "AMA11:NOMBRE"), Col(A("Cargo"), "@s30", "AMA11:CARGOC")},
           A("Contactos de la empresa")),
      Button(kFcConAgregar, A("&Agregar")),
      Button(kFcConModificar, A("&Modificar")),
      Button(kFcConBorrar, A("&Borrar")),
  };
  AddNumberList(&general, A("Teléfonos/e-mails de la empresa"));
  return FichaWindow(A("Ficha de la empresa"), general);
}

int Ficha_Empresa(std::string_view request, int32_t code) {
  return RunEntryForm(false, request, code);
}

}  // namespace agenda
