// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/serial_byte_port.h"

#include "lyralink/link/usb_serial.h"

namespace lyralink::link {

namespace {

using platform::LineControl;

LineControl control(bool high) { return high ? LineControl::enabled : LineControl::disabled; }

void set_analyser_frame(platform::SerialSettings& st, uint32_t rate) {
  st.baud = rate;
  st.data_bits = 8;
  st.parity = platform::Parity::none;
  st.stop_bits = platform::StopBits::one;
  st.binary = true;
  st.parity_check = false;
  st.cts_output_flow = false;
  st.dsr_output_flow = false;
  st.xon_xoff_output = false;
  st.xon_xoff_input = false;
  st.null_stripping = false;
}

}  // namespace

platform::SerialSettings analyser_line_settings(platform::SerialSettings base, uint32_t rate, bool usb_bridge,
                                                bool cts) {
  set_analyser_frame(base, rate);
  base.rts_control = control(!usb_bridge || !cts);
  base.dtr_control = control(!usb_bridge);
  return base;
}

bool configure_analyser_port(platform::SerialPort& port, const std::string& name, uint32_t baud) {
  port.set_queue_sizes(2000, 16);
  platform::SerialSettings settings;
  if (!port.get_settings(settings)) return false;
  if (is_usb_port(name)) {
    // RTS first, with DTR as it is: the analyser latches RTS as its charger
    // switch when DTR moves, so the charger line must be right before DTR
    // drops.
    const bool cts = port.modem_status().value_or(platform::ModemStatus{}).cts;
    platform::SerialSettings first = analyser_line_settings(settings, baud, true, cts);
    first.dtr_control = settings.dtr_control;
    (void)port.set_settings(first);
    settings = analyser_line_settings(settings, baud, true, cts);
  } else {
    settings = analyser_line_settings(settings, baud, false, false);
  }
  return port.set_settings(settings);
}

std::unique_ptr<SerialBytePort> SerialBytePort::open_for_link(const std::string& path, const std::string& name,
                                                              uint32_t baud, platform::SystemError* error) {
  auto port = platform::SerialPort::open(path, error);
  if (!port || !configure_analyser_port(*port, name, baud)) return nullptr;
  return std::unique_ptr<SerialBytePort>(new SerialBytePort(std::move(port), name, std::nullopt, baud));
}

std::unique_ptr<SerialBytePort> SerialBytePort::open_for_search(const std::string& path, const std::string& name,
                                                                uint32_t baud) {
  // Not shared: a port another program holds does not open.
  auto port = platform::SerialPort::open(path);
  if (!port) return nullptr;
  port->set_queue_sizes(300, 140);
  platform::SerialSettings st;
  if (!port->get_settings(st)) return nullptr;
  set_analyser_frame(st, baud);
  st.rts_control = LineControl::disabled;
  st.dtr_control = LineControl::enabled;
  if (!port->set_settings(st)) return nullptr;
  return std::unique_ptr<SerialBytePort>(new SerialBytePort(std::move(port), name, std::nullopt, baud));
}

bool SerialBytePort::usb_bridge() {
  if (!usb_bridge_) usb_bridge_ = is_usb_port(name_);
  return *usb_bridge_;
}

bool SerialBytePort::set_rate(uint32_t rate) {
  platform::SerialSettings base;
  if (!port_->get_settings(base)) return false;
  const bool bridge = usb_bridge();
  const bool cts = bridge && port_->modem_status().value_or(platform::ModemStatus{}).cts;
  if (!port_->set_settings(analyser_line_settings(base, rate, bridge, cts))) return false;
  rate_ = rate;
  return true;
}

std::optional<ModemLines> SerialBytePort::modem_lines() {
  auto status = port_->modem_status();
  if (!status) return std::nullopt;
  return ModemLines{status->cts, status->dsr};
}

void SerialBytePort::set_modem_lines(std::optional<bool> dtr, std::optional<bool> rts) {
  platform::SerialSettings settings;
  if (!port_->get_settings(settings)) return;
  if (dtr) settings.dtr_control = control(*dtr);
  if (rts) settings.rts_control = control(*rts);
  (void)port_->set_settings(settings);
}

}  // namespace lyralink::link
