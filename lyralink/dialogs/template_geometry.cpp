// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/template_geometry.h"

#include <algorithm>
#include <cmath>

namespace lyralink::dialogs {

namespace {

int to_pixels(int units, double unit) { return static_cast<int>(std::lround(units * unit)); }

}  // namespace

BaseUnits base_units(int sample_width, int char_height) {
  // Mean of 52 letters, rounded: (w / 26 + 1) / 2.
  return {(sample_width / 26 + 1) / 2, char_height};
}

TemplateLayout lay_out_template(Size size_units, BaseUnits units, const std::vector<TemplateControl>& controls) {
  TemplateLayout layout;
  double unit_x = units.x / 4.0;
  const double unit_y = units.y / 8.0;
  // One pixel more than the text needs covers the rounding of both edges.
  for (const auto& c : controls) {
    if (c.min_width > 0 && c.units.width > 0) unit_x = std::max(unit_x, (c.min_width + 1.0) / c.units.width);
  }
  layout.unit_x = unit_x;
  layout.unit_y = unit_y;

  // Controls in order of their top edge; each one's shift is the largest
  // end shift of the controls that end above it.
  std::vector<size_t> order(controls.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return controls[a].units.y < controls[b].units.y; });
  struct Done {
    int bottom_units;
    int end_shift;
  };
  std::vector<Done> done;
  auto shift_at = [&](int y_units) {
    int s = 0;
    for (const auto& d : done)
      if (d.bottom_units <= y_units) s = std::max(s, d.end_shift);
    return s;
  };
  layout.controls.resize(controls.size());
  for (size_t i : order) {
    const auto& c = controls[i];
    Rect r;
    r.x = to_pixels(c.units.x, unit_x);
    r.width = to_pixels(c.units.right(), unit_x) - r.x;
    int top = to_pixels(c.units.y, unit_y);
    int height = to_pixels(c.units.bottom(), unit_y) - top;
    int shift = shift_at(c.units.y);
    int needed = std::max(height, c.min_height);
    if (c.height_for_width) needed = std::max(needed, c.height_for_width(r.width));
    r.y = top + shift;
    r.height = needed;
    layout.controls[i] = r;
    done.push_back({c.units.bottom(), shift + needed - height});
  }
  layout.size.width = to_pixels(size_units.width, unit_x);
  layout.size.height = to_pixels(size_units.height, unit_y) + shift_at(size_units.height);
  return layout;
}

std::vector<int> tab_columns(const std::vector<std::vector<int>>& segment_widths, const std::vector<int>& stops,
                             int gap, int default_spacing) {
  size_t columns = 1;
  for (const auto& line : segment_widths) columns = std::max(columns, line.size());
  auto stop = [&](size_t k) -> int {  // the k-th tab stop, k >= 1
    if (k <= stops.size()) return stops[k - 1];
    int spacing = stops.size() >= 2 ? stops.back() - stops[stops.size() - 2] : default_spacing;
    int last = stops.empty() ? 0 : stops.back();
    return last + static_cast<int>(k - stops.size()) * std::max(spacing, 1);
  };
  std::vector<int> x(columns, 0);
  for (size_t k = 1; k < columns; ++k) {
    int reach = 0;
    for (const auto& line : segment_widths)
      if (k - 1 < line.size()) reach = std::max(reach, x[k - 1] + line[k - 1] + gap);
    x[k] = std::max(stop(k), reach);
  }
  return x;
}

std::vector<std::string> tab_segments(const std::string& text) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == '\t') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

Point centre_over(const Rect& parent, Size own) {
  return {(parent.x + parent.right() - own.width) / 2, (parent.y + parent.bottom() - own.height) / 2};
}

Point centre_on_screen(const Rect& available, Size own) {
  return {available.x + (available.width - own.width) / 2, available.y + (available.height - own.height) / 2};
}

Point splash_position(const Rect& available) {
  return {available.x + available.width / 2 - kSplashSize.width / 2, available.y + available.height / 2 - kSplashSize.height / 2};
}

}  // namespace lyralink::dialogs
