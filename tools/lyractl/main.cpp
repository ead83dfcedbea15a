// SPDX-License-Identifier: LGPL-2.1-or-later
// lyractl: runs analyser commands from the command line through liblyralink.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "include/lyralink.h"
#include "lyralink/commands/answer_fields.h"
#include "lyralink/commands/command_table.h"
#include "lyralink/link/bytes.h"
#include "platform/environment.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "pulsecap/core/recording.h"
#include "tools/lyractl/discover.h"
#include "tools/lyractl/record.h"
#include "tools/lyractl/report.h"

namespace {

namespace fields = lyralink::commands;
using lyralink::get_u32;
using lyractl::Report;

// Exit statuses besides the command's own status code (0-10).
constexpr int kExitUsage = 64;    // bad command line
constexpr int kExitNoLink = 69;   // the link could not be opened

const char* kUsage =
    "Usage: lyractl LINK [OPTION]... COMMAND [ARGUMENT]...\n"
    "  or:  lyractl [OPTION]... discover [--json]\n"
    "  or:  lyractl names | --help\n"
    "Runs one analyser command through liblyralink and prints the answer.\n"
    "\n"
    "Link (one of):\n"
    "  --port COMn          serial port (see LYRALINK_PORT_DIR)\n"
    "  --ip ADDRESS         Ethernet, UDP port 50000 (LYRALINK_UDP_PORT for tests)\n"
    "  --mplx MPLXn#c       client c (1-3) of the Multiplex server on COMn\n"
    "  --select SERIAL|any  search everywhere (COMM_INIT_SELECT, no dialogs) and\n"
    "                       take the analyser with this serial number, or the\n"
    "                       first applicable one\n"
    "  --select-port ID     with --select: only on this port identifier (n for\n"
    "                       COMn, 0 Ethernet, 257/258 direct USB)\n"
    "  --ethernet SERIAL    search the local networks (COMM_INIT_ETHERNET)\n"
    "  --head SERIAL        search the measuring heads (COMM_INIT_ETHERNET_TREBLA)\n"
    "Options:\n"
    "  --baud N             bit rate of a serial port (default 38400)\n"
    "  --timeout MS         answer timeout, at least 850 (default 1000)\n"
    "  --retries N          attempts per transaction (default 3)\n"
    "  --lock               hold the machine-wide transaction lock\n"
    "  --json               print one JSON object instead of text\n"
    "  --log FILE|stderr    write every frame sent and received to FILE (appended)\n"
    "                       or to standard error (sets LYRALINK_LOG)\n"
    "\n"
    "Commands:\n"
    "  discover [--json]    one search on every serial port, USB bridge and\n"
    "                       local network; lists what answered (every port is\n"
    "                       closed again)\n"
    "  NAME [P1..P6]        any command table name (e.g. CMD_QUERY_STATE740,\n"
    "                       init, CMD_SET_GAIN), run through MCA_COMM6; the\n"
    "                       answer is printed raw (see 'lyractl names')\n";

const char* kExitText =
    "\n"
    "Exit status: the command's status code (0 ok, 1 no link, 2-10 device\n"
    "errors and failed transactions as listed in lyralink.h), 64 for a usage\n"
    "error, 69 when the link could not be opened.\n";

struct Invocation {
  std::vector<int32_t> numbers;
  std::string text;
};

void acquisition_field(Report& r, uint16_t state) {
  const std::string_view note = fields::acquisition_note(state);
  r.number("acquisition_state", "acquisition state", state, 0, note.empty() ? "" : "(" + std::string(note) + ")");
}

// ---- the named commands ----

int run_state(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_STATE(a.data());
  r.bytes(a.data(), a.size());
  const fields::StateFields s = fields::read_state(a.data());
  r.number("coarse_gain", "coarse gain", s.coarse_gain);
  r.number("hv_set", "HV set value", s.hv_set, 0, "V");
  r.number("hv_polarity", "HV polarity", s.hv_polarity, 0, s.hv_polarity == 0 ? "(positive)" : "(negative)");
  acquisition_field(r, s.acquisition_state);
  return st;
}

int run_state740(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_STATE740(a.data());
  r.bytes(a.data(), a.size());
  const fields::State740Fields s = fields::read_state740(a.data());
  r.number("firmware", "firmware", s.firmware, 4);
  std::string names;
  for (const fields::FeatureFlag& f : fields::kFeatureFlags) {
    if ((s.feature_flags & f.bit) != 0) names += (names.empty() ? "" : ", ") + std::string(f.name);
  }
  r.number("feature_flags", "feature flags", s.feature_flags, 8, names.empty() ? "" : "(" + names + ")");
  r.number("highest_hv", "highest HV", s.highest_hv, 0, "V");
  acquisition_field(r, s.acquisition_state);
  const fields::DeviceClock& c = s.clock;
  char clock[32];
  std::snprintf(clock, sizeof clock, "%04u-%02u-%02u %02u:%02u:%02u", c.year, c.month, c.day, c.hour, c.minute,
                c.second);
  r.text("device_clock", "device clock", clock);
  return st;
}

int run_state740_ex(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_STATE740_EX(a.data());
  r.bytes(a.data(), a.size());
  const fields::State740ExFields s = fields::read_state740_ex(a.data());
  r.number("memory_size", "memory size", s.memory_size, 0, "bytes");
  r.number("sample_rate_khz", "sample rate", s.sample_rate_khz, 0, "kHz");
  return st;
}

int run_state740_ex2(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_STATE740_EX2(a.data());
  r.bytes(a.data(), a.size());
  return st;
}

int run_power(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_POWER(a.data());
  r.bytes(a.data(), a.size());
  const uint32_t hv = fields::read_power(a.data()).hv_actual;
  r.number("hv_actual", "HV actual", hv, 0, hv == 0 ? "V (off)" : "V");
  return st;
}

int run_voltages(const Invocation& in, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = in.numbers.empty() ? LYRA_QUERY_VOLTAGE_CURRENT(a.data()) : LYRA_QUERY_VOLTAGE_CURRENT_EX(a.data(), in.numbers[0]);
  r.bytes(a.data(), a.size());
  const auto readings = fields::read_voltage_current(a.data()).readings;
  r.list("readings", "readings 1-10", std::vector<uint64_t>(readings.begin(), readings.end()));
  return st;
}

int run_system_data(const Invocation&, Report& r) {
  std::array<uint8_t, 132> a{};
  int st = LYRA_QUERY_SYSTEM_DATA(a.data());
  r.bytes(a.data(), a.size());
  return st;
}

int run_user_data(const Invocation& in, Report& r) {
  std::array<uint8_t, 132> a{};
  const int32_t page = in.numbers.empty() ? 0 : in.numbers[0];
  int st = LYRA_QUERY_USER_DATA(page, a.data());
  r.bytes(a.data(), a.size());
  const fields::UserDataFields u = fields::read_user_data(a.data());
  r.list("words", "words", std::vector<uint64_t>(u.words.begin(), u.words.end()));
  if (page == 0) {
    std::string code;
    for (size_t i = 0; i < u.application_code.size() && u.application_code[i] != 0; ++i) {
      const uint8_t b = u.application_code[i];
      code.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?');
    }
    r.text("application_code", "application code", code.empty() ? "(none)" : code);
  }
  return st;
}

int run_spectrum(const Invocation& in, Report& r) {
  std::array<uint8_t, 132> a{};
  const int32_t first = in.numbers[0], count = in.numbers[1];
  const int32_t selector = in.numbers.size() > 2 ? in.numbers[2] : 0;
  int st = LYRA_QUERY_SPECTRA_EX(first, count, selector, a.data());
  r.bytes(a.data(), a.size());
  const auto all = fields::read_spectrum(a.data()).counts;
  const size_t n = count < 0 ? 0 : std::min(static_cast<size_t>(count), all.size());
  r.list("counts", "counts", std::vector<uint64_t>(all.begin(), all.begin() + static_cast<long>(n)));
  return st;
}

int run_memory(const Invocation& in, Report& r) {
  std::vector<uint8_t> block(2 * fields::kMemoryBlockSamples);
  int st = LYRA_QUERY_COMMON_MEMORY(in.numbers[0], block.data());
  if (st != 0) return st;
  r.bytes(block.data(), block.size());
  std::vector<uint64_t> samples;
  for (size_t i = 0; i < fields::kMemoryBlockSamples; ++i) {
    samples.push_back(lyralink::get_u16(&block[2 * i]) & fields::kSampleSignalMask);
  }
  r.list("samples", "samples (14 bits)", samples);
  return st;
}

int run_histogram(const Invocation& in, Report& r) {
  std::vector<uint8_t> block(1024);
  int st = LYRA_QUERY_HISTOGRAM(in.numbers[0], in.numbers.size() > 1 ? in.numbers[1] : 256, block.data());
  if (st != 0) return st;
  r.bytes(block.data(), block.size());
  std::vector<uint64_t> counts;
  for (size_t i = 0; i < 256; ++i) counts.push_back(get_u32(&block[4 * i]));
  r.list("counts", "counts", counts);
  return st;
}

std::string printable(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0; ++i) s.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '.');
  return s;
}

