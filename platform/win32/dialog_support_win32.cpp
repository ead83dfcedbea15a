// SPDX-License-Identifier: LGPL-2.1-or-later
#include "platform/win32/dialog_support_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "lyralink/dialogs/ip_address_model.h"

namespace lyralink::platform::win32 {

namespace {

// Pixels around a list line's text: the list's border on each side and the
// gap before the text.
constexpr int kListTextMargin = 4;

int list_text_margin() { return kListTextMargin + 2 * GetSystemMetrics(SM_CXBORDER) + GetSystemMetrics(SM_CXVSCROLL); }

// A list's tab stops in pixels, as the list box converts them: dialog
// units of its font, a quarter of the average character each.
int stop_pixels(int units, dialogs::BaseUnits base) { return MulDiv(units, base.x, 4); }
// The stop in dialog units that lies at or right of `pixels`.
int stop_units_at(int pixels, dialogs::BaseUnits base) { return (pixels * 4 + base.x - 1) / base.x; }

// What a control needs beyond its template rectangle.
dialogs::TemplateControl control_need(HWND child, const dialogs::TemplateItem& item, const TextMeter& meter,
                                      dialogs::BaseUnits base, int min_width) {
  dialogs::TemplateControl need;
  need.units = item.units;
  need.min_width = min_width;
  char text[512] = {};
  GetWindowTextA(child, text, sizeof text);
  const std::string label(text);
  if (item.class_atom == dialogs::kButtonClass) {
    const uint32_t type = item.style & BS_TYPEMASK;
    if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
      // The box, half a character of gap, the text.
      need.min_width = std::max(need.min_width, GetSystemMetrics(SM_CXMENUCHECK) + base.x / 2 + meter.width(label) + 2);
    } else {
      // A push button keeps a character's margin on each side of its text.
      need.min_width = std::max(need.min_width, meter.width(label) + 2 * base.x);
    }
  } else if (item.class_atom == dialogs::kStaticClass && !label.empty()) {
    // A static of two lines or more in the template wraps its text; one of
    // a single line must show it in that line.
    if (item.units.height >= 16) {
      need.height_for_width = [&meter, label](int width) { return meter.wrapped_height(label, width); };
    } else {
      need.min_width = std::max(need.min_width, meter.width(label) + 2);
    }
  }
  return need;
}

// The four edit fields of an IP-address control, left to right; empty when
// the control does not have exactly four.
std::vector<HWND> address_fields(HWND control) {
  std::vector<HWND> fields;
  for (HWND child = GetWindow(control, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    fields.push_back(child);
  if (fields.size() != dialogs::IpAddressModel::kFields) return {};
  std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
    RECT ra{};
    RECT rb{};
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.left < rb.left;
  });
  return fields;
}

}  // namespace

HINSTANCE library_instance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&library_instance), &module);
  return module;
}

HWND live_window(void* owner) {
  HWND window = static_cast<HWND>(owner);
  return owner != nullptr && IsWindow(window) ? window : nullptr;
}

std::string bounded(const char* text, size_t bound) {
  if (text == nullptr) return "";
  return std::string(text, strnlen(text, bound));
}

void copy_out(char* out, size_t size, const std::string& text) {
  if (out == nullptr || size == 0) return;
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

TextMeter::TextMeter(HWND window) : window_(window), dc_(GetDC(window)), old_font_(nullptr) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
  if (dc_ != nullptr && font != nullptr) old_font_ = SelectObject(dc_, font);
}

TextMeter::~TextMeter() {
  if (dc_ == nullptr) return;
  if (old_font_ != nullptr) SelectObject(dc_, old_font_);
  ReleaseDC(window_, dc_);
}

int TextMeter::width(const std::string& text) const {
  SIZE size{};
  if (dc_ == nullptr || text.empty()) return 0;
  GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

int TextMeter::wrapped_height(const std::string& text, int width) const {
  if (dc_ == nullptr) return 0;
  RECT r{0, 0, width, 0};
  DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_LEFT);
  return r.bottom - r.top;
}

dialogs::BaseUnits dialog_base_units(HWND dialog) {
  RECT r{0, 0, 4, 8};
  MapDialogRect(dialog, &r);
  return {r.right, r.bottom};
}

std::vector<HWND> template_children(HWND dialog) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

