#include "setup/common/remover.h"

#include "platform/file_system.h"
#include "platform/program_start.h"
#include "platform/shell_folders.h"
#include "setup/common/log_trust.h"
#include "setup/common/removal_script.h"
#include "setup/common/undo.h"

namespace lyralink::setup {

namespace {

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

Remover::Start Remover::start(const std::string& command_line) {
  log_path_ = log_path_from_command_line(command_line);
  if (log_path_.empty()) return Start::missing;
  auto file = platform::read_owned_file(log_path_);
  if (!file) return Start::missing;
  if (!file->regular) {
    refusal_ = "The uninstall log " + log_path_ + " is not a regular file; nothing was removed.";
    return Start::refused;
  }
  log_ = parse_log(file->content);
  if (!is_plain_absolute_path(log_path_)) {
    refusal_ = "The uninstall log must be given as an absolute path without \"..\"; nothing was removed.";
    return Start::refused;
  }
  if (auto why = log_refusal(log_path_, file->owner, file->mode, platform::current_user_id(), log_)) {
    refusal_ = *why;
    return Start::refused;
  }
  return Start::ready;
}

bool Remover::run(SetupUi& ui, const std::string& own_path, bool wait_for_script) {
  std::string title = window_title();
  if (!ui.ask(title, kRemoveQuestion)) return false;

  // install puts remover beside the log. That file goes: through the
  // removal script when it is the one running, at once otherwise (an
  // install stopped before it registered leaves its remover there, and
  // another remover may be taking the installation off). A remover started
  // from anywhere else (a setup directory, a build tree) is left alone.
  std::optional<std::string> remover_file;
  if (auto log_dir = platform::canonical_path(directory_of(log_path_))) {
    std::string installed = (*log_dir == "/" ? std::string() : *log_dir) + "/remover";
    if (!own_path.empty() && own_path == installed) {
      remover_file = own_path;
    } else if (platform::entry_kind(installed) == platform::EntryKind::file) {
      platform::delete_file(installed);
    }
    // A copy of remover that was cut short leaves its part file.
    std::string part = platform::part_file_path(installed);
    if (platform::entry_present(part)) platform::delete_file(part);
  }

  Undoer undoer = Undoer::for_remover(host_);
  undoer.undo_all(log_);
  ui.information(title, kRemovedMessage);
  platform::delete_file(log_path_);

  RemovalScript script(remover_file, !wait_for_script);
  for (const auto& dir : undoer.directories()) script.add_directory(dir);
  auto path = platform::create_temporary_file(platform::temporary_directory() + "/lyralink-remove-XXXXXX", "");
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
