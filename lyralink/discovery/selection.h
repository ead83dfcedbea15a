/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// COMM_INIT_SELECT: one detection pass over every USB device of the bridge
// library, every serial port COM1-COM256 and the local networks, then the
// choice of one analyser (by serial number, or in the selection dialog),
// the release of every port not taken, and the baud adjustment.
#include <cstdint>
#include <string>

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

// The whole procedure. 1 when a serial port, direct USB or Ethernet link is
// open on return, else 0.
int16_t comm_init_select(link::LinkState& s, uint8_t* block, int32_t timeout, int32_t retries, void* owner);

}  // namespace lyralink::discovery
