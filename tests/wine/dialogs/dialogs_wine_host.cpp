// SPDX-License-Identifier: LGPL-2.1-or-later
// A Windows program that shows the library's Win32 windows through the
// same table lyralink.dll uses (the built-in one), over realistic device
// lists; the Wine tests drive it with xdotool and take its screenshots.
//
//   dialogs_wine_host start
//   dialogs_wine_host select [SPECIAL_IP]   -> "result N ip TEXT"
//   dialogs_wine_host empty                 (selection dialog, nothing found)
//   dialogs_wine_host heads|analysers       -> "result N address TEXT"
//   dialogs_wine_host wait MESSAGE          -> "shown X Y W H", closes at a line on stdin
//   dialogs_wine_host splash                -> "drawn X Y W H" (its client area) after the
//                                              pictures, closes at a line on stdin
//   dialogs_wine_host message TEXT          -> "closed"
//   dialogs_wine_host picture NAME FILE     writes a splash picture (product,
//                                           detecting, wait) as a .bmp file
//
// Exit 4 ("no display") when the table's start() says no window can be
// shown; every dialog then still returns, cancelled.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "lyralink/dialogs/dialogs_api.h"
#include "platform/built_in_windows.h"
#include "platform/win32/info_windows_win32.h"

namespace {

const lyralink_dialog_line kLines[] = {
    {"MCA-740#00317 on 192.168.10.41\t FW# 12.06", 1},
    {"MCA-740#00012 on USB\t FW# 12.00", 1},
    {"MCA-740#00007 on COM3\t FW# 11.20", 1},
    {"MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)", 0},
    {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", 0},
    {"MCA-740#00099 on COM4\t FW# 11.10\t(unsuitable)", 0},
    {"MCA-740#????? on USB\t FW# ??.??\t(inoperable)", 0},
};
const char* const kHeads[] = {"Trebla#00042 on 192.168.10.57 (in use)", "Trebla#00007 on 192.168.10.63"};
const char* const kAnalysers[] = {"MCA-740#00317 on 192.168.10.41", "MCA-740#00204 on 192.168.10.57 (in use)"};

// The top-level window of this process that is visible and has no caption
// text (the wait and the splash window).
HWND untitled_window() {
  struct Find {
    HWND found = nullptr;
  } find;
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(w) || GetWindowTextLengthA(w) != 0) return TRUE;
        reinterpret_cast<Find*>(p)->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.found;
}

// Prints the window's rectangle on the screen, or with `client` that of its
// client area (where the splash window's pictures are drawn).
void print_rect(const char* what, bool client) {
  RECT r{};
  if (HWND w = untitled_window()) {
    if (client) {
      GetClientRect(w, &r);
      MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
      GetWindowRect(w, &r);
    }
  }
  std::printf("%s %ld %ld %ld %ld\n", what, r.left, r.top, r.right - r.left, r.bottom - r.top);
  std::fflush(stdout);
}

// Writes a bitmap as a 24-bit .bmp file; false on any failure.
bool write_bitmap(HBITMAP bitmap, const char* path) {
  BITMAP size{};
  if (GetObjectA(bitmap, sizeof size, &size) == 0) return false;
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = size.bmWidth;
  header.biHeight = size.bmHeight;  // bottom-up, as .bmp files are
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD row = static_cast<DWORD>((size.bmWidth * 3 + 3) / 4 * 4);
  std::string pixels(static_cast<size_t>(row) * static_cast<size_t>(size.bmHeight), '\0');
  HDC dc = GetDC(nullptr);
  int rows = GetDIBits(dc, bitmap, 0, static_cast<UINT>(size.bmHeight), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != size.bmHeight) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
            std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
  return std::fclose(out) == 0 && ok;
}

void wait_for_line() {
  char line[16];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s start|select|empty|heads|analysers|wait|splash|message ...\n", argv[0]);
    return 2;
  }
  const lyralink_dialogs_api* api = lyralink::platform::built_in_windows();
  if (api == nullptr || api->abi_version != LYRALINK_DIALOGS_ABI_VERSION || api->size < sizeof *api) {
    std::fprintf(stderr, "no built-in windows\n");
    return 3;
  }
  const std::string what = argv[1];
  if (what == "picture" && argc > 3) {
    const std::string name = argv[2];
    using lyralink::dialogs::SplashPicture;
    SplashPicture picture = name == "product"     ? SplashPicture::product
                            : name == "detecting" ? SplashPicture::detecting_banner
                                                  : SplashPicture::wait_banner;
    HBITMAP bitmap = lyralink::platform::win32::splash_bitmap(picture);
    bool written = bitmap != nullptr && write_bitmap(bitmap, argv[3]);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return written ? 0 : 1;
  }
  int started = api->start();
  if (what == "start") {
    std::printf("start %d\n", started);
    return 0;
  }
  int status = started ? 0 : 4;
  if (what == "select" || what == "empty") {
    char ip[LYRALINK_SPECIAL_IP_SIZE] = "";
    if (argc > 2) std::snprintf(ip, sizeof ip, "%s", argv[2]);
    uint32_t n = what == "empty" ? 0 : static_cast<uint32_t>(sizeof kLines / sizeof kLines[0]);
    int result = api->run_selection_dialog(nullptr, kLines, n, ip);
    std::printf("result %d ip %s\n", result, ip);
  } else if (what == "heads" || what == "analysers") {
    char address[LYRALINK_SPECIAL_IP_SIZE] = "";
    int result = api->run_head_selection_dialog(nullptr, what == "heads" ? kHeads : kAnalysers, 2, address);
    std::printf("result %d address %s\n", result, address);
  } else if (what == "wait" && argc > 2) {
    api->show_wait_window(nullptr, argv[2]);
    print_rect("shown", false);
    wait_for_line();
    api->close_wait_window();
  } else if (what == "splash") {
    api->show_splash_window();
    print_rect("drawn", true);
    wait_for_line();
    api->close_splash_window();
  } else if (what == "message" && argc > 2) {
    api->message_box(nullptr, argv[2], "MCA Communication");
    std::printf("closed\n");
  } else {
    std::fprintf(stderr, "unknown command %s\n", argv[1]);
    return 2;
  }
  std::fflush(stdout);
  return status;
}
