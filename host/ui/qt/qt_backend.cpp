#include "host/ui/qt/qt_backend.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <map>

#include "host/runtime/codepage.h"
#include "host/runtime/picture.h"
#include "host/runtime/profile.h"
#include "host/ui/browse.h"

namespace nv::ui {

namespace {

// The profile section where windows remember their size and place.
constexpr const char* kGeometrySection = "Ventanas";

QString Q(std::string_view ansi) {
  return QString::fromStdString(nv::Utf8FromAnsi(ansi));
}
std::string Ansi(const QString& s) {
  return nv::AnsiFromUtf8(s.toStdString());
}

// A picture by file name: as named (the working folder), else beside the
// program, else in its installed data folder (share/fonvex).
QPixmap Picture(std::string_view name) {
  const QString file = Q(name);
  if (file.isEmpty()) return QPixmap();
  QPixmap p(file);
  if (!p.isNull() || QDir::isAbsolutePath(file)) return p;
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& at : {dir + "/" + file, dir + "/../share/fonvex/" + file}) {
    if (p.load(at)) break;
  }
  return p;
}

bool OnGuiThread() {
  return QThread::currentThread() == qApp->thread();
}

// Runs f on the GUI thread and waits for it.
void OnGui(const std::function<void()>& f) {
  if (OnGuiThread()) {
    f();
  } else {
    QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection);
  }
}

int KeyFromQt(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Up:
      return kKeyUp;
    case Qt::Key_Down:
      return kKeyDown;
    case Qt::Key_Left:
      return kKeyLeft;
    case Qt::Key_Right:
      return kKeyRight;
    case Qt::Key_PageUp:
      return kKeyPageUp;
    case Qt::Key_PageDown:
      return kKeyPageDown;
    case Qt::Key_Home:
      return kKeyHome;
    case Qt::Key_End:
      return kKeyEnd;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kKeyEnter;
    case Qt::Key_Escape:
      return kKeyEsc;
    case Qt::Key_Insert:
      return kKeyInsert;
    case Qt::Key_Delete:
      return kKeyDelete;
    default:
      if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F12) return kKeyF1 + (qt_key - Qt::Key_F1);
      return qt_key < 0x100 ? qt_key : kKeyNone;
  }
}

