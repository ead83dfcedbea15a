// SPDX-License-Identifier: LGPL-2.1-or-later
// The receive path of an Ethernet link: datagrams of any size and from any
// sender reach the link's UDP socket, EthernetChannel picks the answer out
// of them, and the frame checks judge it as a transaction does.
//
// Real sockets on the loopback network: the library's socket, the device
// at 127.0.0.1, another port of the device's address and a stranger at
// 127.0.0.2. Every datagram is queued before the channel looks (the
// deadline has passed, so no wait blocks); after the send the channel
// reads again and again, as long as datagrams are queued, each read as one
// attempt of a transaction reads.
//   u8   flags: bit 0 long answer, bit 1 drop what is queued before the
//        first send, bit 2 the link's address written as "127.000.000.001"
//   u16  command code; u16 parameter word 1 (long length 2 * (1 + w % 732))
//   u8   how many of the datagrams (0-3) come before the command is sent
//   then datagrams: u8 sender (0 device, 1 device address on another
//   port, 2 stranger), u16 length, bytes; at most 12 of them.
#include <memory>

#include "fuzz/script.h"
#include "lyralink/link/channels.h"
#include "platform/udp_socket.h"

using namespace lyralink::link;
namespace plat = lyralink::platform;

namespace {

constexpr uint32_t kLoopback = 0x7F000001u;

struct Sockets {
  std::unique_ptr<plat::UdpSocket> library = plat::UdpSocket::create(0, "127.0.0.1");
  std::unique_ptr<plat::UdpSocket> device = plat::UdpSocket::create(0, "127.0.0.1");
  std::unique_ptr<plat::UdpSocket> other_port = plat::UdpSocket::create(0, "127.0.0.1");
  std::unique_ptr<plat::UdpSocket> stranger = plat::UdpSocket::create(0, "127.0.0.2");
  Sockets() {
    if (!library || !device || !other_port || !stranger) lyrafuzz::broken("no loopback sockets");
    library->set_receive_buffer(1 << 20);
  }
};

void drain(plat::UdpSocket& s) {
  uint8_t scratch[2048];
  while (s.receive_raw(scratch, sizeof scratch)) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sockets sockets;
  lyrafuzz::Script in(data, size);
  const uint8_t flags = in.u8();
  CommandFrame sent(in.u16());
  const uint16_t word = in.u16();
  sent.set_word(1, word);
  const bool long_answer = (flags & 1) != 0;
  const size_t len = 2 * (1 + word % (kMaxLongDataLength / 2));

  // Datagrams before the send are late answers of an earlier attempt.
  const uint8_t early = in.u8() % 4;
  size_t queued = 0;
  auto deliver = [&](int count) {
    for (int n = 0; n < count && !in.done(); ++n) {
      const uint8_t from = in.u8() % 3;
      const auto bytes = in.piece();
      plat::UdpSocket& s = from == 0 ? *sockets.device : from == 1 ? *sockets.other_port : *sockets.stranger;
      if (s.send_to(bytes.data(), bytes.size(), kLoopback, sockets.library->local_port())) ++queued;
    }
  };
  const std::string address = (flags & 4) != 0 ? "127.000.000.001" : "127.0.0.1";
  EthernetChannel channel(*sockets.library, address.c_str(), sockets.device->local_port(), (flags & 2) != 0);
  deliver(early);
  channel.send(sent, long_answer ? len + kLongFrameOverhead : kShortFrameSize);
  deliver(12 - early);
  const auto past = plat::Clock::now() - std::chrono::seconds(1);
  for (size_t attempt = 0; attempt <= queued; ++attempt) {
    if (long_answer) {
      auto buffer = std::make_unique<uint8_t[]>(kLongBufferSize);
      const std::optional<size_t> frame_size = channel.receive_long(buffer.get(), len, past);
      if (frame_size && *frame_size <= kLongBufferSize - kDatagramPrefix) {
        (void)check_long_answer(buffer.get() + kDatagramPrefix, *frame_size, len, sent);
      }
    } else {
      auto area = std::make_unique<uint8_t[]>(kAnswerAreaSize);
      if (channel.receive_short(area.get(), past)) (void)check_short_answer(area.get() + kDatagramPrefix, sent);
    }
  }
  drain(*sockets.library);
  drain(*sockets.device);
  return 0;
}
