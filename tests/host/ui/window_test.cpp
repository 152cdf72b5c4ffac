// The event loop under the headless backend: a procedure written as the
// window's description says, driven by a scripted user, a test clock and
// queued message-box answers.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "host/runtime/codepage.h"
#include "host/runtime/env.h"
#include "host/runtime/fixed_string.h"
#include "host/ui/backend.h"
#include "host/ui/headless/headless_backend.h"
#include "host/ui/progress.h"
#include "host/ui/window.h"

namespace {

using namespace nv::ui;

std::string A(std::string_view utf8) {
  return nv::AnsiFromUtf8(utf8);
}

enum : ControlId { kNombre = 1, kClave, kAceptar, kCancelar, kPicture };

// A login window as a procedure would write it: "Aceptar" is the closing
// button, a 20-second timer gives up.
int Login(const std::string& user, const std::string& password,
          std::vector<Event>* seen = nullptr) {
  Window w(WindowDef("Seguridad", {Prompt("&Nombre:"), Entry(kNombre, "@s30"),
                                   Prompt(A("&Contraseña:")), Entry(kClave, "@s8").Password(),
                                   Button(kAceptar, "&Aceptar").Default().Closing(),
                                   Button(kCancelar, "&Cancelar"), Image(kPicture, "login.png")})
               .Timer(2000));
  w.Open();
  while (w.Accept()) {
    if (seen) seen->push_back(w.Event());
    switch (w.Event()) {
      case Event::kAccepted:
        if (w.Field() == kAceptar) {
          if (nv::Clip(w.Text(kNombre)) == user && nv::Clip(w.Text(kClave)) == password) {
            w.SetResult(7);
          } else {
            Message(A(" Usuario o contraseña incorrecta !!!"), A("Atención"), Icon::kError);
            w.SetResult(0);
          }
        } else if (w.Field() == kCancelar) {
          w.Close(-1);
        }
        break;
      case Event::kTimer:
        w.Close(0);
        break;
      default:
        break;
    }
  }
  return w.result();
}

class WindowTest : public ::testing::Test {
 protected:
  HeadlessBackend ui;
};

TEST_F(WindowTest, ScriptedLoginRunsTheProcedureToItsResult) {
  ui.OnOpen("Seguridad", [](Window& w) {
    EXPECT_TRUE(w.control(kClave).def.password);
    Type(w, kNombre, "ANA");
    Type(w, kClave, "clave");
    Press(w, kAceptar);
  });
  std::vector<Event> seen;
  EXPECT_EQ(Login("ANA", "clave", &seen), 7);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), Event::kOpenWindow);
  EXPECT_EQ(seen.back(), Event::kCloseWindow);
  EXPECT_TRUE(ui.notes().empty());
  EXPECT_TRUE(OpenWindows().empty());
}

TEST_F(WindowTest, WrongPasswordShowsTheMessageAndStillCloses) {
  ui.QueueAnswer(1);
  ui.OnOpen("Seguridad", [](Window& w) {
    Type(w, kNombre, "ANA");
    Type(w, kClave, "CLAVE");  // letter case counts
    Press(w, kAceptar);
  });
  EXPECT_EQ(Login("ANA", "clave"), 0);
  auto m = ui.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].shape.caption, A("Atención"));
  EXPECT_EQ(m[0].shape.text, A(" Usuario o contraseña incorrecta !!!"));
  EXPECT_EQ(m[0].shape.icon, Icon::kError);
  EXPECT_EQ(m[0].shape.buttons, std::vector<std::string>{"&Aceptar"});
  EXPECT_TRUE(m[0].from_queue);
}

TEST_F(WindowTest, UntouchedWindowTimesOutOnTheTestClock) {
  EXPECT_EQ(Login("ANA", "clave"), 0);
  EXPECT_EQ(ui.Now(), 2000);  // exactly one 20-second tick, no more
  EXPECT_TRUE(ui.notes().empty());
}

TEST_F(WindowTest, ExplicitClockAdvanceFiresTheTimerOnce) {
  int timers = 0;
  Window w(WindowDef("Reloj", {Button(kAceptar, "Aceptar")}).Timer(50));
  ui.SetAutoTimers(false);
  ui.OnOpen("Reloj", [&](Window&) { ui.AdvanceClock(49); });
  ui.OnIdle("Reloj", [&](Window&) { ui.AdvanceClock(1); });
  ui.OnIdle("Reloj", [&](Window&) { ui.AdvanceClock(500); });  // missed ticks coalesce
  ui.OnIdle("Reloj", [&](Window& win) { Press(win, kAceptar); });
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kTimer) ++timers;
    if (w.Event() == Event::kAccepted) w.Close(kCompleted);
  }
  EXPECT_EQ(timers, 2);
  EXPECT_EQ(w.result(), kCompleted);
}

