#include "agenda/dialer.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "agenda/modem_config.h"
#include "agenda/text.h"
#include "host/platform/serial.h"
#include "host/runtime/env.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/window.h"

namespace agenda {

using namespace nv::ui;
namespace com = nv::platform;

namespace {

constexpr int32_t kDay = 8640000;  // hundredths in a day: the clock runs 1..kDay

// Extra controls: the seconds labels beside the entries.
enum : ControlId { kDsEsperaSeg = kDnCancelar + 1, kDsRetardoSeg, kDnEsperaSeg, kDnCuentaSeg };

constexpr std::array<const char*, 2> kSuccessWords = {"CONNECT", "CARRIER"};
constexpr std::array<const char*, 5> kFailureWords = {"NO DIALTONE", "NO DIAL TONE", "NO CARRIER",
                                                      "BUSY", "VOICE"};

int32_t Now() {
  return nv::GetEnv()->Clock();
}

// Hundredths from `then` to `now`, across midnight.
int32_t Since(int32_t then, int32_t now) {
  return ((now - then) % kDay + kDay) % kDay;
}

intptr_t Handle(const Window& w) {
  return reinterpret_cast<intptr_t>(&w);
}

// The end of a call (after the carriage return, where one is sent): DTR
// down and up again, then whatever the modem said is dropped.
void HangUpSequence(int port) {
  com::ComHangUp(port);
  com::ComSetDtr(port, 1);
  com::ComDiscardInput(port);
}

bool Found(const std::string& text, const auto& words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const char* word) { return com::ComFindWord(text.c_str(), word) != 0; });
}

void NoSePudoComunicar() {
  Message(A("No se pudo establecer la comunicación !!!"), A("Atención"), Icon::kExclamation);
}

const char* InitErrorText(int result) {
  switch (result) {
    case kInitPortNotReady:
      return "El puerto no esta listo";
    case kInitBadParameters:
      return "Parametros invalidos";
    default:
      return "String de inicio del modem invalido";
  }
}

}  // namespace

std::string OpenErrorText(int result) {
  static constexpr std::array<const char*, 6> kTexts = {
      "No Existe UART !!!",
      "Error Desconocido !!!",
      "Memoria Insuficiente !!!",
      "Puerto Invalido !!!",
      "No se puede Abrir el Puerto !!!",
      "El Puerto se encuentra Abierto !!!",
  };
  if (result >= 1 && result <= int(kTexts.size())) return A(kTexts[size_t(result - 1)]);
  return A("La Configuración del Puerto|es Incorrecta !!!");
}

// --- the windows

WindowDef DiscarWindow() {
  return WindowDef(
      A("Marcar un número telefónico"),
      {Prompt(A("Número telefónico:")), Entry(kDsNumero, "@s60"),
       Prompt(A("Cantidad de intentos:")), Entry(kDsIntentos, "@n3"),
       Prompt(A("Tiempo de espera:")), Entry(kDsEspera, "@n3"), Prompt(A("seg."), kDsEsperaSeg),
       Prompt(A("Retardo entre intentos:")), Entry(kDsRetardo, "@n3"),
       Prompt(A("seg."), kDsRetardoSeg), Button(kDsDiscar, A("&Discar")).Default(),
       Button(kDsConfigurar, A("Configurar &módem")), Button(kDsCancelar, A("&Cancelar"))});
}

WindowDef InitializePortWindow() {
  return WindowDef(A("Inicializando el modem..."),
                   {Prompt(A("Modem :")), Entry(kIpModem, "@s38").ReadOnly(),
                    Button(kIpCancelar, A("&Cancelar"))})
      .Timer(kDialTick);
}

WindowDef DialNumberWindow() {
  return WindowDef(A("Estado de la comunicación"),
                   {Prompt(A("Número:")), Entry(kDnNumero, "@s60").ReadOnly(), Prompt(A("Estado:")),
                    Entry(kDnEstado, "@s40").ReadOnly(), Prompt(A("Intento:")),
                    Entry(kDnIntento, "@s9").ReadOnly(), Prompt(A("Espera restante:")),
                    Entry(kDnEspera, "@n3").ReadOnly(), Prompt(A("seg."), kDnEsperaSeg),
                    Prompt(A("Reintento en:")), Entry(kDnCuenta, "@n3").ReadOnly(),
                    Prompt(A("seg."), kDnCuentaSeg), Prompt(A("Respuesta del módem:")),
                    TextBox(kDnRespuesta).ReadOnly(),
                    Button(kDnReintentar, A("Cor&tar y reintentar el llamado")),
                    Button(kDnExtender, A("&Extender el tiempo de espera")),
                    Button(kDnAtender, A("&Atender el llamado")),
                    Button(kDnCancelar, A("&Cancelar el llamado"))})
      .Timer(kDialTick);
}

