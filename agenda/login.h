// Login: single sign-on through the suite's main program, else the login
// window "Seguridad" at most three times.
//
//   Acceso():  window "Fonvex Windows V2" exists and CODIGO of [FXQ-USR] in
//              the default profile is non-zero -> DIC:CODUSR = CODIGO, done;
//              else DIC:CODUSR = 0 and Seguridad() runs up to 3 times until
//              it answers a non-zero code. Still 0 -> halt.
//   Seguridad(): clears the FXTA01 buffer; "Aceptar" fetches the user by
//              name and password (TA01:TA01_C1) and accepts only an exact
//              (case-sensitive, trailing blanks ignored) match; a failure
//              shows " Usuario o contraseña incorrecta !!!". "Cancelar"
//              halts. The 20-second timer closes the window as a failure.
#pragma once

#include <cstdint>

#include "host/ui/window_def.h"

namespace agenda {

inline constexpr const char* kMainProgramTitle = "Fonvex Windows V2";
inline constexpr const char* kUserSection = "FXQ-USR";
inline constexpr int kLoginAttempts = 3;
inline constexpr int kLoginTimer = 2000;  // hundredths of a second

// Control ids of the login window.
enum LoginControl : nv::ui::ControlId {
  kLoginPicture = 1,
  kLoginNombre,
  kLoginClave,
  kLoginAceptar,
  kLoginCancelar,
};

struct LoginAnswer {
  int32_t code = 0;   // accepted user, 0 = none
  bool halt = false;  // "Cancelar": the program halts
};

// The login window; the caption is "Seguridad".
LoginAnswer Seguridad();

// The whole login. Answers false when the program must halt (no user).
bool Acceso();

}  // namespace agenda