TEST_F(WindowTest, ClockEnvFollowsTheBackendClock) {
  ui.SetClockStart(82000, 8640000 - 99);  // one second before midnight
  nv::Env* env = ui.clock_env();
  EXPECT_EQ(env->Clock(), 8640000 - 99);
  ui.AdvanceClock(100);
  EXPECT_EQ(env->Today(), 82001);
  EXPECT_EQ(env->Clock(), 1);  // midnight
  env->Delay(1000);
  EXPECT_EQ(ui.Now(), 200);
}

TEST_F(WindowTest, UnattendedWindowClosesWithANote) {
  EXPECT_EQ(Login("x", "y"), 0);  // timer ends it: not unattended
  Window w(WindowDef("Sin guion", {Button(kAceptar, "Aceptar")}));
  w.Open();
  int n = 0;
  while (w.Accept()) ++n;
  EXPECT_EQ(n, 2);  // open, close
  EXPECT_EQ(w.result(), kCancelled);
  ASSERT_EQ(ui.notes().size(), 1u);
  EXPECT_EQ(ui.notes()[0], "unattended: Sin guion");
}

TEST_F(WindowTest, ATimerThatNeverEndsTheWindowIsCutOff) {
  ui.SetAutoTimers(true, 50);
  Window w(WindowDef("Discando", {}).Timer(5));
  w.Open();
  int ticks = 0;
  while (w.Accept()) {
    if (w.Event() == Event::kTimer) ++ticks;
  }
  EXPECT_EQ(ticks, 50);
  EXPECT_EQ(ui.Now(), 250);
  ASSERT_EQ(ui.notes().size(), 1u);
  EXPECT_EQ(ui.notes()[0], "unattended: timer of Discando");
}

TEST_F(WindowTest, TimerCanBeStoppedAndRestarted) {
  Window w(WindowDef("Modem", {Button(kAceptar, "Cortar")}).Timer(5));
  ui.SetAutoTimers(false);
  ui.OnOpen("Modem", [&](Window&) { ui.AdvanceClock(5); });
  ui.OnIdle("Modem", [&](Window&) { ui.AdvanceClock(100); });  // stopped: nothing
  ui.OnIdle("Modem", [&](Window& win) {
    win.SetTimer(10);
    ui.AdvanceClock(9);
  });
  ui.OnIdle("Modem", [&](Window&) { ui.AdvanceClock(1); });
  ui.OnIdle("Modem", [](Window& win) { Press(win, kAceptar); });
  std::vector<int64_t> at;
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kTimer) {
      at.push_back(ui.Now());
      w.SetTimer(0);
    }
    if (w.Event() == Event::kAccepted) w.Close(kCompleted);
  }
  EXPECT_EQ(at, (std::vector<int64_t>{5, 115}));
}

TEST_F(WindowTest, MalformedPictureShowsNothingAndReadsEmpty) {
  Window w(WindowDef("Mal", {Entry(kNombre, "@x9"), Entry(kClave, "@n")}));
  w.SetContents(kNombre, nv::Value(12));
  EXPECT_EQ(w.Text(kNombre), "");
  w.SetText(kClave, "abc");
  EXPECT_EQ(w.Contents(kClave).AsNumber(), 0);
  ui.OnOpen("Mal", [](Window& win) {
    Type(win, kClave, "12");
    win.UserClose();
  });
  w.Open();
  while (w.Accept()) {
  }
  EXPECT_EQ(w.Text(kClave), "");
}

TEST_F(WindowTest, AProcedureThatRefusesEveryCloseCannotHang) {
  Window w(WindowDef("Terco", {}));
  w.Open();
  int closes = 0;
  while (w.Accept()) {
    if (w.Event() == Event::kCloseWindow) {
      ++closes;
      w.KeepOpen();
    }
  }
  EXPECT_EQ(closes, 3);
  EXPECT_FALSE(w.is_open());
}

TEST_F(WindowTest, KeepOpenCancelsTheCloseAndTheLoopGoesOn) {
  ui.OnOpen("Ficha", [](Window& w) { Press(w, kCancelar); });
  ui.OnIdle("Ficha", [](Window& w) { Press(w, kCancelar); });
  ui.QueueAnswer(2);  // "No": stay
  ui.QueueAnswer(1);  // "Si": leave
  Window w(WindowDef("Ficha", {Button(kAceptar, "Aceptar"), Button(kCancelar, "Cancelar")}));
  w.Open();
  int asked = 0;
  while (w.Accept()) {
    if (w.Event() == Event::kAccepted && w.Field() == kCancelar) w.Close(kCancelled);
    if (w.Event() == Event::kCloseWindow) {
      ++asked;
      if (Message("Seguro?", "ATENCION", Icon::kQuestion, "Si|No", 2) == 2) w.KeepOpen();
    }
  }
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(w.result(), kCancelled);
}

