#include <algorithm>

#include "lyralink/link/channels.h"
#include "platform/serial_port.h"

namespace lyralink::link {

uint32_t wire_time_us(size_t n, uint32_t baud) {
  if (baud == 0) baud = 38400;
  uint64_t us = static_cast<uint64_t>(n) * 10u * 1000000u / baud;
  return us > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
}

void QueueChannel::discard_input(size_t piece) {
  uint8_t scratch[kLongBufferSize];
  piece = std::min(piece, sizeof scratch);
  // A device that keeps talking would keep this loop going for ever; stop
  // after what a fast line can carry in a couple of seconds.
  size_t budget = 1u << 20;
  while (budget > 0) {
    auto count = bytes_waiting();
    if (!count || *count == 0) return;
    size_t got = read(scratch, std::min(*count, piece));
    if (got == 0) return;
    budget -= std::min(budget, got);
  }
}

bool QueueChannel::receive_short(uint8_t* area, TimePoint deadline) {
  auto count = wait_for_bytes(kShortFrameSize, kShortFrameSize, deadline, false);
  if (!count) return false;  // the queue query failed
  if (*count == kShortFrameSize) {
    if (read(area + kDatagramPrefix, kShortFrameSize) != kShortFrameSize) return false;
    after_read();
    return true;
  }
  if (*count != 0) discard_input(kShortFrameSize);
  return false;
}

std::optional<size_t> QueueChannel::receive_long(uint8_t* buffer, size_t len, TimePoint deadline) {
  const size_t expected = len + kLongFrameOverhead;
  auto count = wait_for_bytes(expected, kShortFrameSize, deadline, true);
  if (!count) return std::nullopt;
  if (*count == expected || *count == kShortFrameSize) {
    size_t got = read(buffer + kDatagramPrefix, *count);
    after_read();
    return got;
  }
  if (*count != 0) discard_input(kLongBufferSize);
  return std::nullopt;
}

// ---- serial port ----

void SerialChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  // The device speaks only when spoken to, so anything queued now is a late
  // answer to an earlier attempt; dropping it keeps answers paired with
  // their requests.
  discard_input(kLongBufferSize);
  (void)port_.write(frame.data(), kCommandFrameSize);
}

std::optional<size_t> SerialChannel::bytes_waiting() { return port_.bytes_waiting(); }

size_t SerialChannel::read(uint8_t* buf, size_t n) { return port_.read(buf, n); }

void SerialChannel::after_read() { port_.clear_errors(); }

std::optional<size_t> SerialChannel::wait_for_bytes(size_t want, size_t alternative, TimePoint deadline,
                                                    bool long_answer) {
  if (!long_answer) {
    // Sleeps in poll() until bytes arrive; wakes for every new piece.
    return port_.wait_for_input(want, deadline);
  }
  // Long answers are polled every 10 ms, as the device firmware expects of
  // its hosts; an answer of `alternative` bytes (an error answer) counts only
  // once the line has stayed quiet, so that a long answer passing that size
  // on its way is not mistaken for one.
  const uint32_t baud = port_.current_baud().value_or(0);
  size_t last = static_cast<size_t>(-1);
  for (;;) {
    platform::sleep_ms(10);
    auto count = port_.bytes_waiting();
    if (!count) return std::nullopt;
    if (*count >= want) return count;
    if (*count == alternative && last == alternative) return count;
    if (platform::Clock::now() >= deadline) return count;
    if (*count == alternative && wire_time_us(8, baud) > 10000) {
      // On a slow line 10 ms may pass without a byte; wait a few byte
      // times more before judging the line quiet.
      platform::sleep_us(std::min<uint32_t>(wire_time_us(8, baud), 200000));
    }
    last = *count;
  }
}

}  // namespace lyralink::link
