// SPDX-License-Identifier: LGPL-2.1-or-later
// The library's windows on Windows: the table of
// lyralink/dialogs/dialogs_api.h with Win32 dialogs from in-memory
// templates, built into lyralink.dll. The dialogs run their modal loops in
// the calling thread; what they show and hand back is decided by the
// shared rules (SelectionRules, HeadSelectionRules, IpAddressModel), the
// same the Qt module on Linux uses.
//
// Every entry catches everything: no exception reaches the library.
#include <windows.h>
#include <commctrl.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lyralink/dialogs/dialog_template.h"
#include "lyralink/dialogs/dialogs_api.h"
#include "lyralink/dialogs/selection_rules.h"
#include "platform/built_in_windows.h"
#include "platform/win32/dialog_support_win32.h"
#include "platform/win32/info_windows_win32.h"

namespace lyralink::platform::win32 {

namespace {

using dialogs::DialogTemplate;
using dialogs::TemplateItem;

// A line text is at most 59 characters; the bound only guards against a
// text without its terminating zero.
constexpr size_t kTextBound = 256;
constexpr uint32_t kLineBound = 4096;

// Control ids of the templates.
constexpr int kSpecialIpBox = 1008;
constexpr int kSpecialIpAddress = 1007;
constexpr int kRedetectButton = 3;
constexpr int kApplicableList = 1003;
constexpr int kInapplicableList = 1004;
constexpr int kHeadList = 1002;

// The fourth field of the special IP: neither a network nor a broadcast
// address.
constexpr unsigned kFourthLow = 1;
constexpr unsigned kFourthHigh = 254;

// The lists' tab stops, in dialog units.
const std::vector<int> kListTabStops{115, 160};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kListStyle =
    kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_SORT | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT;

TemplateItem control(int id, DWORD style, dialogs::Rect units, uint16_t atom, const char* text = "") {
  TemplateItem item;
  item.id = static_cast<uint32_t>(id);
  item.style = style;
  item.units = units;
  item.class_atom = atom;
  item.text = text;
  return item;
}

TemplateItem label(DWORD style, dialogs::Rect units, const char* text) {
  return control(-1, kChild | style, units, dialogs::kStaticClass, text);
}

// Template 1002: the selection dialog, its controls in tab order.
const DialogTemplate& selection_template() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    d.units = {0, 0, 214, 172};
    d.title = dialogs::kSelectionTitle;
    d.point_size = 8;
    d.font = "MS Sans Serif";
    TemplateItem address;
    address.id = kSpecialIpAddress;
    address.style = kChild | WS_TABSTOP;
    address.units = {145, 135, 65, 12};
    address.class_name = WC_IPADDRESSA;
    d.items = {
        control(kSpecialIpBox, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, {5, 136, 135, 10}, dialogs::kButtonClass,
                "Include this special IP in redetection:"),
        address,
        // Select starts disabled: the first applicable line enables it.
        control(IDOK, kChild | WS_TABSTOP | WS_DISABLED | BS_DEFPUSHBUTTON, {5, 155, 65, 14}, dialogs::kButtonClass,
                "Select"),
        control(kRedetectButton, kChild | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, {75, 155, 65, 14},
                dialogs::kButtonClass, "Redetect"),
        control(IDCANCEL, kChild | WS_TABSTOP | BS_PUSHBUTTON, {145, 155, 65, 14}, dialogs::kButtonClass, "Cancel"),
        control(kApplicableList, kListStyle, {5, 15, 205, 45}, dialogs::kListBoxClass),
        control(kInapplicableList, kListStyle | LBS_NOSEL, {5, 85, 205, 45}, dialogs::kListBoxClass),
        label(SS_LEFT | WS_GROUP, {5, 5, 205, 10}, "Applicable Lyra's"),
        label(SS_LEFT | WS_GROUP, {5, 65, 205, 20},
              "Inapplicable Lyra's (because of wrong device type, obsolete firmware version, current use by "
              "another application or other reasons)"),
    };
    return d;
  }();
  return t;
}

