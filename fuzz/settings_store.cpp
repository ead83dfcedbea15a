// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings store's key and value paths, and the registry texts of the
// setup programs that lead to them: key paths of any bytes (backslashes,
// empty levels, zeros, letters of either case) through the real store (its
// SQLite database kept in memory here), and "Entry%u" values, RegKey and RegValue arguments through their
// parsers into the store as install writes them.
//
// One store for the whole run; each input starts from an empty store.
// Operations, at most 2 an input, on keys of at most 4 levels (every level
// costs SQLite statements; more of either would only make the run slower,
// not reach other code; a deeper key is still split):
//   u8 operation, then its texts (u8 length, bytes) and numbers:
//   0 create_key K          1 key_exists K        2 set_value K NAME TEXT
//   3 set_value K NAME u32  4 get_value K NAME    5 values K
//   6 subkeys K             7 delete_value K NAME 8 delete_key K u8
//   9 a registry entry TEXT as install writes it
//   10 a RegKey argument TEXT and a RegValue argument TEXT, as remover
//      undoes them
// A value written reads back unchanged: type, every byte, and its name up
// to letter case (a value keeps the case it was created with).
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "fuzz/script.h"
#include "platform/settings_store.h"
#include "setup/common/registry_entry.h"

using namespace lyralink;
using platform::RegistryValue;
using platform::SettingsStore;

extern "C" {
// glibc's allocator under its own names, which the sanitizer leaves alone.
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_realloc(void*, size_t);
}

namespace {

// Each block carries its size in front (SQLite asks for it).
constexpr size_t kHead = 16;
void* plain_malloc(int n) {
  auto* p = static_cast<uint8_t*>(__libc_malloc(static_cast<size_t>(n) + kHead));
  if (p == nullptr) return nullptr;
  *reinterpret_cast<size_t*>(p) = static_cast<size_t>(n);
  return p + kHead;
}
void plain_free(void* p) {
  if (p != nullptr) __libc_free(static_cast<uint8_t*>(p) - kHead);
}
int plain_size(void* p) { return p == nullptr ? 0 : static_cast<int>(*reinterpret_cast<size_t*>(static_cast<uint8_t*>(p) - kHead)); }
void* plain_realloc(void* p, int n) {
  if (p == nullptr) return plain_malloc(n);
  auto* q = static_cast<uint8_t*>(__libc_realloc(static_cast<uint8_t*>(p) - kHead, static_cast<size_t>(n) + kHead));
  if (q == nullptr) return nullptr;
  *reinterpret_cast<size_t*>(q) = static_cast<size_t>(n);
  return q + kHead;
}

// The store in a SQLite database in memory: the same code on the same
// schema as a file, without the file system's cost for every write (the
// fuzzer makes hundreds of thousands of them). SettingsStore::open_file
// creates the file it is given before SQLite opens it, so the name
// ":memory:" leaves an empty file behind: in a directory of its own, which
// is removed at the end.
struct StoreFile {
  std::string directory;
  std::unique_ptr<SettingsStore> store;
  StoreFile() {
    // SQLite's memory from the C library's allocator directly, not through
    // the sanitizer's: SQLite is not instrumented, and a statement costs it
    // dozens of allocations, each of which the sanitizer would record with
    // its stack. The store's own code still runs on the sanitizer's heap.
    static const sqlite3_mem_methods plain = {plain_malloc, plain_free, plain_realloc, plain_size,
                                              [](int n) { return (n + 7) & ~7; },
                                              [](void*) { return SQLITE_OK; },
                                              [](void*) {},
                                              nullptr};
    sqlite3_config(SQLITE_CONFIG_MALLOC, &plain);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/lyralink-fuzz-store-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) lyrafuzz::broken("no temporary directory");
    directory = pattern;
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr || chdir(directory.c_str()) != 0) lyrafuzz::broken("cannot enter the directory");
    std::string error;
    store = SettingsStore::open_file(":memory:", &error);
    if (chdir(here) != 0) lyrafuzz::broken("cannot return from the directory");
    if (!store) lyrafuzz::broken(error.c_str());
  }
  ~StoreFile() {
    store.reset();
    ::unlink((directory + "/:memory:").c_str());
    ::rmdir(directory.c_str());
  }
};

void written_as_read(SettingsStore& store, std::string_view key, const RegistryValue& v) {
  if (!store.set_value(key, v)) return;
  auto back = store.get_value(key, v.name);
  if (!back) lyrafuzz::broken("a value written cannot be read back");
  if (back->type != v.type || back->data != v.data) lyrafuzz::broken("a value reads back changed");
  auto lower = [](std::string t) {
    for (char& c : t) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return t;
  };
  if (lower(back->name) != lower(v.name)) lyrafuzz::broken("a value's name reads back changed");
}

void empty_store(SettingsStore& store) {
  if (auto keys = store.subkeys("")) {
    for (const auto& k : *keys) (void)store.delete_key(k, true);
  }
  if (auto values = store.values("")) {
    for (const auto& v : *values) (void)store.delete_value("", v.name);
  }
}

void write_entry(SettingsStore& store, const setup::RegistryEntry& entry) {
  for (const auto& prefix : setup::key_prefixes(entry.key_path)) {
    if (!store.key_exists(prefix)) (void)store.create_key(prefix);
  }
  if (entry.type == setup::EntryValueType::sz) written_as_read(store, entry.key_path, RegistryValue::string(entry.name, entry.text));
  if (entry.type == setup::EntryValueType::dword) written_as_read(store, entry.key_path, RegistryValue::dword(entry.name, entry.number));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static StoreFile file;
  SettingsStore& store = *file.store;
  lyrafuzz::Script in(data, size);
  bool written = false;  // else the store is still empty at the end
  for (int n = 0; n < 2 && !in.done(); ++n) {
    const uint8_t op = in.u8() % 11;
    const std::string key = in.text();
    if (auto levels = platform::split_key_path(key); levels && levels->size() > 4 && op != 9 && op != 10) continue;
    written = written || op == 0 || op == 2 || op == 3 || op == 9;
    switch (op) {
      case 0:
        if (store.create_key(key) && !store.key_exists(key)) lyrafuzz::broken("a created key is missing");
        break;
      case 1: (void)store.key_exists(key); break;
      case 2: {
        std::string name = in.text();
        written_as_read(store, key, RegistryValue::string(std::move(name), in.text()));
        break;
      }
      case 3: {
        std::string name = in.text();
        written_as_read(store, key, RegistryValue::dword(std::move(name), in.u32()));
        break;
      }
      case 4: (void)store.get_value(key, in.text()); break;
      case 5: (void)store.values(key); break;
      case 6: (void)store.subkeys(key); break;
      case 7: (void)store.delete_value(key, in.text()); break;
      case 8: (void)store.delete_key(key, (in.u8() & 1) != 0); break;
      case 9:
        if (auto entry = setup::parse_registry_entry(key)) {
          auto levels = platform::split_key_path(entry->key_path);
          if (!levels) lyrafuzz::broken("an entry's key path has an empty level");
          if (levels->size() <= 4) write_entry(store, *entry);
        }
        break;
      case 10: {
        if (auto k = setup::parse_key_argument(key)) (void)store.delete_key(k->path, false);
        if (auto v = setup::parse_value_argument(in.text())) (void)store.delete_value(v->key_path, v->name);
        break;
      }
    }
  }
  if (written) empty_store(store);
  return 0;
}
