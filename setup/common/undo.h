/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Undoing the actions of an uninstall log: remover undoes them all, and
// install undoes those of an earlier installation it replaces.
//
// Every undo that cannot be done (missing file, key or value, refused
// access) is passed over; the others still run. Files and directories are
// reached without passing a symbolic link (platform's *_in_place calls):
// where a directory of the installation has been replaced by a link, what
// the log names there stays untouched and is listed in through_links().
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "setup/common/registry_entry.h"
#include "setup/common/setup_host.h"
#include "setup/common/uninstall_log.h"

namespace lyralink::setup {

// Remembered keys of a replaced installation (root and path).
constexpr size_t kRememberedKeyPlaces = 10;

class Undoer {
 public:
  // For remover: CreateDir actions collect their directories for the
  // removal script.
  static Undoer for_remover(SetupHost& host);
  // For install replacing an earlier installation: CreateDir removes the
  // directory at once; RegKey deletes only with clear and not keep (else
  // the key is remembered); RegValue deletes only with clear and not keep.
  static Undoer for_replacement(SetupHost& host, bool clear, bool keep);

  // Undoes one action.
  void undo(const LogAction& action);
  // Undoes the log's actions from the last to the first.
  void undo_all(const ParsedLog& log);

  // remover: the directories of the undone CreateDir actions that existed,
  // in undo order (innermost first).
  const std::vector<std::string>& directories() const { return directories_; }
  // install: the remembered keys.
  std::vector<KeyRef>& remembered_keys() { return remembered_; }
  // The logged paths left alone because a symbolic link stands on the way
  // to them (or, for a directory, in its place), in undo order.
  const std::vector<std::string>& through_links() const { return through_links_; }

 private:
  enum class Role { remover, replacement };
  Undoer(SetupHost& host, Role role, bool deletes_registry) : host_(host), role_(role), deletes_registry_(deletes_registry) {}

  void delete_file(const std::string& path);
  void undo_shared_file(const std::string& path);
  void undo_create_dir(const std::string& path);
  void undo_reg_app(const std::string& name);
  void undo_reg_key(const std::string& argument);
  void undo_reg_value(const std::string& argument);

  SetupHost& host_;
  Role role_;
  bool deletes_registry_;
  std::vector<std::string> directories_;
  std::vector<KeyRef> remembered_;
  std::vector<std::string> through_links_;
};

// Deletes a file and a leftover "<dir>/.<name>.part" of a copy into it,
// without passing a symbolic link; the result for the file (the part file
// lies in the same directory).
platform::InPlace delete_file_and_part(const std::string& path);

// The message that lists paths left alone because of symbolic links.
std::string through_links_message(const std::vector<std::string>& paths);

// Deletes `key` and then each key above it while it is empty (no values,
// no subkeys), stopping at the first that is not. The keys install creates
// only to hold its entries (the Uninstall and SharedDLLs keys and the
// levels above them) go this way once nothing is left in them.
void delete_empty_keys_upwards(platform::SettingsStore& store, std::string key);

}  // namespace lyralink::setup
