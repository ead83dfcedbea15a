// SPDX-License-Identifier: LGPL-2.1-or-later
#include <algorithm>

#include "lyralink/link/channels.h"

namespace lyralink::link {

namespace {

// A 136-byte frame that is complete as it stands: sync word, and an end
// word or a device error word in its last two bytes. A long answer passing
// 136 bytes on its way has data there, which matches only by chance.
bool complete_short_frame(const uint8_t* frame) {
  if (get_u16(frame) != kSyncWord) return false;
  const uint16_t last = get_u16(frame + kEndOffset);
  return last == kEndWord || device_error_status(last).has_value();
}

}  // namespace

size_t PortChannel::take(uint8_t* buf, size_t n) {
  const size_t got = port_.read(buf, n);
  if (trace_ != nullptr) trace_->stream_received(buf, got);
  return got;
}

void PortChannel::discard_input() {
  if (trace_ == nullptr) {
    (void)port_.drain();
  } else {
    (void)port_.drain(false, [this](const uint8_t* bytes, size_t n) { trace_->stream_received(bytes, n); });
  }
}

void PortChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  // The device speaks only when spoken to, so anything queued now is a late
  // answer to an earlier attempt; dropping it keeps answers paired with
  // their requests.
  discard_input();
  const TimePoint when = trace_time();
  (void)port_.write(frame.data(), kCommandFrameSize);
  trace_sent(frame.data(), kCommandFrameSize, when);
}

bool PortChannel::receive_short(uint8_t* area, TimePoint deadline) {
  auto count = port_.wait_for(kShortFrameSize, deadline);
  if (!count) return false;  // the port has failed
  if (*count == kShortFrameSize) {
    const bool whole = take(area + kDatagramPrefix, kShortFrameSize) == kShortFrameSize;
    port_.clear_errors();
    return whole;
  }
  // Nothing, or a wrong number of bytes: drop them so that the next attempt
  // starts with an empty queue.
  if (*count != 0) discard_input();
  return false;
}

std::optional<size_t> PortChannel::pause_between_polls(size_t queued, size_t missing, TimePoint deadline) {
  // At most 10 ms between two looks at a long answer, as the analysers'
  // hosts have always polled; but the pause ends as soon as the missing
  // bytes have arrived, or when they can have come at the line's rate (at
  // least 1 ms, so a device that has stopped talking is not polled in a
  // tight loop). On a fast line the answer is then read within about a
  // millisecond of its last byte, not on the next 10 ms tick.
  const uint32_t pause_us = std::clamp<uint32_t>(wire_time_us(missing, port_.rate()), 1000, 10000);
  const TimePoint until = std::min(deadline, platform::Clock::now() + std::chrono::microseconds(pause_us));
  return port_.wait_for(queued + missing, until);
}

std::optional<size_t> PortChannel::receive_long(uint8_t* buffer, size_t len, TimePoint deadline) {
  // The answer is moved into the buffer as it arrives, so that a 136-byte
  // error answer can be told from a long answer that is still coming. The
  // queue count comes from the last wait; only what a look finds changes
  // it, so no call asks the port for what is already known.
  const size_t expected = len + kLongFrameOverhead;
  uint8_t* frame = buffer + kDatagramPrefix;
  const size_t capacity = kLongBufferSize - kDatagramPrefix;
  size_t have = 0;
  size_t have_before_pause = static_cast<size_t>(-1);
  // Right after the send nothing is there yet: the first look is a wait.
  std::optional<size_t> queued = pause_between_polls(0, expected, deadline);
  for (;;) {
    if (!queued) return std::nullopt;  // the port has failed
    if (*queued > 0 && have < capacity) {
      const size_t got = take(frame + have, std::min(*queued, capacity - have));
      have += got;
      *queued -= std::min(*queued, got);
      port_.clear_errors();
    }
    const size_t total = have + *queued;
    if (total == expected) {
      // All of it is there; a queue smaller than the answer (a port set up
      // by the device search has room for 300 bytes) hands it over in
      // pieces.
      while (have < expected) {
        const size_t got = take(frame + have, expected - have);
        have += got;
        if (got == 0) {
          auto left = port_.bytes_waiting();
          if (!left || *left == 0) break;
        }
      }
      port_.clear_errors();
      return have;
    }
    if (total > expected) break;
    // An error answer: 136 complete bytes that have stopped growing.
    if (total == kShortFrameSize && complete_short_frame(frame) && have_before_pause == have) return have;
    if (platform::Clock::now() >= deadline) {
      if (total == kShortFrameSize) return have;  // judged by the checks
      if (total == 0) return std::nullopt;
      break;
    }
    have_before_pause = have;
    queued = pause_between_polls(*queued, expected - total, deadline);
  }
  discard_input();
  return std::nullopt;
}

}  // namespace lyralink::link
