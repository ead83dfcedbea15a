// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/undo.h"

#include "platform/file_system.h"

namespace lyralink::setup {

using platform::RegistryRoot;

namespace {

bool key_is_empty(platform::SettingsStore& store, const std::string& key) {
  auto values = store.values(key);
  auto subkeys = store.subkeys(key);
  return values && subkeys && values->empty() && subkeys->empty();
}

std::string parent_key(const std::string& key) {
  size_t slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

}  // namespace

platform::InPlace delete_file_and_part(const std::string& path) {
  platform::InPlace result = platform::delete_file_in_place(path);
  if (result != platform::InPlace::through_link) platform::delete_file_in_place(platform::part_file_path(path));
  return result;
}

std::string through_links_message(const std::vector<std::string>& paths) {
  std::string text = "A symbolic link stands where the installation had a directory, so these were left alone:";
  for (const auto& p : paths) text += "\n" + p;
  return text;
}

void delete_empty_keys_upwards(platform::SettingsStore& store, std::string key) {
  while (!key.empty()) {
    if (!store.key_exists(key) || !key_is_empty(store, key)) return;
    if (!store.delete_key(key, false)) return;
    key = parent_key(key);
  }
}

Undoer Undoer::for_remover(SetupHost& host) { return Undoer(host, Role::remover, true); }

Undoer Undoer::for_replacement(SetupHost& host, bool clear, bool keep) {
  return Undoer(host, Role::replacement, clear && !keep);
}

void Undoer::undo_all(const ParsedLog& log) {
  for (auto it = log.actions.rbegin(); it != log.actions.rend(); ++it) undo(*it);
}

void Undoer::undo(const LogAction& action) {
  switch (action.kind) {
    case ActionKind::shared_file: undo_shared_file(action.argument); break;
    case ActionKind::private_file: delete_file(action.argument); break;
    case ActionKind::shell_link: break;
    case ActionKind::create_dir: undo_create_dir(action.argument); break;
    case ActionKind::reg_app: undo_reg_app(action.argument); break;
    case ActionKind::reg_key: undo_reg_key(action.argument); break;
    case ActionKind::reg_value: undo_reg_value(action.argument); break;
  }
}

void Undoer::delete_file(const std::string& path) {
  if (delete_file_and_part(path) == platform::InPlace::through_link) through_links_.push_back(path);
}

void Undoer::undo_shared_file(const std::string& path) {
  auto* store = host_.machine();
  if (store == nullptr) return;  // the store cannot be opened: a count may exist, keep the file
  // A missing SharedDLLs key holds no count for the file, like a key
  // without its value: the file is nobody else's (an install killed
  // between its log line and its count leaves exactly this).
  auto count = store->get_value(kSharedDllsKey, path);
  if (count && count->type == platform::RegistryType::dword && count->as_dword() >= 2) {
    store->set_value(kSharedDllsKey, platform::RegistryValue::dword(path, count->as_dword() - 1));
    return;
  }
  delete_file(path);
  if (count) {
    store->delete_value(kSharedDllsKey, path);
    delete_empty_keys_upwards(*store, kSharedDllsKey);
  }
}

void Undoer::undo_create_dir(const std::string& path) {
  platform::InPlace state = platform::make_directory_writable_in_place(path);
  if (state == platform::InPlace::through_link) through_links_.push_back(path);
  if (state == platform::InPlace::missing || state == platform::InPlace::through_link) return;
  if (role_ == Role::remover) {
    directories_.push_back(path);
  } else if (platform::remove_directory_in_place(path) == platform::InPlace::through_link) {
    through_links_.push_back(path);  // swapped for a link since; one that is not empty stays anyway
  }
}

void Undoer::undo_reg_app(const std::string& name) {
  auto* store = host_.machine();
  if (store == nullptr || name.empty()) return;
  // Without its subkeys, like every key deletion here (see undo_reg_key).
  store->delete_key(uninstall_key(name), false);
  delete_empty_keys_upwards(*store, kUninstallKey);
}

void Undoer::undo_reg_key(const std::string& argument) {
  auto key = parse_key_argument(argument);
  if (!key) return;
  if (!deletes_registry_) {
    if (remembered_.size() < kRememberedKeyPlaces) remembered_.push_back(*key);
    return;
  }
  auto* store = host_.store(key->root);
  if (store == nullptr) return;
  // The key goes with its values but never with keys below it: a subkey
  // that is still there was not made by this installation (its own RegKey
  // lines come later in the log and have been undone already), so it
  // belongs to another application that shares the key.
  store->delete_key(key->path, false);
}

void Undoer::undo_reg_value(const std::string& argument) {
  if (!deletes_registry_) return;
  auto value = parse_value_argument(argument);
  if (!value) return;
  auto* store = host_.store(value->root);
  if (store == nullptr) return;
  store->delete_value(value->key_path, value->name);
}

}  // namespace lyralink::setup
