// PLACEHOLDER: replaced by the win-serial branch
// SPDX-License-Identifier: LGPL-2.1-or-later
// Event waits are not yet implemented on Windows: nothing is ever ready,
// and termination requests cannot be taken over.
#include "platform/clock.h"
#include "platform/event_wait.h"

namespace lyralink::platform {

std::vector<size_t> wait_readable(const std::vector<Waitable>&, std::optional<TimePoint> deadline) {
  if (deadline) sleep_ms(static_cast<uint32_t>(milliseconds_until(*deadline)));
  return {};
}

Waitable standard_input() { return Waitable{}; }

long read_some(Waitable, void*, size_t) { return -1; }

struct TerminationRequests::Impl {};

TerminationRequests::TerminationRequests(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TerminationRequests::~TerminationRequests() = default;
std::unique_ptr<TerminationRequests> TerminationRequests::take_over() { return nullptr; }
Waitable TerminationRequests::waitable() const { return Waitable{}; }
std::optional<int> TerminationRequests::take() { return std::nullopt; }

}  // namespace lyralink::platform
