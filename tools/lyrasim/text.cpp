// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/text.h"

#include <cctype>
#include <charconv>
#include <climits>

namespace lyrasim {

bool parse_integer(const std::string& text, long long& out) {
  // The forms of strtoll with base 0: leading white space, a sign, then
  // 0x hexadecimal, 0 octal or decimal digits up to the end of the text.
  // The magnitude is read unsigned so that a value beyond long long is told
  // from LLONG_MAX.
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  unsigned long long magnitude = 0;
  const auto [end, error] = std::from_chars(first, last, magnitude, base);
  if (error != std::errc() || end != last) return false;
  constexpr unsigned long long kMostNegative = static_cast<unsigned long long>(LLONG_MAX) + 1;
  if (negative) {
    if (magnitude > kMostNegative) return false;
    out = magnitude == kMostNegative ? LLONG_MIN : -static_cast<long long>(magnitude);
  } else {
    if (magnitude > static_cast<unsigned long long>(LLONG_MAX)) return false;
    out = static_cast<long long>(magnitude);
  }
  return true;
}

std::vector<std::string> split_fields(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    fields.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return fields;
    start = at + 1;
  }
}

Setting split_setting(const std::string& item) {
  size_t eq = item.find('=');
  if (eq == std::string::npos) return Setting{item, ""};
  return Setting{item.substr(0, eq), item.substr(eq + 1)};
}

}  // namespace lyrasim
