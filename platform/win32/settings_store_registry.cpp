// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings store on Windows is the registry itself: HKEY_CURRENT_USER
// and HKEY_LOCAL_MACHINE, through the ANSI calls, so that text is the bytes
// of the ANSI code page as everywhere else in the library (a byte of a
// single-byte code page comes back as it went in).
//
// What the registry does on its own: names compare without regard to case
// and keep the case they were created with, a rewritten value keeps its
// place, a value or key is written whole (a tree is deleted key by key,
// though: a deleter killed on the way leaves part of it). What this file
// adds to give the store's contract:
//  - REG_SZ data is written with a terminating zero, as the registry's
//    readers expect, and read back without one zero at its end, so the bytes
//    come back exactly as long as the writer gave them (zeros included);
//  - subkeys are sorted here with the store's rule (ASCII letters folded to
//    lower case, then bytes), since the registry's own order is not part of
//    its interface;
//  - values of other types than REG_SZ and REG_DWORD, which the store has no
//    form for, are passed over; REG_EXPAND_SZ reads as REG_SZ (its text
//    unexpanded).
// Writing HKEY_LOCAL_MACHINE needs an administrator on Windows (a refusal
// is "Access is denied" in last_error()). There is no file:
// store_file_path() names the root, and open_file() is not supported.
#include <windows.h>

#include <algorithm>

#include "platform/settings_store.h"
#include "platform/system_error.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

namespace {

// The store's order of subkeys: ASCII letters folded to lower case, then
// the bytes; names equal that way by their bytes.
bool sorts_before(const std::string& a, const std::string& b) {
  auto fold = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
  };
  const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                 [&](char x, char y) { return fold(x) < fold(y); });
  const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                    [&](char x, char y) { return fold(x) < fold(y); });
  return less || (!greater && a < b);
}

// A value as the store has it, from the registry's type and bytes; nullopt
// for a type the store has no form for.
std::optional<RegistryValue> value_of(std::string name, DWORD type, std::string data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (!data.empty() && data.back() == '\0') data.pop_back();
      return RegistryValue{std::move(name), RegistryType::sz, std::move(data)};
    case REG_DWORD:
      if (data.size() != 4) return std::nullopt;
      return RegistryValue{std::move(name), RegistryType::dword, std::move(data)};
    default: return std::nullopt;
  }
}

// An open key, closed on scope exit (the root's own handle is never closed).
class Key {
 public:
  Key() = default;
  Key(HKEY handle, bool owned) : handle_(handle), owned_(owned) {}
  ~Key() {
    if (owned_) RegCloseKey(handle_);
  }
  Key(Key&& other) noexcept : handle_(other.handle_), owned_(other.owned_) { other.owned_ = false; }
  Key& operator=(Key&&) = delete;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
  bool owned_ = false;
};

class RegistryStore final : public SettingsStore {
 public:
  explicit RegistryStore(HKEY root) : root_(root) {}

  bool key_exists(std::string_view key) override { return open_key(key, KEY_READ).has_value(); }

  bool create_key(std::string_view key) override {
    auto path = checked_path(key);
    if (!path) return fail("");
    if (path->empty()) return ok();
    HKEY created = nullptr;
    const LSTATUS rc = RegCreateKeyExA(root_, path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr,
                                       &created, nullptr);
    if (rc != ERROR_SUCCESS) return fail_with("create key", rc);
    RegCloseKey(created);
    return ok();
  }

  bool delete_key(std::string_view key, bool with_subkeys) override {
    auto path = checked_path(key);
    if (!path || path->empty() || !key_exists(key)) return fail("");
    if (!with_subkeys) {
      auto children = subkeys(key);
      if (!children || !children->empty()) return fail("");
    }
    // RegDeleteTree with a subkey name removes that key too, after
    // everything below it.
    const LSTATUS rc = with_subkeys ? RegDeleteTreeA(root_, path->c_str()) : RegDeleteKeyA(root_, path->c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return fail("");
    if (rc != ERROR_SUCCESS) return fail_with("delete key", rc);
    return ok();
  }

  std::optional<std::vector<std::string>> subkeys(std::string_view key) override {
    auto k = open_key(key, KEY_READ);
    if (!k) return std::nullopt;
    std::vector<std::string> names;
    std::string name(256, '\0');  // a key name has at most 255 characters
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS rc = RegEnumKeyExA(k->get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // a multi-byte code page made it longer
        name.resize(name.size() * 2);
        --index;
        continue;
      }
      if (rc != ERROR_SUCCESS) {
        fail_with("list subkeys", rc);
        return std::nullopt;
      }
      names.emplace_back(name.data(), length);
    }
    std::sort(names.begin(), names.end(), sorts_before);
    ok();
    return names;
  }

  std::optional<std::vector<RegistryValue>> values(std::string_view key) override {
    auto k = open_key(key, KEY_READ);
    if (!k) return std::nullopt;
    DWORD longest_name = 0, longest_data = 0;
    if (const LSTATUS rc = RegQueryInfoKeyA(k->get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            &longest_name, &longest_data, nullptr, nullptr);
        rc != ERROR_SUCCESS) {
      fail_with("list values", rc);
      return std::nullopt;
    }
    std::string name(longest_name + 1, '\0');
    std::string data(std::max<DWORD>(longest_data, 1), '\0');
    std::vector<RegistryValue> out;
    for (DWORD index = 0;; ++index) {
      DWORD name_length = static_cast<DWORD>(name.size());
      DWORD data_length = static_cast<DWORD>(data.size());
      DWORD type = 0;
      const LSTATUS rc = RegEnumValueA(k->get(), index, name.data(), &name_length, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &data_length);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {
        // The value grew since the lengths were read, or a multi-byte code
        // page made its text longer: more room, and the same index again.
        name.resize(name.size() * 2);
        data.resize(std::max<size_t>(data.size() * 2, data_length));
        --index;
        continue;
      }
      if (rc != ERROR_SUCCESS) {
        fail_with("list values", rc);
        return std::nullopt;
      }
      if (auto v = value_of(std::string(name.data(), name_length), type, std::string(data.data(), data_length))) {
        out.push_back(std::move(*v));
      }
    }
    ok();
    return out;
  }

