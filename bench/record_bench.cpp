// SPDX-License-Identifier: LGPL-2.1-or-later
// Recording throughput (samples per second) of the recorder's recording
// (pulsecap's run_recording through liblyralink.so) against the least a
// client can do with the same emulator in the same run:
//   - UDP loopback: a raw exchange of the same chunk reads (send the
//     12-byte frame, block until the 1456-byte datagram is there, take it);
//   - a pseudo-terminal at 3000000 baud with lyrasim holding each answer
//     for its wire time: the wire limit, 720 samples per 1454 answer bytes
//     of 10 bits.
// Client and emulator are pinned to one CPU (unless --no-pin).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/lyralink.h"
#include "lyralink/link/frames.h"
#include "lyralink/link/link.h"
#include "platform/port_names.h"
#include "platform/process.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"
#include "pulsecap/core/library_device.h"
#include "pulsecap/core/recording.h"

namespace plat = lyralink::platform;
using lyralink::link::CommandFrame;

namespace {

constexpr uint32_t kBaud = 3'000'000;
constexpr size_t kLongAnswer = 1440 + 14;

// The recording's bytes go nowhere: the link is what is measured.
class NullSink final : public pulsecap::TraceSink {
 public:
  bool write(const uint8_t*, size_t n) override {
    bytes += n;
    return true;
  }
  bool close() override { return true; }
  std::string last_error() const override { return {}; }
  uint64_t bytes = 0;
};

class OpenLink final : public pulsecap::LibraryDevice {
 public:
  int16_t comm_init_select(void*, int32_t, int32_t, void*) override { return 0; }
};

CommandFrame command(uint16_t code, uint32_t dword) {
  CommandFrame f(code);
  f.set_word(1, static_cast<uint16_t>(dword & 0xFFFF));
  f.set_word(2, static_cast<uint16_t>(dword >> 16));
  return f;
}

struct Result {
  double samples_per_second = 0;
  bool ok = true;
};

double seconds_since(plat::TimePoint t0) { return std::chrono::duration<double>(plat::Clock::now() - t0).count(); }

// ---- raw clients ----

// One exchange: send, wait for `expected` bytes, take them.
template <class Send, class Receive>
Result raw_recording(uint32_t n, Send send, Receive receive) {
  // As the recording does: fill stop and start, so that the emulator
  // computes the same signal for both clients; then 100 ms.
  send(command(279, 2 * n));
  if (!receive(136)) return {0, false};
  send(command(66, 0));
  if (!receive(136)) return {0, false};
  plat::sleep_ms(100);
  auto t0 = plat::Clock::now();
  for (uint32_t offset = 0; offset < n; offset += 720) {
    send(command(263, offset));
    if (!receive(kLongAnswer)) return {0, false};
  }
  return {n / seconds_since(t0), true};
}

Result raw_udp(uint16_t port, uint32_t n) {
  auto socket = plat::UdpSocket::create();
  uint8_t buf[2048];
  return raw_recording(
      n, [&](const CommandFrame& f) { socket->send_to(f.data(), 12, std::string("127.0.0.1"), port); },
      [&](size_t expected) {
        if (!socket->wait_readable(plat::deadline_after_ms(2000))) return false;
        auto d = socket->receive(buf, sizeof buf);
        return d && d->size == expected + 2;
      });
}

Result raw_serial(const std::string& name, uint32_t n) {
  auto path = plat::resolve_serial_port(name);
  auto serial = path ? plat::SerialPort::open(*path) : nullptr;
  if (!serial) return {0, false};
  serial->set_queue_sizes(2000, 16);
  plat::SerialSettings st;
  serial->get_settings(st);
  lyralink::link::apply_analyser_line_settings(st, kBaud);
  serial->set_settings(st);
  uint8_t buf[2048];
  return raw_recording(
      n, [&](const CommandFrame& f) { serial->write(f.data(), 12); },
      [&](size_t expected) {
        auto count = serial->wait_for_input(expected, plat::deadline_after_ms(2000));
        return count && *count == expected && serial->read(buf, expected) == expected;
      });
}

// ---- the recording ----

class Timed final : public pulsecap::RecordingObserver {
 public:
  void started() override {
    RecordingObserver::started();  // the 100 ms
    t0 = plat::Clock::now();
  }
  plat::TimePoint t0;
};

Result library_recording(uint32_t n) {
  OpenLink device;
  NullSink sink;
  pulsecap::TraceWriter writer(sink, pulsecap::TraceFormat::wave);
  writer.begin(n, 20'000'000);
  Timed observer;
  auto r = pulsecap::run_recording(device, writer, n, observer);
  const double s = seconds_since(observer.t0);
  return {n / s, r.end == pulsecap::RecordingEnd::complete && sink.bytes == 44u + 2u * n};
}

Result library_udp(uint32_t n) {
  if (COMM_INIT_ETHERNET_IP("127.0.0.1", 2000, 1) == 0) return {0, false};
  Result r = library_recording(n);
  COMM_CLOSE();
  return r;
}

Result library_serial(uint32_t n) {
  if (COMM_INIT_EX3("COM1", 2000, 1, static_cast<int32_t>(kBaud), 0) == 0) return {0, false};
  Result r = library_recording(n);
  COMM_CLOSE();
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t udp_samples = 1'000'000, serial_samples = 200'000;
  int rounds = 3;
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--udp-samples" && i + 1 < argc) udp_samples = static_cast<uint32_t>(std::max(720, std::atoi(argv[++i])));
    else if (a == "--serial-samples" && i + 1 < argc) serial_samples = static_cast<uint32_t>(std::max(720, std::atoi(argv[++i])));
    else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--no-pin") pin = false;
    else {
      std::fprintf(stderr,
                   "usage: record_bench [--udp-samples N] [--serial-samples N] [--rounds R] [--no-pin]\n"
                   "Records from lyrasim and compares with a raw exchange (UDP) and the wire limit (3 Mbaud).\n");
      return a == "--help" ? 0 : 2;
    }
  }
  if (pin && !plat::pin_to_cpu(0)) std::fprintf(stderr, "record_bench: cannot pin to CPU 0, running unpinned\n");
  uint16_t port = [] {
    auto s = plat::UdpSocket::create(0, "127.0.0.1");
    return s ? s->local_port() : uint16_t{50000};
  }();
  const std::string port_text = std::to_string(port);
  ::setenv("LYRALINK_UDP_PORT", port_text.c_str(), 1);
  char dir_template[] = "/tmp/lyralink-record-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  ::setenv("LYRALINK_PORT_DIR", dir.c_str(), 1);
  const std::string lyrasim = plat::executable_directory() + "/../tools/lyrasim/lyrasim";
  auto sim = plat::ChildProcess::spawn({lyrasim, "--port-dir", dir, "--udp-port", port_text, "--udp",
                                        "127.0.0.1=740,rate=20000", "--serial", "COM1=740,rate=20000,wire=1"});
  if (!sim) {
    std::fprintf(stderr, "record_bench: cannot start %s\n", lyrasim.c_str());
    return 1;
  }
  while (auto line = sim->read_line(plat::deadline_after_ms(5000))) {
    if (*line == "ready") break;
  }

