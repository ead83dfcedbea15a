/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Drives on Linux: the mount points of /proc/self/mountinfo, each with the
// kind of medium behind it.
//
// removable: its block device is removable or sits on USB (sysfs);
// cd: an sr* device; network: nfs, cifs, smb3, sshfs and the other network
// file systems; ram: tmpfs, ramfs and the kernel's own file systems (proc,
// sysfs, ...), which live in memory too; fixed: everything else.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lyralink::platform {

enum class DriveType : uint8_t { fixed, removable, cd, network, ram };

struct Drive {
  std::string mount_point;  // "/", "/media/stick"
  std::string fs_type;      // "ext4", "vfat", "nfs4", "fuse.sshfs"
  std::string source;       // "/dev/sdb1", "server:/export"
  DriveType type = DriveType::fixed;
};

// The drives present now, in mountinfo order (sysfs under
// $LYRALINK_SYSFS_ROOT, default /sys). Empty when /proc cannot be read.
std::vector<Drive> present_drives();

// Plain parts, no I/O:
// The entries of a mountinfo text (mount point, type and source, with the
// kernel's \040-style escapes undone). Lines that do not parse are skipped.
std::vector<Drive> parse_mountinfo(std::string_view text);
// The type of a drive by its file system and source. `block_facts(name)`
// tells for a block device name ("sdb1") whether it is removable or on USB.
DriveType classify_drive(const std::string& fs_type, const std::string& source,
                         const std::function<bool(const std::string&)>& removable_block_device);
// The drive that holds `path` (absolute): the mount point that is the
// longest leading part of it, on a "/" boundary; a later mount of the same
// point hides an earlier one. Null when none does.
const Drive* drive_holding(const std::string& path, const std::vector<Drive>& drives);

}  // namespace lyralink::platform
