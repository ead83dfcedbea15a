// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/path_check.h"

namespace lyralink::setup {

namespace {

bool syntax_ok(std::string_view path) {
  if (path.size() < 2 || path[0] != '/') return false;
  for (char c : path) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    switch (c) {
      case '"': case '*': case ':': case '<': case '>': case '?': case '|': case ',':
        return false;
      default:
        break;
    }
  }
  if (path.find("//") != std::string_view::npos) return false;
  size_t pos = 1;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view level = path.substr(pos, end - pos);
    if (level == "." || level == "..") return false;
    pos = end + 1;
  }
  return true;
}

}  // namespace

PathVerdict check_application_path(std::string_view typed, const std::vector<platform::Drive>& drives,
                                   const std::string& program_files, const std::string& windows_directory) {
  if (!syntax_ok(typed)) return PathVerdict::invalid;
  std::string path = without_trailing_slash(typed);
  const platform::Drive* drive = platform::drive_holding(path, drives);
  if (drive == nullptr) return PathVerdict::invalid;  // no drive holds it: not a present drive
  if (drive->type == platform::DriveType::fixed) return PathVerdict::ok;
  for (const std::string& other : {program_files, windows_directory}) {
    const platform::Drive* d = other.empty() ? nullptr : platform::drive_holding(other, drives);
    if (d != nullptr && d->mount_point == drive->mount_point) return PathVerdict::ok;
  }
  return PathVerdict::removable;
}

std::string path_verdict_message(PathVerdict verdict) {
  switch (verdict) {
    case PathVerdict::ok: return "";
    case PathVerdict::invalid: return kInvalidPathMessage;
    case PathVerdict::removable: return kRemovableDriveMessage;
  }
  return "";
}

std::string without_trailing_slash(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

}  // namespace lyralink::setup
