// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/selection.h"

#include <array>
#include <cstring>
#include <memory>

#include "lyralink/discovery/baud_adjustment.h"
#include "lyralink/discovery/ethernet.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/special_ips.h"
#include "lyralink/discovery/usb_queue.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"

namespace lyralink::discovery {

namespace {

constexpr int32_t kUndecided = -1;
constexpr size_t kDrainPiece = 1476;

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

// ---- serial port helpers ----

// Reads and drops what is queued. True when the last query succeeded.
bool drain_serial(platform::SerialPort& port) {
  uint8_t scratch[kDrainPiece];
  for (size_t budget = 1u << 20; budget > 0;) {
    auto n = port.bytes_waiting();
    if (!n) return false;
    if (*n == 0) return true;
    const size_t got = port.read(scratch, std::min(*n, sizeof scratch));
    if (got == 0) return true;
    budget -= std::min(budget, got);
  }
  return true;
}

// Reads the 136 waiting bytes and clears the line's error state.
bool read_serial_answer(platform::SerialPort& port, uint8_t* frame) {
  const bool ok = port.read(frame, kIdentityAnswerSize) == kIdentityAnswerSize;
  port.clear_errors();
  return ok;
}

// Waits until exactly 136 bytes are queued, or the deadline. A count that
// has passed 136 can never come back to it, so the wait ends there too.
std::optional<size_t> wait_for_136(platform::SerialPort& port, platform::TimePoint deadline) {
  return port.wait_for_input(kIdentityAnswerSize, deadline);
}

std::string com_name(int n) { return "COM" + std::to_string(n); }

// ---- one detection pass ----

class DetectionPass {
 public:
  DetectionPass(link::LinkState& s, const Admission& admission) : s_(s), admission_(admission) {}
  ~DetectionPass() { release(); }
  DetectionPass(const DetectionPass&) = delete;
  DetectionPass& operator=(const DetectionPass&) = delete;

  void probe_usb();
  void probe_serial();
  void ethernet(DeviceList& list, const std::string& special_ip);
  void usb_answers(DeviceList& list);
  void serial_answers(DeviceList& list);

  // Hands the port of a serial entry over; null when it is not one of this
  // pass's ports.
  std::unique_ptr<platform::SerialPort> take_serial(const platform::SerialPort* port) {
    for (auto& p : serial_) {
      if (p && p.get() == port) return std::move(p);
    }
    return nullptr;
  }
  // Drains and closes every port and device not taken by the link.
  void release();

 private:
  const link::BridgeFunctions& fn() const { return s_.usb_library.fn(); }
  void close_usb(int i) {
    if (usb_[i] != nullptr) (void)fn().FT_Close(usb_[i]);
    usb_[i] = nullptr;
  }
  bool describe(int i, std::string& description) const;
  // The answer to the first probe, with the drain and up to 3 retries when
  // it is missing or wrong. False when there is none (a device that gave
  // no bytes at all is closed, and a known one listed as inoperable).
  bool first_usb_answer(int i, uint8_t* frame, std::optional<DeviceEntry>& inoperable);
  bool first_serial_answer(int n, uint8_t* frame);
  DeviceEntry usb_template(int i) const;
  DeviceEntry serial_template(int n) const;
  DeviceEntry entry_740(const uint8_t* frame, const std::string& where, DeviceEntry e) const;
  DeviceEntry entry_310(const uint8_t* frame, const std::string& where, DeviceEntry e) const;

