// SPDX-License-Identifier: LGPL-2.1-or-later
// The library's Win32 windows through the table lyralink.dll uses, under
// Wine on an X server (Xvfb): every control by its id, the lists' lines and
// their columns as painted, the check-box rule, focus and keys, the results
// and the special IP handed back, the head selection dialog, the wait and
// splash windows painted before their calls return, the message box.
// The NoDisplay cases run without an X server: nothing is shown and every
// dialog counts as cancelled.
//
// The modal dialogs are driven from inside their own message loop: a
// message filter hook (the loop offers every message to it) sees the
// dialog become visible and then runs the test's steps, one per posted
// message, so keys posted by a step are handled before the next step runs;
// a dialog still open after its last step fails the test (and is closed).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "lyralink/dialogs/dialogs_api.h"
#include "lyralink/dialogs/template_geometry.h"
#include "platform/built_in_windows.h"
#include "platform/win32/info_windows_win32.h"

namespace {

using lyralink::dialogs::Point;
using lyralink::dialogs::Rect;
using lyralink::dialogs::Size;

const lyralink_dialogs_api& api() { return *lyralink::platform::built_in_windows(); }

const lyralink_dialog_line kLines[] = {
    {"MCA-740#00012 on USB\t FW# 12.00", 1},
    {"MCA-740#00317 on 192.168.10.41\t FW# 12.06", 1},
    {"MCA-740#00007 on COM3\t FW# 11.20", 1},
    {"MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)", 0},
    {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", 0},
    {"MCA-740#????? on USB\t FW# ??.??\t(inoperable)", 0},
};
constexpr uint32_t kLineCount = sizeof kLines / sizeof kLines[0];

// ---- driving a modal loop ----

constexpr UINT kStep = WM_APP + 7;
using Step = std::function<void(HWND)>;

struct Driver {
  std::deque<Step> steps;
  HWND dialog = nullptr;
  bool started = false;
};
Driver* g_driver = nullptr;

LRESULT CALLBACK message_filter(int code, WPARAM wparam, LPARAM lparam) {
  if (code >= 0 && g_driver != nullptr) {
    const MSG& m = *reinterpret_cast<const MSG*>(lparam);
    if (m.message == kStep && m.hwnd == nullptr) {
      if (!g_driver->steps.empty()) {
        Step step = std::move(g_driver->steps.front());
        g_driver->steps.pop_front();
        step(g_driver->dialog);
        // The next step, or the check that the last one ended the dialog,
        // after what this step posted.
        PostThreadMessageA(GetCurrentThreadId(), kStep, 0, 0);
      } else if (IsWindow(g_driver->dialog)) {
        ADD_FAILURE() << "the dialog is still open after its last step";
        SendMessageA(g_driver->dialog, WM_COMMAND, IDCANCEL, 0);
      }
      return TRUE;
    }
    if (!g_driver->started && m.hwnd != nullptr) {
      // The dialog (or message box), not an owner window of the test.
      HWND root = GetAncestor(m.hwnd, GA_ROOT);
      char cls[16] = {};
      if (root != nullptr) GetClassNameA(root, cls, sizeof cls);
      if (root != nullptr && IsWindowVisible(root) && std::string(cls) == "#32770") {
        g_driver->started = true;
        g_driver->dialog = root;
        PostThreadMessageA(GetCurrentThreadId(), kStep, 0, 0);
      }
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Runs `show` (which runs a modal loop) with `steps` played inside it.
template <typename Show>
auto drive(std::vector<Step> steps, Show show) {
  Driver driver;
  driver.steps.assign(steps.begin(), steps.end());
  g_driver = &driver;
  HHOOK hook = SetWindowsHookExA(WH_MSGFILTER, message_filter, nullptr, GetCurrentThreadId());
  auto result = show();
  UnhookWindowsHookEx(hook);
  g_driver = nullptr;
  // A check posted as the dialog ended was never taken from the queue.
  MSG left{};
  while (PeekMessageA(&left, nullptr, kStep, kStep, PM_REMOVE)) {
  }
  EXPECT_TRUE(driver.steps.empty()) << driver.steps.size() << " step(s) never ran";
  return result;
}

void key(WORD vk) {
  HWND focus = GetFocus();
  PostMessageA(focus, WM_KEYDOWN, vk, 1);
  PostMessageA(focus, WM_KEYUP, vk, 0xC0000001);
}

void click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// ---- reading controls ----

std::string class_of(HWND w) {
  char name[64] = {};
  GetClassNameA(w, name, sizeof name);
  return name;
}

std::string text_of(HWND w) {
  char text[512] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

std::vector<std::string> lines_of(HWND list) {
  std::vector<std::string> lines;
  int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    char text[256] = {};
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    lines.push_back(text);
  }
  return lines;
}

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// The id of the control (the dialog's child) that has the focus.
int focused_id(HWND dialog) {
  for (HWND w = GetFocus(); w != nullptr && w != dialog; w = GetParent(w))
    if (GetParent(w) == dialog) return GetDlgCtrlID(w);
  return 0;
}

Rect rect_of(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string ip_text(HWND dialog) {
  DWORD address = 0;
  LRESULT filled = SendMessageA(GetDlgItem(dialog, 1007), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  if (filled == 0) return "";
  return std::to_string(FIRST_IPADDRESS(address)) + "." + std::to_string(SECOND_IPADDRESS(address)) + "." +
         std::to_string(THIRD_IPADDRESS(address)) + "." + std::to_string(FOURTH_IPADDRESS(address));
}

// The IP-address control's four edit fields, left to right.
std::vector<HWND> ip_fields(HWND dialog) {
  std::vector<HWND> fields;
  for (HWND w = GetWindow(GetDlgItem(dialog, 1007), GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
    fields.push_back(w);
  std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) { return rect_of(a).x < rect_of(b).x; });
  return fields;
}

// Every text of the dialog's controls shows whole: a line's text is no
// wider than its control (less a check box's box), a wrapped text no
// higher; and no two controls overlap.
void expect_texts_fit(HWND dialog) {
  std::vector<HWND> children;
  for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) children.push_back(w);
  HDC dc = GetDC(dialog);
  for (HWND w : children) {
    std::string text = text_of(w);
    std::string cls = class_of(w);
    if (text.empty() || (cls != "Button" && cls != "Static")) continue;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)));
    RECT client{};
    GetClientRect(w, &client);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    LONG style = GetWindowLongA(w, GWL_STYLE);
    if (cls == "Button" && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
      EXPECT_LE(extent.cx + GetSystemMetrics(SM_CXMENUCHECK), client.right) << text;
    } else if (cls == "Button") {
      EXPECT_LE(extent.cx, client.right) << text;
      EXPECT_GE(client.bottom, extent.cy) << text;
    } else {
      RECT wrapped{0, 0, client.right, 0};
      DrawTextA(dc, text.c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK);
      EXPECT_LE(wrapped.bottom, client.bottom) << "cut off: " << text;
      EXPECT_LE(wrapped.right, client.right) << text;
    }
    SelectObject(dc, old);
  }
  ReleaseDC(dialog, dc);
  RECT area{};
  GetClientRect(dialog, &area);
  for (size_t i = 0; i < children.size(); ++i) {
    RECT a{};
    GetWindowRect(children[i], &a);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&a), 2);
    EXPECT_GE(a.left, 0);
    EXPECT_GE(a.top, 0);
    EXPECT_LE(a.right, area.right) << "control " << GetDlgCtrlID(children[i]) << " past the right edge";
    EXPECT_LE(a.bottom, area.bottom) << "control " << GetDlgCtrlID(children[i]) << " past the bottom edge";
    for (size_t j = i + 1; j < children.size(); ++j) {
      RECT b{};
      RECT both{};
      GetWindowRect(children[j], &b);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&b), 2);
      EXPECT_FALSE(IntersectRect(&both, &a, &b))
          << "controls " << GetDlgCtrlID(children[i]) << " and " << GetDlgCtrlID(children[j]) << " overlap";
    }
  }
}

