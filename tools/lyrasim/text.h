/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Small text helpers for the emulator's option and rule syntax.
#include <string>
#include <vector>

namespace lyrasim {

// A whole decimal, 0x-hexadecimal or negative number; false for anything else.
bool parse_integer(const std::string& text, long long& out);

// "a,b,,c" -> {"a", "b", "", "c"}; an empty text gives one empty field.
std::vector<std::string> split_fields(const std::string& text, char separator);

// "key=value" -> {"key", "value"}; without '=' the value is empty.
struct Setting {
  std::string key;
  std::string value;
};
Setting split_setting(const std::string& item);

}  // namespace lyrasim
