/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The trace preview: a window that draws a saved trace as a min/max
// envelope per pixel column, with the time axis in seconds and the value
// axis in ADC codes. The mouse wheel zooms around the pointer, dragging
// pans, a double click shows the whole trace again.
#include <QWidget>

#include "pulsecap/core/envelope.h"
#include "pulsecap/core/trace_reader.h"

namespace pulsecap {

class TracePreview final : public QWidget {
  Q_OBJECT
 public:
  explicit TracePreview(QWidget* parent = nullptr);

  // Reads the trace at path; rate (samples per second) is used when the
  // file does not carry one (a text trace), 0 for unknown. False with
  // *error when the file cannot be read.
  bool load(const std::string& path, uint32_t rate, std::string* error);

  const Trace& trace() const { return trace_; }
  const TraceViewport& viewport() const { return view_; }
  QRect plot_area() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Trace trace_;
  TraceViewport view_;
  uint32_t rate_ = 0;
  uint16_t low_ = 0, high_ = 16383;
  QString file_name_;
  bool dragging_ = false;
  double drag_x_ = 0;
};

}  // namespace pulsecap
