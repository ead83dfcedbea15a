/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Between the transports and the device model: frame assembly from a byte
// stream, the fault rules, and the record of every received frame.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/log_file.h"
#include "tools/lyrasim/device.h"

namespace lyrasim {

// Splits a serial byte stream into 12-byte command frames. Bytes that do
// not start a frame with the sync word and end it with the end word are
// junk; the assembler drops them one at a time until it finds a frame.
class FrameAssembler {
 public:
  void feed(const uint8_t* bytes, size_t n);
  // The next complete frame, if any. Junk skipped on the way is appended to
  // *junk when given.
  std::optional<Command> next(std::vector<uint8_t>* junk = nullptr);

 private:
  std::deque<uint8_t> buffer_;
};

enum class FaultKind : uint8_t { silent, checksum, echo, error_word, length, delay, garbage };

// One fault rule: what goes wrong, for which frames, how often.
struct FaultRule {
  FaultKind kind = FaultKind::silent;
  int32_t value = 0;                 // error word, delay in ms, or length change in bytes
  std::optional<uint16_t> code;      // only frames with this command code
  std::string endpoint;              // only this endpoint (COM3, 127.0.0.2, USB0); empty: all
  uint32_t skip = 0;                 // matching frames let through first
  std::optional<uint32_t> count;     // times to apply; unset: for ever
  uint32_t seen = 0;
  uint32_t applied = 0;
};

// Parses "silent", "checksum", "echo", "error=0xAAAE", "length=-4",
// "delay=20", "garbage", each optionally followed by ",code=N", ",on=NAME",
// ",skip=N", ",count=N".
std::optional<FaultRule> parse_fault(const std::string& text, std::string* error);
const char* fault_help();

// A reply to send: the bytes and how long the device takes before it starts.
struct Reply {
  std::vector<uint8_t> bytes;
  uint32_t delay_ms = 0;
};

// Appends one line per received frame to a file:
//   <monotonic microseconds> <endpoint> <24 hex digits>[ baud=<rate>]
// and "junk <hex>" lines for bytes that were no frame. Thread-safe.
class FrameRecord {
 public:
  bool open(const std::string& path, std::string* error);
  void frame(const std::string& endpoint, const Command& cmd, std::optional<uint32_t> baud);
  void junk(const std::string& endpoint, const uint8_t* bytes, size_t n);

 private:
  void line(const std::string& text);
  std::mutex mutex_;
  std::unique_ptr<lyralink::platform::LogFile> file_;
};

// The device's answer to a frame with the fault rules applied. nullopt:
// the device stays silent.
class Responder {
 public:
  void add_fault(FaultRule rule);
  void clear_faults();
  std::optional<Reply> answer(Analyser& device, const std::string& endpoint, const Command& cmd,
                              SteadyClock::time_point now);

 private:
  std::mutex mutex_;
  std::vector<FaultRule> faults_;
};

// Time to carry n bytes on an 8N1 line at baud, in microseconds.
uint64_t wire_time_us(size_t n, uint32_t baud);

}  // namespace lyrasim
