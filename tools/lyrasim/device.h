/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The emulated analyser: identity, state and the answer to every command.
// Plain C++ with no I/O; transports feed it frames and carry its answers.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/lyrasim/wire.h"

namespace lyrasim {

using SteadyClock = std::chrono::steady_clock;

enum class Model : uint8_t { mca740, mca310 };

// What the analyser tells about itself; set from a device description such
// as "740,sn=1234,fw=0x1304".
struct Identity {
  Model model = Model::mca740;
  uint16_t serial = 1001;
  uint16_t firmware = 0x1304;
  uint16_t variant = 2;          // 2: direct USB port identifier 0x0101
  uint16_t use_word = 1;         // 0 with use counter > 0: in use elsewhere
  int16_t use_counter = 0;
  uint32_t features = 0x4010;    // 0x10 HV controls, 0x4000 gain list
  uint16_t sample_rate_khz = 20000;
  uint32_t memory_bytes = 16u << 20;
  uint16_t max_hv = 1500;
  uint16_t hv_ramp = 1000;       // volts per second
  uint16_t system_defaults = 0;  // bytes 122-123 of the system data answer
  uint16_t kind = 0x0740;        // first word of the 740 state answer (0: not a genuine 740 answer)
  // A Trebla measuring head: answers the EEPROM information query with the
  // text "Trebla ... SN=<head_serial>".
  bool head = false;
  uint32_t head_serial = 0;
  // Found as another application left it: the application code in
  // user-data word 4 (up to 4 characters), the HV already at this level
  // with this polarity.
  std::string application;
  uint16_t hv = 0;
  uint16_t hv_polarity = 0;
  // Seed of the synthetic signal in the common memory (see signal_sample).
  uint64_t seed = 0;
};

// Parses "740" or "310" followed by ",key=value" options. Returns nullopt
// and fills *error on a bad description.
std::optional<Identity> parse_identity(const std::string& text, std::string* error);
// The accepted option keys, for --help.
const char* identity_option_help();

class Analyser {
 public:
  explicit Analyser(Identity id);

  // The full answer frame for one command, or an empty vector when the
  // device stays silent.
  std::vector<uint8_t> respond(const Command& cmd, SteadyClock::time_point now);

  const Identity& identity() const { return id_; }
  Identity& identity() { return id_; }

  // Modem lines of the USB bridge: the host drives DTR and RTS; the
  // analyser latches RTS as its charger switch when DTR drops.
  void set_dtr(bool on);
  void set_rts(bool on);
  bool cts() const { return !charger_on_; }  // off = charger on
  bool dsr() const { return !charging_; }    // off = charging

  // Bytes that arrive on the extension port's serial line (for tests).
  void extension_receive(const std::string& bytes);

  // Signal sample i of the common memory: 16 bits, the low 14 the signal,
  // the upper 2 a marker that changes from sample to sample (as the
  // hardware's status bits do), so a reader that forgets the 0x3FFF mask
  // is caught. The signal is a baseline of 1200 with +-12 of noise and
  // detector pulses (rise 0.1 us, decay 2 us, 2500 a second, heights from
  // the synthetic Cs-137 spectrum), a pure function of (seed, rate, i):
  // a test recomputes it with an Analyser of the same identity.
  uint16_t signal_sample(uint64_t index) const;

 private:
  AnswerData state_answer(SteadyClock::time_point now);
  AnswerData state740_answer(SteadyClock::time_point now);
  AnswerData state740_ex_answer(SteadyClock::time_point now);
  AnswerData power_answer(SteadyClock::time_point now);
  AnswerData voltage_current_answer(SteadyClock::time_point now);
  AnswerData spectrum_answer(uint32_t first, uint32_t count, uint32_t selector, SteadyClock::time_point now);
  AnswerData debug_answer() const;
  std::vector<uint8_t> long_data(const Command& cmd, SteadyClock::time_point now);
  bool apply_setting(const Command& cmd, SteadyClock::time_point now);
  // Copies the stored parameter bytes of the settings that `answer_code`
  // reports into its answer data.
  void put_settings(uint16_t answer_code, AnswerData& d) const;
  uint16_t actual_hv(SteadyClock::time_point now) const;
  uint64_t memory_fill_bytes(SteadyClock::time_point now) const;
  double live_seconds(SteadyClock::time_point now) const;
  uint32_t channel_counts(uint32_t channel, SteadyClock::time_point now) const;
  uint32_t packed_clock(SteadyClock::time_point now) const;
  uint16_t acquisition_state(SteadyClock::time_point now) const;

  Identity id_;
  // Settings as the host last made them.
  std::array<uint32_t, 64> user_data_{};
  uint16_t gain_coarse_ = 10;
  uint16_t gain_fine_ = 10000;
  uint16_t hv_set_ = 0;
  uint16_t hv_polarity_ = 0;
  uint16_t hv_from_ = 0;                      // level when the last change began
  SteadyClock::time_point hv_changed_{};
  uint16_t mode_ = 0;                         // 0 MCA, 1 MCS
  uint16_t mcs_input_ = 0;
  uint16_t mca_input_ = 0;
  uint16_t polarity_ = 0;
  uint16_t preset_kind_ = 0;
  uint32_t preset_value_ = 0;
  uint16_t threshold_ = 0;
  uint16_t roi_low_ = 0, roi_high_ = 0;
  uint16_t preamp_power_ = 0;
  uint16_t general_mode_ = 0;
  uint32_t fill_stop_ = 0;                    // bytes; 0 = whole memory
  // The six parameter bytes of the last frame of each plain setting
  // command (those without a model of their own), by command code; the
  // state answers report them back (see kSettingReadback in device.cpp).
  std::map<uint16_t, std::array<uint8_t, 6>> settings_;
  std::array<uint32_t, 10> ahrc_{};
  uint16_t ahrc_selector_ = 0;
  uint16_t pzc_value_ = 0x200;
  uint16_t pulsers_running_ = 0;              // bit n: extension pulser n runs
  // Two-step file deletion: step 1 arms (file, key), a matching step 2 deletes.
  std::optional<std::pair<uint32_t, uint16_t>> delete_armed_;
  uint32_t files_deleted_ = 0;
  uint32_t last_deleted_file_ = 0;
  // Acquisition.
  bool running_ = false;
  SteadyClock::time_point started_{};
  double accumulated_seconds_ = 0;  // live time of earlier runs since the last clear
  bool memory_armed_ = false;       // common memory filling since START
  SteadyClock::time_point memory_started_{};
  // Clock: packed device time set by the host, and when.
  uint32_t clock_base_ = 0;
  SteadyClock::time_point clock_set_{};
  // Extension port.
  std::string extension_tx_;
  std::string extension_rx_;
  std::array<uint8_t, 6> extension_port_{};
  // Detector information store.
  std::vector<uint8_t> detector_info_;
  bool detector_info_open_ = false;
  // USB bridge lines.
  bool dtr_ = false, rts_ = false, charger_on_ = false, charging_ = false;
};

}  // namespace lyrasim
