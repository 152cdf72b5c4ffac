// The serial ports against the modem simulator on a real pseudo-terminal:
// open results, line parameters, replies, waiting input, discard, carrier,
// exclusive use, caret sequences, and every call on a closed port.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/platform/serial.h"
#include "tools/modemsim/modem_sim.h"

namespace {

using namespace nv::platform;
using nv::tools::ModemReply;
using nv::tools::ModemSim;
namespace fs = std::filesystem;

constexpr int kCom3 = 2;  // the port the fixture maps to the simulator

ModemReply Reply(std::string text, int delay_ms = 0, int lag_ms = 0) {
  ModemReply r;
  EXPECT_TRUE(nv::tools::ParseReply(text, &r));
  r.delay_ms = delay_ms;
  r.carrier_lag_ms = lag_ms;
  return r;
}

class Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("serial_test." + std::to_string(getpid()));
    fs::create_directories(dir_);
    profile_ = (dir_ / "fonvex.ini").string();
    setenv("NVRUN_PROFILE", profile_.c_str(), 1);
    std::string error;
    ASSERT_TRUE(sim_.Start((dir_ / "modem").string(), &error)) << error;
    std::ofstream(profile_) << "[nvcom]\nCOM3=" << sim_.link()
                            << "\nCOM4=" << (dir_ / "none").string() << "\nCOM5=" << sim_.link()
                            << "\nCOM6=" << sim_.device() << "\nCOM7=" << profile_ << "\n";
  }
  void TearDown() override {
    for (int i = 0; i < kComPorts; ++i) ComClose(i, 0);
    sim_.Stop();
    fs::remove_all(dir_);
  }
  int Open(int port = kCom3) { return ComOpen(port, 0, 8192, 1024, true, false, false); }
  // Reads until the text holds `want` or `ms` pass; answers what was read.
  std::string ReadUntil(const std::string& want, int ms = 2000, int port = kCom3) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      while (ComInputWaiting(port) > 0) got += char(ComReadChar(port));
      if (!want.empty() && got.find(want) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return got;
  }
  bool WaitConnected(int want, int ms = 2000) {
    for (int i = 0; i < ms / 5; ++i) {
      if (ComConnected(kCom3) == want) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  fs::path dir_;
  std::string profile_;
  ModemSim sim_;
};

TEST(SerialText, DevicePathsCaretsAndWordSearch) {
  std::string ini =
      (fs::temp_directory_path() / ("serial_paths." + std::to_string(getpid()))).string();
  std::ofstream(ini) << "[NVCOM]\ncom3 = /dev/ttyACM0\n";
  EXPECT_EQ(ComDevicePath(0, ini), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(2, ini), "/dev/ttyACM0");
  EXPECT_EQ(ComDevicePath(7, ini), "/dev/ttyS7");
  EXPECT_EQ(ComDevicePath(8, ini), "");
  EXPECT_EQ(ComDevicePath(-1, ini), "");
  fs::remove(ini);

  EXPECT_EQ(ExpandCaretSequences("ATZ^M"), "ATZ\r");
  EXPECT_EQ(ExpandCaretSequences("^j^@^[x"), std::string("\n\0\x1bx", 4));
  EXPECT_EQ(ExpandCaretSequences("a^^b^?"), "a^b\x7f");
  EXPECT_EQ(ExpandCaretSequences("5^1 ^"), "5^1 ^");  // not sequences: kept

  EXPECT_EQ(ComFindWord(" NO DIAL TONE ", "NO DIAL TONE"), 1);
  EXPECT_EQ(ComFindWord("CONNEC", "CONNECT"), 0);
  EXPECT_EQ(ComFindWord("connect", "CONNECT"), 0);
  EXPECT_EQ(ComFindWord("BUSY", ""), 0);
  EXPECT_EQ(ComFindWord(nullptr, "BUSY"), 0);
  EXPECT_EQ(ComFindWord("BUSY", nullptr), 0);
}

TEST(SimulatorScript, RepliesParse) {
  ModemReply r;
  ASSERT_TRUE(nv::tools::ParseReply("CONNECT 9600@1000+200", &r));
  EXPECT_EQ(r.text, "CONNECT 9600");
  EXPECT_EQ(r.delay_ms, 1000);
  EXPECT_EQ(r.carrier_lag_ms, 200);
  ASSERT_TRUE(nv::tools::ParseReply("silence@5", &r));
  EXPECT_TRUE(r.silent);
  EXPECT_FALSE(nv::tools::ParseReply("BUSY@x", &r));
  EXPECT_FALSE(nv::tools::ParseReply("@100", &r));
  std::string number;
  ASSERT_TRUE(nv::tools::ParseNumberReply("555=NO DIALTONE", &number, &r));
  EXPECT_EQ(number, "555");
  EXPECT_EQ(r.text, "NO DIALTONE");
  EXPECT_FALSE(nv::tools::ParseNumberReply("=BUSY", &number, &r));
  EXPECT_FALSE(nv::tools::ParseNumberReply("555", &number, &r));
}

TEST_F(Serial, SimulatorNeverReplacesAFile) {
  ModemSim other;
  std::string error;
  EXPECT_FALSE(other.Start(profile_, &error));
  EXPECT_NE(error.find("File exists"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_regular_file(profile_));
  ASSERT_TRUE(other.Start(sim_.link(), &error)) << error;  // an old link is taken over
  EXPECT_TRUE(fs::is_symlink(sim_.link()));
  EXPECT_EQ(fs::read_symlink(sim_.link()).string(), other.device());
}

TEST_F(Serial, OpenResults) {
  EXPECT_EQ(ComOpen(-1, 0, 8192, 1024, true, false, false), kComInvalidPort);
  EXPECT_EQ(ComOpen(8, 0, 8192, 1024, true, false, false), kComInvalidPort);
  EXPECT_EQ(ComOpen(kCom3, 0, 8192, 1024, false, false, false), kComInvalidPort);
  EXPECT_EQ(ComOpen(kCom3, 0, 8192, 1024, true, true, false), kComInvalidPort);
  EXPECT_EQ(ComOpen(kCom3, 0, 0, 1024, true, false, false), kComInvalidPort);
  EXPECT_EQ(ComOpen(kCom3, 0, kComMaxBuffer + 1, 1024, true, false, false), kComNoMemory);
  EXPECT_EQ(Open(3), kComNoUart);  // COM4: no such device
  EXPECT_EQ(Open(6), kComNoUart);  // COM7: a plain file, no serial line
  // None of the refusals left a port open.
  EXPECT_EQ(ComInputWaiting(3), 0);
  EXPECT_EQ(ComWriteText(6, "AT\r"), kComNotReady);

  ASSERT_EQ(ComOpen(kCom3, 0, 8192, 1024, false, false, true), kComOpened);
  EXPECT_EQ(Open(), kComAlreadyOpen);   // the same port again
  EXPECT_EQ(Open(4), kComAlreadyOpen);  // COM5: another name for the same device
  EXPECT_EQ(Open(5), kComAlreadyOpen);  // COM6: the device itself
  ComClose(kCom3, 0);
  EXPECT_EQ(Open(4), kComOpened);  // free again once closed
}

TEST_F(Serial, LineParameters) {
  EXPECT_EQ(ComSetLine(kCom3, 9600, 0, 8, 1), kComNotReady);
  ASSERT_EQ(Open(), kComOpened);
  ASSERT_EQ(ComSetLine(kCom3, 2400, 2, 7, 2), kComOk);
  EXPECT_EQ(ComSetLine(kCom3, 1234, 0, 8, 1), kComInvalidParams);
  EXPECT_EQ(ComSetLine(kCom3, 9600, 3, 8, 1), kComInvalidParams);
  EXPECT_EQ(ComSetLine(kCom3, 9600, -1, 8, 1), kComInvalidParams);
  EXPECT_EQ(ComSetLine(kCom3, 9600, 0, 5, 1), kComInvalidParams);
  EXPECT_EQ(ComSetLine(kCom3, 9600, 0, 9, 1), kComInvalidParams);
  EXPECT_EQ(ComSetLine(kCom3, 9600, 0, 8, 3), kComInvalidParams);
  // What the device holds: the good call's settings, untouched by the bad
  // ones (a pseudo-terminal keeps the speed and the stop bits).
  int fd = open(sim_.device().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  close(fd);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
}

TEST(SerialText, LineTermios) {
  termios t{};
  cfmakeraw(&t);
  ASSERT_EQ(ComLineTermios(&t, 1200, 1, 6, 1), kComOk);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS6));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), tcflag_t(PARENB | PARODD));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(cfgetispeed(&t), speed_t(B1200));
  ASSERT_EQ(ComLineTermios(&t, 115200, 2, 7, 2), kComOk);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), tcflag_t(PARENB));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ASSERT_EQ(ComLineTermios(&t, 9600, 0, 8, 1), kComOk);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_FALSE(t.c_cflag & (PARENB | PARODD | CSTOPB));
  termios before = t;
  EXPECT_EQ(ComLineTermios(&t, 1234, 0, 8, 1), kComInvalidParams);
  EXPECT_EQ(ComLineTermios(&t, 9600, 0, 5, 1), kComInvalidParams);
  EXPECT_EQ(t.c_cflag, before.c_cflag);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
}

