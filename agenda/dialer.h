// The modem dialer: Discar ("Marcar un número telefónico") shows the number
// and the retry settings and, on "Discar", opens the port, runs
// InitializePort ("Inicializando el modem...") and DialNumber ("Estado de la
// comunicación"), then closes the port. Serial I/O goes through
// host/platform/serial.h; all timing is polling on window timers of 5
// hundredths against the runtime's clock, so tests drive it with the
// headless clock.
//
// Discar's window closes once a call is made (connected, or taken by the
// user); after a failure it stays open for another try or other settings.
// The port is closed after every try, whatever its end, so no other
// program is kept from it.
//
// DialNumber's states (the timer runs in the first two):
//
//   dialling --failure word or wait expired, attempts left--> waiting to redial
//   dialling --failure word or wait expired, last attempt--> finished (1)
//   dialling --success word with the connection up--> finished (0)
//   waiting to redial --countdown below 0--> dialling (attempt + 1)
//   any --"Atender el llamado"--> finished (0); --"Cancelar el llamado"--> finished (1)
//
// Elapsed times are taken across midnight (the clock restarts at 1): a wait
// that spans it lasts as long as any other.
#pragma once

#include <string>
#include <string_view>

#include "agenda/procedures.h"
#include "host/ui/window_def.h"

namespace agenda {

// Answers of InitializePort.
inline constexpr int kInitReady = 0;
inline constexpr int kInitPortNotReady = 1;
inline constexpr int kInitBadParameters = 2;
inline constexpr int kInitNoString = 3;
inline constexpr int kInitNoAnswer = 4;
inline constexpr int kInitCancelled = 5;
// Hundredths InitializePort waits for "OK" or "ERROR".
inline constexpr int kInitWait = 500;
// The dialer windows' timer, in hundredths.
inline constexpr int kDialTick = 5;
// Longest reply kept, and characters kept per attempt.
inline constexpr size_t kReplyMax = 255;
inline constexpr size_t kReplyPerAttempt = 99;

enum DialerControl : nv::ui::ControlId {
  // Discar
  kDsNumero = 1,
  kDsIntentos,
  kDsEspera,
  kDsRetardo,
  kDsDiscar,
  kDsConfigurar,
  kDsCancelar,
  // InitializePort
  kIpModem,
  kIpCancelar,
  // DialNumber
  kDnNumero,
  kDnEstado,
  kDnIntento,
  kDnEspera,
  kDnCuenta,
  kDnRespuesta,
  kDnReintentar,
  kDnExtender,
  kDnAtender,
  kDnCancelar,
};

nv::ui::WindowDef DiscarWindow();
nv::ui::WindowDef InitializePortWindow();
nv::ui::WindowDef DialNumberWindow();

void Discar(std::string_view number);
// port 0..7; parity 0 none, 1 odd, 2 even. Answers kInitReady .. kInitCancelled.
int InitializePort(int port, long baud, int parity, int data_bits, int stop_bits,
                   std::string_view init_string);
// Answers 0 (connected, or the user took the call) or 1 (no number, failed
// or cancelled). result_text gets the modem's reply on a connection (20
// characters at most) and is blank otherwise.
int DialNumber(int port, std::string* result_text, long max_attempts, long delay, long wait,
               std::string_view number);

// The open errors' messages, by the open's answer (any other non-zero
// answer: the port's configuration is wrong).
std::string OpenErrorText(int result);

// Fills the procedure table's Discar entry.
void RegisterDialer(Procedures& table);

}  // namespace agenda
