#include "agenda/ficha_common.h"

#include <vector>

#include "agenda/relink.h"
#include "agenda/text.h"
#include "host/dictionary/records.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/framework.h"

namespace agenda {

using nv::dict::FileAccess;
using nv::dict::MA11Record;
using nv::dict::RE09Record;
using nv::ui::Icon;

const EntryTexts kCompanyTexts = {"La empresa está siendo modificado por otro usuario.",
                                  "La empresa solicitada ha sido borrada."};
const EntryTexts kContactTexts = {"El contacto está siendo modificado por otro usuario.",
                                  "El contacto solicitado ha sido borrado."};

namespace {

constexpr int kErrNotFound = 35;
constexpr int kErrHeld = 43;
int hold_timeout = 1;
RelinkHook relink_hook;

}  // namespace

int HoldTimeout() {
  return hold_timeout;
}
void SetHoldTimeout(int seconds) {
  hold_timeout = seconds;
}

bool HoldEntry(FileAccess& ma11, int32_t code, const EntryTexts& texts) {
  for (;;) {
    ma11.rec<MA11Record>().CODIGO = code;
    ma11.file().Hold(hold_timeout);
    const int err = ma11.TryFetch("MA11:MA11_CP");
    if (err == 0) return true;
    if (err == kErrHeld) {
      // 1 "&Cancelar", 2 "&Reintentar".
      if (nv::ui::Message(A(texts.held), A("Atención"), Icon::kQuestion, A("&Cancelar|&Reintentar"),
                          2) == 2)
        continue;
      return false;
    }
    if (err == kErrNotFound) {
      nv::ui::Message(A(texts.deleted), A("Atención"), Icon::kExclamation, A("&Aceptar"), 1);
      return false;
    }
    // Any other failure: the framework's error manager says what it was.
    nv::ui::CurrentErrorReporter().ShowError();
    return false;
  }
}

int32_t NewEntryCode(FileAccess& ma11) {
  auto& r = ma11.rec<MA11Record>();
  int32_t code = 1;
  if (ma11.file().Set() == 0) {
    // Deleted records in file order are passed over.
    int err = ma11.file().Previous();
    for (int64_t guard = ma11.file().Records(); err == 35 && guard >= 0; --guard)
      err = ma11.file().Previous();
    if (err == 0) {
      code = r.CODIGO + 1;
    } else if (ma11.file().Records() > 0) {
      code = 0;  // a store that cannot read backwards in file order
    }
  }
  if (code == 0) {
    r.CODIGO = 0;
    ma11.file().Clear();
    return 0;  // the dictionary numbers it: highest code + 1
  }
  if (code < 1) code = 1;
  // Records of deleted entries are re-used: the last one in file order need
  // not hold the highest code.
  r.CODIGO = code;
  if (ma11.TryFetch("MA11:MA11_CP") == 0) {
    r.CODIGO = 0;
    ma11.file().Clear();
    return 0;  // the dictionary numbers it: highest code + 1
  }
  return code;
}

int32_t AddProvisional(FileAccess& ma11, bool contact, int32_t company, int32_t responsible,
                       int32_t today) {
  // Two stations may compute the same code or clock text at once: try again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int32_t code = NewEntryCode(ma11);
    ma11.file().Clear();
    auto& r = ma11.rec<MA11Record>();
    r.CODIGO = code;
    r.FECALT.set_day(today);
    r.NOMBRE = std::to_string(nv::GetEnv()->Clock() + attempt);
    r.DIRECC.Clear();
    r.LOCALI.Clear();
    r.PROVIN.Clear();
    r.CODRUB.Set(0);
    r.CODRES.Set(responsible);
    r.CLIENT = 0;
    r.CODEMP = contact ? company : 0;
    r.CARGOC.Clear();
    r.CUITNO = contact ? "0" : "";
    r.CONIVA = "Exento";
    r.CODPOS.Clear();
    r.ESEMPR = "P";
    ma11.file().SetMemoText(0, "");
    if (ma11.TryInsert() == 0) return r.CODIGO;
  }
  nv::ui::CurrentErrorReporter().ShowError();
  return 0;
}

bool NameTaken(FileAccess& ma11) {
  nv::KeyDecl* k = ma11.key("MA11:MA11_C1");
  return k != nullptr && ma11.file().Duplicate(k);
}

