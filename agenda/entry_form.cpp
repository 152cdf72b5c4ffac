// The flow shared by the company and contact forms.
//
// Invariants:
//   - From opening to closing the form's entry is held in FXMA11 (the only
//     exception: while the contact form runs from the company form, which
//     releases its hold first and takes it again afterwards, since one file
//     holds one record at a time).
//   - For "A" the entry exists from the moment the form opens, as a
//     provisional 'P' record with a unique clock-text name, so numbers and
//     contacts can be attached to its code; it becomes 'E'/'C' on save and
//     is removed with its numbers (and, for a company, its contacts are
//     processed) when the form is abandoned.
//   - `done_` is set by a save or a delete: the close that follows asks no
//     cancel question and releases nothing more.
//   - The screen is the truth while editing: Aceptar writes every screen
//     value into the buffer before the unique-name test and the update, so
//     buffer changes made by nested procedures are harmless.
//
// States:  opening (hold loop) -> editing -> saving | abandoning -> closed
#include <algorithm>

#include "agenda/ficha_common.h"
#include "agenda/ficha_contacto.h"
#include "agenda/ficha_empresa.h"
#include "agenda/ficha_telefono.h"
#include "agenda/lookups.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/browse.h"
#include "host/ui/framework.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::FileAccess;
using nv::dict::MA11Record;
using nv::dict::TA01Record;
using nv::dict::TA02Record;

namespace {

constexpr int kNotFound = 35;

long long L(int64_t v) {
  return static_cast<long long>(v);
}

class EntryForm {
 public:
  EntryForm(bool contact, std::string_view request, int32_t code, nv::dict::Dictionary& dic)
      : contact_(contact),
        request_(request.empty() ? 'M' : char(nv::UpperChar(request[0]))),
        arg_(code),
        dic_(dic),
        ma11_(*dic.Access("FXMA11")),
        alma11_(*dic.Access("ALMA11")),
        re09_(*dic.Access("FXRE09")),
        ta01_(*dic.Access("FXTA01")),
        ta02_(*dic.Access("FXTA02")),
        w_(contact ? FichaContactoWindow() : FichaEmpresaWindow()),
        telefonos_(&re09_.file()),
        contactos_(&alma11_.file()) {}

  int Run() {
    if (!UseFiles()) return kCancelled;
    const int result = Open() ? Loop() : kCancelled;
    CloseFiles();
    return result;
  }

 private:
  const EntryTexts& texts() const { return contact_ ? kContactTexts : kCompanyTexts; }
  MA11Record& rec() { return ma11_.rec<MA11Record>(); }

  bool UseFiles() {
    for (FileAccess* a : {&ma11_, &alma11_, &re09_, &ta01_, &ta02_}) {
      if (a->UseFile() != 0) {
        CloseFiles();
        return false;
      }
      used_.push_back(a);
    }
    return true;
  }
  void CloseFiles() {
    for (auto it = used_.rbegin(); it != used_.rend(); ++it) (*it)->Close();
    used_.clear();
  }

  // Opening: the provisional record for "A", then the hold loop.
  bool Open() {
    if (request_ == 'A') {
      const int32_t today = nv::GetEnv()->Today();
      int64_t responsible = 0;
      dic_.globals().CODUSR.Scaled(&responsible);
      code_ = AddProvisional(ma11_, contact_, contact_ ? arg_ : 0, int32_t(responsible), today);
      if (code_ == 0) return false;
      if (!HoldEntry(ma11_, code_, texts())) {
        // The form does not open: the provisional record goes again.
        rec().CODIGO = code_;
        if (ma11_.TryFetch("MA11:MA11_CP") == 0 && rec().ESEMPR == "P") ma11_.TryDelete();
        return false;
      }
      return true;
    }
    code_ = arg_;
    return HoldEntry(ma11_, code_, texts());
  }