// The rows of one page, copied from the window on the GUI thread.
class PageModel : public QAbstractTableModel {
 public:
  void Set(std::vector<QString> headers, std::vector<bool> right,
           std::vector<std::vector<QString>> rows) {
    beginResetModel();
    headers_ = std::move(headers);
    right_ = std::move(right);
    rows_ = std::move(rows);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : int(rows_.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : std::max<int>(1, int(headers_.size()));
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const auto& row = rows_[size_t(index.row())];
    if (role == Qt::DisplayRole) {
      return index.column() < int(row.size()) ? row[size_t(index.column())] : QString();
    }
    if (role == Qt::TextAlignmentRole) {
      const bool right = index.column() < int(right_.size()) && right_[size_t(index.column())];
      return int((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    return {};
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section < int(headers_.size()))
      return headers_[size_t(section)];
    return {};
  }

 private:
  std::vector<QString> headers_;
  std::vector<bool> right_;
  std::vector<std::vector<QString>> rows_;
};

class Dialog : public QDialog {
 public:
  explicit Dialog(Window& w) : w_(w) {}
  // Esc: the window's Cancelar, or its close (see Window::UserKey).
  void reject() override {
    w_.Deliver([](Window& win) { win.UserKey(kKeyEsc); });
  }

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    w_.Deliver([](Window& win) { win.UserClose(); });
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int key = KeyFromQt(e->key());
    if ((key >= kKeyF1 && key < kKeyF1 + 12) || w_.IsAlert(key)) {
      w_.Deliver([key](Window& win) { win.UserKey(key); });
      return;
    }
    QDialog::keyPressEvent(e);
  }

 private:
  Window& w_;
};

// Catches focus, list keys, wheel and resizes for one control.
class Filter : public QObject {
 public:
  // Owned by the widget it watches.
  Filter(QObject* watched, Window& w, ControlId id, bool list)
      : QObject(watched), w_(w), id_(id), list_(list) {}
  bool eventFilter(QObject* o, QEvent* e) override {
    const ControlId id = id_;
    switch (e->type()) {
      case QEvent::FocusIn:
        w_.Deliver([id](Window& win) { win.UserFocus(id); });
        break;
      case QEvent::KeyPress: {
        // The window's alert keys (a calendar's arrows) win over the
        // widget's own use of them.
        const int key = KeyFromQt(static_cast<QKeyEvent*>(e)->key());
        if (key != kKeyNone && w_.IsAlert(key)) {
          w_.Deliver([key](Window& win) { win.UserKey(key); });
          return true;
        }
        if (!list_) break;
        auto* k = static_cast<QKeyEvent*>(e);
        if (key == kKeyUp || key == kKeyDown || key == kKeyPageUp || key == kKeyPageDown ||
            key == kKeyHome || key == kKeyEnd || key == kKeyEnter) {
          w_.Deliver([id, key](Window& win) { win.UserListKey(id, key); });
          return true;
        }
        // Typing on a list locates; a pause of a second starts afresh.
        const QString text = k->text();
        if (!text.isEmpty() && text[0].isPrint() &&
            !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
          const bool restart = !typing_.isValid() || typing_.elapsed() > 1000;
          typing_.start();
          std::string typed = Ansi(text);
          w_.Deliver([id, typed, restart](Window& win) { win.UserListType(id, typed, restart); });
          return true;
        }
        break;
      }
      case QEvent::Wheel: {
        if (!list_) break;
        const int key = static_cast<QWheelEvent*>(e)->angleDelta().y() > 0 ? kKeyUp : kKeyDown;
        w_.Deliver([id, key](Window& win) {
          for (int i = 0; i < 3; ++i) win.UserListKey(id, key);
        });
        return true;
      }
      case QEvent::Resize: {
        if (!list_) break;
        // The page is what the viewport holds: its own resize comes after
        // the view's, when its height is final.
        auto* view = qobject_cast<QTableView*>(o->parent());
        if (!view || view->viewport() != o) break;
        const int row_height = std::max(1, view->verticalHeader()->defaultSectionSize());
        const int rows = std::max(1, view->viewport()->height() / row_height);
        w_.Deliver([id, rows](Window& win) {
          Browse* b = win.browse(id);
          if (b && b->page_size() != rows) {
            b->SetPageSize(rows);
            b->Refresh();
            win.Display(id);
          }
        });
        break;
      }
      default:
        break;
    }
    return false;
  }

 private:
  Window& w_;
  ControlId id_;
  bool list_;
  QElapsedTimer typing_;
};

// Width for a picture's characters: digits for numbers, dates, times and
// patterns, average characters for strings ("@s50" is about fifty).
int CharsWidth(const QWidget* w, const std::string& picture, int chars) {
  const QFontMetrics fm(w->font());
  nv::Picture pic;
  const bool digits = nv::ParsePicture(picture, &pic) && pic.kind != nv::Picture::Kind::kString;
  return chars * (digits ? fm.horizontalAdvance(QLatin1Char('0')) : fm.averageCharWidth());
}

int EntryWidth(const QLineEdit* e, const std::string& picture) {
  const int chars = std::max(3, nv::PictureWidth(picture));
  return CharsWidth(e, picture, chars) + 2 * e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
         12;
}

// Patterns take digits only where they have a '#' (the rest is shown as it
// stands): "@P##-########-#P" becomes the mask "99-99999999-9" with every
// digit optional.
QString InputMask(const std::string& picture) {
  nv::Picture pic;
  if (!nv::ParsePicture(picture, &pic) || pic.kind != nv::Picture::Kind::kPattern) return {};
  QString mask;
  for (char ch : pic.pattern) {
    if (ch == '#') {
      mask += QLatin1Char('0');
    } else {
      if (QString("AaNnXx90Dd#HhBb><!{}[]\\").contains(QLatin1Char(ch))) mask += QLatin1Char('\\');
      mask += QLatin1Char(ch);
    }
  }
  return mask;
}

// A list: as wide as its columns' pictures (a column never narrower than
// its title), about eight rows high; it may shrink (a scroll bar appears).
class ListView : public QTableView {
 public:
  explicit ListView(QWidget* parent) : QTableView(parent) {}
  std::vector<int> widths;  // from the pictures
  QSize sizeHint() const override {
    int width = 2 * frameWidth();
    for (int w : widths) width += w;
    const int rows = verticalHeader()->defaultSectionSize();
    return QSize(std::max(width, 160), horizontalHeader()->sizeHint().height() + 8 * rows + 4);
  }
  QSize minimumSizeHint() const override {
    const int rows = verticalHeader()->defaultSectionSize();
    return QSize(160, horizontalHeader()->sizeHint().height() + 3 * rows + 4);
  }
  // Columns from their pictures; when the list is narrower than that, each
  // gives up width in proportion, never below its title (the last one
  // takes what is left).
  void FitColumns() {
    const int n = int(widths.size());
    if (n == 0 || horizontalHeader()->count() != n) return;
    int total = 0;
    for (int w : widths) total += w;
    const int room = viewport()->width();
    const double scale = total > room && total > 0 ? double(room) / total : 1.0;
    for (int k = 0; k + 1 < n; ++k)
      setColumnWidth(k, std::max(titles[size_t(k)], int(widths[size_t(k)] * scale)));
  }
  std::vector<int> titles;  // the least width of each column

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QTableView::resizeEvent(e);
    FitColumns();
  }
};

int TitleWidth(const QTableView* v, const Column& col) {
  return QFontMetrics(v->horizontalHeader()->font()).horizontalAdvance(Q(col.header)) + 24;
}

int ColumnWidth(const QTableView* v, const Column& col) {
  const int chars = std::max(1, nv::PictureWidth(col.picture));
  return std::max(TitleWidth(v, col), CharsWidth(v, col.picture, chars) + 12);
}

class QtPeer : public WindowPeer {
 public:
  QtPeer(Window& w, bool modal) : w_(w), gui_(OnGuiThread()) {
    OnGui([&] { Build(modal); });
    w_.SetWakeHook([] {
      if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
    });
  }
  ~QtPeer() override {
    OnGui([&] {
      RememberPlace();
      delete dialog_;
      dialog_ = nullptr;
    });
  }

  void Update(ControlId id, Prop what) override {
    OnGui([&] { Apply(id, what); });
  }

  void Wait() override {
    if (gui_) {
      while (!w_.HasPending()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
      while (!w_.HasPending()) w_.WaitPending(200);
    }
  }

  void Pump() override {
    if (gui_) QCoreApplication::processEvents(QEventLoop::AllEvents);
  }

 private:
  struct Item {
    QWidget* widget = nullptr;
    QWidget* outer = nullptr;      // what the layout holds, when not the widget
    QScrollBar* scroll = nullptr;  // lists: where the page stands
    PageModel* model = nullptr;
    QButtonGroup* radios = nullptr;
    QTimer* frames = nullptr;
  };

  void Build(bool modal) {
    dialog_ = new Dialog(w_);
    dialog_->setWindowTitle(Q(w_.Caption()));
    if (modal) dialog_->setWindowModality(Qt::ApplicationModal);
    auto* outer = new QVBoxLayout(dialog_);
    if (!w_.def().menus.empty()) outer->setMenuBar(BuildMenus());
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    Arrange(-1, content, layout);
    // Content taller or wider than the screen scrolls inside the window.
    const QSize room = Room();
    if (content->minimumSizeHint().height() > room.height() - 24 ||
        content->minimumSizeHint().width() > room.width() - 24) {
      auto* scroll = new QScrollArea(dialog_);
      scroll->setFrameShape(QFrame::NoFrame);
      scroll->setWidgetResizable(true);
      scroll->setWidget(content);
      outer->addWidget(scroll);
    } else {
      content->setParent(dialog_);
      outer->addWidget(content);
    }
    if (ControlId d = w_.DefaultButton(); d != kNoControl) {
      if (auto* b = qobject_cast<QPushButton*>(items_[d].widget)) {
        b->setDefault(true);
        b->setAutoDefault(true);
      }
    }
    timer_ = new QTimer(dialog_);
    QObject::connect(timer_, &QTimer::timeout, [this] { w_.Post(Event::kTimer); });
    ApplyTimer();
    for (auto& [id, item] : items_) ApplyControl(id);
    Place();
    dialog_->show();
  }

  // --- where the window goes

  QRect Available() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (QWidget* active = QApplication::activeWindow()) screen = active->screen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  }
  // The client area a window may take: the screen less the frame the
  // window manager adds (title bar and borders).
  QSize Room() const {
    const QRect a = Available();
    return QSize(a.width() - 16, a.height() - 48);
  }
  std::string ProfileEntry() const {
    return w_.def().place.empty() ? w_.def().caption : w_.def().place;
  }

