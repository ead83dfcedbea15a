// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/setup_host.h"

#include "platform/file_system.h"
#include "platform/shell_folders.h"
#include "setup/common/setup_script.h"

namespace lyralink::setup {

using platform::RegistryRoot;
using platform::RegistryType;

SetupHost::SetupHost()
    : machine_(platform::SettingsStore::open(RegistryRoot::local_machine)),
      user_(platform::SettingsStore::open(RegistryRoot::current_user)) {}

platform::SettingsStore* SetupHost::store(RegistryRoot root) {
  return root == RegistryRoot::local_machine ? machine_.get() : user_.get();
}

std::optional<std::string> SetupHost::string_value(RegistryRoot root, const std::string& key,
                                                   const std::string& name, size_t max_length) {
  auto* s = store(root);
  if (s == nullptr) return std::nullopt;
  auto v = s->get_value(key, name);
  if (!v || v->type != RegistryType::sz) return std::nullopt;
  std::string text = v->data;
  // A string written by another tool may carry its terminating NUL.
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return cut_text(text, max_length);
}

std::string SetupHost::system_directory() const {
  if (platform::running_as_superuser()) return "/usr/local/lib";
  return platform::home_directory() + "/.local/lib";
}

std::optional<std::string> SetupHost::program_files() {
  if (auto dir = string_value(RegistryRoot::local_machine, kCurrentVersionKey, "ProgramFilesDir");
      dir && !dir->empty()) {
    if ((*dir)[0] != '/' || !platform::is_directory(*dir)) return std::nullopt;
    return *dir;
  }
  if (platform::running_as_superuser()) return std::string("/opt");
  std::string home = platform::home_directory();
  return (home == "/" ? std::string() : home) + "/.local/opt";
}

std::optional<std::string> SetupHost::other_app(const std::string& name) {
  if (auto path = string_value(RegistryRoot::local_machine, std::string(kAppPathsKey) + "\\" + name, "")) {
    return *path;
  }
  return platform::find_program_on_path(name);
}

std::string SetupHost::programs_folder() {
  auto folder = string_value(RegistryRoot::current_user, kShellFoldersKey, "Programs");
  if (folder && !folder->empty() && (*folder)[0] == '/') return *folder;
  return platform::xdg_data_home() + "/applications";
}

MacroContext SetupHost::macro_context() {
  MacroContext context;
  context.system_directory = system_directory();
  context.windows_directory = windows_directory();
  context.other_app = [this](const std::string& name) { return other_app(name); };
  context.program_files = program_files();
  return context;
}

std::string uninstall_key(const std::string& uninstall_name) {
  return std::string(kUninstallKey) + "\\" + uninstall_name;
}

}  // namespace lyralink::setup
