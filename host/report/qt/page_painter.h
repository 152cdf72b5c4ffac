// Drawing a document page with a QPainter; shared by the PDF, printer and
// preview renderers.
#pragma once

#include <QPageLayout>
#include <QPainter>

#include "host/report/document.h"

namespace nv::report {

// The family every report text is drawn in (embedded in PDFs).
inline constexpr const char* kReportFontFamily = "DejaVu Sans";

// Page layout of the document's paper, portrait or landscape by its sides,
// without margins (pages carry their own).
QPageLayout DocumentPageLayout(const Document& doc);

// Draws `page` on a painter whose device has (0, 0) at the paper's corner and
// `dpi_x` x `dpi_y` dots to the inch.
void PaintPage(QPainter* painter, const Page& page, double dpi_x, double dpi_y);

}  // namespace nv::report
