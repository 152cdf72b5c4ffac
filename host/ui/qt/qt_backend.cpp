#include "host/ui/qt/qt_backend.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <map>

#include "host/runtime/codepage.h"
#include "host/ui/browse.h"

namespace nv::ui {

namespace {

QString Q(std::string_view ansi) {
  return QString::fromStdString(nv::Utf8FromAnsi(ansi));
}
std::string Ansi(const QString& s) {
  return nv::AnsiFromUtf8(s.toStdString());
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
    if (key >= kKeyF1 && key < kKeyF1 + 12) {
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
        if (!list_) break;
        const int key = KeyFromQt(static_cast<QKeyEvent*>(e)->key());
        if (key == kKeyUp || key == kKeyDown || key == kKeyPageUp || key == kKeyPageDown ||
            key == kKeyHome || key == kKeyEnd || key == kKeyEnter) {
          w_.Deliver([id, key](Window& win) { win.UserListKey(id, key); });
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
        auto* view = qobject_cast<QTableView*>(o);
        if (!view) break;
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
};

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
    auto* layout = new QVBoxLayout(dialog_);
    if (!w_.def().menus.empty()) layout->setMenuBar(BuildMenus());
    BuildChildren(-1, dialog_, layout);
    if (w_.def().width > 0 && w_.def().height > 0)
      dialog_->resize(w_.def().width * 2, w_.def().height * 2);
    timer_ = new QTimer(dialog_);
    QObject::connect(timer_, &QTimer::timeout, [this] { w_.Post(Event::kTimer); });
    ApplyTimer();
    for (auto& [id, item] : items_) ApplyControl(id);
    dialog_->show();
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

  // Lays out the children of control `parent` (-1: the window): a prompt
  // followed by its input shares a row, consecutive buttons share a row.
  void BuildChildren(int parent, QWidget* owner, QBoxLayout* layout) {
    const auto& cs = w_.controls();
    QHBoxLayout* row = nullptr;
    ControlKind last = ControlKind::kGroup;
    for (size_t i = 0; i < cs.size(); ++i) {
      if (cs[i].parent != parent) continue;
      const ControlState& c = cs[i];
      QWidget* widget = BuildOne(int(i), owner);
      const bool input = c.def.kind == ControlKind::kEntry ||
                         c.def.kind == ControlKind::kDropList || c.def.kind == ControlKind::kText;
      const bool joins =
          row && ((last == ControlKind::kPrompt && input) ||
                  (last == ControlKind::kButton && c.def.kind == ControlKind::kButton));
      if (!joins) {
        row = new QHBoxLayout;
        layout->addLayout(row);
      }
      row->addWidget(widget);
      last = c.def.kind;
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
        if (int width = nv::PictureWidth(c.def.picture); width > 0) e->setMaxLength(width);
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
        t->setReadOnly(c.def.read_only);
        QObject::connect(t, &QPlainTextEdit::textChanged, [this, id, t] {
          std::string text = Ansi(t->toPlainText());
          w_.Deliver([id, text](Window& win) { win.UserSetText(id, text); });
        });
        widget = t;
        break;
      }
      case ControlKind::kButton: {
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
        QObject::connect(b, &QComboBox::activated, [this, id](int n) {
          w_.Deliver([id, n](Window& win) { win.UserSetValue(id, n + 1); });
        });
        widget = b;
        break;
      }
      case ControlKind::kList: {
        auto* v = new QTableView(owner);
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
          BuildChildren(int(i), page, l);
          l->addStretch();
          tabs->addTab(page, Q(cs[i].text));
          if (cs[i].def.id != kNoControl) items_[cs[i].def.id].widget = page;
        }
        widget = tabs;
        break;
      }
      case ControlKind::kGroup: {
        auto* g = new QGroupBox(Q(c.text), owner);
        auto* l = new QVBoxLayout(g);
        BuildChildren(index, g, l);
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

  void NextFrame(ControlId id) {
    // Frames are display only: the window's state is not touched.
    auto it = items_.find(id);
    if (it == items_.end()) return;
    const ControlState& c = w_.control(id);
    if (c.def.frames.empty()) return;
    int& frame = frames_[id];
    frame = (frame + 1) % int(c.def.frames.size());
    auto* label = static_cast<QLabel*>(it->second.widget);
    QPixmap p(Q(c.def.frames[size_t(frame)]));
    if (!p.isNull()) label->setPixmap(p);
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
        widget->setPalette(pal);
      }
    }
    switch (c.def.kind) {
      case ControlKind::kPrompt:
        static_cast<QLabel*>(widget)->setText(Q(c.text));
        break;
      case ControlKind::kImage: {
        auto* label = static_cast<QLabel*>(widget);
        QPixmap p(Q(c.text));
        if (p.isNull()) {
          label->setText(QString());
        } else {
          label->setPixmap(p);
        }
        break;
      }
      case ControlKind::kEntry: {
        auto* e = static_cast<QLineEdit*>(widget);
        if (Ansi(e->text()) != c.text) e->setText(Q(c.text));
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
        if (c.def.kind == ControlKind::kCheck)
          static_cast<QCheckBox*>(widget)->setChecked(c.value != 0);
        break;
      case ControlKind::kOption:
        static_cast<QGroupBox*>(widget)->setTitle(Q(c.text));
        if (QAbstractButton* b = item.radios->button(c.value)) b->setChecked(true);
        break;
      case ControlKind::kDropList: {
        auto* b = static_cast<QComboBox*>(widget);
        b->clear();
        for (const auto& row : w_.Rows(id)) b->addItem(row.empty() ? QString() : Q(row[0]));
        b->setCurrentIndex(w_.Highlight(id));
        break;
      }
      case ControlKind::kList: {
        std::vector<QString> headers;
        std::vector<bool> right;
        for (const Column& col : c.def.columns) {
          headers.push_back(Q(col.header));
          right.push_back(col.right);
        }
        std::vector<std::vector<QString>> rows;
        for (const auto& r : w_.Rows(id)) {
          std::vector<QString> cells;
          for (const std::string& s : r) cells.push_back(Q(s));
          rows.push_back(std::move(cells));
        }
        item.model->Set(std::move(headers), std::move(right), std::move(rows));
        auto* v = static_cast<QTableView*>(widget);
        const int hl = w_.Highlight(id);
        if (hl >= 0) v->selectRow(hl);
        if (Browse* b = w_.browse(id)) {
          QSignalBlocker block_scroll(item.scroll);
          item.scroll->setValue(!b->more_above() ? 0 : (b->more_below() ? 1 : 2));
        } else {
          item.scroll->hide();
        }
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

}  // namespace nv::ui
