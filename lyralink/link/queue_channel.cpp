// SPDX-License-Identifier: LGPL-2.1-or-later
#include <algorithm>

#include "lyralink/link/channels.h"
#include "platform/serial_port.h"

namespace lyralink::link {

uint32_t wire_time_us(size_t n, uint32_t baud) {
  if (baud == 0) baud = 38400;
  uint64_t us = static_cast<uint64_t>(n) * 10u * 1000000u / baud;
  return us > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
}

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

void QueueChannel::discard_input(size_t piece) {
  uint8_t scratch[kLongBufferSize];
  piece = std::min(piece, sizeof scratch);
  // A device that keeps talking would keep this loop going for ever; stop
  // after what a fast line carries in a few seconds.
  size_t budget = 1u << 20;
  while (budget > 0) {
    auto count = bytes_waiting();
    if (!count || *count == 0) return;
    size_t got = take(scratch, std::min(*count, piece));
    if (got == 0) return;
    budget -= std::min(budget, got);
  }
}

bool QueueChannel::receive_short(uint8_t* area, TimePoint deadline) {
  auto count = wait_for_bytes(kShortFrameSize, deadline);
  if (!count) return false;  // the queue query failed
  if (*count == kShortFrameSize) {
    if (take(area + kDatagramPrefix, kShortFrameSize) != kShortFrameSize) return false;
    after_read();
    return true;
  }
  // Nothing, or a wrong number of bytes: drop them so that the next attempt
  // starts with an empty queue.
  if (*count != 0) discard_input(kShortFrameSize);
  return false;
}

std::optional<size_t> QueueChannel::receive_long(uint8_t* buffer, size_t len, TimePoint deadline) {
  // The answer is moved into the buffer as it arrives, so that a 136-byte
  // error answer can be told from a long answer that is still coming.
  const size_t expected = len + kLongFrameOverhead;
  uint8_t* frame = buffer + kDatagramPrefix;
  const size_t capacity = kLongBufferSize - kDatagramPrefix;
  size_t have = 0;
  size_t have_before_pause = static_cast<size_t>(-1);
  for (;;) {
    auto count = bytes_waiting();
    if (!count) return std::nullopt;  // the queue query failed
    if (*count > 0 && have < capacity) {
      have += take(frame + have, std::min(*count, capacity - have));
      after_read();
      count = bytes_waiting();
      if (!count) return std::nullopt;
    }
    const size_t total = have + *count;
    if (total == expected) {
      // All of it is there; a queue smaller than the answer (a port set up
      // by the device search has room for 300 bytes) hands it over in
      // pieces.
      while (have < expected) {
        const size_t got = take(frame + have, expected - have);
        have += got;
        if (got == 0) {
          count = bytes_waiting();
          if (!count || *count == 0) break;
        }
      }
      after_read();
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
    pause_between_polls(expected - total, deadline);
  }
  discard_input(kLongBufferSize);
  return std::nullopt;
}

// ---- serial port ----

void SerialChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  // The device speaks only when spoken to, so anything queued now is a late
  // answer to an earlier attempt; dropping it keeps answers paired with
  // their requests.
  discard_input(kLongBufferSize);
  const TimePoint when = trace_time();
  (void)port_.write(frame.data(), kCommandFrameSize);
  trace_sent(frame.data(), kCommandFrameSize, when);
}

std::optional<size_t> SerialChannel::bytes_waiting() { return port_.bytes_waiting(); }

size_t SerialChannel::read(uint8_t* buf, size_t n) { return port_.read(buf, n); }

void SerialChannel::after_read() { port_.clear_errors(); }

std::optional<size_t> SerialChannel::wait_for_bytes(size_t want, TimePoint deadline) {
  // Sleeps in poll() until bytes arrive; wakes for every new piece.
  return port_.wait_for_input(want, deadline);
}

void SerialChannel::pause_between_polls(size_t missing, TimePoint deadline) {
  // At most 10 ms between two looks at a long answer, as the analysers'
  // hosts have always polled; but the pause ends as soon as the missing
  // bytes have arrived, or when they can have come at the line's rate (at
  // least 1 ms, so a device that has stopped talking is not polled in a
  // tight loop). On a fast line the answer is then read within about a
  // millisecond of its last byte, not on the next 10 ms tick.
  const uint32_t wire_us = wire_time_us(missing, baud_);
  const uint32_t pause_us = std::clamp<uint32_t>(wire_us, 1000, 10000);
  const TimePoint until = std::min(deadline, platform::Clock::now() + std::chrono::microseconds(pause_us));
  const size_t queued = port_.bytes_waiting().value_or(0);
  (void)port_.wait_for_input(queued + missing, until);
}

}  // namespace lyralink::link
