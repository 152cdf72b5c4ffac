// Print preview of a report document and the hand-over of a finished document
// from a report thread to the GUI thread.
//
// Threads: the preview and printing run on the GUI thread (the thread of the
// QApplication object). A report thread finishes its run, then calls
//   PostToGuiThread(report.TakeDocument(), [](const Document& d) { Present(d); });
// which queues the call on the GUI thread's event loop and returns at once.
// The document travels by value, so the report thread keeps nothing shared.
#pragma once

#include <QPrintPreviewDialog>
#include <QWidget>
#include <functional>
#include <memory>

#include "host/report/document.h"
#include "host/report/status.h"
#include "host/runtime/export.h"

namespace nv::report {

// Queues `present(doc)` to run on the GUI thread; callable from any thread.
// Fails with kNoApplication when no application object exists (nothing is
// queued then).
NV_API Status PostToGuiThread(Document doc, std::function<void(const Document&)> present);

// A preview dialog for `doc` (a copy is kept by the dialog): shown maximised,
// zoomable, with its own printer already set to the document's paper, copies
// and job name; printing from it prints the document. Needs a QApplication;
// GUI thread only (returns nullptr otherwise, or for a document without pages).
NV_API std::unique_ptr<QPrintPreviewDialog> CreatePreview(const Document& doc,
                                                          QWidget* parent = nullptr);

// What the report's print options ask for: when the document skips the
// preview, prints straight to the default printer; otherwise shows the
// preview modally (the user prints from it or closes it). GUI thread only.
// A document without pages shows and prints nothing (kNothingToPrint).
NV_API Status Present(const Document& doc, QWidget* parent = nullptr);

}  // namespace nv::report
