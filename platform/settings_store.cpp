// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings store's plain parts, shared by every backend: value
// encoding and key paths.
#include "platform/settings_store.h"

namespace lyralink::platform {

RegistryValue RegistryValue::string(std::string name, std::string text) {
  return RegistryValue{std::move(name), RegistryType::sz, std::move(text)};
}

RegistryValue RegistryValue::dword(std::string name, uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return RegistryValue{std::move(name), RegistryType::dword, std::move(data)};
}

uint32_t RegistryValue::as_dword() const {
  if (data.size() != 4) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data[static_cast<size_t>(i)]);
  return v;
}

std::optional<std::vector<std::string>> split_key_path(std::string_view key) {
  std::vector<std::string> levels;
  if (key.empty()) return levels;
  size_t start = 0;
  while (true) {
    size_t end = key.find('\\', start);
    std::string_view level = key.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // A zero byte would end a backend's name comparison early (SQLite's
    // case-blind one, the registry's C strings), making two names one.
    if (level.empty() || level.find('\0') != std::string_view::npos) return std::nullopt;
    levels.emplace_back(level);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return levels;
}

}  // namespace lyralink::platform
