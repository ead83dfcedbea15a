/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The uninstall log: what install writes, one line per action, and what
// remover (and install, when it replaces an earlier installation) reads.
//
// The texts below use "\n" for a line end, as the log means them; on disk
// every "\n" is CR LF (to_disk_text). Readers take LF or CR LF.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lyralink::setup {

enum class ActionKind : uint8_t { shared_file, private_file, shell_link, create_dir, reg_app, reg_key, reg_value };

// "SharedFile:", "PrivateFile:", ... : the keyword of a kind.
std::string_view action_keyword(ActionKind kind);

struct LogAction {
  ActionKind kind;
  std::string argument;
  bool operator==(const LogAction&) const = default;
};

// Writing.
std::string log_header();
std::string title_line(std::string_view title);                        // "TITLE: %s\n\n"
std::string action_line(ActionKind kind, std::string_view argument);   // "ACTION: %s %s\n\n"
std::string to_disk_text(std::string_view text);                       // "\n" → "\r\n"

// Reading.
struct ParsedLog {
  // The text after "TITLE:" (leading blanks skipped) up to its line end;
  // nullopt when there is no TITLE line. title_ended is false when the
  // title runs to the end of the file without a line end.
  std::optional<std::string> title;
  bool title_ended = false;
  // Every action, in the order written (undo runs from the back).
  std::vector<LogAction> actions;
};

// CR LF (and a lone CR before LF) become LF.
std::string normalise_line_ends(std::string_view text);
// Finds the actions: lines that begin with "ACTION:", then blanks, then one
// of the keywords (tested in the order SharedFile:, PrivateFile:,
// ShellLink:, CreateDir:, RegApp:, RegKey:, RegValue:), then blanks, then
// the argument up to the line end. Only the start of a line counts, so a
// title or path that happens to hold "ACTION:" is never taken for an
// action. Lines of any other form are not actions.
ParsedLog parse_log(std::string_view text);

// "Uninstall <title>" for a title shorter than 40 characters; "Uninstall"
// otherwise, without a TITLE line, or when the TITLE line has no end.
std::string uninstall_window_title(const ParsedLog& log);

// The log path from remover's command line: with a double quote in it, the
// text from after the first to before the last double quote; else the
// whole line.
std::string log_path_from_command_line(std::string_view command_line);

// The registered uninstall command "<app>/remover "<log>"" and back.
std::string uninstall_string(std::string_view application_path, std::string_view log_path);
struct UninstallCommand {
  std::string remover_path;  // before the first double quote, trailing blanks removed
  std::string log_path;      // between the first and the last double quote
};
// nullopt when the text holds no double quote.
std::optional<UninstallCommand> parse_uninstall_string(std::string_view text);

// "uninst00.log" … "uninst98.log".
constexpr unsigned kLogNumbers = 99;
std::string log_file_name(unsigned number);

}  // namespace lyralink::setup
