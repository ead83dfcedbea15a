// SPDX-License-Identifier: LGPL-2.1-or-later
// lyrareg: the settings store (lyralink's registry) from the shell.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace {

using lyralink::platform::RegistryRoot;
using lyralink::platform::RegistryType;
using lyralink::platform::RegistryValue;
using lyralink::platform::SettingsStore;

constexpr int kExitMissing = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "Usage: lyrareg get KEY NAME\n"
    "  or:  lyrareg set KEY NAME --sz TEXT | --dword N\n"
    "  or:  lyrareg list KEY\n"
    "  or:  lyrareg delete KEY [NAME]\n"
    "  or:  lyrareg --help\n"
    "Reads and writes the settings store of lyralink.\n"
    "\n"
    "  get          print the value NAME of KEY\n"
    "  set          write the value NAME into KEY (made when missing): a text\n"
    "               (--sz) or a 32-bit number (--dword, decimal, 0x hex or 0 octal)\n"
    "  list         the values of KEY (name, type, data), then its subkeys\n"
    "  delete       the value NAME of KEY; without NAME, KEY and all below it\n"
    "  -h, --help   show this text\n"
    "\n"
    "KEY is a root (HKEY_CURRENT_USER or HKCU, HKEY_LOCAL_MACHINE or HKLM) and a\n"
    "path joined by backslashes, e.g. 'HKCU\\Software\\LYRALINK\\Special IPs'.\n"
    "Names compare without regard to letter case; \"\" is the key's default value.\n"
    "The store lives in $LYRALINK_REGISTRY_DIR (user.db, machine.db) when set.\n"
    "Exit status: 0 done, 1 key or value missing (or the store failed), 2 usage.\n";

int usage_error(const char* why) {
  std::fprintf(stderr, "lyrareg: %s\n%s", why, kUsage);
  return kExitUsage;
}

bool equals_nocase(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

struct KeyName {
  RegistryRoot root;
  std::string path;  // below the root, "" for the root itself
};

std::optional<KeyName> parse_key(const std::string& key) {
  size_t slash = key.find('\\');
  std::string root = key.substr(0, slash);
  std::string path = slash == std::string::npos ? "" : key.substr(slash + 1);
  KeyName out{};
  if (equals_nocase(root, "HKEY_CURRENT_USER") || equals_nocase(root, "HKCU"))
    out.root = RegistryRoot::current_user;
  else if (equals_nocase(root, "HKEY_LOCAL_MACHINE") || equals_nocase(root, "HKLM"))
    out.root = RegistryRoot::local_machine;
  else
    return std::nullopt;
  // A trailing backslash after the root alone ("HKCU\") still means the root.
  if (slash != std::string::npos && path.empty()) return out;
  if (!path.empty() && !lyralink::platform::split_key_path(path)) return std::nullopt;
  out.path = path;
  return out;
}

std::optional<uint32_t> parse_dword(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  char* end = nullptr;
  // A number beyond unsigned long long comes back as ULLONG_MAX, which the
  // range check refuses.
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (end == text.c_str() || *end != '\0' || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

void print_value(const RegistryValue& v) {
  if (v.type == RegistryType::dword)
    std::printf("%u", v.as_dword());
  else
    std::fwrite(v.data.data(), 1, v.data.size(), stdout);
}

std::unique_ptr<SettingsStore> open_store(RegistryRoot root) {
  std::string error;
  auto store = SettingsStore::open(root, &error);
  if (!store) std::fprintf(stderr, "lyrareg: %s\n", error.c_str());
  return store;
}

int missing(const std::string& what) {
  std::fprintf(stderr, "lyrareg: %s not found\n", what.c_str());
  return kExitMissing;
}

int run(const std::vector<std::string>& args) {
  if (args.empty()) return usage_error("no command");
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() < 2) return usage_error("no KEY");
  auto key = parse_key(args[1]);
  if (!key) return usage_error(("not a key: " + args[1]).c_str());

  if (cmd == "get") {
    if (args.size() != 3) return usage_error("get takes KEY NAME");
    auto store = open_store(key->root);
    if (!store) return kExitMissing;
    auto v = store->get_value(key->path, args[2]);
    if (!v) return missing(store->key_exists(key->path) ? "value '" + args[2] + "'" : "key " + args[1]);
    print_value(*v);
    std::putchar('\n');
    return 0;
  }
  if (cmd == "set") {
    if (args.size() != 5) return usage_error("set takes KEY NAME --sz TEXT or --dword N");
    RegistryValue value;
    if (args[3] == "--sz") {
      value = RegistryValue::string(args[2], args[4]);
    } else if (args[3] == "--dword") {
      auto n = parse_dword(args[4]);
      if (!n) return usage_error(("not a 32-bit number: " + args[4]).c_str());
      value = RegistryValue::dword(args[2], *n);
    } else {
      return usage_error("set needs --sz or --dword");
    }
    auto store = open_store(key->root);
    if (!store) return kExitMissing;
    if (!store->create_key(key->path) || !store->set_value(key->path, value)) {
      std::fprintf(stderr, "lyrareg: cannot write %s: %s\n", args[1].c_str(), store->last_error().c_str());
      return kExitMissing;
    }
    return 0;
  }
  if (cmd == "list") {
    if (args.size() != 2) return usage_error("list takes KEY");
    auto store = open_store(key->root);
    if (!store) return kExitMissing;
    auto values = store->values(key->path);
    auto subkeys = store->subkeys(key->path);
    if (!values || !subkeys) return missing("key " + args[1]);
    for (const auto& v : *values) {
      std::fwrite(v.name.data(), 1, v.name.size(), stdout);
      std::printf("\t%s\t", v.type == RegistryType::dword ? "REG_DWORD" : "REG_SZ");
      print_value(v);
      std::putchar('\n');
    }
    std::string prefix = args[1];
    if (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
    for (const auto& s : *subkeys) std::printf("%s\\%s\n", prefix.c_str(), s.c_str());
    return 0;
  }
  if (cmd == "delete") {
    if (args.size() != 2 && args.size() != 3) return usage_error("delete takes KEY [NAME]");
    auto store = open_store(key->root);
    if (!store) return kExitMissing;
    if (args.size() == 3) {
      if (!store->delete_value(key->path, args[2]))
        return missing(store->key_exists(key->path) ? "value '" + args[2] + "'" : "key " + args[1]);
      return 0;
    }
    if (key->path.empty()) return usage_error("a root key cannot be deleted");
    if (!store->delete_key(key->path, true)) return missing("key " + args[1]);
    return 0;
  }
  return usage_error(("unknown command: " + cmd).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return run(args);
}
