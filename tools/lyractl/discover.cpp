// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyractl/discover.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "include/lyralink.h"
#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/host_addresses.h"
#include "lyralink/discovery/selection.h"
#include "lyralink/discovery/special_ips.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "tools/lyractl/report.h"

namespace lyractl {

namespace disc = lyralink::discovery;
namespace plat = lyralink::platform;
using lyralink::get_u16;
using lyralink::put_u16;

namespace {

// A selection parameter block without dialogs.
std::vector<uint8_t> quiet_block(uint16_t serial, uint16_t port_filter) {
  std::vector<uint8_t> b(24, 0);
  put_u16(&b[0], 24);
  put_u16(&b[2], serial);
  put_u16(&b[6], 0xFFFF);
  put_u16(&b[8], 0xFFFF);
  put_u16(&b[10], 0x1116);
  put_u16(&b[14], 0);  // no dialogs
  put_u16(&b[16], port_filter);
  return b;
}

// One detection pass of this program's own copy of the discovery, judged
// as a selection without dialogs judges it. The result owns the ports that
// answered and closes them again when it goes: nothing is selected here.
disc::SearchResult detection_pass(lyralink::link::LinkState& s) {
  disc::load_special_ips();
  return disc::detect(s, disc::read_selection_block(quiet_block(0, 0xFFFF).data()).admission, "");
}

std::vector<std::string> split_tabs(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = text.find('\t', start);
    std::string piece = text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
    if (!piece.empty() && piece[0] == ' ') piece.erase(0, 1);  // the texts put a blank after each tab
    out.push_back(piece);
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

std::string port_id_text(const disc::DeviceEntry& e) {
  if (e.inoperable) return "-";
  char buf[16];
  if (e.port_id > 256) std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(e.port_id));
  else std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(e.port_id));
  return buf;
}

void print_table(const disc::DeviceList& list) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"ANALYSER", "FIRMWARE", "STATE", "PORT", "IP ADDRESS", "SERIAL", "PORT ID", "APPLICABLE"});
  for (const auto& e : list.entries()) {
    std::vector<std::string> cols = split_tabs(e.list_text);
    cols.resize(3);
    cols.push_back(e.port_name.empty() ? "-" : e.port_name);
    cols.push_back(e.ip_address.empty() ? "-" : e.ip_address);
    cols.push_back(e.inoperable ? "-" : std::to_string(e.serial_number));
    cols.push_back(port_id_text(e));
    cols.push_back(e.applicable != 0 ? "yes" : "no");
    rows.push_back(cols);
  }
  std::vector<size_t> width(rows[0].size(), 0);
  for (const auto& r : rows) {
    for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
  }
  for (const auto& r : rows) {
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) {
      line += r[i];
      if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

void print_json(const disc::DeviceList& list) {
  std::printf("[");
  bool first = true;
  for (const auto& e : list.entries()) {
    std::printf("%s{\"text\":%s,\"port\":%s,\"ip\":%s,\"serial\":%u,\"port_id\":%u,\"applicable\":%s}",
                first ? "" : ",", json_string(e.list_text).c_str(), json_string(e.port_name).c_str(),
                json_string(e.ip_address).c_str(), static_cast<unsigned>(e.serial_number),
                static_cast<unsigned>(e.port_id), e.applicable != 0 ? "true" : "false");
    first = false;
  }
  std::printf("]\n");
}

// What was searched, and what may have kept analysers out of the list.
struct Survey {
  std::vector<std::string> ports;         // COMn names that have a device path
  std::vector<std::string> no_permission;  // "COMn (path)"
  std::vector<std::string> busy;
  bool usb_library = false;
  uint32_t usb_devices = 0;
  std::vector<std::string> host_addresses;
  std::vector<std::string> broadcasts;
  size_t remembered = 0;
};

// Taken only when the search found nothing: every port is opened once
// more, and each open of a real line raises and drops its modem lines.
Survey survey(lyralink::link::LinkState& link) {
  Survey s;
  for (int n = 1; n <= disc::kMaxComPort; ++n) {
    const std::string name = "COM" + std::to_string(n);
    auto path = plat::resolve_serial_port(name);
    if (!path) continue;
    s.ports.push_back(name);
    auto err = plat::serial_port_open_error(*path);
    if (!err) continue;
    if (err->kind == plat::ErrorKind::permission_denied) s.no_permission.push_back(name + " (" + *path + ")");
    if (err->kind == plat::ErrorKind::busy || err->kind == plat::ErrorKind::would_block) {
      s.busy.push_back(name + " (" + *path + ")");
    }
  }
  auto& lib = link.usb_library();
  s.usb_library = lib.loaded();
  if (s.usb_library) {
    uint32_t n = 0;
    if (lib.fn().FT_ListDevices(&n, nullptr, lyralink::link::FT_LIST_NUMBER_ONLY) == lyralink::link::FT_OK) {
      s.usb_devices = n;
    }
  }
  const auto table = disc::current_host_table();
  for (const auto& h : table) s.host_addresses.push_back(h.text);
  s.broadcasts = disc::broadcast_targets(table);
  s.remembered = disc::special_ip_list().count();
  return s;
}

std::string joined(const std::vector<std::string>& v, size_t max = 6) {
  std::string out;
  for (size_t i = 0; i < v.size() && i < max; ++i) out += (i ? ", " : "") + v[i];
  if (v.size() > max) out += ", ...";
  return out;
}

std::string where_ports_come_from() {
  if (std::getenv("LYRALINK_PORT_DIR") != nullptr) return "no entries in " + plat::port_directory();
  return "no entry in /etc/lyralink/ports and none of /dev/ttyS0-31, /dev/ttyUSB0-31, /dev/ttyACM0-31";
}

// Notes on stderr that explain an empty list.
void explain(const Survey& s) {
  std::fflush(stdout);  // the list first, then the notes about it
  for (const auto& p : s.no_permission) {
    std::fprintf(stderr,
                 "lyractl: %s: permission denied. Serial ports belong to the group 'dialout': "
                 "sudo usermod -aG dialout \"$USER\", then log in again.\n",
                 p.c_str());
  }
  for (const auto& p : s.busy) {
    std::fprintf(stderr, "lyractl: %s is held by another program (a Multiplex server?); not searched.\n", p.c_str());
  }
  std::fprintf(stderr, "lyractl: searched %zu serial port%s%s%s, ", s.ports.size(), s.ports.size() == 1 ? "" : "s",
               s.ports.empty() ? "" : " (", s.ports.empty() ? "" : (joined(s.ports) + ")").c_str());
  if (s.usb_library) {
    std::fprintf(stderr, "%u USB bridge%s, ", s.usb_devices, s.usb_devices == 1 ? "" : "s");
  } else {
    std::fprintf(stderr, "no USB bridges directly (%s not found), ", lyralink::link::BridgeLibrary::file_name().c_str());
  }
  if (s.broadcasts.empty()) std::fprintf(stderr, "no network broadcast");
  else std::fprintf(stderr, "the networks of %s", joined(s.broadcasts).c_str());
  std::fprintf(stderr, " and %zu remembered address%s.\n", s.remembered, s.remembered == 1 ? "" : "es");
  if (s.ports.empty()) {
    std::fprintf(stderr, "lyractl: no serial port exists here (%s); analysers on USB-serial bridges appear as "
                         "/dev/ttyUSBn = COM33 and up.\n",
                 where_ports_come_from().c_str());
  } else if (s.no_permission.size() == s.ports.size()) {
    std::fprintf(stderr, "lyractl: none of the serial ports could be opened: see the permission notes above.\n");
  }
  if (s.host_addresses.empty()) {
    std::fprintf(stderr, "lyractl: no network interface is up (loopback aside): no analyser can answer over "
                         "Ethernet.\n");
  } else if (s.broadcasts.empty()) {
    std::fprintf(stderr, "lyractl: no local network has a subnet mask, so no broadcast was sent.\n");
  }
  std::fprintf(stderr, "lyractl: an analyser on another subnet is found through its address: choose it once "
                       "in a program's selection dialog (special IP), or open it with --ip ADDRESS.\n");
}

std::string label_of_link() {
  uint8_t record[12] = {};
  put_u16(record, sizeof record);
  GET_COMM_PARAM(record);
  const uint16_t id = get_u16(record + 2);
  const uint32_t baud = lyralink::get_u32(record + 4);
  if (id == 0) return "Ethernet";
  if (id >= 1 && id <= 256) return "COM" + std::to_string(id) + " at " + std::to_string(baud) + " baud";
  if (id == 0x0101 || id == 0x0102) return "USB at " + std::to_string(baud) + " baud";
  return "link";
}

}  // namespace

