// The modem dialer headless against the modem simulator on a real
// pseudo-terminal: the dial sequence, the modem's answers, the redial, the
// timeouts (across midnight too), the buttons, bad settings, and the modem
// configuration window. The window clock is the headless test clock; each
// automatic tick waits 2 ms of real time so that the simulator, which lives
// on the real clock, answers within a tick or two.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "agenda/dialer.h"
#include "agenda/modem_config.h"
#include "host/platform/serial.h"
#include "tests/agenda/agenda_fixture.h"
#include "tests/support/fake_env.h"
#include "tools/modemsim/modem_sim.h"

namespace agendatest {
namespace {

using namespace nv::ui;
using namespace agenda;
using nv::tools::ModemReply;
namespace com = nv::platform;

constexpr int kCom2 = 1;  // the default port, mapped to the simulator
const char* const kDiscarCaption = "Marcar un número telefónico";
const char* const kEstado = "Estado de la comunicación";
const char* const kConfig = "Configuración del módem";
const std::string kNoComunicacion = "Atención: No se pudo establecer la comunicación !!!";

ModemReply Reply(const std::string& script) {
  ModemReply r;
  EXPECT_TRUE(nv::tools::ParseReply(script, &r)) << script;
  return r;
}

std::string Status(Window& w) {
  return nv::Utf8FromAnsi(w.Text(kDnEstado));
}

using Strings = std::vector<std::string>;

class DialerTest : public AgendaTest {
 protected:
  void SetUp() override {
    AgendaTest::SetUp();
    std::string error;
    ASSERT_TRUE(sim_.Start(dir_ + "/modem", &error)) << error;
    Profile("");
    ui_->SetTickPace(2);
    com::SetComNotifier([this](int, int n) { notified_.push_back(n); });
  }
  void TearDown() override {
    com::SetComNotifier(nullptr);
    for (int i = 0; i < com::kComPorts; ++i) com::ComClose(i, 0);
    sim_.Stop();
    AgendaTest::TearDown();
  }

