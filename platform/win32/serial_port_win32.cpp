// PLACEHOLDER: replaced by the win-serial branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Serial ports are not yet implemented on Windows: every open fails with
// not_supported, so no SerialPort object ever exists.
#include "platform/serial_port.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

namespace {
constexpr uint32_t kNotSupported = 50;  // ERROR_NOT_SUPPORTED
}

struct SerialPort::Impl {};

SerialPort::SerialPort(std::unique_ptr<Impl> impl, std::string path) : impl_(std::move(impl)), path_(std::move(path)) {}
SerialPort::~SerialPort() = default;

std::unique_ptr<SerialPort> SerialPort::open(const std::string& path, SystemError* error) {
  report(error, win32::system_error_of("open " + path, kNotSupported));
  return nullptr;
}

bool SerialPort::set_queue_sizes(uint32_t, uint32_t) { return false; }
bool SerialPort::get_settings(SerialSettings&) const { return false; }
bool SerialPort::set_settings(const SerialSettings&) { return false; }
std::optional<ModemStatus> SerialPort::modem_status() { return std::nullopt; }
std::optional<size_t> SerialPort::bytes_waiting() { return std::nullopt; }
std::optional<size_t> SerialPort::wait_for_input(size_t, TimePoint) { return std::nullopt; }
size_t SerialPort::read(void*, size_t) { return 0; }
size_t SerialPort::write(const void*, size_t) { return 0; }
void SerialPort::clear_errors() {}
std::optional<uint32_t> SerialPort::current_baud() const { return std::nullopt; }

std::optional<SystemError> serial_port_open_error(const std::string& path) {
  return win32::system_error_of("open " + path, kNotSupported);
}

}  // namespace lyralink::platform