TEST_F(WindowTest, EmptyAnswerQueueTakesTheDefaultButtonAndNotesIt) {
  EXPECT_EQ(Message("Borrar?", "ATENCION", Icon::kQuestion, "Si|No", 2), 2);
  ASSERT_EQ(ui.notes().size(), 1u);
  EXPECT_EQ(ui.notes()[0], "unanswered: ATENCION: Borrar?");
  // A default outside the buttons is clamped; an answer outside them is 0.
  EXPECT_EQ(Message("x", "c", Icon::kNone, "Uno|Dos", 9), 2);
  ui.QueueAnswer(5);
  EXPECT_EQ(Message("x", "c", Icon::kNone, "Uno|Dos", 1), 0);
  EXPECT_EQ(Message("x", "c", Icon::kNone, "", 1), 1);  // one "&Aceptar"
}

TEST_F(WindowTest, PropertiesAreReadBackAndDisabledControlsIgnoreTheUser) {
  enum : ControlId { kCodigo = 10, kCliente, kIva, kTabs, kDatos, kBarra };
  Window w(WindowDef(
      "Props",
      {Sheet(kTabs, {Tab("&General",
                         {Entry(kCodigo, "@n-4.0").Tip("Código"), Check(kCliente, "Cliente"),
                          DropList(kIva, {"Responsable Inscripto", "Exento"})},
                         kDatos)}),
       Progress(kBarra), Button(kAceptar, "Aceptar")}));
  EXPECT_EQ(w.Text(kCodigo), "   0");  // empty numeric entries show 0
  w.SetContents(kCodigo, nv::Value(12));
  EXPECT_EQ(w.Text(kCodigo), "  12");
  EXPECT_EQ(w.Contents(kCodigo).AsInteger(), 12);
  w.SetValue(kIva, 2);
  EXPECT_EQ(w.Text(kIva), "Exento");
  w.SetValue(kIva, 5);  // no such entry: nothing shown
  EXPECT_EQ(w.Text(kIva), "");
  w.SetValue(kIva, 2);
  w.SetItems(kIva, {"Uno"});  // the choice is gone with its entry
  EXPECT_EQ(w.Value(kIva), 0);
  w.SetProgressRange(kBarra, 0, 10);
  w.SetProgress(kBarra, 99);
  EXPECT_EQ(w.ProgressValue(kBarra), 10);  // clamped to the range
  w.Disable(kDatos);                       // the tab: everything on it
  EXPECT_FALSE(w.Enabled(kCliente));
  w.Hide(kTabs);
  EXPECT_TRUE(w.Hidden(kCodigo));
  w.Unhide(kTabs);
  w.Enable(kDatos);
  w.SetTip(kCodigo, "otro");
  EXPECT_EQ(w.Tip(kCodigo), "otro");
  w.SetPosition(kAceptar, {1, 2, 3, 4});
  EXPECT_EQ(w.Position(kAceptar), (Rect{1, 2, 3, 4}));
  // Unknown ids read as empty and setting them changes nothing.
  w.SetText(999, "x");
  EXPECT_EQ(w.Text(999), "");
  EXPECT_FALSE(w.Enabled(999));

  ui.OnOpen("Props", [](Window& win) {
    win.Disable(kAceptar);
    Press(win, kAceptar);  // ignored
    Choose(win, kCliente, 1);
    win.Post(Event::kAccepted, kAceptar);  // the procedure's own post goes through
  });
  std::vector<std::pair<Event, ControlId>> got;
  w.Open();
  while (w.Accept()) {
    got.push_back({w.Event(), w.Field()});
    if (w.Event() == Event::kAccepted && w.Field() == kAceptar) w.Close(kCompleted);
  }
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1], std::make_pair(Event::kAccepted, ControlId(kCliente)));
  EXPECT_EQ(got[2], std::make_pair(Event::kAccepted, ControlId(kAceptar)));
  EXPECT_EQ(w.Value(kCliente), 1);
}

