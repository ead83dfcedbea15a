// SPDX-License-Identifier: LGPL-2.1-or-later
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/environment.h"
#include "platform/shell_folders.h"

namespace lyralink::platform {

std::string home_directory() {
  if (auto home = environment_value("HOME"); home && !home->empty()) return *home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

std::string xdg_data_home() {
  if (auto dir = environment_value("XDG_DATA_HOME"); dir && !dir->empty() && (*dir)[0] == '/') return *dir;
  std::string home = home_directory();
  return (home == "/" ? std::string() : home) + "/.local/share";
}

std::string temporary_directory() {
  if (auto dir = environment_value("TMPDIR"); dir && !dir->empty() && (*dir)[0] == '/') return *dir;
  return "/tmp";
}

bool running_as_superuser() { return ::geteuid() == 0; }

UserId current_user_id() { return static_cast<UserId>(::geteuid()); }

std::string own_executable_path() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  return std::string(path, static_cast<size_t>(n));
}

std::optional<std::string> find_program_on_path(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  std::string path = environment_value("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;  // relative entries depend on where we happen to stand
    std::string candidate = dir + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace lyralink::platform
