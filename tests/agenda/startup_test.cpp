// The program's start and end: the runtime version question, the global
// objects, the upgrade manager configured once per process, the dictionary
// and the call-file names, the tear-down.
#include "agenda/main_window.h"
#include "host/runtime/version.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using namespace nv::ui;

TEST(RuntimeVersion, SameMajorAndNoNewerMinor) {
  EXPECT_EQ(nv::RuntimeVersion(), 5500);
  EXPECT_TRUE(nv::RuntimeCompatible(5500));
  EXPECT_TRUE(nv::RuntimeCompatible(5000));
  EXPECT_FALSE(nv::RuntimeCompatible(5501));
  EXPECT_FALSE(nv::RuntimeCompatible(4500));
  EXPECT_FALSE(nv::RuntimeCompatible(6000));
  EXPECT_FALSE(nv::RuntimeCompatible(0));
  EXPECT_FALSE(nv::RuntimeCompatible(-5500));
}

class StartupTest : public AgendaTest {};

TEST_F(StartupTest, IncompatibleRuntimeRunsNothing) {
  WriteDemo();
  agenda::StartOptions o;
  int asked = 0;
  o.runtime_compatible = [&](int v) {
    ++asked;
    EXPECT_EQ(v, 5500);
    return false;
  };
  EXPECT_EQ(agenda::ProgramStart(o), agenda::kExitRuntime);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(ui_->opened().empty());
  EXPECT_EQ(nv::dict::Dic(), nullptr);
}

TEST_F(StartupTest, GlobalsDictionaryAndCallFileNamesWhileRunning) {
  WriteDemo();
  MainProgram(true, 1);
  bool seen = false;
  ui_->OnOpen("Agenda", [&](Window& w) {
    seen = true;
    agenda::GlobalObjects* g = agenda::Globals();
    ASSERT_NE(g, nullptr);
    EXPECT_TRUE(g->fuzzy.Option(1));
    EXPECT_FALSE(g->fuzzy.Option(2));
    EXPECT_EQ(g->ini.file_name(), "agenda.INI");
    EXPECT_EQ(&CurrentErrorReporter(), &g->error_manager);
    nv::dict::Dictionary* dic = nv::dict::Dic();
    ASSERT_NE(dic, nullptr);
    EXPECT_EQ(dic->NameVariable("FXMO01")->str(), ".\\Archivos\\FXMO01.VTR");
    EXPECT_EQ(dic->NameVariable("FXMO02")->str(), ".\\Archivos\\FXMO02.VTR");
    EXPECT_EQ(dic->NameVariable("FXTR01")->str(), ".\\Archivos\\FXTR01.VTR");
    EXPECT_EQ(dic->NameVariable("FXTR02")->str(), ".\\Archivos\\FXTR02.VTR");
    EXPECT_TRUE(dic->Access("FXMA11")->is_open());
    EXPECT_TRUE(dic->Access("ALMA11")->is_open());
    EXPECT_TRUE(dic->Access("A2MA11")->is_open());
    Press(w, agenda::kSalir);
  });
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_TRUE(seen);
  EXPECT_EQ(nv::dict::Dic(), nullptr);
  EXPECT_EQ(agenda::Globals(), nullptr);
}

TEST_F(StartupTest, UpgradeManagerConfiguredOncePerProcess) {
  WriteDemo();
  MainProgram(true, 1);
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_FALSE(agenda::ConfigureUpgradeManager());
  const auto calls = nv::platform::UpgradeCalls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].function, "ds_SetOption");
  EXPECT_EQ(calls[0].name, "BadFile");
  EXPECT_EQ(calls[0].value, 0);
  EXPECT_EQ(calls[1].function, "ds_AddDriver");
  EXPECT_EQ(calls[1].name, "Vtr");
  EXPECT_EQ(calls[2].function, "ds_IgnoreDriver");
  EXPECT_EQ(calls[2].name, "AllFiles");
  EXPECT_EQ(calls[2].value, 1);
  EXPECT_EQ(calls[3].name, "SPCreate");
  EXPECT_EQ(calls[3].value, 1);
  EXPECT_EQ(calls[4].name, "Backup");
  EXPECT_EQ(calls[4].value, 1);
}

TEST_F(StartupTest, DraggingIsOffOnLinuxSoNothingIsSwitched) {
  WriteDemo();
  MainProgram(true, 1);
  nv::platform::ClearDragRequests();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_TRUE(nv::platform::DragRequests().empty());
}

TEST_F(StartupTest, EmptyFolderGetsDirectoryFilesAndAnEmptyAgenda) {
  ASSERT_EQ(mkdir("Archivos", 0755), 0);
  MainProgram(true, 1);
  bool seen = false;
  ui_->OnOpen("Agenda", [&](Window& w) {
    seen = true;
    EXPECT_TRUE(w.Rows(agenda::kEmpLista).empty());
    EXPECT_TRUE(w.Rows(agenda::kConLista).empty());
    Press(w, agenda::kSalir);
  });
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_TRUE(seen);
}

TEST_F(StartupTest, MissingFolderEndsWithoutMainWindow) {
  UseStore("Norvane");  // the flat store cannot create a file in a missing folder
  MainProgram(true, 1);
  EXPECT_EQ(Start(), agenda::kExitNoFiles);
  EXPECT_EQ(Count("Agenda"), 0);
  EXPECT_FALSE(ui_->messages().empty());  // the file error was shown
}

}  // namespace
}  // namespace agendatest
