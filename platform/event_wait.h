/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Waiting on several descriptors at once, for the emulator and the server
// programs' event loops.
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/clock.h"

namespace lyralink::platform {

// Blocks until at least one descriptor is readable (or hung up), the
// deadline passes (nullopt: no deadline) or a signal arrives. Returns the
// indices of the descriptors that are ready; empty on time-out.
std::vector<size_t> wait_readable(const std::vector<int>& fds, std::optional<TimePoint> deadline);

// Blocks SIGINT, SIGTERM and SIGHUP for the process and returns a
// descriptor that becomes readable when one of them arrives; -1 on failure.
int termination_signal_fd();

// Reads what is there without blocking: >0 bytes read, 0 end of input,
// -1 nothing available now (or an error).
long read_some(int fd, void* buf, size_t n);

}  // namespace lyralink::platform