// Where each tab column of each line of a list starts as painted: the
// first pixel that differs from the line's background at or after the
// place where the previous piece's text ends. A line's columns from 1 on.
std::vector<std::vector<int>> painted_columns(HWND list) {
  RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  std::vector<std::vector<int>> out;
  HDC dc = GetDC(list);
  HDC measure = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(measure, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
  RECT client{};
  GetClientRect(list, &client);
  int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  std::vector<std::string> lines = lines_of(list);
  for (size_t i = 0; i < lines.size(); ++i) {
    int y0 = static_cast<int>(i) * height;
    if (y0 + height > client.bottom) break;
    COLORREF background = GetPixel(dc, 0, y0 + height / 2);
    auto ink_from = [&](int x) {
      for (; x < client.right; ++x)
        for (int y = y0 + 1; y < y0 + height - 1; ++y)
          if (GetPixel(dc, x, y) != background) return x;
      return -1;
    };
    std::vector<int> columns;
    int x = ink_from(0);
    std::string rest = lines[i];
    while (x >= 0) {
      size_t tab = rest.find('\t');
      // The ink starts after a piece's leading blanks.
      std::string piece = rest.substr(0, tab);
      piece.erase(0, piece.find_first_not_of(' '));
      SIZE extent{};
      GetTextExtentPoint32A(measure, piece.c_str(), static_cast<int>(piece.size()), &extent);
      if (tab == std::string::npos) {
        // The last piece must end inside the list.
        EXPECT_LE(x + extent.cx, client.right) << "line cut off: " << lines[i];
        break;
      }
      rest = rest.substr(tab + 1);
      x = ink_from(x + extent.cx + 1);
      // Every second piece begins with " FW#", every third with "(": the
      // ink of a column starts the same distance into it on every line.
      columns.push_back(x);
    }
    out.push_back(columns);
  }
  SelectObject(measure, old);
  DeleteDC(measure);
  ReleaseDC(list, dc);
  return out;
}

class Win32Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lyralink::platform::built_in_windows(), nullptr);
    ASSERT_EQ(api().abi_version, LYRALINK_DIALOGS_ABI_VERSION);
    ASSERT_EQ(api().start(), 1) << "no window can be shown: run under an X server";
  }
};

