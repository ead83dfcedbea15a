/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A fake window and a fake device layer for the recorder's rules: the
// window keeps the state of every control, the device records every call
// and answers from fields a test sets.
#include <array>
#include <chrono>
#include <thread>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lyralink/link/bytes.h"
#include "pulsecap/core/recorder.h"

namespace pulsecap_test {

using pulsecap::Control;

class FakeEdit final : public pulsecap::EditControl {
 public:
  std::string text() const override { return text_; }
  void set_text(const std::string& t) override {
    text_ = t;
    if (on_change) on_change();
  }
  bool enabled() const override { return enabled_; }
  std::string text_;
  bool enabled_ = false;
  std::function<void()> on_change;
};

class FakeWindow final : public pulsecap::RecorderWindow {
 public:
  FakeWindow() {
    hv_rules.attach(&hv);
    time_rules.attach(&time);
    for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1008}) enabled[static_cast<Control>(id)] = false;
    enabled[Control::connect] = true;
    texts[Control::hv_display] = "0";
    texts[Control::connect] = "Connect MCA-740 ...";
  }
  pulsecap::Recorder* recorder = nullptr;

  void enable_control(Control id, bool on) override {
    enabled[id] = on;
    if (id == Control::hv_edit) hv.enabled_ = on;
    if (id == Control::time_edit) time.enabled_ = on;
  }
  void set_control_text(Control id, const std::string& t) override { texts[id] = t; }
  pulsecap::NumericEditRules& hv_edit() override { return hv_rules; }
  pulsecap::NumericEditRules& time_edit() override { return time_rules; }
  void select_gain(int index) override { gain_index = index; }
  int gain_selection() const override { return gain_index; }
  void message_box(const std::string& text, const std::string& box_caption) override {
    messages.push_back(text);
    EXPECT_EQ(box_caption, "MCA-740 Transient Recorder");
  }
  bool question_box(const std::string& text, const std::string& box_caption) override {
    questions.push_back(text);
    EXPECT_EQ(box_caption, "MCA-740 Transient Recorder");
    return answer_yes;
  }
  void start_timer(int id, int period) override {
    timer_id = id;
    timer_period = period;
    ++timer_starts;
  }
  void stop_timer(int) override { timer_id = 0; }
  void set_close_enabled(bool on) override { close_enabled = on; close_history.push_back(on); }
  void set_caption(const std::string& c) override { caption = c; }
  void set_window_icon() override { icon_set = true; }
  std::optional<std::string> ask_save_path(const std::string& initial) override {
    offered.push_back(initial);
    if (save_answers.empty()) return std::nullopt;
    auto a = save_answers.front();
    save_answers.pop_front();
    return a;
  }
  void show_progress(bool shown) override {
    progress_shown = shown;
    if (shown) ++progress_shows;
  }
  void set_progress(unsigned p) override { progress.push_back(p); }
  void process_events() override {
    ++pumps;
    if (on_pump) on_pump();
  }
  void pause(unsigned ms) override {
    pauses.push_back(ms);
    // Against a real analyser the pause is real: its memory fills meanwhile.
    if (real_pause) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  bool real_pause = false;
  void show_trace(const std::string& path, uint32_t rate) override { previews.emplace_back(path, rate); }

  // Types text into the time edit as the user would (the value follows).
  void type_time(const std::string& t) {
    time.text_ = t;
    time_rules.on_text_changed();
    if (recorder != nullptr) recorder->on_time_text_changed();
  }
  // Only button 1000 is enabled.
  bool only_connect_enabled() const {
    for (auto& [id, on] : enabled) {
      if (on != (id == Control::connect)) return false;
    }
    return true;
  }

  FakeEdit hv, time;
  pulsecap::NumericEditRules hv_rules, time_rules;
  std::map<Control, bool> enabled;
  std::map<Control, std::string> texts;
  int gain_index = -1;
  std::vector<std::string> messages, questions, offered;
  bool answer_yes = true;
  int timer_id = 0, timer_period = 0, timer_starts = 0;
  bool close_enabled = true;
  std::vector<bool> close_history;
  std::string caption;
  bool icon_set = false;
  std::deque<std::optional<std::string>> save_answers;
  bool progress_shown = false;
  int progress_shows = 0;
  std::vector<unsigned> progress;
  int pumps = 0;
  std::function<void()> on_pump;
  std::vector<unsigned> pauses;
  std::vector<std::pair<std::string, uint32_t>> previews;
};

// The analyser as the recorder sees it through the library.
class FakeDevice final : public pulsecap::DeviceLayer {
 public:
  // What the device reports.
  std::string app_code;            // user-data word 4
  uint32_t actual_hv = 0;          // power offset 40
  int hv_steps_to_zero = 3;        // power queries until the HV reads 0 after it was switched off
  uint16_t acquisition740 = 0;     // state740 offset 128
  uint16_t firmware = 0x1304;
  uint32_t flags = 0x4010;
  uint16_t max_hv = 1500;
  uint16_t gain = 10;
  uint16_t hv_set = 0;
  uint16_t polarity = 0;
  uint32_t memory = 16u << 20;
  uint16_t rate_khz = 20000;
  bool select_result = true;
  // Failures: the status returned by the named call (once it has been
  // called `after` times successfully).
  struct Failure {
    std::string call;
    int16_t status;
    int after;
  };
  std::vector<Failure> failures;
  // The memory: sample i of the common memory.
  std::function<uint16_t(uint64_t)> sample = [](uint64_t i) { return static_cast<uint16_t>((i * 37) ^ 0xC000); };

