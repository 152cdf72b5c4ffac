// The serial ports over termios. One table of eight ports under one lock;
// a port is either closed (fd_ < 0) or holds an open, flock-ed, raw device
// and its input buffer (bytes already read from the device, not yet handed
// out). Reads never wait; writes wait at most kComWriteTimeoutMs.
#include "host/platform/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "host/runtime/profile.h"

namespace nv::platform {

ModemLines::~ModemLines() = default;

namespace {

class TerminalLines : public ModemLines {
 public:
  Carrier CarrierDetect(int fd) override {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return kNoLines;
    return (bits & TIOCM_CAR) ? kUp : kDown;
  }
  bool SetDtr(int fd, bool on) override {
    int bit = TIOCM_DTR;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
  }
};

class FileLines : public ModemLines {
 public:
  explicit FileLines(std::string path) : path_(std::move(path)) {}
  Carrier CarrierDetect(int) override {
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kDown;
    char c = 0;
    ssize_t n = read(fd, &c, 1);
    close(fd);
    return (n == 1 && c == '1') ? kUp : kDown;
  }
  // The simulator notices a hang-up by the carriage return that precedes it.
  bool SetDtr(int, bool) override { return false; }

 private:
  std::string path_;
};

struct Port {
  int fd = -1;
  std::unique_ptr<ModemLines> lines;
  std::deque<unsigned char> input;
  size_t in_size = 0;
};

struct Table {
  std::mutex mutex;
  Port ports[kComPorts];
  ComNotifier notifier;
  int write_timeout_ms = kComWriteTimeoutMs;
};
Table& T() {
  static Table t;
  return t;
}

Port* OpenPort(int port) {
  if (port < 0 || port >= kComPorts) return nullptr;
  Port& p = T().ports[port];
  return p.fd >= 0 ? &p : nullptr;
}

// Moves what the device holds into the input buffer, up to its size.
void Fill(Port& p) {
  unsigned char buf[512];
  while (p.input.size() < p.in_size) {
    size_t want = std::min(sizeof buf, p.in_size - p.input.size());
    ssize_t n = read(p.fd, buf, want);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;  // nothing more now (EAGAIN), or the other end went away
    }
    p.input.insert(p.input.end(), buf, buf + n);
  }
}

void ClosePort(Port& p) {
  if (p.fd >= 0) {
    // Output held back by flow control would make close() wait for it (up
    // to half a minute on a UART): it is dropped instead.
    tcflush(p.fd, TCOFLUSH);
    flock(p.fd, LOCK_UN);
    close(p.fd);
  }
  p.fd = -1;
  p.lines.reset();
  p.input.clear();
  p.in_size = 0;
}

int WriteAll(Port& p, const char* data, size_t n) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(T().write_timeout_ms);
  while (n > 0) {
    ssize_t w = write(p.fd, data, n);
    if (w > 0) {
      data += w;
      n -= size_t(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) return kComInvalidParams;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return kComInvalidParams;
    pollfd pf{p.fd, POLLOUT, 0};
    poll(&pf, 1, int(left));
  }
  return kComOk;
}

speed_t SpeedOf(long baud) {
  switch (baud) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

int OpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return kComNoUart;
    case ENOMEM:
      return kComNoMemory;
    case EACCES:
    case EPERM:
    case EROFS:
    case EIO:
    case ENOTTY:
      return kComCannotOpen;
    case EBUSY:
    case EWOULDBLOCK:
      return kComAlreadyOpen;
    default:
      return kComUnknownError;
  }
}

}  // namespace

std::unique_ptr<ModemLines> TerminalModemLines() {
  return std::make_unique<TerminalLines>();
}

std::unique_ptr<ModemLines> FileModemLines(std::string flag_path) {
  return std::make_unique<FileLines>(std::move(flag_path));
}

std::string ComDevicePath(int port, std::string_view profile) {
  if (port < 0 || port >= kComPorts) return {};
  std::string def = "/dev/ttyS" + std::to_string(port);
  return GetProfileString(profile, "nvcom", "COM" + std::to_string(port + 1), def);
}

std::string ExpandCaretSequences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '^' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    char n = text[i + 1];
    if (n >= 'a' && n <= 'z') n = char(n - 'a' + 'A');
    if (n == '^') {
      out += '^';
    } else if (n == '?') {
      out += char(127);
    } else if (n >= '@' && n <= '_') {
      out += char(n - '@');
    } else {
      out += c;  // not a sequence: the caret goes as it is
      continue;
    }
    ++i;
  }
  return out;
}

int ComClose(int port, intptr_t) {
  std::lock_guard<std::mutex> g(T().mutex);
  if (port >= 0 && port < kComPorts) ClosePort(T().ports[port]);
  return 0;
}

