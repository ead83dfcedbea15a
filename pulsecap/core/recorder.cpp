// SPDX-License-Identifier: LGPL-2.1-or-later
#include "pulsecap/core/recorder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "lyralink/link/bytes.h"
#include "platform/clock.h"

namespace pulsecap {

namespace {

using lyralink::get_u16;
using lyralink::get_u32;
using lyralink::put_u16;

// Feature flags of the 740 state answer.
constexpr uint32_t kFlagHvControls = 0x10;
constexpr uint32_t kFlagSlowGeneralMode = 0x20;
constexpr uint32_t kFlagGainList = 0x4000;

// Answer fields the recorder reads (byte offsets into the answer data).
constexpr size_t kUserDataCode = 16;
constexpr size_t kPowerActualHv = 40;
constexpr size_t kStateGain = 48;
constexpr size_t kStateHvSet = 56;
constexpr size_t kStateHvPolarity = 58;
constexpr size_t kState740Firmware = 2;
constexpr size_t kState740Flags = 8;
constexpr size_t kState740MaxHv = 64;
constexpr size_t kState740Acquisition = 128;
constexpr size_t kStateExMemory = 0;
constexpr size_t kStateExRate = 104;

struct KnownApplication {
  const char* code;
  const char* name;
};
constexpr KnownApplication kApplications[] = {
    {"KBRE", "Brevix"},  {"KOSA", "Osmald"},  {"KMIR", "Mirvane"}, {"KTAV", "Tavoric"}, {"KSEL", "Selmorn"},
    {"KTBL", "Trebla"},  {"KLOM", "Lomirra"}, {"KFAR", "Farolin"}, {"KDOM", "Domiret"}, {"KNOL", "Nolvane"},
};
constexpr char kOwnCode[] = "KPUL";
constexpr int kGains[] = {2, 5, 10, 20, 50, 100};

bool collecting(uint16_t acquisition_state740) { return acquisition_state740 == 2 || acquisition_state740 == 7; }

// Forwards the recording's progress to the window.
class WindowObserver final : public RecordingObserver {
 public:
  explicit WindowObserver(RecorderWindow& w) : window_(w) {}
  void started() override {
    window_.pause(100);
    window_.set_progress(0);
    window_.show_progress(true);
  }
  void progress(unsigned percent) override { window_.set_progress(percent); }
  void between_chunks() override { window_.process_events(); }

