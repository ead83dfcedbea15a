/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The recorder window's rules: start-up, connect and takeover, set-up,
// the enabling of the controls, disconnect, the HV display, HV and gain
// set, the Start rule, the recording and the reaction to a lost
// connection. Plain C++ over two interfaces: the window (RecorderWindow)
// and the library (DeviceLayer).
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "pulsecap/core/device_layer.h"
#include "pulsecap/core/numeric_edit_rules.h"
#include "pulsecap/core/recording.h"

namespace pulsecap {

// The window's controls, by their dialog ids.
enum class Control : int {
  connect = 1000,
  start = 1001,
  hv_display = 1002,
  hv_set = 1003,
  hv_edit = 1004,
  time_edit = 1005,
  progress = 1006,
  gain_list = 1008,
};

inline constexpr char kCaption[] = "MCA-740 Transient Recorder";
inline constexpr char kConnectionLost[] = "The connection to the MCA-740 has been brocken!";
inline constexpr char kFileError[] = "File error!";
inline constexpr char kConnectText[] = "Connect MCA-740 ...";
inline constexpr char kDisconnectText[] = "Disconnect MCA-740";
inline constexpr int kPollTimerId = 1;
inline constexpr int kPollPeriodMs = 1000;
// Longest trace path: 260 characters with the terminating zero.
inline constexpr size_t kMaxTracePath = 259;

// What the rules need of the window.
class RecorderWindow {
 public:
  virtual ~RecorderWindow() = default;
  virtual void enable_control(Control id, bool enabled) = 0;
  virtual void set_control_text(Control id, const std::string& text) = 0;
  // The two numeric edit fields, attached to controls 1004 and 1005.
  virtual NumericEditRules& hv_edit() = 0;
  virtual NumericEditRules& time_edit() = 0;
  // Selecting an entry from code never runs the gain handler.
  virtual void select_gain(int index) = 0;
  virtual int gain_selection() const = 0;
  // Modal message box with the exclamation icon and OK.
  virtual void message_box(const std::string& text, const std::string& caption) = 0;
  // Modal question with Yes/No; true for Yes.
  virtual bool question_box(const std::string& text, const std::string& caption) = 0;
  virtual void start_timer(int id, int period_ms) = 0;
  virtual void stop_timer(int id) = 0;
  // Greys (false) or re-enables (true) the window's close command.
  virtual void set_close_enabled(bool enabled) = 0;
  virtual void set_caption(const std::string& caption) = 0;
  virtual void set_window_icon() = 0;
  // The save dialog: initial name `initial`, filters text and WAVE, default
  // suffix "txt", overwrite question. nullopt when cancelled.
  virtual std::optional<std::string> ask_save_path(const std::string& initial) = 0;
  virtual void show_progress(bool shown) = 0;
  virtual void set_progress(unsigned percent) = 0;
  // Handles the window's pending events (timer ticks, painting) and returns.
  virtual void process_events() = 0;
  // Blocks for ms milliseconds without handling events.
  virtual void pause(unsigned ms) = 0;
  // Shows the saved trace (the preview); not part of the main window.
  virtual void show_trace(const std::string& path, uint32_t rate) = 0;
};

// Display name of an application code (user-data word 4): the table's
// name, or the code itself; empty for an unclaimed analyser.
std::string application_name(const std::string& code);
// The code as stored: at most 4 characters, ending at the first zero byte.
std::string application_code(const uint8_t* four_bytes);
// "KPUL" as the 32-bit word whose lowest byte is the first character.
int32_t own_application_word();

// The takeover question for a foreign code.
std::string takeover_question(const std::string& code, uint32_t actual_hv, uint16_t acquisition_state740);

// The HV display text: the set value S unless the actual value A differs
// from it by more than 2 V (both as signed 16-bit numbers), then A.
std::string hv_display_text(uint16_t set_value, uint32_t actual, uint16_t polarity);

// "MCA-740 Transient Recorder [Version 1.01.0000]", or the plain caption
// when there is no product version.
std::string caption_for(const std::optional<std::string>& product_version);

// Gain list entry <-> coarse gain: 0 -> 2, 1 -> 5, 2 -> 10, 3 -> 20, 4 -> 50, 5 -> 100.
std::optional<int> gain_for_entry(int entry);
std::optional<int> entry_for_gain(uint16_t gain);

class Recorder {
 public:
  Recorder(RecorderWindow& window, DeviceLayer& device);

  // The window was initialised: icon, caption (product_version from the
  // program file, nullopt when it has none), the edit fields, then a
  // connect with the splash window.
  void on_init(const std::optional<std::string>& product_version);
  void on_connect_button();
  void on_hv_set_button();
  void on_gain_selected();
  void on_time_text_changed();
  void on_start_button();
  void on_timer(int id);

  bool connected() const { return connected_; }
  bool recording() const { return recording_; }
  bool timer_running() const { return timer_id_ != 0; }
  const std::string& trace_path() const { return trace_path_; }
  uint32_t rate() const;
  uint32_t feature_flags() const;
  double time_range() const;
  // The selection block of the last connect (24 bytes, little-endian).
  const std::array<uint8_t, 24>& last_selection_block() const { return block_; }

  // How long the takeover waits for the HV to reach 0 before it gives up
  // (a supply that never gets there must not hang the program).
  void set_hv_off_limit_ms(uint32_t ms) { hv_off_limit_ms_ = ms; }

 private:
  void connect(bool at_startup);
  void disconnect();
  void connection_lost(bool reset_controls);
  void reset_controls();
  void enable_connected_controls();
  void apply_start_rule();
  bool take_over();
  bool set_up();
  void end_of_recording();

  RecorderWindow& window_;
  DeviceLayer& device_;
  bool connected_ = false;
  bool recording_ = false;
  int timer_id_ = 0;
  std::string trace_path_ = "*.txt";
  std::array<uint8_t, 24> block_{};
  std::array<uint8_t, kAnswerSize> user_data_{};
  std::array<uint8_t, kAnswerSize> power_{};
  std::array<uint8_t, kAnswerSize> state_{};
  std::array<uint8_t, kAnswerSize> state740_{};
  std::array<uint8_t, kAnswerSize> state740_ex_{};
  uint32_t hv_off_limit_ms_ = 300'000;
};

}  // namespace pulsecap
