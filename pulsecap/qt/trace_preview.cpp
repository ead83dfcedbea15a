// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/qt/trace_preview.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace pulsecap {

namespace {
constexpr int kLeft = 64, kRight = 40, kTop = 30, kBottom = 40;

QString time_label(double seconds, double step) {
  // Enough decimals to tell neighbouring ticks apart, in a unit that
  // keeps the numbers short.
  struct Unit {
    double scale;
    const char* name;
  };
  const Unit units[] = {{1.0, "s"}, {1e3, "ms"}, {1e6, "\u00b5s"}, {1e9, "ns"}};
  Unit u = units[0];
  for (const Unit& c : units) {
    u = c;
    if (step * c.scale >= 1.0) break;
  }
  const double v = seconds * u.scale;
  const double s = step * u.scale;
  int decimals = s >= 1.0 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(s))));
  return QString::number(v, 'f', decimals) + QStringLiteral(" ") + QString::fromUtf8(u.name);
}
}  // namespace

TracePreview::TracePreview(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Trace preview"));
  setMinimumSize(360, 220);
  resize(720, 360);
  setObjectName(QStringLiteral("trace_preview"));
  setFocusPolicy(Qt::StrongFocus);
}

bool TracePreview::load(const std::string& path, uint32_t rate, std::string* error) {
  auto t = read_trace_file(path, error);
  if (!t) return false;
  trace_ = std::move(*t);
  rate_ = trace_.rate != 0 ? trace_.rate : rate;
  view_.reset(trace_.samples.size());
  if (!trace_.samples.empty()) {
    auto [mn, mx] = std::minmax_element(trace_.samples.begin(), trace_.samples.end());
    // A margin above and below, so that the extremes are not on the frame.
    const int margin = std::max(8, (*mx - *mn) / 20);
    low_ = static_cast<uint16_t>(std::max(0, *mn - margin));
    high_ = static_cast<uint16_t>(std::min(16383, *mx + margin));
    if (high_ <= low_) high_ = static_cast<uint16_t>(std::min(16383, low_ + 16));
  }
  file_name_ = QFileInfo(QString::fromStdString(path)).fileName();
  setWindowTitle(QStringLiteral("Trace preview - %1").arg(file_name_));
  update();
  return true;
}

QRect TracePreview::plot_area() const {
  return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height() - kTop - kBottom));
}

void TracePreview::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  const QRect area = plot_area();
  p.fillRect(area, Qt::white);
  const QFontMetrics fm = p.fontMetrics();

  QString heading = file_name_.isEmpty() ? QStringLiteral("(no trace)") : file_name_;
  heading += QStringLiteral("   %1 samples").arg(trace_.samples.size());
  if (rate_ != 0) heading += QStringLiteral(" at %1 kHz").arg(rate_ / 1000.0, 0, 'g', 6);
  if (trace_.truncated()) heading += QStringLiteral("   (ended early: %1 announced)").arg(trace_.declared);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(QRect(8, 4, width() - 16, kTop - 8), Qt::AlignLeft | Qt::AlignVCenter, heading);

  const double first = view_.first();
  const double span = view_.span();
  auto x_of = [&](double sample) { return area.left() + (sample - first) / span * area.width(); };
  auto y_of = [&](double v) { return area.bottom() - (v - low_) / (high_ - low_) * area.height(); };

  // Grid and value axis (ADC codes).
  p.setPen(QColor(225, 225, 225));
  const std::vector<double> vticks = axis_ticks(low_, high_, std::max(2, area.height() / 40));
  const double tstep_samples = span / std::max(2, area.width() / 90);
  const double scale = rate_ != 0 ? 1.0 / rate_ : 1.0;
  const std::vector<double> tticks = axis_ticks(first * scale, (first + span) * scale, std::max(2, area.width() / 90));
  for (double v : vticks) p.drawLine(QPointF(area.left(), y_of(v)), QPointF(area.right(), y_of(v)));
  for (double t : tticks) p.drawLine(QPointF(x_of(t / scale), area.top()), QPointF(x_of(t / scale), area.bottom()));

  p.setPen(palette().color(QPalette::WindowText));
  for (double v : vticks) {
    p.drawText(QRectF(0, y_of(v) - fm.height() / 2.0, kLeft - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(v, 'f', 0));
  }
  const double tick_step = tticks.size() > 1 ? tticks[1] - tticks[0] : tstep_samples * scale;
  for (double t : tticks) {
    const QString label = rate_ != 0 ? time_label(t, tick_step) : QString::number(t, 'f', 0);
    p.drawText(QRectF(x_of(t / scale) - 60, area.bottom() + 4, 120, fm.height()), Qt::AlignHCenter | Qt::AlignTop, label);
  }
  p.drawText(QRect(area.left(), height() - fm.height() - 4, area.width(), fm.height()), Qt::AlignHCenter,
             rate_ != 0 ? QStringLiteral("time") : QStringLiteral("sample (rate unknown)"));
  p.save();
  p.translate(12, area.center().y());
  p.rotate(-90);
  p.drawText(QRect(-60, -10, 120, 20), Qt::AlignCenter, QStringLiteral("ADC code"));
  p.restore();

  // The envelope: one vertical line per column from its smallest to its
  // largest sample.
  p.setClipRect(area);
  p.setPen(QColor(0, 70, 170));
  const auto columns = envelope(trace_.samples, first, span, static_cast<size_t>(area.width()));
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].empty) continue;
    const double x = area.left() + static_cast<double>(c) + 0.5;
    p.drawLine(QPointF(x, y_of(columns[c].low)), QPointF(x, y_of(columns[c].high)));
  }
  p.setClipping(false);
  p.setPen(QColor(120, 120, 120));
  p.setBrush(Qt::NoBrush);
  p.drawRect(area.adjusted(0, 0, -1, -1));
}

void TracePreview::wheelEvent(QWheelEvent* event) {
  const QRect area = plot_area();
  const double fraction = (event->position().x() - area.left()) / area.width();
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0) view_.zoom_at(fraction, std::pow(1.25, steps));
  update();
  event->accept();
}

void TracePreview::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    drag_x_ = event->position().x();
    setCursor(Qt::ClosedHandCursor);
  }
}

void TracePreview::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const double dx = event->position().x() - drag_x_;
  drag_x_ = event->position().x();
  view_.pan_by(-dx / plot_area().width() * view_.span());
  update();
}

void TracePreview::mouseReleaseEvent(QMouseEvent*) {
  dragging_ = false;
  unsetCursor();
}

void TracePreview::mouseDoubleClickEvent(QMouseEvent*) {
  view_.reset(trace_.samples.size());
  update();
}

void TracePreview::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus: case Qt::Key_Equal: view_.zoom_at(0.5, 2.0); break;
    case Qt::Key_Minus: view_.zoom_at(0.5, 0.5); break;
    case Qt::Key_Left: view_.pan_by(-view_.span() / 4); break;
    case Qt::Key_Right: view_.pan_by(view_.span() / 4); break;
    case Qt::Key_Home: view_.reset(trace_.samples.size()); break;
    default: QWidget::keyPressEvent(event); return;
  }
  update();
}

}  // namespace pulsecap
