#include "setup/common/removal_script.h"

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

RemovalScript::RemovalScript(std::optional<std::string> remover_path, bool wait_for_remover)
    : remover_path_(std::move(remover_path)), wait_for_remover_(wait_for_remover) {}

void RemovalScript::add_directory(const std::string& directory) { directories_.push_back(directory); }

std::string RemovalScript::text(const std::string& script_path) const {
  std::string s = "#!/bin/sh\n# Left by remover: takes off what it could not remove while it ran.\n";
  if (wait_for_remover_) {
    s += "# Standard input ends when remover has ended.\ncat >/dev/null 2>&1\n";
  }
  if (remover_path_) {
    std::string p = shell_quote(*remover_path_);
    // Bounded: a file that cannot be deleted must not keep the script alive.
    s += "i=0\nwhile { [ -e " + p + " ] || [ -L " + p + " ]; } && [ \"$i\" -lt 50 ]; do\n";
    s += "  rm -f -- " + p + " 2>/dev/null || sleep 0.1\n  i=$((i + 1))\ndone\n";
  }
  for (const auto& d : directories_) {
    std::string q = shell_quote(d);
    s += "\nif [ -d " + q + " ]; then rmdir -- " + q + " 2>/dev/null; fi\n";
  }
  s += "rm -f -- " + shell_quote(script_path) + "\n";
  return s;
}

}  // namespace lyralink::setup
