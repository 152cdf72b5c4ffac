// The platform roles: window lookup (injected, and the real X11 one against
// a private X server when one can be started), drag setting, upgrade manager.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/platform/platform.h"

// After gtest: Xlib defines macros (None, Bool ...) that clash with it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

using namespace nv::platform;

TEST(WindowLookup, InjectedAnswerThenNoDisplayMeansNoWindow) {
  std::string asked;
  SetWindowLookup([&](std::string_view title) {
    asked = std::string(title);
    return title == "Fonvex Windows V2";
  });
  EXPECT_TRUE(FindTopLevelWindow("Fonvex Windows V2"));
  EXPECT_EQ(asked, "Fonvex Windows V2");
  EXPECT_FALSE(FindTopLevelWindow("Fonvex Windows"));
  SetWindowLookup(nullptr);
  EXPECT_FALSE(FindX11Window("Fonvex Windows V2", ":4711"));  // no such display
}

// A private Xvfb; skipped when it cannot be started.
class X11Lookup : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
    display_ = ":" + std::to_string(600 + getpid() % 300);
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/bin/Xvfb", "Xvfb", display_.c_str(), "-nolisten", "tcp", (char*)nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && d_ == nullptr; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      d_ = XOpenDisplay(display_.c_str());
    }
    if (d_ == nullptr) GTEST_SKIP() << "Xvfb did not start";
  }
  void TearDown() override {
    if (d_ != nullptr) XCloseDisplay(d_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // A window with a UTF-8 title, listed in the root's client list as a
  // window manager would.
  Window Client(const std::string& title, bool utf8) {
    Window w = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 10, 10, 0, 0, 0);
    if (utf8) {
      XChangeProperty(d_, w, XInternAtom(d_, "_NET_WM_NAME", False),
                      XInternAtom(d_, "UTF8_STRING", False), 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
    } else {
      XStoreName(d_, w, title.c_str());
    }
    clients_.push_back(long(w));
    XChangeProperty(d_, DefaultRootWindow(d_), XInternAtom(d_, "_NET_CLIENT_LIST", False),
                    XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(clients_.data()), int(clients_.size()));
    XSync(d_, False);
    return w;
  }
  std::string display_;
  pid_t pid_ = -1;
  Display* d_ = nullptr;
  std::vector<long> clients_;
};

TEST_F(X11Lookup, FindsAListedClientByItsExactTitle) {
  EXPECT_FALSE(FindX11Window("Fonvex Windows V2", display_.c_str()));  // no client list yet
  Client("Otra ventana", true);
  Client("Fonvex Windows V2", true);
  Client("Sólo WM_NAME", false);
  EXPECT_TRUE(FindX11Window("Fonvex Windows V2", display_.c_str()));
  EXPECT_FALSE(FindX11Window("Fonvex Windows", display_.c_str()));
  EXPECT_TRUE(FindX11Window("Sólo WM_NAME", display_.c_str()));
  // A listed window that no longer exists is passed over without error.
  Window gone = Client("Cerrada", true);
  XDestroyWindow(d_, gone);
  XSync(d_, False);
  EXPECT_FALSE(FindX11Window("Cerrada", display_.c_str()));
  EXPECT_TRUE(FindX11Window("Fonvex Windows V2", display_.c_str()));
}

TEST(DragSetting, ReadsOffAndRecordsRequests) {
  ClearDragRequests();
  EXPECT_FALSE(GetDragFullWindows());
  EXPECT_TRUE(SetDragFullWindows(false, true, true));
  EXPECT_TRUE(SetDragFullWindows(true, true, true));
  EXPECT_FALSE(GetDragFullWindows());  // nothing changes on Linux
  auto r = DragRequests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FALSE(r[0].on);
  EXPECT_TRUE(r[0].update_profile);
  EXPECT_TRUE(r[1].on);
  ClearDragRequests();
  EXPECT_TRUE(DragRequests().empty());
}

TEST(UpgradeManager, RecordsTheStartUpCallsInOrder) {
  ClearUpgradeCalls();
  EXPECT_EQ(ds_SetOption("BadFile", 0), 0);
  EXPECT_EQ(ds_AddDriver("Vtr"), 0);
  EXPECT_EQ(ds_IgnoreDriver("AllFiles", 1), 0);
  EXPECT_EQ(ds_SetOption("SPCreate", 1), 0);
  EXPECT_EQ(ds_SetOption("Backup", 1), 0);
  auto c = UpgradeCalls();
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0].function, "ds_SetOption");
  EXPECT_EQ(c[0].name, "BadFile");
  EXPECT_EQ(c[1].function, "ds_AddDriver");
  EXPECT_EQ(c[1].name, "Vtr");
  EXPECT_EQ(c[2].function, "ds_IgnoreDriver");
  EXPECT_EQ(c[2].value, 1);
  EXPECT_EQ(UpgradeOption("spcreate", -1), 1);
  EXPECT_EQ(UpgradeOption("Nada", -1), -1);
  ds_SetOption("Backup", 0);
  EXPECT_EQ(UpgradeOption("Backup", -1), 0);  // the last value counts
  ClearUpgradeCalls();
  EXPECT_TRUE(UpgradeCalls().empty());
}

}  // namespace