std::vector<int> share_tab_stops(const std::vector<HWND>& lists, const std::vector<int>& stops_units,
                                 dialogs::BaseUnits base) {
  std::vector<int> needed(lists.size(), 0);
  if (lists.empty() || base.x <= 0) return needed;
  // Every line of every list as the widths of its tab-separated pieces.
  std::vector<std::vector<std::vector<int>>> pieces(lists.size());
  std::vector<std::vector<int>> all;
  for (size_t l = 0; l < lists.size(); ++l) {
    TextMeter meter(lists[l]);
    int count = static_cast<int>(SendMessageA(lists[l], LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::vector<int> widths;
      for (const std::string& piece : dialogs::tab_segments(list_line(lists[l], i)))
        widths.push_back(meter.width(piece));
      pieces[l].push_back(widths);
      all.push_back(std::move(widths));
    }
  }
  std::vector<int> stops;
  for (int s : stops_units) stops.push_back(stop_pixels(s, base));
  // Without stops of their own, a list box puts them every 32 units.
  const int default_spacing = stop_pixels(32, base);
  int gap = 0;
  {
    TextMeter meter(lists.front());
    gap = meter.width(" ");
  }
  std::vector<int> columns = dialogs::tab_columns(all, stops, gap, default_spacing);
  // Column 0 is the line's start; the list box takes the others as its
  // stops, in dialog units, rounded right, and converts them back.
  std::vector<INT> units;
  std::vector<int> at{0};
  for (size_t k = 1; k < columns.size(); ++k) {
    units.push_back(stop_units_at(columns[k], base));
    at.push_back(stop_pixels(units.back(), base));
  }
  for (size_t l = 0; l < lists.size(); ++l) {
    if (!units.empty()) SendMessageA(lists[l], LB_SETTABSTOPS, units.size(), reinterpret_cast<LPARAM>(units.data()));
    int widest = 0;
    for (const auto& line : pieces[l]) widest = std::max(widest, at[line.size() - 1] + line.back());
    needed[l] = widest > 0 ? widest + list_text_margin() : 0;
  }
  return needed;
}

dialogs::TemplateLayout fit_template(HWND dialog, const dialogs::DialogTemplate& dialog_template,
                                     const std::vector<HWND>& children, const std::vector<int>& min_widths) {
  const dialogs::BaseUnits base = dialog_base_units(dialog);
  TextMeter meter(dialog);
  std::vector<dialogs::TemplateControl> needs;
  const size_t n = std::min(children.size(), dialog_template.items.size());
  for (size_t i = 0; i < n; ++i) {
    int min_width = i < min_widths.size() ? min_widths[i] : 0;
    needs.push_back(control_need(children[i], dialog_template.items[i], meter, base, min_width));
  }
  dialogs::TemplateLayout layout =
      dialogs::lay_out_template({dialog_template.units.width, dialog_template.units.height}, base, needs);
  for (size_t i = 0; i < n; ++i) {
    const dialogs::Rect& r = layout.controls[i];
    SetWindowPos(children[i], nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT frame{0, 0, layout.size.width, layout.size.height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return layout;
}

dialogs::Rect full_screen_area() {
  return {0, 0, GetSystemMetrics(SM_CXFULLSCREEN), GetSystemMetrics(SM_CYFULLSCREEN)};
}

dialogs::Rect window_rect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void move_to_top(HWND window, dialogs::Point at) {
  SetWindowPos(window, HWND_TOP, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

void centre_window(HWND window, HWND owner) {
  const dialogs::Rect own = window_rect(window);
  const dialogs::Size size{own.width, own.height};
  move_to_top(window, owner != nullptr ? dialogs::centre_over(window_rect(owner), size)
                                       : dialogs::centre_on_screen(full_screen_area(), size));
}

void set_address_text(HWND control, const std::string& text, unsigned fourth_low, unsigned fourth_high) {
  dialogs::IpAddressModel model;
  model.set_range(3, fourth_low, fourth_high);
  model.set_text(text);
  SendMessageA(control, IPM_CLEARADDRESS, 0, 0);
  if (model.blank()) return;
  bool whole = true;
  for (int f = 0; f < dialogs::IpAddressModel::kFields; ++f) whole = whole && !model.field_text(f).empty();
  if (whole) {
    auto v = model.values();
    SendMessageA(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(v[0], v[1], v[2], v[3])));
    return;
  }
  // Some fields stay blank, which IPM_SETADDRESS cannot say: the fields
  // are the control's own edit controls.
  std::vector<HWND> fields = address_fields(control);
  for (size_t f = 0; f < fields.size(); ++f) SetWindowTextA(fields[f], model.field_text(static_cast<int>(f)).c_str());
}

std::string address_text(HWND control, unsigned fourth_low, unsigned fourth_high) {
  dialogs::IpAddressModel model;
  model.set_range(3, fourth_low, fourth_high);
  std::vector<HWND> fields = address_fields(control);
  if (!fields.empty()) {
    // Field by field, so that a blank field stays blank (reads as 0) and
    // is not brought into its range like a typed 0.
    std::string dotted;
    for (size_t f = 0; f < fields.size(); ++f) {
      char digits[8] = {};
      GetWindowTextA(fields[f], digits, sizeof digits);
      if (f > 0) dotted += '.';
      dotted += digits;
    }
    model.set_text(dotted);
  } else {
    DWORD address = 0;
    SendMessageA(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    model.set_text(std::to_string(FIRST_IPADDRESS(address)) + "." + std::to_string(SECOND_IPADDRESS(address)) + "." +
                   std::to_string(THIRD_IPADDRESS(address)) + "." + std::to_string(FOURTH_IPADDRESS(address)));
  }
  return model.text();
}

std::string list_line(HWND list, int index) {
  LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR || length < 0) return "";
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (got == LB_ERR || got < 0) return "";
  text.resize(static_cast<size_t>(got));
  return text;
}

}  // namespace lyralink::platform::win32
