/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What the trace preview draws: the visible stretch of a trace and, per
// pixel column, the smallest and largest sample that falls into it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pulsecap {

struct ColumnRange {
  uint16_t low = 0;
  uint16_t high = 0;
  bool empty = true;  // no sample falls into this column (zoomed in past one sample a column)
};

// The envelope of samples [first, first + span) over `columns` columns.
// Column c covers the samples from first + c * span / columns up to the
// next column's start; when a column is narrower than one sample it takes
// the sample under it, and the columns between two samples are joined so
// the line stays continuous.
std::vector<ColumnRange> envelope(const std::vector<uint16_t>& samples, double first, double span, size_t columns);

// The visible stretch of a trace: zoom and pan, kept inside the trace.
class TraceViewport {
 public:
  explicit TraceViewport(size_t samples = 0) { reset(samples); }
  void reset(size_t samples);

  double first() const { return first_; }
  double span() const { return span_; }
  size_t samples() const { return samples_; }

  // Zooms by factor (> 1 shows less) keeping the sample under `fraction`
  // (0 left edge .. 1 right edge) where it is. The span never drops below
  // kMinSpan samples nor grows past the whole trace.
  void zoom_at(double fraction, double factor);
  // Moves the view by `samples` (positive: later samples come into view).
  void pan_by(double samples);

  static constexpr double kMinSpan = 8.0;

 private:
  void keep_inside();
  size_t samples_ = 0;
  double first_ = 0;
  double span_ = 1;
};

// "Nice" tick positions for an axis from low to high: about `wanted`
// values on steps of 1, 2 or 5 times a power of ten.
std::vector<double> axis_ticks(double low, double high, int wanted);

}  // namespace pulsecap
