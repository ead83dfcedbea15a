/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The two windows that only inform: the wait window (template 1003) and
// the splash window (template 1007). Neither runs a message loop: both are
// painted when shown or drawn, since the detection that they accompany
// dispatches no messages. Internal to platform/win32/.
#include <windows.h>

#include <string>

#include "lyralink/dialogs/template_geometry.h"

namespace lyralink::platform::win32 {

// Creates the wait window over `owner` (or none) with `message` over
// "Please wait!", centred, at the top of the z-order, and paints it before
// returning; a window still shown is closed first.
void show_wait_window(HWND owner, const std::string& message);
// Destroys the wait window, if any. From another thread than the one that
// showed it, the window is asked to close and goes when that thread next
// runs its messages (or ends).
void close_wait_window();

// Shows the splash window and draws its three pictures: the product at
// once, the first banner after 1 s, the second 2 s later; returns then,
// leaving the window on the screen.
void show_splash_window();
// Destroys the splash window, as close_wait_window does the wait window.
void close_splash_window();

// The splash window's pictures as 16-colour bitmaps (the product 370 x 240,
// the banners 250 x 25); the caller deletes them.
HBITMAP splash_bitmap(dialogs::SplashPicture picture);

}  // namespace lyralink::platform::win32
