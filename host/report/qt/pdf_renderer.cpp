#include "host/report/qt/pdf_renderer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "host/report/qt/page_painter.h"
#include "host/report/text_encoding.h"

namespace nv::report {

Status RenderPdf(const Document& doc, const std::string& path) {
  if (doc.pages.empty()) return {Code::kNothingToPrint, "the report has no pages"};
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return {Code::kNoApplication, "PDF output needs a QGuiApplication"};
  }
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) {
    return {Code::kOutputFailed, "cannot write " + path + ": " + file.errorString().toStdString()};
  }
  {
    QPdfWriter writer(&file);
    writer.setResolution(1200);
    writer.setPageLayout(DocumentPageLayout(doc));
    writer.setTitle(QString::fromStdString(Utf8FromDocumentText(doc.caption)));
    writer.setCreator(QStringLiteral("Fonvex Windows"));
    QPainter painter;
    if (!painter.begin(&writer)) {
      file.cancelWriting();
      return {Code::kOutputFailed, "cannot start the PDF " + path};
    }
    for (size_t i = 0; i < doc.pages.size(); ++i) {
      if (i > 0 && !writer.newPage()) {
        painter.end();
        file.cancelWriting();
        return {Code::kOutputFailed, "cannot add a page to " + path};
      }
      PaintPage(&painter, doc.pages[i], writer.resolution(), writer.resolution());
    }
    painter.end();
  }
  if (!file.commit()) {
    return {Code::kOutputFailed, "cannot write " + path + ": " + file.errorString().toStdString()};
  }
  return Status::Ok();
}

}  // namespace nv::report