  int Loop() {
    telefonos_.AddOrder(A("Teléfono"), "RE09:RE09_CP");
    telefonos_.SetRange(nv::Value(L(code_)));
    telefonos_.SetLocatorField("RE09:NROTEL");
    w_.AttachBrowse(kFcTelefonos, &telefonos_);
    if (!contact_) {
      contactos_.AddOrder(A("Nombre"), "AMA11:MA11_C4");
      contactos_.SetRange(nv::Value(L(code_)));
      auto& c = alma11_.rec<MA11Record>();
      contactos_.SetFilter([&c] { return c.ESEMPR == "C"; }, {"AMA11:ESEMPR"});
      w_.AttachBrowse(kFcContactos, &contactos_);
    }
    w_.SetResult(kCancelled);
    w_.Open();
    while (w_.Accept()) {
      switch (w_.Event()) {
        case Event::kOpenWindow:
          Opened();
          break;
        case Event::kAccepted:
          Accepted(w_.Field());
          break;
        case Event::kCloseWindow:
          Closing();
          break;
        default:
          break;
      }
    }
    return w_.result() == kCompleted ? kCompleted : kCancelled;
  }

  void Opened() {
    static const char* kCaptions[2][3] = {
        {"Agregando una nueva empresa", "Modificando una empresa", "Borrando una empresa"},
        {"Agregando un nuevo contacto", "Modificando un contacto", "Borrando un contacto"}};
    const int i = request_ == 'A' ? 0 : request_ == 'B' ? 2 : 1;
    w_.SetCaption(A(kCaptions[contact_][i]));
    if (request_ == 'A') rec().ESEMPR = contact_ ? "C" : "E";
    Show();
    if (request_ == 'A') w_.SetText(kFcNombre, "");
    telefonos_.Reset();
    w_.Display(kFcTelefonos);
    if (!contact_) {
      contactos_.Reset();
      w_.Display(kFcContactos);
    }
    if (request_ == 'B') {
      for (const ControlState& c : w_.controls()) {
        const ControlId id = c.def.id;
        if (id == kNoControl || id == kFcAceptar || id == kFcCancelar || id == kFcSheet ||
            id == kFcTabGeneral || id == kFcTabComentarios)
          continue;
        w_.Disable(id);
      }
    } else {
      ContactButtons();
    }
    w_.Select(kFcNombre);
  }

  // Buffer -> screen, with the looked-up texts.
  void Show() {
    MA11Record& r = rec();
    int64_t v = 0;
    w_.SetContents(kFcResponsable, nv::Value(L(r.CODRES.Scaled(&v) ? v : 0)));
    w_.SetContents(kFcAlta, nv::Value(L(r.FECALT.day())));
    w_.SetText(kFcNombre, r.NOMBRE.str());
    w_.SetText(kFcDireccion, r.DIRECC.str());
    w_.SetText(kFcCodPostal, r.CODPOS.str());
    w_.SetText(kFcLocalidad, r.LOCALI.str());
    w_.SetText(kFcProvincia, r.PROVIN.str());
    w_.SetText(kFcComentarios, ma11_.file().MemoText(0));
    if (contact_) {
      w_.SetText(kFcCargo, r.CARGOC.str());
      w_.SetContents(kFcEmpresa, nv::Value(L(r.CODEMP)));
      ShowCompany(r.CODEMP);
    } else {
      w_.SetValue(kFcCliente, r.CLIENT ? 1 : 0);
      w_.SetContents(kFcRubro, nv::Value(L(r.CODRUB.Scaled(&v) ? v : 0)));
      int iva = 0;
      for (int k = 0; k < 6; ++k) {
        if (r.CONIVA.clipped() == A(kCondicionesIva[k])) iva = k + 1;
      }
      w_.SetValue(kFcIva, iva);
      w_.SetContents(kFcCuit, nv::Value(r.CUITNO.str()));
      ShowCategory(Code(kFcRubro));
    }
    ShowUser(Code(kFcResponsable));
  }

