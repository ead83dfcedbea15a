// SPDX-License-Identifier: LGPL-2.1-or-later
// lyrasim: an emulated MCA-740 / MCA-310 analyser on pseudo-terminals and UDP.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/event_wait.h"
#include "platform/network_interfaces.h"
#include "platform/pty.h"
#include "platform/udp_socket.h"
#include "tools/lyrasim/device.h"
#include "tools/lyrasim/engine.h"
#include "tools/lyrasim/options.h"

namespace plat = lyralink::platform;
using namespace lyrasim;

namespace {

struct Pending {
  SteadyClock::time_point due;
  std::vector<uint8_t> bytes;
  size_t sent = 0;
  SteadyClock::time_point wire_start{};  // when the first byte went on the line (wire=1)
  std::string to_address;  // UDP only
  uint16_t to_port = 0;
  std::string from_address;
};

struct SerialEndpoint {
  EndpointSpec config;
  std::unique_ptr<plat::PtyDevice> pty;
  std::unique_ptr<Analyser> device;
  FrameAssembler assembler;
  std::deque<Pending> out;
  std::string link_path;
};

// An analyser at one local address. All of them share one socket bound to
// the wildcard address, which alone receives broadcasts; each answers from
// its own address.
struct UdpEndpoint {
  EndpointSpec config;
  std::string broadcast;  // directed broadcast of its subnet; empty: none
  std::unique_ptr<Analyser> device;
  std::deque<Pending> out;
  uint16_t sequence = 0;
};

const char* kUsage =
    "Usage: lyrasim [OPTION]...\n"
    "Emulates MCA-740 and MCA-310 analysers for lyralink, lyractl and the tests.\n"
    "\n"
    "  --serial NAME=DEVICE   an analyser on a pseudo-terminal published as\n"
    "                         PORT_DIR/NAME (NAME such as COM3); repeatable\n"
    "  --udp ADDRESS=DEVICE   an analyser answering on UDP ADDRESS:PORT, an address\n"
    "                         of this machine; it also answers broadcasts to its\n"
    "                         subnet and to 255.255.255.255; repeatable\n"
    "  --port-dir DIR         where serial ports are published\n"
    "                         (default $LYRALINK_PORT_DIR, else ./ports)\n"
    "  --udp-port N           UDP port (default $LYRALINK_UDP_PORT, else 50000)\n"
    "  --record FILE          append every received frame to FILE:\n"
    "                         <monotonic us> <endpoint> <hex>[ baud=N]\n"
    "  --fault RULE           inject a fault; repeatable (see below)\n"
    "  --control              read commands from standard input:\n"
    "                         fault RULE | clear-faults | extension ENDPOINT TEXT | quit\n"
    "  --help                 show this text\n"
    "\n"
    "DEVICE: 740 or 310, then ,key=value options:\n";

void usage(FILE* to) {
  std::fputs(kUsage, to);
  std::fprintf(to, "  %s\n", identity_option_help());
  std::fprintf(to, "  endpoint options: bauds=R1/R2/... answer only at these line rates;\n"
                   "                    wire=1 send answers at the line's byte rate\n\n");
  std::fprintf(to, "RULE: %s\n\n", fault_help());
  std::fputs("Prints one line per endpoint and then \"ready\" once every port is published.\n"
             "Example:\n  lyrasim --port-dir /tmp/ports --serial COM3=740,sn=1234 --udp 127.0.0.1=740\n",
             to);
}

class Emulator {
 public:
  int run(const Options& o);

 private:
  bool control_line(const std::string& line);
  void on_serial_input(SerialEndpoint& e);
  void on_udp_input();
  void answer_datagram(UdpEndpoint& e, const Command& cmd, const plat::Datagram& d);
  void flush_due(SteadyClock::time_point now);
  std::optional<SteadyClock::time_point> next_due() const;

