// SPDX-License-Identifier: LGPL-2.1-or-later
// pulsecap: the MCA-740 transient recorder.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/environment.h"
#include "platform/version_info.h"
#include "pulsecap/core/library_device.h"
#include "pulsecap/qt/recorder_dialog.h"
#include "pulsecap/qt/trace_preview.h"

namespace {

const char* kUsage =
    "Usage: pulsecap [--view FILE [--rate HZ]]\n"
    "The MCA-740 transient recorder: finds the analyser, takes it over, sets\n"
    "the HV and the coarse gain and records its signal memory into a text or\n"
    "WAVE trace file.\n"
    "\n"
    "  --view FILE   show a saved trace (text or WAVE) in the preview window\n"
    "  --rate HZ     sample rate of a text trace, for the time axis\n"
    "  --version     print the version\n"
    "  --help        show this text\n"
    "\n"
    "Without a display use 'lyractl LINK record SECONDS FILE' instead.\n";

std::optional<std::string> product_version() {
  auto info = lyralink::platform::read_version_info("/proc/self/exe");
  if (!info) return std::nullopt;
  return info->string("ProductVersion");
}

}  // namespace

int main(int argc, char** argv) {
  std::string view;
  uint32_t rate = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("pulsecap %s\n", product_version().value_or("(no version information)").c_str());
      return 0;
    }
    if (a == "--view" && i + 1 < argc) {
      view = argv[++i];
    } else if (a == "--rate" && i + 1 < argc) {
      char* end = nullptr;
      unsigned long v = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || v == 0 || v > 0xFFFFFFFFul) {
        std::fprintf(stderr, "pulsecap: --rate needs a rate in samples per second\n");
        return 2;
      }
      rate = static_cast<uint32_t>(v);
    } else {
      std::fprintf(stderr, "pulsecap: unknown argument '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (!lyralink::platform::display_named()) {
    std::fprintf(stderr,
                 "pulsecap: no display (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                 "Record without one with: lyractl --select SERIAL record SECONDS FILE\n");
    return 1;
  }
  QApplication app(argc, argv);
  app.setWindowIcon(pulsecap::recorder_icon());
  if (!view.empty()) {
    pulsecap::TracePreview preview;
    std::string error;
    if (!preview.load(view, rate, &error)) {
      std::fprintf(stderr, "pulsecap: %s\n", error.c_str());
      return 1;
    }
    preview.show();
    return app.exec();
  }
  pulsecap::SelectingLibraryDevice device;
  pulsecap::RecorderDialog dialog(device);
  dialog.show();
  // The start-up's connect shows the splash window and the selection
  // dialog over the recorder's window, as soon as it is on the screen.
  QMetaObject::invokeMethod(&dialog, [&] { dialog.initialise(product_version()); }, Qt::QueuedConnection);
  dialog.exec();
  return 0;
}
