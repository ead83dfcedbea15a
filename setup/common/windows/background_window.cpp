// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/windows/background_window.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace lyralink::setup {

BackgroundWindow::BackgroundWindow(const QString& caption, const QString& text)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), text_(text), logo_(make_logo()) {
  setWindowTitle(caption);
  setObjectName("background");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void BackgroundWindow::show_on_screen() {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) setGeometry(screen->geometry());
  showFullScreen();
}

void BackgroundWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paint_background(painter, width(), height(), text_, logo_);
}

QFont title_font(TitleFontSize size) {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Bold);
  font.setItalic(true);
  // The platform's font height is the cell height (ascent + descent) and
  // its width the average character width; Qt asks for the em size and a
  // stretch, so both are scaled from what this font measures.
  int height = std::max(size.height, 1);
  font.setPixelSize(height);
  QFontMetrics probe(font);
  if (probe.height() > 0) {
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(height * static_cast<double>(height) / probe.height()))));
  }
  QFontMetrics scaled(font);
  if (scaled.averageCharWidth() > 0) {
    int stretch = static_cast<int>(std::lround(100.0 * std::max(size.width, 1) / scaled.averageCharWidth()));
    font.setStretch(std::clamp(stretch, 1, 4000));
  }
  return font;
}

TitleFontSize title_font_size_for(const QString& text, int width) {
  return fit_title_font(
      [&](TitleFontSize size) { return QFontMetrics(title_font(size)).horizontalAdvance(text); }, width);
}

void paint_background(QPainter& painter, int width, int height, const QString& text, const QImage& logo) {
  // One-pixel rows from dark green (64) at the top to bright green at the bottom.
  for (int y = 0; y < height; ++y) {
    int green = 64 + static_cast<int>(static_cast<long long>(y) * 192 / std::max(height, 1));
    painter.setPen(QColor(0, green, 0));
    painter.drawLine(0, y, width, y);
  }
  painter.setFont(title_font(title_font_size_for(text, width)));
  QRect area(0, 0, std::max(width, 1) * 4, std::max(height, 1));
  painter.setPen(Qt::black);
  painter.drawText(area.translated(30, 30), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  painter.setPen(Qt::white);
  painter.drawText(area.translated(25, 25), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  if (!logo.isNull()) {
    // Pure white pixels let the background show through.
    QImage shown = logo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < shown.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(shown.scanLine(y));
      for (int x = 0; x < shown.width(); ++x) {
        if ((row[x] & 0xFFFFFFu) == 0xFFFFFFu) row[x] = 0;
      }
    }
    painter.drawImage(width - shown.width() - 20, height - shown.height() - 40, shown);
  }
}

QImage make_logo() {
  // 120 x 36 pixels of 24 bits: about 13 kB, like the logo this stands in for.
  QImage logo(120, 36, QImage::Format_RGB888);
  logo.fill(Qt::white);
  QPainter p(&logo);
  p.setRenderHint(QPainter::Antialiasing, false);  // only pure white may be transparent: no blended edges
  // A spectrum: a low continuum and one photopeak, as bars.
  const QColor bar(20, 40, 120);
  for (int x = 0; x < 40; ++x) {
    double peak = 26.0 * std::exp(-((x - 24) * (x - 24)) / 8.0);
    double continuum = 6.0 * std::exp(-x / 18.0) + 2.0;
    int h = static_cast<int>(peak + continuum);
    p.fillRect(2 + x, 33 - h, 1, h, bar);
  }
  p.fillRect(1, 33, 42, 1, Qt::black);
  p.fillRect(1, 3, 1, 31, Qt::black);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(15);
  font.setBold(true);
  font.setStyleStrategy(QFont::NoAntialias);
  p.setFont(font);
  p.setPen(QColor(20, 40, 120));
  p.drawText(QRect(46, 0, 74, 36), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("lyralink"));
  return logo;
}

}  // namespace lyralink::setup
