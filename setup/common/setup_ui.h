/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What install and remover show: windows (setup/common/windows) or, in
// unattended mode, lines on standard error. The programs' rules talk only
// to this interface.
#include <functional>
#include <optional>
#include <string>

#include "setup/common/path_check.h"

namespace lyralink::setup {

class SetupUi {
 public:
  virtual ~SetupUi() = default;

  // The full-screen background with its display text.
  virtual void show_background(const std::string& text) = 0;
  // Message boxes with the caption given: information, error, and the
  // in-use and other plain messages.
  virtual void information(const std::string& caption, const std::string& text) = 0;
  virtual void error(const std::string& caption, const std::string& text) = 0;
  // A yes/no question with a question icon; true for Yes.
  virtual bool ask(const std::string& caption, const std::string& text) = 0;
  // The path dialog, pre-filled with default_path; each OK is checked with
  // `check` (its message shown when it fails, the dialog staying open).
  // The accepted path without a trailing '/', or nullopt for "Exit setup".
  virtual std::optional<std::string> choose_path(const std::string& default_path,
                                                 const std::function<PathVerdict(const std::string&)>& check) = 0;
  // The progress window with its caption; its status line; hiding and
  // closing it.
  virtual void show_progress(const std::string& caption) = 0;
  virtual void set_status(const std::string& text) = 0;
  virtual void hide_progress() = 0;
  virtual void close_progress() = 0;
  // The pause after a status line (500 ms in a window, none unattended).
  virtual void pause() = 0;
  // Called while a started program runs, every 10 ms.
  virtual void idle() = 0;
};

}  // namespace lyralink::setup
