// The simulator's answering loop: one thread polls the master side of the
// pseudo-terminal every few milliseconds, assembles command lines, and sends
// the timed answers and carrier changes kept in events_ when they fall due.
// While no program has the device open the master reports a hang-up, which
// the modem takes as DTR dropped.
#include "tools/modemsim/modem_sim.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace nv::tools {

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool ParseMs(std::string_view s, int* out) {
  if (s.empty() || s.size() > 7) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

bool IsSuccess(const std::string& words) {
  return words.rfind("CONNECT", 0) == 0 || words == "CARRIER";
}

}  // namespace

bool ParseReply(std::string_view script, ModemReply* reply) {
  ModemReply r;
  size_t plus = script.rfind('+');
  if (plus != std::string_view::npos) {
    if (!ParseMs(script.substr(plus + 1), &r.carrier_lag_ms)) return false;
    script = script.substr(0, plus);
  }
  size_t at = script.rfind('@');
  if (at != std::string_view::npos) {
    if (!ParseMs(script.substr(at + 1), &r.delay_ms)) return false;
    script = script.substr(0, at);
  }
  if (script.empty()) return false;
  r.text = std::string(script);
  r.silent = Upper(script) == "SILENCE";
  *reply = r;
  return true;
}

bool ParseNumberReply(std::string_view script, std::string* number, ModemReply* reply) {
  size_t eq = script.find('=');
  if (eq == 0 || eq == std::string_view::npos) return false;
  if (!ParseReply(script.substr(eq + 1), reply)) return false;
  *number = std::string(script.substr(0, eq));
  return true;
}

ModemSim::ModemSim() {
  default_.text = "CONNECT 9600";
}

ModemSim::~ModemSim() {
  Stop();
}

bool ModemSim::Start(const std::string& link, std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    if (master_ >= 0) close(master_);
    master_ = -1;
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
    return fail("pseudo-terminal");
  device_ = name;
  // Raw from the start, so a carriage return arrives as itself even before
  // the program that opens the device sets the line up.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return fail(device_);
  termios t{};
  if (tcgetattr(slave, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
  }
  close(slave);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (!link.empty()) {
    // Only an old link is replaced: a file of the user's is never removed.
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      return fail(link);
    }
    unlink(link.c_str());
    if (symlink(device_.c_str(), link.c_str()) != 0) return fail(link);
    link_ = link;
  }
  SetCarrier(false);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ModemSim::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    thread_.join();
  }
  if (master_ >= 0) close(master_);
  master_ = -1;
  if (!link_.empty()) {
    unlink(link_.c_str());
    unlink(CarrierPath().c_str());
    link_.clear();
  }
}

void ModemSim::SetInitReply(const ModemReply& reply) {
  std::lock_guard<std::mutex> g(mutex_);
  init_ = reply;
}

void ModemSim::SetReply(const std::string& number, const ModemReply& reply) {
  std::lock_guard<std::mutex> g(mutex_);
  numbers_[number] = reply;
}

void ModemSim::SetDefaultReply(const ModemReply& reply) {
  std::lock_guard<std::mutex> g(mutex_);
  default_ = reply;
}

std::vector<std::string> ModemSim::Commands() const {
  std::lock_guard<std::mutex> g(mutex_);
  return commands_;
}

void ModemSim::Run() {
  while (!stop_) {
    pollfd pf{master_, POLLIN, 0};
    int n = poll(&pf, 1, 5);
    bool idle_line = false;
    std::unique_lock<std::mutex> g(mutex_);
    if (n > 0 && (pf.revents & POLLIN)) {
      unsigned char buf[256];
      ssize_t got = read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < got; ++i) HandleByte(buf[i]);
    } else if (n > 0 && (pf.revents & (POLLHUP | POLLERR))) {
      // Nobody has the device open: DTR is down.
      if (state_ != State::kIdle) HangUp();
      line_.clear();
      idle_line = true;
    }
    auto now = Clock::now();
    while (!events_.empty() && events_.front().due <= now) {
      Event e = events_.front();
      events_.erase(events_.begin());
      if (e.state >= 0) state_ = State(e.state);
      if (!e.text.empty()) Send(e.text);
      if (e.carrier >= 0) SetCarrier(e.carrier == 1);
    }
    g.unlock();
    if (idle_line) usleep(5000);  // the hang-up stays reported: do not spin
  }
}

