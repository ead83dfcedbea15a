/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Pseudo-terminals, the stand-in for a serial line in the emulator and tests.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/system_error.h"

namespace lyralink::platform {

// The device side of a pseudo-terminal: the emulator reads the frames that a
// host writes to the terminal and writes answers back.
class PtyDevice {
 public:
  // Creates a pseudo-terminal in raw mode. The terminal side stays open
  // inside this object so that a host closing it never hangs up the device.
  static std::unique_ptr<PtyDevice> create(SystemError* error = nullptr);
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // Path of the terminal side, e.g. /dev/pts/7.
  const std::string& terminal_path() const { return terminal_path_; }

  // Makes link_path a symbolic link to the terminal (replacing a stale one).
  bool publish(const std::string& link_path, SystemError* error = nullptr);

  // The bit rate the host last set on the terminal; nullopt when unknown.
  std::optional<uint32_t> line_baud() const;

  // Non-blocking read of what the host wrote; 0 when nothing is there.
  size_t read(void* buf, size_t n);
  // Writes everything, waiting for room as needed.
  bool write(const void* buf, size_t n);
  // Bytes written by the host and not yet read by the device.
  size_t pending() const;

  // File descriptor to poll for readable input.
  int poll_fd() const { return master_fd_; }

 private:
  PtyDevice(int master, int terminal, std::string path)
      : master_fd_(master), terminal_fd_(terminal), terminal_path_(std::move(path)) {}
  int master_fd_;
  int terminal_fd_;
  std::string terminal_path_;
};

}  // namespace lyralink::platform
