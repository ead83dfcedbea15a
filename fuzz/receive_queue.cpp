// SPDX-License-Identifier: LGPL-2.1-or-later
// The receive path of a serial port or a direct USB device: a short, bulk
// or long answer taken from the port's receive queue by PortChannel (the
// code both kinds of port share) and judged by the frame checks, the way a
// transaction does it.
//
// The queue lives in memory and the input says what arrives in it:
//   u8   flags: bit 0 long answer, bit 1 the deadline has already passed
//   u16  command code sent; u16 parameter word 1 (a long answer's length
//        is 2 * (1 + word % 732) bytes)
//   then pieces (u16 length, bytes): one piece arrives whenever the channel
//   waits or pauses; length 0 is a poll that finds nothing new, 0xFFFF a
//   failed queue query. When the pieces run out the queue query fails, as
//   for a device that was unplugged.
#include <deque>
#include <memory>

#include "fuzz/script.h"
#include "lyralink/link/channels.h"

using namespace lyralink::link;

namespace {

class ScriptedPort final : public BytePort {
 public:
  explicit ScriptedPort(lyrafuzz::Script& in) : in_(in) {}

  std::optional<size_t> bytes_waiting() override {
    if (failed_) return std::nullopt;
    return queue_.size();
  }
  // Every wait lets the next piece arrive (a poll that finds something or
  // nothing), and goes on while fewer than `want` bytes are there.
  std::optional<size_t> wait_for(size_t want, TimePoint) override {
    do {
      if (!arrive()) break;
    } while (queue_.size() < want);
    return bytes_waiting();
  }
  size_t read(uint8_t* buf, size_t n) override {
    const size_t count = std::min(n, queue_.size());
    std::copy(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count), buf);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
  }
  size_t write(const uint8_t*, size_t n) override { return n; }
  bool set_rate(uint32_t) override { return true; }
  uint32_t rate() const override { return 3000000; }
  std::optional<ModemLines> modem_lines() override { return std::nullopt; }
  void set_modem_lines(std::optional<bool>, std::optional<bool>) override {}

 private:
  // The next piece of the script arrives; false once the queue has failed.
  bool arrive() {
    if (failed_) return false;
    if (in_.done()) {
      failed_ = true;
      return false;
    }
    const uint16_t n = in_.u16();
    if (n == 0xFFFF) {
      failed_ = true;
      return false;
    }
    const auto b = in_.bytes(n);
    queue_.insert(queue_.end(), b.begin(), b.end());
    return true;
  }

  lyrafuzz::Script& in_;
  std::deque<uint8_t> queue_;
  bool failed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyrafuzz::Script in(data, size);
  const uint8_t flags = in.u8();
  CommandFrame sent(in.u16());
  const uint16_t word = in.u16();
  sent.set_word(1, word);
  const auto deadline = (flags & 2) != 0 ? lyralink::platform::Clock::now() - std::chrono::seconds(1)
                                         : lyralink::platform::Clock::now() + std::chrono::hours(1);
  ScriptedPort port(in);
  PortChannel channel(port);
  if ((flags & 1) == 0) {
    // Exactly the answer area of the link state, so that the sanitizer sees
    // any access past it.
    auto area = std::make_unique<uint8_t[]>(kAnswerAreaSize);
    if (channel.receive_short(area.get(), deadline)) (void)check_short_answer(area.get() + kDatagramPrefix, sent);
    return 0;
  }
  const size_t len = 2 * (1 + word % (kMaxLongDataLength / 2));
  auto buffer = std::make_unique<uint8_t[]>(kLongBufferSize);
  const std::optional<size_t> frame_size = channel.receive_long(buffer.get(), len, deadline);
  if (!frame_size) return 0;
  if (*frame_size > kLongBufferSize - kDatagramPrefix) lyrafuzz::broken("receive_long reported more than its buffer");
  auto destination = std::make_unique<uint8_t[]>(len);
  if (check_long_answer(buffer.get() + kDatagramPrefix, *frame_size, len, sent) == status::ok) {
    std::copy(buffer.get() + kDatagramPrefix + 2, buffer.get() + kDatagramPrefix + 2 + len, destination.get());
  }
  return 0;
}
