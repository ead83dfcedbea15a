// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/device_list.h"

#include <cstdio>
#include <cstring>

namespace lyralink::discovery {

namespace {

std::string bounded(const std::string& text, size_t field_size) {
  return text.substr(0, std::min(text.size(), field_size - 1));
}

// snprintf into a field-sized buffer: the text can never outgrow the field.
template <class... Args>
std::string format_field(const char* format, Args... args) {
  char buf[kListTextSize];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

unsigned major_of(uint16_t firmware) { return firmware >> 8; }
unsigned minor_of(uint16_t firmware) { return firmware & 0xFFu; }

}  // namespace

void DeviceEntry::set_list_text(const std::string& text) { list_text = bounded(text, kListTextSize); }
void DeviceEntry::set_ip_address(const std::string& text) { ip_address = bounded(text, kIpAddressSize); }
void DeviceEntry::set_port_name(const std::string& text) { port_name = bounded(text, kPortNameSize); }

DeviceList& device_list() {
  static DeviceList* list = new DeviceList;  // lives until the library is unloaded
  return *list;
}

void remove_duplicate_addresses(DeviceList& list) {
  auto& e = list.entries();
  for (size_t i = 0; i < e.size(); ++i) {
    for (size_t j = i + 1; j < e.size();) {
      if (e[j].ip_address == e[i].ip_address) {
        e.erase(e.begin() + static_cast<std::ptrdiff_t>(j));
      } else {
        ++j;
      }
    }
  }
}

uint32_t device_type_code(const std::string& description) {
  struct Row {
    const char* description;
    uint32_t code;
  };
  static constexpr Row kTypes[] = {
      {"MCA-740 OEM", 8}, {"MCA-740 Micro", 16}, {"MCA-740", 4}, {"MCA-310 Cable", 2}, {"MCA-310", 1},
  };
  for (const Row& r : kTypes) {
    if (description == r.description) return r.code;
  }
  return 0;
}

uint16_t usb_port_id_740(uint32_t type, uint16_t variant) {
  return (type & kPlainModels) != 0 && variant != 2 ? 0x0102 : 0x0101;
}

uint16_t usb_port_id_310(uint32_t type) { return (type & kPlainModels) != 0 ? 0x0102 : 0x0101; }

Judgement judge_740(const Identity740& id, const Admission& a) {
  Judgement j;
  if (id.in_use()) {
    j.in_use = true;
    j.suffix = "\t(in use)";
    return j;
  }
  j.applicable = a.admit_740 && id.firmware >= a.min_fw_740;
  if (!j.applicable) j.suffix = "\t(unsuitable)";
  return j;
}

Judgement judge_310(const Identity310& id, const Admission& a) {
  Judgement j;
  j.applicable = a.admit_310 && id.firmware >= a.min_fw_310;
  if (!j.applicable) j.suffix = "\t(unsuitable)";
  return j;
}

std::string list_text_740(uint16_t serial, const std::string& where, uint16_t firmware) {
  return format_field("MCA-740#%05u on %s\t FW# %02X.%02X", unsigned{serial}, where.c_str(), major_of(firmware),
                      minor_of(firmware));
}

std::string list_text_310(uint16_t serial, const std::string& where, uint16_t firmware) {
  return format_field("MCA-310#%05u on %s\t FW# %02X.%02X", unsigned{serial}, where.c_str(), major_of(firmware),
                      minor_of(firmware));
}

std::string inoperable_text_740() { return "MCA-740#????? on USB\t FW# ??.??\t(inoperable)"; }
std::string inoperable_text_310() { return "MCA-310#????? on USB\t FW# ??.??\t(inoperable)"; }

std::string ethernet_search_text(uint16_t serial, const std::string& address, bool in_use) {
  return format_field("MCA-740#%05u on %s%s", unsigned{serial}, address.c_str(), in_use ? " (in use)" : "");
}

std::string head_text(uint32_t head_serial, const std::string& analyser_text) {
  const size_t on = analyser_text.find("on");
  const std::string tail = on == std::string::npos ? "" : analyser_text.substr(on);
  return format_field("Trebla#%05u %s", head_serial, tail.c_str());
}

std::string address_from_list_text(const std::string& text) {
  std::string t = text;
  if (size_t cut = t.find(" (in use)"); cut != std::string::npos) t.resize(cut);
  const size_t on = t.find("on");
  if (on == std::string::npos || on + 3 > t.size()) return {};
  return t.substr(on + 3, 15);
}

std::optional<size_t> find_automatic(const DeviceList& list, uint16_t serial, uint16_t port_filter) {
  for (size_t i = 0; i < list.size(); ++i) {
    const DeviceEntry& e = list.at(i);
    if (e.inoperable) continue;
    if (e.serial_number != serial) continue;
    if (e.list_text.find("(in use)") != std::string::npos) continue;
    if (port_filter != 0xFFFF && e.port_id != port_filter) continue;
    return i;
  }
  return std::nullopt;
}

}  // namespace lyralink::discovery