int32_t run_selection(std::vector<Step> steps, const char* special_ip_in, std::string* special_ip_out,
                      uint32_t count = kLineCount, void* owner = nullptr) {
  char ip[LYRALINK_SPECIAL_IP_SIZE] = {};
  lstrcpynA(ip, special_ip_in, sizeof ip);
  int32_t result = drive(std::move(steps), [&] { return api().run_selection_dialog(owner, kLines, count, ip); });
  if (special_ip_out != nullptr) *special_ip_out = ip;
  return result;
}

// ---- the selection dialog ----

TEST_F(Win32Windows, SelectionDialogControlsByIdWithTheirTextsAndStates) {
  std::string ip;
  int32_t result = run_selection(
      {[](HWND d) {
        char title[64] = {};
        GetWindowTextA(d, title, sizeof title);
        EXPECT_STREQ(title, "Detected Lyra's");
        LONG style = GetWindowLongA(d, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU) << "the close box";
        EXPECT_TRUE(style & WS_CAPTION);
        EXPECT_EQ(class_of(GetDlgItem(d, 1008)), "Button");
        EXPECT_EQ(text_of(GetDlgItem(d, 1008)), "Include this special IP in redetection:");
        EXPECT_EQ(class_of(GetDlgItem(d, 1007)), "SysIPAddress32");
        EXPECT_EQ(text_of(GetDlgItem(d, 1)), "Select");
        EXPECT_EQ(text_of(GetDlgItem(d, 3)), "Redetect");
        EXPECT_EQ(text_of(GetDlgItem(d, 2)), "Cancel");
        EXPECT_EQ(class_of(GetDlgItem(d, 1003)), "ListBox");
        EXPECT_EQ(class_of(GetDlgItem(d, 1004)), "ListBox");
        EXPECT_TRUE(GetWindowLongA(GetDlgItem(d, 1004), GWL_STYLE) & LBS_NOSEL);
        EXPECT_TRUE(SendMessageA(GetDlgItem(d, 1), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
        // Applicable lines in text order, the first selected; the rest below.
        EXPECT_EQ(lines_of(GetDlgItem(d, 1003)),
                  (std::vector<std::string>{"MCA-740#00007 on COM3\t FW# 11.20", "MCA-740#00012 on USB\t FW# 12.00",
                                            "MCA-740#00317 on 192.168.10.41\t FW# 12.06"}));
        EXPECT_EQ(SendMessageA(GetDlgItem(d, 1003), LB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(lines_of(GetDlgItem(d, 1004)),
                  (std::vector<std::string>{"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)",
                                            "MCA-740#????? on USB\t FW# ??.??\t(inoperable)",
                                            "MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)"}));
        EXPECT_TRUE(enabled(d, 1));
        EXPECT_TRUE(enabled(d, 1003));
        EXPECT_FALSE(enabled(d, 1007));
        EXPECT_EQ(ip_text(d), "10.0.0.25");
        EXPECT_EQ(focused_id(d), 1008) << "focus starts on the first control of the tab order";
        expect_texts_fit(d);
        click(d, 2);
      }},
      "10.0.0.25", &ip);
  EXPECT_EQ(result, -2);
  EXPECT_EQ(ip, "10.0.0.25") << "handed back whatever the result";
}

TEST_F(Win32Windows, ColumnsOfBothListsLineUpAsPainted) {
  run_selection({[](HWND d) {
                  std::vector<std::vector<int>> columns = painted_columns(GetDlgItem(d, 1003));
                  std::vector<std::vector<int>> lower = painted_columns(GetDlgItem(d, 1004));
                  ASSERT_EQ(columns.size(), 3u);
                  ASSERT_EQ(lower.size(), 3u);
                  columns.insert(columns.end(), lower.begin(), lower.end());
                  for (const auto& line : columns) {
                    ASSERT_GE(line.size(), 1u);
                    EXPECT_EQ(line[0], columns[0][0]) << "second column";
                  }
                  for (const auto& line : lower) {
                    ASSERT_EQ(line.size(), 2u);
                    EXPECT_EQ(line[1], lower[0][1]) << "third column";
                  }
                  key(VK_ESCAPE);
                }},
                "", nullptr);
}

TEST_F(Win32Windows, ColumnsMoveRightOfTheirStopsForALongerPieceAndStayAligned) {
  // A first piece wider than the first stop (115 units) in one list moves
  // the second column of every line of both lists.
  const lyralink_dialog_line lines[] = {
      {"MCA-740#00317 on 192.168.100.241 bridge port 2\t FW# 12.06", 1},
      {"MCA-740#00012 on USB\t FW# 12.00", 1},
      {"MCA-740#00204 on 192.168.10.57\t FW# 12.06\t(in use)", 0},
      {"MCA-310#00051 on COM1\t FW# 02.10\t(unsuitable)", 0},
  };
  char ip[LYRALINK_SPECIAL_IP_SIZE] = {};
  drive({[](HWND d) {
          RECT stop{0, 0, 115, 0};
          MapDialogRect(d, &stop);
          std::vector<std::vector<int>> upper = painted_columns(GetDlgItem(d, 1003));
          std::vector<std::vector<int>> lower = painted_columns(GetDlgItem(d, 1004));
          ASSERT_EQ(upper.size(), 2u);
          ASSERT_EQ(lower.size(), 2u);
          ASSERT_FALSE(upper[0].empty());
          EXPECT_GT(upper[0][0], stop.right) << "the second column stayed at its stop";
          for (const auto& line : upper) EXPECT_EQ(line.at(0), upper[0][0]);
          for (const auto& line : lower) {
            EXPECT_EQ(line.at(0), upper[0][0]);
            EXPECT_EQ(line.at(1), lower[0].at(1));
          }
          expect_texts_fit(d);
          key(VK_ESCAPE);
        }},
        [&] { return api().run_selection_dialog(nullptr, lines, 4, ip); });
}

TEST_F(Win32Windows, EnterSelectsTheLineAndGivesItsDeviceListIndex) {
  // The first line (COM3, the third entry), by Enter on the check box.
  {
    int32_t result = run_selection({[](HWND) { key(VK_RETURN); }}, "", nullptr);
    EXPECT_EQ(result, 2);
  }
  // Tab to the upper list (the disabled address is passed over), the
  // second line (USB, the first entry), Enter.
  {
    int32_t result = run_selection({[](HWND) {
                                      for (int i = 0; i < 4; ++i) key(VK_TAB);
                                    },
                                    [](HWND d) {
                                      EXPECT_EQ(focused_id(d), 1003);
                                      key(VK_DOWN);
                                    },
                                    [](HWND d) {
                                      EXPECT_EQ(SendMessageA(GetDlgItem(d, 1003), LB_GETCURSEL, 0, 0), 1);
                                      key(VK_RETURN);
                                    }},
                                   "", nullptr);
    EXPECT_EQ(result, 0);
  }
  // A double click on the last line (192.168.10.41, the second entry).
  {
    int32_t result = run_selection({[](HWND d) {
                                     HWND list = GetDlgItem(d, 1003);
                                     RECT line{};
                                     SendMessageA(list, LB_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&line));
                                     LPARAM at = MAKELPARAM(line.left + 4, line.top + 2);
                                     SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
                                     SendMessageA(list, WM_LBUTTONUP, 0, at);
                                     SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
                                     SendMessageA(list, WM_LBUTTONUP, 0, at);
                                   }},
                                   "", nullptr);
    EXPECT_EQ(result, 1);
  }
}

TEST_F(Win32Windows, TickedBoxTakesTheChoiceAwayAndRedetectHandsBackTheAddress) {
  std::string ip;
  int32_t result = run_selection({[](HWND d) {
                                    click(d, 1008);
                                    EXPECT_TRUE(enabled(d, 1007));
                                    EXPECT_FALSE(enabled(d, 1));
                                    EXPECT_FALSE(enabled(d, 1003));
                                    EXPECT_EQ(focused_id(d), 1007) << "the address takes the focus";
                                    // Enter does nothing while Select is disabled.
                                    key(VK_RETURN);
                                  },
                                  [](HWND d) {
                                    EXPECT_TRUE(IsWindow(d));
                                    // Typed fields: 10, 0, 0, 25.
                                    std::vector<HWND> fields = ip_fields(d);
                                    ASSERT_EQ(fields.size(), 4u);
                                    const char* typed[] = {"10", "0", "0", "25"};
                                    for (int i = 0; i < 4; ++i) SetWindowTextA(fields[i], typed[i]);
                                    click(d, 3);
                                  }},
                                 "", &ip);
  EXPECT_EQ(result, -3);
  EXPECT_EQ(ip, "10.0.0.25");
}

TEST_F(Win32Windows, RedetectReadsBlankFieldsAsZeroAndKeepsTheFourthInRange) {
  std::string ip;
  // A stored address with fields missing leaves them blank.
  {
    int32_t result = run_selection({[](HWND d) {
                                     std::vector<HWND> fields = ip_fields(d);
                                     ASSERT_EQ(fields.size(), 4u);
                                     EXPECT_EQ(text_of(fields[0]), "172");
                                     EXPECT_EQ(text_of(fields[1]), "16");
                                     EXPECT_EQ(text_of(fields[2]), "");
                                     EXPECT_EQ(text_of(fields[3]), "");
                                     click(d, 1008);
                                     click(d, 3);
                                   }},
                                   "172.16", &ip);
    EXPECT_EQ(result, -3);
  }
  EXPECT_EQ(ip, "172.16.0.0");
  // The fourth field holds 1..254: 255 comes back as 254, 0 as 1.
  for (auto [typed, expected] : {std::pair{"255", "10.1.2.254"}, std::pair{"0", "10.1.2.1"}}) {
    {
      int32_t result = run_selection({[typed](HWND d) {
                                       click(d, 1008);
                                       std::vector<HWND> fields = ip_fields(d);
                                       ASSERT_EQ(fields.size(), 4u);
                                       SetWindowTextA(fields[3], typed);
                                       click(d, 3);
                                     }},
                                     "10.1.2.3", &ip);
      EXPECT_EQ(result, -3);
    }
    EXPECT_EQ(ip, expected);
  }
  // Redetect with the box clear empties the special IP.
  {
    int32_t result = run_selection({[](HWND d) { click(d, 3); }}, "10.1.2.3", &ip);
    EXPECT_EQ(result, -3);
  }
  EXPECT_EQ(ip, "");
}

TEST_F(Win32Windows, NothingFoundLeavesOnlyRedetectAndCancel) {
  std::string ip;
  {
    int32_t result = run_selection({[](HWND d) {
                                      EXPECT_TRUE(lines_of(GetDlgItem(d, 1003)).empty());
                                      EXPECT_TRUE(lines_of(GetDlgItem(d, 1004)).empty());
                                      EXPECT_FALSE(enabled(d, 1));
                                      key(VK_RETURN);
                                    },
                                    [](HWND d) {
                                      EXPECT_TRUE(IsWindow(d)) << "Enter with Select disabled ended the dialog";
                                      // Ticking the box leaves the empty list as it is.
                                      click(d, 1008);
                                      EXPECT_TRUE(enabled(d, 1003));
                                      EXPECT_FALSE(enabled(d, 1));
                                      click(d, 1008);
                                      key(VK_ESCAPE);
                                    }},
                                   "", &ip, 0);
    EXPECT_EQ(result, -2);
  }
  // The close box: WM_CLOSE, as the system menu sends it.
  {
    int32_t result = run_selection({[](HWND d) { SendMessageA(d, WM_CLOSE, 0, 0); }}, "", nullptr, 0);
    EXPECT_EQ(result, -2);
  }
}

// ---- owner, wait window, splash window ----

struct OwnerWindow {
  HWND window;
  explicit OwnerWindow(Rect r)
      : window(CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, r.x, r.y, r.width, r.height, nullptr,
                               nullptr, nullptr, nullptr)) {}
  ~OwnerWindow() { DestroyWindow(window); }
};

TEST_F(Win32Windows, SelectionDialogCentresOverItsOwnerAndDisablesIt) {
  OwnerWindow owner({100, 100, 800, 600});
  ASSERT_NE(owner.window, nullptr);
  run_selection(
      {[&](HWND d) {
        EXPECT_EQ(GetWindow(d, GW_OWNER), owner.window);
        EXPECT_FALSE(IsWindowEnabled(owner.window)) << "a modal dialog disables its owner";
        Rect own = rect_of(d);
        EXPECT_EQ((Point{own.x, own.y}), lyralink::dialogs::centre_over({100, 100, 800, 600}, {own.width, own.height}));
        key(VK_ESCAPE);
      }},
      "", nullptr, kLineCount, owner.window);
  EXPECT_TRUE(IsWindowEnabled(owner.window));
}

// The top-level windows of this process that are visible and untitled.
std::vector<HWND> untitled_windows() {
  std::vector<HWND> found;
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w) && GetWindowTextLengthA(w) == 0)
          reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Pixels of a window's client area that are not its face colour: what its
// painting drew (nothing has been dispatched to it).
int ink(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  HDC dc = GetDC(w);
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  int n = 0;
  for (int y = 0; y < r.bottom; ++y)
    for (int x = 0; x < r.right; ++x)
      if (GetPixel(dc, x, y) != face) ++n;
  ReleaseDC(w, dc);
  return n;
}

TEST_F(Win32Windows, WaitWindowIsPaintedCentredAndReplacedByTheNextOne) {
  OwnerWindow owner({100, 100, 800, 600});
  api().show_wait_window(owner.window, "Detecting MCA's ...");
  std::vector<HWND> shown = untitled_windows();
  ASSERT_EQ(shown.size(), 1u);
  HWND wait = shown[0];
  EXPECT_TRUE(GetWindowLongA(wait, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) << "no task-bar button";
  EXPECT_FALSE(GetWindowLongA(wait, GWL_STYLE) & WS_CAPTION);
  EXPECT_EQ(text_of(GetDlgItem(wait, 1005)), "Detecting MCA's ...");
  Rect own = rect_of(wait);
  EXPECT_EQ((Point{own.x, own.y}), lyralink::dialogs::centre_over({100, 100, 800, 600}, {own.width, own.height}));
  EXPECT_GT(ink(GetDlgItem(wait, 1005)), 0) << "the message was not painted before the call returned";
  expect_texts_fit(wait);

  // The longest message, without an owner: over the full-screen area.
  api().show_wait_window(nullptr, "The baudrate is being adjusted.");
  EXPECT_FALSE(IsWindow(wait)) << "the first window stays";
  shown = untitled_windows();
  ASSERT_EQ(shown.size(), 1u);
  own = rect_of(shown[0]);
  EXPECT_EQ((Point{own.x, own.y}),
            lyralink::dialogs::centre_on_screen(
                {0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)}, {own.width, own.height}));
  expect_texts_fit(shown[0]);
  api().close_wait_window();
  EXPECT_TRUE(untitled_windows().empty());
  api().close_wait_window();  // closing twice is harmless
}

// The pixels of a splash picture that the window's client area shows
// otherwise, from row `from_row` down (within the window).
int differing_pixels(HWND window, lyralink::dialogs::SplashPicture picture, int from_row = 0) {
  HBITMAP bitmap = lyralink::platform::win32::splash_bitmap(picture);
  if (bitmap == nullptr) return -1;
  BITMAP size{};
  GetObjectA(bitmap, sizeof size, &size);
  RECT client{};
  GetClientRect(window, &client);
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  int differing = 0;
  for (int y = from_row; y < std::min<int>(size.bmHeight, client.bottom); ++y)
    for (int x = 0; x < std::min<int>(size.bmWidth, client.right); ++x)
      if (GetPixel(memory, x, y) != GetPixel(screen, x, y)) ++differing;
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  DeleteObject(bitmap);
  return differing;
}

TEST_F(Win32Windows, SplashWindowShowsItsLastBannerAfterTheCall) {
  api().show_splash_window();
  std::vector<HWND> shown = untitled_windows();
  ASSERT_EQ(shown.size(), 1u);
  HWND splash = shown[0];
  Rect r = rect_of(splash);
  EXPECT_EQ((Size{r.width, r.height}), lyralink::dialogs::kSplashSize);
  EXPECT_EQ((Point{r.x, r.y}), lyralink::dialogs::splash_position(
                                   {0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)}));
  EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  // On the screen: the second banner in the top-left corner (red text),
  // the product picture around it, though nothing was dispatched.
  EXPECT_EQ(differing_pixels(splash, lyralink::dialogs::SplashPicture::wait_banner), 0);
  EXPECT_GT(differing_pixels(splash, lyralink::dialogs::SplashPicture::detecting_banner), 100);
  EXPECT_EQ(differing_pixels(splash, lyralink::dialogs::SplashPicture::product, 25), 0);
  HDC dc = GetDC(splash);
  int red = 0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 250; ++x)
      if (GetPixel(dc, x, y) == RGB(255, 0, 0)) ++red;
  ReleaseDC(splash, dc);
  EXPECT_GT(red, 50);
  api().close_splash_window();
  EXPECT_FALSE(IsWindow(splash));
  // One window object for the process: it can be shown again.
  api().show_splash_window();
  EXPECT_EQ(untitled_windows().size(), 1u);
  api().close_splash_window();
  EXPECT_TRUE(untitled_windows().empty());
}

