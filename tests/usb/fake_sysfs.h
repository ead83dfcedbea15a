/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A fake sysfs tree and port directory for the bridge tests, laid out as the
// kernel lays out a USB-serial tty:
//
//   class/tty/ttyUSB0 -> ../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0
//   devices/.../usb1/1-1/idVendor, idProduct           the USB device
//   devices/.../1-1:1.0/ttyUSB0/latency_timer          the usb-serial port
//   devices/.../ttyUSB0/tty/ttyUSB0/device -> ../../../ttyUSB0
//
// LYRALINK_SYSFS_ROOT and LYRALINK_PORT_DIR point at it while it lives.
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tests/support/emulator.h"

namespace usbtest {

namespace fs = std::filesystem;

struct UsbTty {
  std::string vendor = "0403";
  std::string product = "6001";
  std::optional<std::string> latency = "16";  // nullopt: no attribute
  bool with_product = true;
};

class FakeSysfs {
 public:
  FakeSysfs() : root_(lyratest::make_temp_dir("sysfs")), ports_(lyratest::make_temp_dir("ports")) {
    fs::create_directories(root_ + "/class/tty");
    ::setenv("LYRALINK_SYSFS_ROOT", root_.c_str(), 1);
    ::setenv("LYRALINK_PORT_DIR", ports_.c_str(), 1);
  }
  ~FakeSysfs() {
    ::unsetenv("LYRALINK_SYSFS_ROOT");
    ::unsetenv("LYRALINK_PORT_DIR");
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  void add_usb_tty(const std::string& tty, const UsbTty& attributes = {}) {
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(++devices_);
    const std::string port = usb + "/1-" + std::to_string(devices_) + ":1.0/" + tty;
    fs::create_directories(root_ + "/" + port + "/tty/" + tty);
    write(usb + "/idVendor", attributes.vendor + "\n");
    if (attributes.with_product) write(usb + "/idProduct", attributes.product + "\n");
    // The root hub above it has IDs of its own, which must not count.
    write("devices/pci0000:00/0000:00:14.0/usb1/idVendor", "1d6b\n");
    write("devices/pci0000:00/0000:00:14.0/usb1/idProduct", "0002\n");
    if (attributes.latency) write(port + "/latency_timer", *attributes.latency + "\n");
    fs::create_directory_symlink("../../../" + tty, root_ + "/" + port + "/tty/" + tty + "/device");
    fs::create_directory_symlink("../../" + port + "/tty/" + tty, root_ + "/class/tty/" + tty);
  }

  // A tty on no USB device (a built-in UART).
  void add_plain_tty(const std::string& tty) {
    const std::string dir = "devices/platform/serial8250/tty/" + tty;
    fs::create_directories(root_ + "/" + dir);
    fs::create_directory_symlink("../../" + dir, root_ + "/class/tty/" + tty);
  }

  // The port entry ports/<name>, a symbolic link to target.
  void add_port(const std::string& name, const std::string& target) {
    fs::create_symlink(target, ports_ + "/" + name);
  }

  std::string latency_path(const std::string& tty) const {
    return root_ + "/class/tty/" + tty + "/device/latency_timer";
  }
  std::string latency(const std::string& tty) const {
    std::ifstream in(latency_path(tty));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Sets the attribute's modification time to a day ago; a later write
  // shows as a newer time.
  void age_latency(const std::string& tty) const {
    timeval times[2] = {{::time(nullptr) - 86400, 0}, {::time(nullptr) - 86400, 0}};
    ::utimes(latency_path(tty).c_str(), times);
  }
  long latency_mtime(const std::string& tty) const {
    struct stat info {};
    ::stat(latency_path(tty).c_str(), &info);
    return static_cast<long>(info.st_mtime);
  }

  const std::string& root() const { return root_; }
  const std::string& ports() const { return ports_; }

 private:
  void write(const std::string& relative, const std::string& text) {
    std::ofstream(root_ + "/" + relative) << text;
  }

  std::string root_;
  std::string ports_;
  int devices_ = 0;
};

}  // namespace usbtest