std::optional<uint16_t> parse_serial(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(v);
}

int run_discover(bool json) {
  lyralink::link::LinkState link;
  disc::SearchResult found = detection_pass(link);
  const disc::DeviceList& list = found.list;
  if (json) {
    print_json(list);
  } else if (list.empty()) {
    std::printf("No analyser found.\n");
  } else {
    print_table(list);
    size_t applicable = 0;
    for (const auto& e : list.entries()) applicable += e.applicable != 0 ? 1 : 0;
    std::printf("\n%zu analyser%s found, %zu applicable.\n", list.size(), list.size() == 1 ? "" : "s", applicable);
  }
  if (list.empty()) {
    found.release();  // the survey opens the ports itself
    explain(survey(link));
  }
  return 0;
}

bool open_search_link(const SearchLink& l, int32_t timeout, int32_t retries, std::string& label) {
  int16_t opened = 0;
  switch (l.kind) {
    case SearchLink::Kind::select: {
      uint16_t serial = l.serial;
      uint16_t filter = l.port.value_or(0xFFFF);
      if (l.any) {
        // The first applicable entry of a pass, then taken by its serial
        // number and port: COM ports and USB devices are opened by the
        // library only through the selection.
        std::optional<disc::DeviceEntry> chosen;
        {
          // The pass's ports are closed at the end of this block, before
          // the library opens the chosen one.
          lyralink::link::LinkState link;
          const disc::SearchResult found = detection_pass(link);
          for (const auto& e : found.list.entries()) {
            if (e.applicable != 0 && (!l.port || e.port_id == *l.port)) {
              chosen = e;
              break;
            }
          }
        }
        if (!chosen) {
          std::fprintf(stderr, "lyractl: no applicable analyser found%s (see 'lyractl discover')\n",
                       l.port ? " on that port" : "");
          return false;
        }
        serial = chosen->serial_number;
        filter = chosen->port_id;
      }
      auto block = quiet_block(serial, filter);
      opened = COMM_INIT_SELECT(block.data(), timeout, retries, nullptr);
      if (opened == 0) {
        std::fprintf(stderr,
                     "lyractl: no analyser with serial number %u%s found that is free (see 'lyractl discover')\n",
                     static_cast<unsigned>(serial), l.port ? " on that port" : "");
      }
      break;
    }
    case SearchLink::Kind::ethernet:
      opened = COMM_INIT_ETHERNET(l.serial, timeout, retries, nullptr);
      if (opened == 0) {
        std::fprintf(stderr, "lyractl: no free analyser with serial number %u answered on the local networks\n",
                     static_cast<unsigned>(l.serial));
      }
      break;
    case SearchLink::Kind::head:
      opened = COMM_INIT_ETHERNET_TREBLA(l.serial, timeout, retries, nullptr);
      if (opened == 0) {
        std::fprintf(stderr, "lyractl: no measuring head of the analyser with serial number %u answered\n",
                     static_cast<unsigned>(l.serial));
      }
      break;
  }
  if (opened == 0) return false;
  label = label_of_link();
  return true;
}

}  // namespace lyractl
