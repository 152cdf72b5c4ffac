// The forms under the Qt backend, offscreen, one test per form family: the
// company form saves a new company; the number form adds a number and the
// re-linking window runs on real timers; the category list selects; the
// number search shows its rows; real keys: Alt with a label's mnemonic
// reaches its field, Enter accepts, Esc cancels.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "agenda/buscar_telefono.h"
#include "agenda/ficha_empresa.h"
#include "agenda/ficha_telefono.h"
#include "agenda/lookups.h"
#include "host/ui/qt/qt_backend.h"
#include "tests/agenda/forms/forms_fixture.h"

// The font library keeps caches for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace formstest {
namespace {

using namespace nv::ui;

class QtFormsTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    ui_.reset();  // the Qt backend takes over
    nv::SetEnv(nullptr);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qt_ = std::make_unique<QtBackend>(argc_, argv_);
  }
  void TearDown() override {
    qt_.reset();
    FormsTest::TearDown();
  }
  // Runs `procedure` while a driver timer plays each step on the window of
  // its caption (each step once, in order).
  void Drive(std::vector<std::pair<std::string, std::function<void(Window&)>>> steps,
             const std::function<void()>& procedure) {
    size_t next = 0;
    QTimer driver;
    driver.setInterval(30);
    QObject::connect(&driver, &QTimer::timeout, [&] {
      if (next >= steps.size()) return;
      std::vector<Window*> open = OpenWindows();
      if (open.empty()) return;
      Window* top = open.back();
      if (top->Caption() != steps[next].first && top->def().caption != steps[next].first) return;
      auto step = steps[next++].second;
      top->Deliver([step](Window& w) { step(w); });
    });
    driver.start();
    procedure();
    driver.stop();
    EXPECT_EQ(next, steps.size());
  }
  int argc_ = 1;
  char name_[20] = "agenda_forms_qt";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QtBackend> qt_;
};

TEST_F(QtFormsTest, CompanyFormSavesANewCompany) {
  int result = 0;
  Drive({{A("Agregando una nueva empresa"),
          [](Window& w) {
            w.UserSetText(agenda::kFcNombre, "Offscreen S.A.");
            w.UserPress(agenda::kFcAceptar);
          }}},
        [&] { result = agenda::Ficha_Empresa("A", 0); });
  EXPECT_EQ(result, kCompleted);
  Entry e;
  ASSERT_TRUE(HasEntry(1, &e));
  EXPECT_EQ(e.nombre, "Offscreen S.A.");
  EXPECT_EQ(e.kind, "E");
}

TEST_F(QtFormsTest, NumberFormAddsANumberAndTheCallsFollow) {
  const int32_t acme = AddEntry("Acme", "E");
  for (int i = 0; i < 25; ++i) AddCall(i % 4, "0387" + std::to_string(100 + i));
  Use("FXMA11").rec<MA11Record>().CODIGO = acme;
  FileAccess& re09 = Use("FXRE09");
  re09.file().Clear();
  int result = 0;
  Drive({{A("Agregando nuevo teléfono"),
          [](Window& w) {
            w.UserSetText(agenda::kFtNumero, "0387");
            w.UserPress(agenda::kFtAceptar);
          }}},
        [&] { result = agenda::Ficha_Telefono(Request::kInsert); });
  re09.Close();
  dic_->Access("FXMA11")->Close();
  EXPECT_EQ(result, kCompleted);
  for (const Call& c : Calls()) EXPECT_EQ(c.codigo, acme) << c.number;
}

TEST_F(QtFormsTest, CategoryListSelectsTheHighlightedCategory) {
  FileAccess& ta02 = Use("FXTA02");
  for (int i = 1; i <= 3; ++i) {
    ta02.file().Clear();
    ta02.rec<nv::dict::TA02Record>().CODRUB.Set(i * 10);
    ta02.rec<nv::dict::TA02Record>().DESRUB = "Rubro " + std::to_string(i);
    EXPECT_EQ(ta02.Insert(), 0);
  }
  int result = 0;
  Drive({{"Tabla de Rubros", [](Window& w) { w.UserPress(agenda::kLstSeleccionar); }}},
        [&] { result = agenda::Rubros(true); });
  EXPECT_EQ(result, kCompleted);
  int64_t code = 0;
  ta02.rec<nv::dict::TA02Record>().CODRUB.Scaled(&code);
  EXPECT_EQ(code, 10);
  ta02.Close();
}

