// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/dialog_template.h"

namespace lyralink::dialogs {

namespace {

class Writer {
 public:
  void word(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void dword(uint32_t v) {
    word(static_cast<uint16_t>(v & 0xFFFF));
    word(static_cast<uint16_t>(v >> 16));
  }
  void coordinate(int v) { word(static_cast<uint16_t>(static_cast<int16_t>(v))); }
  void byte(uint8_t v) { bytes_.push_back(v); }
  // A zero-terminated UTF-16 string; the library's 8-bit texts map byte
  // for byte onto the first 256 code points.
  void text(const std::string& s) {
    for (char c : s) word(static_cast<uint8_t>(c));
    word(0);
  }
  // A class or menu: an ordinal (0xFFFF and the number), a name, or none.
  void ordinal_or_name(uint16_t ordinal, const std::string& name) {
    if (ordinal != 0) {
      word(0xFFFF);
      word(ordinal);
    } else {
      text(name);
    }
  }
  // Every item starts on a 4-byte boundary.
  void align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::vector<uint8_t> template_bytes(const DialogTemplate& dialog) {
  Writer w;
  const bool has_font = !dialog.font.empty();
  w.word(1);       // version of the extended form
  w.word(0xFFFF);  // its signature
  w.dword(0);      // help id
  w.dword(dialog.ex_style);
  w.dword(has_font ? dialog.style | kTemplateHasFont : dialog.style & ~kTemplateHasFont);
  w.word(static_cast<uint16_t>(dialog.items.size()));
  w.coordinate(dialog.units.x);
  w.coordinate(dialog.units.y);
  w.coordinate(dialog.units.width);
  w.coordinate(dialog.units.height);
  w.word(0);  // no menu
  w.word(0);  // the dialog class
  w.text(dialog.title);
  if (has_font) {
    w.word(static_cast<uint16_t>(dialog.point_size));
    w.word(400);  // normal weight
    w.byte(0);    // not italic
    w.byte(1);    // DEFAULT_CHARSET
    w.text(dialog.font);
  }
  for (const TemplateItem& item : dialog.items) {
    w.align();
    w.dword(0);  // help id
    w.dword(item.ex_style);
    w.dword(item.style);
    w.coordinate(item.units.x);
    w.coordinate(item.units.y);
    w.coordinate(item.units.width);
    w.coordinate(item.units.height);
    w.dword(item.id);
    w.ordinal_or_name(item.class_atom, item.class_name);
    w.text(item.text);
    w.word(0);  // no creation data
  }
  return w.take();
}

}  // namespace lyralink::dialogs