  Responder responder_;
  FrameRecord record_;
  bool recording_ = false;
  std::vector<std::unique_ptr<SerialEndpoint>> serial_;
  std::vector<std::unique_ptr<UdpEndpoint>> udp_;
  std::unique_ptr<plat::UdpSocket> udp_socket_;
  std::string control_buffer_;
  bool quit_ = false;
};

bool Emulator::control_line(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb.empty()) return true;
  if (verb == "quit") {
    quit_ = true;
    return true;
  }
  if (verb == "clear-faults") {
    responder_.clear_faults();
    std::cout << "ok" << std::endl;
    return true;
  }
  if (verb == "fault") {
    std::string rule, error;
    in >> rule;
    auto r = parse_fault(rule, &error);
    if (!r) {
      std::cout << "error: " << error << std::endl;
      return false;
    }
    responder_.add_fault(*r);
    std::cout << "ok" << std::endl;
    return true;
  }
  if (verb == "extension") {
    std::string name, text;
    in >> name;
    std::getline(in >> std::ws, text);
    for (auto& e : serial_) {
      if (e->config.name == name) e->device->extension_receive(text);
    }
    for (auto& e : udp_) {
      if (e->config.name == name) e->device->extension_receive(text);
    }
    std::cout << "ok" << std::endl;
    return true;
  }
  std::cout << "error: unknown command '" << verb << "'" << std::endl;
  return false;
}

void Emulator::on_serial_input(SerialEndpoint& e) {
  uint8_t buf[4096];
  size_t n = e.pty->read(buf, sizeof buf);
  if (n == 0) return;
  e.assembler.feed(buf, n);
  std::vector<uint8_t> junk;
  while (auto cmd = e.assembler.next(&junk)) {
    if (recording_) record_.junk(e.config.name, junk.data(), junk.size());
    junk.clear();
    const auto now = SteadyClock::now();
    std::optional<uint32_t> baud = e.pty->line_baud();
    if (recording_) record_.frame(e.config.name, *cmd, baud);
    if (!e.config.bauds.empty() &&
        (!baud || std::find(e.config.bauds.begin(), e.config.bauds.end(), *baud) == e.config.bauds.end())) {
      continue;  // at any other rate the device only sees noise
    }
    auto reply = responder_.answer(*e.device, e.config.name, *cmd, now);
    if (!reply || reply->bytes.empty()) continue;
    auto start = std::max(now, e.out.empty() ? now : e.out.back().due);
    Pending p;
    p.due = start + std::chrono::milliseconds(reply->delay_ms);
    p.bytes = std::move(reply->bytes);
    e.out.push_back(std::move(p));
  }
  if (recording_) record_.junk(e.config.name, junk.data(), junk.size());
}

void Emulator::answer_datagram(UdpEndpoint& e, const Command& cmd, const plat::Datagram& d) {
  const auto now = SteadyClock::now();
  if (recording_) record_.frame(e.config.name, cmd, std::nullopt);
  auto reply = responder_.answer(*e.device, e.config.name, cmd, now);
  if (!reply || reply->bytes.empty()) return;
  // Every answer datagram carries two bytes in front of the frame.
  std::vector<uint8_t> datagram(2 + reply->bytes.size());
  datagram[0] = static_cast<uint8_t>(e.sequence & 0xFF);
  datagram[1] = static_cast<uint8_t>(e.sequence >> 8);
  ++e.sequence;
  std::copy(reply->bytes.begin(), reply->bytes.end(), datagram.begin() + 2);
  Pending p;
  p.due = now + std::chrono::milliseconds(reply->delay_ms);
  p.bytes = std::move(datagram);
  p.to_address = d.address;
  p.to_port = d.port;
  p.from_address = e.config.name;
  e.out.push_back(std::move(p));
}