TEST_F(Serial, InitialisationRepliesAndCaretCarriageReturn) {
  ASSERT_EQ(Open(), kComOpened);
  ASSERT_EQ(ComWriteText(kCom3, "ATZ^M"), kComOk);  // only a real CR ends the command
  EXPECT_NE(ReadUntil("OK").find("\r\nOK\r\n"), std::string::npos);
  sim_.SetInitReply(Reply("ERROR"));
  ComWriteText(kCom3, "ATZ^M");
  EXPECT_NE(ReadUntil("ERROR").find("ERROR"), std::string::npos);
  sim_.SetInitReply(Reply("SILENCE"));
  ComWriteText(kCom3, "ATZ^M");
  EXPECT_EQ(ReadUntil("", 150), "");
  ComWriteText(kCom3, "ATQ!\r");
  EXPECT_NE(ReadUntil("ERROR").find("ERROR"), std::string::npos);
  EXPECT_EQ(sim_.Commands(), (std::vector<std::string>{"ATZ", "ATZ", "ATZ", "ATQ!"}));
}

TEST_F(Serial, InputWaitingAndDiscard) {
  ASSERT_EQ(Open(), kComOpened);
  EXPECT_EQ(ComInputWaiting(kCom3), 0);
  EXPECT_EQ(ComReadChar(kCom3), -1);
  ComWriteText(kCom3, "ATV1\rATX4\r");
  for (int i = 0; i < 400 && ComInputWaiting(kCom3) < 12; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ComInputWaiting(kCom3), 12);  // "\r\nOK\r\n" twice
  EXPECT_EQ(ComReadChar(kCom3), '\r');
  EXPECT_EQ(ComInputWaiting(kCom3), 11);
  EXPECT_EQ(ComDiscardInput(kCom3), kComOk);
  EXPECT_EQ(ComInputWaiting(kCom3), 0);
  EXPECT_EQ(ComReadChar(kCom3), -1);
  // Reading goes on after a discard.
  ComWriteChar(kCom3, 'A');
  ComWriteChar(kCom3, 'T');
  ComWriteChar(kCom3, 13);
  EXPECT_NE(ReadUntil("OK").find("OK"), std::string::npos);
}

