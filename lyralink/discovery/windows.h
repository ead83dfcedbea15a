/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The windows of the device discovery, as the discovery code sees them.
//
// library_windows() is the process-wide instance: on Windows the Win32
// dialogs built into lyralink.dll, elsewhere the windows module
// (liblyralink-dialogs.so, loaded on first use from the library's own
// directory, or the file LYRALINK_DIALOGS names), when windows can be shown;
// otherwise "no display": nothing is shown and every dialog counts as
// cancelled. Tests replace it with set_windows().
#include <cstdint>
#include <string>
#include <vector>

namespace lyralink::discovery {

// Results of the selection dialog besides a device-list index.
constexpr int32_t kDialogCancel = -2;
constexpr int32_t kDialogRedetect = -3;
// Results of the head selection dialog.
constexpr int32_t kDialogOk = 1;
constexpr int32_t kDialogCancelled = 2;

struct SelectionLine {
  std::string text;
  bool applicable = false;
};

class Windows {
 public:
  virtual ~Windows() = default;
  // Device-list index of the chosen line, kDialogCancel or kDialogRedetect.
  // special_ip is carried in and out (at most 15 characters).
  virtual int32_t run_selection_dialog(void* owner, const std::vector<SelectionLine>& lines,
                                       std::string& special_ip) = 0;
  // kDialogOk with the chosen line's device address, else kDialogCancelled.
  virtual int32_t run_head_selection_dialog(void* owner, const std::vector<std::string>& texts,
                                            std::string& address) = 0;
  virtual void show_wait_window(void* owner, const std::string& message) = 0;
  virtual void close_wait_window() = 0;
  // Blocks while the three pictures are drawn (about 3 s) when shown.
  virtual void show_splash_window() = 0;
  virtual void close_splash_window() = 0;
  virtual void message_box(void* owner, const std::string& text, const std::string& caption) = 0;
  virtual void repaint_window(void* owner) = 0;
};

// Nothing shown, every dialog cancelled.
class NoDisplayWindows final : public Windows {
 public:
  int32_t run_selection_dialog(void*, const std::vector<SelectionLine>&, std::string&) override {
    return kDialogCancel;
  }
  int32_t run_head_selection_dialog(void*, const std::vector<std::string>&, std::string&) override {
    return kDialogCancelled;
  }
  void show_wait_window(void*, const std::string&) override {}
  void close_wait_window() override {}
  void show_splash_window() override {}
  void close_splash_window() override {}
  void message_box(void*, const std::string&, const std::string&) override {}
  void repaint_window(void*) override {}
};

// The windows the discovery uses.
Windows& library_windows();
// Replaces them (null restores the library's own); for tests.
void set_windows(Windows* windows);

}  // namespace lyralink::discovery
