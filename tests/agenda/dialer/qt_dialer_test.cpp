// DialNumber under the Qt backend, offscreen, over the modem simulator: real
// timers and the real clock carry a dial through to the connection.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "agenda/dialer.h"
#include "host/platform/serial.h"
#include "host/ui/qt/qt_backend.h"
#include "tools/modemsim/modem_sim.h"

// The font library keeps caches for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

namespace com = nv::platform;
namespace fs = std::filesystem;

TEST(QtDialer, DialsThroughToTheConnection) {
  const fs::path dir = fs::temp_directory_path() / ("qt_dialer." + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("NVRUN_PROFILE", (dir / "fonvex.ini").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  nv::tools::ModemSim sim;
  std::string error;
  ASSERT_TRUE(sim.Start((dir / "modem").string(), &error)) << error;
  std::ofstream(dir / "fonvex.ini") << "[nvcom]\nCOM2=" << sim.link() << "\n";
  nv::tools::ModemReply reply;
  ASSERT_TRUE(nv::tools::ParseReply("CONNECT 9600@300", &reply));
  sim.SetDefaultReply(reply);
  {
    int argc = 1;
    char name[] = "agenda_dialer_qt_test";
    char* argv[] = {name, nullptr};
    nv::ui::QtBackend qt(argc, argv);
    ASSERT_EQ(com::ComOpen(1, 0, 8192, 1024, true, false, false), com::kComOpened);
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(agenda::DialNumber(1, &text, 1, 0, 10, "777"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_NE(text.find("CONNECT"), std::string::npos) << text;
    EXPECT_TRUE(sim.carrier());
    com::ComClose(1, 0);
  }
  EXPECT_EQ(sim.Commands(), (std::vector<std::string>{"ATV1", "ATX4", "ATDT777"}));
  sim.Stop();
  fs::remove_all(dir);
}

}  // namespace
