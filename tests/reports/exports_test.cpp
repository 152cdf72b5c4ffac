// The library boundary: libFXR4.so loaded by name exports exactly the names
// the suite's main program looks up, FXR4:INIT redirects only what it is
// given, and report runs started on threads of their own are independent.
#include <dlfcn.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/platform/platform.h"
#include "host/ui/framework.h"
#include "tests/reports/report_fixture.h"

namespace fxr4test {
namespace {

TEST(ExportsTest, BoundaryNamesAndInit) {
  // By full path: under the sanitizers dlopen is called from their runtime,
  // whose search path does not hold the build's folder.
  char self[4096];
  ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  self[len > 0 ? len : 0] = 0;
  const std::string path = std::filesystem::path(self).parent_path().string() + "/libFXR4.so";
  void* h = dlopen(path.c_str(), RTLD_NOW);
  ASSERT_NE(h, nullptr) << dlerror();
  using VersionFn = const char* (*)();
  auto version = reinterpret_cast<VersionFn>(dlsym(h, "VERSION_FXR4"));
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version(), "2.4.9.0");
  EXPECT_NE(dlsym(h, "FXR4:KILL"), nullptr);
  // Loading configured the upgrade manager, in this order.
  std::vector<std::string> calls;
  for (const auto& c : nv::platform::UpgradeCalls()) calls.push_back(c.function + " " + c.name);
  const std::vector<std::string> want = {"ds_SetOption BadFile", "ds_AddDriver Vtr",
                                         "ds_IgnoreDriver AllFiles", "ds_SetOption SPCreate",
                                         "ds_SetOption Backup"};
  EXPECT_EQ(calls, want);
  size_t n = 0;
  const fxr4::DetailProc* procs = fxr4::DetailProcs(&n);
  for (size_t i = 0; i < n; ++i) EXPECT_NE(dlsym(h, procs[i].name), nullptr) << procs[i].name;

  // Loading pointed the current error reporter at the library's own.
  nv::ui::ErrorReporter* own = &nv::ui::CurrentErrorReporter();
  using InitFn = void (*)(void*, void*);
  auto init = reinterpret_cast<InitFn>(dlsym(h, "FXR4:INIT"));
  ASSERT_NE(init, nullptr);
  nv::ui::ErrorReporter mine;
  nv::ui::ProfileObject profile;
  init(nullptr, &profile);  // a null reporter leaves the reporter alone
  EXPECT_EQ(&nv::ui::CurrentErrorReporter(), own);
  init(&mine, nullptr);
  EXPECT_EQ(&nv::ui::CurrentErrorReporter(), &mine);
  init(nullptr, nullptr);
  EXPECT_EQ(&nv::ui::CurrentErrorReporter(), &mine);
  nv::ui::SetCurrentErrorReporter(nullptr);

  using OutputFn = int (*)(const char*);
  auto output = reinterpret_cast<OutputFn>(dlsym(h, "FXR4:OUTPUT"));
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output("pdf:"), 1);
  EXPECT_EQ(output("sideways"), 1);
  EXPECT_EQ(output(nullptr), 1);
  EXPECT_EQ(output("none"), 0);
  // A procedure given null arguments runs (over no files) without failing.
  using ProcFn = void (*)(const char*, size_t, const char*, size_t);
  auto proc = reinterpret_cast<ProcFn>(dlsym(h, "RPT_SAL_FECHA_DETALLE"));
  ASSERT_NE(proc, nullptr);
  proc(nullptr, 0, nullptr, 0);
  dlclose(h);
}

using StartTest = ReportTest;

TEST_F(StartTest, EachStartIsAnIndependentRun) {
  for (int i = 0; i < 20; ++i) AddCall(Call(i + 1, Day(2026, 3, 3), Hms(9, i, 0)));
  writers_.clear();
  std::atomic<int> delivered{0};
  std::vector<std::thread> runs;
  for (int i = 0; i < 2; ++i) {
    fxr4::RunOptions o;
    o.dict = dict_.get();
    o.deliver = [&](nv::report::Document&& d) {
      if (!d.pages.empty()) ++delivered;
    };
    runs.push_back(fxr4::StartDetail(*fxr4::FindDetailProc("RPT_SAL_FECHA_DETALLE"),
                                     Rpt(Day(2026, 3, 1), Day(2026, 3, 9)), Opc(), o));
  }
  for (std::thread& t : runs) t.join();
  EXPECT_EQ(delivered.load(), 2);
}

// A C program that only loads the library by name opens the date chooser,
// whose scripted user prints the summary: the report run on its own
// thread writes the document before FXR4:WAIT returns.
TEST_F(StartTest, CProgramLoadsTheLibraryAndPrintsFromAChooser) {
  for (int i = 0; i < 12; ++i) AddCall(Call(i + 1, Day(2026, 3, 2 + i), Hms(10, i, 0)));
  writers_.clear();
  char self[4096];
  ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  self[len > 0 ? len : 0] = 0;
  const std::string bin = std::filesystem::path(self).parent_path().string();
  const std::string out = dir_ + "/informe.txt";
  const std::string cmd = "cd '" + dir_ + "' && '" + bin + "/fxr4_boundary' '" + bin + "' " +
                          std::to_string(Day(2026, 3, 1)) + " " +
                          std::to_string(Day(2026, 3, 31)) + " '" + out + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream f(out);
  std::stringstream text;
  text << f.rdbuf();
  EXPECT_NE(text.str().find("Total Llamadas: 12"), std::string::npos) << text.str();
}

}  // namespace
}  // namespace fxr4test
