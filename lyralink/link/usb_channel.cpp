// SPDX-License-Identifier: LGPL-2.1-or-later
#include <algorithm>

#include "lyralink/link/channels.h"

namespace lyralink::link {

// The bridge library offers no event to wait on among the calls we bind, so
// its queue is polled. Between polls the thread sleeps for the time the
// missing bytes need on the wire (at least 100 us, at most 2 ms): far from a
// busy spin, and never late by more than a fraction of a frame.

void UsbChannel::send(const CommandFrame& frame, size_t /*expected_answer_length*/) {
  discard_input(kLongBufferSize);  // late answers of an earlier attempt
  uint8_t bytes[kCommandFrameSize];
  std::copy(frame.data(), frame.data() + kCommandFrameSize, bytes);
  uint32_t written = 0;
  const TimePoint when = trace_time();
  (void)fn_.FT_Write(handle_, bytes, kCommandFrameSize, &written);
  trace_sent(frame.data(), kCommandFrameSize, when);
}

std::optional<size_t> UsbChannel::bytes_waiting() {
  uint32_t waiting = 0;
  if (fn_.FT_GetQueueStatus(handle_, &waiting) != FT_OK) return std::nullopt;
  return waiting;
}

size_t UsbChannel::read(uint8_t* buf, size_t n) {
  uint32_t got = 0;
  if (fn_.FT_Read(handle_, buf, static_cast<uint32_t>(n), &got) != FT_OK) return 0;
  return std::min<size_t>(got, n);
}

void UsbChannel::pause_between_polls(size_t missing, TimePoint deadline) {
  uint32_t pause = std::clamp<uint32_t>(wire_time_us(std::max<size_t>(missing, 8), baud_), 100, 2000);
  int left_ms = platform::milliseconds_until(deadline);
  platform::sleep_us(std::min<uint32_t>(pause, static_cast<uint32_t>(left_ms) * 1000u + 100u));
}

std::optional<size_t> UsbChannel::wait_for_bytes(size_t want, TimePoint deadline) {
  for (;;) {
    auto count = bytes_waiting();
    if (!count) return std::nullopt;
    if (*count >= want || platform::Clock::now() >= deadline) return count;
    pause_between_polls(want - *count, deadline);
  }
}

}  // namespace lyralink::link
