// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/qt/progress_indicator.h"

#include <QPainter>

namespace pulsecap {

ProgressIndicator::ProgressIndicator(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
}

void ProgressIndicator::set_percent(int percent) {
  if (percent == percent_) return;
  percent_ = percent;
  repaint();
}

QImage ProgressIndicator::render(QSize size) const {
  // Drawn into an image: the raster operation is then the same on every
  // platform plug-in (the painter of a native window may lack it).
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(font());
  const QColor blue(0, 0, 255);
  const QString label = QString::asprintf("%d %%", percent_);
  // h: the height of the text "1", a whole line of the font.
  const int h = p.fontMetrics().size(Qt::TextSingleLine, QStringLiteral("1")).height();
  const int width = size.width();
  const int height = size.height();
  // Centre-bottom alignment at x = width / 2, y = (height + h) / 2: the
  // bottom of the text line there, so the line sits in the middle.
  const int text_width = p.fontMetrics().horizontalAdvance(label);
  p.setPen(blue);
  p.drawText(QPoint(width / 2 - text_width / 2, (height + h) / 2 - p.fontMetrics().descent()), label);
  p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  p.setPen(Qt::NoPen);
  p.setBrush(blue);
  const int done = width * percent_ / 100;
  p.drawRect(QRect(0, 0, done, height));
  p.end();
  return image;
}

void ProgressIndicator::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  ++paints_;
  QPainter p(this);
  const QRect r = contentsRect();
  p.drawImage(r.topLeft(), render(r.size()));
}

}  // namespace pulsecap
