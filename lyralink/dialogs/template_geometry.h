/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Geometry of the library's windows: dialog units, the layout of a dialog
// template on a desktop whose fonts and controls are larger than the ones
// the templates were drawn for, the tab columns of the lists, and where the
// wait window and the splash window go.
#include <functional>
#include <string>
#include <vector>

namespace lyralink::dialogs {

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool operator==(const Rect&) const = default;
};

// The letters whose mean width is a font's average character width.
inline constexpr char kAverageWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Dialog base units of a font: the average character width (rounded, from
// the width of the 52 letters above) and the character height. A dialog
// unit is a quarter of the first horizontally, an eighth of the second
// vertically.
struct BaseUnits {
  int x = 0;
  int y = 0;
};
BaseUnits base_units(int sample_width, int char_height);

// A control of a dialog template with what it needs on this desktop.
struct TemplateControl {
  Rect units;                 // position and size in dialog units
  int min_width = 0;          // pixels its text (and indicator) needs in one line
  int min_height = 0;         // pixels: the platform's height for the control
  // For text that wraps: the pixels of height it needs at a width.
  std::function<int(int)> height_for_width;
};

struct TemplateLayout {
  Size size;                  // the dialog's client area in pixels
  std::vector<Rect> controls; // in the order given
  double unit_x = 0;          // pixels per horizontal dialog unit used
  double unit_y = 0;          // pixels per vertical dialog unit
};

// Lays out a template of `size_units` dialog units with the base units of
// its font. The horizontal unit is widened, uniformly, until every control
// gets its min_width (so the template's columns stay aligned); then every
// control that needs more height grows, and whatever lies below it (and
// the dialog's bottom edge) moves down by as much. Controls side by side
// grow together: the row below moves by the largest growth, not the sum.
TemplateLayout lay_out_template(Size size_units, BaseUnits units, const std::vector<TemplateControl>& controls);

// The x positions of the tab columns of a list, shared by every line, so
// that columns line up: column k starts at the k-th tab stop, or further
// right when some line's column k-1 reaches past it (then `gap` pixels
// after the widest). `segment_widths[line]` are the widths of the line's
// tab-separated pieces. Columns past the given stops continue at the
// distance between the last two stops (or `default_spacing` with fewer
// than two). Column 0 starts at 0.
std::vector<int> tab_columns(const std::vector<std::vector<int>>& segment_widths, const std::vector<int>& stops,
                             int gap, int default_spacing);

// Splits a list text at its tabs.
std::vector<std::string> tab_segments(const std::string& text);

// The wait window centred over its parent's screen rectangle: left =
// (parent left + parent right - own width) / 2, top likewise, halves
// rounded toward zero.
Point centre_over(const Rect& parent, Size own);
// Without a parent: centred in the screen's area for windows (the
// full-screen client area).
Point centre_on_screen(const Rect& available, Size own);

// The splash window: 370 x 240 pixels at half the screen's client width
// less 185 and half its height less 120.
inline constexpr Size kSplashSize{370, 240};
inline constexpr Size kBannerSize{250, 25};
Point splash_position(const Rect& available);

// The splash window's pictures and when each is drawn, in milliseconds
// after the window is shown.
enum class SplashPicture { product = 1005, detecting_banner = 1009, wait_banner = 1004 };
struct SplashStep {
  int at_ms;
  SplashPicture picture;
};
inline constexpr SplashStep kSplashSchedule[] = {
    {0, SplashPicture::product}, {1000, SplashPicture::detecting_banner}, {3000, SplashPicture::wait_banner}};

}  // namespace lyralink::dialogs
