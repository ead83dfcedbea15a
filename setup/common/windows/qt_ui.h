/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The windowed face of the setup programs: the background window, message
// boxes over it, the path dialog and the progress window.
#include <memory>

#include "setup/common/setup_ui.h"
#include "setup/common/windows/background_window.h"
#include "setup/common/windows/progress_window.h"

namespace lyralink::setup {

class QtUi final : public SetupUi {
 public:
  // caption: the background window's caption ("Install" / "Uninstall");
  // pause_ms: the pause after each status line.
  explicit QtUi(const QString& caption, int pause_ms = 500);
  ~QtUi() override;

  void show_background(const std::string& text) override;
  void information(const std::string& caption, const std::string& text) override;
  void error(const std::string& caption, const std::string& text) override;
  bool ask(const std::string& caption, const std::string& text) override;
  std::optional<std::string> choose_path(const std::string& default_path,
                                         const std::function<PathVerdict(const std::string&)>& check) override;
  void show_progress(const std::string& caption) override;
  void set_status(const std::string& text) override;
  void hide_progress() override;
  void close_progress() override;
  void pause() override;
  void idle() override;

  BackgroundWindow* background() const { return background_.get(); }
  ProgressWindow* progress() const { return progress_.get(); }

 private:
  QString caption_;
  int pause_ms_;
  std::unique_ptr<BackgroundWindow> background_;
  std::unique_ptr<ProgressWindow> progress_;
};

}  // namespace lyralink::setup
