/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The removal script: remover cannot take its own directories away while
// it runs from them, so it leaves a small sh script that finishes the job
// once it has ended.
//
// The script (1) waits until remover has ended (its standard input is a
// pipe that only remover holds open) and deletes remover's file, (2) removes
// each directory with rmdir, innermost first — never a recursive delete, so
// a directory that still holds something stays — and (3) deletes itself.
// Every path is single-quoted; nothing of the log is ever run as a command.
//
// sh has no openat, so each entry goes from within its own directory: the
// script enters that directory with cd -P and acts only when the system
// gives the directory it is now in the path the log names (pwd -P). A
// directory replaced by a symbolic link since, or one on the way to it,
// makes the entry stay. rm and rmdir then get the last name alone, which
// neither follows (rm takes a link itself, rmdir refuses one), and a swap
// after the check leaves the shell in the directory it checked: whatever
// happens, only an entry inside the logged tree goes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lyralink::setup {

// 'text' for sh, with each ' written as '\''. Any byte survives, newlines too.
std::string shell_quote(std::string_view text);

class RemovalScript {
 public:
  // remover_path: the running remover's file to delete (nullopt: none).
  // wait_for_remover: begin with reading standard input to its end.
  RemovalScript(std::optional<std::string> remover_path, bool wait_for_remover);
  // In the order the directories are to go (innermost first). Absolute
  // paths; they are written in their normal form (normal_path).
  void add_directory(const std::string& directory);
  const std::vector<std::string>& directories() const { return directories_; }
  // The whole script, ending with the deletion of script_path.
  std::string text(const std::string& script_path) const;

 private:
  std::optional<std::string> remover_path_;
  bool wait_for_remover_;
  std::vector<std::string> directories_;
};

}  // namespace lyralink::setup