void Emulator::on_udp_input() {
  uint8_t buf[2048];
  while (auto d = udp_socket_->receive(buf, sizeof buf)) {
    // Who is meant: the analyser at the destination address, or every
    // analyser of the subnet the broadcast went to.
    std::vector<UdpEndpoint*> to;
    for (auto& e : udp_) {
      if (e->config.name == d->local_address || d->local_address == "255.255.255.255" ||
          (!e->broadcast.empty() && e->broadcast == d->local_address)) {
        to.push_back(e.get());
      }
    }
    Command cmd;
    const bool frame = d->size == 12;
    if (frame) std::memcpy(cmd.raw.data(), buf, 12);
    for (UdpEndpoint* e : to) {
      if (!frame || !cmd.well_formed()) {
        if (recording_) record_.junk(e->config.name, buf, d->copied);
        continue;
      }
      answer_datagram(*e, cmd, *d);
    }
  }
}

std::optional<SteadyClock::time_point> Emulator::next_due() const {
  std::optional<SteadyClock::time_point> due;
  auto consider = [&](const std::deque<Pending>& q) {
    if (!q.empty() && (!due || q.front().due < *due)) due = q.front().due;
  };
  for (auto& e : serial_) consider(e->out);
  for (auto& e : udp_) consider(e->out);
  return due;
}

void Emulator::flush_due(SteadyClock::time_point now) {
  for (auto& e : serial_) {
    while (!e->out.empty() && e->out.front().due <= now) {
      Pending& p = e->out.front();
      std::optional<uint32_t> baud = e->config.wire ? e->pty->line_baud() : std::nullopt;
      if (!baud || *baud == 0) {
        e->pty->write(p.bytes.data() + p.sent, p.bytes.size() - p.sent);
        e->out.pop_front();
        continue;
      }
      // At the line's byte rate: what the line can have carried since the
      // first byte, in pieces of at least 16 bytes. A wake-up that comes
      // late sends more at once, so the answer ends when the wire would
      // have finished it, not later.
      if (p.sent == 0) p.wire_start = now;
      const auto elapsed_us = static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(now - p.wire_start).count());
      const uint64_t carried = 16 + elapsed_us * *baud / 10'000'000u;
      size_t piece = carried > p.sent ? static_cast<size_t>(std::min<uint64_t>(carried - p.sent, p.bytes.size() - p.sent)) : 0;
      if (piece > 0) e->pty->write(p.bytes.data() + p.sent, piece);
      p.sent += piece;
      if (p.sent == p.bytes.size()) {
        e->out.pop_front();
      } else {
        // The moment the line has carried 16 more bytes.
        p.due = p.wire_start + std::chrono::microseconds(wire_time_us(p.sent, *baud));
        break;
      }
    }
  }
  for (auto& e : udp_) {
    while (!e->out.empty() && e->out.front().due <= now) {
      Pending& p = e->out.front();
      udp_socket_->send_to(p.bytes.data(), p.bytes.size(), p.to_address, p.to_port, p.from_address);
      e->out.pop_front();
    }
  }
}

