// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/selection.h"

#include <array>
#include <cstring>
#include <memory>

#include "lyralink/discovery/baud_adjustment.h"
#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/special_ips.h"
#include "lyralink/discovery/usb_devices.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"

namespace lyralink::discovery {

namespace {

constexpr int32_t kUndecided = -1;

// The defaults of the selection parameter block, as the bytes a caller
// would pass.
std::array<uint8_t, kSelectionBlockSize> default_block() {
  std::array<uint8_t, kSelectionBlockSize> b{};
  put_u16(&b[0], kSelectionBlockSize);
  put_u16(&b[2], 0);        // wanted serial number
  put_u16(&b[4], 0);        // admit 310
  put_u16(&b[6], 0xFFFF);   // minimum 310 firmware
  put_u16(&b[8], 0xFFFF);   // admit 740
  put_u16(&b[10], 0x1116);  // minimum 740 firmware
  put_u16(&b[12], 0);       // splash
  put_u16(&b[14], 0xFFFF);  // dialogs
  put_u16(&b[16], 0xFFFF);  // port filter
  return b;
}

}  // namespace

SelectionParameters read_selection_block(const uint8_t* block) {
  std::array<uint8_t, kSelectionBlockSize> b = default_block();
  SelectionParameters p;
  if (block != nullptr) {
    p.caller_block = true;
    p.caller_length = get_u16(block);
    std::memcpy(b.data(), block, std::min<size_t>(p.caller_length, kSelectionBlockSize));
  }
  p.wanted_serial = get_u16(&b[2]);
  p.admission.admit_310 = get_u16(&b[4]) != 0;
  p.admission.min_fw_310 = get_u16(&b[6]);
  p.admission.admit_740 = get_u16(&b[8]) != 0;
  p.admission.min_fw_740 = get_u16(&b[10]);
  p.splash = get_u16(&b[12]) != 0;
  p.dialogs = get_u16(&b[14]) != 0;
  p.port_filter = get_u16(&b[16]);
  return p;
}

void write_chosen_port(uint8_t* block, const SelectionParameters& p, uint16_t port_id) {
  if (block != nullptr && p.caller_block && p.caller_length >= 18) put_u16(block + 16, port_id);
}

void write_chosen_baud(uint8_t* block, const SelectionParameters& p, uint32_t baud) {
  if (block != nullptr && p.caller_block && p.caller_length >= 22) put_u32(block + 20, baud);
}

namespace {
std::string com_name(int n) { return "COM" + std::to_string(n); }
}  // namespace

// ---- one port's answers ----

std::string PortPlace::where() const { return usb ? "USB" : com_name(com); }

uint16_t PortPlace::port_id(bool answer_740, uint16_t variant) const {
  if (!usb) return static_cast<uint16_t>(com);
  return answer_740 ? usb_port_id_740(usb_type, variant) : usb_port_id_310(usb_type);
}

// An identity answer's entry: its list text with the judgement's suffix.
template <typename Identity>
static DeviceEntry judged_entry(const Identity& id, const Judgement& j, const std::string& text, DeviceEntry e) {
  e.set_list_text(text + j.suffix);
  e.serial_number = id.serial;
  e.applicable = j.applicable ? 1 : 0;
  return e;
}

DeviceEntry entry_740(const uint8_t* frame, const std::string& where, const Admission& admission, DeviceEntry e) {
  const Identity740 id = read_740_fields(frame);
  return judged_entry(id, judge_740(id, admission), list_text_740(id.serial, where, id.firmware), std::move(e));
}

DeviceEntry entry_310(const uint8_t* frame, const std::string& where, const Admission& admission, DeviceEntry e) {
  const Identity310 id = read_310_fields(frame);
  return judged_entry(id, judge_310(id, admission), list_text_310(id.serial, where, id.firmware), std::move(e));
}

DeviceEntry answer_entry(const PortPlace& place, const uint8_t* frame, bool answer_740, const Admission& admission) {
  DeviceEntry e;
  e.set_port_name(place.where());
  e.port_id = place.port_id(answer_740, answer_740 ? read_740_fields(frame).variant : 0);
  return answer_740 ? entry_740(frame, place.where(), admission, std::move(e))
                    : entry_310(frame, place.where(), admission, std::move(e));
}

std::optional<DeviceEntry> inoperable_entry(uint32_t usb_type) {
  if (!in_740_family(usb_type) && !in_310_family(usb_type)) return std::nullopt;
  DeviceEntry e;
  e.inoperable = true;
  e.set_port_name("USB");
  e.set_list_text(in_740_family(usb_type) ? inoperable_text_740() : inoperable_text_310());
  return e;
}

FirstAnswer read_first_answer(link::BytePort& port, const Probe& probe, uint8_t* frame, uint32_t retry_wait_ms) {
  auto n = port.bytes_waiting();
  port.clear_errors();
  if (!n || *n == 0) return FirstAnswer::silent;
  if (*n == kIdentityAnswerSize && port.read_exactly(frame, kIdentityAnswerSize) &&
      valid_identity_answer(frame, probe)) {
    return FirstAnswer::answered;
  }
  bool query_ok = port.drain();
  for (uint32_t r = 0; r < kProbeRetries && query_ok; ++r) {
    if (port.write(probe.data(), probe.size()) != probe.size()) continue;  // a failed write uses up the retry
    auto c = port.wait_for(kIdentityAnswerSize, platform::deadline_after_ms(retry_wait_ms));
    if (!c) return FirstAnswer::none;  // given up
    if (*c == kIdentityAnswerSize && port.read_exactly(frame, kIdentityAnswerSize) &&
        valid_identity_answer(frame, probe)) {
      return FirstAnswer::answered;
    }
    query_ok = port.drain();
  }
  return FirstAnswer::none;
}

bool read_second_answer(link::BytePort& port, platform::TimePoint deadline, uint8_t* frame) {
  auto c = port.wait_for(kIdentityAnswerSize, deadline);
  return c && *c == kIdentityAnswerSize && port.read_exactly(frame, kIdentityAnswerSize) &&
         valid_identity_answer(frame, probe_740()) && read_740_fields(frame).word2 != 0;
}

// ---- the search result ----

size_t SearchResult::add_port(link::OwnedPort port) {
  ports_.emplace_back(std::move(port));
  return ports_.size() - 1;
}

link::BytePort* SearchResult::port(size_t index) const {
  if (index >= ports_.size() || !ports_[index]) return nullptr;
  return link::port_of(*ports_[index]);
}

std::optional<link::OwnedPort> SearchResult::take_port(const DeviceEntry& e) {
  if (!e.port_index || port(*e.port_index) == nullptr) return std::nullopt;
  std::optional<link::OwnedPort> taken = std::move(ports_[*e.port_index]);
  ports_[*e.port_index].reset();
  return taken;
}

void SearchResult::close_port(size_t index) {
  if (index < ports_.size()) ports_[index].reset();
}

void SearchResult::release() {
  // Whatever an analyser still sends is read first, so that it does not
  // wait in the driver for the next program that opens the port.
  for (auto& p : ports_) {
    if (!p) continue;
    (void)link::port_of(*p)->drain();
    p.reset();
  }
}

namespace {

// ---- one detection pass ----

// A port that was probed: where it is, which probe went out, and how its
// entry is named.
struct Probed {
  size_t port = 0;  // index in the result
  PortPlace place;
  const Probe* probe = nullptr;
};

class DetectionPass {
 public:
  DetectionPass(link::LinkState& s, const Admission& admission) : s_(s), admission_(admission) {}

