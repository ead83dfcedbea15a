/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A device opened directly through the bridge library, as a byte port.
//
// The library offers no event to wait on among the calls bound, so waits
// poll the queue count and sleep between polls for the time the missing
// bytes need on the wire: at least 100 us, at most 2 ms while bytes come in
// (the driver hands them over once per latency period, 2 ms or more, so
// polling more often finds nothing new). While the queue stays empty the
// pause doubles up to 8 ms, so that a device that stays silent costs a few
// hundred wake-ups a second rather than ten thousand.
#include <cstdint>
#include <memory>
#include <optional>

#include "lyralink/link/bridge_library.h"
#include "lyralink/link/byte_port.h"

namespace lyralink::link {

class UsbBytePort final : public BytePort {
 public:
  // Opens device `index` of the library (it must be loaded). Null when the
  // library refuses. The device keeps whatever settings it had.
  static std::unique_ptr<UsbBytePort> open(BridgeLibrary& library, int index);
  // Takes over a handle the caller opened (tests); closed with the port.
  static std::unique_ptr<UsbBytePort> adopt(BridgeLibrary& library, FT_HANDLE handle, uint32_t rate);
  // Closes the device, unless the library has been unloaded meanwhile.
  ~UsbBytePort() override;

  // The analyser's frame: `rate`, 8N1, no flow control. False when the
  // device refuses any of it.
  bool configure(uint32_t rate);

  std::optional<size_t> bytes_waiting() override;
  std::optional<size_t> wait_for(size_t want, TimePoint deadline) override;
  size_t read(uint8_t* buf, size_t n) override;
  size_t write(const uint8_t* buf, size_t n) override;
  // The rate only; the frame and the modem lines stay.
  bool set_rate(uint32_t rate) override;
  uint32_t rate() const override { return rate_; }
  std::optional<ModemLines> modem_lines() override;
  void set_modem_lines(std::optional<bool> dtr, std::optional<bool> rts) override;

  // The number of the bridge's virtual serial port; nullopt for a bridge
  // without one (no analyser's) or when the library refuses.
  std::optional<uint32_t> com_port_number();
  std::optional<uint32_t> driver_version();
  std::optional<uint8_t> latency_timer();
  bool set_latency_timer(uint8_t milliseconds);

  FT_HANDLE handle() const { return handle_; }

 private:
  UsbBytePort(BridgeLibrary& library, FT_HANDLE handle, uint32_t rate)
      : library_(library), handle_(handle), rate_(rate) {}
  // The library's functions, or null once it has been unloaded.
  const BridgeFunctions* fn() const { return library_.loaded() ? &library_.fn() : nullptr; }

  BridgeLibrary& library_;
  FT_HANDLE handle_;
  uint32_t rate_;
};

}  // namespace lyralink::link
