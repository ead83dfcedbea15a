// SPDX-License-Identifier: LGPL-2.1-or-later
// The splash window's three pictures, drawn with GDI into 16-colour
// bitmaps (the standard 16 colours of a VGA palette): the product picture
// and the two red banners for its top-left corner.
#include <cmath>

#include "platform/win32/info_windows_win32.h"

namespace lyralink::platform::win32 {

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kLime = RGB(0, 255, 0);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// The picture's background, which the banners share.
constexpr COLORREF kBackground = kSilver;

constexpr COLORREF kPalette[16] = {
    RGB(0, 0, 0),       RGB(128, 0, 0),     RGB(0, 128, 0),   RGB(128, 128, 0),
    RGB(0, 0, 128),     RGB(128, 0, 128),   RGB(0, 128, 128), RGB(192, 192, 192),
    RGB(128, 128, 128), RGB(255, 0, 0),     RGB(0, 255, 0),   RGB(255, 255, 0),
    RGB(0, 0, 255),     RGB(255, 0, 255),   RGB(0, 255, 255), RGB(255, 255, 255),
};

// A top-down 4-bit bitmap with the 16 colours, selected into a memory DC
// for drawing.
class Canvas {
 public:
  Canvas(int width, int height) {
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colours[16];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 4;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 16;
    for (int i = 0; i < 16; ++i)
      info.colours[i] = {GetBValue(kPalette[i]), GetGValue(kPalette[i]), GetRValue(kPalette[i]), 0};
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    dc_ = CreateCompatibleDC(nullptr);
    if (bitmap_ != nullptr && dc_ != nullptr) old_ = SelectObject(dc_, bitmap_);
    SetBkMode(dc_, TRANSPARENT);
  }
  ~Canvas() {
    if (dc_ != nullptr) {
      if (old_ != nullptr) SelectObject(dc_, old_);
      DeleteDC(dc_);
    }
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return bitmap_ != nullptr && dc_ != nullptr && old_ != nullptr; }
  HDC dc() const { return dc_; }
  // The bitmap, for the caller to keep and delete.
  HBITMAP release() {
    SelectObject(dc_, old_);
    old_ = nullptr;
    HBITMAP b = bitmap_;
    bitmap_ = nullptr;
    return b;
  }

  void fill(int left, int top, int right, int bottom, COLORREF colour) {
    RECT r{left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc_, &r, brush);
    DeleteObject(brush);
  }
  // A shape outlined in `pen` (width `thick`) and filled with `fill`.
  template <typename Draw>
  void shape(COLORREF pen, int thick, COLORREF fill, Draw draw) {
    HPEN p = CreatePen(PS_SOLID, thick, pen);
    HBRUSH b = CreateSolidBrush(fill);
    HGDIOBJ old_pen = SelectObject(dc_, p);
    HGDIOBJ old_brush = SelectObject(dc_, b);
    draw(dc_);
    SelectObject(dc_, old_pen);
    SelectObject(dc_, old_brush);
    DeleteObject(p);
    DeleteObject(b);
  }
  void text(const char* s, RECT r, int pixels, bool bold, COLORREF colour, UINT align) {
    // Tahoma is there on every Windows and in Wine; without smoothing, as
    // a 16-colour picture has no shades for it.
    HFONT font = CreateFontA(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS,
                             "Tahoma");
    HGDIOBJ old = SelectObject(dc_, font);
    SetTextColor(dc_, colour);
    DrawTextA(dc_, s, -1, &r, align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc_, old);
    DeleteObject(font);
  }

