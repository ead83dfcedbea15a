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
