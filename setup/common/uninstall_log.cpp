// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/uninstall_log.h"

#include <array>
#include <cstdio>

namespace lyralink::setup {

namespace {

struct KeywordRow {
  ActionKind kind;
  std::string_view keyword;
};

// The order in which a reader tests the keywords.
constexpr std::array<KeywordRow, 7> kKeywords = {{
    {ActionKind::shared_file, "SharedFile:"},
    {ActionKind::private_file, "PrivateFile:"},
    {ActionKind::shell_link, "ShellLink:"},
    {ActionKind::create_dir, "CreateDir:"},
    {ActionKind::reg_app, "RegApp:"},
    {ActionKind::reg_key, "RegKey:"},
    {ActionKind::reg_value, "RegValue:"},
}};

constexpr std::string_view kActionMark = "ACTION:";
constexpr std::string_view kTitleMark = "TITLE:";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

size_t skip_blanks(std::string_view s, size_t pos) {
  while (pos < s.size() && is_blank(s[pos])) ++pos;
  return pos;
}

}  // namespace

std::string_view action_keyword(ActionKind kind) {
  for (const auto& row : kKeywords) {
    if (row.kind == kind) return row.keyword;
  }
  return {};
}

std::string log_header() {
  return "!!! PLEASE DO NOT MODIFY OR DELETE THIS FILE !!!\n\n"
         "This file contains information about the installation of an application.\n"
         "It will be used to automatically remove all application components from\n"
         "your computer if you choose to do so.\n\n\n";
}

std::string title_line(std::string_view title) { return "TITLE: " + std::string(title) + "\n\n"; }

std::string action_line(ActionKind kind, std::string_view argument) {
  return "ACTION: " + std::string(action_keyword(kind)) + " " + std::string(argument) + "\n\n";
}

std::string to_disk_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string normalise_line_ends(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

ParsedLog parse_log(std::string_view raw) {
  std::string text = normalise_line_ends(raw);
  std::string_view all(text);
  ParsedLog log;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find('\n', pos);
    bool ended = end != std::string_view::npos;
    if (!ended) end = all.size();
    std::string_view line = all.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a CR without its LF at the very end
    if (line.substr(0, kTitleMark.size()) == kTitleMark) {
      if (!log.title) {
        log.title = std::string(line.substr(skip_blanks(line, kTitleMark.size())));
        log.title_ended = ended;
      }
      continue;
    }
    if (line.substr(0, kActionMark.size()) != kActionMark) continue;
    size_t at = skip_blanks(line, kActionMark.size());
    for (const auto& row : kKeywords) {
      if (line.substr(at, row.keyword.size()) == row.keyword) {
        log.actions.push_back({row.kind, std::string(line.substr(skip_blanks(line, at + row.keyword.size())))});
        break;
      }
    }
  }
  return log;
}

std::string uninstall_window_title(const ParsedLog& log) {
  if (!log.title || !log.title_ended || log.title->size() >= 40) return "Uninstall";
  return "Uninstall " + *log.title;
}

std::string log_path_from_command_line(std::string_view command_line) {
  size_t first = command_line.find('"');
  if (first == std::string_view::npos) return std::string(command_line);
  size_t last = command_line.rfind('"');
  if (last <= first) return {};
  return std::string(command_line.substr(first + 1, last - first - 1));
}

std::string uninstall_string(std::string_view application_path, std::string_view log_path) {
  return std::string(application_path) + "/remover \"" + std::string(log_path) + "\"";
}

std::optional<UninstallCommand> parse_uninstall_string(std::string_view text) {
  size_t first = text.find('"');
  if (first == std::string_view::npos) return std::nullopt;
  UninstallCommand command;
  command.log_path = log_path_from_command_line(text);
  std::string_view before = text.substr(0, first);
  while (!before.empty() && is_blank(before.back())) before.remove_suffix(1);
  command.remover_path = std::string(before);
  return command;
}

std::string log_file_name(unsigned number) {
  char name[32];
  std::snprintf(name, sizeof name, "uninst%02u.log", number);
  return name;
}

}  // namespace lyralink::setup
