/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What the windows share on the Qt side: the templates' font on this
// desktop, laying out a template's controls, the owner look-up, and
// painting a window at once while its thread is about to block.
#include <QFont>
#include <QString>
#include <string>
#include <vector>

#include "lyralink/dialogs/template_geometry.h"

class QWidget;

namespace lyralink::dialogs {

// The templates' "MS Sans Serif" at `point_size` becomes the desktop's
// default sans-serif font at that size.
QFont template_font(int point_size);

BaseUnits font_base_units(const QFont& font);

// The library's texts are 8-bit; every byte stays one character.
inline QString from_8bit(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string to_8bit(const QString& s) { return s.toLatin1().toStdString(); }

// One control of a template and how it must fit on this desktop.
struct PlacedControl {
  QWidget* widget;
  Rect units;
};

// Lays out the controls of a template of `units` dialog units in `window`
// (whose font they use), fixes the window's size and returns the layout.
// Buttons, check boxes and edit controls get at least the platform's
// height and their text's width; labels their text's width, or, when they
// wrap, the height of their wrapped text.
TemplateLayout place_template(QWidget* window, Size units, const std::vector<PlacedControl>& controls,
                              int frame_width = 0);

// `owner` as a widget when it is a live widget of this process, looked up
// among the application's widgets (never dereferenced before it is found);
// null for anything else.
QWidget* live_widget(void* owner);

// The screen rectangle of a widget (its frame, for a window).
Rect screen_rect(const QWidget* widget);
// The area for windows of the screen that holds `widget` (or the primary).
Rect available_area(const QWidget* widget);

// Shows `window` at the top of its siblings and paints it before
// returning: the calling thread may block right after, with no event loop
// to paint it later. Waits at most half a second for the window system.
void show_and_paint(QWidget* window);

// Waits `ms` milliseconds on the GUI thread, keeping its windows painted
// but running neither user input nor timers of the host.
void pause_painting(int ms);

}  // namespace lyralink::dialogs
