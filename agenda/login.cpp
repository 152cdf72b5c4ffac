#include "agenda/login.h"

#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/platform/platform.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"
#include "host/ui/backend.h"
#include "host/ui/window.h"

namespace agenda {

namespace {

using namespace nv::ui;

WindowDef LoginWindow() {
  return WindowDef(A("Seguridad"), {Image(kLoginPicture, "login"), Prompt(A("Nombre:")),
                                    Entry(kLoginNombre, "@s30"), Prompt(A("Contraseña:")),
                                    Entry(kLoginClave, "@s8").Password(),
                                    Button(kLoginAceptar, A("Aceptar")).Default().Closing(),
                                    Button(kLoginCancelar, A("Cancelar"))})
      .Timer(kLoginTimer);
}

// Checks the typed name and password against FXTA01; the user's code or 0.
int32_t CheckUser(nv::dict::FileAccess& ta01, std::string_view name, std::string_view password) {
  auto& r = ta01.rec<nv::dict::TA01Record>();
  r.NOMUSR = nv::Clip(name);
  r.CLAVE = nv::Clip(password);
  if (ta01.TryFetch("TA01:TA01_C1") != 0) return 0;
  if (r.NOMUSR.clipped() != nv::Clip(name) || r.CLAVE.clipped() != nv::Clip(password)) return 0;
  return int32_t(Int(r.CODUSR));
}

}  // namespace

LoginAnswer Seguridad() {
  LoginAnswer answer;
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return answer;
  nv::dict::FileAccess* ta01 = dic->Access("FXTA01");
  nv::dict::FileAccess* mo04 = dic->Access("FXMO04");
  // FXMO04 is opened and closed with the window and nothing of it is read:
  // a missing file is no reason for a message at login.
  nv::dict::ErrorReporter* reporter = dic->reporter();
  dic->set_reporter(nullptr);
  const bool mo04_open = mo04->UseFile() == 0;
  dic->set_reporter(reporter);
  const bool ta01_open = ta01->UseFile() == 0;

  Window w(LoginWindow());
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        ta01->file().Clear();
        w.Select(kLoginNombre);
        break;
      case Event::kTimer:
        answer.code = 0;
        w.Close(kCancelled);
        break;
      case Event::kAccepted:
        if (w.Field() == kLoginAceptar) {
          answer.code = ta01_open ? CheckUser(*ta01, w.Text(kLoginNombre), w.Text(kLoginClave)) : 0;
          if (answer.code == 0) {
            Message(A(" Usuario o contraseña incorrecta !!!"), A("Atención"), Icon::kError,
                    A("&Aceptar"), 1);
          } else {
            dic->globals().ATRUSR = ta01->rec<nv::dict::TA01Record>().ATRUSR.view();
          }
          w.SetResult(answer.code != 0 ? kCompleted : kCancelled);
        } else if (w.Field() == kLoginCancelar) {
          answer.code = 0;
          answer.halt = true;
          w.Close(kCancelled);
        }
        break;
      default:
        break;
    }
  }
  if (ta01_open) ta01->Close();
  if (mo04_open) mo04->Close();
  return answer;
}

bool Acceso() {
  nv::dict::Dictionary* dic = nv::dict::Dic();
  if (dic == nullptr) return false;
  auto& globals = dic->globals();
  if (nv::platform::FindTopLevelWindow(kMainProgramTitle)) {
    const long code = nv::GetProfileInt("", kUserSection, "CODIGO", 0);
    globals.CODUSR.Set(code);
    if (code != 0 && Int(globals.CODUSR) == code) return true;
  }
  globals.CODUSR.Set(0);
  for (int attempt = 0; attempt < kLoginAttempts && Int(globals.CODUSR) == 0; ++attempt) {
    const LoginAnswer a = Seguridad();
    if (a.halt) return false;
    globals.CODUSR.Set(a.code);
  }
  return Int(globals.CODUSR) != 0;
}

}  // namespace agenda
