// SPDX-License-Identifier: LGPL-2.1-or-later
// Plain parts of the drive table (see mount_points.h).
#include <array>
#include <sstream>

#include "platform/mount_points.h"

namespace lyralink::platform {

namespace {

// Undoes mountinfo's octal escapes (\040 blank, \011 tab, \012 newline, \134 backslash).
std::string unescape(std::string_view field) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
        octal(field[i + 2]) && octal(field[i + 3])) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> split_blanks(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool starts_with(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

std::vector<Drive> parse_mountinfo(std::string_view text) {
  std::vector<Drive> drives;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    auto fields = split_blanks(text.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    size_t dash = 0;
    for (size_t i = 6; i < fields.size(); ++i) {
      if (fields[i] == "-") {
        dash = i;
        break;
      }
    }
    // The type is the field after the separator; the source may be empty.
    if (dash == 0 || dash + 1 >= fields.size()) continue;
    Drive d;
    d.mount_point = unescape(fields[4]);
    d.fs_type = unescape(fields[dash + 1]);
    d.source = dash + 2 < fields.size() ? unescape(fields[dash + 2]) : std::string();
    if (d.mount_point.empty() || d.mount_point[0] != '/') continue;
    drives.push_back(std::move(d));
  }
  return drives;
}

DriveType classify_drive(const std::string& fs_type, const std::string& source,
                         const std::function<bool(const std::string&)>& removable_block_device) {
  static const std::array<const char*, 12> network = {"nfs",  "nfs4",   "cifs",       "smb3",      "smbfs",   "sshfs",
                                                      "afs",  "ncpfs",  "fuse.sshfs", "fuse.rclone", "9p",    "ceph"};
  for (const char* n : network) {
    if (fs_type == n) return DriveType::network;
  }
  if (starts_with(fs_type, "fuse.") &&
      (fs_type.find("sshfs") != std::string::npos || fs_type.find("smb") != std::string::npos ||
       fs_type.find("s3") != std::string::npos || fs_type.find("gvfs") != std::string::npos)) {
    return DriveType::network;
  }
  static const std::array<const char*, 17> memory = {
      "tmpfs",   "ramfs",   "proc",     "sysfs",  "devtmpfs", "devpts",  "cgroup", "cgroup2", "securityfs",
      "debugfs", "tracefs", "configfs", "pstore", "bpf",      "mqueue",  "hugetlbfs", "fusectl"};
  for (const char* m : memory) {
    if (fs_type == m) return DriveType::ram;
  }
  if (starts_with(source, "/dev/")) {
    std::string name = source.substr(5);
    if (starts_with(name, "sr")) return DriveType::cd;
    if (name.find('/') == std::string::npos && removable_block_device && removable_block_device(name)) {
      return DriveType::removable;
    }
  }
  return DriveType::fixed;
}

const Drive* drive_holding(const std::string& path, const std::vector<Drive>& drives) {
  const Drive* best = nullptr;
  for (const auto& d : drives) {
    const std::string& m = d.mount_point;
    bool holds = m == "/" ? !path.empty() && path[0] == '/'
                          : path.compare(0, m.size(), m) == 0 && (path.size() == m.size() || path[m.size()] == '/');
    if (holds && (best == nullptr || m.size() >= best->mount_point.size())) best = &d;
  }
  return best;
}

}  // namespace lyralink::platform
