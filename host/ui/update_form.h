// Update forms: a window whose entries are bound to the fields of a record
// buffer, run for a request (insert "A", change "M", delete "B", or view).
//
//   int Ficha_Rubros(nv::ui::Request request) {
//     nv::ui::Window w(kFichaRubro);
//     nv::ui::UpdateForm form(w, ta02, request);
//     form.SetCaptions("Agregando un nuevo Rubro", "Modificando un Rubro",
//                      "Borrando un Rubro", "View Record");
//     form.SetButtons(kAceptar, kCancelar);
//     w.Open();
//     while (w.Accept()) form.TakeEvent();
//     return form.response();
//   }
//
// On opening the bound controls show the buffer (through their pictures);
// for a delete or a view they are disabled. OK takes the controls back into
// the buffer and writes: ADD, PUT or, after the framework's confirmation,
// DELETE; a failed write is reported by the error reporter and the form
// stays open. Cancel or closing the window answers kCancelled.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/runtime/export.h"
#include "host/ui/browse.h"
#include "host/ui/window.h"

namespace nv {
class File;
}

namespace nv::ui {

// The framework's delete confirmation (source texts, UTF-8; shown converted).
inline constexpr const char* kDeleteCaption = "Confirmación";
inline constexpr const char* kDeleteQuestion = "¿Está seguro que desea borrar este registro?";
inline constexpr const char* kDeleteButtons = "&Sí|&No";

class NV_API UpdateForm {
 public:
  // Every control of the window whose definition names a field is bound.
  UpdateForm(Window& window, nv::File& file, Request request);

  void Bind(ControlId control, std::string field_label);
  void SetCaptions(std::string insert, std::string change, std::string remove, std::string view);
  void SetButtons(ControlId ok, ControlId cancel);
  // Checked before writing; false keeps the form open (the check shows its
  // own message).
  void SetCheck(std::function<bool()> check) { check_ = std::move(check); }

  // Handles the current event of the window; true when it was the form's.
  bool TakeEvent();
  // Buffer -> controls, controls -> buffer.
  void Display();
  void Take();
  // Writes as requested (with the delete confirmation); true when written
  // and the window is closing with kCompleted.
  bool Save();

  Request request() const { return request_; }
  int response() const { return window_.result() == kCompleted ? kCompleted : kCancelled; }

 private:
  struct Binding {
    ControlId control;
    std::string field;
  };
  Window& window_;
  nv::File& file_;
  Request request_;
  std::vector<Binding> bindings_;
  std::string captions_[4];
  ControlId ok_ = kNoControl, cancel_ = kNoControl;
  std::function<bool()> check_;
};

}  // namespace nv::ui
