/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The IP-address control's editing rules: four fields of up to three
// digits. Typing a third digit or "." moves on to the next field;
// Backspace at the start of a field (an empty one included) goes back to
// the previous one; the arrow keys cross from field to field. A field's
// value is brought into its range when the field is left, and whenever
// the address is read, so the control never hands out a field above 255.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace lyralink::dialogs {

class IpAddressModel {
 public:
  static constexpr int kFields = 4;
  static constexpr size_t kDigits = 3;

  struct Range {
    unsigned low = 0;
    unsigned high = 255;
  };

  // Limits one field (the selection dialog limits the fourth to 1..254).
  void set_range(int field, unsigned low, unsigned high);

  // "a.b.c.d"; missing or non-numeric fields stay blank, values are brought
  // into range; an empty text blanks every field. The caret goes to the
  // start of the first field.
  void set_text(std::string_view text);
  void clear() { set_text(""); }

  bool blank() const;
  // Blank fields read as 0, the others in their range.
  std::array<unsigned, kFields> values() const;
  // "%u.%u.%u.%u" of values().
  std::string text() const;

  const std::string& field_text(int field) const { return fields_.at(static_cast<size_t>(field)); }
  int current_field() const { return current_; }
  size_t caret() const { return caret_; }
  // The whole text of the current field is selected: typing replaces it.
  bool field_selected() const { return selected_; }

  // Puts the caret into `field` (at its end), leaving the current field.
  // `select_all`: as when the field is entered by Tab, a click or ".".
  void enter_field(int field, bool select_all);
  // The control loses the keyboard focus: the current field is left.
  void leave();

  // Editing keys. type() takes a digit or "." and returns false for any
  // other character (which the control then ignores).
  bool type(char c);
  void backspace();
  void erase_forward();
  void move_left();
  void move_right();
  void home();
  void end();
  // Pasted text: a dotted address replaces the whole address, anything
  // else is typed character by character.
  void paste(std::string_view text);

 private:
  void commit(int field);
  std::array<std::string, kFields> fields_{};
  std::array<Range, kFields> ranges_{};
  int current_ = 0;
  size_t caret_ = 0;
  bool selected_ = false;
};

}  // namespace lyralink::dialogs