  link::LinkState& s_;
  Admission admission_;
  std::array<std::unique_ptr<platform::SerialPort>, kMaxComPort + 1> serial_{};
  std::array<link::FT_HANDLE, kMaxUsbDevices> usb_{};
  std::array<uint32_t, kMaxUsbDevices> usb_type_{};
  std::array<const Probe*, kMaxUsbDevices> usb_probe_{};
  int usb_limit_ = 0;
};

bool DetectionPass::describe(int i, std::string& description) const {
  // The library writes at most 64 characters and a zero; the buffer is
  // larger, and only what lies inside it is read.
  char buf[256] = {};
  if (fn().FT_ListDevices(reinterpret_cast<void*>(static_cast<uintptr_t>(i)), buf,
                          link::FT_LIST_BY_INDEX | link::FT_OPEN_BY_DESCRIPTION) != link::FT_OK) {
    return false;
  }
  description.assign(buf, strnlen(buf, sizeof buf - 1));
  return true;
}

void DetectionPass::probe_usb() {
  if (!s_.usb_library.loaded()) return;
  uint32_t count = 0;
  if (fn().FT_ListDevices(&count, nullptr, link::FT_LIST_NUMBER_ONLY) != link::FT_OK || count == 0) return;
  // A device just plugged in is listed before its description can be read;
  // give the driver up to 5 s until every device has one.
  const auto settle_until = platform::deadline_after_ms(kUsbSettlingMs);
  for (;;) {
    uint32_t described = 0;
    std::string ignored;
    for (int i = 0; i < kMaxUsbDevices; ++i) described += describe(i, ignored) ? 1u : 0u;
    if (described >= count || platform::Clock::now() >= settle_until) break;
    platform::sleep_ms(static_cast<uint32_t>(std::min(10, platform::milliseconds_until(settle_until))));
  }
  usb_limit_ = static_cast<int>(std::min<uint32_t>(count, kMaxUsbDevices));
  for (int i = 0; i < usb_limit_; ++i) {
    std::string description;
    if (!describe(i, description)) continue;
    const uint32_t type = device_type_code(description);
    link::FT_HANDLE h = nullptr;
    if (fn().FT_Open(i, &h) != link::FT_OK || h == nullptr) continue;
    usb_[i] = h;
    int32_t com = -1;
    // A bridge without a virtual serial port is not an analyser's.
    if (fn().FT_GetComPortNumber(h, &com) != link::FT_OK || com < 0) {
      close_usb(i);
      continue;
    }
    if (fn().FT_SetBaudRate(h, kDetectionBaud) != link::FT_OK || fn().FT_SetDataCharacteristics(h, 8, 0, 0) != link::FT_OK ||
        fn().FT_SetFlowControl(h, 0, 0, 0) != link::FT_OK) {
      close_usb(i);
      continue;
    }
    const Probe* probe = in_740_family(type) ? &probe_740() : &probe_310();
    if (!UsbQueue(fn(), h).write(*probe)) {
      close_usb(i);
      continue;
    }
    usb_type_[i] = type;
    usb_probe_[i] = probe;
  }
}

void DetectionPass::probe_serial() {
  for (int n = 1; n <= kMaxComPort; ++n) {
    auto path = platform::resolve_serial_port(com_name(n));
    if (!path) continue;
    // Not shared: a port another program holds does not open, and is
    // therefore never listed.
    auto port = platform::SerialPort::open(*path);
    if (!port) continue;
    port->set_queue_sizes(300, 140);
    platform::SerialSettings st;
    if (!port->get_settings(st)) continue;
    link::apply_analyser_line_settings(st, kDetectionBaud);
    st.rts_control = platform::LineControl::disabled;
    st.dtr_control = platform::LineControl::enabled;
    if (!port->set_settings(st)) continue;
    (void)port->write(probe_310().data(), probe_310().size());
    serial_[static_cast<size_t>(n)] = std::move(port);
  }
}

void DetectionPass::ethernet(DeviceList& list, const std::string& special_ip) {
  LinkSocketPort port(s_);
  const WindowRules rules{s_.device_udp_port, true};
  auto on_answer = [&](const uint8_t* frame, const std::string& sender) {
    DeviceEntry e;
    e.set_ip_address(sender);
    e.port_id = link::kPortIdEthernet;
    list.append(entry_740(frame, sender, std::move(e)));
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
  int index = 0;
  platform::TimePoint deadline;
};

DeviceEntry DetectionPass::usb_template(int i) const {
  DeviceEntry e;
  e.set_port_name("USB");
  e.usb_handle = usb_[i];
  return e;
}

bool DetectionPass::first_usb_answer(int i, uint8_t* frame, std::optional<DeviceEntry>& inoperable) {
  UsbQueue q(fn(), usb_[i]);
  const Probe& probe = *usb_probe_[i];
  auto n = q.waiting();
  if (!n || *n == 0) {
    // A known analyser that gives no bytes at all is listed, so that the
    // user sees it is there.
    close_usb(i);
    if (in_740_family(usb_type_[i]) || in_310_family(usb_type_[i])) {
      DeviceEntry e;
      e.inoperable = true;
      e.set_port_name("USB");
      e.set_list_text(in_740_family(usb_type_[i]) ? inoperable_text_740() : inoperable_text_310());
      inoperable = std::move(e);
    }
    return false;
  }
  if (*n == kIdentityAnswerSize && q.read(frame, kIdentityAnswerSize) && valid_identity_answer(frame, probe)) return true;
  bool query_ok = q.drain(false);
  for (uint32_t r = 0; r < kProbeRetries && query_ok; ++r) {
    if (!q.write(probe)) continue;  // a failed write uses up the retry
    auto c = q.wait_for_at_least(kIdentityAnswerSize, platform::deadline_after_ms(kSecondProbeWaitMs));
    if (!c) return false;  // given up; the handle stays until the release
    if (*c == kIdentityAnswerSize && q.read(frame, kIdentityAnswerSize) && valid_identity_answer(frame, probe)) {
      return true;
    }
    query_ok = q.drain(false);
  }
  return false;
}

void DetectionPass::usb_answers(DeviceList& list) {
  if (!s_.usb_library.loaded()) return;
  std::array<std::optional<DeviceEntry>, kMaxUsbDevices> found{};
  std::vector<Reprobe> reprobes;
  uint8_t frame[kIdentityAnswerSize];
  for (int i = 0; i < usb_limit_; ++i) {
    if (usb_[i] == nullptr) continue;
    if (!first_usb_answer(i, frame, found[i])) continue;
    const uint32_t type = usb_type_[i];
    DeviceEntry e = usb_template(i);
    if (in_740_family(type)) {
      e.port_id = usb_port_id_740(type, read_740_fields(frame).variant);
      found[i] = entry_740(frame, "USB", std::move(e));
    } else if (!answer_from_740(frame)) {
      e.port_id = usb_port_id_310(type);
      found[i] = entry_310(frame, "USB", std::move(e));
    } else if (UsbQueue(fn(), usb_[i]).write(probe_740())) {
      // An MCA-740 behind a bridge without a 740 description: ask it as one.
      reprobes.push_back({i, platform::deadline_after_ms(kSecondProbeWaitMs)});
    } else {
      close_usb(i);
    }
  }
  for (const Reprobe& r : reprobes) {
    UsbQueue q(fn(), usb_[r.index]);
    auto n = q.wait_for_at_least(kIdentityAnswerSize, r.deadline);
    if (n && *n == kIdentityAnswerSize && q.read(frame, sizeof frame) && valid_identity_answer(frame, probe_740()) &&
        read_740_fields(frame).word2 != 0) {
      DeviceEntry e = usb_template(r.index);
      e.port_id = usb_port_id_740(usb_type_[r.index], read_740_fields(frame).variant);
      found[r.index] = entry_740(frame, "USB", std::move(e));
    } else {
      close_usb(r.index);
    }
  }
  for (auto& e : found) {
    if (e) list.append(std::move(*e));
  }
}

bool DetectionPass::first_serial_answer(int n, uint8_t* frame) {
  auto& slot = serial_[static_cast<size_t>(n)];
  platform::SerialPort& port = *slot;
  auto count = port.bytes_waiting();
  port.clear_errors();
  if (!count || *count == 0) {
    slot.reset();
    return false;
  }
  if (*count == kIdentityAnswerSize && read_serial_answer(port, frame) && valid_identity_answer(frame, probe_310())) {
    return true;
  }
  bool query_ok = drain_serial(port);
  for (uint32_t r = 0; r < kProbeRetries && query_ok; ++r) {
    (void)port.write(probe_310().data(), probe_310().size());
    auto c = wait_for_136(port, platform::deadline_after_ms(kSecondProbeWaitMs));
    if (!c) return false;  // given up; the port stays open until the release
    if (*c == kIdentityAnswerSize && read_serial_answer(port, frame) && valid_identity_answer(frame, probe_310())) {
      return true;
    }
    query_ok = drain_serial(port);
  }
  return false;
}

void DetectionPass::serial_answers(DeviceList& list) {
  std::array<std::optional<DeviceEntry>, kMaxComPort + 1> found{};
  std::vector<Reprobe> reprobes;
  uint8_t frame[kIdentityAnswerSize];
  for (int n = 1; n <= kMaxComPort; ++n) {
    if (!serial_[static_cast<size_t>(n)] || !first_serial_answer(n, frame)) continue;
    if (!answer_from_740(frame)) {
      found[static_cast<size_t>(n)] = entry_310(frame, com_name(n), serial_template(n));
      continue;
    }
    // An MCA-740 answers the 310 probe with 0xFF in bytes 90-93; its own
    // fields come with the 740 probe.
    (void)serial_[static_cast<size_t>(n)]->write(probe_740().data(), probe_740().size());
    reprobes.push_back({n, platform::deadline_after_ms(kSecondProbeWaitMs)});
  }
  for (const Reprobe& r : reprobes) {
    platform::SerialPort& port = *serial_[static_cast<size_t>(r.index)];
    auto c = wait_for_136(port, r.deadline);
    if (c && *c == kIdentityAnswerSize && read_serial_answer(port, frame) && valid_identity_answer(frame, probe_740()) &&
        read_740_fields(frame).word2 != 0) {
      found[static_cast<size_t>(r.index)] = entry_740(frame, com_name(r.index), serial_template(r.index));
    } else {
      serial_[static_cast<size_t>(r.index)].reset();
    }
  }
  for (auto& e : found) {
    if (e) list.append(std::move(*e));
  }
}

DeviceEntry DetectionPass::serial_template(int n) const {
  DeviceEntry e;
  e.serial_port = serial_[static_cast<size_t>(n)].get();
  e.set_port_name(com_name(n));
  e.port_id = static_cast<uint16_t>(n);
  return e;
}

DeviceEntry DetectionPass::entry_740(const uint8_t* frame, const std::string& where, DeviceEntry e) const {
  const Identity740 id = read_740_fields(frame);
  const Judgement j = judge_740(id, admission_);
  e.set_list_text(list_text_740(id.serial, where, id.firmware) + j.suffix);
  e.serial_number = id.serial;
  e.applicable = j.applicable ? 1 : 0;
  return e;
}

DeviceEntry DetectionPass::entry_310(const uint8_t* frame, const std::string& where, DeviceEntry e) const {
  const Identity310 id = read_310_fields(frame);
  const Judgement j = judge_310(id, admission_);
  e.set_list_text(list_text_310(id.serial, where, id.firmware) + j.suffix);
  e.serial_number = id.serial;
  e.applicable = j.applicable ? 1 : 0;
  return e;
}

void DetectionPass::release() {
  for (auto& p : serial_) {
    if (!p) continue;
    (void)drain_serial(*p);
    p.reset();
  }
  if (!s_.usb_library.loaded()) return;
  for (int i = 0; i < kMaxUsbDevices; ++i) {
    if (usb_[i] == nullptr) continue;
    if (usb_[i] != s_.usb_handle) {
      (void)UsbQueue(fn(), usb_[i]).drain(false);
      (void)fn().FT_Close(usb_[i]);
    }
    usb_[i] = nullptr;
  }
}

// Step 8: the entry becomes the link. False when it names nothing to link to.
bool take_entry(link::LinkState& s, DetectionPass& pass, const DeviceEntry& e) {
  if (e.inoperable) return false;
  if (e.serial_port != nullptr) {
    auto port = pass.take_serial(e.serial_port);
    if (!port) return false;
    link::adopt_serial_port(s, std::move(port), e.port_name, e.port_id);
    link::set_baud_rate(s, kDetectionBaud);
  } else if (e.usb_handle != nullptr) {
    link::adopt_usb_device(s, e.usb_handle, e.port_id);
    link::set_baud_rate(s, kDetectionBaud);
  } else if (!e.ip_address.empty()) {
    link::adopt_ethernet(s, e.ip_address);
  } else {
    return false;
  }
  s.port_id = e.port_id;
  return true;
}

}  // namespace

int16_t comm_init_select(link::LinkState& s, uint8_t* block, int32_t timeout, int32_t retries, void* owner) {
  (void)s.usb_library.load();  // absent or incomplete: no direct USB; the next call tries again
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
    auto close_windows = [&] {
      if (p.splash) windows.close_splash_window();
      if (wait_shown) windows.close_wait_window();
    };
    // A socket that cannot be made (no descriptor left, a sandbox without
    // network) only means that no Ethernet analyser can answer; the serial
    // and USB searches run all the same, and the Ethernet windows still
    // give their answers the time to arrive.
    (void)link::prepare_udp_socket(s);
    link::set_timing(s, timeout, retries);
    DeviceList& list = device_list();
    list.clear();

    DetectionPass pass(s, p.admission);
    pass.probe_usb();
    pass.probe_serial();
    // The analysers answer in parallel: the serial and USB answers wait in
    // the drivers' queues while the Ethernet windows run.
    pass.ethernet(list, special_ip);
    remove_duplicate_addresses(list);
    pass.usb_answers(list);
    pass.serial_answers(list);
    close_windows();

    bool taken = false;
    if (p.wanted_serial != 0 && result == kUndecided) {
      if (auto i = find_automatic(list, p.wanted_serial, p.port_filter); i && take_entry(s, pass, list.at(*i))) {
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
      if (chosen >= 0 && static_cast<size_t>(chosen) < list.size() && take_entry(s, pass, list.at(static_cast<size_t>(chosen)))) {
        result = chosen;
        write_chosen_port(block, p, list.at(static_cast<size_t>(chosen)).port_id);
      } else {
        result = chosen == kDialogRedetect ? kDialogRedetect : kDialogCancel;
      }
    }
    pass.release();
    for (auto& e : list.entries()) {
      // The ports are closed (or the link's now); the list stays for reading.
      e.serial_port = nullptr;
      e.usb_handle = nullptr;
    }
    p.splash = false;
    p.wanted_serial = 0;
    first_pass = false;
    if (result != kDialogRedetect) break;
  }

  const link::Channel channel = s.channel();
  if (channel == link::Channel::serial || channel == link::Channel::usb) {
    write_chosen_baud(block, p, adjust_baud_rate(s, p.dialogs, owner));
  }
  if (s.channel() == link::Channel::ethernet && special_ip == s.device_address) remember_special_ip(special_ip);
  const link::Channel now = s.channel();
  return now == link::Channel::serial || now == link::Channel::usb || now == link::Channel::ethernet ? 1 : 0;
}

}  // namespace lyralink::discovery
