// SPDX-License-Identifier: LGPL-2.1-or-later
// lyrasim's side of the wire: whatever a client sends on a serial line
// (a byte stream cut into frames by the frame assembler, junk skipped) or
// in datagrams (one frame each), answered by the emulated analyser with
// the fault rules of the operator (--fault, or "fault RULE" on the
// control input) applied.
//
//   u8   flags: bit 0 an MCA-310 (else an MCA-740), bit 1 a measuring
//        head, bit 2 datagrams (else a serial byte stream)
//   u8   number of fault rules (at most 3), each a text (u8 length, bytes)
//   then pieces: u16 milliseconds since the previous piece, u16 length,
//   bytes; a serial piece is fed to the assembler, a datagram is a frame
//   when it has 12 bytes. At most 16 frames are answered an input (some
//   answers take the emulator a while to compute; more frames would only
//   make the run slower).
#include "fuzz/script.h"
#include "tools/lyrasim/device.h"
#include "tools/lyrasim/engine.h"

using namespace lyrasim;

namespace {

// Without fault rules every answer is a whole frame of the protocol: 136
// bytes, or a long answer's data block and its 14 bytes of frame.
void answer(Responder& responder, Analyser& device, const Command& cmd, SteadyClock::time_point now, bool faults) {
  auto reply = responder.answer(device, "COM3", cmd, now);
  if (!faults && (!reply || reply->bytes.size() < 136 || reply->bytes.size() % 2 != 0)) {
    lyrafuzz::broken("an answer that is no frame");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyrafuzz::Script in(data, size);
  const uint8_t flags = in.u8();
  Identity id;
  if ((flags & 1) != 0) id.model = Model::mca310;
  if ((flags & 2) != 0) {
    id.head = true;
    id.head_serial = 4711;
  }
  Analyser device(id);
  Responder responder;
  const uint8_t rules = in.u8() % 4;
  for (uint8_t r = 0; r < rules; ++r) {
    std::string error;
    if (auto rule = parse_fault(in.text(), &error)) {
      responder.add_fault(*rule);
    } else if (error.empty()) {
      lyrafuzz::broken("a fault rule refused without a reason");
    }
  }

  FrameAssembler assembler;
  SteadyClock::time_point now{std::chrono::hours(1)};
  int frames = 0;
  while (!in.done() && frames < 16) {
    now += std::chrono::milliseconds(in.u16());
    const auto bytes = in.piece();
    if ((flags & 4) != 0) {
      Command cmd;
      if (bytes.size() != cmd.raw.size()) continue;
      std::copy(bytes.begin(), bytes.end(), cmd.raw.begin());
      if (cmd.well_formed()) {
        answer(responder, device, cmd, now, rules > 0);
        ++frames;
      }
      continue;
    }
    assembler.feed(bytes.data(), bytes.size());
    std::vector<uint8_t> junk;
    while (frames < 16) {
      auto cmd = assembler.next(&junk);
      if (!cmd) break;
      if (!cmd->well_formed()) lyrafuzz::broken("the assembler passed on a frame without sync and end word");
      answer(responder, device, *cmd, now, rules > 0);
      ++frames;
    }
  }
  return 0;
}
