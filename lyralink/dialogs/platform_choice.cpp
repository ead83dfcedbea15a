// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/platform_choice.h"

#include "platform/dynamic_library.h"

namespace lyralink::dialogs {

namespace {

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::vector<PlatformCandidate> platform_candidates(const DisplayEnvironment& env) {
  std::vector<PlatformCandidate> out;
  if (!env.qt_qpa_platform.empty()) {
    size_t start = 0;
    while (start <= env.qt_qpa_platform.size()) {
      size_t end = env.qt_qpa_platform.find(';', start);
      if (end == std::string::npos) end = env.qt_qpa_platform.size();
      std::string entry = trimmed(env.qt_qpa_platform.substr(start, end - start));
      if (!entry.empty()) out.push_back({entry, entry.substr(0, entry.find(':'))});
      start = end + 1;
    }
    return out;
  }
  if (!env.wayland_display.empty()) out.push_back({"wayland", "wayland"});
  if (!env.display.empty()) out.push_back({"xcb", "xcb"});
  return out;
}

std::vector<std::string> plugin_files(const std::string& plugin) {
  if (plugin == "wayland") {
    return {platform::shared_library_file_name("qwayland-generic"), platform::shared_library_file_name("qwayland-egl")};
  }
  return {platform::shared_library_file_name("q" + plugin)};
}

std::string wayland_socket_path(const DisplayEnvironment& env) {
  std::string name = env.wayland_display.empty() ? "wayland-0" : env.wayland_display;
  if (name.front() == '/') return name;
  if (env.xdg_runtime_dir.empty()) return "";
  return env.xdg_runtime_dir + "/" + name;
}

std::optional<std::string> choose_platform(const DisplayEnvironment& env, DisplayProbe& probe) {
  for (const auto& c : platform_candidates(env)) {
    bool startable = false;
    if (c.plugin == "offscreen" || c.plugin == "minimal") {
      startable = probe.plugin_loads(plugin_files(c.plugin));
    } else if (c.plugin == "xcb") {
      startable = !env.display.empty() && probe.plugin_loads(plugin_files(c.plugin)) &&
                  probe.x_display_answers(env.display);
    } else if (c.plugin.rfind("wayland", 0) == 0) {
      std::string socket = wayland_socket_path(env);
      startable = !socket.empty() && probe.plugin_loads(plugin_files(c.plugin)) && probe.socket_accepts(socket);
    }
    if (startable) return c.argument;
  }
  return std::nullopt;
}

}  // namespace lyralink::dialogs
