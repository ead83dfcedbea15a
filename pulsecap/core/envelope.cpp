// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/envelope.h"

#include <algorithm>
#include <cmath>

namespace pulsecap {

std::vector<ColumnRange> envelope(const std::vector<uint16_t>& samples, double first, double span, size_t columns) {
  std::vector<ColumnRange> out(columns);
  if (columns == 0 || samples.empty() || span <= 0) return out;
  const double per_column = span / static_cast<double>(columns);
  const auto n = static_cast<double>(samples.size());
  for (size_t c = 0; c < columns; ++c) {
    double from = first + per_column * static_cast<double>(c);
    double to = from + per_column;
    if (from >= n || to <= 0) continue;
    auto lo = static_cast<size_t>(std::max(0.0, std::floor(from)));
    auto hi = static_cast<size_t>(std::min(n, std::ceil(to)));
    if (hi <= lo) hi = lo + 1;
    // Join to the previous column's last sample so that a steep edge is
    // drawn as a line and not as separate dots.
    if (c > 0 && lo > 0 && per_column < 1.0) --lo;
    ColumnRange& r = out[c];
    auto [mn, mx] = std::minmax_element(samples.begin() + static_cast<std::ptrdiff_t>(lo),
                                        samples.begin() + static_cast<std::ptrdiff_t>(std::min(hi, samples.size())));
    r.low = *mn;
    r.high = *mx;
    r.empty = false;
  }
  return out;
}

void TraceViewport::reset(size_t samples) {
  samples_ = samples;
  first_ = 0;
  span_ = std::max<double>(static_cast<double>(samples), 1.0);
}

void TraceViewport::keep_inside() {
  const double total = std::max<double>(static_cast<double>(samples_), 1.0);
  span_ = std::clamp(span_, std::min(kMinSpan, total), total);
  first_ = std::clamp(first_, 0.0, total - span_);
}

void TraceViewport::zoom_at(double fraction, double factor) {
  if (!(factor > 0) || !std::isfinite(factor)) return;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const double anchor = first_ + fraction * span_;
  span_ /= factor;
  keep_inside();
  first_ = anchor - fraction * span_;
  keep_inside();
}

void TraceViewport::pan_by(double samples) {
  if (!std::isfinite(samples)) return;
  first_ += samples;
  keep_inside();
}

std::vector<double> axis_ticks(double low, double high, int wanted) {
  std::vector<double> ticks;
  if (!(high > low) || wanted < 1) return ticks;
  const double raw = (high - low) / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  for (double v = std::ceil(low / step) * step; v <= high + step * 1e-9; v += step) {
    ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    if (ticks.size() > 1000) break;
  }
  return ticks;
}

}  // namespace pulsecap
