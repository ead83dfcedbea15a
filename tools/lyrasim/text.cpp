// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/text.h"

#include <cerrno>
#include <cstdlib>

namespace lyrasim {

bool parse_integer(const std::string& text, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
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