// --- InitializePort

int InitializePort(int port, long baud, int parity, int data_bits, int stop_bits,
                   std::string_view init_string) {
  Window w(InitializePortWindow());
  int result = kInitReady;
  bool finished = false;
  int32_t start = 0;
  std::string modem;  // what the modem said: printable characters, 38 at most
  auto finish = [&](int r) {
    finished = true;
    result = r;
    w.SetTimer(0);
    w.Close(r == kInitReady ? kCompleted : kCancelled);
  };
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow: {
        // 1. The string, then the line.
        start = Now();
        const std::string init(nv::Clip(init_string));
        result = init.empty() ? kInitNoString
                              : com::ComSetLine(port, baud, parity, data_bits, stop_bits);
        if (result != kInitReady) {
          Beep();
          Message(A("     Ocurrio un error inicializando el puerto: ||     ") +
                      A(InitErrorText(result)),
                  A("Error"), Icon::kError, A("&Aceptar"));
          finish(result);
          break;
        }
        com::ComDiscardInput(port);
        com::ComWriteText(port, init.c_str());
        break;
      }
      case Event::kTimer:
        if (finished) break;
        // 2. Five seconds for "OK" or "ERROR".
        if (Since(start, Now()) > kInitWait - 1) {
          HangUpSequence(port);
          finish(kInitNoAnswer);
          break;
        }
        while (!finished && com::ComInputWaiting(port) > 0) {
          const int c = com::ComReadChar(port);
          if (c < 0) break;
          if (c >= 32 && c <= 126 && modem.size() < 38) {
            modem += char(c);
            w.SetText(kIpModem, modem);
          }
          if (com::ComFindWord(modem.c_str(), "OK") || com::ComFindWord(modem.c_str(), "ERROR")) {
            w.SetTimer(0);
            com::ComNotify(0, 9);
            com::ComDiscardInput(port);
            finish(kInitReady);
          }
        }
        break;
      case Event::kAccepted:
        // 3. Cancelled.
        if (w.Field() == kIpCancelar && !finished) {
          HangUpSequence(port);
          finish(kInitCancelled);
        }
        break;
      case Event::kCloseWindow:
        if (!finished) {  // the close box cancels too
          HangUpSequence(port);
          finish(kInitCancelled);
        }
        break;
      default:
        break;
    }
  }
  return result;
}

// --- DialNumber

namespace {

class Dialing {
 public:
  Dialing(Window& w, int port, long max_attempts, long delay, long wait, std::string number)
      : w_(w),
        port_(port),
        number_(std::move(number)),
        max_attempts_(max_attempts),
        delay_(delay),
        wait_(wait),
        remaining_(wait) {
    status_ = "Estableciendo Conexión";
  }

  int result() const { return result_; }
  const std::string& result_text() const { return result_text_; }

  // 2. The window is open: the modem's verbose words, its full set of
  // replies, and the dial.
  void Opened() {
    countdown_ = 0;
    last_second_ = Now();
    Show();
    com::ComWriteText(port_, "ATV1\r");
    com::ComWriteText(port_, "ATX4\r");
    com::ComWriteText(port_, DialCommand().c_str());
  }

  void Tick() {
    if (finished_) return;
    if (waiting_redial_) {
      CountDownToRedial();
    } else {
      Watch();
    }
  }

  void Pressed(ControlId id) {
    if (finished_) return;
    switch (id) {
      case kDnReintentar:
        HangUpForRedial();
        break;
      case kDnExtender:
        remaining_ += 5;
        Show();
        break;
      case kDnAtender:
        // The user takes the call on the handset.
        w_.SetTimer(0);
        SetStatus("Conexión establecida");
        com::ComNotify(0, 54);
        com::ComWriteChar(port_, 13);
        HangUpSequence(port_);
        Finish(0, kCompleted);
        break;
      case kDnCancelar:
        Cancel();
        break;
      default:
        break;
    }
  }

  // The window is closing: unless the dial ended, as "Cancelar el llamado".
  void Closing() {
    if (!finished_) Cancel();
  }

 private:
  std::string DialCommand() const { return "ATDT" + number_ + "\r"; }

