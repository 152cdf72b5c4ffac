#include "agenda/about.h"

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;

std::string CentralLine(int number, std::string_view name) {
  return A("Central telefónica Nro. ") + std::to_string(number) + " (" +
         std::string(nv::Clip(name)) + ").";
}

void Acerca_De() {
  Window w(WindowDef(
      A("Acerca de la agenda del Fonvex Windows"),
      {Sheet(kAboutSheet,
             {Tab(A("Acerca..."), {Image(kAboutPicture, "agenda"), Prompt("", kAboutCentral)}),
              Tab(A("Versiones"), {Prompt(A(kAgendaVersion), kAboutVersion)})}),
       Button(kAboutSalir, A("Salir")).Default()}));
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow: {
        nv::dict::Dictionary* dic = nv::dict::Dic();
        if (dic == nullptr) break;
        const int number = dic->globals().CAPTURA.NROCEN;
        std::string name;
        nv::dict::FileAccess* cent = dic->Access("CENTRAL");
        if (cent->UseFile() == 0) {
          auto& r = cent->rec<nv::dict::CENTRecord>();
          cent->file().Clear();
          r.NROCEN = int16_t(number);
          if (cent->TryFetch("CENT:CP_CENT") == 0) name = r.NOMCEN.str();
          cent->Close();
        }
        w.SetText(kAboutCentral, CentralLine(number, name));
        break;
      }
      case Event::kAccepted:
        if (w.Field() == kAboutSalir) w.Close(kCompleted);
        break;
      default:
        break;
    }
  }
}

}  // namespace agenda
