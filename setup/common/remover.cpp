// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/remover.h"

#include "platform/file_system.h"
#include "platform/program_start.h"
#include "platform/shell_folders.h"
#include "setup/common/log_trust.h"
#include "setup/common/removal_script.h"
#include "setup/common/undo.h"

namespace lyralink::setup {

Remover::Start Remover::start(const std::string& command_line) {
  std::string given = log_path_from_command_line(command_line);
  if (given.empty()) return Start::missing;
  // remover started in the application directory with "uninst00.log".
  auto here = platform::working_directory();
  if (given[0] != '/' && !here) return Start::missing;
  log_path_ = log_path_from_working_directory(given, here.value_or("/"));
  if (!is_plain_absolute_path(log_path_)) {
    if (!platform::entry_present(log_path_)) return Start::missing;
    refusal_ = "The uninstall log must be given as a path without \"..\"; nothing was removed.";
    return Start::refused;
  }
  platform::InPlace place = platform::InPlace::failed;
  auto file = platform::read_owned_file(log_path_, &place);
  if (!file) {
    if (place != platform::InPlace::through_link) return Start::missing;
    refusal_ = "The uninstall log " + log_path_ + " is reached through a symbolic link; nothing was removed.";
    return Start::refused;
  }
  if (!file->regular) {
    refusal_ = "The uninstall log " + log_path_ + " is not a regular file; nothing was removed.";
    return Start::refused;
  }
  log_ = parse_log(file->content);
  if (auto why = log_refusal(log_path_, file->owner, file->mode, platform::current_user_id(), log_)) {
    refusal_ = *why;
    return Start::refused;
  }
  return Start::ready;
}

bool Remover::run(SetupUi& ui, const std::string& own_path, bool wait_for_script) {
  std::string title = window_title();
  if (!ui.ask(title, kRemoveQuestion)) return false;

  // Whatever of the installation cannot be reached without passing a
  // symbolic link stays; the list is shown at the end.
  std::vector<std::string> through_links;
  auto note = [&through_links](const std::string& path, platform::InPlace state) {
    if (state == platform::InPlace::through_link) through_links.push_back(path);
  };

  // install puts remover beside the log. That file goes: through the
  // removal script when it is the one running, at once otherwise (an
  // install stopped before it registered leaves its remover there, and
  // another remover may be taking the installation off). A remover started
  // from anywhere else (a setup directory, a build tree) is left alone.
  // The path is the log's own directory as named, never resolved: resolving
  // would follow a directory swapped for a link to the file at its target.
  std::optional<std::string> remover_file;
  std::string log_dir = directory_of(log_path_);
  std::string installed = (log_dir == "/" ? std::string() : log_dir) + "/remover";
  if (!own_path.empty() && own_path == installed) {
    remover_file = own_path;
    // A copy of remover that was cut short leaves its part file.
    note(installed, platform::delete_file_in_place(platform::part_file_path(installed)));
  } else {
    note(installed, delete_file_and_part(installed));
  }

  Undoer undoer = Undoer::for_remover(host_);
  undoer.undo_all(log_);
  ui.information(title, kRemovedMessage);
  note(log_path_, platform::delete_file_in_place(log_path_));
  through_links.insert(through_links.begin(), undoer.through_links().begin(), undoer.through_links().end());
  if (!through_links.empty()) ui.error(title, through_links_message(through_links));

  RemovalScript script(remover_file, !wait_for_script);
  for (const auto& dir : undoer.directories()) script.add_directory(dir);
  // The script deletes itself from within its directory, entered by its
  // physical path (see removal_script.h), so that path is the resolved one.
  std::string temporary = platform::canonical_path(platform::temporary_directory()).value_or("/tmp");
  auto path = platform::create_temporary_file(temporary + "/lyralink-remove-XXXXXX", "");
  if (!path) return true;
  if (!platform::write_file(*path, script.text(*path), 0600)) {
    platform::delete_file(*path);
    return true;
  }
  auto started = platform::StartedScript::start(*path, !wait_for_script);
  if (!started) {
    platform::delete_file(*path);
    return true;
  }
  if (wait_for_script) started->wait();
  // Otherwise the script runs on and finishes once this process has ended.
  return true;
}

}  // namespace lyralink::setup
