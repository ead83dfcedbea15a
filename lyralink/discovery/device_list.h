/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The device list: one entry per analyser a search found, in the order the
// search appended them (automatic selection and the selection dialog refer
// to that order). Plain C++, no I/O: the entries name the ports they were
// found on, but the detection pass owns those ports (selection.h).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lyralink/discovery/identity.h"
#include "lyralink/link/bridge_library.h"

namespace lyralink::platform {
class SerialPort;
}

namespace lyralink::discovery {

// Field widths of a device entry, terminating zero included.
constexpr size_t kListTextSize = 60;
constexpr size_t kIpAddressSize = 20;
constexpr size_t kPortNameSize = 8;

struct DeviceEntry {
  std::string list_text;   // at most 59 characters (set_list_text)
  std::string ip_address;  // dotted IPv4 of an Ethernet entry, at most 19 characters
  std::string port_name;   // "USB", "COMn" or empty, at most 7 characters
  uint16_t serial_number = 0;
  uint16_t port_id = 0;
  platform::SerialPort* serial_port = nullptr;  // the pass's open port of a serial entry
  link::FT_HANDLE usb_handle = nullptr;         // the pass's open device of a USB entry
  uint32_t applicable = 0;
  // Listed without an answer: no serial number, no port identifier, nothing
  // to link to. Never taken.
  bool inoperable = false;

  // Bounded copies: longer texts are cut to the field's width.
  void set_list_text(const std::string& text);
  void set_ip_address(const std::string& text);
  void set_port_name(const std::string& text);
};

class DeviceList {
 public:
  void clear() { entries_.clear(); }
  void append(DeviceEntry entry) { entries_.push_back(std::move(entry)); }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const DeviceEntry& at(size_t i) const { return entries_.at(i); }
  DeviceEntry& at(size_t i) { return entries_.at(i); }
  void erase(size_t i) { entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i)); }
  std::vector<DeviceEntry>& entries() { return entries_; }
  const std::vector<DeviceEntry>& entries() const { return entries_; }

 private:
  std::vector<DeviceEntry> entries_;
};

// The process-wide device list. Each search empties it at its start and
// leaves its result in it.
DeviceList& device_list();

// For each entry, first to last, deletes every later entry with an equal IP
// address string.
void remove_duplicate_addresses(DeviceList& list);

// ---- device types of the USB bridges ----

// The code for a bridge's description, by exact comparison: "MCA-740 OEM" 8,
// "MCA-740 Micro" 16, "MCA-740" 4, "MCA-310 Cable" 2, "MCA-310" 1, else 0.
uint32_t device_type_code(const std::string& description);
constexpr uint32_t kFamily740 = 0x1C;
constexpr uint32_t kFamily310 = 0x03;
constexpr uint32_t kPlainModels = 0x05;
inline bool in_740_family(uint32_t type) { return (type & kFamily740) != 0; }
inline bool in_310_family(uint32_t type) { return (type & kFamily310) != 0; }

// Port identifier of a direct USB entry: 0x0102 for a plain model ("MCA-740"
// or "MCA-310") unless a 740 reports variant 2, else 0x0101.
uint16_t usb_port_id_740(uint32_t type, uint16_t variant);
uint16_t usb_port_id_310(uint32_t type);

// ---- admission rules ----

// Which analysers the caller may use (from the selection parameter block).
struct Admission {
  bool admit_310 = false;
  uint16_t min_fw_310 = 0xFFFF;
  bool admit_740 = true;
  uint16_t min_fw_740 = 0x1116;
};

struct Judgement {
  bool in_use = false;
  bool applicable = false;
  // "\t(in use)", "\t(unsuitable)" or "".
  const char* suffix = "";
};
Judgement judge_740(const Identity740& id, const Admission& a);
Judgement judge_310(const Identity310& id, const Admission& a);

// ---- list texts (every one fits the 60-character field) ----

// "MCA-740#%05u on %s\t FW# %02X.%02X"; `where` is an address, "USB" or "COMn".
std::string list_text_740(uint16_t serial, const std::string& where, uint16_t firmware);
std::string list_text_310(uint16_t serial, const std::string& where, uint16_t firmware);
// "MCA-740#????? on USB\t FW# ??.??\t(inoperable)" and the 310 form.
std::string inoperable_text_740();
std::string inoperable_text_310();
// The Ethernet-only searches: "MCA-740#%05u on %s", " (in use)" when in use.
std::string ethernet_search_text(uint16_t serial, const std::string& address, bool in_use);
// "Trebla#%05u %s" with the head's serial number and `analyser_text` from
// its first "on" onwards.
std::string head_text(uint32_t head_serial, const std::string& analyser_text);

// The device address in a list text of the Ethernet-only searches: the text
// after the first "on" and the character after it, cut at " (in use)". At
// most 15 characters are taken.
std::string address_from_list_text(const std::string& text);

// ---- automatic selection ----

// Index of the first entry with this serial number whose text does not hold
// "(in use)" and whose port identifier equals the filter (0xFFFF: any).
// Inoperable entries are never taken.
std::optional<size_t> find_automatic(const DeviceList& list, uint16_t serial, uint16_t port_filter);

}  // namespace lyralink::discovery
