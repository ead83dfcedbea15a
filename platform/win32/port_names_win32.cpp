// SPDX-License-Identifier: LGPL-2.1-or-later
// Serial port names on Windows: "COMn" is the device \\.\COMn, for
// n = 1..256. Whether the port exists is learnt by opening it (an absent
// port fails at once), as the search does for every number in turn.
#include "platform/port_names.h"

namespace lyralink::platform {

namespace {

constexpr unsigned kMaxComNumber = 256;

// n of "COMn" (any letter case, as the system compares device names),
// without leading zeros; nullopt for anything else.
std::optional<unsigned> com_number(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (size_t i = 0; i < 3; ++i) {
    const char c = static_cast<char>(name[i] & ~0x20);
    if (c != "COM"[i]) return std::nullopt;
  }
  if (name[3] == '0') return std::nullopt;
  unsigned value = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

}  // namespace

std::optional<std::string> default_port_path(unsigned number) {
  if (number < 1 || number > kMaxComNumber) return std::nullopt;
  return "\\\\.\\COM" + std::to_string(number);
}

std::optional<std::string> resolve_serial_port(const std::string& name) {
  auto number = com_number(name);
  if (!number) return std::nullopt;
  return default_port_path(*number);
}

// The device namespace that holds the COM ports.
std::string port_directory() { return "\\\\.\\"; }

}  // namespace lyralink::platform
