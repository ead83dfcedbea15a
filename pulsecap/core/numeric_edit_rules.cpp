// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/numeric_edit_rules.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace pulsecap {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string NumericEditRules::format(double value, unsigned precision) {
  precision = std::min(precision, kMaxPrecision);
  // "%W.Pf" with W = P + 1 never pads: a number with P decimals has at
  // least P + 2 characters (one digit and the point), and P = 0 at least
  // one. to_chars rounds exactly as printf does but ignores the locale,
  // which a Qt program sets from the environment (a German desktop would
  // otherwise get a comma that the field then refuses to read).
  std::array<char, 400> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed,
                         static_cast<int>(precision));
  if (r.ec != std::errc()) return "0";
  return std::string(buf.data(), r.ptr);
}

double NumericEditRules::parse(const std::string& text) {
  // The leading number as the C runtime's atof reads it: blanks, a sign,
  // digits with an optional point, an optional exponent. Infinities, NaN
  // and hexadecimal forms are not numbers here.
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t start = i;
  size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && is_digit(text[j])) {
      while (j < text.size() && is_digit(text[j])) ++j;
      end = j;
    }
  }
  double v = 0.0;
  auto r = std::from_chars(text.data() + start, text.data() + end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Beyond what a double holds: the nearest it can say (a large negative
    // exponent gives 0, a large positive one the largest double).
    const std::string exponent = text.substr(start, end - start);
    v = exponent.find("e-") != std::string::npos || exponent.find("E-") != std::string::npos ? 0.0 : HUGE_VAL;
  } else if (r.ec != std::errc()) {
    return 0.0;
  }
  if (!std::isfinite(v)) v = 1.7976931348623157e308;
  return negative ? -v : v;
}

void NumericEditRules::keep_invariants() {
  if (std::isnan(minimum_)) minimum_ = 0.0;
  if (std::isnan(maximum_)) maximum_ = minimum_;
  if (minimum_ > maximum_) minimum_ = maximum_;
  if (std::isnan(value_)) value_ = minimum_;
  value_ = std::clamp(value_, minimum_, maximum_);
  precision_ = std::min(precision_, kMaxPrecision);
}

void NumericEditRules::write_value() {
  if (control_ != nullptr) control_->set_text(format(value_, precision_));
}

void NumericEditRules::set_range(double minimum, double maximum, bool clamp_on_leave) {
  minimum_ = minimum;
  maximum_ = maximum;
  clamp_ = clamp_on_leave;
  keep_invariants();
  negative_allowed_ = minimum_ < 0.0;
  write_value();
}

void NumericEditRules::set_precision(unsigned precision) {
  precision_ = std::min(precision, kMaxPrecision);
  write_value();
}

void NumericEditRules::set_value(double v) {
  value_ = v;
  keep_invariants();
  write_value();
}

bool NumericEditRules::is_valid() const { return minimum_ <= value_ && value_ <= maximum_; }

NumericEditRules::CharAction NumericEditRules::on_char(char32_t ch, const std::string& text,
                                                        const std::string& selected, size_t selection_start) {
  if (ch == 13) {
    value_ = parse(text);
    write_value();
    return CharAction::enter;
  }
  if (ch == ',') {
    // Re-sent as a point, which then meets the point's own rule.
    return on_char('.', text, selected, selection_start) == CharAction::insert ? CharAction::insert_point
                                                                                 : CharAction::drop;
  }
  if (ch == 8) return CharAction::insert;
  // The control's own length limit: a character that would make the text
  // longer than it is dropped.
  if (length_limit_ != 0 && text.size() - std::min(selected.size(), text.size()) >= length_limit_) {
    return CharAction::drop;
  }
  if (ch >= '0' && ch <= '9') return CharAction::insert;
  if (ch == '-') {
    bool ok = selection_start == 0 && negative_allowed_ &&
              (text.find('-') == std::string::npos || selected.find('-') != std::string::npos);
    return ok ? CharAction::insert : CharAction::drop;
  }
  if (ch == '.') {
    bool ok = precision_ > 0 && (text.find('.') == std::string::npos || selected.find('.') != std::string::npos);
    return ok ? CharAction::insert : CharAction::drop;
  }
  return CharAction::drop;
}

void NumericEditRules::on_text_changed() {
  if (control_ != nullptr && control_->enabled()) value_ = parse(control_->text());
}

TextColour NumericEditRules::text_colour() const {
  return value_ < minimum_ || value_ > maximum_ ? TextColour::red : TextColour::black;
}

Background NumericEditRules::background() const {
  return control_ == nullptr || control_->enabled() ? Background::window : Background::button_face;
}

void NumericEditRules::on_focus_lost() {
  if (control_ == nullptr) return;
  const std::string shown = control_->text();
  // An empty field counts as "0".
  value_ = parse(shown.empty() ? std::string("0") : shown);
  std::string formatted;
  if (clamp_ && (value_ > maximum_ || value_ < minimum_)) {
    value_ = value_ > maximum_ ? maximum_ : minimum_;
    formatted = format(value_, precision_);
    value_ = parse(formatted);
    // Rounding to p decimals can carry the bound back out of the range
    // (0.12345 at 4 decimals is 0.1235): step one last digit inwards.
    const double step = std::pow(10.0, -static_cast<double>(precision_));
    if (value_ > maximum_) {
      value_ -= step;
      formatted = format(value_, precision_);
    } else if (value_ < minimum_) {
      value_ += step;
      formatted = format(value_, precision_);
    }
  } else {
    formatted = format(value_, precision_);
  }
  if (formatted != shown) control_->set_text(formatted);
}

}  // namespace pulsecap
