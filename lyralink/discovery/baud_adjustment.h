/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The baud adjustment: after the selection took a serial port or a direct
// USB device (found at 38400 bit/s), the link is moved to the highest rate
// at which the analyser still answers the 310 probe: 3000000, 307200,
// 115200, 38400, with one second chance for 3000000 once 307200 worked.
#include <cstdint>
#include <optional>

#include "lyralink/link/byte_port.h"
#include "lyralink/link/link_state.h"

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

enum class StepResult { success, failure, link_lost };

// One step at `rate` on the port: the rate is set and the queue emptied
// (a refused rate fails the step), then up to four probes, each given
// 100 ms for its answer. An invalid answer is followed by the next probe at
// once; a wrong byte count by a slow drain first. When the queue query
// fails and `query_failure_loses_link` (a direct USB device: it is gone),
// the step ends with link_lost.
StepResult run_ladder_step(link::BytePort& port, uint32_t rate, bool query_failure_loses_link);

struct LadderOutcome {
  uint32_t final_rate = 0;   // rate of the last step
  bool link_lost = false;
  uint32_t steps = 0;
};
// The whole ladder; calls on_step(rate, result) after every step.
LadderOutcome run_ladder(link::BytePort& port, bool query_failure_loses_link,
                         void (*on_step)(void*, uint32_t, StepResult) = nullptr, void* context = nullptr);

// Adjusts the link in `s` (a serial port or a direct USB device), with the
// wait window when dialogs is set. Returns the link's baud rate afterwards;
// a direct USB device that stopped answering queries is closed.
uint32_t adjust_baud_rate(link::LinkState& s, bool dialogs, void* owner);

}  // namespace lyralink::discovery
