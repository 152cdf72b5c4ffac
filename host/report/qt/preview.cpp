#include "host/report/qt/preview.h"

#include <QApplication>
#include <QMetaObject>
#include <QPrinter>
#include <QThread>

#include "host/report/qt/print_renderer.h"
#include "host/report/text_encoding.h"

namespace nv::report {
namespace {

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

// Owns the preview's printer; a base class placed before the dialog so that the
// printer outlives the dialog's own destruction.
struct PrinterHolder {
  explicit PrinterHolder(std::unique_ptr<QPrinter> p) : owned_printer(std::move(p)) {}
  std::unique_ptr<QPrinter> owned_printer;
};

// The dialog owns its printer and its copy of the document.
class ReportPreviewDialog : private PrinterHolder, public QPrintPreviewDialog {
 public:
  ReportPreviewDialog(std::unique_ptr<QPrinter> p, std::shared_ptr<const Document> doc,
                      QWidget* parent)
      : PrinterHolder(std::move(p)), QPrintPreviewDialog(owned_printer.get(), parent) {
    connect(this, &QPrintPreviewDialog::paintRequested, this,
            [doc = std::move(doc)](QPrinter* target) { PaintOnPrinter(*doc, target); });
  }
};

}  // namespace

Status PostToGuiThread(Document doc, std::function<void(const Document&)> present) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return {Code::kNoApplication, "no application object to post to"};
  auto shared = std::make_shared<const Document>(std::move(doc));
  QMetaObject::invokeMethod(
      app, [shared, present = std::move(present)]() { present(*shared); }, Qt::QueuedConnection);
  return Status::Ok();
}

std::unique_ptr<QPrintPreviewDialog> CreatePreview(const Document& doc, QWidget* parent) {
  if (doc.pages.empty() || qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
      !OnGuiThread()) {
    return nullptr;
  }
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  ConfigurePrinter(doc, printer.get());
  auto dialog = std::make_unique<ReportPreviewDialog>(
      std::move(printer), std::make_shared<const Document>(doc), parent);
  dialog->setWindowTitle(QString::fromStdString(Utf8FromDocumentText(doc.caption)));
  dialog->setWindowState(dialog->windowState() | Qt::WindowMaximized);
  return dialog;
}

Status Present(const Document& doc, QWidget* parent) {
  if (!OnGuiThread()) return {Code::kWrongThread, "the preview runs on the GUI thread"};
  if (doc.pages.empty()) return {Code::kNothingToPrint, "the report has no pages"};
  if (doc.skip_preview) {
    QPrinter printer(QPrinter::HighResolution);
    return PrintDocument(doc, &printer);
  }
  std::unique_ptr<QPrintPreviewDialog> dialog = CreatePreview(doc, parent);
  if (dialog == nullptr) return {Code::kNoApplication, "the preview needs a QApplication"};
  dialog->exec();
  return Status::Ok();
}

}  // namespace nv::report
