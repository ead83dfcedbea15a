// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/title_font.h"

namespace lyralink::setup {

TitleFontSize fit_title_font(const std::function<int(TitleFontSize)>& text_width, int window_width) {
  TitleFontSize size;
  while (text_width(size) > window_width - 50 && size.height > 2 && size.width > 1) {
    size.height -= 2;
    size.width -= 1;
  }
  return size;
}

}  // namespace lyralink::setup