// Template 1001: the head selection dialog (a caption without a system
// menu, so no close box).
const DialogTemplate& head_template() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    d.units = {0, 0, 150, 82};
    d.title = dialogs::kSelectionTitle;
    d.point_size = 8;
    d.font = "MS Sans Serif";
    d.items = {
        control(IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, {23, 65, 50, 14}, dialogs::kButtonClass, "OK"),
        control(IDCANCEL, kChild | WS_TABSTOP | BS_PUSHBUTTON, {78, 65, 50, 14}, dialogs::kButtonClass, "Cancel"),
        control(kHeadList, kListStyle, {5, 5, 140, 55}, dialogs::kListBoxClass),
    };
    return d;
  }();
  return t;
}

// Where each list of a template stands among its items.
std::vector<size_t> list_items(const DialogTemplate& t) {
  std::vector<size_t> at;
  for (size_t i = 0; i < t.items.size(); ++i)
    if (t.items[i].class_atom == dialogs::kListBoxClass) at.push_back(i);
  return at;
}

// Sets the lists' tab stops and lays the dialog out so that their lines
// and every text show whole, then centres it.
void fit_and_centre(HWND dialog, const DialogTemplate& t, const std::vector<int>& stops) {
  std::vector<HWND> children = template_children(dialog);
  std::vector<size_t> at = list_items(t);
  std::vector<HWND> lists;
  for (size_t i : at)
    if (i < children.size()) lists.push_back(children[i]);
  std::vector<int> needed = share_tab_stops(lists, stops, dialog_base_units(dialog));
  std::vector<int> min_widths(t.items.size(), 0);
  for (size_t k = 0; k < lists.size(); ++k) min_widths[at[k]] = needed[k];
  fit_template(dialog, t, children, min_widths);
  centre_window(dialog, GetWindow(dialog, GW_OWNER));
}

void add_lines(HWND list, const std::vector<std::string>& texts) {
  for (const std::string& text : texts) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::optional<std::string> selected_line(HWND list) {
  LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (index == LB_ERR || index < 0) return std::nullopt;
  return list_line(list, static_cast<int>(index));
}

// ---- the selection dialog ----

struct SelectionRun {
  dialogs::SelectionRules rules;
  std::string special_ip;
  int32_t outcome = dialogs::kSelectionCancel;
};

void sync_enabled(HWND dialog, const dialogs::SelectionRules& rules) {
  EnableWindow(GetDlgItem(dialog, IDOK), rules.select_enabled() ? TRUE : FALSE);
  EnableWindow(GetDlgItem(dialog, kApplicableList), rules.applicable_list_enabled() ? TRUE : FALSE);
  EnableWindow(GetDlgItem(dialog, kSpecialIpAddress), rules.ip_control_enabled() ? TRUE : FALSE);
}

void init_selection(HWND dialog, SelectionRun& run) {
  HWND upper = GetDlgItem(dialog, kApplicableList);
  add_lines(upper, run.rules.applicable_list());
  add_lines(GetDlgItem(dialog, kInapplicableList), run.rules.inapplicable_list());
  if (!run.rules.applicable_list().empty()) SendMessageA(upper, LB_SETCURSEL, 0, 0);
  HWND address = GetDlgItem(dialog, kSpecialIpAddress);
  SendMessageA(address, IPM_SETRANGE, 3, MAKEIPRANGE(kFourthLow, kFourthHigh));
  set_address_text(address, run.special_ip, kFourthLow, kFourthHigh);
  sync_enabled(dialog, run.rules);
  fit_and_centre(dialog, selection_template(), kListTabStops);
}

void selection_command(HWND dialog, SelectionRun& run, int id, int code) {
  if (id == IDOK || (id == kApplicableList && code == LBN_DBLCLK)) {
    // Confirm: the device-list index of the selected upper line; nothing
    // when the rules say confirming has no effect.
    if (auto index = run.rules.confirm(selected_line(GetDlgItem(dialog, kApplicableList)))) {
      run.outcome = *index;
      EndDialog(dialog, IDOK);
    }
  } else if (id == kRedetectButton && code == BN_CLICKED) {
    run.special_ip = run.rules.redetect(address_text(GetDlgItem(dialog, kSpecialIpAddress), kFourthLow, kFourthHigh));
    run.outcome = dialogs::kSelectionRedetect;
    EndDialog(dialog, IDOK);
  } else if (id == IDCANCEL) {
    // Button 2, Escape and the close box alike.
    run.outcome = dialogs::kSelectionCancel;
    EndDialog(dialog, IDCANCEL);
  } else if (id == kSpecialIpBox && code == BN_CLICKED) {
    bool ticked = IsDlgButtonChecked(dialog, kSpecialIpBox) == BST_CHECKED;
    bool focus_address = run.rules.box_clicked(ticked);
    sync_enabled(dialog, run.rules);
    if (focus_address)
      SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kSpecialIpAddress)), TRUE);
  }
}