  // A fresh default profile: COM2 on `device` (the simulator), then `lines`.
  void Profile(const std::string& lines, std::string device = "") {
    std::ofstream(dir_ + "/fonvex.ini")
        << "[nvcom]\nCOM2=" << (device.empty() ? sim_.link() : device) << "\n"
        << lines;
  }
  std::string ProfileText() const {
    std::ifstream in(dir_ + "/fonvex.ini");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Discar over a number: "Discar" is pressed, then "Cancelar" should the
  // window still be open. Then a pause, for the simulator to notice that
  // the port was closed (it looks every 5 ms) before a next dial opens it.
  void Dial(std::string_view number) {
    ui_->OnOpen(A(kDiscarCaption), [](Window& w) {
      Press(w, kDsDiscar);
      Press(w, kDsCancelar);
    });
    AgendaProcedures().Discar(number);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  // Plays the user on a window once `ready` holds; meanwhile its timer runs.
  void When(const char* caption, std::function<bool(Window&)> ready,
            std::function<void(Window&)> act) {
    ui_->OnIdle(A(caption), [this, caption, ready, act](Window& w) {
      if (ready(w)) return act(w);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ui_->AdvanceClock(kDialTick);
      When(caption, ready, act);
    });
  }

  // "caption: text" of the message boxes from `from` on, as UTF-8.
  Strings Messages(size_t from = 0) const {
    Strings out;
    const auto all = ui_->messages();
    for (size_t i = from; i < all.size(); ++i)
      out.push_back(nv::Utf8FromAnsi(all[i].shape.caption + ": " + all[i].shape.text));
    return out;
  }
  Strings Dials() const {
    Strings out;
    for (const std::string& c : sim_.Commands())
      if (c.rfind("ATD", 0) == 0) out.push_back(c);
    return out;
  }

  nv::tools::ModemSim sim_;
  std::vector<int> notified_;
};

TEST_F(DialerTest, InitialisesThenDialsThePrefixedNumber) {
  Profile("[FXQ-MODEM]\nPREFIJO=0,\n");
  std::string shown;
  std::vector<int64_t> settings;
  ui_->OnOpen(A(kDiscarCaption), [&](Window& w) {
    shown = w.Text(kDsNumero);
    for (ControlId id : {kDsIntentos, kDsEspera, kDsRetardo})
      settings.push_back(w.Contents(id).AsInteger());
    Press(w, kDsDiscar);
  });
  AgendaProcedures().Discar("3514567890  ");
  EXPECT_EQ(shown, "0,3514567890");
  EXPECT_EQ(settings, (std::vector<int64_t>{3, 15, 5}));
  // "ATZ^M" arrives as a command ended by a carriage return.
  EXPECT_EQ(sim_.Commands(), (Strings{"ATZ", "ATV1", "ATX4", "ATDT0,3514567890"}));
  EXPECT_EQ(Messages(), Strings{});
  EXPECT_EQ(notified_, std::vector<int>{9});
  EXPECT_EQ(Count(kEstado), 1);
  EXPECT_EQ(nv::GetProfileString("", "FXQ-DISCADOR", "INTENTOS", ""), "3");
  EXPECT_EQ(nv::GetProfileString("", "FXQ-DISCADOR", "ESPERA", ""), "15");
  EXPECT_EQ(nv::GetProfileString("", "FXQ-DISCADOR", "RETARDO", ""), "5");
  // The port was closed after the dial.
  EXPECT_EQ(com::ComOpen(kCom2, 0, 8192, 1024, true, false, false), com::kComOpened);
}

TEST_F(DialerTest, AFailureWordEndsTheOnlyAttempt) {
  Profile("[FXQ-DISCADOR]\nINTENTOS=1\n");
  for (const char* word : {"BUSY", "NO CARRIER", "NO DIALTONE", "NO DIAL TONE", "VOICE"}) {
    SCOPED_TRACE(word);
    const size_t messages = ui_->messages().size(), dials = Dials().size();
    notified_.clear();
    sim_.SetDefaultReply(Reply(word));
    const int64_t start = ui_->Now();
    Dial("555");
    EXPECT_LT(ui_->Now() - start, 300);  // the word ended it, not the 15 s wait
    EXPECT_EQ(Messages(messages), Strings{kNoComunicacion});
    EXPECT_EQ(Dials().size() - dials, 1u);
    EXPECT_EQ(notified_, (std::vector<int>{9, 36}));
  }
}

TEST_F(DialerTest, BusyRedialsAfterTheCountdownAndAnExtensionThereDoesNotLast) {
  Profile("[FXQ-DISCADOR]\nINTENTOS=3\nESPERA=15\nRETARDO=1\n");
  sim_.SetDefaultReply(Reply("BUSY"));
  int64_t hung_up = -1, redialled = -1, wait_after = -1;
  When(
      kEstado, [](Window& w) { return Status(w) == "Esperando..."; },
      [&](Window& w) {
        hung_up = ui_->Now();
        Press(w, kDnExtender);
      });
  When(
      kEstado, [](Window& w) { return Status(w) == "Estableciendo conexión"; },
      [&](Window& w) {
        redialled = ui_->Now();
        wait_after = w.Contents(kDnEspera).AsInteger();
      });
  Dial("555");
  EXPECT_EQ(Dials(), (Strings{"ATDT555", "ATDT555", "ATDT555"}));
  // The countdown shows 2, 1, 0 and redials once below 0.
  EXPECT_GE(redialled - hung_up, 295);
  EXPECT_LE(redialled - hung_up, 315);
  EXPECT_EQ(wait_after, 15);
  EXPECT_EQ(Messages(), Strings{kNoComunicacion});
  EXPECT_EQ(notified_, (std::vector<int>{9, 36}));
}

TEST_F(DialerTest, SilenceRunsOutTheWaitAcrossMidnight) {
  Profile("[FXQ-DISCADOR]\nINTENTOS=1\nESPERA=3\n");
  sim_.SetDefaultReply(Reply("SILENCE"));
  ui_->SetClockStart(82000, 8640000 - 150);
  int64_t opened = -1;
  ui_->OnOpen(A(kEstado), [&](Window&) { opened = ui_->Now(); });
  Dial("555");
  // Midnight counts as one whole second: the wait ends, neither at once
  // nor never.
  EXPECT_GE(ui_->Now() - opened, 200);
  EXPECT_LE(ui_->Now() - opened, 310);
  EXPECT_EQ(Messages(), Strings{kNoComunicacion});
  EXPECT_EQ(notified_, std::vector<int>{9});
}

TEST_F(DialerTest, OkAndErrorAreReadyAndSilenceFailsAfterFiveSeconds) {
  struct Case {
    const char* init;
    int32_t clock;
    bool ready;
  };
  for (const Case& c : {Case{"OK", 3600001, true}, Case{"ERROR", 3600001, true},
                        Case{"SILENCE", 3600001, false}, Case{"SILENCE", 8640000 - 100, false}}) {
    SCOPED_TRACE(std::string(c.init) + " at " + std::to_string(c.clock));
    const size_t messages = ui_->messages().size();
    const int dial_windows = Count(kEstado);
    sim_.SetInitReply(Reply(c.init));
    ui_->SetClockStart(82000, c.clock - int32_t(ui_->Now()));
    int64_t opened = -1;
    ui_->OnOpen(A("Inicializando el modem..."), [&](Window&) { opened = ui_->Now(); });
    Dial("555");
    const int64_t closed = ui_->Now();
    EXPECT_EQ(Count(kEstado) - dial_windows, c.ready ? 1 : 0);
    if (c.ready) {
      EXPECT_EQ(Messages(messages), Strings{});
    } else {
      // Also when midnight falls within the five seconds.
      EXPECT_GE(closed - opened, 500);
      EXPECT_LE(closed - opened, 510);
      EXPECT_EQ(Messages(messages), Strings{kNoComunicacion});
    }
  }
}

TEST_F(DialerTest, BadSettingsAnswerWithTheirMessages) {
  const std::string init_error = "Error:      Ocurrio un error inicializando el puerto: ||     ";
  struct Case {
    std::string lines;
    std::string device;  // empty: the simulator
    bool held;           // another program has the port
    Strings messages;
  };
  const Case cases[] = {
      {"[FXQ-MODEM]\nPORT=COM9\n", "", false, {"Atención: Puerto Invalido !!!"}},
      {"[FXQ-MODEM]\nPORT=COM22\n", "", false, {"Atención: Puerto Invalido !!!"}},
      {"", dir_ + "/absent", false, {"Atención: No Existe UART !!!"}},
      {"", dir_ + "/fonvex.ini", false, {"Atención: No Existe UART !!!"}},
      {"", "", true, {"Atención: El Puerto se encuentra Abierto !!!"}},
      {"[FXQ-MODEM]\nBAUDRATE=1234\n",
       "",
       false,
       {init_error + "Parametros invalidos", kNoComunicacion}},
      {"[FXQ-MODEM]\nDATABITS=5\n",
       "",
       false,
       {init_error + "Parametros invalidos", kNoComunicacion}},
      {"[FXQ-MODEM]\nSTOP=3\n", "", false, {init_error + "Parametros invalidos", kNoComunicacion}},
      {"[FXQ-MODEM]\nINITSTRING=  \n",
       "",
       false,
       {init_error + "String de inicio del modem invalido", kNoComunicacion}},
      // Read as no parity and the default speed: the dial goes through.
      {"[FXQ-MODEM]\nPARITY(NONE ODD EVEN)=MAYBE\nBAUDRATE=fast\n", "", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines + c.device + (c.held ? "held" : ""));
    Profile(c.lines, c.device);
    const size_t messages = ui_->messages().size();
    const int beeps = ui_->beeps();
    int other = -1;
    if (c.held) {
      other = open(sim_.link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(other, 0);
      ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    }
    Dial("555");
    if (other >= 0) close(other);
    EXPECT_EQ(Messages(messages), c.messages);
    EXPECT_EQ(ui_->beeps() - beeps, c.messages.size() == 2 ? 1 : 0);
  }
}

TEST_F(DialerTest, AnEmptyNumberNeverOpensTheDialWindow) {
  Dial("   ");
  EXPECT_EQ(Messages(),
            (Strings{"ERROR:  No hay número telefónico para marcar !", kNoComunicacion}));
  EXPECT_EQ(Count(kEstado), 0);
  EXPECT_EQ(ui_->beeps(), 1);
  EXPECT_EQ(Dials(), Strings{});
}

TEST_F(DialerTest, TheUserTakesRedialsOrCancelsTheCall) {
  Profile("[FXQ-DISCADOR]\nINTENTOS=3\nRETARDO=0\n");
  sim_.SetDefaultReply(Reply("SILENCE"));
  auto status = [](const char* s) { return [s](Window& w) { return Status(w) == s; }; };
  // "Atender el llamado": the call is the user's.
  When(kEstado, status("Estableciendo Conexión"), [](Window& w) { Press(w, kDnAtender); });
  Dial("555");
  EXPECT_EQ(Messages(), Strings{});
  EXPECT_EQ(notified_, (std::vector<int>{9, 54}));
  // "Cortar y reintentar el llamado", then "Cancelar el llamado".
  When(kEstado, status("Estableciendo Conexión"), [](Window& w) { Press(w, kDnReintentar); });
  // (Once the simulator has the new dial: closing the port drops what it did not read.)
  When(
      kEstado,
      [this](Window& w) { return Status(w) == "Estableciendo conexión" && Dials().size() == 3; },
      [](Window& w) { Press(w, kDnCancelar); });
  Dial("555");
  EXPECT_EQ(Dials(), (Strings{"ATDT555", "ATDT555", "ATDT555"}));
  EXPECT_EQ(Messages(), Strings{kNoComunicacion});
}

TEST_F(DialerTest, ASuccessWordBeforeTheCarrierWaitsForIt) {
  sim_.SetDefaultReply(Reply("CONNECT 9600+300"));
  ASSERT_EQ(com::ComOpen(kCom2, 0, 8192, 1024, true, false, false), com::kComOpened);
  std::string text = "old";
  EXPECT_EQ(DialNumber(kCom2, &text, 1, 0, 30, "777"), 0);
  EXPECT_TRUE(sim_.carrier());
  EXPECT_NE(text.find("CONNECT"), std::string::npos) << text;
  EXPECT_LE(text.size(), 20u);
  // Without the carrier the words alone never connect.
  com::ComClose(kCom2, 0);
  for (int i = 0; i < 400 && sim_.carrier(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_FALSE(sim_.carrier());
  ASSERT_EQ(com::ComOpen(kCom2, 0, 8192, 1024, true, false, false), com::kComOpened);
  sim_.SetDefaultReply(Reply("CARRIER+60000"));
  EXPECT_EQ(DialNumber(kCom2, &text, 1, 0, 2, "778"), 1);
  EXPECT_EQ(text, "");
}

TEST_F(DialerTest, ConfigurationWritesTheEightEntriesAndRefusesOddValues) {
  Profile(
      "[FXQ-MODEM]\nPORT=COM9\nBAUDRATE=1234\nSTOP=2\nPARITY(NONE ODD EVEN)=MAYBE\n"
      "PREFIJO=0,\n");
  const std::string before = ProfileText();
  Strings shown;
  ui_->OnOpen(A(kConfig), [&](Window& w) {
    for (int i = 0; i < kModemSettingCount; ++i) shown.push_back(w.Text(ModemControl(i)));
    Press(w, kCmCancelar);
  });
  EXPECT_EQ(Configuracion_Modem(), kCancelled);
  // Values outside the lists show (and would be saved) as the defaults.
  EXPECT_EQ(shown, (Strings{"COM2", "9600", "2", "NONE", "8", "CTS/RTS", "0,", "ATZ^M"}));
  EXPECT_EQ(ProfileText(), before);

  ui_->OnOpen(A(kConfig), [](Window& w) {
    Choose(w, ModemControl(kPort), 3);
    Choose(w, ModemControl(kBaudRate), 4);
    Choose(w, ModemControl(kParity), 3);
    Choose(w, ModemControl(kDataBits), 2);
    Choose(w, ModemControl(kFlowCtrl), 2);
    Type(w, ModemControl(kPrefijo), A("0ñ"));
    Type(w, ModemControl(kInitString), " ");
    Press(w, kCmAceptar);
  });
  ui_->OnIdle(A(kConfig), [](Window& w) {
    Type(w, ModemControl(kInitString), "AT&F^M");
    Press(w, kCmAceptar);
  });
  ui_->OnIdle(A(kConfig), [](Window& w) {
    Type(w, ModemControl(kPrefijo), "9,");
    Press(w, kCmAceptar);
  });
  EXPECT_EQ(Configuracion_Modem(), kCompleted);
  EXPECT_EQ(Messages(), (Strings{"Atención: String de inicio del modem invalido",
                                 "Atención: El prefijo tiene caracteres que el módem no acepta"}));
  const std::string after = ProfileText();
  for (const char* line :
       {"\nPORT=COM3\n", "\nBAUDRATE=2400\n", "\nSTOP=2\n", "\nPARITY(NONE ODD EVEN)=EVEN\n",
        "\nDATABITS=7\n", "\nFLOWCTRL(CTS/RTS XON/XOFF DSR/DTR)=XON/XOFF\n", "\nPREFIJO=9,\n",
        "\nINITSTRING=AT&F^M\n"})
    EXPECT_NE(after.find(line), std::string::npos) << line << " in\n" << after;
}

TEST_F(DialerTest, AProfileThatCannotBeWrittenIsSaidSo) {
  setenv("NVRUN_PROFILE", (dir_ + "/fonvex.ini/below-a-file.ini").c_str(), 1);
  ui_->OnOpen(A(kConfig), [](Window& w) { Press(w, kCmAceptar); });
  ui_->OnIdle(A(kConfig), [](Window& w) { Press(w, kCmCancelar); });
  EXPECT_EQ(Configuracion_Modem(), kCancelled);
  EXPECT_EQ(Messages(), Strings{"Error: No se pudo guardar la configuración del módem"});
}

// A save that fails keeps the old settings whole, never some of the new
// ones, whichever profile write fails; the window keeps what the user chose
// and Aceptar again saves it. The dialer's retry settings likewise: all
// three or none, said, and the dial goes on.
TEST_F(DialerTest, AFailedSaveKeepsTheOldSettingsWholeAndTheChosenOnes) {
  const std::string old_settings =
      "[FXQ-MODEM]\nPORT=COM2\nPREFIJO=0,\n[FXQ-DISCADOR]\nINTENTOS=3\n";
  Profile(old_settings);
  const std::string before = ProfileText();
  nvtest::FailingEnv env(ui_->clock_env(), "fonvex.ini");
  nv::SetEnv(&env);
  ModemConfig chosen = ModemConfig::Read();
  chosen.value[kPort] = "COM3";
  chosen.value[kPrefijo] = "9,";
  chosen.value[kInitString] = "AT&F^M";
  for (int allowed = 0; allowed <= kModemSettingCount; ++allowed) {
    env.writes = 0;
    env.call_budget = allowed;
    const bool saved = chosen.Write();
    env.call_budget = -1;
    EXPECT_EQ(ModemConfig::Read().value == chosen.value, saved) << allowed;
    if (!saved) {
      EXPECT_EQ(ProfileText(), before) << allowed;
    }
    Profile(old_settings);
    env.writes = 0;
    env.call_budget = allowed;
    const DialerConfig retries{2, 9, 1};
    const bool kept = retries.Write();
    env.call_budget = -1;
    const DialerConfig read = DialerConfig::Read();
    EXPECT_EQ(read.attempts == 2 && read.wait == 9 && read.delay == 1, kept) << allowed;
    EXPECT_EQ(ProfileText() == before, !kept) << allowed;
    Profile(old_settings);
  }

  env.writes = 0;
  env.call_budget = 0;
  std::string kept, on_screen;
  ui_->OnOpen(A(kConfig), [](Window& w) {
    Choose(w, ModemControl(kPort), 3);
    Type(w, ModemControl(kPrefijo), "9,");
    Press(w, kCmAceptar);
  });
  ui_->OnIdle(A(kConfig), [&](Window& w) {
    kept = ProfileText();
    on_screen =
        w.Text(ModemControl(kPort)) + " " + std::string(nv::Clip(w.Text(ModemControl(kPrefijo))));
    env.call_budget = -1;
    Press(w, kCmAceptar);
  });
  EXPECT_EQ(Configuracion_Modem(), kCompleted);
  EXPECT_EQ(Messages(), Strings{"Error: No se pudo guardar la configuración del módem"});
  EXPECT_EQ(kept, before);
  EXPECT_EQ(on_screen, "COM3 9,");
  EXPECT_EQ(ModemConfig::Read().value[kPort] + ModemConfig::Read().Prefix(), "COM39,");
  Profile(old_settings);

  // "Discar" with retry settings that cannot be kept: said, none kept, dialled.
  env.writes = 0;
  env.call_budget = 0;
  ui_->OnOpen(A(kDiscarCaption), [](Window& w) {
    Type(w, kDsIntentos, "2");
    Type(w, kDsEspera, "9");
    Press(w, kDsDiscar);
    Press(w, kDsCancelar);
  });
  const size_t from = ui_->messages().size();
  AgendaProcedures().Discar("555");
  nv::SetEnv(ui_->clock_env());
  ASSERT_FALSE(Messages(from).empty());
  EXPECT_EQ(Messages(from)[0], "Atención: No se pudo guardar la configuración del discador");
  EXPECT_EQ(ProfileText(), before);
  EXPECT_EQ(Dials().size(), 1u);
}

TEST_F(DialerTest, DiscarRefusesOddRetrySettingsAndShowsANewPrefix) {
  Profile("[FXQ-DISCADOR]\nINTENTOS=0\nESPERA=15\nRETARDO=5\n");
  std::string number;
  ui_->OnOpen(A(kDiscarCaption), [](Window& w) { Press(w, kDsDiscar); });
  ui_->OnIdle(A(kDiscarCaption), [](Window& w) {
    Type(w, kDsIntentos, "2");
    Type(w, kDsEspera, "0");
    Press(w, kDsDiscar);
  });
  ui_->OnIdle(A(kDiscarCaption), [](Window& w) {
    Type(w, kDsEspera, "10");
    Type(w, kDsRetardo, "-1");
    Press(w, kDsDiscar);
  });
  ui_->OnIdle(A(kDiscarCaption), [](Window& w) { Press(w, kDsConfigurar); });
  ui_->OnOpen(A(kConfig), [](Window& w) {
    Type(w, ModemControl(kPrefijo), "9,");
    Press(w, kCmAceptar);
  });
  ui_->OnIdle(A(kDiscarCaption), [&](Window& w) {
    number = w.Text(kDsNumero);
    Press(w, kDsCancelar);
  });
  AgendaProcedures().Discar("555");
  EXPECT_EQ(Messages(), (Strings{"Atención: La cantidad de intentos debe ser al menos 1",
                                 "Atención: El tiempo de espera debe ser de al menos 1 segundo",
                                 "Atención: El retardo entre intentos no puede ser negativo"}));
  EXPECT_EQ(number, "9,555");
  EXPECT_EQ(sim_.Commands(), Strings{});
  EXPECT_EQ(nv::GetProfileString("", "FXQ-DISCADOR", "INTENTOS", ""), "0");
}

}  // namespace
}  // namespace agendatest
