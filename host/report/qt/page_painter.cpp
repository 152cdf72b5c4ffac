#include "host/report/qt/page_painter.h"

#include <QFont>
#include <QPageSize>
#include <QPen>
#include <QString>
#include <algorithm>

#include "host/report/text_encoding.h"

namespace nv::report {

QPageLayout DocumentPageLayout(const Document& doc) {
  const double w = doc.paper.width / 1000.0;
  const double h = doc.paper.height / 1000.0;
  const bool landscape = w > h;
  QPageSize size(landscape ? QSizeF(h, w) : QSizeF(w, h), QPageSize::Inch, QString(),
                 QPageSize::FuzzyMatch);
  return QPageLayout(size, landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                     QMarginsF(0, 0, 0, 0));
}

void PaintPage(QPainter* painter, const Page& page, double dpi_x, double dpi_y) {
  painter->save();
  // From here on one unit is one mil.
  painter->scale(dpi_x / 1000.0, dpi_y / 1000.0);
  painter->setRenderHint(QPainter::Antialiasing, true);

  for (const BoxShape& box : page.boxes) {
    QPen pen(Qt::black);
    pen.setWidthF(std::max(box.thickness, 1));
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(box.x, box.y, box.width, box.height));
  }
  for (const CheckShape& check : page.checks) {
    QPen pen(Qt::black);
    pen.setWidthF(10);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    QRectF r(check.x, check.y, check.size, check.size);
    painter->drawRect(r);
    if (check.checked) {
      QRectF in =
          r.adjusted(check.size / 5.0, check.size / 5.0, -check.size / 5.0, -check.size / 5.0);
      painter->drawLine(in.topLeft(), in.bottomRight());
      painter->drawLine(in.topRight(), in.bottomLeft());
    }
  }
  for (const LineShape& line : page.lines) {
    QPen pen(Qt::black);
    pen.setWidthF(std::max(line.thickness, 1));
    painter->setPen(pen);
    painter->drawLine(QPointF(line.x1, line.y1), QPointF(line.x2, line.y2));
  }

  painter->setPen(Qt::black);
  QFont font(QString::fromLatin1(kReportFontFamily));
  // Plain shaping: no ligatures, so text extracted from a PDF reads "fi" as
  // two letters and searches find it.
  font.setStyleStrategy(QFont::PreferNoShaping);
  for (const TextRun& run : page.texts) {
    // Pixel size in mils: 1 point = 1000/72 mils.
    font.setPixelSize(std::max(1, run.font.size * 1000 / 72));
    font.setBold(run.font.bold);
    painter->setFont(font);
    int flags = Qt::AlignVCenter | Qt::TextDontClip | Qt::TextSingleLine;
    QRectF rect(run.x, run.y, run.width > 0 ? run.width : 1000000, run.height);
    switch (run.align) {
      case Align::kLeft:
        flags |= Qt::AlignLeft;
        break;
      case Align::kRight:
        flags |= run.width > 0 ? Qt::AlignRight : Qt::AlignLeft;
        break;
      case Align::kCenter:
        flags |= run.width > 0 ? Qt::AlignHCenter : Qt::AlignLeft;
        break;
    }
    painter->drawText(rect, flags, QString::fromStdString(Utf8FromDocumentText(run.text)));
  }
  painter->restore();
}

}  // namespace nv::report
