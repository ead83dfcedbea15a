// SPDX-License-Identifier: LGPL-2.1-or-later
// install: puts an application on this machine as the setup script
// install.lst beside this program describes it (see docs/setup.md).
//
//   install                          the setup windows
//   install --unattended [--target DIR]
//                                    no windows; messages on standard error
#include <QApplication>
#include <QTimer>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/environment.h"
#include "platform/program_start.h"
#include "platform/shell_folders.h"
#include "setup/common/installer.h"
#include "setup/common/unattended_ui.h"
#include "setup/common/windows/qt_ui.h"

namespace {

using namespace lyralink;

constexpr const char* kUsage = "usage: install [--unattended [--target DIR]]";

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Tests stop install dead at its n-th log write event (two per write:
// before and after it) to show that every state it can be killed in is
// removable from its log.
setup::LogWriter::WriteHook kill_hook() {
  auto at = platform::environment_value("LYRALINK_SETUP_KILL_AT");
  if (!at) return {};
  long n = std::strtol(at->c_str(), nullptr, 10);
  if (n <= 0) return {};
  return [n, count = 0L]() mutable {
    if (++count == n) platform::kill_this_process();
  };
}

}  // namespace

int main(int argc, char** argv) {
  bool unattended = false;
  std::optional<std::string> target;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage << "\n";
      return 0;
    }
    if (a == "--unattended") {
      unattended = true;
    } else if (a == "--target" && i + 1 < argc) {
      target = argv[++i];
    } else {
      std::cerr << kUsage << "\n";
      return 2;
    }
  }
  if (target && !unattended) {
    std::cerr << kUsage << "\n";
    return 2;
  }

  // The setup directory is this program's; the script is its name with
  // ".lst" for an ".exe" (or added).
  std::string self = platform::own_executable_path();
  size_t slash = self.rfind('/');
  std::string name = slash == std::string::npos ? self : self.substr(slash + 1);
  std::string stem = lower(name) == "install.exe" ? name.substr(0, name.size() - 4) : name;
  if (lower(stem) != "install") {
    std::cerr << "install: this program must be named install (it reads install.lst beside itself); it is "
              << (self.empty() ? std::string("of unknown name") : self) << "\n";
    return 1;
  }
  std::string setup_directory = slash == 0 ? "/" : self.substr(0, slash);
  std::string script = setup_directory + "/" + stem + ".lst";

  setup::SetupHost host;
  if (unattended) {
    setup::UnattendedUi ui(std::cerr, std::cout, target);
    setup::Installer installer(ui, host, kill_hook());
    if (!installer.start(setup_directory, script)) return 1;
    return installer.run() ? 0 : 1;
  }

  if (!platform::display_named()) {
    std::cerr << "install: there is no display for the setup windows; use install --unattended\n";
    return 1;
  }
  QApplication app(argc, argv);
  setup::QtUi ui(QStringLiteral("Install"));
  setup::Installer installer(ui, host, kill_hook());
  if (!installer.start(setup_directory, script)) return 1;
  ui.show_background(installer.display_text());
  int status = 1;
  // The rest runs once the program is idle, with the background painted.
  QTimer::singleShot(0, &app, [&] {
    status = installer.run() ? 0 : 1;
    app.quit();
  });
  app.exec();
  return status;
}
