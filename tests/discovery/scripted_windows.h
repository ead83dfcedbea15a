/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Stand-in for the library's windows in tests: the dialogs follow a script
// (choose a line, cancel, redetect with a special IP) and everything shown
// is recorded.
#include <deque>
#include <string>
#include <vector>

#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/windows.h"

namespace lyratest {

struct DialogAction {
  enum Kind { choose, cancel, redetect } kind = cancel;
  std::string line_prefix;  // choose: the first applicable line starting with it
  std::string special_ip;   // redetect: the address typed
  static DialogAction pick(std::string prefix) { return {choose, std::move(prefix), {}}; }
  static DialogAction again(std::string special) { return {redetect, {}, std::move(special)}; }
};

class ScriptedWindows final : public lyralink::discovery::Windows {
 public:
  using Line = lyralink::discovery::SelectionLine;

  std::deque<DialogAction> selection_script;  // empty: cancel
  std::deque<DialogAction> head_script;       // choose or cancel

  std::vector<std::string> events;
  std::vector<std::vector<Line>> dialog_lines;
  std::vector<std::string> special_ips_given;
  std::vector<std::vector<std::string>> head_lines;

  int32_t run_selection_dialog(void*, const std::vector<Line>& lines, std::string& special_ip) override {
    events.push_back("selection dialog");
    dialog_lines.push_back(lines);
    special_ips_given.push_back(special_ip);
    if (selection_script.empty()) return lyralink::discovery::kDialogCancel;
    DialogAction a = selection_script.front();
    selection_script.pop_front();
    if (a.kind == DialogAction::redetect) {
      special_ip = a.special_ip;
      return lyralink::discovery::kDialogRedetect;
    }
    if (a.kind == DialogAction::choose) {
      // As the dialog does: the first applicable entry with the chosen text.
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].applicable && lines[i].text.rfind(a.line_prefix, 0) == 0) return static_cast<int32_t>(i);
      }
    }
    return lyralink::discovery::kDialogCancel;
  }

  int32_t run_head_selection_dialog(void*, const std::vector<std::string>& texts, std::string& address) override {
    events.push_back("head dialog");
    head_lines.push_back(texts);
    if (head_script.empty()) return lyralink::discovery::kDialogCancelled;
    DialogAction a = head_script.front();
    head_script.pop_front();
    if (a.kind != DialogAction::choose) return lyralink::discovery::kDialogCancelled;
    for (const auto& t : texts) {
      if (t.rfind(a.line_prefix, 0) == 0) {
        address = lyralink::discovery::address_from_list_text(t);
        return lyralink::discovery::kDialogOk;
      }
    }
    return lyralink::discovery::kDialogCancelled;
  }

  void show_wait_window(void*, const std::string& message) override { events.push_back("wait: " + message); }
  void close_wait_window() override { events.push_back("close wait"); }
  void show_splash_window() override { events.push_back("splash"); }
  void close_splash_window() override { events.push_back("close splash"); }
  void message_box(void*, const std::string& text, const std::string& caption) override {
    events.push_back("message: " + text + " | " + caption);
  }
  void repaint_window(void*) override { events.push_back("repaint"); }
};

}  // namespace lyratest