// The selection dialog running on this thread, for the Enter filter.
thread_local HWND t_selection_dialog = nullptr;

// Enter on a control that is not a push button presses the default button
// (Select), as in every dialog. The dialog manager would look the default
// button up by its id among all the dialog's descendants, and the
// IP-address control's own edit fields carry id 1 as well (Wine's do): while
// that control is disabled the look-up ends on a disabled field and Enter
// does nothing. So the dialog's loop hands Enter to this filter first.
LRESULT CALLBACK enter_filter(int code, WPARAM wparam, LPARAM lparam) {
  HWND dialog = t_selection_dialog;
  const MSG* m = reinterpret_cast<const MSG*>(lparam);
  if (code == MSGF_DIALOGBOX && dialog != nullptr && m != nullptr && m->message == WM_KEYDOWN &&
      m->wParam == VK_RETURN && (m->hwnd == dialog || IsChild(dialog, m->hwnd))) {
    auto wants = SendMessageA(m->hwnd, WM_GETDLGCODE, m->wParam, lparam);
    if ((wants & (DLGC_WANTMESSAGE | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) == 0) {
      HWND select = GetDlgItem(dialog, IDOK);
      if (select != nullptr && IsWindowEnabled(select))
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(select));
      return TRUE;
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

INT_PTR CALLBACK selection_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    t_selection_dialog = dialog;
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    init_selection(dialog, *reinterpret_cast<SelectionRun*>(lparam));
    return TRUE;  // the focus goes to the first control of the tab order
  }
  auto* run = reinterpret_cast<SelectionRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (run == nullptr) return FALSE;
  if (message == WM_COMMAND) {
    selection_command(dialog, *run, LOWORD(wparam), HIWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

// ---- the head selection dialog ----

struct HeadRun {
  dialogs::HeadSelectionRules rules;
  std::string address;
};

INT_PTR CALLBACK head_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    auto& run = *reinterpret_cast<HeadRun*>(lparam);
    HWND list = GetDlgItem(dialog, kHeadList);
    add_lines(list, run.rules.list());
    if (!run.rules.list().empty()) SendMessageA(list, LB_SETCURSEL, 0, 0);
    SetWindowTextA(dialog, run.rules.title().c_str());
    fit_and_centre(dialog, head_template(), {});
    return TRUE;
  }
  auto* run = reinterpret_cast<HeadRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (run == nullptr || message != WM_COMMAND) return FALSE;
  int id = LOWORD(wparam);
  int code = HIWORD(wparam);
  if (id == IDOK || (id == kHeadList && code == LBN_DBLCLK)) {
    if (auto address = run->rules.confirm(selected_line(GetDlgItem(dialog, kHeadList)))) {
      run->address = *address;
      EndDialog(dialog, dialogs::kHeadOk);
    }
  } else if (id == IDCANCEL) {
    EndDialog(dialog, dialogs::kHeadCancel);
  }
  return TRUE;
}

// ---- whether windows can be shown ----

// A process can show windows when its window station is the interactive
// one (a service's or a scheduled task's is not: a dialog there would wait
// for a click nobody can give) and a window can be created on its desktop
// (under Wine without an X server the display driver does not load and
// creating a window fails).
bool session_shows_windows() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  HWINSTA station = GetProcessWindowStation();
  if (station != nullptr && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed) != 0 &&
      (flags.dwFlags & WSF_VISIBLE) == 0)
    return false;
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, library_instance(), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

bool windows_usable() {
  static std::once_flag once;
  static bool usable = false;
  std::call_once(once, [] {
    usable = session_shows_windows();
    if (usable) {
      // The IP-address control's class lives in the common controls.
      INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_INTERNET_CLASSES | ICC_STANDARD_CLASSES};
      InitCommonControlsEx(&classes);
    }
  });
  return usable;
}

