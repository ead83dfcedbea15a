// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/info_windows.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "lyralink/dialogs/qt_support.h"

namespace lyralink::dialogs {

namespace {

constexpr Size kWaitUnits{131, 31};
constexpr Qt::WindowFlags kInfoFlags =
    Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint;

QLabel* centred_label(QWidget* parent, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setAlignment(Qt::AlignCenter);
  l->setTextFormat(Qt::PlainText);
  return l;
}

}  // namespace

WaitWindow::WaitWindow(QWidget* parent, const std::string& message) : QFrame(parent, kInfoFlags) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("1003"));
  // The modal frame of a dialog without its caption.
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  setAutoFillBackground(true);
  setFont(template_font(12));
  message_ = centred_label(this, from_8bit(message));
  message_->setObjectName(QStringLiteral("1005"));
  auto* wait = centred_label(this, QStringLiteral("Please wait!"));
  place_template(this, kWaitUnits, {{message_, {5, 5, 120, 10}}, {wait, {5, 15, 120, 10}}}, frameWidth());
  place();
}

void WaitWindow::place() {
  Size own{width(), height()};
  QWidget* owner = parentWidget();
  Point at = owner != nullptr ? centre_over(screen_rect(owner), own) : centre_on_screen(available_area(nullptr), own);
  move(at.x, at.y);
}

SplashWindow::SplashWindow() : QWidget(nullptr, kInfoFlags), canvas_(kSplashSize.width, kSplashSize.height, QImage::Format_RGB32) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setObjectName(QStringLiteral("1007"));
  setFont(template_font(8));
  setFixedSize(kSplashSize.width, kSplashSize.height);
  canvas_.fill(splash_background());
}

void SplashWindow::place() {
  Point at = splash_position(available_area(nullptr));
  move(at.x, at.y);
}

void SplashWindow::draw(SplashPicture picture) {
  QImage image = splash_image(picture);
  {
    QPainter painter(&canvas_);
    painter.drawImage(0, 0, image);
  }
  repaint();
}

void SplashWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, canvas_);
  // The thin border.
  painter.setPen(QColor(0, 0, 0));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

QColor splash_background() { return {192, 192, 192}; }

namespace {

// The analyser as the product picture shows it: a grey case with a dark
// front panel, a display with a spectrum, LEDs and two BNC sockets.
void draw_product(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  const QColor navy(0, 0, 128);
  const QColor teal(0, 128, 128);
  p.fillRect(0, 0, kSplashSize.width, kSplashSize.height, splash_background());
  // Floor shadow and case.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(128, 128, 128));
  p.drawRoundedRect(QRectF(52, 58, 282, 142), 10, 10);
  QLinearGradient body(0, 50, 0, 190);
  body.setColorAt(0, QColor(255, 255, 255));
  body.setColorAt(1, QColor(160, 160, 160));
  p.setBrush(body);
  p.setPen(QPen(QColor(64, 64, 64), 1.5));
  p.drawRoundedRect(QRectF(44, 50, 282, 142), 10, 10);
  // Front panel.
  p.setBrush(navy);
  p.drawRoundedRect(QRectF(56, 62, 258, 118), 6, 6);
  // Display with a spectrum: a continuum and two peaks.
  QRectF screen(68, 74, 150, 80);
  p.setBrush(QColor(0, 32, 0));
  p.setPen(QPen(QColor(0, 0, 0), 1));
  p.drawRect(screen);
  QPainterPath spectrum;
  spectrum.moveTo(screen.left() + 2, screen.bottom() - 2);
  for (int i = 0; i <= 144; ++i) {
    double x = i / 144.0;
    double y = 0.55 * std::exp(-3.2 * x) + 0.85 * std::exp(-std::pow((x - 0.42) / 0.035, 2)) +
               0.35 * std::exp(-std::pow((x - 0.74) / 0.03, 2)) + 0.03;
    spectrum.lineTo(screen.left() + 3 + i, screen.bottom() - 3 - y * (screen.height() - 8));
  }
  spectrum.lineTo(screen.right() - 3, screen.bottom() - 2);
  spectrum.closeSubpath();
  p.setBrush(QColor(0, 160, 0));
  p.setPen(QPen(QColor(0, 255, 0), 1));
  p.drawPath(spectrum);
  // Labels and lights.
  QFont name(template_font(8).family());
  name.setPixelSize(15);
  name.setBold(true);
  p.setFont(name);
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRectF(228, 72, 80, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("MCA-740"));
  QFont small(name);
  small.setPixelSize(9);
  small.setBold(false);
  p.setFont(small);
  p.setPen(QColor(192, 192, 192));
  p.drawText(QRectF(228, 92, 84, 11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("multichannel"));
  p.drawText(QRectF(228, 102, 84, 11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("analyser"));
  const QColor lights[] = {QColor(0, 255, 0), QColor(255, 255, 0), QColor(255, 0, 0)};
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(lights[i]);
    p.drawEllipse(QPointF(234 + 14 * i, 126), 4, 4);
  }
  // BNC sockets: signal in and gate.
  for (int i = 0; i < 2; ++i) {
    QPointF c(246 + 34 * i, 154);
    p.setBrush(QColor(192, 192, 192));
    p.setPen(QPen(QColor(64, 64, 64), 1.5));
    p.drawEllipse(c, 11, 11);
    p.setBrush(QColor(128, 128, 128));
    p.drawEllipse(c, 6, 6);
    p.setBrush(QColor(255, 255, 0));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 2, 2);
  }
  p.setPen(QColor(255, 255, 255));
  p.setFont(small);
  p.drawText(QRectF(226, 167, 40, 11), Qt::AlignCenter, QStringLiteral("IN"));
  p.drawText(QRectF(260, 167, 40, 11), Qt::AlignCenter, QStringLiteral("GATE"));
  p.setPen(teal);
  p.drawText(QRectF(68, 158, 150, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("lyralink"));
  // Foot line under the case.
  QFont foot(name);
  foot.setPixelSize(11);
  foot.setBold(false);
  p.setFont(foot);
  p.setPen(QColor(64, 64, 64));
  p.drawText(QRectF(0, 206, kSplashSize.width, 24), Qt::AlignCenter,
             QStringLiteral("Analysers on serial ports, USB and the network"));
}

void draw_banner(QPainter& p, const QString& text) {
  p.fillRect(0, 0, kBannerSize.width, kBannerSize.height, splash_background());
  QFont font(template_font(8).family());
  font.setPixelSize(17);
  font.setBold(true);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(font);
  p.setPen(QColor(255, 0, 0));
  p.drawText(QRect(8, 0, kBannerSize.width - 8, kBannerSize.height), Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace

QImage splash_image(SplashPicture picture) {
  bool banner = picture != SplashPicture::product;
  QImage image(banner ? kBannerSize.width : kSplashSize.width, banner ? kBannerSize.height : kSplashSize.height,
               QImage::Format_RGB32);
  QPainter painter(&image);
  switch (picture) {
    case SplashPicture::product: draw_product(painter); break;
    case SplashPicture::detecting_banner: draw_banner(painter, QStringLiteral("Detecting MCA's ...")); break;
    case SplashPicture::wait_banner: draw_banner(painter, QStringLiteral("Please wait a moment ...")); break;
  }
  return image;
}

}  // namespace lyralink::dialogs
