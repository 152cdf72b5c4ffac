// agenda_screenshot: runs the agenda over the installation in ./Archivos,
// tours every window (see tour.h) and writes a PNG of each into a folder,
// named after the window ("main-empresas.png", "ficha-empresa-agregar.png"
// ...). For people (documentation, reviews), not a test. Usually started
// by screenshot.sh on Qt's offscreen platform with a 1024x768 screen.
//
//   agenda_screenshot OUT_DIR [USER PASSWORD]
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QWidget>

#include <cstdio>
#include <string>

#include "host/ui/qt/qt_backend.h"
#include "tools/demodata/demodata.h"
#include "tools/screenshot/tour.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "uso: agenda_screenshot CARPETA [USUARIO CLAVE]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const std::string user = argc > 3 ? argv[2] : demodata::kDemoUser;
  const std::string password = argc > 3 ? argv[3] : demodata::kDemoPassword;
  int qt_argc = 1;
  nv::ui::QtBackend qt(qt_argc, argv);
  QDir().mkpath(out);
  int failed = 0;
  const agenda_tour::Result r = agenda_tour::Run(
      qt, user, password, [&](const std::string& name, nv::ui::Window&, QWidget* top) {
        // A window's few colours fit a palette: small files.
        QImage image = top->grab().toImage().convertToFormat(QImage::Format_Indexed8,
                                                             Qt::ThresholdDither | Qt::AvoidDither);
        const QString path = out + "/" + QString::fromStdString(name) + ".png";
        if (!image.save(path, "PNG", 0)) {
          std::fprintf(stderr, "agenda_screenshot: no se pudo escribir %s\n",
                       path.toLocal8Bit().data());
          ++failed;
          return;
        }
        std::printf("%s\n", path.toLocal8Bit().data());
      });
  if (!r.stalled.empty()) {
    std::fprintf(stderr, "agenda_screenshot: la ventana \"%s\" no apareció (estado %d)\n",
                 r.stalled.c_str(), r.status);
    return 1;
  }
  return failed == 0 && r.status == 0 ? 0 : 1;
}