TEST_F(Serial, FailureWordsAndAbortedDial) {
  sim_.SetReply("555", Reply("BUSY", 20));
  sim_.SetReply("556", Reply("NO DIALTONE"));
  sim_.SetReply("557", Reply("VOICE"));
  sim_.SetReply("558", Reply("SILENCE"));
  ASSERT_EQ(Open(), kComOpened);
  ComWriteText(kCom3, "ATDT555\r");
  EXPECT_NE(ReadUntil("BUSY").find("BUSY"), std::string::npos);
  ComWriteText(kCom3, "ATDT 556\r");
  EXPECT_NE(ReadUntil("NO DIALTONE").find("NO DIALTONE"), std::string::npos);
  ComWriteText(kCom3, "ATDP557\r");
  EXPECT_NE(ReadUntil("VOICE").find("VOICE"), std::string::npos);
  ComWriteText(kCom3, "ATDT558\r");
  EXPECT_EQ(ReadUntil("", 100), "");
  ComWriteChar(kCom3, 13);  // a carriage return aborts the dial
  EXPECT_NE(ReadUntil("NO CARRIER").find("NO CARRIER"), std::string::npos);
  EXPECT_EQ(ComConnected(kCom3), 0);
  // Back in command mode after every one of them.
  ComWriteText(kCom3, "AT\r");
  EXPECT_NE(ReadUntil("OK").find("OK"), std::string::npos);
}

