/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The size of the background window's title font: Arial bold italic,
// height 100 and width 50, made 2 lower and 1 narrower per step until the
// text fits into the window width less 50 pixels.
#include <functional>

namespace lyralink::setup {

struct TitleFontSize {
  int height = 100;
  int width = 50;
};

// text_width(size): the display text's width in pixels with that font.
// Stops at the smallest size that still has a height and a width.
TitleFontSize fit_title_font(const std::function<int(TitleFontSize)>& text_width, int window_width);

}  // namespace lyralink::setup