// ---- the head selection dialog and the message box ----

TEST_F(Win32Windows, HeadSelectionStoresTheAddressWithoutInUse) {
  const char* heads[] = {"Trebla#00042 on 192.168.10.57 (in use)", "Trebla#00007 on 192.168.10.63"};
  char address[LYRALINK_SPECIAL_IP_SIZE] = "unchanged";
  int32_t result = drive({[&heads](HWND d) {
                           char title[64] = {};
                           GetWindowTextA(d, title, sizeof title);
                           EXPECT_STREQ(title, "Detected measuring heads");
                           EXPECT_FALSE(GetWindowLongA(d, GWL_STYLE) & WS_SYSMENU) << "no close box";
                           EXPECT_EQ(lines_of(GetDlgItem(d, 1002)), (std::vector<std::string>{heads[1], heads[0]}));
                           EXPECT_EQ(focused_id(d), 1);
                           expect_texts_fit(d);
                           SendMessageA(GetDlgItem(d, 1002), LB_SETCURSEL, 1, 0);
                           key(VK_RETURN);
                         }},
                         [&] { return api().run_head_selection_dialog(nullptr, heads, 2, address); });
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(address, "192.168.10.57");

  const char* analysers[] = {"MCA-740#00317 on 192.168.10.41", "MCA-740#00204 on 192.168.10.57 (in use)"};
  lstrcpynA(address, "unchanged", sizeof address);
  result = drive({[](HWND d) {
                   char title[64] = {};
                   GetWindowTextA(d, title, sizeof title);
                   EXPECT_STREQ(title, "Detected Lyra's");
                   key(VK_ESCAPE);
                 }},
                 [&] { return api().run_head_selection_dialog(nullptr, analysers, 2, address); });
  EXPECT_EQ(result, 2);
  EXPECT_STREQ(address, "unchanged") << "written only when confirmed";
}

