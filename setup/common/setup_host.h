/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The machine as the setup programs see it: the two roots of the settings
// store and the Linux meaning of the documented folders.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "setup/common/path_macros.h"

namespace lyralink::setup {

// Keys of the settings store.
inline constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline constexpr const char* kAppPathsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
inline constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class SetupHost {
 public:
  // Opens both roots of the store (a root that cannot be opened stays
  // null: reads find nothing, writes fail).
  SetupHost();

  platform::SettingsStore* store(platform::RegistryRoot root);
  platform::SettingsStore* machine() { return store(platform::RegistryRoot::local_machine); }

  // A REG_SZ value (nullopt when missing or not a string), cut to max_length.
  std::optional<std::string> string_value(platform::RegistryRoot root, const std::string& key,
                                          const std::string& name, size_t max_length = 259);

  // $WinSysPath: /usr/local/lib for root, ~/.local/lib otherwise.
  std::string system_directory() const;
  // $WinPath: /etc.
  std::string windows_directory() const { return "/etc"; }
  // $ProgramFiles: HKLM "ProgramFilesDir" when set (it must be an existing
  // directory, else nullopt); otherwise /opt for root and ~/.local/opt for
  // everyone else (created level by level as part of the application path
  // when it does not exist yet, and removed with it again).
  std::optional<std::string> program_files();
  // The full path of program `name`: App Paths\<name> default value, else
  // the program found on PATH.
  std::optional<std::string> other_app(const std::string& name);
  // The menu folder: HKCU Shell Folders "Programs" when set, else
  // $XDG_DATA_HOME/applications.
  std::string programs_folder();

  // The macro context with these folders (application and log path unset).
  MacroContext macro_context();

 private:
  std::unique_ptr<platform::SettingsStore> machine_;
  std::unique_ptr<platform::SettingsStore> user_;
};

// The store key of an installation's uninstall entry.
std::string uninstall_key(const std::string& uninstall_name);

}  // namespace lyralink::setup
