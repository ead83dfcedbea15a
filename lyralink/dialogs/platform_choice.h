/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Which Qt platform plugin the windows module starts, decided before any Qt
// application object exists: Qt ends the whole process when the plugin it
// is asked for cannot be loaded or cannot reach its display, and the host
// of this library must never die because a window could not be shown.
//
// The module then names the plugin it chose on the application's command
// line (-platform), so Qt tries nothing else.
#include <optional>
#include <string>
#include <vector>

namespace lyralink::dialogs {

// The environment the choice depends on (unset and empty count alike).
struct DisplayEnvironment {
  std::string qt_qpa_platform;  // QT_QPA_PLATFORM: "name[:options]" entries separated by ';'
  std::string display;          // DISPLAY
  std::string wayland_display;  // WAYLAND_DISPLAY
  std::string xdg_runtime_dir;  // XDG_RUNTIME_DIR
};

// What the choice needs to know of the machine.
class DisplayProbe {
 public:
  virtual ~DisplayProbe() = default;
  // True when one of these plugin files (under the platform plugin
  // directories) can be loaded with everything it needs.
  virtual bool plugin_loads(const std::vector<std::string>& files) = 0;
  // True when an X server accepts a connection to `display`.
  virtual bool x_display_answers(const std::string& display) = 0;
  // True when a compositor accepts a connection on the Unix socket `path`.
  virtual bool socket_accepts(const std::string& path) = 0;
};

// A platform to try: the -platform argument and the plugin's name.
struct PlatformCandidate {
  std::string argument;  // as written in QT_QPA_PLATFORM, options included
  std::string plugin;    // the part before ':'
};

// The platforms in the order they are tried: the entries of
// QT_QPA_PLATFORM when it is set; otherwise Wayland when WAYLAND_DISPLAY
// names a compositor, then X11 when DISPLAY names a server.
std::vector<PlatformCandidate> platform_candidates(const DisplayEnvironment& env);

// The file names a plugin may have (the shared library q<name>, so
// libq<name>.so on POSIX; the Wayland client plugin's generic and EGL builds
// for "wayland").
std::vector<std::string> plugin_files(const std::string& plugin);

// The compositor's socket: WAYLAND_DISPLAY (default "wayland-0") as an
// absolute path, or under XDG_RUNTIME_DIR; "" when it cannot be told.
std::string wayland_socket_path(const DisplayEnvironment& env);

// The first candidate that can start, as its -platform argument; nullopt
// when none can (then no window is ever shown). Only plugins whose start
// can be checked are taken: offscreen and minimal (no display), xcb (an X
// server that answers) and wayland (a compositor's socket that accepts).
std::optional<std::string> choose_platform(const DisplayEnvironment& env, DisplayProbe& probe);

}  // namespace lyralink::dialogs
