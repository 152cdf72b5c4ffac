// Every agenda window under the Qt backend on a 1024x768 screen, opened by
// the window tour over a demo installation and judged from its widget
// tree: it lies on the screen, every control inside it, no two visible
// controls overlap, no text shows a literal "&", a list whose rows all
// show cannot be scrolled, no list column is
// narrower than its title, every entry is wide enough for a typical value
// of its picture, and in forms the Tab key goes in reading order.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <fstream>

#include "host/ui/qt/qt_backend.h"
#include "tests/agenda/agenda_fixture.h"
#include "tools/screenshot/tour.h"

namespace agendatest {
namespace {

using namespace nv::ui;

// Widgets a user sees as controls; the insides of lists, drop lists, text
// boxes and tab bars are theirs.
bool IsControl(QWidget* w, QWidget* top) {
  for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget()) {
    if (qobject_cast<QAbstractItemView*>(p) || qobject_cast<QComboBox*>(p) ||
        qobject_cast<QPlainTextEdit*>(p) || qobject_cast<QTabBar*>(p) || qobject_cast<QMenuBar*>(p))
      return false;
  }
  if (auto* l = qobject_cast<QLabel*>(w)) return !l->text().isEmpty() || !l->pixmap().isNull();
  return qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
         qobject_cast<QComboBox*>(w) || qobject_cast<QTableView*>(w) ||
         qobject_cast<QPlainTextEdit*>(w);
}

std::string Describe(QWidget* w) {
  QString text;
  if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
  return std::string(w->metaObject()->className()) + " \"" + text.toStdString() + "\"";
}

// A '&' the user would see: not a mnemonic mark (a label with a buddy, a
// button) and not the escaped "&&".
bool ShowsAmpersand(QWidget* w) {
  auto* l = qobject_cast<QLabel*>(w);
  if (l == nullptr || l->buddy() != nullptr) return false;
  return l->text().contains('&');
}

// Judges one window; failures name the window.
void Judge(const std::string& name, QWidget* top) {
  SCOPED_TRACE(name);
  const QRect screen = top->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(top->frameGeometry()))
      << "window " << top->frameGeometry().x() << "," << top->frameGeometry().y() << " "
      << top->frameGeometry().width() << "x" << top->frameGeometry().height();
  std::vector<std::pair<QWidget*, QRect>> controls;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisible() || !IsControl(w, top)) continue;
    const QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
    EXPECT_TRUE(top->rect().contains(r)) << Describe(w) << " outside the window";
    EXPECT_FALSE(ShowsAmpersand(w)) << Describe(w);
    for (const auto& [other, o] : controls) {
      EXPECT_FALSE(r.intersects(o)) << Describe(w) << " overlaps " << Describe(other);
    }
    controls.emplace_back(w, r);
    if (auto* v = qobject_cast<QTableView*>(w)) {
      QHeaderView* h = v->horizontalHeader();
      for (int k = 0; k < h->count(); ++k) {
        const QString title = v->model()->headerData(k, Qt::Horizontal).toString();
        EXPECT_GE(h->sectionSize(k), h->fontMetrics().horizontalAdvance(title))
            << "column \"" << title.toStdString() << "\"";
      }
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      // A typical value, in average characters: every place of a short
      // picture, fewer of a long text's.
      const int places = e->maxLength();
      const int typical = places <= 15 ? places : 15 + (places - 15) / 3;
      EXPECT_GE(e->width() - 8, typical * e->fontMetrics().averageCharWidth())
          << "entry of " << places << " places";
    }
  }
  EXPECT_GE(controls.size(), 2u);  // the window was judged, not skipped
  // A list's own scroll bar, beside its table, is live only while rows lie
  // beyond the page.
  for (QScrollBar* bar : top->findChildren<QScrollBar*>()) {
    QWidget* outer = bar->parentWidget();
    auto* v =
        outer ? outer->findChild<QTableView*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (v == nullptr || !bar->isVisible()) continue;
    const int rows = v->model()->rowCount();
    const int fit =
        v->viewport()->height() / std::max(1, v->verticalHeader()->defaultSectionSize());
    if (rows < fit) {
      EXPECT_FALSE(bar->isEnabled()) << "list of " << rows << " rows";
    }
  }
}

// In a form the Tab key visits the inputs in reading order: down a column
// of rows, left to right within a row, then on to the next column.
void JudgeTabOrder(const std::string& name, QWidget* top) {
  SCOPED_TRACE(name);
  std::vector<QWidget*> inputs;
  QWidget* w = top;
  do {
    w = w->nextInFocusChain();
    const bool input = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                       qobject_cast<QToolButton*>(w) ||
                       (qobject_cast<QAbstractButton*>(w) && w->inherits("QCheckBox"));
    if (input && w->isVisible() && (w->focusPolicy() & Qt::TabFocus) && IsControl(w, top))
      inputs.push_back(w);
  } while (w != top && inputs.size() < 100);
  for (size_t k = 1; k < inputs.size(); ++k) {
    const QPoint a = inputs[k - 1]->mapTo(top, QPoint(0, 0));
    const QPoint b = inputs[k]->mapTo(top, QPoint(0, 0));
    const bool below = b.y() > a.y() + 4;
    const bool same_row_right = std::abs(b.y() - a.y()) <= 4 && b.x() > a.x();
    const bool next_column = b.x() > a.x() + 150;
    EXPECT_TRUE(below || same_row_right || next_column)
        << Describe(inputs[k - 1]) << " then " << Describe(inputs[k]);
  }
}

class QtLayoutTest : public AgendaTest {};

TEST_F(QtLayoutTest, EveryWindowFitsA1024x768ScreenTidily) {
  WriteDemo(40, 60, 100);
  ui_.reset();  // the Qt backend takes over
  nv::SetEnv(nullptr);
  std::ofstream(dir_ + "/screen.json")
      << R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1024, "height": 768,
                          "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + dir_ + "/screen.json").c_str(), 1);
  int argc = 1;
  char name[] = "agenda_qt_layout";
  char* argv[] = {name, nullptr};
  QtBackend qt(argc, argv);
  ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1024, 768));
  const agenda_tour::Result r =
      agenda_tour::Run(qt, demodata::kDemoUser, demodata::kDemoPassword,
                       [](const std::string& window, Window&, QWidget* top) {
                         Judge(window, top);
                         if (window.rfind("ficha-", 0) == 0 || window == "login" ||
                             window == "discar" || window == "configuracion-modem")
                           JudgeTabOrder(window, top);
                       });
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(r.stalled, "");
  EXPECT_EQ(r.status, agenda::kExitOk);
  EXPECT_EQ(r.visited.size(), 31u);
}

}  // namespace
}  // namespace agendatest
