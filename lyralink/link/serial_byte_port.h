/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A serial port as a byte port: a COM port, or the virtual serial port of
// the analyser's USB-serial bridge.
#include <memory>
#include <string>

#include "lyralink/link/byte_port.h"
#include "platform/serial_port.h"

namespace lyralink::link {

// The line settings of an analyser port at `rate`: 8N1, binary, no flow
// control, the other fields as `base` has them; and the modem lines. On the
// USB-serial bridge RTS is the charger switch and CTS shows where it is
// now, so RTS is set to keep it there (CTS off = charger on = RTS on) and
// DTR is low; on a plain port both lines are high.
platform::SerialSettings analyser_line_settings(platform::SerialSettings base, uint32_t rate, bool usb_bridge,
                                                bool cts);

// Sets up an open port for an analyser link: queue sizes 2000/16, the
// analyser's settings at `baud`. On the bridge the charger line is set
// first and DTR dropped after it, so the analyser latches the charger state
// it already had. False when the port refuses the settings.
bool configure_analyser_port(platform::SerialPort& port, const std::string& name, uint32_t baud);

class SerialBytePort final : public BytePort {
 public:
  // The port `name` at `path` for a link (configure_analyser_port). Null
  // when the port does not open or refuses the settings (it is closed again
  // then); *error says why it did not open.
  static std::unique_ptr<SerialBytePort> open_for_link(const std::string& path, const std::string& name,
                                                       uint32_t baud, platform::SystemError* error = nullptr);
  // The port `name` for a device search: queue sizes 300/140, the
  // analyser's frame at `baud` with RTS low and DTR high, whatever kind of
  // port it is. Null as above.
  static std::unique_ptr<SerialBytePort> open_for_search(const std::string& path, const std::string& name,
                                                         uint32_t baud);

  std::optional<size_t> bytes_waiting() override { return port_->bytes_waiting(); }
  std::optional<size_t> wait_for(size_t want, TimePoint deadline) override {
    return port_->wait_for_input(want, deadline);
  }
  size_t read(uint8_t* buf, size_t n) override { return port_->read(buf, n); }
  size_t write(const uint8_t* buf, size_t n) override { return port_->write(buf, n); }
  void clear_errors() override { port_->clear_errors(); }
  // The analyser's settings at `rate` with the modem lines of an analyser
  // port (analyser_line_settings).
  bool set_rate(uint32_t rate) override;
  uint32_t rate() const override { return rate_; }
  std::optional<ModemLines> modem_lines() override;
  void set_modem_lines(std::optional<bool> dtr, std::optional<bool> rts) override;

  // The rate and the line settings the driver holds now (for tests and
  // tools).
  std::optional<uint32_t> current_baud() const { return port_->current_baud(); }
  bool get_settings(platform::SerialSettings& settings) const { return port_->get_settings(settings); }

 private:
  SerialBytePort(std::unique_ptr<platform::SerialPort> port, std::string name, std::optional<bool> usb_bridge,
                 uint32_t rate)
      : port_(std::move(port)), name_(std::move(name)), usb_bridge_(usb_bridge), rate_(rate) {}
  // Whether the port is the bridge's, looked up once when first needed: a
  // search opens many ports and moves the rate of one at most.
  bool usb_bridge();

  std::unique_ptr<platform::SerialPort> port_;
  std::string name_;
  std::optional<bool> usb_bridge_;
  uint32_t rate_;
};

}  // namespace lyralink::link
