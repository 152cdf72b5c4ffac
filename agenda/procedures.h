// The procedures the main window starts. Each entry is a hook that the
// procedure's own unit fills when it registers itself (forms, number search,
// imports, dialer, directory reports); until then an entry answers with the
// message "No disponible" (caption "Atención", information icon) and changes
// nothing. Tests replace entries to play a procedure.
//
// Thread-safety: the table belongs to the program's main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace agenda {

struct Procedures {
  // Company and contact forms: request "A", "M" or "B" and an entry code;
  // answer the window's response (nv::ui::kCompleted / kCancelled).
  std::function<int(std::string_view request, int32_t code)> Ficha_Empresa;
  std::function<int(std::string_view request, int32_t code)> Ficha_Contacto;
  // Number search window.
  std::function<void()> Buscar_Telefono;
  // Text import and import from the older DOS directory.
  std::function<void()> Importar;
  std::function<void()> IMPORTAR_AGENDA_DOS;
  // Dials a directory number through the modem.
  std::function<void(std::string_view number)> Discar;
  // Directory report choosers.
  std::function<void()> Elegir_Reporte_Empresas;
  std::function<void()> Elegir_Reporte_Contactos;
};

// The program's table. Entries never hold an empty function: a cleared
// entry is answered with the "No disponible" message.
Procedures& AgendaProcedures();
// Puts every entry back to the "No disponible" answer.
void ResetProcedures();

// The answer of a procedure not yet available.
void NoDisponible();

}  // namespace agenda