  // Size from the contents (at least the definition's size, at most the
  // screen), centred over the window beneath; the size and place the user
  // left it at last time, from the profile, when they still fit.
  void Place() {
    const QRect avail = Available();
    const QSize room = Room();
    QSize want = dialog_->sizeHint();
    if (w_.def().width > 0 && w_.def().height > 0)
      want = want.expandedTo(QSize(w_.def().width, w_.def().height));
    want = want.boundedTo(room).expandedTo(dialog_->minimumSizeHint().boundedTo(room));
    QRect g(QPoint(0, 0), want);
    QWidget* below = QApplication::activeWindow();
    g.moveCenter(below && below != dialog_ ? below->geometry().center() : avail.center());
    const std::string saved = nv::GetProfileString("", kGeometrySection, ProfileEntry(), "");
    int x = 0, y = 0, width = 0, height = 0;
    if (std::sscanf(saved.c_str(), "%d,%d,%d,%d", &x, &y, &width, &height) == 4) {
      const QRect r(x, y, width, height);
      const QSize least = dialog_->minimumSizeHint();
      if (avail.contains(r.center()) && width >= least.width() && height >= least.height())
        g = QRect(r.topLeft(), r.size().boundedTo(room));
    }
    // Keep the whole window (title bar included) on the screen.
    g.moveLeft(std::clamp(g.left(), avail.left() + 8,
                          std::max(avail.left() + 8, avail.right() - 8 - g.width())));
    g.moveTop(std::clamp(g.top(), avail.top() + 32,
                         std::max(avail.top() + 32, avail.bottom() - 8 - g.height())));
    dialog_->setGeometry(g);
  }

  void RememberPlace() {
    if (!dialog_ || !dialog_->isVisible()) return;
    const QRect g = dialog_->geometry();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%d", g.x(), g.y(), g.width(), g.height());
    nv::WriteProfileString("", kGeometrySection, ProfileEntry(), buf);
  }

  QMenuBar* BuildMenus() {
    auto* bar = new QMenuBar(dialog_);
    std::function<void(QMenu*, const MenuDef&)> add = [&](QMenu* menu, const MenuDef& m) {
      if (!m.items.empty()) {
        QMenu* sub = menu->addMenu(Q(m.text));
        for (const MenuDef& i : m.items) add(sub, i);
        return;
      }
      QAction* a = menu->addAction(Q(m.text));
      const ControlId id = m.id;
      QObject::connect(a, &QAction::triggered,
                       [this, id] { w_.Deliver([id](Window& win) { win.UserPress(id); }); });
    };
    for (const MenuDef& top : w_.def().menus) {
      QMenu* menu = bar->addMenu(Q(top.text));
      for (const MenuDef& i : top.items) add(menu, i);
    }
    return bar;
  }

  // --- layout
  //
  // The children of a container (the window, a tab, a group) are read in
  // order and gathered into blocks:
  //   form row   a prompt and its input (entry, drop list), or an input or
  //              check alone; a lookup button ("...") and a description
  //              (a prompt with an id) that follow the input join its row
  //   list       a list or text box, with the prompt before it as its
  //              caption and the buttons right after it as its button row
  //   buttons    buttons not after a list
  //   other      sheets, groups, pictures, progress bars, option groups
  // Consecutive form rows make one grid with aligned labels. Lists take
  // the spare height. Two lists in a row stand side by side; with three or
  // more (a master list and what follows it) the first stands in a left
  // column and the others in a right one, and the buttons after the last
  // belong to the whole container. The window's last buttons (after its
  // last block) are its own: a row at the bottom right.
  static constexpr size_t kTwoColumnRows = 10;
  struct Row {
    int label = -1;  // prompt index, -1 none
    int field = -1;  // input index
    std::vector<int> extras;
  };
  struct Block {
    enum Kind { kForm, kList, kButtons, kOther } kind = kOther;
    std::vector<Row> rows;        // kForm
    int caption = -1, list = -1;  // kList
    std::vector<int> buttons;     // kList (its row) and kButtons
    int other = -1;               // kOther
  };

  static bool IsInput(ControlKind k) {
    return k == ControlKind::kEntry || k == ControlKind::kDropList || k == ControlKind::kCheck;
  }
  static bool IsLookupButton(const ControlState& c) {
    return c.def.kind == ControlKind::kButton && c.text == "...";
  }