 private:
  RecorderWindow& window_;
};

}  // namespace

std::string application_code(const uint8_t* four) {
  std::string code;
  for (size_t i = 0; i < 4 && four[i] != 0; ++i) code.push_back(static_cast<char>(four[i]));
  return code;
}

std::string application_name(const std::string& code) {
  for (const KnownApplication& a : kApplications) {
    if (code == a.code) return a.name;
  }
  return code;
}

int32_t own_application_word() {
  uint32_t w = 0;
  for (size_t i = 0; i < 4; ++i) w |= static_cast<uint32_t>(static_cast<uint8_t>(kOwnCode[i])) << (8 * i);
  return static_cast<int32_t>(w);
}

std::string takeover_question(const std::string& code, uint32_t actual_hv, uint16_t acquisition_state740) {
  std::string text = "Previous application mode was: " + application_name(code);
  if (actual_hv != 0) {
    text += collecting(acquisition_state740) ? "\n\nHV on - Lyra is collecting data!" : "\n\nHV is on!";
  } else if (collecting(acquisition_state740)) {
    text += "\n\nLyra is collecting data!";
  }
  text += "\n\nReset Lyra and clear all data?";
  return text;
}

std::string hv_display_text(uint16_t set_value, uint32_t actual, uint16_t polarity) {
  const int s = static_cast<int16_t>(set_value);
  const int a = static_cast<int16_t>(static_cast<uint16_t>(actual));
  const char sign = polarity != 0 ? '-' : '+';
  char text[24];
  if (std::abs(s - a) > 2) {
    std::snprintf(text, sizeof text, "%c%lu", sign, static_cast<unsigned long>(actual));
  } else {
    std::snprintf(text, sizeof text, "%c%u", sign, static_cast<unsigned>(set_value));
  }
  return text;
}

std::string caption_for(const std::optional<std::string>& product_version) {
  if (!product_version) return kCaption;
  return std::string(kCaption) + " [Version " + *product_version + "]";
}

std::optional<int> gain_for_entry(int entry) {
  if (entry < 0 || entry >= static_cast<int>(std::size(kGains))) return std::nullopt;
  return kGains[entry];
}

std::optional<int> entry_for_gain(uint16_t gain) {
  for (size_t i = 0; i < std::size(kGains); ++i) {
    if (kGains[i] == gain) return static_cast<int>(i);
  }
  return std::nullopt;
}

Recorder::Recorder(RecorderWindow& window, DeviceLayer& device) : window_(window), device_(device) {}

uint32_t Recorder::feature_flags() const { return get_u32(&state740_[kState740Flags]); }

uint32_t Recorder::rate() const {
  return sample_rate(get_u16(&state740_[kState740Firmware]), get_u16(&state740_ex_[kStateExRate]));
}

double Recorder::time_range() const { return time_range_seconds(get_u32(&state740_ex_[kStateExMemory]), rate()); }

void Recorder::on_init(const std::optional<std::string>& product_version) {
  window_.set_window_icon();
  window_.set_caption(caption_for(product_version));
  NumericEditRules& hv = window_.hv_edit();
  hv.set_range(0, 3600, true);
  hv.set_length_limit(4);
  hv.set_precision(0);
  hv.set_value(0);
  NumericEditRules& time = window_.time_edit();
  time.set_range(0, 3, true);
  time.set_length_limit(6);
  time.set_precision(4);
  time.set_value(0);
  connect(true);
}

void Recorder::on_connect_button() {
  if (recording_) return;
  if (connected_) {
    disconnect();
  } else {
    connect(false);
  }
}

void Recorder::connect(bool at_startup) {
  if (connected_) return;
  // Only an MCA-740 with firmware 0x1200 or later can be chosen.
  block_.fill(0);
  put_u16(&block_[0], 24);
  put_u16(&block_[2], 0);         // wanted serial number: the user chooses
  put_u16(&block_[4], 0);         // no MCA-310
  put_u16(&block_[6], 0xFFFF);
  put_u16(&block_[8], 0xFFFF);    // MCA-740 ...
  put_u16(&block_[10], 0x1200);   // ... from firmware 0x1200 on
  put_u16(&block_[12], at_startup ? 0xFFFF : 0);
  put_u16(&block_[14], 0xFFFF);   // wait window and selection dialog
  put_u16(&block_[16], 0xFFFF);   // any port
  if (device_.comm_init_select(block_.data(), 1000, 4, nullptr) == 0) return;  // nothing chosen: silent

  if (device_.query_user_data(0, user_data_.data()) != 0 || device_.query_state740(state740_.data()) != 0 ||
      device_.query_power(power_.data()) != 0) {
    connection_lost(false);
    return;
  }
  const std::string code = application_code(&user_data_[kUserDataCode]);
  if (code != kOwnCode) {
    if (!code.empty() && code != "0000") {
      const std::string question = takeover_question(code, get_u32(&power_[kPowerActualHv]),
                                                     get_u16(&state740_[kState740Acquisition]));
      if (!window_.question_box(question, kCaption)) {
        device_.comm_close();
        return;
      }
    }
    if (!take_over()) return;
  }
  if (!set_up()) return;
  enable_connected_controls();
}

bool Recorder::take_over() {
  // The fresh 740 state decides whether the analyser is acquiring; the
  // general state answer of this connection has not been read yet.
  if (collecting(get_u16(&state740_[kState740Acquisition])) && device_.stop_acquire() != 0) {
    connection_lost(false);
    return false;
  }
  if (get_u32(&power_[kPowerActualHv]) != 0) {
    if (device_.set_high_voltages(0, 0) != 0) {
      connection_lost(false);
      return false;
    }
    // The reset must not come while the detector still has voltage on it.
    const auto limit = lyralink::platform::deadline_after_ms(hv_off_limit_ms_);
    do {
      if (device_.query_power(power_.data()) != 0 || lyralink::platform::Clock::now() >= limit) {
        connection_lost(false);
        return false;
      }
    } while (get_u32(&power_[kPowerActualHv]) != 0);
  }
  if (device_.reset() != 0) {
    connection_lost(false);
    return false;
  }
  const bool slow_mode_switch = (feature_flags() & kFlagSlowGeneralMode) != 0;
  if (slow_mode_switch) device_.set_timeout(10000);
  if (device_.set_general_mode(1) != 0) {
    connection_lost(false);  // the raised timeout stays with the closed link
    return false;
  }
  if (slow_mode_switch) device_.set_timeout(1000);
  if (device_.set_user_data(4, own_application_word()) != 0) {
    connection_lost(false);
    return false;
  }
  return true;
}

bool Recorder::set_up() {
  if (device_.set_preamplifier_power(240) != 0 || device_.query_state740(state740_.data()) != 0 ||
      device_.query_state(state_.data()) != 0 || device_.query_power(power_.data()) != 0 ||
      device_.query_state740_ex(state740_ex_.data()) != 0) {
    connection_lost(false);
    return false;
  }
  return true;
}

void Recorder::enable_connected_controls() {
  const uint32_t flags = feature_flags();
  if ((flags & kFlagHvControls) != 0) {
    window_.enable_control(Control::hv_edit, true);
    window_.hv_edit().set_range(0, get_u16(&state740_[kState740MaxHv]), true);
    window_.hv_edit().set_value(get_u16(&state_[kStateHvSet]));
    window_.enable_control(Control::hv_display, true);
    window_.enable_control(Control::hv_set, true);
  }
  window_.enable_control(Control::gain_list, (flags & kFlagGainList) != 0);
  if (auto entry = entry_for_gain(get_u16(&state_[kStateGain]))) window_.select_gain(*entry);
  window_.enable_control(Control::time_edit, true);
  window_.time_edit().set_range(0, time_range(), true);
  apply_start_rule();
  window_.set_control_text(Control::connect, kDisconnectText);
  connected_ = true;
  if (timer_id_ == 0) {
    window_.start_timer(kPollTimerId, kPollPeriodMs);
    timer_id_ = kPollTimerId;
  }
}

void Recorder::reset_controls() {
  window_.hv_edit().set_value(0);
  window_.enable_control(Control::hv_edit, false);
  window_.time_edit().set_value(0);
  window_.enable_control(Control::time_edit, false);
  window_.set_control_text(Control::hv_display, "0");
  window_.enable_control(Control::hv_display, false);
  window_.enable_control(Control::hv_set, false);
  window_.enable_control(Control::gain_list, false);
  window_.enable_control(Control::start, false);
  window_.set_control_text(Control::connect, kConnectText);
  if (timer_id_ != 0) {
    window_.stop_timer(timer_id_);
    timer_id_ = 0;
  }
  connected_ = false;
}

void Recorder::disconnect() {
  // No device command: the HV and the analyser's mode stay as they are.
  reset_controls();
  device_.comm_close();
}

void Recorder::connection_lost(bool reset) {
  window_.message_box(kConnectionLost, kCaption);
  if (reset) reset_controls();
  device_.comm_close();
}

void Recorder::apply_start_rule() {
  const NumericEditRules& t = window_.time_edit();
  window_.enable_control(Control::start, t.is_valid() && t.value() != 0.0);
}

void Recorder::on_time_text_changed() {
  // Only the user's edits in the connected window matter; the window
  // applies the rule itself when it connects, disconnects or records.
  if (connected_ && !recording_) apply_start_rule();
}

void Recorder::on_timer(int id) {
  if (id != kPollTimerId || timer_id_ == 0) return;
  if ((feature_flags() & kFlagHvControls) == 0) return;
  if (device_.query_power(power_.data()) != 0) {
    connection_lost(true);
    return;
  }
  window_.set_control_text(Control::hv_display,
                           hv_display_text(get_u16(&state_[kStateHvSet]), get_u32(&power_[kPowerActualHv]),
                                           get_u16(&state_[kStateHvPolarity])));
}

void Recorder::on_hv_set_button() {
  if (!connected_ || recording_) return;
  const double v = std::trunc(window_.hv_edit().value());
  const auto volts = static_cast<int32_t>(v);
  if (static_cast<uint16_t>(volts) == get_u16(&state_[kStateHvSet])) return;
  if (device_.set_high_voltages(volts, 0) != 0 || device_.query_state(state_.data()) != 0) connection_lost(true);
}

void Recorder::on_gain_selected() {
  if (!connected_ || recording_) return;
  auto gain = gain_for_entry(window_.gain_selection());
  if (!gain) return;
  if (device_.set_gain(*gain, 10000) != 0 || device_.query_state(state_.data()) != 0) connection_lost(true);
}

void Recorder::end_of_recording() {
  const uint32_t flags = feature_flags();
  if ((flags & kFlagHvControls) != 0) {
    window_.enable_control(Control::hv_edit, true);
    window_.enable_control(Control::hv_display, true);
    window_.enable_control(Control::hv_set, true);
  }
  window_.enable_control(Control::gain_list, (flags & kFlagGainList) != 0);
  window_.enable_control(Control::time_edit, true);
  window_.enable_control(Control::start, true);
  window_.enable_control(Control::connect, true);
  window_.set_close_enabled(true);
  window_.show_progress(false);
}

void Recorder::on_start_button() {
  if (!connected_ || recording_) return;
  const uint32_t r = rate();
  const uint32_t n = sample_count(window_.time_edit().value(), r, get_u32(&state740_ex_[kStateExMemory]));
  std::optional<std::string> chosen = window_.ask_save_path(trace_path_);
  if (!chosen) return;
  // A longer path would have to be cut, and the cut path could name
  // another file: it is refused instead.
  if (chosen->empty() || chosen->size() > kMaxTracePath) {
    window_.message_box(kFileError, kCaption);
    return;
  }
  trace_path_ = *chosen;
  std::string why;
  std::unique_ptr<FileSink> sink = FileSink::create(trace_path_, &why);
  if (!sink) {
    window_.message_box(kFileError, kCaption);
    return;
  }
  TraceWriter writer(*sink, trace_format_for_path(trace_path_));
  if (!writer.begin(n, r)) {
    writer.end();
    window_.message_box(std::string(kFileError) + "\n\n" + writer.last_error(), kCaption);
    return;
  }

  for (Control c : {Control::hv_edit, Control::time_edit, Control::hv_display, Control::hv_set, Control::start,
                    Control::connect, Control::gain_list}) {
    window_.enable_control(c, false);
  }
  window_.set_close_enabled(false);
  recording_ = true;
  WindowObserver observer(window_);
  RecordingResult result = run_recording(device_, writer, n, observer);
  recording_ = false;
  const bool closed = writer.end();

  switch (result.end) {
    case RecordingEnd::start_failed:
    case RecordingEnd::read_failed:
      // The link is closed by the handling: the window goes back to its
      // disconnected state at once, with the message shown once.
      window_.set_close_enabled(true);
      window_.show_progress(false);
      // (Unless the poll timer already found the link gone during the
      // read-back and reset the window.)
      if (connected_) connection_lost(true);
      window_.enable_control(Control::connect, true);
      return;
    case RecordingEnd::write_failed:
      end_of_recording();
      window_.message_box(std::string(kFileError) + "\n\n" + result.write_error + "\n\nThe trace file " +
                              "holds only the first " + std::to_string(result.samples_written) + " of " +
                              std::to_string(n) + " samples.",
                          kCaption);
      return;
    case RecordingEnd::complete: break;
  }
  if (!connected_) {
    // Lost during the last chunk's events: the window is already reset.
    window_.set_close_enabled(true);
    window_.show_progress(false);
    window_.enable_control(Control::connect, true);
    return;
  }
  end_of_recording();
  if (!closed) {
    window_.message_box(std::string(kFileError) + "\n\n" + writer.last_error(), kCaption);
    return;
  }
  window_.show_trace(trace_path_, r);
}

}  // namespace pulsecap
