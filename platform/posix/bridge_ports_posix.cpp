// SPDX-License-Identifier: LGPL-2.1-or-later
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/bridge_ports.h"
#include "platform/environment.h"
#include "platform/port_names.h"

namespace lyralink::platform {

namespace {

constexpr const char* kSystemPortDirectory = "/etc/lyralink/ports";
constexpr int kMaxLinks = 40;  // as the kernel's own limit for one lookup

bool entry_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

bool same_ignoring_case(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A name that stays inside the directory it is appended to.
bool plain_entry_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The entry of `directory` whose name matches without regard to case; an
// exact match wins.
std::optional<std::string> entry_ignoring_case(const std::string& directory, const std::string& name) {
  if (entry_exists(directory + "/" + name)) return directory + "/" + name;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* e = readdir(dir)) {
    if (same_ignoring_case(name, e->d_name)) {
      found = directory + "/" + e->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

// The number of "COMn" in any letter case.
std::optional<unsigned> com_number_ignoring_case(const std::string& name) {
  if (name.size() < 4 || name.size() > 9 || !same_ignoring_case(name.substr(0, 3), "COM")) return std::nullopt;
  unsigned value = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return value;
}

std::string last_component(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::optional<std::string> real_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  free(resolved);
  return result;
}

// The first line of a small attribute file, without its line end.
std::optional<std::string> read_attribute(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buf[64];
  ssize_t got;
  do {
    got = ::read(fd, buf, sizeof buf - 1);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  if (got < 0) return std::nullopt;
  std::string text(buf, static_cast<size_t>(got));
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

std::optional<unsigned long> parse_number(const std::string& text, int base) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text.c_str(), &end, base);
  while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  return value;
}

std::string latency_attribute(const std::string& tty) {
  return sysfs_root() + "/class/tty/" + tty + "/device/latency_timer";
}

}  // namespace

std::string sysfs_root() {
  std::string root = environment_value("LYRALINK_SYSFS_ROOT").value_or("/sys");
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::optional<std::string> find_port_entry(const std::string& name) {
  if (!plain_entry_name(name)) return std::nullopt;
  if (auto dir = environment_value("LYRALINK_PORT_DIR")) return entry_ignoring_case(*dir, name);
  if (auto configured = entry_ignoring_case(kSystemPortDirectory, name)) return configured;
  if (auto number = com_number_ignoring_case(name)) {
    if (auto path = default_port_path(*number); path && entry_exists(*path)) return path;
  }
  return std::nullopt;
}

std::optional<std::string> tty_of_port_entry(const std::string& entry) {
  const std::string classes = sysfs_root() + "/class/tty/";
  std::string current = entry;
  for (int link = 0; link <= kMaxLinks; ++link) {
    std::string base = last_component(current);
    if (plain_entry_name(base) && entry_exists(classes + base)) return base;
    char target[PATH_MAX];
    ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
    if (n <= 0) return std::nullopt;  // end of the chain (or a missing entry)
    std::string next(target, static_cast<size_t>(n));
    current = next[0] == '/' ? next : parent_of(current) + "/" + next;
  }
  return std::nullopt;  // a loop, or a chain longer than any real one
}

std::optional<UsbDeviceId> usb_device_of_tty(const std::string& tty) {
  if (!plain_entry_name(tty)) return std::nullopt;
  auto root = real_path(sysfs_root());
  auto dir = real_path(sysfs_root() + "/class/tty/" + tty);
  if (!root || !dir) return std::nullopt;
  // Walk up the device tree, never above the sysfs root; the first
  // directory with an idVendor attribute is the USB device (interfaces and
  // the tty's own directories have none).
  while (dir->size() > root->size() && dir->compare(0, root->size(), *root) == 0) {
    if (auto vendor_text = read_attribute(*dir + "/idVendor")) {
      auto product_text = read_attribute(*dir + "/idProduct");
      if (!product_text) return std::nullopt;
      auto vendor = parse_number(*vendor_text, 16);
      auto product = parse_number(*product_text, 16);
      if (!vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) return std::nullopt;
      return UsbDeviceId{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)};
    }
    *dir = parent_of(*dir);
  }
  return std::nullopt;
}

std::optional<uint32_t> read_latency_timer(const std::string& tty) {
  if (!plain_entry_name(tty)) return std::nullopt;
  auto text = read_attribute(latency_attribute(tty));
  if (!text) return std::nullopt;
  auto value = parse_number(*text, 10);
  if (!value || *value > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

bool write_latency_timer(const std::string& tty, uint32_t ms, SystemError* error) {
  if (!plain_entry_name(tty)) return false;
  const std::string path = latency_attribute(tty);
  // No O_CREAT: a missing attribute means the driver offers none.
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    report(error, last_system_error("open " + path));
    return false;
  }
  const std::string text = std::to_string(ms) + "\n";
  ssize_t put;
  do {
    put = ::write(fd, text.data(), text.size());
  } while (put < 0 && errno == EINTR);
  if (put != static_cast<ssize_t>(text.size())) report(error, last_system_error("write " + path));
  ::close(fd);
  return put == static_cast<ssize_t>(text.size());
}

}  // namespace lyralink::platform
