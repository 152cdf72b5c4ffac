// Login: single sign-on through the suite's main program, the login window
// with its three attempts, exact matching, the 20-second timer, Cancelar and
// the halt that touches no file.
#include "agenda/login.h"
#include "agenda/main_window.h"
#include "tests/agenda/agenda_fixture.h"

namespace agendatest {
namespace {

using namespace nv::ui;

class LoginTest : public AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    WriteDemo();
  }

  // The next login window gets this name and password and "Aceptar".
  void Attempt(std::string name, std::string password) {
    ui_->OnOpen("Seguridad", [name, password](Window& w) {
      Type(w, agenda::kLoginNombre, A(name));
      Type(w, agenda::kLoginClave, A(password));
      Press(w, agenda::kLoginAceptar);
    });
  }

  // The main window notes who is logged in and closes.
  void NoteUserAndLeave() {
    ui_->OnOpen("Agenda", [this](Window& w) {
      user_ = int(agenda::Int(nv::dict::Dic()->globals().CODUSR));
      attr_ = nv::dict::Dic()->globals().ATRUSR.str();
      Press(w, agenda::kSalir);
    });
  }

  int Failures() const {
    int n = 0;
    for (const auto& m : ui_->messages()) {
      if (m.shape.text == A(" Usuario o contraseña incorrecta !!!")) {
        EXPECT_EQ(m.shape.caption, A("Atención"));
        EXPECT_EQ(m.shape.icon, Icon::kError);
        EXPECT_EQ(m.shape.buttons.size(), 1u);
        ++n;
      }
    }
    return n;
  }

  int user_ = -1;
  std::string attr_;
};

TEST_F(LoginTest, SingleSignOnSkipsTheLoginWindow) {
  MainProgram(true, 3);
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(user_, 3);
  EXPECT_EQ(Count("Seguridad"), 0);
  EXPECT_EQ(Count("Agenda"), 1);
}

TEST_F(LoginTest, MainProgramWithCodeZeroAsksAsIfAbsent) {
  MainProgram(true, 0);
  Attempt("DEMO", "demo");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Count("Seguridad"), 1);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, CodeWithoutMainProgramIsIgnored) {
  MainProgram(false, 3);
  Attempt("Ana García", "ana2024");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Count("Seguridad"), 1);
  EXPECT_EQ(user_, 2);
  EXPECT_EQ(attr_, "OPE");
}

TEST_F(LoginTest, UnreadableCodeInTheProfileAsksForLogin) {
  main_program_ = true;
  ASSERT_TRUE(nv::WriteProfileString("", "FXQ-USR", "CODIGO", "abc"));
  Attempt("DEMO", "demo");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Count("Seguridad"), 1);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, WrongPasswordThenRightOne) {
  Attempt("DEMO", "otra");
  Attempt("DEMO", "demo");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Count("Seguridad"), 2);
  EXPECT_EQ(Failures(), 1);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, LetterCaseCountsInNameAndPassword) {
  Attempt("demo", "demo");
  Attempt("DEMO", "DEMO");
  Attempt("DEMO", "demo");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Failures(), 2);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, TrailingBlanksAreIgnoredLeadingOnesAreNot) {
  Attempt(" DEMO", "demo");
  Attempt("DEMO", " demo");
  Attempt("DEMO    ", "demo   ");
  NoteUserAndLeave();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Failures(), 2);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, UnknownNameAndEmptyFieldsAreRejected) {
  Attempt("NADIE", "demo");
  Attempt("", "");
  Attempt("DEMO", "");
  EXPECT_EQ(Start(), agenda::kExitHalted);
  EXPECT_EQ(Failures(), 3);
  EXPECT_EQ(Count("Agenda"), 0);
}

TEST_F(LoginTest, TimeoutUsesUpAnAttempt) {
  // The first window is left alone: its timer closes it after 20 s.
  ui_->OnOpen("Seguridad", [](Window&) {});  // then idle: the timer fires
  Attempt("DEMO", "demo");
  NoteUserAndLeave();
  const int64_t before = ui_->Now();
  EXPECT_EQ(Start(), agenda::kExitOk);
  EXPECT_EQ(Count("Seguridad"), 2);
  EXPECT_EQ(Failures(), 0);
  EXPECT_GE(ui_->Now() - before, agenda::kLoginTimer);
  EXPECT_EQ(user_, 1);
}

TEST_F(LoginTest, ThreeTimeoutsHalt) {
  const auto before = Snapshot();
  EXPECT_EQ(Start(), agenda::kExitHalted);
  EXPECT_EQ(Count("Seguridad"), 3);
  EXPECT_EQ(Count("Agenda"), 0);
  EXPECT_GE(ui_->Now(), 3 * agenda::kLoginTimer);
  EXPECT_TRUE(ui_->messages().empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(LoginTest, ThreeFailuresHaltWithNoFileTouched) {
  const auto before = Snapshot();
  ASSERT_FALSE(before.empty());
  Attempt("DEMO", "x");
  Attempt("DEMO", "y");
  Attempt("DEMO", "z");
  Attempt("DEMO", "demo");  // never reached
  EXPECT_EQ(Start(), agenda::kExitHalted);
  EXPECT_EQ(Count("Seguridad"), 3);
  EXPECT_EQ(Failures(), 3);
  EXPECT_EQ(Count("Agenda"), 0);
  EXPECT_EQ(nv::dict::Dic(), nullptr);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(LoginTest, CancelarHaltsAtOnceWithoutMessage) {
  const auto before = Snapshot();
  ui_->OnOpen("Seguridad", [](Window& w) { Press(w, agenda::kLoginCancelar); });
  Attempt("DEMO", "demo");  // never reached
  EXPECT_EQ(Start(), agenda::kExitHalted);
  EXPECT_EQ(Count("Seguridad"), 1);
  EXPECT_TRUE(ui_->messages().empty());
  EXPECT_EQ(Count("Agenda"), 0);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(LoginTest, LoginWindowClearsTheUserBufferOnOpening) {
  nv::dict::FxdatsInit(nullptr, nullptr);
  nv::dict::FileAccess* ta01 = nv::dict::Dic()->Access("FXTA01");
  ta01->rec<nv::dict::TA01Record>().NOMUSR = "DEMO";
  ta01->rec<nv::dict::TA01Record>().CLAVE = "demo";
  ui_->OnOpen("Seguridad", [ta01](Window& w) {
    EXPECT_TRUE(ta01->rec<nv::dict::TA01Record>().NOMUSR.empty());
    EXPECT_EQ(w.Timer(), 2000);
    EXPECT_TRUE(w.control(agenda::kLoginClave).def.password);
    Press(w, agenda::kLoginAceptar);  // nothing typed
  });
  const agenda::LoginAnswer a = agenda::Seguridad();
  EXPECT_EQ(a.code, 0);
  EXPECT_FALSE(a.halt);
  EXPECT_EQ(Failures(), 1);
  nv::dict::FxdatsKill();
}

}  // namespace
}  // namespace agendatest