TEST_F(WindowTest, AlertKeysCarryTheirKeyCode) {
  Window w(WindowDef("Teclas", {Entry(kNombre, "@s10")}));
  w.Alert(kKeyF1 + 1);
  ui.OnOpen("Teclas", [](Window& win) {
    win.UserKey(kKeyF1 + 1);
    win.UserKey(kKeyF1 + 2);  // not registered: nothing
    win.UserKey(kKeyEsc);     // closes
  });
  int alerts = 0;
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kAlertKey) {
      ++alerts;
      EXPECT_EQ(w.Keycode(), kKeyF1 + 1);
    }
  }
  EXPECT_EQ(alerts, 1);
  EXPECT_EQ(w.result(), kCancelled);
}

int Inner() {
  Window w(WindowDef("Interna", {Button(kAceptar, "Aceptar").Closing()}));
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kAccepted) w.SetResult(kCompleted);
  }
  return w.result();
}

TEST_F(WindowTest, AProcedureStartedFromAnEventRunsModallyOverTheFirst) {
  size_t open_during = 0;
  ui.OnOpen("Externa", [](Window& w) { Press(w, kAceptar); });
  ui.OnOpen("Interna", [&](Window& w) {
    open_during = OpenWindows().size();
    Press(w, kAceptar);
  });
  ui.OnIdle("Externa", [](Window& w) { w.UserClose(); });
  Window w(WindowDef("Externa", {Button(kAceptar, "Abrir")}));
  w.Open();
  int inner = 0;
  while (w.Accept()) {
    if (w.Event() == Event::kAccepted) inner = Start(Inner);
  }
  EXPECT_EQ(inner, kCompleted);
  EXPECT_EQ(open_during, 2u);
  EXPECT_EQ(ui.opened(), (std::vector<std::string>{"Externa", "Interna"}));
}

TEST_F(WindowTest, CaptionChangedOnOpenStillMatchesScripts) {
  ui.OnIdle("Agregando un nuevo Rubro", [](Window& w) { Press(w, kAceptar); });
  Window w(WindowDef("Ficha de Rubro", {Button(kAceptar, "Aceptar").Closing()}));
  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kOpenWindow) w.SetCaption("Agregando un nuevo Rubro");
  }
  EXPECT_TRUE(ui.notes().empty());
}

TEST_F(WindowTest, ProgressWindowOnAReportThreadCanBeCancelled) {
  ui.OnIdle(ProgressWindow::kCaption, [](Window& w) {
    EXPECT_EQ(w.Text(ProgressWindow::kUserText), "Procesando llamadas");
    Press(w, ProgressWindow::kCancelar);
  });
  std::atomic<int> steps{0};
  std::atomic<bool> cancelled{false};
  std::thread report([&] {
    ProgressWindow p("Procesando llamadas");
    p.Open();
    for (int i = 1; i <= 1000; ++i) {
      ++steps;
      if (!p.Step(i, 1000)) break;
    }
    cancelled = p.cancelled();
    p.Close();
  });
  // Meanwhile this thread runs a window of its own.
  ui.OnOpen("Principal", [](Window& w) { Press(w, kAceptar); });
  Window main(WindowDef("Principal", {Button(kAceptar, "Salir").Closing()}));
  main.Open();
  while (main.Accept()) {
  }
  report.join();
  EXPECT_TRUE(cancelled);
  EXPECT_LT(steps.load(), 1000);
}

TEST_F(WindowTest, ProgressShowsPercentOfTheWork) {
  ProgressWindow p("x");
  p.Open();
  EXPECT_TRUE(p.Step(1, 3));
  EXPECT_EQ(p.percent(), 33);
  EXPECT_EQ(p.window().Text(ProgressWindow::kPercent), "33 %");
  EXPECT_TRUE(p.Step(5, 0));  // no total: 0 %, no division
  EXPECT_EQ(p.percent(), 0);
  EXPECT_TRUE(p.Step(-4, 10));
  EXPECT_EQ(p.window().ProgressValue(ProgressWindow::kThermometer), 0);
  p.Close();
  EXPECT_FALSE(p.window().is_open());
}

TEST_F(WindowTest, BusyCursorNests) {
  {
    BusyCursor a;
    EXPECT_TRUE(ui.busy());
    { BusyCursor b; }
    EXPECT_TRUE(ui.busy());
  }
  EXPECT_FALSE(ui.busy());
  EXPECT_EQ(ui.busy_count(), 1);
}

TEST(WindowNoBackend, WindowsCloseAndMessagesTakeTheDefault) {
  testing::internal::CaptureStderr();
  Window w(WindowDef("Nadie", {}));
  w.Open();
  int n = 0;
  while (w.Accept()) ++n;
  EXPECT_EQ(n, 2);
  EXPECT_EQ(Message("x", "c", Icon::kNone, "Si|No", 2), 2);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no backend"), std::string::npos);
}

}  // namespace
