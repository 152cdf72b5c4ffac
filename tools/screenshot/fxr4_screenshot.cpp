// fxr4_screenshot: opens each of the fifteen report choosers under the Qt
// backend over the installation in ./Archivos and writes a PNG of each
// ("elegir-rpt-salent-lin.png" ...), one of the extension chooser with its
// range list open ("elegir-rango-abierto.png") and one of the calendar on
// May ("calendario.png"). For people (documentation, reviews), not a test;
// started by screenshot.sh on Qt's offscreen platform.
//
//   fxr4_screenshot OUT_DIR
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/runtime/codepage.h"
#include "host/runtime/date_time.h"
#include "host/ui/backend.h"
#include "host/ui/qt/qt_backend.h"
#include "reports/calendario.h"
#include "reports/choosers.h"
#include "reports/params.h"

namespace {

using nv::ui::Window;

struct Step {
  std::string caption;                             // the window waited for
  std::string name;                                // PNG name; empty: none
  std::function<void(Window&, QWidget*)> prepare;  // before the picture
  std::function<void(Window&)> act;                // after it
};

QWidget* TopLevel(const std::string& caption) {
  const QString title = QString::fromStdString(nv::Utf8FromAnsi(caption));
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->windowTitle() == title) return top;
  }
  return nullptr;
}

std::string FileName(const char* chooser) {
  std::string s = chooser;
  for (char& c : s) c = c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
  return "elegir-" + s.substr(4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "uso: fxr4_screenshot CARPETA\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  int qt_argc = 1;
  nv::ui::QtBackend qt(qt_argc, argv);
  QDir().mkpath(out);

  size_t n = 0;
  const fxr4::Elegir* all = fxr4::Choosers(&n);
  const std::string elegir = "Elegir tipo de reporte";
  auto press = [](int id) { return [id](Window& w) { w.UserPress(id); }; };
  std::vector<Step> steps;
  for (size_t i = 0; i < n; ++i) {
    steps.push_back({elegir, FileName(all[i].name), {}, press(fxr4::elegir::CANCELAR)});
    if (i != 0) continue;
    // The first chooser again: its range list open, then the calendar.
    steps.back().act = {};
    steps.push_back({elegir, "elegir-rango-abierto",
                     [](Window&, QWidget* top) {
                       for (QComboBox* b : top->findChildren<QComboBox*>()) {
                         if (b->isEditable()) {
                           b->showPopup();
                           break;
                         }
                       }
                     },
                     press(fxr4::elegir::CAL_DESFEC)});
    steps.push_back({"Calendario", "calendario", {}, [](Window& w) { w.UserClose(); }});
    steps.push_back({elegir, "", {}, press(fxr4::elegir::CANCELAR)});
  }

  size_t next = 0;
  int settled = 0, failed = 0;
  bool prepared = false;
  QTimer driver;
  driver.setInterval(80);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    std::vector<Window*> open = nv::ui::OpenWindows();
    if (open.empty() || next >= steps.size()) return;
    Window* top = open.back();
    const Step& step = steps[next];
    QWidget* widget = TopLevel(top->Caption());
    if (top->Caption() != nv::AnsiFromUtf8(step.caption) || widget == nullptr) return;
    if (++settled < 3) return;  // let it lay out and paint
    if (step.prepare && !prepared) {
      step.prepare(*top, widget);
      prepared = true;
      settled = 0;
      return;
    }
    settled = 0;
    prepared = false;
    ++next;
    if (!step.name.empty()) {
      // The window, or with a list popped up from it the screen under both.
      QRect area = widget->frameGeometry();
      bool popup = false;
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w != widget && (w->windowFlags() & Qt::Popup) == Qt::Popup) {
          area = area.united(w->frameGeometry());
          popup = true;
        }
      }
      const QPixmap shot = popup ? QGuiApplication::primaryScreen()->grabWindow(
                                       0, area.x(), area.y(), area.width(), area.height())
                                 : widget->grab();
      QImage image = shot.toImage().convertToFormat(QImage::Format_Indexed8,
                                                    Qt::ThresholdDither | Qt::AvoidDither);
      const QString path = out + "/" + QString::fromStdString(step.name) + ".png";
      if (image.isNull() || !image.save(path, "PNG", 0)) {
        std::fprintf(stderr, "fxr4_screenshot: no se pudo escribir %s\n",
                     path.toLocal8Bit().data());
        ++failed;
      } else {
        std::printf("%s\n", path.toLocal8Bit().data());
      }
    }
    if (step.act) top->Deliver(step.act);
  });
  driver.start();

  // Each chooser over a block of the last week of May 2026 (the calendar
  // opens on 25 May, a holiday).
  for (size_t i = 0; i < n; ++i) {
    char block[207];
    fxr4::CopyBlock(block, sizeof block, nullptr, 0);
    const int32_t desfec = nv::DateFromYmd(2026, 5, 25), hasfec = nv::DateFromYmd(2026, 5, 31);
    std::memcpy(block, &desfec, 4);
    std::memcpy(block + 4, &hasfec, 4);
    std::memset(block + 8, 0, 8);
    if (all[i].familia == fxr4::Familia::kCod) std::memset(block + 16, 0, 8);
    const size_t curtab = all[i].familia == fxr4::Familia::kCod     ? 55
                          : all[i].familia == fxr4::Familia::kCtas  ? 187
                          : all[i].familia == fxr4::Familia::kReque ? 108
                                                                    : 67;
    std::memcpy(block + curtab, "Todas", 5);
    fxr4::ElegirReporte(all[i], "A", std::string_view(block, sizeof block));
  }
  driver.stop();
  if (next < steps.size()) {
    std::fprintf(stderr, "fxr4_screenshot: la ventana \"%s\" no apareció\n",
                 steps[next].caption.c_str());
    return 1;
  }
  return failed == 0 ? 0 : 1;
}
