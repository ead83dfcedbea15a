/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The full-screen background of install and remover: a green gradient,
// the display text in large shadowed letters, and the logo.
#include <QImage>
#include <QString>
#include <QWidget>

#include "setup/common/title_font.h"

namespace lyralink::setup {

class BackgroundWindow : public QWidget {
 public:
  // caption: "Install" or "Uninstall"; text: what is painted (at most 49 characters).
  BackgroundWindow(const QString& caption, const QString& text);
  // Covers the whole screen it is on.
  void show_on_screen();
  const QString& text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QImage logo_;
};

// The painting, on any device of the given size (tests paint into images).
void paint_background(QPainter& painter, int width, int height, const QString& text, const QImage& logo);
// The title font for a size of the fitting rule (height as a cell height,
// width as the average character width, like the platform's fonts).
QFont title_font(TitleFontSize size);
// The size the fitting rule gives for `text` in a window `width` pixels wide.
TitleFontSize title_font_size_for(const QString& text, int width);
// Our logo: a small spectrum with its peak and the name, on pure white
// (0xFFFFFF), which is treated as transparent when it is drawn.
QImage make_logo();

}  // namespace lyralink::setup
