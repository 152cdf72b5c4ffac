// Shared set-up of the agenda tests: a working folder of its own with an
// "Archivos" installation written by the demo-data writer (or left empty),
// the default profile in that folder, the headless backend with its clock,
// the window lookup answered by the test, and the procedure table reset.
//
// The store: the flat store ("Norvane", loaded from libnvflat.so), chosen
// through the dictionary's profile section, with real data, memo and key
// files in ./Archivos of the test's own temporary folder.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agenda/procedures.h"
#include "agenda/startup.h"
#include "agenda/text.h"
#include "host/dictionary/dictionary.h"
#include "host/dictionary/records.h"
#include "host/platform/platform.h"
#include "host/runtime/env.h"
#include "host/runtime/error_state.h"
#include "host/runtime/profile.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/window.h"
#include "tools/demodata/demodata.h"

namespace agendatest {

using agenda::A;

class AgendaTest : public ::testing::Test {
 protected:
  // Every file of the test moves to `driver` (empty: the declared store),
  // in the folder ./Archivos given by its full path, or with `owner` into
  // that data source.
  void UseStore(const std::string& driver, const std::string& owner = "") {
    store_ = driver;
    store_owner_ = owner;
    for (const char* profile : {"agenda.INI", ""}) {
      ASSERT_TRUE(nv::WriteProfileString(profile, "Dictionary", "Driver", driver));
      ASSERT_TRUE(nv::WriteProfileString(profile, "Dictionary", "Folder", dir_ + "/Archivos"));
      if (!owner.empty()) {
        ASSERT_TRUE(nv::WriteProfileString(profile, "Dictionary", "Owner", owner));
      }
    }
  }
  // The store of the test, chosen in SetUp before anything is opened.
  virtual void ChooseStore() { UseStore("Norvane"); }

  void SetUp() override {
    nv::ClearError();
    char tmpl[] = "/tmp/nvagenda-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    const char* old = getenv("NVRUN_PROFILE");
    old_profile_ = old ? old : "";
    had_profile_ = old != nullptr;
    setenv("NVRUN_PROFILE", (dir_ + "/fonvex.ini").c_str(), 1);
    ui_ = std::make_unique<nv::ui::HeadlessBackend>();
    nv::SetEnv(ui_->clock_env());
    main_program_ = false;
    nv::platform::SetWindowLookup(
        [this](std::string_view title) { return main_program_ && title == "Fonvex Windows V2"; });
    agenda::ResetProcedures();
    ChooseStore();
  }

  void TearDown() override {
    agenda::ResetProcedures();
    nv::platform::SetWindowLookup(nullptr);
    nv::SetEnv(nullptr);
    ui_.reset();
    if (had_profile_) {
      setenv("NVRUN_PROFILE", old_profile_.c_str(), 1);
    } else {
      unsetenv("NVRUN_PROFILE");
    }
    ASSERT_EQ(chdir(old_cwd_), 0);
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  // A small demo installation in ./Archivos.
  void WriteDemo(int companies = 12, int contacts = 15, int64_t calls = 60) {
    demodata::Options o;
    o.out = dir_ + "/Archivos";
    o.driver = store_;
    o.owner = store_owner_;
    o.companies = companies;
    o.contacts = contacts;
    o.calls = calls;
    o.seed = 7;
    demodata::Summary s;
    std::string error;
    ASSERT_EQ(demodata::Write(o, &s, &error), 0) << error;
  }

  // The suite's main program is running with this user code in [FXQ-USR].
  void MainProgram(bool running, long code) {
    main_program_ = running;
    ASSERT_TRUE(nv::WriteProfileString("", "FXQ-USR", "CODIGO", std::to_string(code)));
  }

  // Every file of ./Archivos with its bytes.
  static std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    DIR* d = opendir("Archivos");
    if (d == nullptr) return files;
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string bytes;
      nv::ReadWholeFile("Archivos/" + name, &bytes);
      files[name] = bytes;
    }
    closedir(d);
    return files;
  }

  int Start() { return agenda::ProgramStart(); }

  // Captions of the windows opened, in order, as UTF-8.
  int Count(const std::string& caption) const {
    int n = 0;
    for (const std::string& c : ui_->opened()) n += c == A(caption);
    return n;
  }

  std::string dir_;
  std::string store_, store_owner_;
  char old_cwd_[4096] = {};
  std::string old_profile_;
  bool had_profile_ = false;
  bool main_program_ = false;
  std::unique_ptr<nv::ui::HeadlessBackend> ui_;
};

}  // namespace agendatest
