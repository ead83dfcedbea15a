// SPDX-License-Identifier: LGPL-2.1-or-later
// USB-serial bridges behind serial ports on Win32, found through the bridge
// driver's device keys in the local-machine registry:
//
//   SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\0000\Device Parameters
//       "PortName"      REG_SZ     e.g. COM4
//       "LatencyTimer"  REG_DWORD  milliseconds, read by the driver when the
//                                  port is opened
//
// Older systems keep the devices under Enum\FTDIBUS\<device>\0000 (used
// only when the current key cannot be opened). The device key name carries
// the USB IDs: "VID_0403+PID_6001+<serial>". Here a port entry is the port
// name itself, and the "tty" of a port is its device's parameter key (a
// path below HKEY_LOCAL_MACHINE), so the functions of the header keep their
// meaning: tty_of_port_entry finds the device, usb_device_of_tty reads the
// IDs from its key name, and the latency timer is its "LatencyTimer" value.
// Every function only reads or writes a few registry values.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/bridge_ports.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

namespace {

struct Layout {
  const char* devices;     // the device list key
  const char* parameters;  // appended to a device key for its parameter key
};

constexpr Layout kCurrentLayout{"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", "\\0000\\Device Parameters"};
constexpr Layout kOlderLayout{"Enum\\FTDIBUS", "\\0000"};

constexpr size_t kMaxPortNameBytes = 260;

// An open registry key, closed on scope exit.
class Key {
 public:
  Key(const std::string& path, REGSAM access) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool same_ignoring_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool starts_ignoring_case(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && same_ignoring_case(text.substr(0, prefix.size()), prefix);
}

// A name that stays one key level (no separator, not empty).
bool plain_name(const std::string& name) {
  return !name.empty() && name.find('\\') == std::string::npos && name.find('/') == std::string::npos;
}

std::optional<std::string> port_name_of(HKEY parameters) {
  char text[kMaxPortNameBytes + 1] = {};
  DWORD type = 0;
  DWORD size = kMaxPortNameBytes;
  if (RegQueryValueExA(parameters, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  text[std::min<DWORD>(size, kMaxPortNameBytes)] = '\0';
  return std::string(text);
}

// A hexadecimal number of exactly four digits.
std::optional<uint16_t> hex4(const std::string& text) {
  if (text.size() != 4) return std::nullopt;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
}

// The device key name in a parameter key path: the component after the
// device list key.
std::optional<std::string> device_name_of(const std::string& parameters) {
  for (const Layout* layout : {&kCurrentLayout, &kOlderLayout}) {
    const std::string prefix = std::string(layout->devices) + "\\";
    if (!starts_ignoring_case(parameters, prefix)) continue;
    const std::string rest = parameters.substr(prefix.size());
    return rest.substr(0, rest.find('\\'));
  }
  return std::nullopt;
}

std::optional<UsbDeviceId> ids_of_device_name(const std::string& device) {
  // "VID_vvvv+PID_pppp" and whatever follows (the serial number).
  if (device.size() < 17 || !starts_ignoring_case(device, "VID_") || device[8] != '+' ||
      !starts_ignoring_case(device.substr(9), "PID_")) {
    return std::nullopt;
  }
  auto vendor = hex4(device.substr(4, 4));
  auto product = hex4(device.substr(13, 4));
  if (!vendor || !product) return std::nullopt;
  return UsbDeviceId{*vendor, *product};
}

// The device list key in use: the current layout's, else the older one's.
const Layout* layout_in_use() {
  for (const Layout* layout : {&kCurrentLayout, &kOlderLayout}) {
    if (Key(layout->devices, KEY_ENUMERATE_SUB_KEYS)) return layout;
  }
  return nullptr;
}

}  // namespace

std::string sysfs_root() {
  const Layout* layout = layout_in_use();
  return std::string("HKEY_LOCAL_MACHINE\\") + (layout != nullptr ? layout->devices : kCurrentLayout.devices);
}

std::optional<std::string> find_port_entry(const std::string& name) {
  // The driver's keys name the port; whether the port can be opened now
  // does not matter for telling which device it belongs to.
  if (!plain_name(name)) return std::nullopt;
  return name;
}

std::optional<std::string> tty_of_port_entry(const std::string& entry) {
  const Layout* layout = layout_in_use();
  if (layout == nullptr) return std::nullopt;
  Key devices(layout->devices, KEY_ENUMERATE_SUB_KEYS);
  if (!devices) return std::nullopt;
  // Every device whose "PortName" matches; a device of the analyser's
  // bridge (its IDs in the key name) goes before a stale key of another
  // product that names the same port.
  std::optional<std::string> first;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    const LONG rc = RegEnumKeyExA(devices.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    const std::string parameters = std::string(layout->devices) + "\\" + name + layout->parameters;
    Key key(parameters, KEY_QUERY_VALUE);
    if (!key) continue;
    auto port = port_name_of(key.get());
    if (!port || !same_ignoring_case(*port, entry)) continue;
    auto ids = ids_of_device_name(name);
    if (ids && ids->vendor == 0x0403 && ids->product == 0x6001) return parameters;
    if (!first) first = parameters;
  }
  return first;
}

std::optional<UsbDeviceId> usb_device_of_tty(const std::string& tty) {
  auto device = device_name_of(tty);
  if (!device) return std::nullopt;
  return ids_of_device_name(*device);
}

std::optional<uint32_t> read_latency_timer(const std::string& tty) {
  if (!device_name_of(tty)) return std::nullopt;
  Key key(tty, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key.get(), "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return std::nullopt;
  }
  return value;
}

bool write_latency_timer(const std::string& tty, uint32_t ms, SystemError* error) {
  if (!device_name_of(tty)) return false;
  HKEY key = nullptr;
  // Only an existing device's key: the value is created, the key never.
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, tty.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (rc != ERROR_SUCCESS) {
    report(error, win32::system_error_of("open HKEY_LOCAL_MACHINE\\" + tty, static_cast<uint32_t>(rc)));
    return false;
  }
  const DWORD value = ms;
  rc = RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    report(error, win32::system_error_of("write HKEY_LOCAL_MACHINE\\" + tty + "\\LatencyTimer",
                                         static_cast<uint32_t>(rc)));
    return false;
  }
  return true;
}

}  // namespace lyralink::platform