  std::vector<Block> Gather(int parent) const {
    const auto& cs = w_.controls();
    std::vector<int> kids;
    for (size_t i = 0; i < cs.size(); ++i)
      if (cs[i].parent == parent) kids.push_back(int(i));
    std::vector<Block> blocks;
    auto kind = [&](size_t k) {
      return k < kids.size() ? cs[size_t(kids[k])].def.kind : ControlKind::kTab;
    };
    for (size_t k = 0; k < kids.size();) {
      const ControlState& c = cs[size_t(kids[k])];
      const ControlKind next = kind(k + 1);
      if (c.def.kind == ControlKind::kPrompt && c.def.id == kNoControl &&
          (next == ControlKind::kList || next == ControlKind::kText)) {
        Block b;
        b.kind = Block::kList;
        b.caption = kids[k];
        b.list = kids[k + 1];
        k += 2;
        while (kind(k) == ControlKind::kButton && !IsLookupButton(cs[size_t(kids[k])]))
          b.buttons.push_back(kids[k++]);
        blocks.push_back(b);
      } else if (c.def.kind == ControlKind::kList || c.def.kind == ControlKind::kText) {
        Block b;
        b.kind = Block::kList;
        b.list = kids[k++];
        while (kind(k) == ControlKind::kButton && !IsLookupButton(cs[size_t(kids[k])]))
          b.buttons.push_back(kids[k++]);
        blocks.push_back(b);
      } else if ((c.def.kind == ControlKind::kPrompt && c.def.id == kNoControl && IsInput(next) &&
                  next != ControlKind::kCheck) ||
                 IsInput(c.def.kind)) {
        Row r;
        if (c.def.kind == ControlKind::kPrompt) r.label = kids[k++];
        r.field = kids[k++];
        while (k < kids.size() &&
               (IsLookupButton(cs[size_t(kids[k])]) ||
                (kind(k) == ControlKind::kPrompt && cs[size_t(kids[k])].def.id != kNoControl)))
          r.extras.push_back(kids[k++]);
        if (blocks.empty() || blocks.back().kind != Block::kForm) {
          Block form;
          form.kind = Block::kForm;
          blocks.push_back(form);
        }
        blocks.back().rows.push_back(r);
      } else if (c.def.kind == ControlKind::kButton) {
        Block b;
        b.kind = Block::kButtons;
        while (kind(k) == ControlKind::kButton) b.buttons.push_back(kids[k++]);
        blocks.push_back(b);
      } else {
        Block b;
        b.kind = Block::kOther;
        b.other = kids[k++];
        blocks.push_back(b);
      }
    }
    return blocks;
  }