TEST_F(QtFormsTest, NumberSearchShowsTheNumbers) {
  const int32_t acme = AddEntry("Acme", "E");
  AddNumber(acme, "0351");
  AddNumber(acme, "0387");
  std::string first, owner;
  Drive({{A("Busqueda por número telefónico"),
          [&](Window& w) {
            const auto rows = w.Rows(agenda::kBtLista);  // the page the widget fits
            if (!rows.empty()) {
              first = std::string(nv::Clip(rows[0][0]));
              owner = std::string(nv::Clip(rows[0][1]));
            }
            w.UserPress(agenda::kBtSalir);
          }}},
        [] { agenda::Buscar_Telefono(); });
  EXPECT_EQ(first, "0351");
  EXPECT_EQ(owner, "Acme");
}

// The window's widget on screen, made the active one (keys go to it).
QWidget* Active(const Window& w) {
  const QString title = QString::fromStdString(nv::Utf8FromAnsi(w.Caption()));
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible() || top->windowTitle() != title) continue;
    QApplication::setActiveWindow(top);
    top->activateWindow();
    return top;
  }
  return nullptr;
}

TEST_F(QtFormsTest, KeysReachFieldsAcceptAndCancel) {
  const int32_t acme = AddEntry("Acme", "E");
  std::string by_mnemonic;
  int result = 0;
  Drive({{A("Modificando una empresa"),
          [&](Window& w) {
            QWidget* top = Active(w);
            ASSERT_NE(top, nullptr);
            QTest::keyClick(top, Qt::Key_D, Qt::AltModifier);  // "&Dirección"
            QTest::keyClick(top, Qt::Key_N, Qt::AltModifier);  // "&Nombre"
            if (auto* e = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
              by_mnemonic = e->text().toStdString();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
          }}},
        [&] { result = agenda::Ficha_Empresa("M", acme); });
  EXPECT_EQ(by_mnemonic, "Acme");
  EXPECT_EQ(result, kCancelled);

  Use("FXMA11").rec<MA11Record>().CODIGO = acme;
  FileAccess& re09 = Use("FXRE09");
  re09.file().Clear();
  Drive({{A("Agregando nuevo teléfono"),
          [&](Window& w) {
            Active(w);
            QWidget* field = QApplication::focusWidget();
            ASSERT_NE(qobject_cast<QLineEdit*>(field), nullptr);
            QTest::keyClicks(field, "0351");
            QTest::keyClick(field, Qt::Key_Return);
          }}},
        [&] { result = agenda::Ficha_Telefono(Request::kInsert); });
  re09.Close();
  dic_->Access("FXMA11")->Close();
  EXPECT_EQ(result, kCompleted);
  EXPECT_EQ(Numbers().count("0351"), 1u);
}

// Enter in the name field with a name another company has, real keys:
// the message shows once (not again for the Aceptar that Enter pressed),
// and nothing is saved.
TEST_F(QtFormsTest, EnterOnATakenNameSaysItOnce) {
  AddEntry("Beta", "E");
  const int32_t acme = AddEntry("Acme", "E");
  int boxes = 0;
  QTimer answer;  // plays the user of each message box: its first button
  answer.setInterval(20);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(top);
      if (box == nullptr || !box->isVisible() || box->buttons().empty()) continue;
      ++boxes;
      box->buttons().front()->click();
    }
  });
  answer.start();
  int result = 0;
  Drive({{A("Modificando una empresa"),
          [](Window& w) {
            QTest::keyClick(Active(w), Qt::Key_N, Qt::AltModifier);  // "&Nombre"
            auto* name = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            ASSERT_NE(name, nullptr);
            name->selectAll();
            QTest::keyClicks(name, "Beta");
            QTest::keyClick(name, Qt::Key_Return);
          }},
         {A("Modificando una empresa"), [](Window& w) { w.UserPress(agenda::kFcCancelar); }}},
        [&] { result = agenda::Ficha_Empresa("M", acme); });
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(result, kCancelled);
  Entry e;
  ASSERT_TRUE(HasEntry(acme, &e));
  EXPECT_EQ(e.nombre, "Acme");
}

// A window opens where and as large as the user left it last time.
TEST_F(QtFormsTest, WindowsRememberTheirSizeAndPlace) {
  const QRect left(100, 120, 520, 260);
  QRect again;
  Drive({{"Agregando un nuevo Rubro",
          [&](Window& w) {
            Active(w)->setGeometry(left);
            w.UserPress(agenda::kTfCancelar);
          }}},
        [] { agenda::Ficha_Rubros(Request::kInsert); });
  Drive({{"Agregando un nuevo Rubro",
          [&](Window& w) {
            again = Active(w)->geometry();
            w.UserPress(agenda::kTfCancelar);
          }}},
        [] { agenda::Ficha_Rubros(Request::kInsert); });
  EXPECT_EQ(again, left);
}

}  // namespace
}  // namespace formstest
