/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The two windows that only inform: the wait window (template 1003) and
// the splash window (template 1007).
#include <QFrame>
#include <QImage>
#include <string>

#include "lyralink/dialogs/template_geometry.h"

class QLabel;

namespace lyralink::dialogs {

class WaitWindow : public QFrame {
 public:
  // A modeless window without caption over `parent` (or none) with the
  // message in static 1005 and "Please wait!" below it.
  WaitWindow(QWidget* parent, const std::string& message);
  // Centres the window over its parent's screen rectangle, or over the
  // screen's area for windows without one.
  void place();
  QLabel* message_label() const { return message_; }

 private:
  QLabel* message_;
};

class SplashWindow : public QWidget {
 public:
  SplashWindow();
  // Moves the window to its place on the screen (370 x 240 pixels).
  void place();
  // Draws one picture into the window, at (0, 0), and paints it at once.
  void draw(SplashPicture picture);
  const QImage& canvas() const { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage canvas_;
};

// The splash window's pictures: the product picture (370 x 240) and the
// two banners for its top-left corner (250 x 25), red on the picture's
// background.
QImage splash_image(SplashPicture picture);
// The picture's background colour, which the banners share.
QColor splash_background();

}  // namespace lyralink::dialogs