  // 3. Waiting to redial: the countdown, then the next attempt.
  void CountDownToRedial() {
    const double elapsed = Since(hang_up_clock_, Now()) / 100.0;
    countdown_ = long(double(delay_) - elapsed + 1);
    w_.SetContents(kDnCuenta, nv::Value(static_cast<long long>(countdown_)));
    if (countdown_ >= 0) return;
    com::ComDiscardInput(port_);
    com::ComWriteText(port_, DialCommand().c_str());
    last_second_ = Now();
    remaining_ = wait_;
    reply_.clear();
    appended_ = 0;
    success_pending_ = false;
    ++attempt_;
    status_ = "Estableciendo conexión";
    waiting_redial_ = false;
    countdown_ = 0;
    Show();
  }

  // 4. Dialling: the wait, then the modem's words.
  void Watch() {
    const int32_t now = Now();
    if (now - last_second_ >= 100 || now < last_second_) {
      remaining_ = std::max(0L, remaining_ - 1);
      last_second_ = now;
      Show();
    }
    if (remaining_ <= 0) {
      if (attempt_ < max_attempts_) {
        HangUpForRedial();
      } else {
        w_.SetTimer(0);
        com::ComWriteChar(port_, 13);
        HangUpSequence(port_);
        Finish(1, kCompleted);
      }
      return;
    }
    while (com::ComInputWaiting(port_) > 0) {
      const int c = com::ComReadChar(port_);
      if (c < 0) break;
      Append(c);
      if (Examine()) return;
    }
    // A success word read before the connection was up is taken once it is.
    if (success_pending_) Examine();
  }

  // Carriage return as a blank, other control characters dropped; at most
  // kReplyPerAttempt characters of each attempt are kept.
  void Append(int c) {
    if (c == 13) c = ' ';
    if (c < 32 || c > 126) return;
    if (appended_ >= kReplyPerAttempt || reply_.size() >= kReplyMax) return;
    reply_ += char(c);
    ++appended_;
    w_.SetText(kDnRespuesta, reply_);
  }

  // Searches the reply; true when the dial ended or waits to redial. The
  // failure words go first: "NO CARRIER" holds the success word "CARRIER".
  bool Examine() {
    if (Found(reply_, kFailureWords)) {
      w_.SetTimer(0);
      SetStatus("Error al establecer conexión");
      if (attempt_ < max_attempts_) {
        HangUpForRedial();
      } else {
        com::ComNotify(0, 36);
        Finish(1, kCompleted);
      }
      return true;
    }
    if (!Found(reply_, kSuccessWords)) return false;
    if (!com::ComConnected(port_)) {
      success_pending_ = true;
      return false;
    }
    w_.SetTimer(0);
    SetStatus("Conexión establecida");
    while (com::ComInputWaiting(port_) > 0) {
      const int c = com::ComReadChar(port_);
      if (c < 0) break;
      Append(c);
    }
    result_text_ = std::string(nv::Clip(reply_).substr(0, 20));
    Finish(0, kCompleted);
    return true;
  }

  // 5. Hang up for a redial.
  void HangUpForRedial() {
    w_.SetTimer(kDialTick);
    status_ = "Esperando...";
    remaining_ = 0;
    Show();
    com::ComWriteChar(port_, 13);
    hang_up_clock_ = Now();
    waiting_redial_ = true;
  }

  void Cancel() {
    w_.SetTimer(0);
    SetStatus("Cancelando discado");
    com::ComWriteChar(port_, 13);
    HangUpSequence(port_);
    Finish(1, kCancelled);
  }

  void Finish(int result, int response) {
    finished_ = true;
    result_ = result;
    if (result != 0) result_text_.clear();
    w_.Close(response);
  }

  void SetStatus(const char* status) {
    status_ = status;
    Show();
  }

  void Show() {
    w_.SetText(kDnNumero, number_);
    w_.SetText(kDnEstado, A(status_));
    w_.SetText(kDnIntento, std::to_string(attempt_) + " de " + std::to_string(max_attempts_));
    w_.SetContents(kDnEspera, nv::Value(static_cast<long long>(remaining_)));
    w_.SetContents(kDnCuenta, nv::Value(static_cast<long long>(countdown_)));
  }

  Window& w_;
  const int port_;
  const std::string number_;
  const long max_attempts_, delay_, wait_;
  long attempt_ = 1;
  long remaining_;      // seconds left of this attempt's wait
  long countdown_ = 0;  // seconds to the redial
  bool waiting_redial_ = false;
  int32_t hang_up_clock_ = 0;
  int32_t last_second_ = 0;
  std::string reply_;
  size_t appended_ = 0;  // characters kept of this attempt
  bool success_pending_ = false;
  std::string status_;  // UTF-8
  bool finished_ = false;
  int result_ = 1;
  std::string result_text_;
};

}  // namespace

