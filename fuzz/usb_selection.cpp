// SPDX-License-Identifier: LGPL-2.1-or-later
// What the device selection reads from the USB bridge's driver library:
// each device's description (any bytes, terminated or not, up to the whole
// buffer the selection hands over), the device type it stands for, and the
// identity answers read from the device's receive queue (counts, short or
// failed reads, a driver that reports more bytes than it was asked for),
// up to the entry the device list gets, all through the search's own
// functions over a real UsbBytePort. Then the link's own channel reads a
// short or long answer from the same port.
//
// The driver library is a table of functions (link::BridgeFunctions); here
// every one of them answers from the script:
//   u8   flags: bit 0-1 number of devices - 1, bit 2 the link reads a long
//        answer, bit 3 the entry is for the 310 family's admission
//   u16  the link's command code; u16 its parameter word 1
//   then, call by call in the order the code makes them:
//   FT_ListDevices: u8 status (0 ok), piece written into the buffer
//   FT_GetQueueStatus: u8 (0xFF: the call fails), u16 count
//   FT_Read: u8 status (0 ok, 1 ok but reports the piece's length as
//            read), piece (as much as fits is copied)
//   FT_Write: u8 status
// When the script ends every call fails.
#include <cstring>
#include <memory>

#include "fuzz/script.h"
#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/selection.h"
#include "lyralink/discovery/usb_devices.h"
#include "lyralink/link/channels.h"
#include "lyralink/link/usb_byte_port.h"

using namespace lyralink;
using namespace lyralink::discovery;
using link::FT_HANDLE;
using link::FT_STATUS;

namespace {

lyrafuzz::Script* script = nullptr;
constexpr FT_STATUS kFailed = 4;  // FT_IO_ERROR
constexpr size_t kDescriptionBuffer = 256;  // what device_description hands over

FT_STATUS list_devices(void*, void* buffer, uint32_t flags) {
  if (script->done()) return kFailed;
  const uint8_t status = script->u8();
  const auto text = script->piece();
  if (status != 0) return status;
  if ((flags & link::FT_LIST_BY_INDEX) != 0 && !text.empty()) {
    std::memcpy(buffer, text.data(), std::min(text.size(), kDescriptionBuffer));
  }
  return link::FT_OK;
}

FT_STATUS queue_status(FT_HANDLE, uint32_t* waiting) {
  if (script->done() || script->u8() == 0xFF) return kFailed;
  *waiting = script->u16();
  return link::FT_OK;
}

FT_STATUS read(FT_HANDLE, void* buffer, uint32_t length, uint32_t* returned) {
  if (script->done()) return kFailed;
  const uint8_t status = script->u8();
  const auto bytes = script->piece();
  if (status > 1) return status;
  const size_t copied = std::min<size_t>(bytes.size(), length);
  if (copied > 0) std::memcpy(buffer, bytes.data(), copied);
  *returned = static_cast<uint32_t>(status == 1 ? bytes.size() : copied);
  return link::FT_OK;
}

FT_STATUS write(FT_HANDLE, void*, uint32_t length, uint32_t* written) {
  if (script->done()) return kFailed;
  *written = length;
  return script->u8();
}

FT_STATUS refused(FT_HANDLE) { return kFailed; }

link::BridgeFunctions scripted_library() {
  link::BridgeFunctions fn{};
  fn.FT_ListDevices = list_devices;
  fn.FT_GetQueueStatus = queue_status;
  fn.FT_Read = read;
  fn.FT_Write = write;
  fn.FT_Close = refused;  // the port closes its device when it goes
  return fn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyrafuzz::Script in(data, size);
  script = &in;
  const link::BridgeFunctions fn = scripted_library();
  link::BridgeLibrary library(fn);
  const uint8_t flags = in.u8();
  link::CommandFrame sent(in.u16());
  const uint16_t word = in.u16();
  sent.set_word(1, word);
  Admission admission;
  admission.admit_310 = (flags & 8) != 0;

  DeviceList list;
  int handle_tag = 0;
  for (int i = 0; i <= (flags & 3); ++i) {
    auto description = device_description(fn, i);
    if (!description) continue;
    if (description->size() >= kDescriptionBuffer) lyrafuzz::broken("description read past its buffer");
    const uint32_t type = device_type_code(*description);
    auto port = link::UsbBytePort::adopt(library, &handle_tag, 38400);
    const Probe& probe = in_740_family(type) ? probe_740() : probe_310();
    if (port->write(probe.data(), probe.size()) != probe.size()) continue;
    auto frame = std::make_unique<uint8_t[]>(kIdentityAnswerSize);
    const PortPlace place{true, type, 0};
    // No retry waits: the script answers at once or never.
    const FirstAnswer first = read_first_answer(*port, probe, frame.get(), 0);
    DeviceEntry e;
    if (first == FirstAnswer::silent) {
      auto inoperable = inoperable_entry(type);
      if (!inoperable) continue;
      e = std::move(*inoperable);
    } else if (first == FirstAnswer::none) {
      continue;
    } else if (&probe == &probe_740()) {
      e = answer_entry(place, frame.get(), true, admission);
    } else if (!answer_from_740(frame.get())) {
      e = answer_entry(place, frame.get(), false, admission);
    } else {
      if (port->write(probe_740().data(), probe_740().size()) != probe_740().size()) continue;
      if (!read_second_answer(*port, platform::Clock::now(), frame.get())) continue;
      e = answer_entry(place, frame.get(), true, admission);
    }
    list.append(std::move(e));
  }
  (void)find_automatic(list, list.empty() ? 0 : list.at(0).serial_number, 0xFFFF);

  // The link's channel on a device opened directly.
  auto port = link::UsbBytePort::adopt(library, &handle_tag, 38400);
  link::PortChannel channel(*port);
  const auto past = platform::Clock::now() - std::chrono::seconds(1);
  channel.send(sent, link::kShortFrameSize);
  if ((flags & 4) == 0) {
    auto area = std::make_unique<uint8_t[]>(link::kAnswerAreaSize);
    if (channel.receive_short(area.get(), past)) (void)link::check_short_answer(area.get() + 2, sent);
  } else {
    const size_t len = 2 * (1 + word % (link::kMaxLongDataLength / 2));
    auto buffer = std::make_unique<uint8_t[]>(link::kLongBufferSize);
    auto frame_size = channel.receive_long(buffer.get(), len, past);
    if (frame_size && *frame_size > link::kLongBufferSize - link::kDatagramPrefix) {
      lyrafuzz::broken("receive_long reported more than its buffer");
    }
    if (frame_size) (void)link::check_long_answer(buffer.get() + 2, *frame_size, len, sent);
  }
  script = nullptr;
  return 0;
}
