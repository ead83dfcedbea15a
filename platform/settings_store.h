/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The settings store: the registry of the analysers' documentation, kept in
// SQLite files.
//
// On Windows it is the registry itself (HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE, platform/win32/settings_store_registry.cpp), with the
// same names, types and orders; what is said here of files, transactions
// and modes holds for the SQLite store.
//
// Two roots, each its own file: HKEY_CURRENT_USER in user.db and
// HKEY_LOCAL_MACHINE in machine.db (see store_file_path). A key is a path of
// levels joined by backslashes ("Software\LYRALINK\Special IPs"); the empty
// path is the root key. Key and value names keep the letter case they were
// created with and compare without regard to it (ASCII). A value is REG_SZ
// (bytes stored exactly as long as the writer gave them, zeros included) or
// REG_DWORD (32 bits). Subkeys enumerate in case-insensitive alphabetical
// order, values in the order they were created; rewriting a value keeps its
// place.
//
// Every write is one SQLite transaction, so a writer killed at any point
// leaves the old state or the new one. Several processes may use one file
// at once (WAL mode; a writer waits up to 5 s for another writer). New files
// and directories are private to the user (0600 / 0700).
//
// Every method blocks only on the file (and another writer's lock); none
// throws. Results: false / nullopt for a missing key or value, a path with
// an empty level, a key level or value name holding a zero byte (names are
// text; the data of a REG_SZ value may hold zeros), or a failed file
// operation (last_error() says which).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lyralink::platform {

enum class RegistryRoot : uint8_t { current_user, local_machine };

enum class RegistryType : uint32_t { sz = 1, dword = 4 };

struct RegistryValue {
  std::string name;
  RegistryType type = RegistryType::sz;
  // REG_SZ: the stored bytes; REG_DWORD: 4 bytes, little-endian.
  std::string data;

  static RegistryValue string(std::string name, std::string text);
  static RegistryValue dword(std::string name, uint32_t value);
  // The number of a REG_DWORD value (0 when the data is not 4 bytes).
  uint32_t as_dword() const;
};

class SettingsStore {
 public:
  // Opens the file of `root`, creating it (and its directory) when missing.
  // Null when it cannot be opened; *error then says why.
  static std::unique_ptr<SettingsStore> open(RegistryRoot root, std::string* error = nullptr);
  // Opens a store file by path (tests, tools). On Windows there are no
  // store files: null, not_supported.
  static std::unique_ptr<SettingsStore> open_file(const std::string& path, std::string* error = nullptr);

  // Where the file of `root` lives: $LYRALINK_REGISTRY_DIR/{user,machine}.db;
  // without it user.db in $XDG_CONFIG_HOME/lyralink (else ~/.config/lyralink),
  // machine.db in /var/lib/lyralink for root and in $XDG_DATA_HOME/lyralink
  // (else ~/.local/share/lyralink) for everyone else. On Windows the root's
  // name, "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
  static std::string store_file_path(RegistryRoot root);

  virtual ~SettingsStore() = default;

  virtual bool key_exists(std::string_view key) = 0;
  // Creates every missing level of `key`; true when the key exists afterwards.
  virtual bool create_key(std::string_view key) = 0;
  // Deletes the key. With with_subkeys the whole tree below it goes too;
  // without, a key that has subkeys is not deleted (false). The root key
  // cannot be deleted.
  virtual bool delete_key(std::string_view key, bool with_subkeys) = 0;
  // Names of the direct subkeys, case-insensitively sorted; nullopt when the
  // key is missing.
  virtual std::optional<std::vector<std::string>> subkeys(std::string_view key) = 0;
  // The key's values in creation order; nullopt when the key is missing.
  virtual std::optional<std::vector<RegistryValue>> values(std::string_view key) = 0;
  virtual std::optional<RegistryValue> get_value(std::string_view key, std::string_view name) = 0;
  // Writes the value into an existing key (false when the key is missing).
  virtual bool set_value(std::string_view key, const RegistryValue& value) = 0;
  virtual bool delete_value(std::string_view key, std::string_view name) = 0;

  // What the last failed call ran into ("" when it was a missing key or value).
  virtual std::string last_error() const = 0;
};

// Splits a key path at its backslashes; nullopt when a level is empty
// ("A\\B", "\A", "A\") or holds a zero byte. The empty path gives no levels.
std::optional<std::vector<std::string>> split_key_path(std::string_view key);

}  // namespace lyralink::platform