int run_detector_info(const Invocation& in, Report& r) {
  std::vector<uint8_t> block(1024);
  int st = LYRA_QUERY_DETECTOR_INFO(in.numbers.empty() ? 0 : in.numbers[0], block.data());
  if (st != 0) return st;
  r.bytes(block.data(), block.size());
  r.text("text", "text", printable(block.data(), block.size()));
  return st;
}

int run_eeprom(const Invocation&, Report& r) {
  std::vector<uint8_t> block(1024);
  int st = LYRA_QUERY_EEPROM_INFO(block.data());
  if (st == 0) r.bytes(block.data(), block.size());
  return st;
}

int run_extension_read(const Invocation& in, Report& r) {
  std::vector<char> text(1026, 0);
  const int32_t max = in.numbers.empty() ? 1024 : std::min(in.numbers[0], 1024);
  int st = LYRA_READ_FROM_EXTENSION(text.data(), max);
  if (st == 0) r.text("text", "received", text.data());
  return st;
}

int run_online(const Invocation&, Report&) { return LYRA_QUERY_ON_LINE(); }
int run_set_gain(const Invocation& in, Report&) { return LYRA_SET_GAIN(in.numbers[0], in.numbers.size() > 1 ? in.numbers[1] : 10000); }
int run_set_hv(const Invocation& in, Report&) {
  return LYRA_SET_HIGH_VOLTAGES(in.numbers[0], in.numbers.size() > 1 ? in.numbers[1] : 0);
}
int run_set_time(const Invocation&, Report&) { return LYRA_SET_TIME(); }
int run_set_user_data(const Invocation& in, Report&) { return LYRA_SET_USER_DATA(in.numbers[0], in.numbers[1]); }
int run_set_fill_stop(const Invocation& in, Report&) { return LYRA_SET_COMMON_MEMORY_FILL_STOP(in.numbers[0]); }
int run_set_general_mode(const Invocation& in, Report&) { return LYRA_SET_GENERAL_MODE(in.numbers[0]); }
int run_set_preamp(const Invocation& in, Report&) { return LYRA_SET_PREAMPLIFIER_POWER(in.numbers[0]); }
int run_start(const Invocation& in, Report&) {
  return LYRA_START_ACQUIRE(in.numbers.empty() ? 0 : in.numbers[0], in.numbers.size() > 1 ? in.numbers[1] : 0);
}
int run_stop(const Invocation&, Report&) { return LYRA_STOP_ACQUIRE(); }
int run_reset(const Invocation&, Report&) { return LYRA_RESET(); }
int run_clear(const Invocation&, Report&) { return LYRA_CLEAR_ALL(); }
int run_write_extension(const Invocation& in, Report&) { return LYRA_WRITE_TO_EXTENSION(in.text.c_str()); }
int run_write_detector_info(const Invocation& in, Report&) {
  return LYRA_WRITE_DETECTOR_INFO(in.text.data(), static_cast<int32_t>(in.text.size()));
}