  // Screen -> buffer (the name clipped, the kind set).
  void Take() {
    MA11Record& r = rec();
    r.FECALT.set_day(int32_t(w_.Contents(kFcAlta).AsInteger()));
    r.NOMBRE = nv::Clip(w_.Text(kFcNombre));
    r.DIRECC = w_.Text(kFcDireccion);
    r.LOCALI = w_.Text(kFcLocalidad);
    r.PROVIN = w_.Text(kFcProvincia);
    r.CODRES.Set(Code(kFcResponsable));
    ma11_.file().SetMemoText(0, w_.Text(kFcComentarios));
    r.CODPOS = w_.Text(kFcCodPostal);
    if (contact_) {
      r.CODEMP = int32_t(Code(kFcEmpresa));
      r.CARGOC = w_.Text(kFcCargo);
      r.ESEMPR = "C";
    } else {
      r.CODRUB.Set(Code(kFcRubro));
      r.CLIENT = w_.Value(kFcCliente) ? 1 : 0;
      r.CUITNO = w_.Contents(kFcCuit).AsText();  // the digits only
      const int iva = w_.Value(kFcIva);
      r.CONIVA = iva >= 1 && iva <= 6 ? A(kCondicionesIva[iva - 1]) : std::string();
      r.ESEMPR = "E";
    }
  }

  int64_t Code(ControlId id) const { return w_.Contents(id).AsInteger(); }

  // --- looked-up texts
  bool UserExists(int64_t c) {
    ta01_.rec<TA01Record>().CODUSR.Set(c);
    return ta01_.TryFetch("TA01:TA01_CP") == 0;
  }
  bool CategoryExists(int64_t c) {
    ta02_.rec<TA02Record>().CODRUB.Set(c);
    return ta02_.TryFetch("TA02:TA02_CP") == 0;
  }
  bool EntryExists(int64_t c) {
    alma11_.rec<MA11Record>().CODIGO = int32_t(c);
    return alma11_.TryFetch("AMA11:MA11_CP") == 0;
  }
  void ShowUser(int64_t c) {
    if (c != 0 && UserExists(c)) {
      w_.SetText(kFcResponsableNombre, ta01_.rec<TA01Record>().NOMUSR.str());
    } else {
      ta01_.file().Clear();
      w_.SetText(kFcResponsableNombre, "");
    }
  }
  void ShowCategory(int64_t c) {
    if (c != 0 && CategoryExists(c)) {
      w_.SetText(kFcRubroDesc, ta02_.rec<TA02Record>().DESRUB.str());
    } else {
      ta02_.file().Clear();
      w_.SetText(kFcRubroDesc, "");
    }
  }
  void ShowCompany(int64_t c) {
    if (c != 0 && EntryExists(c)) {
      w_.SetText(kFcEmpresaNombre, alma11_.rec<MA11Record>().NOMBRE.str());
    } else {
      alma11_.file().Clear();
      w_.SetText(kFcEmpresaNombre, "");
    }
  }

  // The selectors of the form's run table.
  bool SelectUser(int64_t* c) {
    if (Usuarios_Seleccionar() != kCompleted) return false;
    int64_t v = 0;
    ta01_.rec<TA01Record>().CODUSR.Scaled(&v);
    *c = v;
    return true;
  }
  bool SelectCategory(int64_t* c) {
    if (Rubros(true) != kCompleted) return false;
    int64_t v = 0;
    ta02_.rec<TA02Record>().CODRUB.Scaled(&v);
    *c = v;
    return true;
  }
  bool SelectCompany(int64_t* c) {
    if (Empresas_Seleccionar() != kCompleted) return false;
    *c = alma11_.rec<MA11Record>().CODIGO;
    return true;
  }

  // A code field with a lookup was accepted.
  void LookupAccepted(ControlId field, const std::function<bool(int64_t)>& exists,
                      const std::function<bool(int64_t*)>& select,
                      const std::function<void(int64_t)>& show) {
    int64_t c = Code(field);
    bool ok = true;
    if (c == 0 && w_.control(field).def.required) {
      ok = select(&c);
    } else {
      ok = CheckLookup(&c, exists, select);
    }
    if (!ok) {
      w_.Select(field);
      return;
    }
    w_.SetContents(field, nv::Value(L(c)));
    show(c);
  }
  void LookupButton(ControlId field, const std::function<bool(int64_t*)>& select,
                    const std::function<void(int64_t)>& show) {
    int64_t c = 0;
    if (!select(&c)) return;
    w_.SetContents(field, nv::Value(L(c)));
    show(c);
  }

