/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The path macros of setup scripts ($AppPath, $ProgramFiles, ...).
//
// A macro starts at a '$': the text before it stays, and the macro is
// replaced by its expansion followed by the rest of the value ("$OtherApp(…)"
// and "$Uninstall" drop the rest). A '$' that starts no macro fails. The
// macros are tested in this order:
//   $WinSysPath        the system library directory
//   $WinPath           the system configuration directory (/etc)
//   $OtherAppPath(n)   the directory of program n (its path cut at the last '/')
//   $OtherApp(n)       the path of program n; the rest is dropped
//   $AppPath           the application path
//   $ProgramFiles      the program-files directory
//   $Uninstall         "<app>/remover,<log>,<app>"; the rest is dropped
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lyralink::setup {

struct MacroContext {
  std::string system_directory;
  std::string windows_directory;
  // The full path of program `name` (App Paths in the store, else PATH).
  std::function<std::optional<std::string>(const std::string& name)> other_app;
  // nullopt: not available (the expansion fails).
  std::optional<std::string> program_files;
  std::optional<std::string> application_path;
  std::optional<std::string> log_path;
};

// The value with the macro at value[dollar] expanded; `resume` is where
// scanning for the next macro goes on (after the inserted text; npos when
// the rest was dropped). nullopt when the expansion fails.
struct Expanded {
  std::string text;
  size_t resume;
};
std::optional<Expanded> expand_macro_at(std::string_view value, size_t dollar, const MacroContext& context);

// Where each key expands (see the setup guide):
// "Condition%u": only when the value's first character is '$'.
std::optional<std::string> expand_leading_macro(std::string_view value, const MacroContext& context);
// "File%u": the first '$', if any.
std::optional<std::string> expand_first_macro(std::string_view value, const MacroContext& context);
// "Link%u" and the closing words: every '$' of the value as written, left to
// right; text that an expansion inserted is never expanded again.
std::optional<std::string> expand_every_macro(std::string_view value, const MacroContext& context);

}  // namespace lyralink::setup