  bool ok = true;
  std::vector<double> udp_raw, udp_lib, pty_lib, pty_raw;
  for (int r = 0; r < rounds; ++r) {  // interleaved, so drifts hit both alike
    Result a = raw_udp(port, udp_samples), b = library_udp(udp_samples);
    Result c = raw_serial("COM1", serial_samples), d = library_serial(serial_samples);
    ok = ok && a.ok && b.ok && c.ok && d.ok;
    udp_raw.push_back(a.samples_per_second);
    udp_lib.push_back(b.samples_per_second);
    pty_raw.push_back(c.samples_per_second);
    pty_lib.push_back(d.samples_per_second);
  }
  const double wire_limit = 720.0 / (static_cast<double>(kLongAnswer) * 10.0 / kBaud);
  std::printf("%s, %d rounds, medians; samples per second of a recording (720 a chunk)\n",
              pin ? "client and emulator on CPU 0" : "unpinned", rounds);
  std::printf("| link | reference | reference samples/s | recording samples/s | ratio |\n");
  std::printf("|---|---|---:|---:|---:|\n");
  std::printf("| UDP loopback | raw exchange of the chunk reads | %.0f | %.0f | %.2f |\n", median(udp_raw),
              median(udp_lib), median(udp_lib) / median(udp_raw));
  std::printf("| pty, 3000000 baud, wire time | wire limit (1454 bytes a chunk) | %.0f | %.0f | %.2f |\n", wire_limit,
              median(pty_lib), median(pty_lib) / wire_limit);
  std::printf("| pty, 3000000 baud, wire time | raw exchange of the chunk reads | %.0f | %.0f | %.2f |\n",
              median(pty_raw), median(pty_lib), median(pty_lib) / median(pty_raw));
  if (!ok) std::printf("(failures!)\n");
  sim.reset();
  const std::string cleanup = "rm -rf '" + dir + "'";
  (void)std::system(cleanup.c_str());
  return ok ? 0 : 1;
}
