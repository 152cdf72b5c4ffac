// The Qt backend, offscreen: the same kind of procedure the headless tests
// run, here with real widgets clicked by a driver timer, a list over a file,
// a sheet with two tabs, a message box answered by clicking it, and a
// progress window opened from a report thread.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "host/runtime/codepage.h"
#include "host/runtime/driver_table.h"
#include "host/runtime/file.h"
#include "host/ui/browse.h"
#include "host/ui/progress.h"
#include "host/ui/qt/qt_backend.h"
#include "host/ui/window.h"

// The font library keeps caches for the life of the process; they are not
// ours to free.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

using namespace nv;
using namespace nv::ui;

#pragma pack(push, 1)
struct CoRecord {
  int32_t CODE;
  String<20> NAME;
};
#pragma pack(pop)

FileDecl CoDecl() {
  static auto rt = DeclareRecord<CoRecord>(
      "CO", {NV_FIELD(CoRecord, CODE), NV_FIELD(CoRecord, NAME, .picture = "@s20")});
  FileDecl d;
  d.label = "COMPANIES";
  d.driver = "MemTest";
  d.name = "qt-companies";
  d.record = rt;
  d.keys = {{"CO:KEY_NAME", {"CO:NAME"}, kKeyDup, ""}};
  return d;
}

QWidget* TopLevel(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == title) return w;
  }
  return nullptr;
}

QPushButton* ButtonOf(QWidget* w, const QString& text) {
  for (QPushButton* b : w->findChildren<QPushButton*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

// Calls `step` every 20 ms until it answers true (or 10 s pass).
void Drive(std::function<bool()> step) {
  auto* t = new QTimer;
  auto started = std::make_shared<int>(0);
  QObject::connect(t, &QTimer::timeout, [t, step, started] {
    if (step() || ++*started > 500) {
      t->stop();
      t->deleteLater();
    }
  });
  t->start(20);
}

class QtSmokeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Offscreen unless the caller chose a platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static std::string runtime_dir = "/tmp/nvui-xdg-" + std::to_string(::getuid());
    ::mkdir(runtime_dir.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 0);
    static int argc = 1;
    static char name[] = "ui_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    RegisterDriver("MemTest", "libnvmemtest.so", "MEM$DrvReg");
  }
  static QApplication* app_;
};
QApplication* QtSmokeTest::app_ = nullptr;

enum : ControlId { kTabs = 1, kNombre, kLista, kBorrar, kSalir };

TEST_F(QtSmokeTest, WindowWithListSheetAndMessageBox) {
  QtBackend qt;
  File f(CoDecl());
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(), 0);
  for (int i = 1; i <= 200; ++i) {
    f.As<CoRecord>().CODE = i;
    f.As<CoRecord>().NAME = "Empresa " + std::to_string(1000 + i);
    ASSERT_EQ(f.Append(), 0);
  }
  Browse b(&f);
  b.AddOrder("Por nombre", "CO:KEY_NAME");

  const std::string ansi_header = AnsiFromUtf8("Código");
  Window w(WindowDef(
      "Agenda", {Sheet(kTabs, {Tab("&Empresas", {Entry(kNombre, "@s20"),
                                                 List(kLista, {Col(ansi_header, "@n-6", "CO:CODE"),
                                                               Col("Nombre", "@s20", "CO:NAME")})}),
                               Tab("&Contactos", {Prompt("Contactos")})}),
                 Button(kBorrar, "&Borrar"), Button(kSalir, "&Salir")}));
  w.AttachBrowse(kLista, &b);
  w.SetLocator(kNombre, kLista);

  int tabs = 0, rows = 0, answer = -1, highlighted_code = 0;
  QString header;
  int stage = 0;
  Drive([&] {
    QWidget* dlg = TopLevel("Agenda");
    if (!dlg) return false;
    switch (stage) {
      case 0: {
        auto* t = dlg->findChild<QTabWidget*>();
        auto* v = dlg->findChild<QTableView*>();
        if (!t || !v || v->model()->rowCount() == 0) return false;
        tabs = t->count();
        rows = v->model()->rowCount();
        header = v->model()->headerData(0, Qt::Horizontal).toString();
        // The user moves down two rows with the keyboard.
        v->setFocus();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(v, &down);
        QApplication::sendEvent(v, &down);
        ++stage;
        return false;
      }
      case 1:
        ButtonOf(dlg, "&Borrar")->click();
        ++stage;
        return false;
      case 2: {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return false;
        EXPECT_EQ(box->text(), QString::fromUtf8("¿Borrar la empresa?\nNo se puede deshacer."));
        for (QAbstractButton* btn : box->buttons()) {
          if (btn->text() == "No") btn->click();
        }
        ++stage;
        return false;
      }
      default:
        if (QApplication::activeModalWidget()) return false;
        ButtonOf(dlg, "&Salir")->click();
        return true;
    }
  });

  w.Open();
  while (w.Accept()) {
    if (w.Event() == Event::kNewSelection && w.Field() == kLista)
      highlighted_code = f.As<CoRecord>().CODE;
    if (w.Event() == Event::kAccepted && w.Field() == kBorrar)
      answer = Message(AnsiFromUtf8("¿Borrar la empresa?|No se puede deshacer."), "ATENCION",
                       Icon::kQuestion, "Si|No", 1);
    if (w.Event() == Event::kAccepted && w.Field() == kSalir) w.Close(kCompleted);
  }
  EXPECT_EQ(w.result(), kCompleted);
  EXPECT_EQ(tabs, 2);
  EXPECT_GT(rows, 0);
  EXPECT_LE(rows, 201);  // a page, never the file
  EXPECT_EQ(header, QString::fromUtf8("Código"));
  EXPECT_EQ(answer, 2);
  EXPECT_EQ(highlighted_code, 3);
  EXPECT_EQ(TopLevel("Agenda"), nullptr);
  f.Close();
}

TEST_F(QtSmokeTest, ProgressWindowFromAReportThread) {
  QtBackend qt;
  std::atomic<bool> done{false}, cancelled{false};
  std::thread report([&] {
    ProgressWindow p("Imprimiendo");
    p.Open();
    for (int i = 0; i < 100000 && p.Step(i % 1000, 1000); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cancelled = p.cancelled();
    p.Close();
    done = true;
  });
  Drive([&] {
    QWidget* dlg = TopLevel("Avance de Progreso");
    if (dlg) {
      if (QPushButton* b = ButtonOf(dlg, "Cancelar")) b->click();
    }
    if (!done) return false;
    if (QWidget* main = TopLevel("Principal")) ButtonOf(main, "&Salir")->click();
    return true;
  });
  Window w(WindowDef("Principal", {Button(kSalir, "&Salir").Closing()}));
  w.Open();
  while (w.Accept()) {
  }
  report.join();
  EXPECT_TRUE(cancelled);
}

}  // namespace