struct NamedCommand {
  const char* name;
  const char* arguments;
  const char* summary;
  int min_numbers;
  int max_numbers;
  bool takes_text;
  uint16_t code;  // the first command code it sends
  int (*run)(const Invocation&, Report&);
};

const NamedCommand kNamed[] = {
    {"state", "", "state (code 90): gain, HV set value and polarity, acquisition", 0, 0, false, 90, run_state},
    {"state740", "", "740 state (257): firmware, features, highest HV, clock", 0, 0, false, 257, run_state740},
    {"state740-ex", "", "extended 740 state (272): memory size, sample rate", 0, 0, false, 272, run_state740_ex},
    {"state740-ex2", "", "second extended 740 state (303)", 0, 0, false, 303, run_state740_ex2},
    {"power", "", "power (89): actual HV", 0, 0, false, 89, run_power},
    {"voltages", "[FLAG]", "voltage and current readings (5), rescaled", 0, 1, false, 5, run_voltages},
    {"system-data", "", "system data (98)", 0, 0, false, 98, run_system_data},
    {"user-data", "[PAGE]", "user data page (94); page 0 has the application code", 0, 1, false, 94, run_user_data},
    {"spectrum", "FIRST COUNT [SEL]", "spectrum counts (91 or 258)", 2, 3, false, 91, run_spectrum},
    {"memory", "OFFSET", "720 samples of the common memory from OFFSET (263)", 1, 1, false, 263, run_memory},
    {"histogram", "FIRST [N]", "histogram block (265)", 1, 2, false, 265, run_histogram},
    {"detector-info", "[PAGE]", "detector information page (307)", 0, 1, false, 307, run_detector_info},
    {"eeprom", "", "EEPROM information (264)", 0, 0, false, 264, run_eeprom},
    {"extension-read", "[MAX]", "text received on the extension port (293)", 0, 1, false, 293, run_extension_read},
    {"online", "", "does the analyser answer? (90, status only)", 0, 0, false, 90, run_online},
    {"set-gain", "COARSE [FINE]", "gain (76); FINE defaults to 10000", 1, 2, false, 76, run_set_gain},
    {"set-hv", "VOLTS [POLARITY]", "high voltage (79)", 1, 2, false, 79, run_set_hv},
    {"set-time", "", "device clock from this computer's local time (260)", 0, 0, false, 260, run_set_time},
    {"set-user-data", "INDEX VALUE", "one user-data word (87)", 2, 2, false, 87, run_set_user_data},
    {"set-fill-stop", "BYTES", "common memory fill stop (279)", 1, 1, false, 279, run_set_fill_stop},
    {"set-general-mode", "MODE", "general mode (261)", 1, 1, false, 261, run_set_general_mode},
    {"set-preamp", "VALUE", "preamplifier power (78)", 1, 1, false, 78, run_set_preamp},
    {"start", "[A1 [A2]]", "start acquisition (66)", 0, 2, false, 66, run_start},
    {"stop", "", "stop acquisition (67)", 0, 0, false, 67, run_stop},
    {"reset", "", "reset (65)", 0, 0, false, 65, run_reset},
    {"clear", "", "clear memory, time and ROI (68)", 0, 0, false, 68, run_clear},
    {"write-extension", "TEXT", "send TEXT on the extension port's serial line (287, 288)", 0, 0, true, 287,
     run_write_extension},
    {"write-detector-info", "TEXT", "store TEXT as detector information (308)", 0, 0, true, 308,
     run_write_detector_info},
};

