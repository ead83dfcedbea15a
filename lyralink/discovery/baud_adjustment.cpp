// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/discovery/baud_adjustment.h"

#include <algorithm>

#include "lyralink/discovery/identity.h"
#include "lyralink/discovery/usb_queue.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/link.h"
#include "lyralink/link/usb_serial.h"

namespace lyralink::discovery {

std::optional<uint32_t> next_ladder_rate(uint32_t rate, bool success, bool& second_chance) {
  switch (rate) {
    case 3000000: return success ? std::nullopt : std::optional<uint32_t>(307200);
    case 307200:
      if (!success) return 115200;
      if (second_chance) return std::nullopt;
      second_chance = true;
      return 3000000;
    case 115200: return success ? std::nullopt : std::optional<uint32_t>(38400);
    default: return std::nullopt;  // 38400, either way
  }
}

uint8_t latency_for_driver(std::optional<uint32_t> driver_version) {
  return driver_version && *driver_version >= kFastLatencyDriver ? 2 : 8;
}

platform::SerialSettings ladder_settings(platform::SerialSettings base, uint32_t rate, bool usb_bridge, bool cts) {
  link::apply_analyser_line_settings(base, rate);
  if (usb_bridge) {
    // The bridge's charger switch follows RTS; CTS shows where it is, so
    // RTS keeps it there (CTS off = charger on = RTS on).
    base.rts_control = cts ? platform::LineControl::disabled : platform::LineControl::enabled;
    base.dtr_control = platform::LineControl::disabled;
  } else {
    base.rts_control = platform::LineControl::enabled;
    base.dtr_control = platform::LineControl::enabled;
  }
  return base;
}

StepResult run_ladder_step(BaudLink& link, uint32_t rate) {
  if (!link.start_step(rate)) return StepResult::failure;
  uint8_t frame[kIdentityAnswerSize];
  for (uint32_t attempt = 0; attempt < kAttemptsPerStep; ++attempt) {
    link.write_probe();
    const auto count = link.wait_for_answer(platform::deadline_after_ms(kAttemptWaitMs));
    if (!count && link.query_failure_loses_link()) return StepResult::link_lost;
    if (count && *count == kIdentityAnswerSize) {
      if (link.read_answer(frame) && valid_identity_answer(frame, probe_310())) return StepResult::success;
      continue;  // an invalid answer: the next attempt, nothing drained
    }
    link.drain_slowly();
  }
  return StepResult::failure;
}

LadderOutcome run_ladder(BaudLink& link, void (*on_step)(void*, uint32_t, StepResult), void* context) {
  LadderOutcome out;
  bool second_chance = false;
  std::optional<uint32_t> rate = kLadderStartRate;
  while (rate) {
    const StepResult r = run_ladder_step(link, *rate);
    ++out.steps;
    out.final_rate = *rate;
    if (on_step != nullptr) on_step(context, *rate, r);
    if (r == StepResult::link_lost) {
      out.link_lost = true;
      break;
    }
    rate = next_ladder_rate(*rate, r == StepResult::success, second_chance);
  }
  return out;
}

namespace {

constexpr size_t kDrainPiece = 1476;

// The analyser's serial port (also a USB-serial bridge's virtual port).
class SerialBaudLink final : public BaudLink {
 public:
  SerialBaudLink(link::LinkState& s) : s_(s), port_(*s.serial_port), usb_bridge_(link::is_usb_port(s.port_name)) {}

  bool start_step(uint32_t rate) override {
    drain(false);
    platform::SerialSettings base;
    if (!port_.get_settings(base)) return false;
    const bool cts = usb_bridge_ && port_.modem_status().value_or(platform::ModemStatus{}).cts;
    if (!port_.set_settings(ladder_settings(base, rate, usb_bridge_, cts))) return false;
    // Only a rate the port took is the link's rate: a refused one leaves the
    // line where it was.
    link::set_baud_rate(s_, rate);
    return true;
  }
  void write_probe() override { (void)port_.write(probe_310().data(), probe_310().size()); }
  std::optional<size_t> wait_for_answer(platform::TimePoint deadline) override {
    return port_.wait_for_input(kIdentityAnswerSize, deadline);
  }
  bool read_answer(uint8_t* frame) override {
    const bool ok = port_.read(frame, kIdentityAnswerSize) == kIdentityAnswerSize;
    port_.clear_errors();
    return ok;
  }
  void drain_slowly() override { drain(true); }
  bool query_failure_loses_link() const override { return false; }

 private:
  void drain(bool pause) {
    uint8_t scratch[kDrainPiece];
    for (int guard = 0; guard < 1000; ++guard) {
      auto n = port_.bytes_waiting();
      if (!n || *n == 0) return;
      port_.read(scratch, std::min(*n, sizeof scratch));
      if (pause) platform::sleep_ms(10);
    }
  }

  link::LinkState& s_;
  platform::SerialPort& port_;
  bool usb_bridge_;
};

// A device driven directly through the bridge library.
class UsbBaudLink final : public BaudLink {
 public:
  explicit UsbBaudLink(link::LinkState& s) : s_(s), queue_(s.usb_library.fn(), s.usb_handle) {}

  bool start_step(uint32_t rate) override {
    if (s_.usb_library.fn().FT_SetBaudRate(s_.usb_handle, rate) != link::FT_OK) return false;
    link::set_baud_rate(s_, rate);
    queue_.set_rate(rate);
    queue_.drain(false);
    return true;
  }
  void write_probe() override { (void)queue_.write(probe_310()); }
  std::optional<size_t> wait_for_answer(platform::TimePoint deadline) override {
    return queue_.wait_for_at_least(kIdentityAnswerSize, deadline);
  }
  bool read_answer(uint8_t* frame) override { return queue_.read(frame, kIdentityAnswerSize); }
  void drain_slowly() override { queue_.drain(true); }
  bool query_failure_loses_link() const override { return true; }

 private:
  link::LinkState& s_;
  UsbQueue queue_;
};

}  // namespace

uint32_t adjust_baud_rate(link::LinkState& s, bool dialogs, void* owner) {
  if (dialogs) library_windows().show_wait_window(owner, "The baudrate is being adjusted.");
  if (s.channel() == link::Channel::usb && s.usb_library.loaded()) {
    const link::BridgeFunctions& fn = s.usb_library.fn();
    uint32_t version = 0;
    const bool known = fn.FT_GetDriverVersion(s.usb_handle, &version) == link::FT_OK;
    (void)fn.FT_SetLatencyTimer(s.usb_handle, latency_for_driver(known ? std::optional<uint32_t>(version) : std::nullopt));
    UsbBaudLink usb(s);
    if (run_ladder(usb).link_lost) link::close_link(s);
  } else if (s.channel() == link::Channel::serial) {
    SerialBaudLink serial(s);
    run_ladder(serial);
  }
  if (dialogs) library_windows().close_wait_window();
  return s.baud_rate;
}

}  // namespace lyralink::discovery