  void CompanyAccepted() {
    LookupAccepted(
        kFcEmpresa, [this](int64_t c) { return EntryExists(c); },
        [this](int64_t* c) { return SelectCompany(c); }, [](int64_t) {});
    // Only a company can be a contact's company.
    const int64_t c = Code(kFcEmpresa);
    if (c != 0 && !(EntryExists(c) && alma11_.rec<MA11Record>().ESEMPR == "E")) {
      w_.SetContents(kFcEmpresa, nv::Value(0));
      alma11_.file().Clear();
      w_.SetText(kFcEmpresaNombre, "");
      w_.Select(kFcEmpresa);
      return;
    }
    ShowCompany(c);
  }

  void NameAccepted() {
    // The buffer may hold the entry as read back from the file (a new
    // entry is still 'P' there): the test is among entries of the form's kind.
    rec().NOMBRE = nv::Clip(w_.Text(kFcNombre));
    rec().ESEMPR = contact_ ? "C" : "E";
    if (NameTaken(ma11_)) {
      NameTakenMessage();
      w_.Select(kFcNombre);
    }
  }

  void Accepted(ControlId id) {
    switch (id) {
      case kFcNombre:
        NameAccepted();
        break;
      case kFcResponsable:
        LookupAccepted(
            id, [this](int64_t c) { return UserExists(c); },
            [this](int64_t* c) { return SelectUser(c); }, [this](int64_t c) { ShowUser(c); });
        break;
      case kFcResponsableBoton:
        LookupButton(
            kFcResponsable, [this](int64_t* c) { return SelectUser(c); },
            [this](int64_t c) { ShowUser(c); });
        break;
      case kFcRubro:
        LookupAccepted(
            id, [this](int64_t c) { return CategoryExists(c); },
            [this](int64_t* c) { return SelectCategory(c); },
            [this](int64_t c) { ShowCategory(c); });
        break;
      case kFcRubroBoton:
        LookupButton(
            kFcRubro, [this](int64_t* c) { return SelectCategory(c); },
            [this](int64_t c) { ShowCategory(c); });
        break;
      case kFcEmpresa:
        CompanyAccepted();
        break;
      case kFcEmpresaBoton:
        LookupButton(
            kFcEmpresa, [this](int64_t* c) { return SelectCompany(c); },
            [this](int64_t c) { ShowCompany(c); });
        break;
      case kFcTelAgregar:
        Numbers(Request::kInsert);
        break;
      case kFcTelefonos:  // double-click or Enter on a number
      case kFcTelModificar:
        Numbers(Request::kChange);
        break;
      case kFcTelBorrar:
        Numbers(Request::kDelete);
        break;
      case kFcConAgregar:
        Contact("A");
        break;
      case kFcContactos:
      case kFcConModificar:
        Contact("M");
        break;
      case kFcConBorrar:
        Contact("B");
        break;
      case kFcAceptar:
        Aceptar();
        break;
      case kFcCancelar:
        w_.Close(kCancelled);
        break;
      default:
        break;
    }
  }

  void Numbers(Request r) {
    if (request_ == 'B') return;
    rec().CODIGO = code_;  // the number form takes its owner from FXMA11
    telefonos_.RunUpdate(r, [](Request q) { return Ficha_Telefono(q); });
    w_.Display(kFcTelefonos);
  }

  void Contact(std::string_view request) {
    if (contact_ || request_ == 'B') return;
    int32_t c = code_;
    if (request != "A") {
      if (contactos_.empty() || !contactos_.LoadHighlighted()) return;
      c = alma11_.rec<MA11Record>().CODIGO;
    }
    // One file holds one record: the contact form takes the hold.
    ma11_.file().Release();
    Ficha_Contacto(request, c);
    if (!HoldEntry(ma11_, code_, texts())) {
      // Without its entry the form cannot save: it ends.
      done_ = true;
      w_.Close(kCancelled);
      return;
    }
    if (contactos_.empty()) {
      contactos_.Reset();
    } else {
      contactos_.Refresh();
    }
    w_.Display(kFcContactos);
    ContactButtons();
  }

  void ContactButtons() {
    if (contact_) return;
    if (contactos_.empty()) {
      w_.Disable(kFcConModificar);
      w_.Disable(kFcConBorrar);
    } else {
      w_.Enable(kFcConModificar);
      w_.Enable(kFcConBorrar);
    }
  }