void usage(FILE* to) {
  std::fputs(kUsage, to);
  for (const NamedCommand& c : kNamed) {
    std::string head = std::string(c.name) + (c.arguments[0] != '\0' ? " " : "") + c.arguments;
    // A name of 20 characters would leave a single blank before its text.
    if (head.size() >= 20) {
      std::fprintf(to, "  %s\n  %-20s %s\n", head.c_str(), "", c.summary);
    } else {
      std::fprintf(to, "  %-20s %s\n", head.c_str(), c.summary);
    }
  }
  std::fputs("  names                list the command table names\n", to);
  std::fputs("  record SECONDS FILE  record the signal memory as pulsecap does: fill stop,\n"
             "                       start, 100 ms, chunked reads; FILE is WAVE when it ends\n"
             "                       in \".wav\", else text (exit 73/74: FILE cannot be\n"
             "                       created/written)\n",
             to);
  std::fputs(kExitText, to);
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "lyractl: %s\nTry 'lyractl --help'.\n", why.c_str());
  return kExitUsage;
}

// Decimal, 0x hexadecimal or negative; anything that fits 32 bits (values
// above 0x7FFFFFFF are passed as their two's-complement pattern).
std::optional<int32_t> parse_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  // A number beyond long long comes back as LLONG_MIN or LLONG_MAX, which
  // the range check refuses like any other number outside 32 bits.
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

