/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A dialog template in memory, in the extended binary form that a resource
// compiler writes for a DIALOGEX resource and that the Win32 dialog manager
// reads (DialogBoxIndirectParam, CreateDialogIndirectParam). Built from a
// plain description, so that the byte layout (alignment, ordinals, UTF-16
// strings) is tested on every system, not only where the dialogs run.
//
// Style bits are the caller's (the Win32 backend passes the system's WS_,
// DS_, BS_, SS_ and LBS_ constants); only the font flag below belongs to
// the format itself.
#include <cstdint>
#include <string>
#include <vector>

#include "lyralink/dialogs/template_geometry.h"

namespace lyralink::dialogs {

// The predefined window classes, written as ordinals in a template.
inline constexpr uint16_t kButtonClass = 0x0080;
inline constexpr uint16_t kEditClass = 0x0081;
inline constexpr uint16_t kStaticClass = 0x0082;
inline constexpr uint16_t kListBoxClass = 0x0083;

// The style bit that says a font block follows the title (DS_SETFONT).
inline constexpr uint32_t kTemplateHasFont = 0x40;

// A static control without an id of its own (IDC_STATIC).
inline constexpr uint32_t kNoControlId = 0xFFFFFFFFu;

struct TemplateItem {
  uint32_t id = kNoControlId;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  Rect units;                  // dialog units
  uint16_t class_atom = 0;     // one of the predefined classes, or 0 ...
  std::string class_name;      // ... and a registered class by name
  std::string text;            // 8-bit text, each byte one character
};

struct DialogTemplate {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  Rect units;                  // position and size in dialog units
  std::string title;
  int point_size = 0;          // with `font` not empty: the font block
  std::string font;
  std::vector<TemplateItem> items;  // in tab order
};

// The template's bytes (little-endian). The dialog manager wants them on a
// 4-byte boundary, which a std::vector's own storage always is. The font
// flag is set in the style exactly when a font is named.
std::vector<uint8_t> template_bytes(const DialogTemplate& dialog);

}  // namespace lyralink::dialogs
