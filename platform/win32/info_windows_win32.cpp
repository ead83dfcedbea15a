// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/win32/info_windows_win32.h"

#include <atomic>
#include <vector>

#include "lyralink/dialogs/dialog_template.h"
#include "platform/win32/dialog_support_win32.h"

namespace lyralink::platform::win32 {

namespace {

constexpr int kMessageText = 1005;

// Template 1003: a popup with the modal frame and no caption, no task-bar
// button, visible as soon as it is created.
const dialogs::DialogTemplate& wait_template() {
  static const dialogs::DialogTemplate t = [] {
    dialogs::DialogTemplate d;
    d.style = WS_POPUP | DS_MODALFRAME | WS_VISIBLE;
    d.ex_style = WS_EX_TOOLWINDOW;
    d.units = {0, 0, 131, 31};
    d.point_size = 12;
    d.font = "MS Sans Serif";
    dialogs::TemplateItem message;
    message.id = kMessageText;
    message.style = WS_CHILD | WS_VISIBLE | SS_CENTER;
    message.units = {5, 5, 120, 10};
    message.class_atom = dialogs::kStaticClass;
    message.text = "Message";
    dialogs::TemplateItem wait = message;
    wait.id = dialogs::kNoControlId;
    wait.units = {5, 15, 120, 10};
    wait.text = "Please wait!";
    d.items = {message, wait};
    return d;
  }();
  return t;
}

// Template 1007: a popup with a thin border and no caption or controls;
// its size and place are set in pixels when it is shown.
const dialogs::DialogTemplate& splash_template() {
  static const dialogs::DialogTemplate t = [] {
    dialogs::DialogTemplate d;
    d.style = WS_POPUP | WS_BORDER | DS_CENTER;
    d.ex_style = WS_EX_TOOLWINDOW;
    d.units = {0, 0, 100, 100};
    d.point_size = 8;
    d.font = "MS Sans Serif";
    return d;
  }();
  return t;
}

// Closes a window from any thread: destroyed at once by its own thread,
// asked to close otherwise (a window can only be destroyed by its thread).
void close_window(HWND window) {
  if (window == nullptr) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
}

// Paints a window and its controls now (invalidate, erase, update), since
// its thread is about to block without dispatching messages, and hands
// what was drawn to the display.
void paint_now(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  GdiFlush();
}

// What the wait and splash windows do with any other message: WM_CLOSE
// destroys the window, WM_DESTROY empties `slot`, which holds it while it
// is shown (unless another window took it meanwhile). The procedure's
// answer: TRUE for WM_CLOSE, else FALSE.
INT_PTR other_message(HWND window, UINT message, std::atomic<HWND>& slot) {
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    HWND expected = window;
    slot.compare_exchange_strong(expected, nullptr);
  }
  return FALSE;
}

HWND create_from(const dialogs::DialogTemplate& t, HWND owner, DLGPROC procedure, LPARAM parameter) {
  std::vector<uint8_t> bytes = dialogs::template_bytes(t);
  return CreateDialogIndirectParamA(library_instance(), reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), owner,
                                    procedure, parameter);
}

// ---- the wait window ----

std::atomic<HWND> g_wait{nullptr};

struct WaitShow {
  HWND owner;
  std::string message;
};

INT_PTR CALLBACK wait_proc(HWND window, UINT message, WPARAM, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& show = *reinterpret_cast<const WaitShow*>(lparam);
      SetDlgItemTextA(window, kMessageText, show.message.c_str());
      fit_template(window, wait_template(), template_children(window), {});
      // Over the owner's rectangle, or the full-screen client area.
      centre_window(window, show.owner);
      return FALSE;  // nothing in it takes the focus
    }
    default:
      return other_message(window, message, g_wait);
  }
}

// ---- the splash window ----

// One splash window for the process: the window while it is shown, and
// the banner last drawn into it (for repainting it).
std::atomic<HWND> g_splash{nullptr};
std::atomic<int> g_banner{0};

void draw_picture(HDC dc, dialogs::SplashPicture picture) {
  HBITMAP bitmap = splash_bitmap(picture);
  if (bitmap == nullptr) return;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BITMAP size{};
  GetObjectA(bitmap, sizeof size, &size);
  BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
}

INT_PTR CALLBACK splash_proc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return FALSE;
    case WM_PAINT: {
      // Exposed again (a dialog's loop runs later): the product and the
      // banner drawn last.
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(window, &paint);
      draw_picture(dc, dialogs::SplashPicture::product);
      if (int banner = g_banner.load(); banner != 0) draw_picture(dc, static_cast<dialogs::SplashPicture>(banner));
      EndPaint(window, &paint);
      return TRUE;
    }
    default:
      return other_message(window, message, g_splash);
  }
}

}  // namespace

void show_wait_window(HWND owner, const std::string& message) {
  close_wait_window();
  WaitShow show{owner, message};
  HWND window = create_from(wait_template(), owner, wait_proc, reinterpret_cast<LPARAM>(&show));
  if (window == nullptr) return;
  g_wait = window;
  paint_now(window);
}

void close_wait_window() { close_window(g_wait.exchange(nullptr)); }

void show_splash_window() {
  HWND window = g_splash.load();
  if (window == nullptr || !IsWindow(window)) {
    window = create_from(splash_template(), nullptr, splash_proc, 0);
    if (window == nullptr) return;
    g_splash = window;
  }
  g_banner = 0;
  const dialogs::Point at = dialogs::splash_position(full_screen_area());
  SetWindowPos(window, HWND_TOP, at.x, at.y, dialogs::kSplashSize.width, dialogs::kSplashSize.height, 0);
  ShowWindow(window, SW_SHOW);
  int now = 0;
  for (const dialogs::SplashStep& step : dialogs::kSplashSchedule) {
    if (step.at_ms > now) Sleep(static_cast<DWORD>(step.at_ms - now));
    now = step.at_ms;
    if (step.picture != dialogs::SplashPicture::product) g_banner = static_cast<int>(step.picture);
    paint_now(window);
  }
}

void close_splash_window() {
  g_banner = 0;
  close_window(g_splash.exchange(nullptr));
}

}  // namespace lyralink::platform::win32
