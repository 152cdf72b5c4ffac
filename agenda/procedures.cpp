#include "agenda/procedures.h"

#include "agenda/dialer.h"
#include "agenda/directory_reports.h"
#include "agenda/forms.h"
#include "agenda/import_dos.h"
#include "agenda/import_text.h"
#include "agenda/text.h"
#include "host/ui/backend.h"
#include "host/ui/window_def.h"

namespace agenda {

void NoDisponible() {
  nv::ui::Message(A("No disponible"), A("Atención"), nv::ui::Icon::kInformation);
}

namespace {

Procedures Defaults() {
  Procedures p;
  p.Ficha_Empresa = [](std::string_view, int32_t) {
    NoDisponible();
    return nv::ui::kCancelled;
  };
  p.Ficha_Contacto = p.Ficha_Empresa;
  p.Buscar_Telefono = [] { NoDisponible(); };
  p.Importar = p.Buscar_Telefono;
  p.IMPORTAR_AGENDA_DOS = p.Buscar_Telefono;
  p.Discar = [](std::string_view) { NoDisponible(); };
  p.Elegir_Reporte_Empresas = p.Buscar_Telefono;
  p.Elegir_Reporte_Contactos = p.Buscar_Telefono;
  RegisterTextImport(p);
  RegisterForms(p);
  RegisterDialer(p);
  RegisterDosImport(p);
  RegisterDirectoryReports(p);
  return p;
}

}  // namespace

Procedures& AgendaProcedures() {
  static Procedures table = Defaults();
  return table;
}

void ResetProcedures() {
  AgendaProcedures() = Defaults();
}

}  // namespace agenda