int ComOpen(int port, intptr_t, int in_size, int out_size, bool cts_rts, bool xon_xoff,
            bool dsr_dtr) {
  if (port < 0 || port >= kComPorts) return kComInvalidPort;
  if (in_size <= 0 || out_size <= 0) return kComInvalidPort;
  if (int(cts_rts) + int(xon_xoff) + int(dsr_dtr) != 1) return kComInvalidPort;
  if (in_size > kComMaxBuffer || out_size > kComMaxBuffer) return kComNoMemory;
  std::string device = ComDevicePath(port);
  if (device.empty()) return kComInvalidPort;

  std::lock_guard<std::mutex> g(T().mutex);
  Port& p = T().ports[port];
  if (p.fd >= 0) return kComAlreadyOpen;

  int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenError(errno);
  auto fail = [fd](int result) {
    close(fd);
    return result;
  };
  if (!isatty(fd)) return fail(kComNoUart);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(OpenError(errno));
  // Another program that opens without flock is kept out by TIOCEXCL
  // (refused on some devices: the flock is the rule here).
  (void)ioctl(fd, TIOCEXCL);

  termios t{};
  if (tcgetattr(fd, &t) != 0) return fail(OpenError(errno));
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;  // we read the carrier ourselves: no hang-up signal
  t.c_cflag &= ~(CRTSCTS | CSTOPB);
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (cts_rts) t.c_cflag |= CRTSCTS;
  if (xon_xoff) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return fail(OpenError(errno));
  tcflush(fd, TCIFLUSH);

  std::string flag = device + ".carrier";
  struct stat st {};
  p.lines = stat(flag.c_str(), &st) == 0 ? FileModemLines(flag) : TerminalModemLines();
  p.lines->SetDtr(fd, true);
  p.fd = fd;
  p.in_size = size_t(in_size);
  return kComOpened;
}

int ComSetLine(int port, long baud, int parity, int data_bits, int stop_bits) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  termios t{};
  if (tcgetattr(p->fd, &t) != 0) return kComNotReady;
  if (ComLineTermios(&t, baud, parity, data_bits, stop_bits) != kComOk) return kComInvalidParams;
  if (tcsetattr(p->fd, TCSANOW, &t) != 0) return kComNotReady;
  return kComOk;
}

int ComLineTermios(termios* t, long baud, int parity, int data_bits, int stop_bits) {
  speed_t speed = SpeedOf(baud);
  if (speed == B0 || parity < 0 || parity > 2 || data_bits < 6 || data_bits > 8 ||
      (stop_bits != 1 && stop_bits != 2))
    return kComInvalidParams;
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  t->c_cflag |= data_bits == 6 ? CS6 : data_bits == 7 ? CS7 : CS8;
  if (parity != 0) t->c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
  if (stop_bits == 2) t->c_cflag |= CSTOPB;
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
  return kComOk;
}

void ComSetWriteTimeout(int ms) {
  std::lock_guard<std::mutex> g(T().mutex);
  T().write_timeout_ms = ms < 1 ? 1 : ms;
}

int ComWriteText(int port, const char* text) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  if (text == nullptr) return kComOk;
  std::string bytes = ExpandCaretSequences(text);
  return WriteAll(*p, bytes.data(), bytes.size());
}

int ComWriteChar(int port, int ch) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  char c = char(static_cast<unsigned char>(ch));
  return WriteAll(*p, &c, 1);
}

int ComInputWaiting(int port) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return 0;
  Fill(*p);
  return int(p->input.size());
}

int ComReadChar(int port) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return -1;
  if (p->input.empty()) Fill(*p);
  if (p->input.empty()) return -1;
  int c = p->input.front();
  p->input.pop_front();
  return c;
}

int ComConnected(int port) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return 0;
  return p->lines->CarrierDetect(p->fd) != ModemLines::kDown ? 1 : 0;
}

int ComDiscardInput(int port) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  tcflush(p->fd, TCIFLUSH);
  // A pseudo-terminal may still hand out what tcflush did not reach; a line
  // that keeps sending is drained by one buffer's worth only, never forever.
  unsigned char buf[512];
  for (size_t drained = 0; drained < p->in_size;) {
    ssize_t n = read(p->fd, buf, sizeof buf);
    if (n <= 0) break;
    drained += size_t(n);
  }
  p->input.clear();
  return kComOk;
}

int ComHangUp(int port) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  if (p->lines->SetDtr(p->fd, false)) usleep(kComHangUpHoldMs * 1000);
  return kComOk;
}

int ComSetDtr(int port, int on) {
  std::lock_guard<std::mutex> g(T().mutex);
  Port* p = OpenPort(port);
  if (p == nullptr) return kComNotReady;
  p->lines->SetDtr(p->fd, on != 0);
  return kComOk;
}

int ComNotify(int a, int n) {
  ComNotifier notifier;
  {
    std::lock_guard<std::mutex> g(T().mutex);
    notifier = T().notifier;
  }
  if (notifier) notifier(a, n);
  return 0;
}

void SetComNotifier(ComNotifier notifier) {
  std::lock_guard<std::mutex> g(T().mutex);
  T().notifier = std::move(notifier);
}

int ComFindWord(const char* text, const char* word) {
  if (text == nullptr || word == nullptr || *word == '\0') return 0;
  return std::strstr(text, word) != nullptr ? 1 : 0;
}

}  // namespace nv::platform