int Emulator::run(const Options& o) {
  std::string error;
  for (const FaultRule& f : o.faults) responder_.add_fault(f);
  if (!o.record.empty()) {
    if (!record_.open(o.record, &error)) {
      std::fprintf(stderr, "lyrasim: cannot open record file %s\n", error.c_str());
      return 1;
    }
    recording_ = true;
  }
  // Null when the termination signals cannot be taken as events.
  auto signals = plat::TerminationRequests::take_over();
  for (const EndpointSpec& s : o.serial) {
    auto e = std::make_unique<SerialEndpoint>();
    e->config = s;
    plat::SystemError err;
    e->pty = plat::PtyDevice::create(&err);
    if (!e->pty) {
      std::fprintf(stderr, "lyrasim: %s\n", err.message().c_str());
      return 1;
    }
    e->link_path = o.port_dir + "/" + s.name;
    if (!e->pty->publish(e->link_path, &err)) {
      std::fprintf(stderr, "lyrasim: %s\n", err.message().c_str());
      return 1;
    }
    e->device = std::make_unique<Analyser>(s.identity);
    std::printf("%s -> %s (MCA-%s, serial number %u)\n", s.name.c_str(), e->pty->terminal_path().c_str(),
                s.identity.model == Model::mca740 ? "740" : "310", s.identity.serial);
    serial_.push_back(std::move(e));
  }
  if (!o.udp.empty()) {
    plat::SystemError err;
    udp_socket_ = plat::UdpSocket::create(o.udp_port, {}, &err);
    if (!udp_socket_) {
      std::fprintf(stderr, "lyrasim: %s\n", err.message().c_str());
      return 1;
    }
    udp_socket_->enable_packet_info();
    udp_socket_->set_broadcast(true);
  }
  const auto interfaces = plat::ipv4_interface_addresses();
  for (const EndpointSpec& s : o.udp) {
    auto e = std::make_unique<UdpEndpoint>();
    e->config = s;
    // The address must be one of this machine's, or no datagram reaches it.
    plat::SystemError err;
    if (!plat::UdpSocket::create(0, s.name, &err)) {
      std::fprintf(stderr, "lyrasim: %s is not an address of this machine (%s)\n", s.name.c_str(),
                   err.message().c_str());
      return 1;
    }
    uint32_t address = 0;
    plat::parse_ipv4(s.name, address);
    for (const auto& i : interfaces) {
      if (!i.netmask) continue;
      const uint32_t mask = *i.netmask;
      if ((i.address & mask) == (address & mask) && mask != 0xFFFFFFFFu) {
        e->broadcast = plat::format_ipv4((address & mask) | ~mask);
        break;
      }
    }
    e->device = std::make_unique<Analyser>(s.identity);
    std::printf("%s:%u (MCA-%s, serial number %u)\n", s.name.c_str(), o.udp_port,
                s.identity.model == Model::mca740 ? "740" : "310", s.identity.serial);
    udp_.push_back(std::move(e));
  }
  std::printf("ready\n");
  std::fflush(stdout);

  bool control = o.control;
  while (!quit_) {
    std::vector<plat::Waitable> waits;
    if (signals) waits.push_back(signals->waitable());
    const size_t control_index = waits.size();
    if (control) waits.push_back(plat::standard_input());
    const size_t serial_base = waits.size();
    for (auto& e : serial_) waits.push_back(e->pty->waitable());
    const size_t udp_index = waits.size();
    if (udp_socket_) waits.push_back(udp_socket_->waitable());

    auto ready = plat::wait_readable(waits, next_due());
    for (size_t i : ready) {
      if (signals && i == 0) {
        quit_ = true;
      } else if (control && i == control_index) {
        char buf[1024];
        long n = plat::read_some(plat::standard_input(), buf, sizeof buf);
        if (n <= 0) {
          if (n == 0) quit_ = true;  // the controlling process is gone
          continue;
        }
        control_buffer_.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = control_buffer_.find('\n')) != std::string::npos) {
          control_line(control_buffer_.substr(0, nl));
          control_buffer_.erase(0, nl + 1);
        }
      } else if (i >= serial_base && i < udp_index) {
        on_serial_input(*serial_[i - serial_base]);
      } else if (udp_socket_ && i == udp_index) {
        on_udp_input();
      }
    }
    flush_due(SteadyClock::now());
  }
  for (auto& e : serial_) (void)plat::delete_file(e->link_path);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    usage(stdout);
    return 0;
  }
  std::string error;
  auto options = parse_options(args, &error);
  if (!options) {
    std::fprintf(stderr, "lyrasim: %s\nTry 'lyrasim --help'.\n", error.c_str());
    return 2;
  }
  if (options->serial.empty() && options->udp.empty()) {
    std::fprintf(stderr, "lyrasim: nothing to emulate: give --serial or --udp\nTry 'lyrasim --help'.\n");
    return 2;
  }
  Emulator emulator;
  return emulator.run(*options);
}