 private:
  HBITMAP bitmap_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

void circle(Canvas& c, int x, int y, int r, COLORREF pen, COLORREF fill) {
  c.shape(pen, 1, fill, [&](HDC dc) { Ellipse(dc, x - r, y - r, x + r + 1, y + r + 1); });
}

// The analyser: a grey case with a dark front panel, a display with a
// spectrum, LEDs and two BNC sockets.
void draw_product(Canvas& c) {
  const auto size = dialogs::kSplashSize;
  c.fill(0, 0, size.width, size.height, kBackground);
  // Floor shadow, case, front panel.
  c.shape(kGrey, 1, kGrey, [](HDC dc) { RoundRect(dc, 52, 58, 334, 200, 20, 20); });
  c.shape(kGrey, 2, kWhite, [](HDC dc) { RoundRect(dc, 44, 50, 326, 192, 20, 20); });
  c.shape(kBlack, 1, kNavy, [](HDC dc) { RoundRect(dc, 56, 62, 314, 180, 12, 12); });
  // The display with a spectrum: a falling continuum and two peaks.
  const RECT screen{68, 74, 218, 154};
  c.shape(kBlack, 1, kBlack, [&](HDC dc) { Rectangle(dc, screen.left, screen.top, screen.right, screen.bottom); });
  POINT outline[148];
  int n = 0;
  outline[n++] = {screen.left + 2, screen.bottom - 3};
  const double height = screen.bottom - screen.top - 8;
  for (int i = 0; i <= 144; ++i) {
    double x = i / 144.0;
    double y = 0.55 * std::exp(-3.2 * x) + 0.85 * std::exp(-std::pow((x - 0.42) / 0.035, 2)) +
               0.35 * std::exp(-std::pow((x - 0.74) / 0.03, 2)) + 0.03;
    outline[n++] = {screen.left + 3 + i, screen.bottom - 3 - static_cast<int>(std::lround(y * height))};
  }
  outline[n++] = {screen.right - 3, screen.bottom - 3};
  c.shape(kLime, 1, kGreen, [&](HDC dc) { Polygon(dc, outline, n); });
  // Name plate and lights.
  c.text("MCA-740", {228, 72, 312, 92}, 15, true, kWhite, DT_LEFT);
  c.text("multichannel", {228, 92, 312, 103}, 10, false, kSilver, DT_LEFT);
  c.text("analyser", {228, 103, 312, 114}, 10, false, kSilver, DT_LEFT);
  const COLORREF lights[] = {kLime, kYellow, kRed};
  for (int i = 0; i < 3; ++i) circle(c, 234 + 14 * i, 126, 4, kBlack, lights[i]);
  // BNC sockets: signal in and gate.
  for (int i = 0; i < 2; ++i) {
    int x = 246 + 34 * i;
    circle(c, x, 154, 11, kGrey, kSilver);
    circle(c, x, 154, 6, kGrey, kGrey);
    circle(c, x, 154, 2, kYellow, kYellow);
  }
  c.text("IN", {226, 166, 266, 178}, 10, false, kWhite, DT_CENTER);
  c.text("GATE", {260, 166, 300, 178}, 10, false, kWhite, DT_CENTER);
  c.text("lyralink", {68, 158, 218, 172}, 12, false, kTeal, DT_LEFT);
  c.text("Analysers on serial ports, USB and the network", {0, 206, size.width, 230}, 12, false, kBlack, DT_CENTER);
}

void draw_banner(Canvas& c, const char* text) {
  const auto size = dialogs::kBannerSize;
  c.fill(0, 0, size.width, size.height, kBackground);
  c.text(text, {8, 0, size.width, size.height}, 17, true, kRed, DT_LEFT);
}

}  // namespace

HBITMAP splash_bitmap(dialogs::SplashPicture picture) {
  const bool banner = picture != dialogs::SplashPicture::product;
  const auto size = banner ? dialogs::kBannerSize : dialogs::kSplashSize;
  Canvas canvas(size.width, size.height);
  if (!canvas.ok()) return nullptr;
  switch (picture) {
    case dialogs::SplashPicture::product: draw_product(canvas); break;
    case dialogs::SplashPicture::detecting_banner: draw_banner(canvas, "Detecting MCA's ..."); break;
    case dialogs::SplashPicture::wait_banner: draw_banner(canvas, "Please wait a moment ..."); break;
  }
  GdiFlush();
  return canvas.release();
}

}  // namespace lyralink::platform::win32
