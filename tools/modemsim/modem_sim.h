// A Hayes modem on a pseudo-terminal, for tests and for users without a
// modem. The serial ports open the pseudo-terminal's device (or the link the
// simulator makes to it) like any serial line.
//
// Commands: a line of characters ended by a carriage return; lines not
// starting with "AT" are ignored. "ATZ" answers the scripted initialisation
// reply (OK unless set otherwise); V, X, E, Q, L, M, H, S and &-commands with
// their numbers answer OK ("H" also drops the carrier); anything else answers
// ERROR. "ATD" (with T or P) dials the rest of the line and answers the reply
// scripted for that number after its delay; a success reply ("CONNECT ...",
// "CARRIER") raises the carrier, after an optional lag counted from the
// reply. Replies are verbose words framed by CR LF; there is no echo.
//
// States:  idle --ATD--> dialling --reply--> idle, or connected on success
//          dialling --any character--> idle, answering NO CARRIER
//          connected/dialling --port closed (DTR drop) or ATH--> idle
// The carrier is up only while connected.
//
// Carrier flag: with a link path, the file "<link>.carrier" holds '1' while
// the carrier is up and '0' otherwise (replaced atomically), which is where
// the serial ports look for it beside a configured device.
//
// Thread-safety: the simulator answers on its own thread; every public
// function may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace nv::tools {

struct ModemReply {
  std::string text = "OK";  // words sent back
  bool silent = false;      // no answer at all
  int delay_ms = 0;         // from the command to the answer
  int carrier_lag_ms = 0;   // from a success answer to the carrier
};

// "WORDS[@DELAY_MS][+LAG_MS]"; "SILENCE" (any case) for no answer. False on
// a malformed number or empty words.
bool ParseReply(std::string_view script, ModemReply* reply);
// "NUMBER=WORDS[@DELAY_MS][+LAG_MS]".
bool ParseNumberReply(std::string_view script, std::string* number, ModemReply* reply);

class ModemSim {
 public:
  ModemSim();
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  // Opens the pseudo-terminal and starts answering (once per object). A non-empty link is
  // made a symbolic link to the device (replacing an old link, never any
  // other file) and gets the
  // carrier flag beside it. False with a message when it cannot.
  bool Start(const std::string& link, std::string* error);
  // Stops answering, closes the pseudo-terminal, removes link and flag.
  void Stop();

  const std::string& device() const { return device_; }
  const std::string& link() const { return link_; }
  std::string CarrierPath() const { return link_.empty() ? "" : link_ + ".carrier"; }

  void SetInitReply(const ModemReply& reply);
  void SetReply(const std::string& number, const ModemReply& reply);
  // The reply to numbers without a script (CONNECT 9600 unless set).
  void SetDefaultReply(const ModemReply& reply);

  bool carrier() const { return carrier_; }
  // The last kKeptCommands command lines received, in order (without the
  // carriage return).
  static constexpr size_t kKeptCommands = 1000;
  std::vector<std::string> Commands() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Event {
    Clock::time_point due;
    std::string text;  // sent when not empty
    int carrier = -1;  // 0/1 sets the carrier
    int state = -1;    // a State to enter
  };
  enum class State { kIdle, kDialling, kConnected };

  void Run();
  void HandleByte(unsigned char c);
  void HandleLine(const std::string& line);
  void Dial(const std::string& number);
  void Answer(const ModemReply& reply, bool dialling);
  void HangUp();
  void Schedule(Event e);
  void Send(const std::string& words);
  void SetCarrier(bool up);

  mutable std::mutex mutex_;
  int master_ = -1;
  std::string device_;
  std::string link_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> carrier_{false};
  State state_ = State::kIdle;
  std::string line_;
  std::vector<Event> events_;
  std::vector<std::string> commands_;
  ModemReply init_;
  ModemReply default_;
  std::map<std::string, ModemReply> numbers_;
};

}  // namespace nv::tools
