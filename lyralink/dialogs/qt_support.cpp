// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/qt_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QThread>
#include <QWindow>
#include <algorithm>

namespace lyralink::dialogs {

namespace {

constexpr QEventLoop::ProcessEventsFlags kPaintOnly =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;

int text_width(const QWidget* w, const QString& text) { return QFontMetrics(w->font()).horizontalAdvance(text); }

TemplateControl fit(QWidget* w, const Rect& units) {
  TemplateControl c;
  c.units = units;
  if (auto* button = dynamic_cast<QPushButton*>(w)) {
    // The text and the button's own margins; the style's preferred width
    // (often a fixed minimum) is not a need.
    QStyleOptionButton option;
    option.initFrom(button);
    int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    c.min_width = text_width(button, button->text()) + 2 * margin + 4;
    c.min_height = button->sizeHint().height();
  } else if (auto* box = dynamic_cast<QCheckBox*>(w)) {
    c.min_width = box->sizeHint().width();
    c.min_height = box->sizeHint().height();
  } else if (auto* label = dynamic_cast<QLabel*>(w)) {
    if (label->wordWrap()) {
      c.height_for_width = [label](int width) { return label->heightForWidth(width); };
    } else {
      c.min_width = text_width(label, label->text()) + 2 * label->margin() + 2;
      c.min_height = QFontMetrics(label->font()).height();
    }
  } else if (int needed = w->property("lyralink_min_width").toInt(); needed > 0) {
    // A list whose lines must show whole.
    c.min_width = needed;
  } else if (w->property("lyralink_fit").toBool()) {
    // An edit control: its own size hint is the platform's size.
    c.min_width = w->minimumSizeHint().width();
    c.min_height = w->sizeHint().height();
  }
  return c;
}

}  // namespace

QFont template_font(int point_size) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(point_size);
  return font;
}

BaseUnits font_base_units(const QFont& font) {
  QFontMetrics metrics(font);
  return base_units(metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample)), metrics.height());
}

TemplateLayout place_template(QWidget* window, Size units, const std::vector<PlacedControl>& controls,
                              int frame_width) {
  std::vector<TemplateControl> specs;
  specs.reserve(controls.size());
  for (const auto& c : controls) specs.push_back(fit(c.widget, c.units));
  TemplateLayout layout = lay_out_template(units, font_base_units(window->font()), specs);
  for (size_t i = 0; i < controls.size(); ++i) {
    const Rect& r = layout.controls[i];
    controls[i].widget->setGeometry(r.x + frame_width, r.y + frame_width, r.width, r.height);
  }
  window->setFixedSize(layout.size.width + 2 * frame_width, layout.size.height + 2 * frame_width);
  return layout;
}

QWidget* live_widget(void* owner) {
  if (owner == nullptr || QApplication::instance() == nullptr) return nullptr;
  const auto widgets = QApplication::allWidgets();
  for (QWidget* w : widgets) {
    if (static_cast<void*>(w) == owner) return w;
  }
  return nullptr;
}

Rect screen_rect(const QWidget* widget) {
  QRect r = widget->isWindow() ? widget->frameGeometry() : QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
  return {r.x(), r.y(), r.width(), r.height()};
}

Rect available_area(const QWidget* widget) {
  QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return {0, 0, 0, 0};
  QRect r = screen->availableGeometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void show_and_paint(QWidget* window) {
  window->show();
  window->raise();
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    QCoreApplication::processEvents(kPaintOnly);
    QWindow* handle = window->windowHandle();
    if ((handle != nullptr && handle->isExposed()) || waited.elapsed() >= 500) break;
    QThread::msleep(5);
  }
  window->repaint();
  QCoreApplication::processEvents(kPaintOnly);
}

void pause_painting(int ms) {
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < ms) {
    QCoreApplication::processEvents(kPaintOnly);
    auto left = ms - waited.elapsed();
    if (left > 0) QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, 20)));
  }
}

}  // namespace lyralink::dialogs
