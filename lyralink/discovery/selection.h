/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// COMM_INIT_SELECT: one detection pass over every USB device of the bridge
// library, every serial port COM1-COM256 and the local networks, then the
// choice of one analyser (by serial number, or in the selection dialog),
// the release of every port not taken, and the baud adjustment.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/identity.h"
#include "lyralink/link/link_state.h"

namespace lyralink::discovery {

constexpr size_t kSelectionBlockSize = 24;
constexpr uint32_t kDetectionBaud = 38400;
constexpr uint32_t kUsbSettlingMs = 5000;
constexpr uint32_t kSecondProbeWaitMs = 1000;
constexpr uint32_t kRedetectPauseMs = 1000;
constexpr uint32_t kProbeRetries = 3;
constexpr int kMaxUsbDevices = 127;
constexpr int kMaxComPort = 256;

// The selection parameter block as the procedure uses it: the defaults,
// overwritten by the first `length` bytes (at most 24) of the caller's
// block. caller_length is what the caller's block declares (0 without a
// block); it alone decides which fields are written back.
struct SelectionParameters {
  uint16_t caller_length = 0;
  bool caller_block = false;
  uint16_t wanted_serial = 0;
  Admission admission;
  bool splash = false;
  bool dialogs = true;
  uint16_t port_filter = 0xFFFF;
};

// Reads the block (null: all defaults). Only min(length, 24) bytes of it
// are read.
SelectionParameters read_selection_block(const uint8_t* block);
// The port identifier at offset 16 when the block's length is at least 18.
void write_chosen_port(uint8_t* block, const SelectionParameters& p, uint16_t port_id);
// The baud rate at offset 20 when the block's length is at least 22.
void write_chosen_baud(uint8_t* block, const SelectionParameters& p, uint32_t baud);

// ---- one port's answers, as the search reads them ----

// Where a probed serial port or USB device is, for its device entry.
struct PortPlace {
  bool usb = false;
  uint32_t usb_type = 0;  // device type code of a USB device
  int com = 0;            // n of COMn
  std::string where() const;  // "USB" or "COMn"
  // The port identifier of its entry, by the kind of answer.
  uint16_t port_id(bool answer_740, uint16_t variant) const;
};

// How a port answered the probe the search sent it.
enum class FirstAnswer {
  answered,  // a valid identity answer is in frame
  silent,    // not a byte had come
  none,      // bytes, but no valid answer after the retries
};

// The identity answer to the probe already sent on `port`: a queue of
// exactly 136 bytes that is a valid answer to it. Otherwise the queue is
// drained and the probe sent again, up to 3 times, each given
// `retry_wait_ms` for its answer (a failed write uses up a retry).
FirstAnswer read_first_answer(link::BytePort& port, const Probe& probe, uint8_t* frame,
                              uint32_t retry_wait_ms = kSecondProbeWaitMs);

// The answer to the 740 probe sent to an MCA-740 that answered the 310
// probe (0xFF in bytes 90-93): 136 bytes by the deadline that are a valid
// answer to the 740 probe with a nonzero word 2.
bool read_second_answer(link::BytePort& port, platform::TimePoint deadline, uint8_t* frame);

// The entry of an answer of an MCA-740 or an MCA-310, judged by the
// admission rules; `where` is an address, "USB" or "COMn".
DeviceEntry entry_740(const uint8_t* frame, const std::string& where, const Admission& admission, DeviceEntry e = {});
DeviceEntry entry_310(const uint8_t* frame, const std::string& where, const Admission& admission, DeviceEntry e = {});
// The entry of a port's answer (of a 740 when answer_740).
DeviceEntry answer_entry(const PortPlace& place, const uint8_t* frame, bool answer_740, const Admission& admission);
// The entry of a known analyser on USB that gave no bytes at all; nullopt
// for a device type that is no analyser's.
std::optional<DeviceEntry> inoperable_entry(uint32_t usb_type);

// What one detection pass found: the device list, and the serial ports and
// USB devices that answered, which the result owns. An entry refers to its
// port by index (DeviceEntry::port_index). take_port() hands a port over
// (to a link); every port still here is drained and closed by release()
// and when the result goes.
class SearchResult {
 public:
  SearchResult() = default;
  SearchResult(SearchResult&&) = default;
  SearchResult& operator=(SearchResult&&) = delete;
  ~SearchResult() { release(); }

  DeviceList list;

  // Keeps an opened port; its index.
  size_t add_port(link::OwnedPort port);
  // The port at `index`; null once it was closed or taken.
  link::BytePort* port(size_t index) const;
  // Hands over the port of an entry; nullopt when the entry has none here.
  std::optional<link::OwnedPort> take_port(const DeviceEntry& e);
  void close_port(size_t index);
  void release();

 private:
  std::vector<std::optional<link::OwnedPort>> ports_;
};

// One detection pass without any window: every USB device of the bridge
// library (loaded here if it can be), every serial port COM1-COM256 and
// the local networks (broadcast, then the special IP and the remembered
// addresses) are probed, and the answers judged by `admission`. A link
// already open in `s` is left alone; only its UDP socket is used (made
// here if need be; without one no Ethernet analyser answers).
SearchResult detect(link::LinkState& s, const Admission& admission, const std::string& special_ip);

// The whole procedure. 1 when a serial port, direct USB or Ethernet link is
// open on return, else 0.
int16_t comm_init_select(link::LinkState& s, uint8_t* block, int32_t timeout, int32_t retries, void* owner);

}  // namespace lyralink::discovery