  // A combination box over a file: the drop-down shows the browse's page
  // in columns under their titles; with a picture the box takes typing,
  // which locates the list (the window's locator) and is the value.
  void ComboOverFile(const ControlState& c, QComboBox* b, Item* item) {
    const ControlId id = c.def.id;
    auto* view = new QTableView;
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    item->model = new PageModel;
    item->model->setParent(b);
    b->setModel(item->model);
    b->setView(view);
    int width = 2 * view->frameWidth() + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (const Column& col : c.def.columns) width += ColumnWidth(view, col);
    view->setMinimumWidth(width);
    if (c.def.picture.empty()) return;
    b->setEditable(true);
    b->setInsertPolicy(QComboBox::NoInsert);
    b->setCompleter(nullptr);
    QLineEdit* e = b->lineEdit();
    nv::Picture pic;
    if (nv::ParsePicture(c.def.picture, &pic) && pic.kind == nv::Picture::Kind::kNumber)
      e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (int chars = nv::PictureWidth(c.def.picture); chars > 0) {
      e->setMaxLength(chars);
      b->setMinimumWidth(EntryWidth(e, c.def.picture) +
                         b->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    }
    QObject::connect(e, &QLineEdit::textEdited, [this, id](const QString& t) {
      std::string text = Ansi(t);
      w_.Deliver([id, text](Window& win) { win.UserSetText(id, text); });
    });
    QObject::connect(e, &QLineEdit::editingFinished, [this, id, e] {
      if (!e->isModified()) return;
      e->setModified(false);
      w_.Deliver([id](Window& win) { win.UserComplete(id); });
    });
  }

  // The rows a list shows (a combination box's without their padding) and
  // its column titles, into its model.
  void ShowPage(PageModel* model, const ControlState& c, bool trim) {
    std::vector<QString> headers;
    std::vector<bool> right;
    for (const Column& col : c.def.columns) {
      headers.push_back(Q(col.header));
      right.push_back(col.right);
    }
    std::vector<std::vector<QString>> rows;
    for (const auto& r : w_.Rows(c.def.id)) {
      std::vector<QString> cells;
      for (const std::string& cell : r) cells.push_back(trim ? Q(cell).trimmed() : Q(cell));
      rows.push_back(std::move(cells));
    }
    model->Set(std::move(headers), std::move(right), std::move(rows));
  }

  // A grid group: its children n to a row, equal cells, no frame.
  QWidget* GridBlock(int index, int columns, QWidget* owner) {
    auto* g = new QWidget(owner);
    auto* grid = new QGridLayout(g);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(2);
    const auto& cs = w_.controls();
    int k = 0;
    for (size_t i = 0; i < cs.size(); ++i) {
      if (cs[i].parent != index) continue;
      QWidget* cell = BuildOne(int(i), g);
      if (auto* label = qobject_cast<QLabel*>(cell)) label->setAlignment(Qt::AlignCenter);
      grid->addWidget(cell, k / columns, k % columns);
      ++k;
    }
    for (int col = 0; col < columns; ++col) grid->setColumnStretch(col, 1);
    return g;
  }

  QHBoxLayout* ButtonRow(const std::vector<int>& buttons, QWidget* owner, bool right) {
    auto* row = new QHBoxLayout;
    if (right) row->addStretch(1);
    for (int i : buttons) row->addWidget(BuildOne(i, owner));
    if (!right) row->addStretch(1);
    return row;
  }

  QLayout* FormGrid(const Block& b, QWidget* owner) {
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    int r = 0;
    for (const Row& row : b.rows) {
      QLabel* label = nullptr;
      if (row.label >= 0) {
        label = static_cast<QLabel*>(BuildOne(row.label, owner));
        grid->addWidget(label, r, 0, Qt::AlignLeft | Qt::AlignVCenter);
      }
      QWidget* field = BuildOne(row.field, owner);
      if (label) label->setBuddy(field);
      if (row.extras.empty()) {
        grid->addWidget(field, r, 1, Qt::AlignLeft | Qt::AlignVCenter);
      } else {
        auto* h = new QHBoxLayout;
        h->addWidget(field);
        for (int e : row.extras) {
          QWidget* x = BuildOne(e, owner);
          h->addWidget(x, w_.controls()[size_t(e)].def.kind == ControlKind::kPrompt ? 1 : 0);
        }
        h->addStretch(0);
        grid->addLayout(h, r, 1);
      }
      ++r;
    }
    grid->setRowStretch(r, 1);  // rows stay together at the top
    return grid;
  }

  QWidget* ListBox(const Block& b, QWidget* owner, bool with_buttons) {
    auto* box = new QWidget(owner);
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(0, 0, 0, 0);
    QLabel* caption = nullptr;
    if (b.caption >= 0) {
      caption = static_cast<QLabel*>(BuildOne(b.caption, box));
      v->addWidget(caption);
    }
    const ControlState& lc = w_.controls()[size_t(b.list)];
    if (!caption && lc.def.kind == ControlKind::kList && !lc.text.empty()) {
      // A list's own text is its caption.
      caption = new QLabel(Q(lc.text), box);
      v->addWidget(caption);
    }
    QWidget* list = BuildOne(b.list, box);
    if (caption && lc.def.id != kNoControl) caption->setBuddy(items_[lc.def.id].widget);
    v->addWidget(list, 1);
    if (with_buttons && !b.buttons.empty()) v->addLayout(ButtonRow(b.buttons, box, false));
    return box;
  }

  // A list block's share of the spare height: text boxes take less.
  int Stretch(const Block& b) const {
    return w_.controls()[size_t(b.list)].def.kind == ControlKind::kText ? 1 : 2;
  }

  void Arrange(int parent, QWidget* owner, QBoxLayout* layout) {
    std::vector<Block> blocks = Gather(parent);
    std::vector<int> bottom;  // the container's own last buttons
    if (!blocks.empty()) {
      Block& last = blocks.back();
      if (last.kind == Block::kButtons && parent == -1) {
        bottom = last.buttons;
        blocks.pop_back();
      } else if (last.kind == Block::kList && !last.buttons.empty() && parent == -1) {
        bottom = last.buttons;
        last.buttons.clear();
      }
    }
    int lists = 0;
    for (const Block& b : blocks) lists += b.kind == Block::kList;
    if (lists >= 3) {
      // Master and dependants: two columns.
      auto* columns = new QHBoxLayout;
      auto* left = new QVBoxLayout;
      auto* right = new QVBoxLayout;
      columns->addLayout(left, 1);
      columns->addLayout(right, 1);
      bool master_seen = false;
      for (size_t k = 0; k < blocks.size(); ++k) {
        Block& b = blocks[k];
        QVBoxLayout* col = master_seen ? right : left;
        if (b.kind == Block::kList && k + 1 == blocks.size() && bottom.empty()) {
          bottom = b.buttons;
          b.buttons.clear();
        }
        Add(b, owner, col);
        if (b.kind == Block::kList) master_seen = true;
      }
      layout->addLayout(columns, 1);
    } else {
      for (size_t k = 0; k < blocks.size(); ++k) {
        if (blocks[k].kind == Block::kList && k + 1 < blocks.size() &&
            blocks[k + 1].kind == Block::kList) {
          auto* pair = new QHBoxLayout;
          pair->addWidget(ListBox(blocks[k], owner, true), 1);
          pair->addWidget(ListBox(blocks[k + 1], owner, true), 1);
          layout->addLayout(pair, 2);
          ++k;
          continue;
        }
        Add(blocks[k], owner, layout);
      }
      if (lists == 0 && !HasStretchy(blocks)) layout->addStretch(1);
    }
    if (!bottom.empty()) layout->addLayout(ButtonRow(bottom, owner, parent == -1));
  }

  bool HasStretchy(const std::vector<Block>& blocks) const {
    for (const Block& b : blocks) {
      if (b.kind == Block::kOther && Grows(b.other)) return true;
    }
    return false;
  }

  // A container grows with the window when it holds a list or text box.
  bool Grows(int index) const {
    const auto& cs = w_.controls();
    const ControlKind k = cs[size_t(index)].def.kind;
    if (k == ControlKind::kList || k == ControlKind::kText) return true;
    for (size_t i = 0; i < cs.size(); ++i) {
      if (cs[i].parent == index && Grows(int(i))) return true;
    }
    return false;
  }

  void Add(const Block& b, QWidget* owner, QBoxLayout* layout) {
    switch (b.kind) {
      case Block::kForm:
        if (b.rows.size() >= kTwoColumnRows) {
          // A long form: two columns of rows, read column by column.
          Block first = b, second = b;
          const size_t half = (b.rows.size() + 1) / 2;
          first.rows.assign(b.rows.begin(), b.rows.begin() + long(half));
          second.rows.assign(b.rows.begin() + long(half), b.rows.end());
          auto* h = new QHBoxLayout;
          h->addLayout(FormGrid(first, owner), 1);
          h->addSpacing(24);
          h->addLayout(FormGrid(second, owner), 1);
          layout->addLayout(h);
        } else {
          layout->addLayout(FormGrid(b, owner));
        }
        break;
      case Block::kList:
        layout->addWidget(ListBox(b, owner, true), Stretch(b));
        break;
      case Block::kButtons:
        layout->addLayout(ButtonRow(b.buttons, owner, false));
        break;
      case Block::kOther: {
        QWidget* widget = BuildOne(b.other, owner);
        layout->addWidget(widget, Grows(b.other) ? 1 : 0);
        break;
      }
    }
  }

  QWidget* BuildOne(int index, QWidget* owner) {
    const ControlState& c = w_.controls()[size_t(index)];
    const ControlId id = c.def.id;
    Item item;
    QWidget* widget = nullptr;
    switch (c.def.kind) {
      case ControlKind::kPrompt:
      case ControlKind::kImage:
      case ControlKind::kAnimation:
        widget = new QLabel(owner);
        if (c.def.kind == ControlKind::kAnimation && c.def.frame_period > 0 && id != kNoControl) {
          item.frames = new QTimer(widget);
          item.frames->setInterval(c.def.frame_period * 10);
          QObject::connect(item.frames, &QTimer::timeout, [this, id] { NextFrame(id); });
          item.frames->start();
        }
        break;
      case ControlKind::kEntry: {
        auto* e = new QLineEdit(owner);
        if (c.def.password) e->setEchoMode(QLineEdit::Password);
        e->setReadOnly(c.def.read_only);
        if (int width = nv::PictureWidth(c.def.picture); width > 0) {
          e->setMaxLength(width);
          e->setFixedWidth(EntryWidth(e, c.def.picture));
        }
        if (const QString mask = InputMask(c.def.picture); !mask.isEmpty()) e->setInputMask(mask);
        nv::Picture pic;
        if (nv::ParsePicture(c.def.picture, &pic) && pic.kind == nv::Picture::Kind::kNumber)
          e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QObject::connect(e, &QLineEdit::textEdited, [this, id](const QString& t) {
          std::string text = Ansi(t);
          w_.Deliver([id, text](Window& win) { win.UserSetText(id, text); });
        });
        QObject::connect(e, &QLineEdit::editingFinished, [this, id, e] {
          if (!e->isModified()) return;
          e->setModified(false);
          w_.Deliver([id](Window& win) { win.UserComplete(id); });
        });
        widget = e;
        break;
      }
      case ControlKind::kText: {
        auto* t = new QPlainTextEdit(owner);
        t->setMinimumHeight(t->fontMetrics().lineSpacing() * 3 + 12);
        t->setReadOnly(c.def.read_only);
        QObject::connect(t, &QPlainTextEdit::textChanged, [this, id, t] {
          std::string text = Ansi(t->toPlainText());
          w_.Deliver([id, text](Window& win) { win.UserSetText(id, text); });
        });
        widget = t;
        break;
      }
      case ControlKind::kButton: {
        if (IsLookupButton(c)) {
          // A lookup: a small tool button beside its entry.
          auto* b = new QToolButton(owner);
          b->setFocusPolicy(Qt::TabFocus);
          QObject::connect(b, &QToolButton::clicked,
                           [this, id] { w_.Deliver([id](Window& win) { win.UserPress(id); }); });
          widget = b;
          break;
        }
        auto* b = new QPushButton(owner);
        b->setDefault(c.def.default_button);
        b->setAutoDefault(c.def.default_button);
        QObject::connect(b, &QPushButton::clicked,
                         [this, id] { w_.Deliver([id](Window& win) { win.UserPress(id); }); });
        widget = b;
        break;
      }
      case ControlKind::kCheck: {
        auto* b = new QCheckBox(owner);
        QObject::connect(b, &QCheckBox::clicked, [this, id](bool on) {
          w_.Deliver([id, on](Window& win) { win.UserSetValue(id, on ? 1 : 0); });
        });
        widget = b;
        break;
      }
      case ControlKind::kOption: {
        auto* g = new QGroupBox(owner);
        auto* l = new QHBoxLayout(g);
        item.radios = new QButtonGroup(g);
        for (size_t r = 0; r < c.items.size(); ++r) {
          auto* radio = new QRadioButton(Q(c.items[r]), g);
          item.radios->addButton(radio, int(r) + 1);
          l->addWidget(radio);
        }
        QObject::connect(item.radios, &QButtonGroup::idClicked, [this, id](int n) {
          w_.Deliver([id, n](Window& win) { win.UserSetValue(id, n); });
        });
        widget = g;
        break;
      }
      case ControlKind::kDropList: {
        auto* b = new QComboBox(owner);
        b->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        QObject::connect(b, &QComboBox::activated, [this, id](int n) {
          w_.Deliver([id, n](Window& win) { win.UserSetValue(id, n + 1); });
        });
        if (!c.def.columns.empty()) {
          ComboOverFile(c, b, &item);
        } else if (c.browse != nullptr) {
          // Over a file: the combo's entry is the list's locator.
          b->setEditable(true);
          b->setInsertPolicy(QComboBox::NoInsert);
          b->setMinimumContentsLength(std::min(40, std::max(10, nv::PictureWidth(c.def.picture))));
          QObject::connect(b->lineEdit(), &QLineEdit::textEdited, [this, id](const QString& t) {
            if (t.isEmpty()) return;
            std::string typed = Ansi(t);
            w_.Deliver([id, typed](Window& win) { win.UserListType(id, typed, true); });
          });
        }
        widget = b;
        break;
      }
      case ControlKind::kList: {
        auto* v = new ListView(owner);
        v->setWordWrap(false);
        v->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 6);
        v->verticalHeader()->setMinimumSectionSize(v->fontMetrics().height() + 2);
        v->horizontalHeader()->setHighlightSections(false);
        for (const Column& col : c.def.columns) {
          v->widths.push_back(ColumnWidth(v, col));
          v->titles.push_back(TitleWidth(v, col));
        }
        item.model = new PageModel;
        item.model->setParent(v);
        v->setModel(item.model);
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setSelectionMode(QAbstractItemView::SingleSelection);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        v->verticalHeader()->hide();
        v->horizontalHeader()->setStretchLastSection(true);
        v->installEventFilter(new Filter(v, w_, id, true));
        v->viewport()->installEventFilter(new Filter(v->viewport(), w_, id, true));
        QObject::connect(v, &QTableView::clicked, [this, id](const QModelIndex& i) {
          const int row = i.row();
          w_.Deliver([id, row](Window& win) { win.UserListClick(id, row); });
        });
        QObject::connect(v, &QTableView::doubleClicked, [this, id](const QModelIndex& i) {
          const int row = i.row();
          w_.Deliver([id, row](Window& win) {
            win.UserListClick(id, row);
            win.UserListActivate(id);
          });
        });
        // The list holds one page: the scroll bar shows top, middle or end
        // and turns its steps into the list's keys.
        auto* outer = new QWidget(owner);
        auto* l = new QHBoxLayout(outer);
        l->setContentsMargins(0, 0, 0, 0);
        l->setSpacing(0);
        v->setParent(outer);
        l->addWidget(v);
        item.scroll = new QScrollBar(Qt::Vertical, outer);
        item.scroll->setRange(0, 2);
        item.scroll->setPageStep(1);
        l->addWidget(item.scroll);
        QObject::connect(item.scroll, &QScrollBar::actionTriggered, [this, id](int action) {
          int key = kKeyNone;
          switch (action) {
            case QAbstractSlider::SliderSingleStepAdd:
              key = kKeyDown;
              break;
            case QAbstractSlider::SliderSingleStepSub:
              key = kKeyUp;
              break;
            case QAbstractSlider::SliderPageStepAdd:
              key = kKeyPageDown;
              break;
            case QAbstractSlider::SliderPageStepSub:
              key = kKeyPageUp;
              break;
            case QAbstractSlider::SliderToMinimum:
              key = kKeyHome;
              break;
            case QAbstractSlider::SliderToMaximum:
              key = kKeyEnd;
              break;
            default:
              return;
          }
          w_.Deliver([id, key](Window& win) { win.UserListKey(id, key); });
        });
        item.outer = outer;
        widget = v;
        break;
      }
      case ControlKind::kSheet: {
        auto* tabs = new QTabWidget(owner);
        const auto& cs = w_.controls();
        for (size_t i = 0; i < cs.size(); ++i) {
          if (cs[i].parent != index) continue;
          auto* page = new QWidget(tabs);
          auto* l = new QVBoxLayout(page);
          Arrange(int(i), page, l);
          tabs->addTab(page, Q(cs[i].text));
          if (cs[i].def.id != kNoControl) items_[cs[i].def.id].widget = page;
        }
        // Choosing a tab is the sheet's new selection (value: tab 1..).
        QObject::connect(tabs, &QTabWidget::currentChanged, [this, id](int n) {
          if (n >= 0) w_.Deliver([id, n](Window& win) { win.UserSetValue(id, n + 1); });
        });
        widget = tabs;
        break;
      }
      case ControlKind::kGroup: {
        if (c.def.grid_columns > 0) {
          widget = GridBlock(index, c.def.grid_columns, owner);
          break;
        }
        auto* g = new QGroupBox(Q(c.text), owner);
        auto* l = new QVBoxLayout(g);
        Arrange(index, g, l);
        widget = g;
        break;
      }
      case ControlKind::kProgress:
        widget = new QProgressBar(owner);
        break;
      case ControlKind::kTab:
        widget = new QWidget(owner);  // only inside sheets
        break;
    }
    if (c.def.width > 0 && c.def.height > 0) widget->setMinimumSize(c.def.width, c.def.height);
    QWidget* placed = item.outer ? item.outer : widget;
    if (id != kNoControl) {
      item.widget = widget;
      items_[id] = item;
      if (c.def.kind != ControlKind::kList)
        widget->installEventFilter(new Filter(widget, w_, id, false));
    } else if (c.def.kind == ControlKind::kPrompt) {
      static_cast<QLabel*>(widget)->setText(Q(c.text));
    }
    return placed;
  }

