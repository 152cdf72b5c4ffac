#include "agenda/ficha_telefono.h"

#include "agenda/ficha_common.h"
#include "agenda/lookups.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/update_form.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::FileAccess;
using nv::dict::RE09Record;
using nv::dict::TA09Record;

WindowDef FichaTelefonoWindow() {
  return WindowDef(
      A("Ficha de Teléfonos"),
      {Prompt(A("Número de teléfono/e-mail:")), Entry(kFtNumero, "@s40").Bind("RE09:NROTEL"),
       Prompt(A("Comentario:")), Entry(kFtComentario, "@s30").Bind("RE09:COMENT"),
       Prompt(A("Grupo de agenda:")), Entry(kFtGrupo, "@n-6.0").Bind("RE09:GRUAGE"),
       Button(kFtGrupoBoton, "...").Tip(A("Seleccionar un grupo de agenda")),
       Prompt("", kFtGrupoDesc), Button(kFtAceptar, A("&Aceptar")).Default(),
       Button(kFtCancelar, A("&Cancelar"))});
}

namespace {

class NumberForm {
 public:
  NumberForm(Window& w, FileAccess& re09, FileAccess& alre09, FileAccess* ta09, Request request)
      : w_(w), re09_(re09), alre09_(alre09), ta09_(ta09), form_(w, re09.file(), request) {
    form_.SetCaptions(A("Agregando nuevo teléfono"), A("Modificando un teléfono"),
                      A("Borrando un teléfono"), "View Record");
    form_.SetButtons(kFtAceptar, kFtCancelar);
    form_.SetCheck([this] { return BeforeWrite(); });
  }

  int Run() {
    auto& r = re09_.rec<RE09Record>();
    changed_ = false;
    if (form_.request() == Request::kInsert) {
      nv::dict::FileAccess* ma11 = nv::dict::Dic()->Access("FXMA11");
      r.CODIGO.Set(ma11->rec<nv::dict::MA11Record>().CODIGO);
    }
    w_.Open();
    while (w_.Accept()) {
      Take(w_.Event());
      // Every event ends with the display reset: the group's description
      // is read again for the code on screen (the group list may have
      // changed it).
      if (w_.is_open() && w_.Event() != Event::kCloseWindow)
        ShowGroup(w_.Contents(kFtGrupo).AsInteger());
    }
    return form_.response();
  }

 private:
  void Take(Event e) {
    auto& r = re09_.rec<RE09Record>();
    if (e == Event::kAccepted && w_.Field() == kFtCancelar) changed_ = false;
    if (e == Event::kAccepted && w_.Field() == kFtGrupo) {
      GroupAccepted();
      return;
    }
    if (e == Event::kAccepted && w_.Field() == kFtGrupoBoton) {
      if (form_.request() != Request::kView && form_.request() != Request::kDelete) {
        int64_t code = 0;
        if (Select(&code)) w_.SetContents(kFtGrupo, nv::Value(static_cast<long long>(code)));
      }
      return;
    }
    form_.TakeEvent();
    if (e == Event::kOpenWindow) {
      if (form_.request() != Request::kInsert) w_.Disable(kFtNumero);
      if (form_.request() == Request::kDelete || form_.request() == Request::kView)
        w_.Disable(kFtGrupoBoton);
    }
    if (e == Event::kCloseWindow && changed_) {
      // The window closes: re-link the calls of the number written.
      std::string number = r.NROTEL.str();
      changed_ = false;
      RunRelink(number);
    }
  }

  bool GroupExists(int64_t code) {
    if (ta09_ == nullptr) return false;
    ta09_->rec<TA09Record>().GRUAGE.Set(code);
    return ta09_->TryFetch("TA09:TA09_CP") == 0;
  }
  bool Select(int64_t* code) {
    if (ta09_ == nullptr || Grupos_de_Agenda(true) != kCompleted) return false;
    int64_t v = 0;
    ta09_->rec<TA09Record>().GRUAGE.Scaled(&v);
    *code = v;
    return true;
  }
  void ShowGroup(int64_t code) {
    if (code != 0 && GroupExists(code)) {
      w_.SetText(kFtGrupoDesc, ta09_->rec<TA09Record>().DESGRU.str());
    } else {
      if (ta09_ != nullptr) ta09_->file().Clear();
      w_.SetText(kFtGrupoDesc, "");
    }
  }
  void GroupAccepted() {
    int64_t code = w_.Contents(kFtGrupo).AsInteger();
    const bool required = w_.control(kFtGrupo).def.required;
    if (code == 0 && required) {
      if (!Select(&code)) {
        w_.Select(kFtGrupo);
        return;
      }
    } else if (!CheckLookup(
                   &code, [this](int64_t c) { return GroupExists(c); },
                   [this](int64_t* c) { return Select(c); })) {
      w_.Select(kFtGrupo);
      return;
    }
    w_.SetContents(kFtGrupo, nv::Value(static_cast<long long>(code)));
    ShowGroup(code);
  }

  // Runs after the screen was taken into the buffer, before the write.
  bool BeforeWrite() {
    auto& r = re09_.rec<RE09Record>();
    const std::string number = r.NROTEL.str();
    if (form_.request() == Request::kInsert) {
      auto& a = alre09_.rec<RE09Record>();
      a.NROTEL = number;
      if (alre09_.TryFetch("ARE09:RE09_C1") == 0) {
        Message(A(" El número de teléfono ya existe en la base de datos."), A("Atención"),
                Icon::kExclamation, A("&Aceptar"), 1);
        w_.Close(kCancelled);
        return false;
      }
    }
    changed_ = true;
    nv::dict::DeriveNumberFields(r);
    return true;
  }

  Window& w_;
  FileAccess& re09_;
  FileAccess& alre09_;
  FileAccess* ta09_;
  UpdateForm form_;
  bool changed_ = false;
};

}  // namespace

int Ficha_Telefono(Request request) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return kCancelled;
  FileAccess* re09 = dic->Access("FXRE09");
  FileAccess* alre09 = dic->Access("ALRE09");
  FileAccess* ta09 = dic->Access("FXTA09");
  if (re09->UseFile() != 0) return kCancelled;
  if (alre09->UseFile() != 0) {
    re09->Close();
    return kCancelled;
  }
  const bool ta09_open = ta09->UseFile() == 0;
  int response = kCancelled;
  {
    Window w(FichaTelefonoWindow());
    NumberForm form(w, *re09, *alre09, ta09_open ? ta09 : nullptr, request);
    response = form.Run();
  }
  if (ta09_open) ta09->Close();
  alre09->Close();
  re09->Close();
  return response;
}

}  // namespace agenda
