/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Menu entries: freedesktop .desktop files in place of shortcuts.
#include <string>
#include <string_view>

namespace lyralink::setup {

// One argument of an Exec key, quoted by the desktop-entry rules: in double
// quotes, with " ` $ \ escaped by a backslash, and % written as %%.
std::string quote_exec_argument(std::string_view argument);
// A string value with the desktop-entry escapes (\\ \n \t \r, and \s for a
// leading blank).
std::string escape_desktop_value(std::string_view value);

// The file of a link: Type=Application, Name and Comment = name, Exec =
// the quoted target and (when not empty) the arguments as exactly one more
// argument, Path = working directory (left out when empty).
std::string desktop_entry_text(std::string_view name, std::string_view target, std::string_view arguments,
                               std::string_view working_directory);

}  // namespace lyralink::setup
