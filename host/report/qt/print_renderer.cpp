#include "host/report/qt/print_renderer.h"

#include <QPainter>

#include "host/report/qt/page_painter.h"
#include "host/report/text_encoding.h"

namespace nv::report {

void ConfigurePrinter(const Document& doc, QPrinter* printer) {
  printer->setPageLayout(DocumentPageLayout(doc));
  printer->setFullPage(true);  // after the layout, which would reset it
  printer->setDocName(QString::fromStdString(Utf8FromDocumentText(doc.caption)));
  printer->setCopyCount(doc.copies);
}

Status PaintOnPrinter(const Document& doc, QPrinter* printer) {
  if (doc.pages.empty()) return {Code::kNothingToPrint, "the report has no pages"};
  QPainter painter;
  if (!painter.begin(printer)) return {Code::kOutputFailed, "cannot start the print job"};
  for (size_t i = 0; i < doc.pages.size(); ++i) {
    if (i > 0 && !printer->newPage()) {
      painter.end();
      return {Code::kOutputFailed, "cannot start a new page on the printer"};
    }
    PaintPage(&painter, doc.pages[i], printer->logicalDpiX(), printer->logicalDpiY());
  }
  if (!painter.end()) return {Code::kOutputFailed, "the print job failed"};
  return Status::Ok();
}

Status PrintDocument(const Document& doc, QPrinter* printer) {
  if (doc.pages.empty()) return {Code::kNothingToPrint, "the report has no pages"};
  ConfigurePrinter(doc, printer);
  return PaintOnPrinter(doc, printer);
}

}  // namespace nv::report
