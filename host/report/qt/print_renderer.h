// Printing a report document on a QPrinter.
//
// Threads: call on the GUI thread (printer back-ends and their dialogs are not
// meant for other threads); a report thread hands its document over with
// PostToGuiThread (preview.h).
#pragma once

#include <QPrinter>

#include "host/report/document.h"
#include "host/report/status.h"
#include "host/runtime/export.h"

namespace nv::report {

// Sets the printer up for `doc`: paper, no margins (pages carry their own),
// job name from the caption and the document's number of copies.
NV_API void ConfigurePrinter(const Document& doc, QPrinter* printer);

// Configures `printer` for the document and prints every page.
NV_API Status PrintDocument(const Document& doc, QPrinter* printer);

// Paints the document on a printer already configured (the preview's own
// printer, whose settings the user may have changed).
NV_API Status PaintOnPrinter(const Document& doc, QPrinter* printer);

}  // namespace nv::report
