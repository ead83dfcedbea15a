// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/desktop_entry.h"

namespace lyralink::setup {

std::string quote_exec_argument(std::string_view argument) {
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  out += '"';
  return out;
}

std::string escape_desktop_value(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ': out += i == 0 ? "\\s" : " "; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

// Appends "key=value\n". Built by appending only: GCC 12 at -O3 takes
// `"literal" + std::string&&` (an insert at the front) for an overlapping
// memcpy and fails the build with -Werror=restrict.
void add_key(std::string& text, std::string_view key, std::string_view value) {
  text += key;
  text += '=';
  text += escape_desktop_value(value);
  text += '\n';
}

}  // namespace

std::string desktop_entry_text(std::string_view name, std::string_view target, std::string_view arguments,
                               std::string_view working_directory) {
  std::string exec = quote_exec_argument(target);
  if (!arguments.empty()) {
    exec += ' ';
    exec += quote_exec_argument(arguments);
  }
  std::string text = "[Desktop Entry]\nType=Application\n";
  add_key(text, "Name", name);
  add_key(text, "Comment", name);
  // The quoting above is applied first; the value escapes then cover it, so
  // a backslash of the quoting is written as two.
  add_key(text, "Exec", exec);
  if (!working_directory.empty()) add_key(text, "Path", working_directory);
  return text;
}

}  // namespace lyralink::setup
