/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The rules of the recorder's numeric edit fields, without any window:
// which typed characters go in, how the text becomes the value, the range
// and its clamp when the field is left, and how the value is written back.
//
// The field holds the value; the control only shows it. A window attaches
// the rules to its edit control through EditControl and forwards the
// control's events (typed characters, text changes, focus lost) here.
#include <cstddef>
#include <string>

namespace pulsecap {

// What the rules need of the edit control they are attached to.
class EditControl {
 public:
  virtual ~EditControl() = default;
  virtual std::string text() const = 0;
  virtual void set_text(const std::string& text) = 0;
  virtual bool enabled() const = 0;
};

enum class TextColour { black, red };
enum class Background { window, button_face };

class NumericEditRules {
 public:
  static constexpr unsigned kMaxPrecision = 18;

  // What happens to one typed character.
  enum class CharAction {
    insert,        // pass it on to the control
    drop,          // swallow it
    enter,         // Enter: the text was read and written back; the character is dropped
    insert_point,  // a comma: insert a decimal point instead
  };

  NumericEditRules() = default;
  explicit NumericEditRules(EditControl* control) : control_(control) {}
  void attach(EditControl* control) { control_ = control; }

  // Stores the range, enforces minimum <= value <= maximum (a minimum
  // above the maximum is lowered to it), allows a minus sign exactly when
  // the minimum is below 0, and writes the value.
  void set_range(double minimum, double maximum, bool clamp_on_leave);
  // Digits after the point, at most 18; writes the value.
  void set_precision(unsigned precision);
  // Stores v moved into the range and writes it.
  void set_value(double v);

  // The most characters the control takes from the keyboard (0: no
  // limit). Text set from code is never cut by it.
  void set_length_limit(size_t limit) { length_limit_ = limit; }
  size_t length_limit() const { return length_limit_; }

  double value() const { return value_; }
  double minimum() const { return minimum_; }
  double maximum() const { return maximum_; }
  unsigned precision() const { return precision_; }
  bool clamp_on_leave() const { return clamp_; }
  bool negative_allowed() const { return negative_allowed_; }
  // minimum <= value <= maximum.
  bool is_valid() const;

  // A typed character, with the control's text, the selected text and
  // where the selection starts (a character position), before the
  // character is inserted. Enter (13) reads the text and writes the value
  // at once.
  CharAction on_char(char32_t ch, const std::string& text, const std::string& selected, size_t selection_start);

  // The control's text changed (typed or set): while the control is
  // enabled the value follows it, without a range check.
  void on_text_changed();
  // Colours for the control as it is now.
  TextColour text_colour() const;
  Background background() const;

  // The field lost the focus: reads the text, clamps it when the clamp is
  // on, and rewrites the text in its normalised form if it differs.
  void on_focus_lost();

  // The value formatted with p decimals ("%1.0f" ... "%19.18f"), with a
  // point whatever the process locale is.
  static std::string format(double value, unsigned precision);
  // The leading decimal number of the text (rest ignored); 0 when there
  // is none, as for an empty text.
  static double parse(const std::string& text);

 private:
  void write_value();
  void keep_invariants();

  EditControl* control_ = nullptr;
  bool clamp_ = false;
  bool negative_allowed_ = false;
  double minimum_ = 0.0;
  double maximum_ = 1000.0;
  double value_ = 500.0;
  unsigned precision_ = 2;
  size_t length_limit_ = 0;
};

}  // namespace pulsecap