struct LinkChoice {
  enum class Kind { none, port, ip, mplx, search } kind = Kind::none;
  lyractl::SearchLink search;
  std::string target;
  int32_t baud = 38400;
  int32_t timeout = 1000;
  int32_t retries = 3;
  bool lock = false;
};

// Why a serial port could not be opened, as far as this process can tell.
std::string explain_port_failure(const std::string& name) {
  std::optional<std::string> path = lyralink::platform::resolve_serial_port(name);
  if (!path) return "no such port (no entry " + name + " in " + lyralink::platform::port_directory() + ")";
  lyralink::platform::SystemError error;
  if (!lyralink::platform::SerialPort::open(*path, &error)) return error.message();
  return *path + " opens, but the library refused it (port name too long?)";
}

bool open_link(LinkChoice& l) {
  switch (l.kind) {
    case LinkChoice::Kind::search: return lyractl::open_search_link(l.search, l.timeout, l.retries, l.target);
    case LinkChoice::Kind::ip:
      if (COMM_INIT_ETHERNET_IP(l.target.c_str(), l.timeout, l.retries) != 0) return true;
      std::fprintf(stderr, "lyractl: cannot open an Ethernet link to %s: not a dotted IPv4 address, or no UDP socket\n",
                   l.target.c_str());
      return false;
    case LinkChoice::Kind::port:
    case LinkChoice::Kind::mplx:
      if (COMM_INIT_EX3(l.target.c_str(), l.timeout, l.retries, l.baud, l.lock ? 1 : 0) != 0) return true;
      if (l.kind == LinkChoice::Kind::mplx) {
        std::fprintf(stderr, "lyractl: cannot open %s: no Multiplex server for that port, or client slot taken\n",
                     l.target.c_str());
      } else {
        std::fprintf(stderr, "lyractl: cannot open %s: %s\n", l.target.c_str(), explain_port_failure(l.target).c_str());
      }
      return false;
    case LinkChoice::Kind::none: break;
  }
  return false;
}