  std::vector<std::string> calls;  // "name(args)"
  std::map<std::string, int> counts;
  std::array<uint8_t, 24> block{};
  int32_t timeout = 1000;
  std::vector<int32_t> timeouts_at_general_mode;
  bool link_open = false;

  int count(const std::string& name) const {
    auto it = counts.find(name);
    return it == counts.end() ? 0 : it->second;
  }
  size_t index_of(const std::string& prefix) const {
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].rfind(prefix, 0) == 0) return i;
    }
    return calls.size();
  }

  int16_t comm_init_select(void* b, int32_t t, int32_t r, void* owner) override {
    std::memcpy(block.data(), b, 24);
    log("COMM_INIT_SELECT(" + std::to_string(t) + "," + std::to_string(r) + "," + (owner ? "owner" : "null") + ")");
    link_open = select_result;
    return select_result ? 1 : 0;
  }
  void comm_close() override {
    log("COMM_CLOSE()");
    link_open = false;
  }
  int16_t set_timeout(int32_t t) override {
    log("SET_TIMEOUT(" + std::to_string(t) + ")");
    timeout = t;
    return 1;
  }
  int16_t reset() override { return result("LYRA_RESET()"); }
  int16_t query_state(uint8_t* a) override {
    std::memset(a, 0, 132);
    lyralink::put_u16(a + 48, gain);
    lyralink::put_u16(a + 56, hv_set);
    lyralink::put_u16(a + 58, polarity);
    return result("LYRA_QUERY_STATE()");
  }
  int16_t query_state740(uint8_t* a) override {
    std::memset(a, 0, 132);
    lyralink::put_u16(a + 2, firmware);
    lyralink::put_u32(a + 8, flags);
    lyralink::put_u16(a + 64, max_hv);
    lyralink::put_u16(a + 128, acquisition740);
    return result("LYRA_QUERY_STATE740()");
  }
  int16_t query_state740_ex(uint8_t* a) override {
    std::memset(a, 0, 132);
    lyralink::put_u32(a, memory);
    lyralink::put_u16(a + 104, rate_khz);
    return result("LYRA_QUERY_STATE740_EX()");
  }
  int16_t query_power(uint8_t* a) override {
    if (hv_off_requested && actual_hv != 0) {
      if (--hv_steps_to_zero <= 0) actual_hv = 0;
    }
    std::memset(a, 0, 132);
    lyralink::put_u32(a + 40, actual_hv);
    return result("LYRA_QUERY_POWER()");
  }
  int16_t query_user_data(int32_t a1, uint8_t* a) override {
    std::memset(a, 0, 132);
    for (size_t i = 0; i < app_code.size() && i < 4; ++i) a[16 + i] = static_cast<uint8_t>(app_code[i]);
    return result("LYRA_QUERY_USER_DATA(" + std::to_string(a1) + ")");
  }
  int16_t set_user_data(int32_t a1, int32_t v) override {
    return result("LYRA_SET_USER_DATA(" + std::to_string(a1) + "," + std::to_string(v) + ")");
  }
  int16_t set_general_mode(int32_t m) override {
    timeouts_at_general_mode.push_back(timeout);
    return result("LYRA_SET_GENERAL_MODE(" + std::to_string(m) + ")");
  }
  int16_t set_high_voltages(int32_t v, int32_t a2) override {
    int16_t st = result("LYRA_SET_HIGH_VOLTAGES(" + std::to_string(v) + "," + std::to_string(a2) + ")");
    if (st == 0) {
      hv_set = static_cast<uint16_t>(v);
      if (v == 0) hv_off_requested = true;
    }
    return st;
  }
  int16_t set_preamplifier_power(int32_t a1) override {
    return result("LYRA_SET_PREAMPLIFIER_POWER(" + std::to_string(a1) + ")");
  }
  int16_t set_gain(int32_t c, int32_t f) override {
    int16_t st = result("LYRA_SET_GAIN(" + std::to_string(c) + "," + std::to_string(f) + ")");
    if (st == 0) gain = static_cast<uint16_t>(c);
    return st;
  }
  int16_t stop_acquire() override { return result("LYRA_STOP_ACQUIRE()"); }
  int16_t set_common_memory_fill_stop(int32_t b) override {
    return result("LYRA_SET_COMMON_MEMORY_FILL_STOP(" + std::to_string(static_cast<uint32_t>(b)) + ")");
  }
  int16_t start_acquire(int32_t a1, int32_t a2) override {
    return result("LYRA_START_ACQUIRE(" + std::to_string(a1) + "," + std::to_string(a2) + ")");
  }
  int16_t query_common_memory(int32_t offset, uint8_t* chunk) override {
    int16_t st = result("LYRA_QUERY_COMMON_MEMORY(" + std::to_string(offset) + ")");
    if (st == 0) {
      for (size_t i = 0; i < 720; ++i) lyralink::put_u16(chunk + 2 * i, sample(static_cast<uint64_t>(offset) + i));
    }
    return st;
  }

 private:
  void log(const std::string& c) {
    calls.push_back(c);
    ++counts[c.substr(0, c.find('('))];
  }
  int16_t result(const std::string& c) {
    log(c);
    const std::string name = c.substr(0, c.find('('));
    if (!link_open) return 1;  // the library's no-link status
    for (Failure& f : failures) {
      if (f.call == name) {
        if (f.after > 0) {
          --f.after;
          continue;
        }
        return f.status;
      }
    }
    return 0;
  }
  bool hv_off_requested = false;
};

}  // namespace pulsecap_test
