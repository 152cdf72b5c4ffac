// The modem and dialer settings, kept in the system's default profile, and
// the window "Configuración del módem" (Configuracion_Modem) that edits the
// modem's.
//
//   [FXQ-MODEM]     PORT, BAUDRATE, STOP, PARITY(NONE ODD EVEN), DATABITS,
//                   FLOWCTRL(CTS/RTS XON/XOFF DSR/DTR), PREFIJO, INITSTRING
//   [FXQ-DISCADOR]  INTENTOS, ESPERA, RETARDO (written by Discar)
//
// One table (kModemSettings) gives each modem entry its name, default,
// choices and prompt; reading, writing and the window's controls all come
// from it. Numbers are read by the runtime's integer rule, so a value that
// is not a number reads as the default.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "host/ui/window_def.h"

namespace agenda {

inline constexpr char kModemSection[] = "FXQ-MODEM";
inline constexpr char kDialerSection[] = "FXQ-DISCADOR";

enum ModemSetting : int {
  kPort,
  kBaudRate,
  kStop,
  kParity,
  kDataBits,
  kFlowCtrl,
  kPrefijo,
  kInitString,
  kModemSettingCount,
};

struct ModemSettingDef {
  const char* entry;    // profile entry name, as the profile holds it
  const char* def;      // default
  const char* choices;  // drop-list items separated by '|'; empty: free text
  bool number;          // read as an integer
  const char* prompt;   // UTF-8
};

inline constexpr std::array<ModemSettingDef, kModemSettingCount> kModemSettings = {{
    {"PORT", "COM2", "COM1|COM2|COM3|COM4|COM5|COM6|COM7|COM8", false, "Puerto:"},
    {"BAUDRATE", "9600", "300|600|1200|2400|4800|9600", true, "Baudios:"},
    {"STOP", "1", "1|2", true, "Stop:"},
    {"PARITY(NONE ODD EVEN)", "NONE", "NONE|ODD|EVEN", false, "Paridad:"},
    {"DATABITS", "8", "6|7|8", true, "Bits de datos:"},
    {"FLOWCTRL(CTS/RTS XON/XOFF DSR/DTR)", "CTS/RTS", "CTS/RTS|XON/XOFF|DSR/DTR", false,
     "Control de flujo:"},
    {"PREFIJO", "", "", false, "Prefijo:"},
    {"INITSTRING", "ATZ^M", "", false, "Inicialización:"},
}};
// Width of the free-text settings.
inline constexpr int kModemTextWidth = 20;

// The "FXQ-MODEM" settings as read (defaults for missing entries), with the
// serial parameters derived from them.
struct ModemConfig {
  std::array<std::string, kModemSettingCount> value;

  static ModemConfig Read();
  // Writes all eight entries at once; false when the profile cannot be
  // written (it then holds the old ones).
  bool Write() const;

  // "COM1" -> 0 ... "COM8" -> 7 (the digit minus 1); a name that is not
  // "COM" and one digit gives -1, which no port has.
  int PortIndex() const;
  long Baud() const;
  int StopBits() const;
  // 0 none, 1 odd, 2 even; anything else counts as none.
  int ParityCode() const;
  int DataBits() const;
  // Exactly one is set: "DSR/DTR", "XON/XOFF", anything else CTS/RTS.
  bool CtsRts() const { return !DsrDtr() && !XonXoff(); }
  bool XonXoff() const;
  bool DsrDtr() const;
  std::string Prefix() const;
  std::string InitString() const;
};

// The dialer's retry settings ("FXQ-DISCADOR"): defaults 3, 15, 5.
struct DialerConfig {
  long attempts = 3;  // INTENTOS
  long wait = 15;     // ESPERA, seconds per attempt
  long delay = 5;     // RETARDO, seconds between attempts

  static DialerConfig Read();
  bool Write() const;  // all three or none
};

// Controls of "Configuración del módem": one per setting, in table order
// (ModemControl), then the buttons.
inline constexpr nv::ui::ControlId ModemControl(int setting) {
  return 1 + setting;
}
enum ModemConfigControl : nv::ui::ControlId {
  kCmAceptar = ModemControl(kModemSettingCount),
  kCmCancelar,
};

// The window "Configuración del módem". Answers kCompleted once the eight
// entries are written, kCancelled otherwise.
nv::ui::WindowDef ConfiguracionModemWindow();
int Configuracion_Modem();

}  // namespace agenda
