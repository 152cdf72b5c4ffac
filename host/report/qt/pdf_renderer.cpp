#include "host/report/qt/pdf_renderer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "host/report/qt/page_painter.h"
#include "host/report/text_encoding.h"

namespace nv::report {

struct PdfStream::Impl {
  explicit Impl(const std::string& p) : path(p), file(QString::fromStdString(p)) {}
  std::string path;
  QSaveFile file;
  std::unique_ptr<QPdfWriter> writer;
  QPainter painter;
  int pages = 0;
};

PdfStream::PdfStream() = default;

PdfStream::~PdfStream() {
  if (impl_ == nullptr) return;
  if (impl_->painter.isActive()) impl_->painter.end();
  impl_->writer.reset();
  impl_->file.cancelWriting();
}

Status PdfStream::Begin(const Document& shape, const std::string& path) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    return {Code::kNoApplication, "PDF output needs a QGuiApplication"};
  }
  impl_ = std::make_unique<Impl>(path);
  if (!impl_->file.open(QIODevice::WriteOnly)) {
    Status st{Code::kOutputFailed,
              "cannot write " + path + ": " + impl_->file.errorString().toStdString()};
    impl_.reset();
    return st;
  }
  impl_->writer = std::make_unique<QPdfWriter>(&impl_->file);
  impl_->writer->setResolution(1200);
  impl_->writer->setPageLayout(DocumentPageLayout(shape));
  impl_->writer->setTitle(QString::fromStdString(Utf8FromDocumentText(shape.caption)));
  impl_->writer->setCreator(QStringLiteral("Fonvex Windows"));
  return Status::Ok();
}

Status PdfStream::Add(const Page& page) {
  if (impl_ == nullptr) return {Code::kOutputFailed, "the PDF is not open"};
  QPdfWriter& writer = *impl_->writer;
  if (impl_->pages == 0) {
    // The painter starts on the first page, so a run without pages makes no file.
    if (!impl_->painter.begin(&writer)) {
      return {Code::kOutputFailed, "cannot start the PDF " + impl_->path};
    }
  } else if (!writer.newPage()) {
    return {Code::kOutputFailed, "cannot add a page to " + impl_->path};
  }
  PaintPage(&impl_->painter, page, writer.resolution(), writer.resolution());
  ++impl_->pages;
  return Status::Ok();
}

Status PdfStream::Finish() {
  if (impl_ == nullptr) return {Code::kOutputFailed, "the PDF is not open"};
  if (impl_->pages == 0) {
    impl_.reset();
    return {Code::kNothingToPrint, "the report has no pages"};
  }
  impl_->painter.end();
  impl_->writer.reset();
  const bool ok = impl_->file.commit();
  Status st = ok ? Status::Ok()
                 : Status{Code::kOutputFailed, "cannot write " + impl_->path + ": " +
                                                   impl_->file.errorString().toStdString()};
  impl_.reset();
  return st;
}

Status RenderPdf(const Document& doc, const std::string& path) {
  if (doc.pages.empty()) return {Code::kNothingToPrint, "the report has no pages"};
  PdfStream pdf;
  if (Status st = pdf.Begin(doc, path); !st.ok()) return st;
  for (const Page& page : doc.pages) {
    if (Status st = pdf.Add(page); !st.ok()) return st;
  }
  return pdf.Finish();
}

}  // namespace nv::report
