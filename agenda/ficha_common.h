// What the company and contact forms share: holding an entry with the
// retry question, the code of a new entry, the provisional record, the
// unique-name test, the lookup fields and the cascades that delete an
// entry's numbers (re-linking the calls of each) and process a company's
// contacts.
//
// Every function works on the dictionary's shared files: FXMA11 (the form's
// entry), ALMA11 (contacts in cascades, companies in lookups) and FXRE09.
//
// Thread-safety: the program's main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/dictionary/dictionary.h"
#include "host/ui/window.h"
#include "host/ui/window_def.h"

namespace agenda {

// The texts of the hold loop, per form.
struct EntryTexts {
  const char* held;     // "La empresa está siendo modificado por otro usuario."
  const char* deleted;  // "La empresa solicitada ha sido borrada."
};
extern const EntryTexts kCompanyTexts;
extern const EntryTexts kContactTexts;

// Seconds a read with hold waits for another station (tests shorten it).
int HoldTimeout();
void SetHoldTimeout(int seconds);

// Fetches entry `code` into the FXMA11 buffer holding it. While another
// station holds it asks "Atención"/texts.held with "&Cancelar|&Reintentar";
// a missing entry shows texts.deleted. True when held.
bool HoldEntry(nv::dict::FileAccess& ma11, int32_t code, const EntryTexts& texts);

// The code of a new entry: the last record in file order plus 1 (1 for an
// empty file); when that code is taken already (records re-used after
// deletes), the highest code plus 1.
int32_t NewEntryCode(nv::dict::FileAccess& ma11);

// Adds the provisional 'P' record of a new entry. `company` is the contact's
// company (0 for a company). Answers the code added, 0 on failure.
int32_t AddProvisional(nv::dict::FileAccess& ma11, bool contact, int32_t company,
                       int32_t responsible, int32_t today);

// Whether another entry of the buffer's kind has the buffer's name.
bool NameTaken(nv::dict::FileAccess& ma11);
// The message " El nombre que se cargo ya existe en la agenda !".
void NameTakenMessage();

// Deletes every number of an entry, re-linking the calls of each.
void DeleteNumbers(int32_t code);
// Processes the contacts of a deleted or abandoned company.
void ProcessContacts(int32_t company);

// The re-linking run after a number was deleted (Actualizar_MOyTR; tests
// may count calls through it).
using RelinkHook = std::function<void(std::string_view number)>;
void SetRelinkHook(RelinkHook hook);
void RunRelink(std::string_view number);

// A code field with a lookup: 0 is "none"; any other value must exist
// (`exists`), else the selector runs (`select` answers kCompleted and
// leaves the chosen code in *code). False when the field must get the
// focus back.
bool CheckLookup(int64_t* code, const std::function<bool(int64_t)>& exists,
                 const std::function<bool(int64_t*)>& select);

}  // namespace agenda

namespace agenda {

// Controls of the company and contact forms (each uses those it shows).
enum FichaControl : nv::ui::ControlId {
  kFcSheet = 1,
  kFcTabGeneral,
  kFcTabComentarios,
  kFcResponsable,
  kFcResponsableBoton,
  kFcResponsableNombre,
  kFcCliente,
  kFcAlta,
  kFcNombre,
  kFcDireccion,
  kFcCodPostal,
  kFcRubro,
  kFcRubroBoton,
  kFcRubroDesc,
  kFcLocalidad,
  kFcProvincia,
  kFcIva,
  kFcCuit,
  kFcCargo,
  kFcEmpresa,
  kFcEmpresaBoton,
  kFcEmpresaNombre,
  kFcContactos,
  kFcConAgregar,
  kFcConModificar,
  kFcConBorrar,
  kFcTelefonos,
  kFcTelAgregar,
  kFcTelModificar,
  kFcTelBorrar,
  kFcComentarios,
  kFcAceptar,
  kFcCancelar,
};

// The VAT conditions of the drop list, in this order.
extern const char* const kCondicionesIva[6];

// What the company and contact forms share: the list of the entry's
// numbers with its Agregar/Modificar/Borrar buttons (`list_tip` its tip),
// and the window around the General tab: the Comentarios tab, Aceptar and
// Cancelar.
void AddNumberList(std::vector<nv::ui::ControlDef>* controls, const std::string& list_tip);
nv::ui::WindowDef FichaWindow(const std::string& title,
                              const std::vector<nv::ui::ControlDef>& general);

// Runs the company form (contact = false) or the contact form (true) for a
// request "A", "M" or "B" and a code; answers kCompleted after a save or a
// delete, else kCancelled.
int RunEntryForm(bool contact, std::string_view request, int32_t code);

}  // namespace agenda
