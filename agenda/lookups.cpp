#include "agenda/lookups.h"

#include <functional>

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/ui/update_form.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::FileAccess;

namespace {

// Declares use of a dictionary file for a scope.
class Use {
 public:
  explicit Use(std::string_view label)
      : a_(nv::dict::Dic() ? nv::dict::Dic()->Access(label) : nullptr) {
    ok_ = a_ != nullptr && a_->UseFile() == 0;
  }
  ~Use() {
    if (ok_) a_->Close();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  bool ok() const { return ok_; }
  FileAccess& operator*() const { return *a_; }
  FileAccess* operator->() const { return a_; }

 private:
  FileAccess* a_;
  bool ok_ = false;
};

Column Right(Column c) {
  c.right = true;
  return c;
}

// The loop shared by every list window. `form` runs the update form of the
// list's Agregar/Modificar/Borrar (none for the selectors).
int RunListWindow(Window& w, Browse& b, bool select, const std::function<int(Request)>& form) {
  w.SetSelectMode(select);
  w.SetResult(kCancelled);
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        b.Reset();
        w.Display(kLstLista);
        if (!select && w.Has(kLstSeleccionar)) w.Disable(kLstSeleccionar);
        w.Select(w.Has(kLstLocator1) ? kLstLocator1 : kLstLista);
        break;
      case Event::kNewSelection:
        if (w.Field() == kLstSheet) {
          b.SetOrder(w.Value(kLstSheet) == 2 ? 1 : 0);
          w.Display(kLstLista);
        }
        break;
      case Event::kAccepted:
        switch (w.Field()) {
          case kLstLista:  // double-click or Enter on a row (not selecting)
          case kLstAgregar:
          case kLstModificar:
          case kLstBorrar:
            if (form) {
              const Request r = w.Field() == kLstAgregar  ? Request::kInsert
                                : w.Field() == kLstBorrar ? Request::kDelete
                                                          : Request::kChange;
              b.RunUpdate(r, form);
              w.Display(kLstLista);
            }
            break;
          case kLstSeleccionar:
            if (select) w.SelectHighlighted(kLstLista);
            break;
          case kLstSalir:
            w.Close(kCancelled);
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
  }
  return w.result() == kCompleted ? kCompleted : kCancelled;
}

std::vector<ControlDef> TableButtons() {
  return {Button(kLstAgregar, A("&Agregar")), Button(kLstModificar, A("&Modificar")),
          Button(kLstBorrar, A("&Borrar")), Button(kLstSeleccionar, A("&Seleccionar")),
          Button(kLstSalir, A("&Salir"))};
}

int RunTableForm(const WindowDef& def, std::string_view label, Request request,
                 const char* captions[4]) {
  Use file(label);
  if (!file.ok()) return kCancelled;
  Window w(def);
  UpdateForm form(w, file->file(), request);
  form.SetCaptions(A(captions[0]), A(captions[1]), A(captions[2]), A(captions[3]));
  form.SetButtons(kTfAceptar, kTfCancelar);
  w.Open();
  while (w.Accept()) form.TakeEvent();
  return form.response();
}

}  // namespace

// --- Categories.

WindowDef RubrosWindow() {
  std::vector<ControlDef> c = {
      Sheet(kLstSheet, {Tab(A("Por &código"), {Entry(kLstLocator1, "@n-4.0")}, kLstTab1),
                        Tab(A("Por &descripción"), {Entry(kLstLocator2, "@s30")}, kLstTab2)}),
      List(kLstLista, {Right(Col(A("Código"), "@n-4.0", "TA02:CODRUB")),
                       Col(A("Descripción"), "@s30", "TA02:DESRUB")})};
  for (ControlDef& b : TableButtons()) c.push_back(b);
  return WindowDef(A("Tabla de Rubros"), c);
}

WindowDef FichaRubrosWindow() {
  return WindowDef(
      A("Ficha de Rubro"),
      {Prompt(A("Código:")), Entry(kTfCodigo, "@n-4.0").Bind("TA02:CODRUB"),
       Prompt(A("Descripción:")), Entry(kTfDescripcion, "@s30").Bind("TA02:DESRUB"),
       Button(kTfAceptar, A("&Aceptar")).Default(), Button(kTfCancelar, A("&Cancelar"))});
}

int Rubros(bool select) {
  Use ta02("FXTA02");
  if (!ta02.ok()) return kCancelled;
  Window w(RubrosWindow());
  Browse b(&ta02->file());
  b.AddOrder(A("Por código"), "TA02:TA02_CP");
  b.AddOrder(A("Por descripción"), "TA02:TA02_C1");
  b.SetOrder(0);
  w.AttachBrowse(kLstLista, &b);
  w.SetLocator(kLstLocator1, kLstLista);
  w.SetLocator(kLstLocator2, kLstLista);
  return RunListWindow(w, b, select, Ficha_Rubros);
}

int Ficha_Rubros(Request request) {
  const char* captions[4] = {"Agregando un nuevo Rubro", "Modificando un Rubro",
                             "Borrando un Rubro", "View Record"};
  return RunTableForm(FichaRubrosWindow(), "FXTA02", request, captions);
}

// --- Directory groups.

WindowDef GruposWindow() {
  std::vector<ControlDef> c = {Entry(kLstLocator1, "@s50"),
                               List(kLstLista, {Col(A("Descripción"), "@s50", "TA09:DESGRU")})};
  for (ControlDef& b : TableButtons()) c.push_back(b);
  return WindowDef(A("Lista de grupos de agenda"), c);
}

WindowDef FichaGrupoWindow() {
  return WindowDef(
      A("Ficha de grupo de agenda"),
      {Prompt(A("Nro. Grupo:")), Entry(kTfCodigo, "@n-6.0").Bind("TA09:GRUAGE"),
       Prompt(A("Descripción:")), Entry(kTfDescripcion, "@s50").Bind("TA09:DESGRU"),
       Button(kTfAceptar, A("&Aceptar")).Default(), Button(kTfCancelar, A("&Cancelar"))});
}

int Grupos_de_Agenda(bool select) {
  Use ta09("FXTA09");
  if (!ta09.ok()) return kCancelled;
  Window w(GruposWindow());
  Browse b(&ta09->file());
  b.AddOrder(A("Descripción"), "TA09:TA09_C1");
  b.SetOrder(0);
  w.AttachBrowse(kLstLista, &b);
  w.SetLocator(kLstLocator1, kLstLista);
  return RunListWindow(w, b, select, Ficha_Grupo_Agenda);
}

int Ficha_Grupo_Agenda(Request request) {
  const char* captions[4] = {"Agregando un nuevo grupo de agenda", "Modificando un grupo de agenda",
                             "Borrando un grupo de agenda", "View Record"};
  return RunTableForm(FichaGrupoWindow(), "FXTA09", request, captions);
}

// --- Selectors.

WindowDef UsuariosWindow() {
  return WindowDef(
      A("Tabla de Usuarios"),
      {Entry(kLstLocator1, "@s30"),
       List(kLstLista, {Col(A("Nombre"), "@s30", "TA01:NOMUSR")})
           .Tip(A("Lista de usuarios del sistema")),
       Button(kLstSeleccionar, A("&Seleccionar")).Tip(A("Seleccionar un usuario del sistema")),
       Button(kLstSalir, A("&Salir"))});
}

int Usuarios_Seleccionar() {
  Use ta01("FXTA01");
  if (!ta01.ok()) return kCancelled;
  Window w(UsuariosWindow());
  Browse b(&ta01->file());
  b.AddOrder(A("Nombre"), "TA01:TA01_C1");
  b.SetOrder(0);
  w.AttachBrowse(kLstLista, &b);
  w.SetLocator(kLstLocator1, kLstLista);
  return RunListWindow(w, b, true, nullptr);
}

WindowDef EmpresasWindow() {
  return WindowDef(
      A("Seleccionar una empresa"),
      {Entry(kLstLocator1, "@s50"),
       List(kLstLista, {Col(A("Nombre"), "@s50", "AMA11:NOMBRE")}).Tip(A("Lista de empresas")),
       Button(kLstSeleccionar, A("&Seleccionar")).Tip(A("Seleccionar la empresa resaltada")),
       Button(kLstSalir, A("&Salir"))});
}

int Empresas_Seleccionar() {
  Use alma11("ALMA11");
  if (!alma11.ok()) return kCancelled;
  Window w(EmpresasWindow());
  Browse b(&alma11->file());
  b.AddOrder(A("Nombre"), "AMA11:MA11_C1");
  b.SetOrder(0);
  // "(AMA11:ESEMPR = 'E')": companies only.
  auto& r = alma11->rec<nv::dict::MA11Record>();
  b.SetFilter([&r] { return r.ESEMPR == "E"; }, {"AMA11:ESEMPR"});
  w.AttachBrowse(kLstLista, &b);
  w.SetLocator(kLstLocator1, kLstLista);
  return RunListWindow(w, b, true, nullptr);
}

}  // namespace agenda
