/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The baud adjustment: after the selection took a serial port or a direct
// USB device (found at 38400 bit/s), the link is moved to the highest rate
// at which the analyser still answers the 310 probe: 3000000, 307200,
// 115200, 38400, with one second chance for 3000000 once 307200 worked.
#include <cstdint>
#include <optional>

#include "lyralink/link/link_state.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace lyralink::discovery {

constexpr uint32_t kLadderStartRate = 3000000;
constexpr uint32_t kAttemptsPerStep = 4;
constexpr uint32_t kAttemptWaitMs = 100;
constexpr uint32_t kFastLatencyDriver = 0x00020814;  // first driver version that keeps up with 2 ms

// The rate after a step at `rate`, or nullopt when the adjustment ends
// there. second_chance is set when 3000000 is tried once more.
std::optional<uint32_t> next_ladder_rate(uint32_t rate, bool success, bool& second_chance);

// The latency timer for a direct USB device: 2 ms from driver version
// 0x00020814 on, 8 ms for older drivers and when the version is unknown.
uint8_t latency_for_driver(std::optional<uint32_t> driver_version);

// The line settings of a ladder step on a serial port: the settings the
// detection left, at `rate`, with the modem lines of an analyser port (on a
// USB-serial bridge RTS follows the charger as CTS shows it and DTR is
// low; on a plain port both are high).
platform::SerialSettings ladder_settings(platform::SerialSettings base, uint32_t rate, bool usb_bridge, bool cts);

// One link under adjustment. The steps follow a fixed pattern; only the
// calls differ between a serial port and a direct USB device.
class BaudLink {
 public:
  virtual ~BaudLink() = default;
  // Puts the link at `rate` and empties its input; false when the rate is
  // refused (the step fails).
  virtual bool start_step(uint32_t rate) = 0;
  virtual void write_probe() = 0;
  // Waits until at least 136 bytes are queued or the deadline passes; the
  // queue count, nullopt when the query failed.
  virtual std::optional<size_t> wait_for_answer(platform::TimePoint deadline) = 0;
  // Reads 136 bytes; false on a failed or short read.
  virtual bool read_answer(uint8_t* frame) = 0;
  // Reads what is queued, pausing 10 ms after each read, until nothing is.
  virtual void drain_slowly() = 0;
  // True when a failed queue query means the device is gone (direct USB).
  virtual bool query_failure_loses_link() const = 0;
};

enum class StepResult { success, failure, link_lost };
StepResult run_ladder_step(BaudLink& link, uint32_t rate);

struct LadderOutcome {
  uint32_t final_rate = 0;   // rate of the last step
  bool link_lost = false;
  uint32_t steps = 0;
};
// The whole ladder; calls on_step(rate, result) after every step.
LadderOutcome run_ladder(BaudLink& link, void (*on_step)(void*, uint32_t, StepResult) = nullptr,
                         void* context = nullptr);

// Adjusts the link in `s` (a serial port or a direct USB device), with the
// wait window when dialogs is set. Returns the link's baud rate afterwards;
// a direct USB device that stopped answering queries is closed.
uint32_t adjust_baud_rate(link::LinkState& s, bool dialogs, void* owner);

}  // namespace lyralink::discovery