  void Aceptar() {
    if (request_ == 'B') {
      const char* question =
          contact_ ? " Si elimina el contacto se eliminaran todos sus teléfonos.|| Está seguro "
                     "que desea borrar este contacto ?"
                   : " Si elimina la empresa se eliminaran todos sus contactos y teléfonos.|| "
                     "Está seguro que desea borrar esta empresa ?";
      if (Message(A(question), A("ATENCION"), Icon::kQuestion, A("Si|No"), 2) != 1) return;
      if (!DeleteEntryAndDependants()) return;  // said why; the form stays open
      done_ = true;
      w_.Close(kCompleted);
      return;
    }
    if (nv::Clip(w_.Text(kFcNombre)).empty()) {
      w_.Select(kFcNombre);
      return;
    }
    if (!Refetch()) {
      nv::ui::CurrentErrorReporter().ShowError();
      return;
    }
    Take();
    if (NameTaken(ma11_)) {
      NameTakenMessage();
      w_.Select(kFcNombre);
      return;
    }
    if (ma11_.Update() != 0) return;  // reported; the form stays open
    ma11_.file().Release();
    done_ = true;
    w_.Close(kCompleted);
  }

  // Deletes the form's own entry, then its numbers (re-linking their calls)
  // and, for a company, processes its contacts; releases the hold. The
  // entry goes first: when the store refuses to delete it, the reason is
  // shown and nothing else is touched (false). An entry already gone
  // (deleted elsewhere) lets its numbers and contacts go too.
  bool DeleteEntryAndDependants() {
    rec().CODIGO = code_;
    int err = ma11_.TryFetch("MA11:MA11_CP");
    if (err == 0) err = ma11_.TryDelete();
    if (err != 0 && err != kNotFound) {
      const std::string why = nv::ErrorCode() == err ? nv::ErrorText() : nv::ErrorTextOf(err);
      Message(A(contact_ ? " No se pudo borrar el contacto" : " No se pudo borrar la empresa") +
                  " (error " + std::to_string(err) + ": " + why + ").|" +
                  A(contact_ ? " Sus teléfonos no se modificaron."
                             : " Sus contactos y teléfonos no se modificaron."),
              A("Atención"), Icon::kExclamation, A("&Aceptar"), 1);
      return false;
    }
    ma11_.file().Release();
    DeleteNumbers(code_);
    if (!contact_) ProcessContacts(code_);
    return true;
  }

  // Makes the form's entry the file's current record again when another
  // procedure read FXMA11 meanwhile (the hold stays).
  // False when it cannot be read: nothing may then be written over the
  // file's current record.
  bool Refetch() {
    if (rec().CODIGO == code_) return true;
    rec().CODIGO = code_;
    return ma11_.TryFetch("MA11:MA11_CP") == 0;
  }

  void Closing() {
    if (done_) return;
    if (request_ != 'A') {
      ma11_.file().Release();
      return;
    }
    const char* question =
        contact_ ? " Si cancela la operación el contacto y sus teléfonos seran eliminados.|| "
                   "Está seguro que desea cancelar la operación ?"
                 : " Si cancela la operación, se eliminara la empresa y todos sus teléfonos.|| "
                   "Está seguro que desea cancelar la operación ?";
    if (Message(A(question), A("ATENCION"), Icon::kQuestion, A("Si|No"), 2) != 1) {
      w_.KeepOpen();
      return;
    }
    // When the store refuses, the reason is shown and the provisional entry
    // stays with its numbers (shown in no list); nothing is lost.
    DeleteEntryAndDependants();
    done_ = true;
    w_.SetResult(kCancelled);
  }

  bool contact_;
  char request_;
  int32_t arg_;
  int32_t code_ = 0;
  bool done_ = false;
  nv::dict::Dictionary& dic_;
  FileAccess& ma11_;
  FileAccess& alma11_;
  FileAccess& re09_;
  FileAccess& ta01_;
  FileAccess& ta02_;
  std::vector<FileAccess*> used_;
  Window w_;
  Browse telefonos_;
  Browse contactos_;
};

}  // namespace

int RunEntryForm(bool contact, std::string_view request, int32_t code) {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return kCancelled;
  EntryForm form(contact, request, code, *dic);
  return form.Run();
}

}  // namespace agenda
