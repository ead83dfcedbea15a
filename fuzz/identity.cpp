// SPDX-License-Identifier: LGPL-2.1-or-later
// The identity answer of an analyser and the measuring head's answer: the
// frame checks, the fields read from them, the list texts built from them
// (bounded copies into the device entry's fields), the receive windows
// that collect the answers and the head listener, as the searches use
// them.
//
// The windows run on a scripted datagram port with a clock of its own, so
// that a window of a second costs nothing.
//   u8   flags: bit 0 frame checked against the 310 probe (else 740),
//        bit 1 the window recreates on a refused datagram
//   u8 x 4  admission: admit 310, admit 740; u16 minimum 310 and 740 firmware
//   text    where the analyser was found (an address, "USB" or "COMn")
//   piece   a 136-byte identity frame (shorter pieces are zero-filled)
//   then datagrams for the receive window and the head listener: u8 sender
//   (address index), u8 port (0 the devices' port), u8 milliseconds before
//   it is taken, u8 error reported by the socket (1: ECONNREFUSED), piece.
#include <array>
#include <deque>

#include "fuzz/script.h"
#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/identity.h"

using namespace lyralink::discovery;
namespace plat = lyralink::platform;

namespace {

constexpr uint16_t kDevicePort = 50000;
const char* const kSenders[] = {"192.168.1.20", "192.168.1.21", "10.0.0.7", "127.0.0.1"};

struct Queued {
  std::vector<uint8_t> bytes;
  std::string address;
  uint16_t port;
  uint32_t delay_ms;
  bool refused;
};

// A socket whose datagrams come from the script and whose clock moves only
// when a datagram is taken or the port sleeps.
class ScriptedPort final : public DatagramPort {
 public:
  explicit ScriptedPort(lyrafuzz::Script& in) {
    for (int n = 0; n < 10 && !in.done(); ++n) {
      Queued q;
      q.address = kSenders[in.u8() % std::size(kSenders)];
      q.port = in.u8() == 0 ? kDevicePort : 50001;
      q.delay_ms = in.u8();
      q.refused = in.u8() == 1;
      q.bytes = in.piece();
      queue_.push_back(std::move(q));
    }
  }
  TimePoint now() override { return now_; }
  bool wait_readable(TimePoint deadline) override {
    if (!queue_.empty()) return true;
    now_ = std::max(now_, deadline);
    return false;
  }
  std::optional<plat::Datagram> peek(uint8_t* buf, size_t capacity) override { return copy(buf, capacity, false); }
  std::optional<plat::Datagram> receive(uint8_t* buf, size_t capacity) override { return copy(buf, capacity, true); }
  plat::ErrorKind take_pending_error() override {
    const plat::ErrorKind e = error_;
    error_ = plat::ErrorKind::none;
    return e;
  }
  void recreate() override {}
  void sleep_until(TimePoint deadline) override { now_ = std::max(now_, deadline); }

 private:
  std::optional<plat::Datagram> copy(uint8_t* buf, size_t capacity, bool take) {
    if (queue_.empty()) return std::nullopt;
    Queued& q = queue_.front();
    plat::Datagram d;
    d.size = q.bytes.size();
    d.copied = std::min(capacity, q.bytes.size());
    std::copy(q.bytes.begin(), q.bytes.begin() + static_cast<std::ptrdiff_t>(d.copied), buf);
    d.address = q.address;
    d.port = q.port;
    if (take) {
      now_ += std::chrono::milliseconds(q.delay_ms);
      if (q.refused) error_ = plat::ErrorKind::connection_refused;
      queue_.pop_front();
    }
    return d;
  }

  std::deque<Queued> queue_;
  TimePoint now_ = TimePoint{} + std::chrono::hours(1);
  plat::ErrorKind error_ = plat::ErrorKind::none;
};

DeviceEntry checked_entry(const std::string& text) {
  DeviceEntry e;
  e.set_list_text(text);
  if (e.list_text.size() >= kListTextSize) lyrafuzz::broken("list text longer than its field");
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyrafuzz::Script in(data, size);
  const uint8_t flags = in.u8();
  Admission admission;
  admission.admit_310 = in.u8() != 0;
  admission.admit_740 = in.u8() != 0;
  admission.min_fw_310 = in.u16();
  admission.min_fw_740 = in.u16();
  const std::string where = in.text();

  // One identity frame, as read from a serial port or a USB queue.
  std::vector<uint8_t> frame = in.piece();
  frame.resize(kIdentityAnswerSize, 0);
  const Probe& probe = (flags & 1) != 0 ? probe_310() : probe_740();
  DeviceList& list = device_list();
  list.clear();
  if (valid_identity_answer(frame.data(), probe)) {
    if ((flags & 1) != 0 && !answer_from_740(frame.data())) {
      const Identity310 id = read_310_fields(frame.data());
      DeviceEntry e = checked_entry(list_text_310(id.serial, where, id.firmware) + judge_310(id, admission).suffix);
      e.set_port_name(where);
      e.serial_number = id.serial;
      list.append(std::move(e));
    } else {
      const Identity740 id = read_740_fields(frame.data());
      DeviceEntry e = checked_entry(list_text_740(id.serial, where, id.firmware) + judge_740(id, admission).suffix);
      e.set_port_name(where);
      e.serial_number = id.serial;
      list.append(std::move(e));
    }
  }

  // The receive window of a search, then the head listener for each entry.
  ScriptedPort port(in);
  receive_window(port, WindowRules{kDevicePort, (flags & 2) != 0},
                 [&](const uint8_t* answer, const std::string& sender) {
                   const Identity740 id = read_740_fields(answer);
                   DeviceEntry e = checked_entry(ethernet_search_text(id.serial, sender, id.in_use()));
                   e.set_ip_address(sender);
                   e.serial_number = id.serial;
                   list.append(std::move(e));
                 });
  remove_duplicate_addresses(list);
  for (size_t i = 0; i < list.size(); ++i) {
    DeviceEntry& e = list.at(i);
    const std::string address = address_from_list_text(e.list_text);
    if (address.size() > 15) lyrafuzz::broken("address taken from a list text longer than 15");
    if (auto head = listen_for_head(port, address, kDevicePort)) e.set_list_text(head_text(*head, e.list_text));
  }
  for (const auto& e : list.entries()) (void)find_automatic(list, e.serial_number, 0xFFFF);

  // A head answer straight from the rest of the input.
  std::vector<uint8_t> head = in.rest();
  (void)parse_head_answer(head.data(), head.size());
  return 0;
}
