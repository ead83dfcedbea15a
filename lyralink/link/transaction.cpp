// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/transaction.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <variant>

#include "lyralink/link/channels.h"
#include "lyralink/link/wire_log.h"

namespace lyralink::link {

namespace {

// The channel of the open link, built on the stack for one transaction.
class ActiveChannel {
 public:
  explicit ActiveChannel(LinkState& s) {
    switch (s.channel()) {
      case Channel::serial: channel_.emplace<SerialChannel>(*s.serial_port, s.baud_rate); break;
      case Channel::usb:
        channel_.emplace<UsbChannel>(s.usb_library.fn(), s.usb_handle, s.baud_rate);
        break;
      case Channel::ethernet:
        channel_.emplace<EthernetChannel>(*s.udp_socket, s.device_address, s.device_udp_port,
                                          s.answer_may_be_late);
        break;
      case Channel::multiplex: channel_.emplace<MultiplexChannel>(s.multiplex, s.answer_timeout); break;
      case Channel::none: break;
    }
  }
  TransactionChannel* get() {
    return std::visit(
        [](auto& c) -> TransactionChannel* {
          if constexpr (std::is_same_v<std::decay_t<decltype(c)>, std::monostate>) {
            return nullptr;
          } else {
            return &c;
          }
        },
        channel_);
  }

 private:
  std::variant<std::monostate, SerialChannel, UsbChannel, EthernetChannel, MultiplexChannel> channel_;
};

// The retry loop, the same for short and long transactions: each attempt
// holds the transaction lock (if the link has one) around send and receive;
// status 0 ends the loop, and so does 7, which is never retried.
// With the wire log on, every attempt's frames are recorded and written
// after the attempt, outside the transaction lock, with its status.
template <class Attempt>
Status run_attempts(LinkState& s, TransactionChannel& channel, Attempt attempt) {
  const uint32_t attempts = std::max<uint32_t>(s.retry_count, 1);
  WireLog& log = wire_log();
  std::optional<AttemptTrace> trace;
  if (log.enabled()) {
    trace.emplace();
    channel.set_trace(&*trace);
  }
  uint32_t attempts_left = attempts;
  Status result = status::ok;
  while (attempts_left > 0 && result != status::device_error_aaae) {
    if (s.transaction_lock) s.transaction_lock->lock();
    result = attempt();
    if (s.transaction_lock) {
      s.transaction_lock->unlock();
      // Give a process waiting for the lock the chance to take it before
      // this one asks again. Without a lock nobody waits for this yield.
      platform::yield_processor();
    }
    --attempts_left;
    if (trace) {
      log.write_attempt(s, *trace, attempts - attempts_left, attempts, result);
      trace->clear();
    }
    if (result == status::ok) return status::ok;
  }
  return result;
}

}  // namespace

Status short_transaction(LinkState& s) {
  ActiveChannel active(s);
  TransactionChannel* channel = active.get();
  if (channel == nullptr) return status::no_link;
  const Status outcome = run_attempts(s, *channel, [&]() -> Status {
    channel->send(s.command, kShortFrameSize);
    uint8_t* frame = s.short_frame();
    // Clear sync and end word so that an old answer never passes.
    put_u16(frame, 0);
    put_u16(frame + kEndOffset, 0);
    platform::TimePoint deadline = platform::deadline_after_ms(s.answer_timeout);
    if (!channel->receive_short(s.answer_area.data(), deadline)) return status::no_valid_answer;
    return check_short_answer(frame, s.command);
  });
  s.answer_may_be_late = outcome != status::ok;
  return outcome;
}

Status long_transaction(LinkState& s, uint8_t* destination, size_t len) {
  if (len == 0 || len % 2 != 0 || len > kMaxLongDataLength) return status::no_valid_answer;
  ActiveChannel active(s);
  TransactionChannel* channel = active.get();
  if (channel == nullptr) return status::no_link;
  uint8_t buffer[kLongBufferSize];
  const Status outcome = run_attempts(s, *channel, [&]() -> Status {
    channel->send(s.command, len + kLongFrameOverhead);
    std::memset(buffer, 0, sizeof buffer);
    platform::TimePoint deadline = platform::deadline_after_ms(s.answer_timeout);
    std::optional<size_t> frame_size = channel->receive_long(buffer, len, deadline);
    // A datagram larger than the buffer was cut short: a wrong length.
    if (!frame_size || *frame_size > kLongBufferSize - kDatagramPrefix) return status::no_valid_answer;
    const uint8_t* frame = buffer + kDatagramPrefix;
    Status result = check_long_answer(frame, *frame_size, len, s.command);
    if (result == status::ok && destination != nullptr) std::memcpy(destination, frame + 2, len);
    return result;
  });
  s.answer_may_be_late = outcome != status::ok;
  return outcome;
}

}  // namespace lyralink::link
