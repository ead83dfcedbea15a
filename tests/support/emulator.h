/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Test support: a running lyrasim process with its own port directory,
// frame record and control channel.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

namespace lyratest {

// One line of the emulator's frame record.
struct RecordedFrame {
  int64_t us = 0;           // steady clock, microseconds since its epoch
  std::string endpoint;     // COM3, 127.0.0.1, USB0
  std::array<uint8_t, 12> bytes{};
  std::optional<uint32_t> baud;
  uint16_t code() const { return static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)); }
  uint16_t word(int n) const { return static_cast<uint16_t>(bytes[2 + 2 * n] | (bytes[3 + 2 * n] << 8)); }
  uint8_t byte(int n) const { return bytes[4 + n]; }
  std::string hex() const;
};

// Parses a record file; junk lines are skipped.
std::vector<RecordedFrame> read_record(const std::string& path);

// A fresh directory under the build's temporary area, removed at exit.
std::string make_temp_dir(const std::string& tag);

class Emulator {
 public:
  // Starts lyrasim with the given endpoint arguments (e.g. {"--serial",
  // "COM3=740"}) and waits until its ports are published. The emulator gets
  // its own port directory (port_dir()), frame record and --control.
  // launcher, when given, runs it (e.g. {"nsenter", "--net=..."} to start it
  // in another network namespace).
  static std::unique_ptr<Emulator> start(const std::vector<std::string>& args,
                                         const std::vector<std::string>& launcher = {});
  ~Emulator();

  const std::string& port_dir() const { return port_dir_; }
  const std::string& record_path() const { return record_path_; }

  // Sends a control line ("fault silent,code=90", "clear-faults") and waits
  // for its answer; true on "ok".
  bool control(const std::string& line);

  // Every frame received so far, and a way to start counting afresh.
  std::vector<RecordedFrame> frames() const;
  void clear_record();

  // Publishes port_dir() as LYRALINK_PORT_DIR for the library of this process.
  void use_ports() const;

 private:
  std::unique_ptr<lyralink::platform::ChildProcess> process_;
  std::string port_dir_;
  std::string record_path_;
};

// Paths of the built programs and libraries (set by CMake).
std::string lyrasim_path();
std::string standin_bridge_path();

// A UDP port that was free a moment ago, for the tests of this process.
uint16_t free_udp_port();

}  // namespace lyratest