  // A frame whose picture cannot be loaded is drawn as a clock face with
  // its hand one step further round per frame.
  static QPixmap ClockFrame(int frame, int frames) {
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    QPainter painter(&p);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 2));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(16, 16), 13, 13);
    painter.translate(16, 16);
    painter.rotate(360.0 * frame / std::max(1, frames));
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(QPointF(0, 0), QPointF(0, -10));
    return p;
  }

  void NextFrame(ControlId id) {
    // Frames are display only: the window's state is not touched.
    auto it = items_.find(id);
    if (it == items_.end()) return;
    const ControlState& c = w_.control(id);
    if (c.def.frames.empty()) return;
    int& frame = frames_[id];
    frame = (frame + 1) % int(c.def.frames.size());
    auto* label = static_cast<QLabel*>(it->second.widget);
    QPixmap p = Picture(c.def.frames[size_t(frame)]);
    if (p.isNull()) p = ClockFrame(frame, int(c.def.frames.size()));
    label->setPixmap(p);
  }

  // A running timer keeps its phase when the period is unchanged.
  void ApplyTimer() {
    const int ms = w_.Timer() * 10;
    if (ms <= 0) {
      timer_->stop();
    } else if (!timer_->isActive() || timer_->interval() != ms) {
      timer_->start(ms);
    }
  }

  void Apply(ControlId id, Prop what) {
    if (!dialog_) return;
    if (id == kNoControl) {
      if (what == Prop::kCaption || what == Prop::kAll) dialog_->setWindowTitle(Q(w_.Caption()));
      if (what == Prop::kTimer || what == Prop::kAll) ApplyTimer();
      if (what == Prop::kAll) {
        for (auto& [cid, item] : items_) ApplyControl(cid);
      }
      return;
    }
    ApplyControl(id);
    if (what == Prop::kFocus) {
      auto it = items_.find(id);
      if (it != items_.end()) it->second.widget->setFocus();
    }
  }

  // Mirrors every property of one control (cheap at dialog sizes).
  void ApplyControl(ControlId id) {
    auto it = items_.find(id);
    if (it == items_.end()) return;
    Item& item = it->second;
    const ControlState& c = w_.control(id);
    QWidget* widget = item.widget;
    QSignalBlocker block(widget);
    widget->setEnabled(c.enabled);
    if (c.def.kind == ControlKind::kTab) {
      // Pages are shown by their sheet; hiding one hides its tab.
      for (QWidget* p = widget->parentWidget(); p; p = p->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
          tabs->setTabVisible(tabs->indexOf(widget), !c.hidden);
          break;
        }
      }
    } else {
      (item.outer ? item.outer : widget)->setVisible(!c.hidden);
    }
    widget->setToolTip(Q(c.tip));
    if (c.colour != 0xFFFFFFFFu || c.style != kStyleNormal) {
      QFont f = widget->font();
      f.setBold(c.style & kStyleBold);
      f.setItalic(c.style & kStyleItalic);
      f.setUnderline(c.style & kStyleUnderline);
      widget->setFont(f);
      if (c.colour != 0xFFFFFFFFu) {
        QPalette pal = widget->palette();
        pal.setColor(QPalette::WindowText, QColor::fromRgb(c.colour));
        pal.setColor(QPalette::Text, QColor::fromRgb(c.colour));
        pal.setColor(QPalette::ButtonText, QColor::fromRgb(c.colour));
        widget->setPalette(pal);
      }
    }
    switch (c.def.kind) {
      case ControlKind::kPrompt:
        static_cast<QLabel*>(widget)->setText(Q(c.text));
        break;
      case ControlKind::kImage: {
        auto* label = static_cast<QLabel*>(widget);
        const QPixmap p = Picture(c.text);
        if (p.isNull()) {
          label->setText(QString());
          label->hide();  // no picture: no room taken
        } else {
          label->setPixmap(p);
        }
        break;
      }
      case ControlKind::kEntry: {
        // Shown without the picture's padding, so the user types into an
        // empty field (a full-width blank text would take no more keys).
        auto* e = static_cast<QLineEdit*>(widget);
        const QString shown = Q(c.text).trimmed();
        if (e->text().trimmed() != shown) e->setText(shown);
        break;
      }
      case ControlKind::kText: {
        auto* t = static_cast<QPlainTextEdit*>(widget);
        if (Ansi(t->toPlainText()) != c.text) t->setPlainText(Q(c.text));
        break;
      }
      case ControlKind::kButton:
      case ControlKind::kCheck:
        static_cast<QAbstractButton*>(widget)->setText(Q(c.text));
        if (c.def.kind == ControlKind::kButton) {
          // The marker: the button shown pressed in.
          auto* b = static_cast<QAbstractButton*>(widget);
          b->setCheckable(c.style & kStyleMarked);
          b->setChecked(c.style & kStyleMarked);
        }
        if (c.def.kind == ControlKind::kCheck)
          static_cast<QCheckBox*>(widget)->setChecked(c.value != 0);
        break;
      case ControlKind::kOption:
        static_cast<QGroupBox*>(widget)->setTitle(Q(c.text));
        if (QAbstractButton* b = item.radios->button(c.value)) b->setChecked(true);
        break;
      case ControlKind::kDropList: {
        auto* b = static_cast<QComboBox*>(widget);
        if (item.model == nullptr) {
          // While the user types in a locator the typed text stays as typed.
          const bool typing = b->isEditable() && b->lineEdit()->hasFocus();
          const QString typed = typing ? b->lineEdit()->text() : QString();
          const int cursor = typing ? b->lineEdit()->cursorPosition() : 0;
          const QSignalBlocker block(b);
          b->clear();
          for (const auto& row : w_.Rows(id)) b->addItem(row.empty() ? QString() : Q(row[0]));
          b->setCurrentIndex(w_.Highlight(id));
          if (typing) {
            b->lineEdit()->setText(typed);
            b->lineEdit()->setCursorPosition(cursor);
          } else if (b->isEditable()) {
            b->lineEdit()->setCursorPosition(0);  // the start of the name
          }
          break;
        }
        QLineEdit* e = b->lineEdit();
        const int cursor = e ? e->cursorPosition() : 0;
        ShowPage(item.model, c, true);
        if (auto* view = qobject_cast<QTableView*>(b->view())) view->resizeColumnToContents(0);
        if (e == nullptr) {
          b->setCurrentIndex(w_.Highlight(id));
        } else {
          b->setCurrentIndex(-1);
          e->setText(Q(c.text).trimmed());
          e->setCursorPosition(std::min(cursor, int(e->text().size())));
        }
        break;
      }
      case ControlKind::kList: {
        auto* v = static_cast<ListView*>(widget);
        // A page update keeps the columns as they were (the user may have
        // widened one); the first one fits them from the pictures.
        std::vector<int> sizes;
        const int count = v->horizontalHeader()->count();
        if (count == int(c.def.columns.size())) {
          for (int k = 0; k < count; ++k) sizes.push_back(v->horizontalHeader()->sectionSize(k));
        }
        ShowPage(item.model, c, false);
        if (sizes.empty()) {
          v->FitColumns();
        } else {
          for (int k = 0; k + 1 < int(sizes.size()); ++k) v->setColumnWidth(k, sizes[size_t(k)]);
        }
        const int hl = w_.Highlight(id);
        if (hl >= 0) v->selectRow(hl);
        if (Browse* b = w_.browse(id)) {
          // Rows all shown: a full, disabled bar, as a list that cannot
          // scroll has.
          const bool above = b->more_above(), below = b->more_below();
          QSignalBlocker block_scroll(item.scroll);
          item.scroll->setRange(0, above || below ? 2 : 0);
          item.scroll->setEnabled(above || below);
          item.scroll->setValue(!above ? 0 : (below ? 1 : 2));
        } else {
          item.scroll->hide();
        }
        break;
      }
      case ControlKind::kSheet: {
        auto* tabs = static_cast<QTabWidget*>(widget);
        if (c.value >= 1 && c.value <= tabs->count()) tabs->setCurrentIndex(c.value - 1);
        break;
      }
      case ControlKind::kProgress: {
        auto* p = static_cast<QProgressBar*>(widget);
        p->setRange(c.progress_low, c.progress_high);
        p->setValue(c.progress_value);
        break;
      }
      default:
        break;
    }
  }

  Window& w_;
  const bool gui_;
  Dialog* dialog_ = nullptr;
  QTimer* timer_ = nullptr;
  std::map<ControlId, Item> items_;
  std::map<ControlId, int> frames_;
};

}  // namespace

