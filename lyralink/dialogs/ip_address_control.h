/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The IP-address control: one tab stop with four fields, drawn like the
// desktop's edit fields; the editing rules are IpAddressModel's.
#include <QBasicTimer>
#include <QWidget>
#include <string>

#include "lyralink/dialogs/ip_address_model.h"

namespace lyralink::dialogs {

class IpAddressControl : public QWidget {
 public:
  IpAddressControl(QWidget* parent, const char* id);

  IpAddressModel& model() { return model_; }
  const IpAddressModel& model() const { return model_; }
  void set_text(const std::string& text);
  // "%u.%u.%u.%u", blank fields as 0.
  std::string text() const { return model_.text(); }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // The rectangle of a field's text, in widget coordinates.
  QRect field_rect(int field) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QRect contents_rect() const;
  void restart_caret();
  IpAddressModel model_;
  QBasicTimer blink_;
  bool caret_shown_ = true;
};

}  // namespace lyralink::dialogs