int DialNumber(int port, std::string* result_text, long max_attempts, long delay, long wait,
               std::string_view number) {
  result_text->clear();
  const std::string clipped(nv::Clip(number));
  // 1. Nothing to dial: the window does not open.
  if (clipped.empty()) {
    Beep();
    Message(A(" No hay número telefónico para marcar !"), A("ERROR"), Icon::kExclamation);
    return 1;
  }
  Window w(DialNumberWindow());
  Dialing dialing(w, port, max_attempts, delay, wait, clipped);
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow:
        dialing.Opened();
        break;
      case Event::kTimer:
        dialing.Tick();
        break;
      case Event::kAccepted:
        dialing.Pressed(w.Field());
        break;
      case Event::kCloseWindow:
        dialing.Closing();
        break;
      default:
        break;
    }
  }
  *result_text = dialing.result_text();
  return dialing.result();
}

// --- Discar

namespace {

// The retry settings as typed; a value the dial cannot work with is
// refused with its field selected.
bool TypedDialerConfig(Window& w, DialerConfig* d) {
  d->attempts = long(w.Contents(kDsIntentos).AsInteger());
  d->wait = long(w.Contents(kDsEspera).AsInteger());
  d->delay = long(w.Contents(kDsRetardo).AsInteger());
  struct Rule {
    long value;
    long min;
    ControlId field;
    const char* refusal;
  };
  const Rule rules[] = {
      {d->attempts, 1, kDsIntentos, "La cantidad de intentos debe ser al menos 1"},
      {d->wait, 1, kDsEspera, "El tiempo de espera debe ser de al menos 1 segundo"},
      {d->delay, 0, kDsRetardo, "El retardo entre intentos no puede ser negativo"},
  };
  for (const Rule& r : rules) {
    if (r.value >= r.min) continue;
    Message(A(r.refusal), A("Atención"), Icon::kExclamation);
    w.Select(r.field);
    return false;
  }
  return true;
}

// The button "Discar"; true when the call was made (connected, or taken
// by the user).
bool DiscarPressed(Window& w) {
  DialerConfig d;
  if (!TypedDialerConfig(w, &d)) return false;
  // 1. The retry settings are kept for the next time.
  if (!d.Write()) {
    Message(A("No se pudo guardar la configuración del discador"), A("Atención"),
            Icon::kExclamation);
  }
  // 2. The modem's settings.
  const ModemConfig m = ModemConfig::Read();
  const int port = m.PortIndex();
  // 3. The port, opened afresh.
  com::ComClose(port, Handle(w));
  const int opened = com::ComOpen(port, Handle(w), 8192, 1024, m.CtsRts(), m.XonXoff(), m.DsrDtr());
  if (opened != com::kComOpened) {
    Message(OpenErrorText(opened), A("Atención"), Icon::kExclamation);
    return false;
  }
  // 4. The modem.
  if (InitializePort(port, m.Baud(), m.ParityCode(), m.DataBits(), m.StopBits(), m.InitString()) !=
      kInitReady) {
    NoSePudoComunicar();
    com::ComClose(port, Handle(w));  // no other program could have the port meanwhile
    return false;
  }
  // 5. The dial.
  std::string reply;
  const int result = DialNumber(port, &reply, d.attempts, d.delay, d.wait, w.Text(kDsNumero));
  if (result != 0) NoSePudoComunicar();
  com::ComClose(port, Handle(w));
  return result == 0;
}

}  // namespace

void Discar(std::string_view number) {
  const std::string given(nv::Clip(number));
  auto show_number = [&](Window& w) { w.SetText(kDsNumero, ModemConfig::Read().Prefix() + given); };
  Window w(DiscarWindow());
  w.Open();
  while (w.Accept()) {
    switch (w.Event()) {
      case Event::kOpenWindow: {
        const DialerConfig d = DialerConfig::Read();
        show_number(w);
        w.SetContents(kDsIntentos, nv::Value(static_cast<long long>(d.attempts)));
        w.SetContents(kDsEspera, nv::Value(static_cast<long long>(d.wait)));
        w.SetContents(kDsRetardo, nv::Value(static_cast<long long>(d.delay)));
        w.Select(kDsDiscar);
        break;
      }
      case Event::kAccepted:
        if (w.Field() == kDsConfigurar) {
          // A new prefix shows at once.
          if (Configuracion_Modem() == kCompleted) show_number(w);
        } else if (w.Field() == kDsDiscar) {
          if (DiscarPressed(w)) w.Close(kCompleted);
        } else if (w.Field() == kDsCancelar) {
          w.Close(kCancelled);
        }
        break;
      default:
        break;
    }
  }
}

void RegisterDialer(Procedures& table) {
  table.Discar = [](std::string_view number) { Discar(number); };
}

}  // namespace agenda