QtBackend::QtBackend() {
  SetBackend(this);
}

QtBackend::QtBackend(int& argc, char** argv) {
  if (!QApplication::instance()) {
    app_ = std::shared_ptr<void>(new QApplication(argc, argv),
                                 [](void* p) { delete static_cast<QApplication*>(p); });
  }
  SetBackend(this);
}

QtBackend::~QtBackend() {
  SetBackend(nullptr);
}

void QtBackend::QueueAnswer(int button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

std::unique_ptr<WindowPeer> QtBackend::CreatePeer(Window& w, bool modal) {
  return std::make_unique<QtPeer>(w, modal);
}

int QtBackend::Message(const MessageSpec& m) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!answers_.empty()) {
      int a = answers_.front();
      answers_.pop_front();
      return a;
    }
  }
  int answer = 0;
  OnGui([&] {
    QMessageBox box;
    box.setWindowTitle(Q(m.caption));
    QString text = Q(m.text);
    text.replace('|', '\n');
    box.setText(text);
    switch (m.icon) {
      case Icon::kError:
        box.setIcon(QMessageBox::Critical);
        break;
      case Icon::kQuestion:
        box.setIcon(QMessageBox::Question);
        break;
      case Icon::kExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
      case Icon::kInformation:
        box.setIcon(QMessageBox::Information);
        break;
      case Icon::kNone:
        break;
    }
    std::vector<QAbstractButton*> buttons;
    for (const std::string& b : m.buttons)
      buttons.push_back(box.addButton(Q(b), QMessageBox::ActionRole));
    if (m.default_button >= 1 && m.default_button <= int(buttons.size()))
      box.setDefaultButton(static_cast<QPushButton*>(buttons[size_t(m.default_button - 1)]));
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i] == clicked) answer = int(i) + 1;
    }
  });
  return answer;
}

void QtBackend::SetBusy(bool busy) {
  OnGui([busy] {
    if (busy) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
}

void QtBackend::Beep() {
  OnGui([] { QApplication::beep(); });
}

}  // namespace nv::ui
