/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Registry texts of setup scripts and logs: "Entry%u" values and the
// arguments of RegKey and RegValue actions.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace lyralink::setup {

// "HKEY_CURRENT_USER" / "HKEY_LOCAL_MACHINE" (exact) and back.
std::optional<platform::RegistryRoot> root_from_name(std::string_view name);
std::string_view root_name(platform::RegistryRoot root);

enum class EntryValueType { sz, dword, unset };

struct RegistryEntry {
  platform::RegistryRoot root;
  std::string key_path;  // levels joined by backslashes, none empty
  EntryValueType type;
  std::string name;      // value name ("" is the default value)
  std::string text;      // REG_SZ data
  uint32_t number = 0;   // REG_DW data
};

// "ROOT\key\path,REG_SZ(name,text)" | "…,REG_DW(name,number)" | "…,REG_UN(name)".
// nullopt for anything that does not parse: another root, a key path with
// an empty level, a value part without its closing ")", a missing
// name/data comma, a REG_DW number that is not an unsigned decimal of 32
// bits, a REG_UN name with a comma (its RegValue line could not be split
// back into key and name).
std::optional<RegistryEntry> parse_registry_entry(std::string_view value);

// Each level of a key path: "A", "A\B", "A\B\C".
std::vector<std::string> key_prefixes(std::string_view key_path);

struct KeyRef {
  platform::RegistryRoot root;
  std::string path;
};
// "HKEY_CURRENT_USER\Software\A" → root and "Software\A"; nullopt when the
// root is unknown or the path has an empty level.
std::optional<KeyRef> parse_key_argument(std::string_view argument);

struct ValueRef {
  platform::RegistryRoot root;
  std::string key_path;
  std::string name;
};
// "HKEY_CURRENT_USER\Software\A\B,Count": split at the last comma.
std::optional<ValueRef> parse_value_argument(std::string_view argument);

// ASCII comparison without regard to case, as key names compare.
bool same_key_path(std::string_view a, std::string_view b);

}  // namespace lyralink::setup