  void probe_usb();
  void probe_serial();
  void ethernet(const std::string& special_ip);
  // The answers of the USB devices, then of the serial ports.
  void usb_answers() { answers(usb_); }
  void serial_answers() { answers(serial_); }

  SearchResult take_result() { return std::move(result_); }
  DeviceList& list() { return result_.list; }

 private:
  // Reads the answers of one group of ports (written once for serial ports
  // and USB devices) and appends an entry per analyser, in port order.
  void answers(const std::vector<Probed>& group);
  DeviceEntry entry_for(const Probed& p, const uint8_t* frame, bool answer_740) const;

  link::LinkState& s_;
  Admission admission_;
  SearchResult result_;
  std::vector<Probed> usb_;
  std::vector<Probed> serial_;
};

void DetectionPass::probe_usb() {
  link::BridgeLibrary& library = s_.usb_library();
  if (!library.loaded()) return;
  const link::BridgeFunctions& fn = library.fn();
  uint32_t count = 0;
  if (fn.FT_ListDevices(&count, nullptr, link::FT_LIST_NUMBER_ONLY) != link::FT_OK || count == 0) return;
  // A device just plugged in is listed before its description can be read;
  // give the driver up to 5 s until every device has one.
  const auto settle_until = platform::deadline_after_ms(kUsbSettlingMs);
  for (;;) {
    uint32_t described = 0;
    for (int i = 0; i < kMaxUsbDevices; ++i) described += device_description(fn, i) ? 1u : 0u;
    if (described >= count || platform::Clock::now() >= settle_until) break;
    platform::sleep_ms(static_cast<uint32_t>(std::min(10, platform::milliseconds_until(settle_until))));
  }
  const int limit = static_cast<int>(std::min<uint32_t>(count, kMaxUsbDevices));
  for (int i = 0; i < limit; ++i) {
    auto description = device_description(fn, i);
    if (!description) continue;
    const uint32_t type = device_type_code(*description);
    auto port = link::UsbBytePort::open(library, i);
    // A bridge without a virtual serial port is not an analyser's.
    if (!port || !port->com_port_number() || !port->configure(kDetectionBaud)) continue;
    const Probe* probe = in_740_family(type) ? &probe_740() : &probe_310();
    if (port->write(probe->data(), probe->size()) != probe->size()) continue;
    usb_.push_back(Probed{result_.add_port(std::move(port)), PortPlace{true, type, 0}, probe});
  }
}

void DetectionPass::probe_serial() {
  for (int n = 1; n <= kMaxComPort; ++n) {
    const std::string name = com_name(n);
    auto path = platform::resolve_serial_port(name);
    if (!path) continue;
    // Not shared: a port another program holds does not open, and is
    // therefore never listed.
    auto port = link::SerialBytePort::open_for_search(*path, name, kDetectionBaud);
    if (!port) continue;
    (void)port->write(probe_310().data(), probe_310().size());
    serial_.push_back(Probed{result_.add_port(std::move(port)), PortPlace{false, 0, n}, &probe_310()});
  }
}

void DetectionPass::ethernet(const std::string& special_ip) {
  LinkSocketPort port(s_);
  const WindowRules rules{s_.device_udp_port(), true};
  auto on_answer = [&](const uint8_t* frame, const std::string& sender) {
    DeviceEntry e;
    e.set_ip_address(sender);
    e.port_id = link::kPortIdEthernet;
    result_.list.append(entry_740(frame, sender, admission_, std::move(e)));
  };
  broadcast_probe(s_);
  receive_window(port, rules, on_answer);
  directed_probe(s_, special_ip);
  receive_window(port, rules, on_answer);
}

// The 740 probe for an MCA-740 that answered the 310 probe (0xFF in bytes
// 90-93): all of them go out before any answer is read, so that they answer
// in parallel.
struct Reprobe {
  const Probed* probed = nullptr;
  size_t slot = 0;
  platform::TimePoint deadline;
};

void DetectionPass::answers(const std::vector<Probed>& group) {
  std::vector<std::optional<DeviceEntry>> found(group.size());
  std::vector<Reprobe> reprobes;
  uint8_t frame[kIdentityAnswerSize];
  for (size_t i = 0; i < group.size(); ++i) {
    const Probed& p = group[i];
    link::BytePort* port = result_.port(p.port);
    if (port == nullptr) continue;
    const FirstAnswer first = read_first_answer(*port, *p.probe, frame);
    if (first == FirstAnswer::silent) {
      // A known analyser on USB that gives no bytes at all is listed, so
      // that the user sees it is there.
      result_.close_port(p.port);
      if (p.place.usb) found[i] = inoperable_entry(p.place.usb_type);
      continue;
    }
    if (first == FirstAnswer::none) continue;  // the port stays open until the release
    if (p.probe == &probe_740()) {
      found[i] = entry_for(p, frame, true);
    } else if (!answer_from_740(frame)) {
      found[i] = entry_for(p, frame, false);
    } else if (port->write(probe_740().data(), probe_740().size()) == probe_740().size()) {
      // An MCA-740 answers the 310 probe with 0xFF in bytes 90-93; its own
      // fields come with the 740 probe.
      reprobes.push_back({&p, i, platform::deadline_after_ms(kSecondProbeWaitMs)});
    } else {
      result_.close_port(p.port);
    }
  }
  for (const Reprobe& r : reprobes) {
    if (read_second_answer(*result_.port(r.probed->port), r.deadline, frame)) {
      found[r.slot] = entry_for(*r.probed, frame, true);
    } else {
      result_.close_port(r.probed->port);
    }
  }
  for (auto& e : found) {
    if (e) result_.list.append(std::move(*e));
  }
}

DeviceEntry DetectionPass::entry_for(const Probed& p, const uint8_t* frame, bool answer_740) const {
  DeviceEntry e = answer_entry(p.place, frame, answer_740, admission_);
  e.port_index = p.port;
  return e;
}

// The entry becomes the link. False when it names nothing to link to.
bool take_entry(link::LinkState& s, SearchResult& found, const DeviceEntry& e) {
  if (e.inoperable) return false;
  if (e.port_index) {
    auto port = found.take_port(e);
    if (!port) return false;
    link::adopt_port(s, std::move(*port), e.port_name, e.port_id);
    return true;
  }
  if (e.ip_address.empty()) return false;
  link::adopt_ethernet(s, e.ip_address);
  return true;
}

}  // namespace

SearchResult detect(link::LinkState& s, const Admission& admission, const std::string& special_ip) {
  (void)s.usb_library().load();  // absent or incomplete: no direct USB; the next search tries again
  // A socket that cannot be made (no descriptor left, a sandbox without
  // network) only means that no Ethernet analyser can answer; the serial
  // and USB searches run all the same, and the Ethernet windows still give
  // their answers the time to arrive.
  (void)link::prepare_udp_socket(s);
  DetectionPass pass(s, admission);
  pass.probe_usb();
  pass.probe_serial();
  // The analysers answer in parallel: the serial and USB answers wait in
  // the drivers' queues while the Ethernet windows run.
  pass.ethernet(special_ip);
  remove_duplicate_addresses(pass.list());
  pass.usb_answers();
  pass.serial_answers();
  return pass.take_result();
}

int16_t comm_init_select(link::LinkState& s, uint8_t* block, int32_t timeout, int32_t retries, void* owner) {
  SelectionParameters p = read_selection_block(block);
  if (s.link_open()) return 0;
  load_special_ips();

  Windows& windows = library_windows();
  std::string special_ip;
  int32_t result = kUndecided;
  bool first_pass = true;
  for (;;) {
    bool wait_shown = false;
    if (p.splash) {
      windows.show_splash_window();
    } else if (p.dialogs) {
      windows.show_wait_window(owner, first_pass ? "Detecting MCA's ..." : "Redetecting MCA's ...");
      wait_shown = true;
      if (!first_pass) platform::sleep_ms(kRedetectPauseMs);
    }
    s.set_timing(timeout, retries);
    SearchResult found = detect(s, p.admission, special_ip);
    if (p.splash) windows.close_splash_window();
    if (wait_shown) windows.close_wait_window();
    const DeviceList& list = found.list;

    bool taken = false;
    if (p.wanted_serial != 0 && result == kUndecided) {
      if (auto i = find_automatic(list, p.wanted_serial, p.port_filter); i && take_entry(s, found, list.at(*i))) {
        taken = true;
        result = 0;
        write_chosen_port(block, p, list.at(*i).port_id);
      }
    }
    if (p.dialogs && !taken) {
      std::vector<SelectionLine> lines;
      for (const auto& e : list.entries()) lines.push_back({e.list_text, e.applicable != 0});
      const int32_t chosen = windows.run_selection_dialog(owner, lines, special_ip);
      if (special_ip.size() > kSpecialIpLength) special_ip.resize(kSpecialIpLength);
      windows.repaint_window(owner);
      if (chosen >= 0 && static_cast<size_t>(chosen) < list.size() &&
          take_entry(s, found, list.at(static_cast<size_t>(chosen)))) {
        result = chosen;
        write_chosen_port(block, p, list.at(static_cast<size_t>(chosen)).port_id);
      } else {
        result = chosen == kDialogRedetect ? kDialogRedetect : kDialogCancel;
      }
    }
    found.release();
    // The ports are closed (or the link's now); the list stays for reading.
    DeviceList& kept = device_list();
    kept = std::move(found.list);
    for (auto& e : kept.entries()) e.port_index.reset();
    p.splash = false;
    p.wanted_serial = 0;
    first_pass = false;
    if (result != kDialogRedetect) break;
  }

  if (s.byte_port() != nullptr) write_chosen_baud(block, p, adjust_baud_rate(s, p.dialogs, owner));
  if (s.channel() == link::Channel::ethernet && special_ip == s.device_address()) remember_special_ip(special_ip);
  const link::Channel now = s.channel();
  return now == link::Channel::serial || now == link::Channel::usb || now == link::Channel::ethernet ? 1 : 0;
}

}  // namespace lyralink::discovery