// ---- the table ----

int32_t start() noexcept {
  try {
    return windows_usable() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t run_selection(void* owner, const lyralink_dialog_line* lines, uint32_t count, char* special_ip) noexcept {
  try {
    std::vector<dialogs::DeviceLine> device_lines;
    if (lines != nullptr) {
      for (uint32_t i = 0; i < std::min(count, kLineBound); ++i)
        device_lines.push_back({bounded(lines[i].text, kTextBound), lines[i].applicable != 0});
    }
    std::string ip = bounded(special_ip, LYRALINK_SPECIAL_IP_SIZE - 1);
    SelectionRun run{dialogs::SelectionRules(std::move(device_lines), ip), ip};
    if (windows_usable()) {
      std::vector<uint8_t> bytes = dialogs::template_bytes(selection_template());
      HHOOK filter = SetWindowsHookExA(WH_MSGFILTER, enter_filter, nullptr, GetCurrentThreadId());
      INT_PTR ended = DialogBoxIndirectParamA(library_instance(), reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                              live_window(owner), selection_proc, reinterpret_cast<LPARAM>(&run));
      if (filter != nullptr) UnhookWindowsHookEx(filter);
      t_selection_dialog = nullptr;
      // A dialog that could not be created counts as cancelled.
      if (ended == -1 || ended == 0) run.outcome = dialogs::kSelectionCancel;
    }
    copy_out(special_ip, LYRALINK_SPECIAL_IP_SIZE, run.special_ip);
    return run.outcome;
  } catch (...) {
    return dialogs::kSelectionCancel;
  }
}

int32_t run_head_selection(void* owner, const char* const* texts, uint32_t count, char* address) noexcept {
  try {
    std::vector<std::string> lines;
    if (texts != nullptr) {
      for (uint32_t i = 0; i < std::min(count, kLineBound); ++i) lines.push_back(bounded(texts[i], kTextBound));
    }
    HeadRun run{dialogs::HeadSelectionRules(std::move(lines)), ""};
    if (!windows_usable()) return dialogs::kHeadCancel;
    std::vector<uint8_t> bytes = dialogs::template_bytes(head_template());
    INT_PTR ended = DialogBoxIndirectParamA(library_instance(), reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                            live_window(owner), head_proc, reinterpret_cast<LPARAM>(&run));
    if (ended != dialogs::kHeadOk) return dialogs::kHeadCancel;
    copy_out(address, LYRALINK_SPECIAL_IP_SIZE, run.address);
    return dialogs::kHeadOk;
  } catch (...) {
    return dialogs::kHeadCancel;
  }
}

void show_wait(void* owner, const char* message) noexcept {
  try {
    if (windows_usable()) show_wait_window(live_window(owner), bounded(message, kTextBound));
  } catch (...) {
  }
}

void close_wait() noexcept {
  try {
    close_wait_window();
  } catch (...) {
  }
}

void show_splash() noexcept {
  try {
    if (windows_usable()) show_splash_window();
  } catch (...) {
  }
}

void close_splash() noexcept {
  try {
    close_splash_window();
  } catch (...) {
  }
}

void message_box(void* owner, const char* text, const char* caption) noexcept {
  try {
    if (!windows_usable()) return;
    // The system's own box, with its own button text.
    MessageBoxA(live_window(owner), bounded(text, kTextBound).c_str(), bounded(caption, kTextBound).c_str(),
                MB_OK | MB_ICONINFORMATION);
  } catch (...) {
  }
}

void repaint_window(void* owner) noexcept {
  try {
    HWND window = live_window(owner);
    if (window == nullptr) return;
    // Painting now means sending WM_PAINT; to a window of a thread that is
    // not running its loop that would wait for it, so such a window is
    // only marked for painting.
    UINT flags = RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) flags |= RDW_UPDATENOW;
    RedrawWindow(window, nullptr, nullptr, flags);
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

}  // namespace lyralink::platform::win32

namespace lyralink::platform {

const lyralink_dialogs_api* built_in_windows() { return &win32::kApi; }

}  // namespace lyralink::platform
