// PLACEHOLDER: replaced by the win-net branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// The registry is not yet used on Windows: no store opens.
#include "platform/settings_store.h"

namespace lyralink::platform {

std::unique_ptr<SettingsStore> SettingsStore::open(RegistryRoot, std::string* error) {
  if (error != nullptr) *error = "the registry is not supported yet";
  return nullptr;
}

std::unique_ptr<SettingsStore> SettingsStore::open_file(const std::string& path, std::string* error) {
  if (error != nullptr) *error = "cannot open " + path + ": not supported";
  return nullptr;
}

std::string SettingsStore::store_file_path(RegistryRoot root) {
  return root == RegistryRoot::current_user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

}  // namespace lyralink::platform
