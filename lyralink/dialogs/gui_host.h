/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Where the windows run. A host with a QApplication (a Qt program) has
// them on its own GUI thread; for any other host the module starts one GUI
// thread of its own, once, with a QApplication that is never destroyed
// and whose event loop never ends. Calls from any thread block until the
// work is done; a call on the GUI thread itself runs there directly.
#include <functional>

namespace lyralink::dialogs {

// Starts the GUI side once; true when windows can be shown. Never lets Qt
// end the process: without a platform that can start, false.
bool start_gui();

// True when the module runs its own GUI thread (the host has no
// QApplication).
bool runs_own_gui_thread();

// Runs `work` on the GUI thread and returns when it is done. Callers on
// other threads take turns, so one window's modal loop never runs
// another caller's window inside it. An exception inside is swallowed
// (the window then counts as cancelled).
void on_gui_thread(const std::function<void()>& work);

// True on the GUI thread.
bool on_the_gui_thread();

// Waits `ms` milliseconds for the caller: the calling thread sleeps, or,
// on the GUI thread, keeps the windows painted meanwhile.
void wait_for_caller(int ms);

}  // namespace lyralink::dialogs
