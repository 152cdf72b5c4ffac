// The small tables and selectors: business categories (Rubros with
// Ficha_Rubros), directory groups (Grupos_de_Agenda with
// Ficha_Grupo_Agenda), the user selector (Usuarios_Seleccionar) and the
// company selector (Empresas_Seleccionar).
//
// A list window opened for selection closes, on "Seleccionar" (or Enter /
// double-click on the list), with the highlighted record in its file's
// record buffer and answers kCompleted; "Salir" or closing answers
// kCancelled. Not selecting, Enter or double-click on a row changes it (as
// Modificar). The update forms are the framework's: they write the record
// themselves (insert, change, or delete after the framework's question).
//
// Thread-safety: the program's main thread.
#pragma once

#include "host/ui/browse.h"
#include "host/ui/window_def.h"

namespace agenda {

// Controls of the list windows (the same ids in every one).
enum ListControl : nv::ui::ControlId {
  kLstSheet = 1,
  kLstTab1,
  kLstTab2,
  kLstLocator1,
  kLstLocator2,
  kLstLista,
  kLstAgregar,
  kLstModificar,
  kLstBorrar,
  kLstSeleccionar,
  kLstSalir,
};
// Controls of the table update forms.
enum TableFormControl : nv::ui::ControlId {
  kTfCodigo = 1,
  kTfDescripcion,
  kTfAceptar,
  kTfCancelar,
};

nv::ui::WindowDef RubrosWindow();
nv::ui::WindowDef FichaRubrosWindow();
nv::ui::WindowDef GruposWindow();
nv::ui::WindowDef FichaGrupoWindow();
nv::ui::WindowDef UsuariosWindow();
nv::ui::WindowDef EmpresasWindow();

// Answers kCompleted when a record was selected (select mode), else kCancelled.
int Rubros(bool select = false);
int Ficha_Rubros(nv::ui::Request request);
int Grupos_de_Agenda(bool select = false);
int Ficha_Grupo_Agenda(nv::ui::Request request);
int Usuarios_Seleccionar();
int Empresas_Seleccionar();

}  // namespace agenda
