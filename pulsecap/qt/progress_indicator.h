/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The recording's progress indicator: white, the percentage in blue, and
// the done part as a blue bar drawn with NOT (pen XOR screen), so that the
// text inside the bar shows inverted (white on blue).
#include <QFrame>

namespace pulsecap {

class ProgressIndicator final : public QFrame {
  Q_OBJECT
 public:
  explicit ProgressIndicator(QWidget* parent = nullptr);
  // Repaints at once, and only when the value changes.
  void set_percent(int percent);
  int percent() const { return percent_; }
  // The picture of the contents for `percent` at size (for tests and paint).
  QImage render(QSize size) const;
  int paint_count() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int percent_ = 0;
  int paints_ = 0;
};

}  // namespace pulsecap
