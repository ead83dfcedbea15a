/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// One device opened through the bridge library, seen as a receive queue:
// the calls the detection and the baud adjustment make on it.
//
// The library offers no event to wait on among the calls bound, so waits
// poll the queue count and sleep between polls for the time the missing
// bytes need on the wire, at least 1 ms and at most 2 ms (the driver hands
// received bytes over once per latency period, 2 ms or more, so polling
// more often finds nothing new); while nothing at all changes, the pause
// doubles up to 8 ms, so that a device that stays silent costs a few dozen
// wake-ups a second rather than a thousand.
#include <cstdint>
#include <optional>

#include "lyralink/discovery/identity.h"
#include "lyralink/link/bridge_library.h"
#include "platform/clock.h"

namespace lyralink::discovery {

class UsbQueue {
 public:
  UsbQueue(const link::BridgeFunctions& fn, link::FT_HANDLE handle, uint32_t rate = 38400)
      : fn_(fn), handle_(handle), rate_(rate) {}

  void set_rate(uint32_t rate) { rate_ = rate; }

  // Bytes waiting; nullopt when the query fails.
  std::optional<size_t> waiting();
  // Polls until at least `want` bytes wait or the deadline passes.
  std::optional<size_t> wait_for_at_least(size_t want, platform::TimePoint deadline);
  // Reads exactly n bytes; false on a failed or short read.
  bool read(uint8_t* buf, size_t n);
  bool write(const Probe& probe);
  // Reads and drops pieces of at most 1476 bytes until the query reports
  // nothing or fails (pausing 10 ms after each read when asked). True when
  // the last query succeeded.
  bool drain(bool pause);

 private:
  const link::BridgeFunctions& fn_;
  link::FT_HANDLE handle_;
  uint32_t rate_;
};

}  // namespace lyralink::discovery