  std::optional<RegistryValue> get_value(std::string_view key, std::string_view name) override {
    if (!plain_name(name)) return std::nullopt;
    auto k = open_key(key, KEY_QUERY_VALUE);
    if (!k) return std::nullopt;
    const std::string value_name(name);
    std::string data(64, '\0');
    for (;;) {
      DWORD type = 0;
      DWORD length = static_cast<DWORD>(data.size());
      const LSTATUS rc = RegQueryValueExA(k->get(), value_name.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(data.data()), &length);
      if (rc == ERROR_MORE_DATA) {
        data.resize(std::max<size_t>(length, data.size() * 2));
        continue;
      }
      if (rc == ERROR_FILE_NOT_FOUND) {
        fail("");
        return std::nullopt;
      }
      if (rc != ERROR_SUCCESS) {
        fail_with("read value", rc);
        return std::nullopt;
      }
      data.resize(length);
      ok();
      return value_of(stored_name(k->get(), value_name), type, std::move(data));
    }
  }

  bool set_value(std::string_view key, const RegistryValue& value) override {
    if (!plain_name(value.name)) return fail("");
    auto k = open_key(key, KEY_SET_VALUE);
    if (!k) return false;
    std::string bytes = value.data;
    DWORD type = REG_DWORD;
    if (value.type == RegistryType::sz) {
      type = REG_SZ;
      bytes.push_back('\0');  // the registry's readers expect the terminator
    } else if (bytes.size() != 4) {
      return fail("a REG_DWORD value has 4 bytes");
    }
    const LSTATUS rc = RegSetValueExA(k->get(), value.name.c_str(), 0, type,
                                      reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) return fail_with("write value", rc);
    return ok();
  }

  bool delete_value(std::string_view key, std::string_view name) override {
    if (!plain_name(name)) return fail("");
    auto k = open_key(key, KEY_SET_VALUE);
    if (!k) return false;
    const LSTATUS rc = RegDeleteValueA(k->get(), std::string(name).c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return fail("");
    if (rc != ERROR_SUCCESS) return fail_with("delete value", rc);
    return ok();
  }

  std::string last_error() const override { return error_; }

 private:
  bool ok() {
    error_.clear();
    return true;
  }
  bool fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  bool fail_with(const char* operation, LSTATUS code) {
    return fail(win32::system_error_of(operation, static_cast<uint32_t>(code)).message());
  }

  // Value names, like key levels, hold no zero byte (see split_key_path).
  static bool plain_name(std::string_view name) { return name.find('\0') == std::string_view::npos; }

  // The name of an existing value as it was created (the query finds it
  // whatever the case of the name asked for); `asked` when it cannot be read.
  static std::string stored_name(HKEY key, const std::string& asked) {
    std::string name(asked.size() + 1, '\0');  // a name that matches is as long as the one asked for
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS rc = RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_MORE_DATA) continue;  // longer: another value
      if (rc != ERROR_SUCCESS) return asked;
      if (length == asked.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(),
                                                   static_cast<int>(length), asked.data(),
                                                   static_cast<int>(length)) == CSTR_EQUAL) {
        return std::string(name.data(), length);
      }
    }
  }

  // The path below the root as the registry takes it; nullopt for a path
  // the store refuses.
  static std::optional<std::string> checked_path(std::string_view key) {
    if (!split_key_path(key)) return std::nullopt;
    return std::string(key);
  }

  // The key opened with `access`; nullopt (and last_error()) when it is
  // missing or cannot be opened.
  std::optional<Key> open_key(std::string_view key, REGSAM access) {
    auto path = checked_path(key);
    if (!path) {
      fail("");
      return std::nullopt;
    }
    if (path->empty()) return Key(root_, false);
    HKEY handle = nullptr;
    const LSTATUS rc = RegOpenKeyExA(root_, path->c_str(), 0, access, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) {
      fail("");
      return std::nullopt;
    }
    if (rc != ERROR_SUCCESS) {
      fail_with("open key", rc);
      return std::nullopt;
    }
    return Key(handle, true);
  }

  HKEY root_;  // predefined: never closed
  std::string error_;
};

HKEY root_key(RegistryRoot root) {
  return root == RegistryRoot::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

std::string SettingsStore::store_file_path(RegistryRoot root) {
  return root == RegistryRoot::current_user ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::unique_ptr<SettingsStore> SettingsStore::open(RegistryRoot root, std::string* /*error*/) {
  // The predefined root keys are always there; a refused access shows in
  // the calls (last_error()).
  return std::make_unique<RegistryStore>(root_key(root));
}

std::unique_ptr<SettingsStore> SettingsStore::open_file(const std::string& path, std::string* error) {
  // The registry keeps its hives itself; a store file of one's own has no
  // place in it (an application hive, RegLoadAppKey, is a stub under Wine).
  if (error) *error = win32::system_error_of("open " + path, ERROR_NOT_SUPPORTED).message();
  return nullptr;
}

}  // namespace lyralink::platform
