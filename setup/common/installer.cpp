// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/installer.h"

#include "platform/busy_file.h"
#include "platform/file_system.h"
#include "platform/mount_points.h"
#include "platform/program_start.h"
#include "platform/shell_folders.h"
#include "platform/version_info.h"
#include "setup/common/copy_rule.h"
#include "setup/common/desktop_entry.h"
#include "setup/common/log_trust.h"
#include "setup/common/undo.h"

namespace lyralink::setup {

using platform::RegistryRoot;
using platform::RegistryValue;

namespace {

constexpr const char* kInUseMessage = "The process cannot access the file because it is being used by another process.";

std::string trailing_slash_removed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string entry_name(const char* key, size_t number) { return std::string(key) + std::to_string(number); }

}  // namespace

bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

Installer::Installer(SetupUi& ui, SetupHost& host, LogWriter::WriteHook hook)
    : ui_(ui), host_(host), log_(std::move(hook)) {}

bool Installer::start(const std::string& setup_directory, const std::string& script_path) {
  setup_dir_ = setup_directory;
  auto text = platform::read_file(script_path, 1u << 20);
  if (!text) return false;
  auto script = read_setup_script(ProfileText::parse(*text));
  if (!script) return false;
  script_ = std::move(*script);
  clear_ = script_.registry == RegistryMode::clear;
  context_ = host_.macro_context();
  auto dir = expand_leading_macro(script_.default_dir, context_);
  if (!dir) return false;
  default_path_ = *dir;
  return true;
}

std::string Installer::display_text() const { return cut_text(script_.title + " Setup", kShortText); }

bool Installer::fault(const std::string& text) {
  ui_.error(script_.title, text);
  return false;
}

PathVerdict Installer::check_path(const std::string& path) {
  return check_application_path(path, platform::present_drives(), context_.program_files.value_or(""),
                                host_.windows_directory());
}

bool Installer::run() {
  if (!ask_about_earlier_installation()) return false;
  if (!conditions_hold()) return false;
  auto chosen = ui_.choose_path(default_path_, [this](const std::string& p) { return check_path(p); });
  if (!chosen) return false;
  app_path_ = without_trailing_slash(*chosen);
  context_.application_path = app_path_;
  if (replace_) remove_earlier_installation();
  ui_.show_progress(script_.title);
  if (!create_application_path_and_log() || !create_directories() || !install_files() || !copy_remover() ||
      !register_application()) {
    ui_.close_progress();
    return false;
  }
  write_registry_entries();
  create_shortcuts();
  run_programs();
  finish();
  return true;
}

bool Installer::ask_about_earlier_installation() {
  std::string key = uninstall_key(script_.uninstall_name);
  auto found = host_.string_value(RegistryRoot::local_machine, key, "DisplayName", 99);
  if (!found) return true;
  std::string question;
  if (*found != script_.title) {
    clear_ = true;
    question = "\"" + script_.title + "\" competes with \"" + *found + "\"!\n\nReplace?";
  } else {
    auto installed = host_.string_value(RegistryRoot::local_machine, key, "Version", kVersionText);
    if (!installed) return true;
    // Byte strings, as written: "1.10" sorts before "1.9".
    int order = script_.version.compare(*installed);
    if (order < 0) {
      question = "A more current version of this application\nwas found on this computer.\n\nReplace?";
    } else if (order == 0) {
      question = "The current version of this application\nwas found on this computer.\n\nReplace?";
    } else {
      question = "An obsolete version of this application\nwas found on this computer.\n\nReplace?";
    }
  }
  if (!ui_.ask(script_.title, question)) return false;
  replace_ = true;
  return true;
}

bool Installer::conditions_hold() {
  for (const auto& c : script_.conditions) {
    auto path = expand_leading_macro(c.path, context_);
    if (!path || !platform::pattern_matches_existing(*path)) {
      ui_.error(script_.title, message_text(c.text));
      return false;
    }
  }
  return true;
}

void Installer::remove_earlier_installation() {
  auto text = host_.string_value(RegistryRoot::local_machine, uninstall_key(script_.uninstall_name),
                                 "UninstallString", kPathText);
  if (!text) return;
  auto command = parse_uninstall_string(*text);
  if (!command || !is_plain_absolute_path(command->log_path)) return;
  const std::string log_path = normal_path(command->log_path);
  platform::InPlace place = platform::InPlace::failed;
  auto file = platform::read_owned_file(log_path, &place);
  if (!file || !file->regular) {
    if (place == platform::InPlace::through_link) {
      ui_.error(script_.title, "The uninstall log " + log_path + " is reached through a symbolic link; nothing was removed.");
    }
    return;
  }
  ParsedLog log = parse_log(file->content);
  if (auto why = log_refusal(log_path, file->owner, file->mode, platform::current_user_id(), log)) {
    ui_.error(script_.title, *why);
    return;
  }
  std::vector<std::string> through_links;
  auto note = [&through_links](const std::string& path, platform::InPlace state) {
    if (state == platform::InPlace::through_link) through_links.push_back(path);
  };
  note(log_path, platform::delete_file_in_place(log_path));
  // Only that installation's remover, which install put beside its log.
  // The command's own program part is not trusted with a deletion: the
  // settings store may name any file there.
  std::string log_dir = directory_of(log_path);
  std::string remover = (log_dir == "/" ? std::string() : log_dir) + "/remover";
  note(remover, delete_file_and_part(remover));
  Undoer undoer = Undoer::for_replacement(host_, clear_, script_.registry == RegistryMode::keep);
  undoer.undo_all(log);
  remembered_ = undoer.remembered_keys();
  through_links.insert(through_links.end(), undoer.through_links().begin(), undoer.through_links().end());
  if (!through_links.empty()) ui_.error(script_.title, through_links_message(through_links));
}

bool Installer::make_levels(const std::string& dir, bool with_status,
                            const std::function<bool(const std::string&)>& record) {
  if (platform::is_directory(dir)) return true;
  if (dir.empty() || dir[0] != '/') return false;
  bool creating = false;
  size_t pos = 1;
  for (;;) {
    size_t slash = dir.find('/', pos);
    std::string level = dir.substr(0, slash);
    if (!creating && !platform::entry_present(level)) creating = true;
    if (creating) {
      if (with_status) {
        ui_.set_status("Creating " + level);
        ui_.pause();
      }
      if (!record(level)) return false;
      platform::SystemError error;
      if (!platform::make_directory(level, &error)) return fault("The directory " + level + " cannot be created (" + error.message() + ").");
    }
    if (slash == std::string::npos) return true;
    pos = slash + 1;
  }
}

bool Installer::create_application_path_and_log() {
  // The log lives in the application path, so the levels of that path are
  // gathered first and go into the log with its header in one write.
  std::string first = log_header() + title_line(script_.title);
  if (!make_levels(app_path_, false, [&](const std::string& level) {
        first += action_line(ActionKind::create_dir, level);
        return true;
      })) {
    return false;
  }
  if (!log_.create(app_path_, first)) {
    return fault("No uninstall log can be written in " + app_path_ + " (uninst00.log to uninst98.log).");
  }
  context_.log_path = log_.path();
  return true;
}

bool Installer::create_directories() {
  for (size_t i = 0; i < script_.directories.size(); ++i) {
    auto dir = expand_leading_macro(script_.directories[i], context_);
    if (!dir) return fault("The setup script entry " + entry_name("Directory", i + 1) + " \"" + script_.directories[i] + "\" cannot be expanded.");
    std::string path = trailing_slash_removed(*dir);
    if (!is_plain_absolute_path(path)) {
      return fault("The setup script entry " + entry_name("Directory", i + 1) + " names \"" + path + "\", which is not an absolute path without \"..\".");
    }
    if (!make_levels(path, true, [&](const std::string& level) { return log_.append(ActionKind::create_dir, level); })) {
      return false;
    }
  }
  return true;
}

bool Installer::install_files() {
  for (size_t i = 0; i < script_.files.size(); ++i) {
    if (!install_file(i + 1, script_.files[i])) return false;
  }
  return true;
}

bool Installer::install_file(size_t number, const std::string& value) {
  std::string entry = "The setup script entry " + entry_name("File", number) + " \"" + value + "\"";
  auto expanded = expand_first_macro(value, context_);
  if (!expanded) return fault(entry + " cannot be expanded.");
  size_t first = expanded->find(',');
  size_t second = first == std::string::npos ? first : expanded->find(',', first + 1);
  if (second == std::string::npos) return fault(entry + " needs a file name, a target directory and a kind, separated by commas.");
  std::string name = expanded->substr(0, first);
  std::string dir = trailing_slash_removed(expanded->substr(first + 1, second - first - 1));
  std::string kind = expanded->substr(second + 1);
  bool shared = kind.compare(0, 6, "shared") == 0;
  bool unreal = kind.compare(0, 6, "unreal") == 0;
  if (!is_plain_file_name(name)) return fault(entry + " names a file outside the setup directory.");
  std::string target = dir + "/" + name;
  if (!is_plain_absolute_path(target)) return fault(entry + " has a target directory that is not an absolute path without \"..\".");

  if (unreal) return log_.append(ActionKind::private_file, target) || fault("The uninstall log cannot be written.");

  std::string source = setup_dir_ + "/" + name;
  if (platform::entry_kind(source) != platform::EntryKind::file) return fault("The setup directory has no file " + name + ".");
  bool copy = true;
  if (platform::entry_present(target)) {
    FileFacts t{platform::read_version_info(target), platform::last_write_time_ns(target)};
    FileFacts s{platform::read_version_info(source), platform::last_write_time_ns(source)};
    copy = should_replace(t, s);
  }
  if (copy && platform::file_in_use(target)) {
    ui_.hide_progress();
    ui_.error(script_.title, kInUseMessage);
    return false;
  }
  if (!log_.append(shared ? ActionKind::shared_file : ActionKind::private_file, target)) {
    return fault("The uninstall log cannot be written.");
  }
  if (copy) {
    ui_.set_status("Copying " + target);
    ui_.pause();
    platform::SystemError error;
    if (platform::copy_file(source, target, &error) != platform::CopyResult::copied) {
      ui_.hide_progress();
      return fault("The file " + name + " cannot be copied to " + target + " (" + error.message() + ").");
    }
  }
  if (shared) {
    auto* store = host_.machine();
    if (store == nullptr || !store->create_key(kSharedDllsKey)) return fault("The shared-file counts cannot be opened.");
    auto count = store->get_value(kSharedDllsKey, target);
    uint32_t n = count && count->type == platform::RegistryType::dword ? count->as_dword() + 1 : 1;
    if (!store->set_value(kSharedDllsKey, RegistryValue::dword(target, n))) {
      return fault("The shared-file count of " + target + " cannot be written.");
    }
  }
  return true;
}

bool Installer::copy_remover() {
  ui_.set_status("Copying remover");
  ui_.pause();
  std::string source = setup_dir_ + "/remover";
  if (platform::entry_kind(source) != platform::EntryKind::file) return fault("The setup directory has no remover.");
  platform::SystemError error;
  if (platform::copy_file(source, app_path_ + "/remover", &error) != platform::CopyResult::copied) {
    return fault("remover cannot be copied to " + app_path_ + " (" + error.message() + ").");
  }
  return true;
}

bool Installer::register_application() {
  if (!log_.append(ActionKind::reg_app, script_.uninstall_name)) return fault("The uninstall log cannot be written.");
  auto* store = host_.machine();
  std::string key = uninstall_key(script_.uninstall_name);
  if (store == nullptr || !store->create_key(key)) {
    return fault("The installation cannot be registered (settings store: " +
                 (store ? store->last_error() : std::string("not available")) + ").");
  }
  store->set_value(key, RegistryValue::string("DisplayName", script_.title));
  store->set_value(key, RegistryValue::string("Publisher", script_.publisher));
  store->set_value(key, RegistryValue::string("UninstallString", uninstall_string(app_path_, log_.path())));
  store->set_value(key, RegistryValue::string("Version", script_.version));
  store->set_value(key, RegistryValue::string("DisplayVersion", script_.version));
  return true;
}

void Installer::write_registry_entries() {
  for (const auto& value : script_.registry_entries) {
    if (auto entry = parse_registry_entry(value)) write_registry_entry(*entry);
  }
}

void Installer::write_registry_entry(const RegistryEntry& entry) {
  auto* store = host_.store(entry.root);
  std::string root(root_name(entry.root));
  for (const auto& prefix : key_prefixes(entry.key_path)) {
    if (store != nullptr && store->key_exists(prefix)) {
      for (auto it = remembered_.begin(); it != remembered_.end(); ++it) {
        if (it->root == entry.root && same_key_path(it->path, prefix)) {
          log_.append(ActionKind::reg_key, root + "\\" + prefix);
          remembered_.erase(it);
          break;
        }
      }
      continue;
    }
    log_.append(ActionKind::reg_key, root + "\\" + prefix);
    if (store != nullptr) store->create_key(prefix);  // a level that cannot be made is passed over
  }
  log_.append(ActionKind::reg_value, root + "\\" + entry.key_path + "," + entry.name);
  if (store == nullptr) return;
  if (entry.type == EntryValueType::sz) store->set_value(entry.key_path, RegistryValue::string(entry.name, entry.text));
  if (entry.type == EntryValueType::dword) store->set_value(entry.key_path, RegistryValue::dword(entry.name, entry.number));
}

void Installer::create_shortcuts() {
  if (!script_.group || !is_plain_file_name(*script_.group)) return;
  std::string programs = trailing_slash_removed(host_.programs_folder());
  if (!is_plain_absolute_path(programs)) return;
  std::string folder = programs + "/" + *script_.group;
  // Levels of the menu folder that are missing (a fresh home has no
  // ~/.local/share/applications) are logged like any created directory, so
  // that removing the installation takes them away again.
  bool made = make_levels(programs, false, [&](const std::string& level) {
    return log_.append(ActionKind::create_dir, level);
  });
  if (!made) return;
  log_.append(ActionKind::create_dir, folder);
  if (!platform::is_directory(folder) && !platform::make_directory(folder)) return;
  ui_.set_status("Creating shortcuts.");
  ui_.pause();
  for (const auto& value : script_.links) {
    auto expanded = expand_every_macro(value, context_);
    if (!expanded) return;
    size_t c1 = expanded->find(',');
    size_t c2 = c1 == std::string::npos ? c1 : expanded->find(',', c1 + 1);
    size_t c3 = c2 == std::string::npos ? c2 : expanded->find(',', c2 + 1);
    if (c3 == std::string::npos) return;
    std::string name = expanded->substr(0, c1);
    if (!is_plain_file_name(name)) continue;  // would land outside the menu folder
    std::string file = folder + "/" + name + ".desktop";
    log_.append(ActionKind::private_file, file);
    platform::write_file(file,
                         desktop_entry_text(name, expanded->substr(c1 + 1, c2 - c1 - 1),
                                            expanded->substr(c2 + 1, c3 - c2 - 1), expanded->substr(c3 + 1)),
                         0644);
  }
}

void Installer::run_programs() {
  for (const auto& value : script_.executes) {
    size_t comma = value.find(',');
    std::string program = value.substr(0, comma);
    if (!is_plain_file_name(program)) continue;  // only files of the setup directory are run
    if (comma != std::string::npos) {
      ui_.set_status(value.substr(comma + 1));
      ui_.pause();
    }
    platform::run_program(setup_dir_ + "/" + program, {}, setup_dir_, [this] { ui_.idle(); });
  }
}

void Installer::finish() {
  ui_.close_progress();
  ui_.information(script_.title, script_.title + " Setup was completed successfully.");
  if (!script_.closing_words || script_.closing_words->empty()) return;
  if (auto words = expand_every_macro(message_text(*script_.closing_words), context_)) {
    ui_.information(script_.title, *words);
  }
}

}  // namespace lyralink::setup
