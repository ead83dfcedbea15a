// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/ethernet.h"

#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/host_addresses.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/special_ips.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/link.h"

namespace lyralink::discovery {

namespace {

constexpr const char* kCaption = "MCA Communication";

void send_probe(link::LinkState& s, const Probe& probe, const std::string& address) {
  // A failed send simply brings no answer.
  if (platform::UdpSocket* socket = s.udp_socket()) (void)socket->send_to(probe.data(), probe.size(), address, s.device_udp_port());
}

std::chrono::milliseconds ms(uint32_t n) { return std::chrono::milliseconds(n); }

}  // namespace

std::vector<std::string> broadcast_probe(link::LinkState& s) {
  std::vector<std::string> targets = broadcast_targets(current_host_table());
  for (const auto& t : targets) send_probe(s, probe_740(), t);
  return targets;
}

std::vector<std::string> directed_probe(link::LinkState& s, const std::string& special_ip) {
  std::vector<std::string> remembered;
  const SpecialIpList& list = special_ip_list();
  for (size_t p = 0; p < list.count() && p < kSpecialIpCapacity; ++p) remembered.push_back(list.at(p));
  std::vector<std::string> targets = directed_targets(special_ip, remembered, current_host_table());
  for (const auto& t : targets) send_probe(s, probe_740(), t);
  return targets;
}

// ---- the link state's socket ----

TimePoint LinkSocketPort::now() { return platform::Clock::now(); }

bool LinkSocketPort::wait_readable(TimePoint deadline) {
  if (s_.udp_socket()) return s_.udp_socket()->wait_readable(deadline);
  // Without a socket nothing can arrive; the window still lasts its time.
  sleep_until(deadline);
  return false;
}

std::optional<platform::Datagram> LinkSocketPort::peek(uint8_t* buf, size_t capacity) {
  if (!s_.udp_socket()) return std::nullopt;
  return s_.udp_socket()->peek(buf, capacity);
}

std::optional<platform::Datagram> LinkSocketPort::receive(uint8_t* buf, size_t capacity) {
  if (!s_.udp_socket()) return std::nullopt;
  return s_.udp_socket()->receive(buf, capacity);
}

platform::ErrorKind LinkSocketPort::take_pending_error() {
  return s_.udp_socket() ? s_.udp_socket()->take_pending_error() : platform::ErrorKind::none;
}

void LinkSocketPort::recreate() {
  if (!s_.udp_socket()) return;
  if (s_.udp_socket()->recreate()) link::apply_udp_socket_options(*s_.udp_socket());
}

void LinkSocketPort::sleep_until(TimePoint deadline) {
  platform::sleep_ms(static_cast<uint32_t>(platform::milliseconds_until(deadline)));
}

// ---- receive windows ----

void receive_window(DatagramPort& port, const WindowRules& rules,
                    const std::function<void(const uint8_t* frame, const std::string& sender)>& on_answer) {
  uint8_t buf[kPeekBufferSize];
  TimePoint deadline = port.now() + ms(kReceiveWindowMs);
  bool refused = false;
  while (port.now() < deadline) {
    if (!port.wait_readable(deadline)) {
      // Nothing waiting. A socket error wakes the wait early without a
      // datagram; it is taken (which clears it) so that the wait can go on.
      if (port.take_pending_error() == platform::ErrorKind::connection_refused) refused = true;
      if (port.now() < deadline) port.sleep_until(std::min(deadline, port.now() + ms(5)));
      continue;
    }
    auto d = port.peek(buf, sizeof buf);
    if (!d) {
      if (port.take_pending_error() == platform::ErrorKind::connection_refused) refused = true;
      continue;
    }
    if (d->size == kIdentityDatagramSize && d->port == rules.device_port) {
      auto taken = port.receive(buf, sizeof buf);
      if (taken && taken->size == kIdentityDatagramSize && valid_identity_answer(buf + 2, probe_740())) {
        on_answer(buf + 2, taken->address);
      }
    } else {
      (void)port.receive(buf, sizeof buf);
    }
    const TimePoint now = port.now();
    if (deadline - now < ms(kWindowExtensionMs)) deadline = now + ms(kWindowExtensionMs);
  }
  // The window always closes with nothing waiting: every datagram moves its
  // end 500 ms on. A refused datagram (the ICMP answer to a probe sent to an
  // address where nothing listens) leaves some systems' sockets unable to
  // receive; the socket is made again on the same local port, so answers to
  // probes already sent still find it.
  if (rules.recreate_on_refused &&
      (refused || port.take_pending_error() == platform::ErrorKind::connection_refused)) {
    port.recreate();
  }
}

std::optional<uint32_t> listen_for_head(DatagramPort& port, const std::string& address, uint16_t device_port) {
  uint8_t buf[kHeadAnswerDatagramSize + 16];
  const TimePoint deadline = port.now() + ms(kHeadListenMs);
  while (port.now() < deadline) {
    if (!port.wait_readable(deadline)) {
      (void)port.take_pending_error();
      if (port.now() < deadline) port.sleep_until(std::min(deadline, port.now() + ms(5)));
      continue;
    }
    auto d = port.peek(buf, sizeof buf);
    if (!d) {
      (void)port.take_pending_error();
      continue;
    }
    if (d->address != address) {
      (void)port.receive(buf, sizeof buf);
      continue;
    }
    // The head's datagram stays at the front of the queue: nothing behind
    // it can be looked at until the time is up, so wait for that.
    port.sleep_until(deadline);
    break;
  }
  auto d = port.peek(buf, sizeof buf);
  if (!d) return std::nullopt;
  auto taken = port.receive(buf, sizeof buf);
  if (!taken || taken->size != kHeadAnswerDatagramSize || taken->port != device_port || taken->address != address) {
    return std::nullopt;
  }
  return parse_head_answer(buf + 2, kHeadAnswerFrameSize);
}

// ---- the Ethernet-only searches ----

namespace {

// Steps 1-4 shared by both searches: the list afterwards holds one entry
// per answer. False when no search could run (a link is open). Without a
// socket (none could be made) the search runs and finds nothing.
bool search(link::LinkState& s, int32_t timeout, int32_t retries) {
  if (s.link_open()) return false;
  const bool have_socket = link::prepare_udp_socket(s);
  s.set_timing(timeout, retries);
  DeviceList& list = device_list();
  list.clear();
  if (!have_socket) return true;
  broadcast_probe(s);
  LinkSocketPort port(s);
  receive_window(port, WindowRules{s.device_udp_port(), false}, [&](const uint8_t* frame, const std::string& sender) {
    const Identity740 id = read_740_fields(frame);
    DeviceEntry e;
    e.set_list_text(ethernet_search_text(id.serial, sender, id.in_use()));
    e.serial_number = id.serial;
    list.append(std::move(e));
  });
  return true;
}

std::vector<std::string> list_texts(const DeviceList& list) {
  std::vector<std::string> texts;
  for (const auto& e : list.entries()) texts.push_back(e.list_text);
  return texts;
}

// The head selection dialog over the list; 1 with the link open on the
// address of the confirmed line, else 0.
int16_t choose_head(link::LinkState& s, void* owner) {
  std::string address;
  if (library_windows().run_head_selection_dialog(owner, list_texts(device_list()), address) != kDialogOk) return 0;
  uint32_t parsed = 0;
  // The address comes back from another module; only a real dotted address
  // becomes the link's device address.
  if (!platform::parse_ipv4(address, parsed)) return 0;
  link::adopt_ethernet(s, address);
  return 1;
}

}  // namespace

int16_t comm_init_ethernet(link::LinkState& s, int32_t serial, int32_t timeout, int32_t retries, void* owner) {
  if (!search(s, timeout, retries)) return 0;
  const DeviceList& list = device_list();
  const uint16_t wanted = static_cast<uint16_t>(serial);
  if (wanted != 0) {
    for (const auto& e : list.entries()) {
      if (e.serial_number != wanted || e.list_text.find("(in use)") != std::string::npos) continue;
      link::adopt_ethernet(s, address_from_list_text(e.list_text));
      return 1;
    }
    return 0;
  }
  if (!list.empty()) return choose_head(s, owner);
  library_windows().message_box(owner, "No Lyra's detected.", kCaption);
  return 0;
}

int16_t comm_init_ethernet_trebla(link::LinkState& s, int32_t serial, int32_t timeout, int32_t retries, void* owner) {
  if (!search(s, timeout, retries)) return 0;
  DeviceList& list = device_list();
  LinkSocketPort port(s);
  for (size_t i = 0; i < list.size();) {
    DeviceEntry& e = list.at(i);
    const std::string address = address_from_list_text(e.list_text);
    send_probe(s, head_identity_query(), address);
    if (auto head = listen_for_head(port, address, s.device_udp_port())) {
      e.set_list_text(head_text(*head, e.list_text));
      ++i;
    } else {
      list.erase(i);
    }
  }
  const uint16_t wanted = static_cast<uint16_t>(serial);
  if (wanted != 0) {
    // Heads answer as in use while their analyser serves them; they are
    // taken all the same.
    for (const auto& e : list.entries()) {
      if (e.serial_number != wanted) continue;
      link::adopt_ethernet(s, address_from_list_text(e.list_text));
      return 1;
    }
    return 0;
  }
  if (!list.empty()) return choose_head(s, owner);
  library_windows().message_box(owner, "No measuring heads detected.", kCaption);
  return 0;
}

}  // namespace lyralink::discovery
