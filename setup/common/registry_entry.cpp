// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/registry_entry.h"

#include <utility>

#include "setup/common/setup_script.h"

namespace lyralink::setup {

using platform::RegistryRoot;

std::optional<RegistryRoot> root_from_name(std::string_view name) {
  if (name == "HKEY_CURRENT_USER") return RegistryRoot::current_user;
  if (name == "HKEY_LOCAL_MACHINE") return RegistryRoot::local_machine;
  return std::nullopt;
}

std::string_view root_name(RegistryRoot root) {
  return root == RegistryRoot::current_user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

namespace {

bool valid_key_path(std::string_view path) {
  auto levels = platform::split_key_path(path);
  return levels && !levels->empty();
}

std::optional<uint32_t> decimal_u32(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

}  // namespace

std::optional<RegistryEntry> parse_registry_entry(std::string_view value) {
  // No root name holds a comma: the first one ends the key.
  size_t comma = value.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  auto key = parse_key_argument(value.substr(0, comma));
  if (!key) return std::nullopt;
  std::string_view part = value.substr(comma + 1);
  size_t close = part.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;

  RegistryEntry entry{key->root, std::move(key->path), EntryValueType::unset, {}, {}, 0};
  constexpr size_t kHead = 7;  // "REG_xx("
  std::string_view head = part.substr(0, kHead);
  if (close < kHead) return std::nullopt;
  std::string_view inner = part.substr(kHead, close - kHead);
  if (head == "REG_UN(") {
    if (inner.find(',') != std::string_view::npos) return std::nullopt;
    entry.name = std::string(inner);
    return entry;
  }
  if (head != "REG_SZ(" && head != "REG_DW(") return std::nullopt;
  size_t sep = inner.find(',');
  if (sep == std::string_view::npos) return std::nullopt;
  entry.name = std::string(inner.substr(0, sep));
  std::string_view data = inner.substr(sep + 1);
  if (head == "REG_SZ(") {
    entry.type = EntryValueType::sz;
    entry.text = std::string(data);
  } else {
    auto n = decimal_u32(data);
    if (!n) return std::nullopt;
    entry.type = EntryValueType::dword;
    entry.number = *n;
  }
  return entry;
}

std::vector<std::string> key_prefixes(std::string_view key_path) {
  std::vector<std::string> prefixes;
  size_t pos = 0;
  for (;;) {
    size_t slash = key_path.find('\\', pos);
    if (slash == std::string_view::npos) break;
    prefixes.emplace_back(key_path.substr(0, slash));
    pos = slash + 1;
  }
  prefixes.emplace_back(key_path);
  return prefixes;
}

std::optional<KeyRef> parse_key_argument(std::string_view argument) {
  size_t slash = argument.find('\\');
  if (slash == std::string_view::npos) return std::nullopt;
  auto root = root_from_name(argument.substr(0, slash));
  std::string_view path = argument.substr(slash + 1);
  if (!root || !valid_key_path(path)) return std::nullopt;
  return KeyRef{*root, std::string(path)};
}

std::optional<ValueRef> parse_value_argument(std::string_view argument) {
  size_t comma = argument.rfind(',');
  if (comma == std::string_view::npos) return std::nullopt;
  auto key = parse_key_argument(argument.substr(0, comma));
  if (!key) return std::nullopt;
  return ValueRef{key->root, key->path, std::string(argument.substr(comma + 1))};
}

bool same_key_path(std::string_view a, std::string_view b) { return same_ignoring_case(a, b); }

}  // namespace lyralink::setup
