// SPDX-License-Identifier: LGPL-2.1-or-later
#include <sys/stat.h>

#include "platform/environment.h"
#include "platform/port_names.h"

namespace lyralink::platform {

namespace {
constexpr const char* kSystemPortDirectory = "/etc/lyralink/ports";

bool entry_exists(const std::string& path) {
  struct stat info {};
  // lstat: a dangling symbolic link still names the port (its open fails
  // later, with the real reason).
  return lstat(path.c_str(), &info) == 0;
}

// A name safe to append to a directory: no path separators, not "." or "..".
bool plain_entry_name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string::npos;
}

std::optional<unsigned> com_number(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return std::nullopt;
  unsigned value = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    char c = name[i];
    if (c < '0' || c > '9' || value > 100000) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}
}  // namespace

std::optional<std::string> default_port_path(unsigned number) {
  if (number >= 1 && number <= 32) return "/dev/ttyS" + std::to_string(number - 1);
  if (number >= 33 && number <= 64) return "/dev/ttyUSB" + std::to_string(number - 33);
  if (number >= 65 && number <= 96) return "/dev/ttyACM" + std::to_string(number - 65);
  return std::nullopt;
}

std::string port_directory() {
  if (auto dir = environment_value("LYRALINK_PORT_DIR")) return *dir;
  return kSystemPortDirectory;
}

std::optional<std::string> resolve_serial_port(const std::string& name) {
  if (!plain_entry_name(name)) return std::nullopt;
  if (auto dir = environment_value("LYRALINK_PORT_DIR")) {
    std::string path = *dir + "/" + name;
    if (entry_exists(path)) return path;
    return std::nullopt;
  }
  std::string configured = std::string(kSystemPortDirectory) + "/" + name;
  if (entry_exists(configured)) return configured;
  if (auto number = com_number(name)) {
    if (auto path = default_port_path(*number); path && entry_exists(*path)) return path;
  }
  return std::nullopt;
}

}  // namespace lyralink::platform
