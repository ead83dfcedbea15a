// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/ip_address_control.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include "lyralink/dialogs/qt_support.h"

namespace lyralink::dialogs {

namespace {

QStyleOptionFrame frame_option(const QWidget* w) {
  QStyleOptionFrame option;
  option.initFrom(w);
  option.lineWidth = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, w);
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  return option;
}

}  // namespace

IpAddressControl::IpAddressControl(QWidget* parent, const char* id) : QWidget(parent) {
  setObjectName(QString::fromLatin1(id));
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setCursor(Qt::IBeamCursor);
  setProperty("lyralink_fit", true);
  setBackgroundRole(QPalette::Base);
}

void IpAddressControl::set_text(const std::string& text) {
  model_.set_text(text);
  update();
}

QSize IpAddressControl::sizeHint() const {
  QFontMetrics metrics(font());
  int w = 4 * metrics.horizontalAdvance(QStringLiteral("000")) + 3 * metrics.horizontalAdvance(QStringLiteral(" . ")) + 8;
  int h = std::max(metrics.height(), 14) + 2;
  QStyleOptionFrame option = frame_option(this);
  return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(w, h), this);
}

QSize IpAddressControl::minimumSizeHint() const { return sizeHint(); }

QRect IpAddressControl::contents_rect() const {
  QStyleOptionFrame option = frame_option(this);
  option.rect = rect();
  return style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
}

QRect IpAddressControl::field_rect(int field) const {
  QRect area = contents_rect();
  int dot = QFontMetrics(font()).horizontalAdvance(QLatin1Char('.'));
  int cell = (area.width() - 3 * dot) / IpAddressModel::kFields;
  return {area.left() + field * (cell + dot), area.top(), cell, area.height()};
}

void IpAddressControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionFrame option = frame_option(this);
  option.rect = rect();
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
  const bool enabled = isEnabled();
  const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
  const QFontMetrics metrics(font());
  for (int i = 0; i < IpAddressModel::kFields; ++i) {
    QRect cell = field_rect(i);
    QString text = QString::fromStdString(model_.field_text(i));
    int width = metrics.horizontalAdvance(text);
    int left = cell.left() + (cell.width() - width) / 2;
    QRect text_rect(left, cell.top(), width, cell.height());
    bool current = hasFocus() && enabled && i == model_.current_field();
    if (current && model_.field_selected() && !text.isEmpty()) {
      painter.fillRect(text_rect, palette().color(group, QPalette::Highlight));
      painter.setPen(palette().color(group, QPalette::HighlightedText));
    } else {
      painter.setPen(palette().color(group, QPalette::Text));
    }
    painter.drawText(text_rect, Qt::AlignLeft | Qt::AlignVCenter, text);
    if (i + 1 < IpAddressModel::kFields) {
      painter.setPen(palette().color(group, QPalette::Text));
      painter.drawText(QRect(cell.right() + 1, cell.top(), metrics.horizontalAdvance(QLatin1Char('.')), cell.height()),
                       Qt::AlignCenter, QStringLiteral("."));
    }
    if (current && !model_.field_selected() && caret_shown_) {
      int x = left + metrics.horizontalAdvance(text.left(static_cast<qsizetype>(model_.caret())));
      int top = cell.top() + (cell.height() - metrics.height()) / 2;
      painter.fillRect(QRect(x, top, 1, metrics.height()), palette().color(group, QPalette::Text));
    }
  }
}

void IpAddressControl::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    model_.paste(to_8bit(QApplication::clipboard()->text()));
  } else {
    switch (event->key()) {
      case Qt::Key_Backspace: model_.backspace(); break;
      case Qt::Key_Delete: model_.erase_forward(); break;
      case Qt::Key_Left: model_.move_left(); break;
      case Qt::Key_Right: model_.move_right(); break;
      case Qt::Key_Home: model_.home(); break;
      case Qt::Key_End: model_.end(); break;
      default: {
        const QString text = event->text();
        bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                         (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
        if (!printable) {
          // Tab, Enter, Escape and the rest belong to the dialog.
          QWidget::keyPressEvent(event);
          return;
        }
        for (QChar c : text) model_.type(c.toLatin1());
      }
    }
  }
  event->accept();
  restart_caret();
}

void IpAddressControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) {
    QWidget::mousePressEvent(event);
    return;
  }
  int field = 0;
  for (int i = 0; i < IpAddressModel::kFields; ++i)
    if (event->position().x() >= field_rect(i).left()) field = i;
  setFocus(Qt::MouseFocusReason);
  model_.enter_field(field, false);
  restart_caret();
}

void IpAddressControl::focusInEvent(QFocusEvent* event) {
  // A click places the caret itself; any other way in starts at the
  // first field with its text selected.
  if (event->reason() != Qt::MouseFocusReason) model_.enter_field(0, true);
  restart_caret();
  QWidget::focusInEvent(event);
}

void IpAddressControl::focusOutEvent(QFocusEvent* event) {
  model_.leave();
  blink_.stop();
  update();
  QWidget::focusOutEvent(event);
}

void IpAddressControl::timerEvent(QTimerEvent* event) {
  if (event->timerId() != blink_.timerId()) {
    QWidget::timerEvent(event);
    return;
  }
  caret_shown_ = !caret_shown_;
  update();
}

void IpAddressControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange) update();
  QWidget::changeEvent(event);
}

void IpAddressControl::restart_caret() {
  caret_shown_ = true;
  int flash = QApplication::cursorFlashTime();
  if (hasFocus() && flash > 0) {
    blink_.start(flash / 2, this);
  } else {
    blink_.stop();
  }
  update();
}

}  // namespace lyralink::dialogs
