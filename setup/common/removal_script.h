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
  // In the order the directories are to go (innermost first).
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
