// SPDX-License-Identifier: LGPL-2.1-or-later
// One COMM_INIT_SELECT (no dialogs) over 4 analysers on pseudo-terminals,
// 2 on UDP in a network namespace and 2 on the stand-in USB library: its
// wall time against the fixed waits the procedure must spend (the two 1 s
// Ethernet windows, the 100 ms waits of the baud ladder's failed attempts)
// plus the wire time of what is exchanged after the windows, and its CPU
// time.
//
// The analysers send their answers at the line's byte rate (wire=1), as a
// real serial line would. The program runs itself inside the namespaces of
// netns_run.sh, with the analysers in the peer namespace and the devices'
// real port 50000.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lyralink/discovery/selection.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace plat = lyralink::platform;
using namespace lyralink;

namespace {

struct Scenario {
  const char* name;
  uint16_t serial;     // the analyser taken
  double fixed_ms;     // waits the procedure must spend
  double wire_ms;      // line time of the exchanges after the windows
};

// Line time of n bytes at `baud`, 10 bits a byte.
double wire_ms(double bytes, double baud) { return bytes * 10.0 * 1000.0 / baud; }

struct Result {
  double wall_ms = 0;
  double cpu_ms = 0;
  bool ok = false;
};

Result run_once(uint16_t serial) {
  link::close_link(link::link_state());
  uint8_t block[24] = {};
  put_u16(block, 24);
  put_u16(block + 2, serial);
  put_u16(block + 6, 0xFFFF);
  put_u16(block + 8, 0xFFFF);
  put_u16(block + 10, 0x1116);
  put_u16(block + 16, 0xFFFF);  // dialogs flag 0 at offset 14
  const uint64_t cpu0 = plat::process_cpu_time_us();
  const auto t0 = plat::Clock::now();
  const int16_t r = discovery::comm_init_select(link::link_state(), block, 1000, 1, nullptr);
  Result out;
  out.wall_ms = std::chrono::duration<double, std::milli>(plat::Clock::now() - t0).count();
  out.cpu_ms = static_cast<double>(plat::process_cpu_time_us() - cpu0) / 1000.0;
  out.ok = r == 1;
  link::close_link(link::link_state());
  return out;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  bool markdown = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--markdown") {
      markdown = true;
    } else {
      std::fprintf(stderr, "usage: discovery_bench [--rounds N] [--markdown]\n"
                           "One COMM_INIT_SELECT against its fixed waits, in private network namespaces.\n");
      return a == "--help" ? 0 : 2;
    }
  }
  const char* peer = std::getenv("LYRATEST_PEER_NETNS");
  if (peer == nullptr) {
    if (std::getenv("LYRATEST_NO_NETNS") != nullptr) {
      std::fprintf(stderr, "discovery_bench: no user namespaces here (unshare -rn failed); not run\n");
      return 0;
    }
    std::vector<char*> args{const_cast<char*>(DISCOVERY_NETNS_RUN)};
    std::string self = plat::executable_directory() + "/discovery_bench";
    args.push_back(self.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(DISCOVERY_NETNS_RUN, args.data());
    std::perror("discovery_bench: netns_run.sh");
    return 1;
  }

  char dir_template[] = "/tmp/lyralink-discovery-bench-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return 1;
  const std::string dir = dir_template;
  const std::string ports = dir + "/ports";
  (void)std::system(("mkdir -p '" + ports + "' '" + dir + "/registry'").c_str());
  ::setenv("LYRALINK_PORT_DIR", ports.c_str(), 1);
  ::setenv("LYRALINK_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
  ::setenv("LYRALINK_FTD2XX", (plat::executable_directory() + "/../tools/lyrasim/libftd2xx.so").c_str(), 1);
  ::setenv("LYRASIM_USB", "740,sn=21,com=7,wire=1,bauds=38400/307200;740,sn=22,com=8,wire=1", 1);
  ::unsetenv("LYRALINK_HOST_ADDRESSES");

  const std::string lyrasim = plat::executable_directory() + "/../tools/lyrasim/lyrasim";
  auto sim = plat::ChildProcess::spawn(
      {"nsenter", std::string("--net=") + peer, lyrasim, "--port-dir", ports, "--serial", "COM1=740,sn=1,wire=1",
       "--serial", "COM2=740,sn=2,wire=1", "--serial", "COM3=310,sn=3,wire=1", "--serial",
       "COM4=740,sn=4,wire=1,bauds=38400/307200", "--udp", "10.9.0.11=740,sn=11", "--udp", "10.20.5.5=740,sn=12"});
  if (!sim) {
    std::fprintf(stderr, "discovery_bench: cannot start %s\n", lyrasim.c_str());
    return 1;
  }
  while (auto line = sim->read_line(plat::deadline_after_ms(5000))) {
    if (*line == "ready") break;
  }

  // After the windows: the 740 probe again to the three 740s on serial
  // ports, at 38400 (sent together, answered in parallel). The ladder to
  // 307200: four failed attempts at 3000000 (100 ms each), success at
  // 307200, the same again.
  const double reprobe = wire_ms(12 + 136, 38400);
  const double ladder_fixed = 8 * 100.0;
  const double ladder_wire = 2 * wire_ms(12 + 136, 307200);
  const Scenario scenarios[] = {
      {"serial COM4, ladder to 307200", 4, 2000 + ladder_fixed, reprobe + ladder_wire},
      {"direct USB, ladder to 307200", 21, 2000 + ladder_fixed, reprobe + ladder_wire},
      {"Ethernet 10.9.0.11", 11, 2000, reprobe},
  };
  bool all_ok = true;
  if (markdown) {
    std::printf("| selection | fixed waits ms | wire ms | wall ms | wall / (fixed + wire) | CPU ms |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
  } else {
    std::printf("%-32s %10s %8s %9s %14s %8s\n", "selection", "fixed ms", "wire ms", "wall ms", "wall/(f+w)",
                "CPU ms");
  }
  for (const Scenario& sc : scenarios) {
    std::vector<double> wall, cpu;
    for (int r = 0; r < rounds; ++r) {
      Result res = run_once(sc.serial);
      all_ok = all_ok && res.ok;
      wall.push_back(res.wall_ms);
      cpu.push_back(res.cpu_ms);
    }
    const double w = median(wall), c = median(cpu), base = sc.fixed_ms + sc.wire_ms;
    if (markdown) {
      std::printf("| %s | %.0f | %.1f | %.1f | %.3f | %.1f |\n", sc.name, sc.fixed_ms, sc.wire_ms, w, w / base, c);
    } else {
      std::printf("%-32s %10.0f %8.1f %9.1f %14.3f %8.1f\n", sc.name, sc.fixed_ms, sc.wire_ms, w, w / base, c);
    }
  }
  std::printf("%d round%s each, medians; CPU = this process (library and the in-process USB stand-in)\n", rounds,
              rounds == 1 ? "" : "s");
  sim.reset();
  (void)std::system(("rm -rf '" + dir + "'").c_str());
  if (!all_ok) std::fprintf(stderr, "discovery_bench: a selection did not open its link\n");
  return all_ok ? 0 : 1;
}
