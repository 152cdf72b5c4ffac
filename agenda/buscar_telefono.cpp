#include "agenda/buscar_telefono.h"

#include <memory>

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/browse.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
using nv::dict::MA11Record;
using nv::dict::RE09Record;

namespace {

// The owner's name of a number, read through a file of its own so that no
// list of the main window loses its buffer.
class OwnerNames {
 public:
  explicit OwnerNames(nv::dict::Dictionary& dic) : file_(dic.NewFile("FXMA11")) {
    if (file_ && file_->Open() != 0) file_.reset();
    key_ = file_ ? file_->key("MA11:MA11_CP") : nullptr;
  }
  ~OwnerNames() {
    if (file_) file_->Close();
  }
  std::string Name(int64_t code) {
    if (!file_ || key_ == nullptr || code == 0) return "";
    auto& r = file_->As<MA11Record>();
    r.CODIGO = int32_t(code);
    if (file_->Get(key_) != 0) return "";
    return r.NOMBRE.str();
  }

 private:
  std::unique_ptr<nv::File> file_;
  nv::KeyDecl* key_ = nullptr;
};

}  // namespace

WindowDef BuscarTelefonoWindow() {
  return WindowDef(
      A("Busqueda por número telefónico"),
      {Sheet(kBtSheet, {Tab(A("Teléfono"),
                            {Prompt(A("Número de teléfono/e-mail")),
                             Entry(kBtNumero, "@s40").Tip(A("Número de teléfono/e-mail"))},
                            kBtTab)}),
       List(kBtLista,
            {Col(A("Teléfono/e-mail"), "@s40", "RE09:NROTEL"),
             Col(A("Empresa/contacto"), "@s50", ""), Col(A("Comentario"), "@s30", "RE09:COMENT")}),
       Button(kBtSalir, A("&Salir"))});
}

void Buscar_Telefono() {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return;
  nv::dict::FileAccess* re09 = dic->Access("FXRE09");
  if (re09->UseFile() != 0) return;
  {
    OwnerNames owners(*dic);
    Window w(BuscarTelefonoWindow());
    Browse b(&re09->file());
    b.AddOrder(A("Teléfono"), "RE09:RE09_C1");
    b.SetOrder(0);
    std::vector<Column> cols = w.control(kBtLista).def.columns;
    auto& r = re09->rec<RE09Record>();
    cols[1].value = [&owners, &r] {
      int64_t code = 0;
      r.CODIGO.Scaled(&code);
      return nv::Value(owners.Name(code));
    };
    b.SetColumns(cols);
    w.AttachBrowse(kBtLista, &b);
    w.SetLocator(kBtNumero, kBtLista);
    w.Open();
    while (w.Accept()) {
      switch (w.Event()) {
        case Event::kOpenWindow:
          b.Reset();
          w.Display(kBtLista);
          w.Select(kBtNumero);
          break;
        case Event::kAccepted:
          if (w.Field() == kBtSalir) w.Close(kCompleted);
          break;
        default:
          break;
      }
    }
  }
  re09->Close();
}

}  // namespace agenda
