/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The unattended face of the setup programs: no window and no display.
// Every message goes to standard error with its exact text, every question
// counts as answered Yes, the status lines go to standard output, and the
// pauses are skipped (they are only there for a window to be read).
#include <optional>
#include <ostream>
#include <string>

#include "setup/common/setup_ui.h"

namespace lyralink::setup {

class UnattendedUi final : public SetupUi {
 public:
  // target: the application path given with --target (else the default).
  UnattendedUi(std::ostream& messages, std::ostream& status, std::optional<std::string> target = std::nullopt)
      : messages_(messages), status_(status), target_(std::move(target)) {}

  void show_background(const std::string&) override {}
  void information(const std::string&, const std::string& text) override { messages_ << text << "\n" << std::flush; }
  void error(const std::string&, const std::string& text) override { messages_ << text << "\n" << std::flush; }
  bool ask(const std::string&, const std::string& text) override {
    messages_ << text << "\n" << std::flush;
    return true;
  }
  std::optional<std::string> choose_path(const std::string& default_path,
                                         const std::function<PathVerdict(const std::string&)>& check) override {
    std::string path = target_.value_or(default_path);
    PathVerdict verdict = check(path);
    if (verdict != PathVerdict::ok) {
      messages_ << path_verdict_message(verdict) << "\n" << std::flush;
      return std::nullopt;
    }
    return without_trailing_slash(path);
  }
  void show_progress(const std::string&) override {}
  void set_status(const std::string& text) override { status_ << text << "\n" << std::flush; }
  void hide_progress() override {}
  void close_progress() override {}
  void pause() override {}
  void idle() override {}

 private:
  std::ostream& messages_;
  std::ostream& status_;
  std::optional<std::string> target_;
};

}  // namespace lyralink::setup
