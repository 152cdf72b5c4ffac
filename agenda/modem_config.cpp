#include "agenda/modem_config.h"

#include <cctype>
#include <cstdlib>

#include "agenda/text.h"
#include "host/runtime/fixed_string.h"
#include "host/runtime/profile.h"
#include "host/ui/backend.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

long Number(const std::string& text) {
  return std::strtol(text.c_str(), nullptr, 10);
}

// The 1-based item of a drop list that a profile value names (case aside);
// a value outside the list shows the default instead.
int ItemOf(const ModemSettingDef& def, const std::string& value) {
  const std::vector<std::string> items = SplitBar(def.choices);
  int fallback = 1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (Upper(items[i]) == Upper(value)) return int(i) + 1;
    if (items[i] == def.def) fallback = int(i) + 1;
  }
  return fallback;
}

// A text a modem can take: printable ASCII only.
bool Printable(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) return false;
  }
  return true;
}

}  // namespace

ModemConfig ModemConfig::Read() {
  ModemConfig m;
  for (int i = 0; i < kModemSettingCount; ++i) {
    const ModemSettingDef& d = kModemSettings[size_t(i)];
    m.value[size_t(i)] =
        d.number ? std::to_string(nv::GetProfileInt("", kModemSection, d.entry, Number(d.def)))
                 : nv::GetProfileString("", kModemSection, d.entry, d.def);
  }
  return m;
}

bool ModemConfig::Write() const {
  // One write: a failure leaves the old settings whole, never half of each.
  std::vector<nv::ProfileEntry> entries;
  for (int i = 0; i < kModemSettingCount; ++i)
    entries.push_back({kModemSettings[size_t(i)].entry, value[size_t(i)]});
  return nv::WriteProfileStrings("", kModemSection, entries);
}

int ModemConfig::PortIndex() const {
  const std::string port = Upper(value[kPort]);
  if (port.size() != 4 || port.compare(0, 3, "COM") != 0 || !std::isdigit(port[3])) return -1;
  return port[3] - '0' - 1;
}

long ModemConfig::Baud() const {
  return Number(value[kBaudRate]);
}

int ModemConfig::StopBits() const {
  return int(Number(value[kStop]));
}

int ModemConfig::ParityCode() const {
  const std::string p = Upper(value[kParity]);
  return p == "ODD" ? 1 : p == "EVEN" ? 2 : 0;
}

int ModemConfig::DataBits() const {
  return int(Number(value[kDataBits]));
}

bool ModemConfig::XonXoff() const {
  return Upper(value[kFlowCtrl]) == "XON/XOFF";
}

bool ModemConfig::DsrDtr() const {
  return Upper(value[kFlowCtrl]) == "DSR/DTR";
}

std::string ModemConfig::Prefix() const {
  return std::string(nv::Clip(value[kPrefijo]));
}

std::string ModemConfig::InitString() const {
  return std::string(nv::Clip(value[kInitString]));
}

DialerConfig DialerConfig::Read() {
  DialerConfig d;
  d.attempts = nv::GetProfileInt("", kDialerSection, "INTENTOS", d.attempts);
  d.wait = nv::GetProfileInt("", kDialerSection, "ESPERA", d.wait);
  d.delay = nv::GetProfileInt("", kDialerSection, "RETARDO", d.delay);
  return d;
}

bool DialerConfig::Write() const {
  const std::string a = std::to_string(attempts), w = std::to_string(wait),
                    d = std::to_string(delay);
  return nv::WriteProfileStrings("", kDialerSection,
                                 {{"INTENTOS", a}, {"ESPERA", w}, {"RETARDO", d}});
}

WindowDef ConfiguracionModemWindow() {
  std::vector<ControlDef> controls;
  for (int i = 0; i < kModemSettingCount; ++i) {
    const ModemSettingDef& d = kModemSettings[size_t(i)];
    controls.push_back(Prompt(A(d.prompt)));
    controls.push_back(*d.choices ? DropList(ModemControl(i), SplitBar(d.choices))
                                  : Entry(ModemControl(i), "@s" + std::to_string(kModemTextWidth)));
  }
  controls.push_back(Button(kCmAceptar, A("&Aceptar")).Default());
  controls.push_back(Button(kCmCancelar, A("&Cancelar")));
  return WindowDef(A("Configuración del módem"), std::move(controls));
}

namespace {

// The window's values into m. Texts a modem cannot take are refused: false,
// with the refusal shown and the field selected.
bool Collect(Window& w, ModemConfig* m) {
  for (int i = 0; i < kModemSettingCount; ++i) {
    const ModemSettingDef& d = kModemSettings[size_t(i)];
    m->value[size_t(i)] =
        *d.choices ? w.Text(ModemControl(i)) : std::string(nv::Clip(w.Text(ModemControl(i))));
  }
  const char* refusal = nullptr;
  int field = 0;
  if (m->value[kInitString].empty() || !Printable(m->value[kInitString])) {
    refusal = "String de inicio del modem invalido";
    field = kInitString;
  } else if (!Printable(m->value[kPrefijo])) {
    refusal = "El prefijo tiene caracteres que el módem no acepta";
    field = kPrefijo;
  }
  if (refusal == nullptr) return true;
  Beep();
  Message(A(refusal), A("Atención"), Icon::kExclamation);
  w.Select(ModemControl(field));
  return false;
}

}  // namespace

int Configuracion_Modem() {
  Window w(ConfiguracionModemWindow());
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow: {
        const ModemConfig m = ModemConfig::Read();
        for (int i = 0; i < kModemSettingCount; ++i) {
          const ModemSettingDef& d = kModemSettings[size_t(i)];
          if (*d.choices) {
            w.SetValue(ModemControl(i), ItemOf(d, m.value[size_t(i)]));
          } else {
            w.SetText(ModemControl(i), m.value[size_t(i)].substr(0, kModemTextWidth));
          }
        }
        break;
      }
      case Event::kAccepted:
        if (w.Field() == kCmAceptar) {
          ModemConfig m;
          if (!Collect(w, &m)) break;
          if (!m.Write()) {
            Message(A("No se pudo guardar la configuración del módem"), A("Error"), Icon::kError);
            break;
          }
          w.Close(kCompleted);
        } else if (w.Field() == kCmCancelar) {
          w.Close(kCancelled);
        }
        break;
      default:
        break;
    }
  }
  return w.result() == kCompleted ? kCompleted : kCancelled;
}

}  // namespace agenda
