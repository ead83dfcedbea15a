// SPDX-License-Identifier: LGPL-2.1-or-later
// The drive table from /proc/self/mountinfo; removable media from sysfs.
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/mount_points.h"

namespace lyralink::platform {

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// A block device (or the disk a partition belongs to) marked removable, or
// one whose device path runs through a USB controller (USB sticks and card
// readers often say removable=0).
bool removable_block_device(const std::string& name) {
  std::string root = environment_value("LYRALINK_SYSFS_ROOT").value_or("/sys");
  std::string entry = root + "/class/block/" + name;
  const auto resolved = canonical_path(entry);
  if (!resolved) return false;
  const std::string& device = *resolved;
  if (device.find("/usb") != std::string::npos) return true;
  if (trimmed(read_file(device + "/removable", 64).value_or("")) == "1") return true;
  // A partition: its disk is the directory above it.
  if (entry_kind(device + "/partition") == EntryKind::file) {
    size_t slash = device.rfind('/');
    if (slash != std::string::npos &&
        trimmed(read_file(device.substr(0, slash) + "/removable", 64).value_or("")) == "1") {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<Drive> present_drives() {
  auto text = read_file("/proc/self/mountinfo", 4u << 20);
  if (!text) return {};
  std::vector<Drive> drives = parse_mountinfo(*text);
  for (auto& d : drives) d.type = classify_drive(d.fs_type, d.source, removable_block_device);
  return drives;
}

}  // namespace lyralink::platform
