// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/usb_queue.h"

#include <algorithm>

#include "lyralink/link/channels.h"

namespace lyralink::discovery {

namespace {
constexpr size_t kPiece = 1476;
// A device that keeps sending would keep a drain going for ever; stop after
// what a fast line carries in a few seconds.
constexpr size_t kDrainBudget = 1u << 20;
}  // namespace

std::optional<size_t> UsbQueue::waiting() {
  uint32_t n = 0;
  if (fn_.FT_GetQueueStatus(handle_, &n) != link::FT_OK) return std::nullopt;
  return n;
}

std::optional<size_t> UsbQueue::wait_for_at_least(size_t want, platform::TimePoint deadline) {
  std::optional<size_t> before;
  uint32_t pause = 0;
  for (;;) {
    auto n = waiting();
    if (!n) return std::nullopt;
    if (*n >= want || platform::Clock::now() >= deadline) return n;
    if (before != n) {
      pause = std::clamp<uint32_t>(link::wire_time_us(want - *n, rate_), 1000, 2000);
    } else {
      // Nothing new since the last look: the device has not begun to answer
      // (or never will); look less often, up to every 8 ms.
      pause = std::min<uint32_t>(pause * 2, 8000);
    }
    before = n;
    const int left_ms = platform::milliseconds_until(deadline);
    platform::sleep_us(std::min<uint32_t>(pause, static_cast<uint32_t>(left_ms) * 1000u + 100u));
  }
}

bool UsbQueue::read(uint8_t* buf, size_t n) {
  uint32_t got = 0;
  if (fn_.FT_Read(handle_, buf, static_cast<uint32_t>(n), &got) != link::FT_OK) return false;
  return got == n;
}

bool UsbQueue::write(const Probe& probe) {
  Probe copy = probe;  // the library's write takes a mutable buffer
  uint32_t written = 0;
  return fn_.FT_Write(handle_, copy.data(), static_cast<uint32_t>(copy.size()), &written) == link::FT_OK;
}

bool UsbQueue::drain(bool pause) {
  uint8_t scratch[kPiece];
  size_t budget = kDrainBudget;
  for (;;) {
    auto n = waiting();
    if (!n) return false;
    if (*n == 0 || budget == 0) return true;
    const size_t piece = std::min(*n, sizeof scratch);
    uint32_t got = 0;
    if (fn_.FT_Read(handle_, scratch, static_cast<uint32_t>(piece), &got) != link::FT_OK || got == 0) return true;
    budget -= std::min<size_t>(budget, got);
    if (pause) platform::sleep_ms(10);
  }
}

}  // namespace lyralink::discovery