void NameTakenMessage() {
  nv::ui::Message(A(" El nombre que se cargo ya existe en la agenda !"), A("Atención"),
                  Icon::kExclamation, A("&Aceptar"), 1);
}

void SetRelinkHook(RelinkHook hook) {
  relink_hook = std::move(hook);
}

void RunRelink(std::string_view number) {
  if (relink_hook) {
    relink_hook(number);
  } else {
    Actualizar_MOyTR(number);
  }
}

void DeleteNumbers(int32_t code) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  FileAccess* re09 = dic->Access("FXRE09");
  if (re09->UseFile() != 0) return;
  auto& r = re09->rec<RE09Record>();
  for (;;) {
    re09->file().Clear();
    r.CODIGO.Set(code);
    r.NROTEL.Clear();
    if (re09->SetOrder("RE09:RE09_CP") != 0 || re09->Next() != 0) break;
    int64_t owner = 0;
    if (!r.CODIGO.Scaled(&owner) || owner != code) break;
    const std::string number = r.NROTEL.str();
    if (re09->Delete() != 0) break;  // reported; never loop on a record that stays
    RunRelink(number);
  }
  re09->Close();
}

void ProcessContacts(int32_t company) {
  if (company == 0) return;  // contacts without company are no one's
  nv::dict::Dictionary* dic = nv::dict::Dic();
  FileAccess* alma11 = dic->Access("ALMA11");
  if (alma11->UseFile() != 0) return;
  auto& r = alma11->rec<MA11Record>();
  // The company's contacts in key order (code and name as read).
  std::vector<std::pair<int32_t, std::string>> contacts;
  alma11->file().Clear();
  r.CODEMP = company;
  if (alma11->SetOrder("AMA11:MA11_C4") == 0) {
    while (alma11->Next() == 0 && r.CODEMP == company) {
      contacts.emplace_back(r.CODIGO, r.NOMBRE.str());
    }
  }
  for (const auto& [code, name] : contacts) {
    r.CODIGO = code;
    alma11->file().Hold(hold_timeout);
    const int err = alma11->TryFetch("AMA11:MA11_CP");
    if (err == kErrHeld) {
      nv::ui::Message(A(" El contacto ") + name +
                          A(" esta siendo modificado por otro usuario.|               No puede "
                            "ser borrado."),
                      A("Atención"), Icon::kExclamation, A("&Aceptar"), 1);
      continue;
    }
    if (err != 0) continue;  // gone meanwhile
    if (r.CODEMP == company) {
      const std::string clipped = r.NOMBRE.str();
      if (nv::ui::Message(A(" Desea borrar el contacto ") + clipped + " ?", A("ATENCION"),
                          Icon::kQuestion, A("Si|No"), 2) == 1) {
        DeleteNumbers(code);
        r.CODIGO = code;
        if (alma11->TryFetch("AMA11:MA11_CP") == 0) alma11->Delete();
      } else {
        r.CODEMP = 0;
        alma11->Update();
      }
    }
    alma11->file().Release();
  }
  alma11->Close();
}

bool CheckLookup(int64_t* code, const std::function<bool(int64_t)>& exists,
                 const std::function<bool(int64_t*)>& select) {
  if (*code == 0) return true;
  if (exists(*code)) return true;
  return select(code);
}

void AddNumberList(std::vector<nv::ui::ControlDef>* controls, const std::string& list_tip) {
  using namespace nv::ui;
  controls->push_back(List(kFcTelefonos,
                           {Col(A("Teléfono/e-mail"), "@s40", "RE09:NROTEL"),
                            Col(A("Comentario"), "@s30", "RE09:COMENT")},
                           list_tip));
  controls->push_back(Button(kFcTelAgregar, A("A&gregar")));
  controls->push_back(Button(kFcTelModificar, A("M&odificar")));
  controls->push_back(Button(kFcTelBorrar, A("B&orrar")));
}

nv::ui::WindowDef FichaWindow(const std::string& title,
                              const std::vector<nv::ui::ControlDef>& general) {
  using namespace nv::ui;
  return WindowDef(
      title,
      {Sheet(kFcSheet, {Tab(A("&General"), general, kFcTabGeneral),
                        Tab(A("&Comentarios"), {TextBox(kFcComentarios)}, kFcTabComentarios)}),
       Button(kFcAceptar, A("&Aceptar")), Button(kFcCancelar, A("&Cancelar"))});
}

}  // namespace agenda