int list_names() {
  for (const auto& row : lyralink::commands::command_table()) {
    if (!row.short_name.empty()) {
      std::printf("%-36s %-24s %u\n", std::string(row.long_name).c_str(), std::string(row.short_name).c_str(),
                  row.command.code);
    } else {
      std::printf("%-36s %-24s %u\n", std::string(row.long_name).c_str(), "", row.command.code);
    }
  }
  return 0;
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  LinkChoice link;
  bool json = false;
  size_t i = 0;
  auto value_of = [&](const std::string& option) -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    (void)option;
    return args[++i];
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      usage(stdout);
      return 0;
    }
    if (a == "--json") {
      json = true;
    } else if (a == "--lock") {
      link.lock = true;
    } else if (a == "--select" || a == "--ethernet" || a == "--head") {
      auto v = value_of(a);
      if (!v) return usage_error(a + " needs a serial number");
      if (link.kind != LinkChoice::Kind::none) return usage_error("give only one link option");
      link.kind = LinkChoice::Kind::search;
      link.search.kind = a == "--select" ? lyractl::SearchLink::Kind::select
                         : a == "--ethernet" ? lyractl::SearchLink::Kind::ethernet
                                             : lyractl::SearchLink::Kind::head;
      if (a == "--select" && *v == "any") {
        link.search.any = true;
      } else {
        auto serial = lyractl::parse_serial(*v);
        if (!serial || (a == "--select" && *serial == 0)) return usage_error(a + " needs a serial number (1-65535)" +
                                                                             std::string(a == "--select" ? " or any" : ""));
        link.search.serial = *serial;
      }
    } else if (a == "--select-port") {
      auto v = value_of(a);
      std::optional<int32_t> n = v ? parse_number(*v) : std::nullopt;
      if (!n || *n < 0 || *n > 0xFFFF) return usage_error("--select-port needs a port identifier (0-65535)");
      link.search.port = static_cast<uint16_t>(*n);
    } else if (a == "--port" || a == "--ip" || a == "--mplx") {
      auto v = value_of(a);
      if (!v) return usage_error(a + " needs a value");
      if (link.kind != LinkChoice::Kind::none) return usage_error("give only one link option");
      link.kind = a == "--port" ? LinkChoice::Kind::port : a == "--ip" ? LinkChoice::Kind::ip : LinkChoice::Kind::mplx;
      link.target = *v;
    } else if (a == "--log") {
      auto v = value_of(a);
      if (!v || v->empty()) return usage_error("--log needs a file name or stderr");
      // The library reads it when the link is opened, which is later.
      if (!lyralink::platform::set_environment_value("LYRALINK_LOG", *v)) return usage_error("--log: cannot set LYRALINK_LOG");
    } else if (a == "--baud" || a == "--timeout" || a == "--retries") {
      auto v = value_of(a);
      std::optional<int32_t> n = v ? parse_number(*v) : std::nullopt;
      if (!n || *n <= 0) return usage_error(a + " needs a positive number");
      (a == "--baud" ? link.baud : a == "--timeout" ? link.timeout : link.retries) = *n;
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown option " + a);
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage_error("no command given");
  const std::string command = args[i++];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i), args.end());
  if (command == "names") return list_names();
  if (command == "discover") {
    for (const std::string& r : rest) {
      if (r == "--json") json = true;
      else return usage_error("discover takes only --json");
    }
    if (link.kind != LinkChoice::Kind::none) return usage_error("discover searches by itself: give no link");
    return lyractl::run_discover(json);
  }
  if (link.search.port && !(link.kind == LinkChoice::Kind::search && link.search.kind == lyractl::SearchLink::Kind::select)) {
    return usage_error("--select-port goes with --select");
  }
  if (command == "record") {
    if (rest.size() != 2) return usage_error("record takes SECONDS and FILE");
    if (!pulsecap::is_decimal_seconds(rest[0])) {
      return usage_error("'" + rest[0] + "' is not a number of seconds (decimal digits with at most one point)");
    }
    if (link.kind == LinkChoice::Kind::none) {
      return usage_error("no link given: use --port, --ip, --mplx, --select, --ethernet or --head");
    }
    if (!open_link(link)) return kExitNoLink;
    const int status = lyractl::run_record(rest[0], rest[1]);
    COMM_CLOSE();
    return status;
  }

  const NamedCommand* named = nullptr;
  for (const NamedCommand& c : kNamed) {
    if (command == c.name) named = &c;
  }
  const lyralink::commands::CommandRow* row = named ? nullptr : lyralink::commands::find_command_row(command.c_str());
  if (named == nullptr && row == nullptr) return usage_error("unknown command '" + command + "' (see 'lyractl --help' and 'lyractl names')");

  Invocation in;
  if (named != nullptr && named->takes_text) {
    if (rest.size() != 1) return usage_error(command + " takes one text argument");
    in.text = rest[0];
  } else {
    const int max = named != nullptr ? named->max_numbers : 6;
    const int min = named != nullptr ? named->min_numbers : 0;
    if (static_cast<int>(rest.size()) < min || static_cast<int>(rest.size()) > max) {
      return usage_error(command + " takes " + (min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max)) +
                         " numbers");
    }
    for (const std::string& word : rest) {
      auto n = parse_number(word);
      if (!n) return usage_error("'" + word + "' is not a number");
      in.numbers.push_back(*n);
    }
  }
  if (link.kind == LinkChoice::Kind::none) {
    return usage_error("no link given: use --port, --ip, --mplx, --select, --ethernet or --head");
  }
  if (!open_link(link)) return kExitNoLink;

  Report report;
  int status;
  uint16_t code;
  std::string name;
  if (named != nullptr) {
    status = named->run(in, report);
    code = named->code;
    name = named->name;
  } else {
    std::array<int32_t, 6> p{};
    for (size_t k = 0; k < in.numbers.size(); ++k) p[k] = in.numbers[k];
    std::array<uint8_t, 132> answer{};
    status = MCA_COMM6(command.c_str(), answer.data(), p[0], p[1], p[2], p[3], p[4], p[5]);
    report.bytes(answer.data(), answer.size());
    code = row->command.code;
    name = std::string(row->long_name);
  }
  COMM_CLOSE();
  report.print(stdout, json, link.target, name, code, status);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
