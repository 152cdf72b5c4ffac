// The main window "Agenda": the menu, the tabs "&Empresas" and "&Contactos"
// with their lists, locators, comment boxes and buttons, from which every
// other procedure of the program starts (one at a time, modally).
//
// Opening, in this order: the four call-file names are stored; the
// relations of A2MA11, ALMA11 and FXMA11 are opened and the five lists set
// up; the user logs in (Acceso); the window opens. Closing ("Salir" or the
// close box) closes the relations again.
//
// Lists and what keeps them in step:
//   company list      FXMA11 by MA11:MA11_C1, filter (MA11:ESEMPR = 'E')
//   company numbers   FXRE09 by RE09:RE09_CP, range RE09:CODIGO = MA11:CODIGO
//   company contacts  A2MA11 by MA11:MA11_C4, range A2MA11:CODEMP =
//                     MA11:CODIGO (name order within one company), contacts only
//   contact list      ALMA11 by MA11:MA11_C1, filter (AMA11:ESEMPR = 'C')
//   contact numbers   ALRE09 by RE09:RE09_CP, range ARE09:CODIGO = AMA11:CODIGO
// The dependent lists are re-read whenever the highlight of their master
// list moves. While a master list is empty its buffer's code is 0 and the
// dependent lists range on code -1, which no record carries (contacts
// without company and stray numbers have code 0), so they are empty too.
// Typing on the company numbers list locates a number.
// Modificar/Borrar of a tab are disabled exactly while its list is empty;
// the test runs at opening, on a tab change and after every command.
#pragma once

#include "host/ui/window_def.h"

namespace agenda {

// Answers of Ventana_Principal.
inline constexpr int kMainClosed = 0;
inline constexpr int kMainHalted = 1;   // no user logged in: the program halts
inline constexpr int kMainNoFiles = 2;  // the directory files could not be opened

enum MainControl : nv::ui::ControlId {
  // menu
  kMenuImportarDos = 1,
  kMenuImportarTexto,
  kMenuExportar,
  kMenuAcercaDe,
  // sheet and tabs
  kSheet,
  kTabEmpresas,
  kTabContactos,
  // companies
  kEmpNombre,
  kEmpLista,
  kEmpComentarios,
  kEmpTelefonos,
  kEmpContactos,
  kEmpAgregar,
  kEmpModificar,
  kEmpBorrar,
  kEmpImprimir,
  kEmpDiscar,
  kEmpBuscar,
  // contacts
  kConNombre,
  kConLista,
  kConComentarios,
  kConTelefonos,
  kConAgregar,
  kConModificar,
  kConBorrar,
  kConImprimir,
  kConDiscar,
  kConBuscar,
  // window
  kSalir,
};

// The window definition (caption "Agenda").
nv::ui::WindowDef MainWindowDef();

// Runs the main window; answers kMainClosed, kMainHalted or kMainNoFiles.
int Ventana_Principal();

}  // namespace agenda
