// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/log_trust.h"

namespace lyralink::setup {

bool is_plain_absolute_path(std::string_view path) {
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string_view::npos) return false;
  size_t pos = 1;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(pos, end - pos) == "..") return false;
    pos = end + 1;
  }
  return true;
}

std::string normal_path(std::string_view path) {
  std::string out;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view level = path.substr(pos, end - pos);
    if (!level.empty() && level != ".") {
      if (!out.empty() || path.substr(0, 1) == "/") out += '/';
      out += level;
    }
    pos = end + 1;
  }
  if (out.empty()) return path.substr(0, 1) == "/" ? "/" : ".";
  return out;
}

std::string directory_of(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string log_path_from_working_directory(std::string_view given, std::string_view working_directory) {
  if (!given.empty() && given[0] == '/') return normal_path(given);
  return normal_path(std::string(working_directory) + "/" + std::string(given));
}

std::optional<std::string> log_refusal(const std::string& log_path, unsigned owner, uint32_t mode,
                                       unsigned current_user, const ParsedLog& log) {
  if (owner != current_user && owner != 0) {
    return "The uninstall log " + log_path + " belongs to another user; nothing was removed.";
  }
  if ((mode & 022) != 0) {
    return "The uninstall log " + log_path + " can be changed by other users; nothing was removed.";
  }
  for (const auto& a : log.actions) {
    bool names_path = a.kind == ActionKind::shared_file || a.kind == ActionKind::private_file ||
                      a.kind == ActionKind::create_dir;
    if (names_path && !is_plain_absolute_path(a.argument)) {
      return "The uninstall log " + log_path + " names the path \"" + a.argument +
             "\", which is not a plain absolute path; nothing was removed.";
    }
  }
  return std::nullopt;
}

}  // namespace lyralink::setup
