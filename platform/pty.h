/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Pseudo-terminals, the stand-in for a serial line in the emulator and tests.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace lyralink::platform {

// The device side of a pseudo-terminal: the emulator reads the frames that a
// host writes to the terminal and writes answers back.
class PtyDevice {
 public:
  // Creates a pseudo-terminal in raw mode. The terminal side stays open
  // inside this object so that a host closing it never hangs up the device.
  // Never blocks; null on failure, with the reason in *error.
  static std::unique_ptr<PtyDevice> create(SystemError* error = nullptr);
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // Path of the terminal side, e.g. /dev/pts/7.
  const std::string& terminal_path() const { return terminal_path_; }

  // Makes link_path a symbolic link to the terminal (replacing a stale one).
  // Never blocks beyond the file system; false with the reason on failure.
  bool publish(const std::string& link_path, SystemError* error = nullptr);

  // The bit rate the host last set on the terminal; nullopt when unknown.
  // Never blocks.
  std::optional<uint32_t> line_baud() const;

  // Non-blocking read of what the host wrote; 0 when nothing is there.
  size_t read(void* buf, size_t n);
  // Writes everything, waiting (at most 1 s at a time) for room as needed;
  // false when the room does not come or the write fails.
  bool write(const void* buf, size_t n);
  // Bytes written by the host and not yet read by the device. Never blocks.
  size_t pending() const;

  // What to wait on for readable input (event_wait.h).
  Waitable waitable() const;

 private:
  struct Impl;
  PtyDevice(std::unique_ptr<Impl> impl, std::string path);
  std::unique_ptr<Impl> impl_;
  std::string terminal_path_;
};

}  // namespace lyralink::platform
