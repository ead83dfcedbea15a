// SPDX-License-Identifier: LGPL-2.1-or-later
// liblyralink-dialogs.so: the library's windows behind the plain C table
// of dialogs_api.h. Every entry catches everything: no exception and no Qt
// failure reaches the library or its host.
#include <QMessageBox>
#include <QPointer>
#include <cstring>
#include <string>
#include <vector>

#include "lyralink/dialogs/dialogs_api.h"
#include "lyralink/dialogs/gui_host.h"
#include "lyralink/dialogs/info_windows.h"
#include "lyralink/dialogs/qt_support.h"
#include "lyralink/dialogs/selection_dialog.h"

namespace lyralink::dialogs {

namespace {

// A line text is at most 59 characters; the bound only guards against a
// text without its terminating zero.
constexpr size_t kTextBound = 256;
constexpr uint32_t kLineBound = 4096;

std::string bounded(const char* text, size_t bound) {
  if (text == nullptr) return "";
  return std::string(text, strnlen(text, bound));
}

void copy_out(char* out, size_t size, const std::string& text) {
  if (out == nullptr) return;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// Only touched on the GUI thread.
QPointer<WaitWindow> g_wait;
SplashWindow* g_splash = nullptr;

int32_t start() noexcept {
  try {
    return start_gui() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t run_selection(void* owner, const lyralink_dialog_line* lines, uint32_t count, char* special_ip) noexcept {
  try {
    std::vector<DeviceLine> device_lines;
    if (lines != nullptr) {
      for (uint32_t i = 0; i < std::min(count, kLineBound); ++i)
        device_lines.push_back({bounded(lines[i].text, kTextBound), lines[i].applicable != 0});
    }
    std::string ip = bounded(special_ip, LYRALINK_SPECIAL_IP_SIZE - 1);
    int32_t result = kSelectionCancel;
    if (start_gui()) {
      on_gui_thread([&] {
        SelectionDialog dialog(live_widget(owner), device_lines, ip);
        result = dialog.run();
        ip = dialog.special_ip();
      });
    }
    copy_out(special_ip, LYRALINK_SPECIAL_IP_SIZE, ip);
    return result;
  } catch (...) {
    return kSelectionCancel;
  }
}

int32_t run_head_selection(void* owner, const char* const* texts, uint32_t count, char* address) noexcept {
  try {
    std::vector<std::string> lines;
    if (texts != nullptr) {
      for (uint32_t i = 0; i < std::min(count, kLineBound); ++i) lines.push_back(bounded(texts[i], kTextBound));
    }
    int32_t result = kHeadCancel;
    std::string chosen;
    if (start_gui()) {
      on_gui_thread([&] {
        HeadSelectionDialog dialog(live_widget(owner), lines);
        result = dialog.run();
        chosen = dialog.address();
      });
    }
    if (result == kHeadOk) copy_out(address, LYRALINK_SPECIAL_IP_SIZE, chosen);
    return result;
  } catch (...) {
    return kHeadCancel;
  }
}

void close_wait() noexcept {
  try {
    if (!start_gui()) return;
    on_gui_thread([] {
      if (g_wait) delete g_wait.data();
    });
  } catch (...) {
  }
}

void show_wait(void* owner, const char* message) noexcept {
  try {
    if (!start_gui()) return;
    std::string text = bounded(message, kTextBound);
    on_gui_thread([&] {
      if (g_wait) delete g_wait.data();
      g_wait = new WaitWindow(live_widget(owner), text);
      show_and_paint(g_wait);
    });
  } catch (...) {
  }
}

void draw_splash(SplashPicture picture) {
  on_gui_thread([picture] {
    if (g_splash == nullptr) g_splash = new SplashWindow;  // one for the whole process
    if (picture == SplashPicture::product) {
      g_splash->place();
      g_splash->draw(picture);
      show_and_paint(g_splash);
    } else {
      g_splash->draw(picture);
    }
  });
}

void show_splash() noexcept {
  try {
    if (!start_gui()) return;
    int at = 0;
    for (const auto& step : kSplashSchedule) {
      if (step.at_ms > at) wait_for_caller(step.at_ms - at);
      at = step.at_ms;
      draw_splash(step.picture);
    }
  } catch (...) {
  }
}

void close_splash() noexcept {
  try {
    if (!start_gui()) return;
    on_gui_thread([] {
      if (g_splash != nullptr) g_splash->hide();
    });
  } catch (...) {
  }
}

void message_box(void* owner, const char* text, const char* caption) noexcept {
  try {
    if (!start_gui()) return;
    std::string body = bounded(text, kTextBound);
    std::string title = bounded(caption, kTextBound);
    on_gui_thread([&] {
      QMessageBox box(QMessageBox::Information, from_8bit(title), from_8bit(body), QMessageBox::Ok, live_widget(owner));
      box.exec();
    });
  } catch (...) {
  }
}

void repaint_window(void* owner) noexcept {
  try {
    if (!start_gui()) return;
    on_gui_thread([owner] {
      if (QWidget* w = live_widget(owner)) w->repaint();
    });
  } catch (...) {
  }
}

const lyralink_dialogs_api kApi = {
    LYRALINK_DIALOGS_ABI_VERSION,
    sizeof(lyralink_dialogs_api),
    start,
    run_selection,
    run_head_selection,
    show_wait,
    close_wait,
    show_splash,
    close_splash,
    message_box,
    repaint_window,
};

}  // namespace

}  // namespace lyralink::dialogs

// The module's one export. Its name is the ABI's entry name, which C
// already uses for the table's type, hence the assembler name.
extern "C" __attribute__((visibility("default"))) const lyralink_dialogs_api* lyralink_dialogs_entry() noexcept
    __asm__(LYRALINK_DIALOGS_ENTRY);
extern "C" const lyralink_dialogs_api* lyralink_dialogs_entry() noexcept { return &lyralink::dialogs::kApi; }
