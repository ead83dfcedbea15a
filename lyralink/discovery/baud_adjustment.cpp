// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/baud_adjustment.h"

#include <algorithm>

#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/link.h"

namespace lyralink::discovery {

std::optional<uint32_t> next_ladder_rate(uint32_t rate, bool success, bool& second_chance) {
  switch (rate) {
    case 3000000: return success ? std::nullopt : std::optional<uint32_t>(307200);
    case 307200:
      if (!success) return 115200;
      if (second_chance) return std::nullopt;
      second_chance = true;
      return 3000000;
    case 115200: return success ? std::nullopt : std::optional<uint32_t>(38400);
    default: return std::nullopt;  // 38400, either way
  }
}

uint8_t latency_for_driver(std::optional<uint32_t> driver_version) {
  return driver_version && *driver_version >= kFastLatencyDriver ? 2 : 8;
}

StepResult run_ladder_step(link::BytePort& port, uint32_t rate, bool query_failure_loses_link) {
  if (!port.set_rate(rate)) return StepResult::failure;
  (void)port.drain();
  uint8_t frame[kIdentityAnswerSize];
  for (uint32_t attempt = 0; attempt < kAttemptsPerStep; ++attempt) {
    (void)port.write(probe_310().data(), probe_310().size());
    const auto count = port.wait_for(kIdentityAnswerSize, platform::deadline_after_ms(kAttemptWaitMs));
    if (!count && query_failure_loses_link) return StepResult::link_lost;
    if (count && *count == kIdentityAnswerSize) {
      if (port.read_exactly(frame, kIdentityAnswerSize) && valid_identity_answer(frame, probe_310())) {
        return StepResult::success;
      }
      continue;  // an invalid answer: the next attempt, nothing drained
    }
    (void)port.drain(true);
  }
  return StepResult::failure;
}

LadderOutcome run_ladder(link::BytePort& port, bool query_failure_loses_link,
                         void (*on_step)(void*, uint32_t, StepResult), void* context) {
  LadderOutcome out;
  bool second_chance = false;
  std::optional<uint32_t> rate = kLadderStartRate;
  while (rate) {
    const StepResult r = run_ladder_step(port, *rate, query_failure_loses_link);
    ++out.steps;
    out.final_rate = *rate;
    if (on_step != nullptr) on_step(context, *rate, r);
    if (r == StepResult::link_lost) {
      out.link_lost = true;
      break;
    }
    rate = next_ladder_rate(*rate, r == StepResult::success, second_chance);
  }
  return out;
}

uint32_t adjust_baud_rate(link::LinkState& s, bool dialogs, void* owner) {
  link::BytePort* port = s.byte_port();
  if (port == nullptr) return s.baud_rate();
  if (dialogs) library_windows().show_wait_window(owner, "The baudrate is being adjusted.");
  bool lost = false;
  if (link::UsbBytePort* usb = s.usb_port()) {
    (void)usb->set_latency_timer(latency_for_driver(usb->driver_version()));
    lost = run_ladder(*usb, true).link_lost;
  } else {
    (void)run_ladder(*port, false);
  }
  // Only a rate the port took is the link's rate: a refused one leaves the
  // line where it was.
  s.set_baud_rate(port->rate());
  if (lost) link::close_link(s);
  if (dialogs) library_windows().close_wait_window();
  return s.baud_rate();
}

}  // namespace lyralink::discovery
