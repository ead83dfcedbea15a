// SPDX-License-Identifier: LGPL-2.1-or-later
// remover: takes an installation made by install off this machine again,
// from its uninstall log (see docs/setup.md).
//
//   remover LOGPATH                  the windows (LOGPATH may be quoted)
//   remover --unattended LOGPATH     no windows; messages on standard error
#include <QApplication>
#include <QTimer>

#include <iostream>
#include <string>

#include "platform/environment.h"
#include "platform/shell_folders.h"
#include "setup/common/remover.h"
#include "setup/common/unattended_ui.h"
#include "setup/common/windows/qt_ui.h"

namespace {

using namespace lyralink;

constexpr const char* kUsage = "usage: remover [--unattended] LOGPATH";

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool unattended = false;
  if (argc > 1 && std::string(argv[1]) == "--help") {
    std::cout << kUsage << "\n";
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "--unattended") {
    unattended = true;
    first = 2;
    if (argc < 3) {
      std::cerr << kUsage << "\n";
      return 2;
    }
  }
  // The arguments joined by blanks rebuild the command line that the quote
  // rule reads (a path with blanks arrives as several arguments when it
  // was not quoted).
  std::string command_line;
  for (int i = first; i < argc; ++i) {
    if (i > first) command_line += ' ';
    command_line += argv[i];
  }

  setup::SetupHost host;
  std::string self = platform::own_executable_path();
  setup::Remover remover(host);
  setup::Remover::Start start = remover.start(command_line);
  if (start == setup::Remover::Start::missing) {
    // Windowed, a missing log ends the program at once without a word.
    if (unattended) std::cerr << "remover: no uninstall log at \"" << remover.log_path() << "\"\n";
    return 1;
  }
  if (unattended) {
    if (start == setup::Remover::Start::refused) {
      std::cerr << remover.refusal() << "\n";
      return 1;
    }
    setup::UnattendedUi ui(std::cerr, std::cout);
    return remover.run(ui, self, true) ? 0 : 1;
  }

  if (!platform::display_named()) {
    if (start == setup::Remover::Start::refused) std::cerr << remover.refusal() << "\n";
    std::cerr << "remover: there is no display for the setup windows; use remover --unattended LOGPATH\n";
    return 1;
  }
  QApplication app(argc, argv);
  setup::QtUi ui(QStringLiteral("Uninstall"));
  if (start == setup::Remover::Start::refused) {
    ui.error("Uninstall", remover.refusal());
    return 1;
  }
  ui.show_background(remover.window_title());
  int status = 1;
  QTimer::singleShot(0, &app, [&] {
    status = remover.run(ui, self, false) ? 0 : 1;
    app.quit();
  });
  app.exec();
  return status;
}
