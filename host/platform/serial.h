// The serial-port library the modem dialer uses: eight ports, indexed 0 to 7
// for "COM1" to "COM8", each opened on a device through termios.
//
// Device of a port: the entry "COMn" of the section [nvcom] of the default
// profile ("COM3=/dev/ttyACM0"); without one, /dev/ttyS<n-1>.
//
// Modem lines: carrier detect is read through a ModemLines object chosen at
// open. When a file named "<device>.carrier" exists beside the configured
// device path (the modem simulator keeps one beside its link to the
// pseudo-terminal), its first character says the carrier: '1' up, anything
// else down. Otherwise TIOCMGET; a device without modem lines (ENOTTY, as on
// a pseudo-terminal) reads as "no modem lines", and then the connection
// counts as up once the modem's own words say so: ComConnected answers 1.
//
// Exclusive use: an open takes TIOCEXCL and an exclusive flock on the device
// (flock also holds against root, whom TIOCEXCL does not stop); a second open
// of the same device, from this process or another, answers kComAlreadyOpen.
//
// Never blocking: the device is opened non-blocking and read without
// waiting; a write waits at most kComWriteTimeoutMs (ComSetWriteTimeout) for
// the output to drain and then answers an error; closing drops output held
// back by flow control. Every call on a port that is not open, or with an
// index outside 0..7, answers its "not ready" value.
//
// Thread-safety: every function may be called from any thread; calls are
// serialised by one lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <termios.h>

#include "host/runtime/export.h"

namespace nv::platform {

inline constexpr int kComPorts = 8;
inline constexpr int kComWriteTimeoutMs = 2000;
inline constexpr int kComHangUpHoldMs = 250;

// Answers of ComOpen.
inline constexpr int kComOpened = 0;
inline constexpr int kComNoUart = 1;        // no such device, or no serial line
inline constexpr int kComUnknownError = 2;  // any other refusal of the system
inline constexpr int kComNoMemory = 3;      // buffers cannot be had
inline constexpr int kComInvalidPort = 4;   // index, buffer sizes or flow flags wrong
inline constexpr int kComCannotOpen = 5;    // access refused, device not a terminal
inline constexpr int kComAlreadyOpen = 6;   // open here or in another program

// Answers of ComSetLine and of the writes.
inline constexpr int kComOk = 0;
inline constexpr int kComNotReady = 1;
inline constexpr int kComInvalidParams = 2;

// Largest input or output buffer an open accepts (larger: kComNoMemory).
inline constexpr int kComMaxBuffer = 1 << 20;

// Carrier detect of an open device.
class NV_API ModemLines {
 public:
  enum Carrier { kDown = 0, kUp = 1, kNoLines = -1 };
  virtual ~ModemLines();
  virtual Carrier CarrierDetect(int fd) = 0;
  // DTR; true when the line took it (false where there are no modem lines).
  virtual bool SetDtr(int fd, bool on) = 0;
};

// TIOCMGET/TIOCMBIS/TIOCMBIC; ENOTTY (or any refusal) means no lines.
NV_API std::unique_ptr<ModemLines> TerminalModemLines();
// The simulator's flag file: '1' first means carrier up.
NV_API std::unique_ptr<ModemLines> FileModemLines(std::string flag_path);

// The device of port index 0..7 from the profile (empty file name: the
// default profile); empty for an index out of range.
NV_API std::string ComDevicePath(int port, std::string_view profile = "");

// Turns caret sequences into the control characters they name: "^M" is 13,
// "^@" to "^_" are 0 to 31 (letters in either case), "^?" is 127, "^^" is a
// caret. Any other caret is kept as it is.
NV_API std::string ExpandCaretSequences(std::string_view text);

// --- the operations, in the order the dialer meets them

// Closes the port (nothing happens when it is not open). Answers 0.
NV_API int ComClose(int port, intptr_t window);
// Opens with the given input and output buffer sizes and exactly one flow
// control (CTS/RTS, XON/XOFF or DSR/DTR; Linux has no DSR/DTR handshake, so
// that one leaves the line without flow control). The line is raw, 9600 8N1,
// DTR raised. Answers kComOpened or 1..6 above.
NV_API int ComOpen(int port, intptr_t window, int in_size, int out_size, bool cts_rts,
                   bool xon_xoff, bool dsr_dtr);
// Baud 110..115200 (the standard rates), parity 0 none 1 odd 2 even, data
// bits 6..8, stop bits 1 or 2. Answers kComOk, kComNotReady or
// kComInvalidParams (the line is then unchanged).
NV_API int ComSetLine(int port, long baud, int parity, int data_bits, int stop_bits);
// Puts the line parameters into t (size, parity, stop bits, both speeds),
// leaving t untouched when one is invalid. Answers kComOk or
// kComInvalidParams. (A pseudo-terminal keeps only the speed and the stop
// bits of what is set: its size is always 8 bits without parity.)
NV_API int ComLineTermios(termios* t, long baud, int parity, int data_bits, int stop_bits);
// How long a write waits for the output to drain (kComWriteTimeoutMs until
// set; values below 1 ms count as 1).
NV_API void ComSetWriteTimeout(int ms);
// Writes a zero-terminated text with its caret sequences expanded (a null
// text writes nothing). Answers kComOk, kComNotReady, or kComInvalidParams
// when the output did not drain in time or the device refused it.
NV_API int ComWriteText(int port, const char* text);
// Writes one byte.
NV_API int ComWriteChar(int port, int ch);
// Number of received characters waiting (0 when none or not open).
NV_API int ComInputWaiting(int port);
// The next received character 0..255; -1 when none is waiting or not open.
NV_API int ComReadChar(int port);
// 1 once the carrier is up (or the line has no modem lines), else 0.
NV_API int ComConnected(int port);
// Drops everything received and not yet read. Answers 0 (1 not open).
NV_API int ComDiscardInput(int port);
// First half of the hang-up: lowers DTR and, on a line with modem lines,
// holds it low kComHangUpHoldMs so the modem sees it. Answers 0 (1 not open).
NV_API int ComHangUp(int port);
// Sets DTR (on non-zero raises it: the second half of the hang-up).
NV_API int ComSetDtr(int port, int on);
// The dialer's notification (a = 0, n = 9 after an initialisation, 36 after
// the last failed attempt, 54 when the user takes the call). Passed to the
// installed notifier; answers 0.
NV_API int ComNotify(int a, int n);
using ComNotifier = std::function<void(int a, int n)>;
// Installs the notifier (an empty function: none).
NV_API void SetComNotifier(ComNotifier notifier);
// 1 when the word occurs in the text (exact case); 0 for an empty word or a
// null argument.
NV_API int ComFindWord(const char* text, const char* word);

}  // namespace nv::platform