TEST_F(Win32Windows, MessageBoxIsTheSystemsWithItsOwnButton) {
  drive({[](HWND box) {
          char title[64] = {};
          GetWindowTextA(box, title, sizeof title);
          EXPECT_STREQ(title, "MCA Communication");
          bool text = false;
          bool icon = false;
          for (HWND w = GetWindow(box, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
            text = text || text_of(w) == "No Lyra's detected.";
            icon = icon || (class_of(w) == "Static" && (GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON);
          }
          EXPECT_TRUE(text);
          EXPECT_TRUE(icon) << "the information icon";
          EXPECT_EQ(text_of(GetDlgItem(box, IDOK)), "OK");
          click(box, IDOK);
        }},
        [] {
          api().message_box(nullptr, "No Lyra's detected.", "MCA Communication");
          return 0;
        });
}

// ---- without a display ----

TEST(NoDisplay, NothingIsShownAndEveryDialogCountsAsCancelled) {
  ASSERT_NE(lyralink::platform::built_in_windows(), nullptr);
  ASSERT_EQ(api().start(), 0) << "windows could be shown: run without an X server";
  char ip[LYRALINK_SPECIAL_IP_SIZE] = "10.0.0.25";
  EXPECT_EQ(api().run_selection_dialog(nullptr, kLines, kLineCount, ip), -2);
  EXPECT_STREQ(ip, "10.0.0.25");
  const char* heads[] = {"Trebla#00007 on 192.168.10.63"};
  char address[LYRALINK_SPECIAL_IP_SIZE] = "";
  EXPECT_EQ(api().run_head_selection_dialog(nullptr, heads, 1, address), 2);
  EXPECT_STREQ(address, "");
  // The informing windows and the message box return at once.
  api().show_wait_window(nullptr, "Detecting MCA's ...");
  api().close_wait_window();
  api().show_splash_window();
  api().close_splash_window();
  api().message_box(nullptr, "No Lyra's detected.", "MCA Communication");
  api().repaint_window(nullptr);
}

}  // namespace
