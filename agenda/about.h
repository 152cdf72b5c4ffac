// The About window "Acerca de la agenda del Fonvex Windows": tabs
// "Acerca..." (picture and the exchange line) and "Versiones" ("Agenda
// Versión 2.4.3.0"), button "Salir". On opening it reads the CENTRAL record
// of the exchange number in DIC:CAPTURA and shows
// "Central telefónica Nro. " + number + " (" + clipped name + ").".
#pragma once

#include <string>

#include "host/ui/window_def.h"

namespace agenda {

enum AboutControl : nv::ui::ControlId {
  kAboutSheet = 1,
  kAboutPicture,
  kAboutCentral,
  kAboutVersion,
  kAboutSalir,
};

inline constexpr const char* kAgendaVersion = "Agenda Versión 2.4.3.0";

// The exchange line for a number and name (Windows-1252 name, as stored).
std::string CentralLine(int number, std::string_view name);

void Acerca_De();

}  // namespace agenda
