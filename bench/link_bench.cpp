// SPDX-License-Identifier: LGPL-2.1-or-later
// Transactions per second and CPU time per transaction of the library,
// against a raw exchange with the same emulator in the same run.
//
// The raw exchange is the least a client can do: write the 12-byte frame,
// block until the answer's bytes are there, read them. The library adds the
// frame checks, the retry loop, the transaction lock and its channel rules.
// Client and emulator are pinned to one CPU (unless --no-pin) so that the
// ratio does not swing with the scheduler's placement on a 2-core machine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lyralink/link/link.h"
#include "lyralink/link/transaction.h"
#include "platform/port_names.h"
#include "platform/process.h"
#include "platform/serial_port.h"
#include "platform/udp_socket.h"

namespace plat = lyralink::platform;
using namespace lyralink::link;

namespace {

struct Sample {
  double per_second = 0;
  double cpu_us = 0;  // client CPU per transaction
  int failures = 0;
};

struct Setup {
  uint16_t udp_port = 0;
  std::string port_dir;
};

Sample measure(int n, const std::function<bool()>& one) {
  uint64_t cpu0 = plat::process_cpu_time_us();
  auto t0 = plat::Clock::now();
  Sample s;
  for (int i = 0; i < n; ++i) s.failures += one() ? 0 : 1;
  double seconds = std::chrono::duration<double>(plat::Clock::now() - t0).count();
  s.per_second = n / seconds;
  s.cpu_us = static_cast<double>(plat::process_cpu_time_us() - cpu0) / n;
  return s;
}

CommandFrame frame_for(bool long_answer) {
  CommandFrame f(long_answer ? 263 : 0x5A);
  return f;
}

// ---- raw exchanges ----

Sample raw_udp(const Setup& setup, const std::string& address, bool long_answer, int n) {
  auto socket = plat::UdpSocket::create();
  CommandFrame f = frame_for(long_answer);
  const size_t expected = long_answer ? 1440 + 16 : 138;
  uint8_t buf[2048];
  return measure(n, [&] {
    socket->send_to(f.data(), 12, address, setup.udp_port);
    if (!socket->wait_readable(plat::deadline_after_ms(2000))) return false;
    auto d = socket->receive(buf, sizeof buf);
    return d && d->size == expected;
  });
}

Sample raw_serial(const std::string& port, bool long_answer, int n) {
  auto path = plat::resolve_serial_port(port);
  auto serial = path ? plat::SerialPort::open(*path) : nullptr;
  if (!serial) return Sample{0, 0, n};
  serial->set_queue_sizes(2000, 16);
  plat::SerialSettings st;
  serial->get_settings(st);
  apply_analyser_line_settings(st, 3000000);
  serial->set_settings(st);
  CommandFrame f = frame_for(long_answer);
  const size_t expected = long_answer ? 1440 + 14 : 136;
  uint8_t buf[2048];
  return measure(n, [&] {
    serial->write(f.data(), 12);
    auto count = serial->wait_for_input(expected, plat::deadline_after_ms(2000));
    return count && *count == expected && serial->read(buf, expected) == expected;
  });
}

// ---- the library ----

Sample library(const std::function<bool()>& open, bool long_answer, int n) {
  LinkState& s = link_state();
  if (!open()) return Sample{0, 0, n};
  std::vector<uint8_t> block(1440);
  Sample result = measure(n, [&] {
    s.command.reset(long_answer ? 263 : 0x5A);
    Status st = long_answer ? long_transaction(s, block.data(), block.size()) : short_transaction(s);
    return st == status::ok;
  });
  close_link(s);
  return result;
}

Sample median(std::vector<Sample> v) {
  std::vector<double> rate, cpu;
  int failures = 0;
  for (auto& s : v) {
    rate.push_back(s.per_second);
    cpu.push_back(s.cpu_us);
    failures += s.failures;
  }
  std::sort(rate.begin(), rate.end());
  std::sort(cpu.begin(), cpu.end());
  return Sample{rate[rate.size() / 2], cpu[cpu.size() / 2], failures};
}

struct Row {
  std::string name;
  Sample raw, lib;
};

void print(const std::vector<Row>& rows, bool markdown) {
  if (markdown) {
    std::printf("| exchange | raw /s | library /s | rate ratio | raw CPU us | library CPU us | CPU ratio |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  } else {
    std::printf("%-30s %10s %10s %7s %10s %10s %7s\n", "exchange", "raw/s", "lib/s", "rate", "raw cpu", "lib cpu",
                "cpu");
  }
  for (const Row& r : rows) {
    double rate = r.raw.per_second > 0 ? r.lib.per_second / r.raw.per_second : 0;
    double cpu = r.raw.cpu_us > 0 ? r.lib.cpu_us / r.raw.cpu_us : 0;
    if (markdown) {
      std::printf("| %s | %.0f | %.0f | %.2f | %.1f | %.1f | %.2f |\n", r.name.c_str(), r.raw.per_second,
                  r.lib.per_second, rate, r.raw.cpu_us, r.lib.cpu_us, cpu);
    } else {
      std::printf("%-30s %10.0f %10.0f %7.2f %10.1f %10.1f %7.2f%s\n", r.name.c_str(), r.raw.per_second,
                  r.lib.per_second, rate, r.raw.cpu_us, r.lib.cpu_us, cpu,
                  r.raw.failures + r.lib.failures > 0 ? "  (failures!)" : "");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = 2000, rounds = 5;
  bool pin = true, markdown = false;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--iterations" && i + 1 < argc) iterations = std::max(1, std::atoi(argv[++i]));
    else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--no-pin") pin = false;
    else if (a == "--markdown") markdown = true;
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: link_bench [--iterations N] [--rounds R] [--no-pin] [--markdown] [--only NAME]\n"
                   "Runs lyrasim and measures the library against a raw exchange.\n");
      return a == "--help" ? 0 : 2;
    }
  }
  if (pin && !plat::pin_to_cpu(0)) std::fprintf(stderr, "link_bench: cannot pin to CPU 0, running unpinned\n");

  Setup setup;
  setup.udp_port = [] {
    auto s = plat::UdpSocket::create(0, "127.0.0.1");
    return s ? s->local_port() : uint16_t{50000};
  }();
  std::string port_text = std::to_string(setup.udp_port);
  ::setenv("LYRALINK_UDP_PORT", port_text.c_str(), 1);
  char dir_template[] = "/tmp/lyralink-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  setup.port_dir = dir_template;
  ::setenv("LYRALINK_PORT_DIR", setup.port_dir.c_str(), 1);

  std::string lyrasim = plat::executable_directory() + "/../tools/lyrasim/lyrasim";
  auto sim = plat::ChildProcess::spawn({lyrasim, "--port-dir", setup.port_dir, "--udp-port", port_text, "--serial",
                                        "COM1=740", "--serial", "COM2=740", "--udp", "127.0.0.1=740", "--udp",
                                        "127.0.0.2=740", "--udp", "127.0.0.3=740", "--fault", "delay=20,on=127.0.0.2", "--fault",
                                        "delay=100,on=127.0.0.3", "--fault",
                                        "delay=20,on=COM2"});
  if (!sim) {
    std::fprintf(stderr, "link_bench: cannot start %s\n", lyrasim.c_str());
    return 1;
  }
  while (auto line = sim->read_line(plat::deadline_after_ms(5000))) {
    if (*line == "ready") break;
  }

  auto udp_open = [](const char* address) {
    return [address] { return open_ethernet(link_state(), address, 2000, 1) == 1; };
  };
  auto serial_open = [](const char* port) {
    return [port] { return open_port(link_state(), port, 2000, 1, 3000000, 0) != 0; };
  };

  struct Case {
    const char* name;
    std::function<Sample(int)> raw, lib;
    int n;
  };
  const int slow = std::max(10, iterations / 40);  // 20 ms a transaction
  const int long_serial = std::max(10, iterations / 20);
  std::vector<Case> cases = {
      {"UDP short", [&](int n) { return raw_udp(setup, "127.0.0.1", false, n); },
       [&](int n) { return library(udp_open("127.0.0.1"), false, n); }, iterations},
      {"UDP long 1440", [&](int n) { return raw_udp(setup, "127.0.0.1", true, n); },
       [&](int n) { return library(udp_open("127.0.0.1"), true, n); }, iterations},
      {"UDP short, answer held 20 ms", [&](int n) { return raw_udp(setup, "127.0.0.2", false, n); },
       [&](int n) { return library(udp_open("127.0.0.2"), false, n); }, slow},
      {"UDP short, answer held 100 ms", [&](int n) { return raw_udp(setup, "127.0.0.3", false, n); },
       [&](int n) { return library(udp_open("127.0.0.3"), false, n); }, std::max(5, slow / 5)},
      {"pty short", [&](int n) { return raw_serial("COM1", false, n); },
       [&](int n) { return library(serial_open("COM1"), false, n); }, iterations},
      {"pty long 1440", [&](int n) { return raw_serial("COM1", true, n); },
       [&](int n) { return library(serial_open("COM1"), true, n); }, long_serial},
      {"pty short, answer held 20 ms", [&](int n) { return raw_serial("COM2", false, n); },
       [&](int n) { return library(serial_open("COM2"), false, n); }, slow},
  };
  std::vector<Row> rows;
  for (auto& c : cases) {
    if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
    std::vector<Sample> raw, lib;
    for (int r = 0; r < rounds; ++r) {  // interleaved, so drifts hit both alike
      raw.push_back(c.raw(c.n));
      lib.push_back(c.lib(c.n));
    }
    rows.push_back(Row{c.name, median(raw), median(lib)});
  }
  std::printf("%s, %d rounds, median of each; CPU = client CPU time per transaction\n",
              pin ? "client and emulator on CPU 0" : "unpinned", rounds);
  print(rows, markdown);
  int failures = 0;
  for (auto& r : rows) failures += r.raw.failures + r.lib.failures;
  sim.reset();
  std::string cleanup = "rm -rf '" + setup.port_dir + "'";
  (void)std::system(cleanup.c_str());
  return failures == 0 ? 0 : 1;
}