TEST_F(Serial, CarrierFollowsTheSimulator) {
  sim_.SetReply("777", Reply("CONNECT 9600", 20, 500));
  ASSERT_EQ(Open(), kComOpened);
  EXPECT_EQ(ComConnected(kCom3), 0);
  auto dialled = std::chrono::steady_clock::now();
  ComWriteText(kCom3, "ATDT777\r");
  EXPECT_NE(ReadUntil("CONNECT 9600").find("CONNECT 9600"), std::string::npos);
  // The words come before the carrier. On a loaded machine the words may
  // reach us after the carrier's lag has passed; only a timely read can tell.
  int connected = ComConnected(kCom3);
  if (std::chrono::steady_clock::now() - dialled < std::chrono::milliseconds(400)) {
    EXPECT_EQ(connected, 0);
  }
  EXPECT_TRUE(WaitConnected(1));
  // The hang-up pair on a line without modem lines, then closing the port:
  // the simulator sees DTR drop and lowers the carrier.
  EXPECT_EQ(ComHangUp(kCom3), kComOk);
  EXPECT_EQ(ComSetDtr(kCom3, 1), kComOk);
  ComClose(kCom3, 0);
  for (int i = 0; i < 400 && sim_.carrier(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(sim_.carrier());
  ASSERT_EQ(Open(), kComOpened);
  EXPECT_EQ(ComConnected(kCom3), 0);
}

TEST_F(Serial, PseudoTerminalWithoutFlagHasNoModemLines) {
  int fd = open(sim_.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(TerminalModemLines()->CarrierDetect(fd), ModemLines::kNoLines);
  EXPECT_FALSE(TerminalModemLines()->SetDtr(fd, false));
  close(fd);
  ASSERT_EQ(Open(5), kComOpened);  // COM6: the device, no flag beside it
  EXPECT_EQ(ComConnected(5), 1);   // the modem's words decide
}

TEST_F(Serial, ClosedPortsAnswerNotReady) {
  for (int port : {-1, kCom3, 8}) {
    EXPECT_EQ(ComWriteText(port, "AT\r"), kComNotReady);
    EXPECT_EQ(ComWriteChar(port, 13), kComNotReady);
    EXPECT_EQ(ComInputWaiting(port), 0);
    EXPECT_EQ(ComReadChar(port), -1);
    EXPECT_EQ(ComConnected(port), 0);
    EXPECT_EQ(ComDiscardInput(port), kComNotReady);
    EXPECT_EQ(ComHangUp(port), kComNotReady);
    EXPECT_EQ(ComSetDtr(port, 1), kComNotReady);
    EXPECT_EQ(ComSetLine(port, 9600, 0, 8, 1), kComNotReady);
    EXPECT_EQ(ComClose(port, 0), 0);
  }
  ASSERT_EQ(Open(), kComOpened);
  EXPECT_EQ(ComWriteText(kCom3, nullptr), kComOk);
}

TEST_F(Serial, NotifierGetsTheDialerCalls) {
  std::vector<int> seen;
  SetComNotifier([&](int a, int n) { seen.push_back(a * 1000 + n); });
  EXPECT_EQ(ComNotify(0, 9), 0);
  EXPECT_EQ(ComNotify(0, 36), 0);
  SetComNotifier(nullptr);
  EXPECT_EQ(ComNotify(0, 54), 0);
  EXPECT_EQ(seen, (std::vector<int>{9, 36}));
}

// Nobody reads the far end: the write gives up after its time instead of
// hanging.
TEST_F(Serial, WriteToAStuckLineTimesOut) {
  sim_.Stop();
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::ofstream(profile_) << "[nvcom]\nCOM3=" << ptsname(master) << "\n";
  ASSERT_EQ(ComOpen(kCom3, 0, 8192, 1024, false, true, false), kComOpened);
  ComSetWriteTimeout(200);
  std::string block(4096, 'x');
  auto longest = std::chrono::steady_clock::duration::zero();
  int result = kComOk;
  for (int i = 0; i < 1000 && result == kComOk; ++i) {
    auto start = std::chrono::steady_clock::now();
    result = ComWriteText(kCom3, block.c_str());
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
  }
  ComSetWriteTimeout(kComWriteTimeoutMs);
  EXPECT_EQ(result, kComInvalidParams);
  EXPECT_LT(longest, std::chrono::milliseconds(700));
  ComClose(kCom3, 0);
  close(master);
}

// The program: prints device, link and flag, answers from its command line,
// and removes link and flag when interrupted.
TEST_F(Serial, SimulatorProgram) {
  sim_.Stop();
  std::string link = (dir_ / "prog").string();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl(MODEMSIM_PATH, "modemsim", "--link", link.c_str(), "--init", "ERROR", "555=BUSY@10",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // Stops the program even when an assertion ends the test early.
  struct Reaper {
    pid_t pid;
    int status = -1;
    int Stop() {
      if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, &status, 0);
      pid = -1;
      return status;
    }
    ~Reaper() { Stop(); }
  } program{pid};
  std::string printed;
  char buf[256];
  for (ssize_t n;
       printed.find(".carrier\n") == std::string::npos && (n = read(out[0], buf, sizeof buf)) > 0;)
    printed.append(buf, size_t(n));
  close(out[0]);
  EXPECT_EQ(printed.rfind("/dev/pts/", 0), 0u) << printed;
  EXPECT_NE(printed.find("\n" + link + "\n" + link + ".carrier\n"), std::string::npos) << printed;
  std::ofstream(profile_) << "[nvcom]\nCOM3=" << link << "\n";
  ASSERT_EQ(Open(), kComOpened);
  ComWriteText(kCom3, "ATZ^M");
  EXPECT_NE(ReadUntil("ERROR").find("ERROR"), std::string::npos);
  ComWriteText(kCom3, "ATDT555^M");
  EXPECT_NE(ReadUntil("BUSY").find("BUSY"), std::string::npos);
  ComWriteText(kCom3, "ATDT123^M");  // unscripted: connects
  EXPECT_NE(ReadUntil("CONNECT 9600").find("CONNECT 9600"), std::string::npos);
  EXPECT_TRUE(WaitConnected(1));
  ComClose(kCom3, 0);
  int status = program.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_FALSE(fs::exists(link + ".carrier"));
}

}  // namespace
