// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/removal_script.h"

#include <utility>

#include "setup/common/log_trust.h"

namespace lyralink::setup {

std::string shell_quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  out += "'";
  return out;
}

namespace {

// "inside DIR": enters DIR and succeeds only when the system names the
// directory now entered DIR itself, so that no level of DIR was a symbolic
// link. The "." keeps a trailing newline of a name from being cut off by
// the command substitution.
constexpr const char* kInsideFunction =
    "inside() {\n"
    "  cd -P -- \"$1\" 2>/dev/null || return 1\n"
    "  here=$(pwd -P && echo .) || return 1\n"
    "  [ \"${here%??}\" = \"$1\" ]\n"
    "}\n";

// The directory and the last name of a normal absolute path, quoted.
std::pair<std::string, std::string> quoted_place(const std::string& path) {
  std::string normal = normal_path(path);
  return {shell_quote(directory_of(normal)), shell_quote(normal.substr(normal.rfind('/') + 1))};
}

}  // namespace

RemovalScript::RemovalScript(std::optional<std::string> remover_path, bool wait_for_remover)
    : remover_path_(std::move(remover_path)), wait_for_remover_(wait_for_remover) {}

void RemovalScript::add_directory(const std::string& directory) { directories_.push_back(directory); }

std::string RemovalScript::text(const std::string& script_path) const {
  std::string s = "#!/bin/sh\n# Left by remover: takes off what it could not remove while it ran.\n";
  s += kInsideFunction;
  if (wait_for_remover_) {
    s += "# Standard input ends when remover has ended.\ncat >/dev/null 2>&1\n";
  }
  if (remover_path_) {
    auto [dir, name] = quoted_place(*remover_path_);
    // Bounded: a file that cannot be deleted must not keep the script alive.
    s += "i=0\nwhile ( inside " + dir + " && [ -f " + name + " ] && [ ! -L " + name + " ] ) && [ \"$i\" -lt 50 ]; do\n";
    s += "  ( inside " + dir + " && rm -f -- " + name + " ) 2>/dev/null || sleep 0.1\n  i=$((i + 1))\ndone\n";
  }
  for (const auto& d : directories_) {
    if (normal_path(d) == "/") continue;
    auto [dir, name] = quoted_place(d);
    s += "\n( inside " + dir + " && rmdir -- " + name + " ) 2>/dev/null\n";
  }
  auto [dir, name] = quoted_place(script_path);
  s += "( inside " + dir + " && rm -f -- " + name + " )\n";
  return s;
}

}  // namespace lyralink::setup
