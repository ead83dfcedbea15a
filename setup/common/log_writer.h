/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Writes the uninstall log: created once with its first lines in one write
// (mode 0644 whatever the umask), then one action per append, each on disk
// before its action is done — so an install stopped at any point leaves a
// log from which remover takes off everything it did.
#include <functional>
#include <string>

#include "setup/common/uninstall_log.h"

namespace lyralink::setup {

class LogWriter {
 public:
  // Called before and after each write (tests stop the program there).
  using WriteHook = std::function<void()>;
  explicit LogWriter(WriteHook hook = {}) : hook_(std::move(hook)) {}

  // Creates the first free uninst00.log … uninst98.log in `directory` with
  // `first_text` (header, title, actions so far). False when all 99 names
  // are taken or the file cannot be made.
  bool create(const std::string& directory, const std::string& first_text);
  // Appends one action line. False when it could not be written.
  bool append(ActionKind kind, const std::string& argument);

  const std::string& path() const { return path_; }

 private:
  void hook() {
    if (hook_) hook_();
  }
  WriteHook hook_;
  std::string path_;
};

}  // namespace lyralink::setup