void ModemSim::HandleByte(unsigned char c) {
  if (state_ == State::kDialling) {
    // Any character aborts a dial in progress, as on a real modem.
    events_.clear();
    state_ = State::kIdle;
    Send("NO CARRIER");
    return;
  }
  if (state_ == State::kConnected) return;  // data to a far end we do not have
  if (c == '\r') {
    std::string line;
    line.swap(line_);
    HandleLine(line);
  } else if (c == 8 || c == 127) {
    if (!line_.empty()) line_.pop_back();
  } else if (c >= 32 && c < 127 && line_.size() < 80) {
    line_ += char(c);
  }
}

void ModemSim::HandleLine(const std::string& raw) {
  std::string line = Upper(raw);
  size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos || line.compare(start, 2, "AT") != 0) return;
  if (commands_.size() == kKeptCommands) commands_.erase(commands_.begin());
  commands_.push_back(raw);
  std::string body = line.substr(start + 2);
  bool reset = false;
  size_t i = 0;
  while (i < body.size()) {
    char c = body[i];
    if (c == ' ') {
      ++i;
    } else if (c == 'D') {
      std::string number;
      for (size_t k = i + 1; k < body.size(); ++k) {
        char d = body[k];
        if ((d == 'T' || d == 'P') && number.empty()) continue;
        if (d != ' ') number += d;
      }
      Dial(number);
      return;
    } else if (c == '&' || std::isalpha(static_cast<unsigned char>(c))) {
      if (c == '&') {
        ++i;
        if (i == body.size() || !std::isalpha(static_cast<unsigned char>(body[i]))) break;
      }
      char cmd = body[i++];
      if (cmd == 'Z' && c != '&') reset = true;
      if (cmd == 'H' && c != '&') HangUp();
      while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i;
      if (cmd == 'S' && i < body.size() && (body[i] == '=' || body[i] == '?')) {
        ++i;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i;
      }
    } else {
      break;
    }
  }
  if (i < body.size()) {
    Send("ERROR");
  } else if (reset) {
    Answer(init_, false);
  } else {
    Send("OK");
  }
}

void ModemSim::Dial(const std::string& number) {
  if (number.empty()) {
    Send("ERROR");
    return;
  }
  auto it = numbers_.find(number);
  Answer(it != numbers_.end() ? it->second : default_, true);
}

void ModemSim::Answer(const ModemReply& reply, bool dialling) {
  if (dialling) state_ = State::kDialling;
  if (reply.silent) return;
  auto due = Clock::now() + std::chrono::milliseconds(reply.delay_ms);
  if (dialling && IsSuccess(reply.text)) {
    // Connected from the answer on: later characters are data, not aborts.
    Schedule({due, reply.text, -1, int(State::kConnected)});
    Schedule({due + std::chrono::milliseconds(reply.carrier_lag_ms), "", 1, -1});
  } else {
    Schedule({due, reply.text, -1, dialling ? int(State::kIdle) : -1});
  }
}

// Kept in order of time; equal times keep the order they were made in.
void ModemSim::Schedule(Event e) {
  auto at = std::upper_bound(events_.begin(), events_.end(), e.due,
                             [](Clock::time_point t, const Event& x) { return t < x.due; });
  events_.insert(at, std::move(e));
}

void ModemSim::HangUp() {
  events_.clear();
  state_ = State::kIdle;
  SetCarrier(false);
}

void ModemSim::Send(const std::string& words) {
  std::string framed = "\r\n" + words + "\r\n";
  // Non-blocking: with nobody reading, what does not fit is lost, as on a line.
  ssize_t w = write(master_, framed.data(), framed.size());
  (void)w;
}

void ModemSim::SetCarrier(bool up) {
  carrier_ = up;
  if (link_.empty()) return;
  std::string path = CarrierPath();
  std::string tmp = path + ".tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t w = write(fd, up ? "1\n" : "0\n", 2);
  close(fd);
  if (w == 2) rename(tmp.c_str(), path.c_str());
}

}  // namespace nv::tools
