// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/ip_address_model.h"

#include <algorithm>

namespace lyralink::dialogs {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of a field of digits; at most three digits, so no overflow.
unsigned field_value(const std::string& digits) {
  unsigned v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

unsigned in_range(unsigned v, const IpAddressModel::Range& r) { return std::clamp(v, r.low, r.high); }

}  // namespace

void IpAddressModel::set_range(int field, unsigned low, unsigned high) {
  if (field < 0 || field >= kFields || low > high) return;
  ranges_[static_cast<size_t>(field)] = {low, std::min(high, 255u)};
  commit(field);
}

void IpAddressModel::set_text(std::string_view text) {
  fields_ = {};
  size_t field = 0;
  std::string part;
  bool numeric = true;
  auto flush = [&] {
    if (field < fields_.size() && !part.empty() && numeric && part.size() <= kDigits) fields_[field] = part;
    part.clear();
    numeric = true;
    ++field;
  };
  for (char c : text) {
    if (c == '.') {
      flush();
    } else {
      if (!is_digit(c)) numeric = false;
      part.push_back(c);
    }
  }
  flush();
  for (int i = 0; i < kFields; ++i) commit(i);
  current_ = 0;
  caret_ = 0;
  selected_ = false;
}

bool IpAddressModel::blank() const {
  return std::all_of(fields_.begin(), fields_.end(), [](const std::string& f) { return f.empty(); });
}

std::array<unsigned, IpAddressModel::kFields> IpAddressModel::values() const {
  std::array<unsigned, kFields> v{};
  for (size_t i = 0; i < v.size(); ++i) {
    v[i] = fields_[i].empty() ? 0 : in_range(field_value(fields_[i]), ranges_[i]);
  }
  return v;
}

std::string IpAddressModel::text() const {
  auto v = values();
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

void IpAddressModel::commit(int field) {
  std::string& f = fields_[static_cast<size_t>(field)];
  if (f.empty()) return;
  f = std::to_string(in_range(field_value(f), ranges_[static_cast<size_t>(field)]));
}

void IpAddressModel::enter_field(int field, bool select_all) {
  field = std::clamp(field, 0, kFields - 1);
  if (field != current_) commit(current_);
  current_ = field;
  caret_ = fields_[static_cast<size_t>(field)].size();
  selected_ = select_all && !fields_[static_cast<size_t>(field)].empty();
}

void IpAddressModel::leave() {
  commit(current_);
  caret_ = std::min(caret_, fields_[static_cast<size_t>(current_)].size());
  selected_ = false;
}

bool IpAddressModel::type(char c) {
  std::string& f = fields_[static_cast<size_t>(current_)];
  if (c == '.') {
    // In an empty field the dot is the one that follows a third digit,
    // which has moved on already; it must not skip a field.
    if (!f.empty() && current_ + 1 < kFields) enter_field(current_ + 1, true);
    return true;
  }
  if (!is_digit(c)) return false;
  if (selected_) {
    f.clear();
    caret_ = 0;
    selected_ = false;
  }
  if (f.size() >= kDigits) {
    // A full field: the digit starts the next one, as if the move had
    // happened with the third digit (the caret was put back by hand).
    if (caret_ < f.size() || current_ + 1 >= kFields) return true;
    enter_field(current_ + 1, true);
    return type(c);
  }
  f.insert(caret_, 1, c);
  ++caret_;
  if (f.size() == kDigits && caret_ == kDigits && current_ + 1 < kFields) enter_field(current_ + 1, true);
  return true;
}

void IpAddressModel::backspace() {
  std::string& f = fields_[static_cast<size_t>(current_)];
  if (selected_) {
    f.clear();
    caret_ = 0;
    selected_ = false;
    return;
  }
  if (caret_ > 0) {
    f.erase(caret_ - 1, 1);
    --caret_;
    return;
  }
  if (current_ > 0) enter_field(current_ - 1, false);
}

void IpAddressModel::erase_forward() {
  std::string& f = fields_[static_cast<size_t>(current_)];
  if (selected_) {
    f.clear();
    caret_ = 0;
    selected_ = false;
    return;
  }
  if (caret_ < f.size()) f.erase(caret_, 1);
}

void IpAddressModel::move_left() {
  if (selected_) {
    selected_ = false;
    caret_ = 0;
    return;
  }
  if (caret_ > 0) {
    --caret_;
  } else if (current_ > 0) {
    enter_field(current_ - 1, false);
  }
}

void IpAddressModel::move_right() {
  const std::string& f = fields_[static_cast<size_t>(current_)];
  if (selected_) {
    selected_ = false;
    caret_ = f.size();
    return;
  }
  if (caret_ < f.size()) {
    ++caret_;
  } else if (current_ + 1 < kFields) {
    enter_field(current_ + 1, false);
    caret_ = 0;
  }
}

void IpAddressModel::home() {
  enter_field(0, false);
  caret_ = 0;
}

void IpAddressModel::end() { enter_field(kFields - 1, false); }

void IpAddressModel::paste(std::string_view text) {
  if (text.find('.') != std::string_view::npos) {
    set_text(text);
    end();
    return;
  }
  for (char c : text) type(c);
}

}  // namespace lyralink::dialogs
