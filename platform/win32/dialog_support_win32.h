/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What the Win32 windows of the library share: the library's own module
// (the dialogs are its resources), the owner check, text measurement with
// a window's font, fitting a template's controls to their texts on this
// desktop, the lists' tab columns and the IP-address control's text.
// Internal to platform/win32/.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lyralink/dialogs/dialog_template.h"
#include "lyralink/dialogs/template_geometry.h"

namespace lyralink::platform::win32 {

// lyralink.dll's module handle (the program's, in a program that links the
// windows statically).
HINSTANCE library_instance();

// `owner` as a window when it names a live window, null otherwise (the
// library's callers hand in their own window or null; anything else counts
// as no owner).
HWND live_window(void* owner);

// The 8-bit text at `text`, at most `bound` bytes; "" for null.
std::string bounded(const char* text, size_t bound);
// Copies `text` into `out` (size bytes, zero-terminated, cut when longer).
void copy_out(char* out, size_t size, const std::string& text);

// Measures texts in the font of a window (the font the dialog manager gave
// its controls).
class TextMeter {
 public:
  explicit TextMeter(HWND window);
  ~TextMeter();
  TextMeter(const TextMeter&) = delete;
  TextMeter& operator=(const TextMeter&) = delete;
  int width(const std::string& text) const;
  // The height of `text` wrapped at `width` pixels as a static control
  // wraps it.
  int wrapped_height(const std::string& text, int width) const;

 private:
  HWND window_;
  HDC dc_;
  HGDIOBJ old_font_;
};

// The dialog's base units: what the dialog manager converted its template
// with (the font's average character width and height).
dialogs::BaseUnits dialog_base_units(HWND dialog);

// The children of a dialog in template order (the dialog manager creates
// them in that order, and keeps it as the tab order).
std::vector<HWND> template_children(HWND dialog);

// Sets the tab stops of `lists` (list boxes with tab stops in their text)
// so that the columns of all their lines line up: at `stops_units` dialog
// units, or further right where a line's text reaches past a stop. Returns
// the pixel width each list needs to show its widest line whole.
std::vector<int> share_tab_stops(const std::vector<HWND>& lists, const std::vector<int>& stops_units,
                                 dialogs::BaseUnits base);

// Lays out the template's controls (`children` in template order) on this
// desktop: where a text needs more room than the template gives (a font
// wider than the template's), the dialog widens evenly, wrapped texts grow
// and push what lies below; then resizes the dialog to match.
// `min_widths[i]` (pixels, 0 for none) adds a need of control i (a list's
// widest line). Returns the layout in client pixels.
dialogs::TemplateLayout fit_template(HWND dialog, const dialogs::DialogTemplate& dialog_template,
                                     const std::vector<HWND>& children, const std::vector<int>& min_widths);

// The screen's rectangle for centring windows that have no owner (the
// full-screen client area).
dialogs::Rect full_screen_area();
// A window's rectangle on the screen.
dialogs::Rect window_rect(HWND window);
// Moves `window` to the top of the z-order at `at`, keeping its size.
void move_to_top(HWND window, dialogs::Point at);
// Centres `window` over `owner`'s rectangle, or over the full-screen client
// area without one.
void centre_window(HWND window, HWND owner);

// The IP-address control's text: "a.b.c.d", blank fields empty. Setting
// brings values into the control's ranges (the fourth field of the
// selection dialog: 1..254); reading gives "%u.%u.%u.%u" with blank fields
// as 0.
void set_address_text(HWND control, const std::string& text, unsigned fourth_low, unsigned fourth_high);
std::string address_text(HWND control, unsigned fourth_low, unsigned fourth_high);

// A list box line's text.
std::string list_line(HWND list, int index);

}  // namespace lyralink::platform::win32
