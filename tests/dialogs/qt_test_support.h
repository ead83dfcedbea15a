/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Qt for the widget tests: one QApplication on the test's main thread
// (offscreen), made before the first test, and helpers to act on a modal
// window while its loop runs.
#include <QApplication>
#include <QTimer>
#include <functional>

namespace lyratest {

// Runs `actions` from inside the event loop that is about to start (the
// modal loop of a dialog run right after this call).
inline void when_shown(std::function<void()> actions) { QTimer::singleShot(0, std::move(actions)); }

}  // namespace lyratest
