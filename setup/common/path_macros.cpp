// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/path_macros.h"

namespace lyralink::setup {

namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

}  // namespace

std::optional<Expanded> expand_macro_at(std::string_view value, size_t dollar, const MacroContext& context) {
  std::string before(value.substr(0, dollar));
  std::string_view macro = value.substr(dollar);
  auto with_rest = [&](const std::string& expansion, std::string_view rest) -> Expanded {
    return {before + expansion + std::string(rest), before.size() + expansion.size()};
  };
  auto named_program = [&](std::string_view head) -> std::optional<std::pair<std::string, std::string_view>> {
    std::string_view after = macro.substr(head.size());
    size_t close = after.find(')');
    if (close == std::string_view::npos || !context.other_app) return std::nullopt;
    auto path = context.other_app(std::string(after.substr(0, close)));
    if (!path) return std::nullopt;
    return std::make_pair(*path, after.substr(close + 1));
  };

  if (starts_with(macro, "$WinSysPath")) return with_rest(context.system_directory, macro.substr(11));
  if (starts_with(macro, "$WinPath")) return with_rest(context.windows_directory, macro.substr(8));
  if (starts_with(macro, "$OtherAppPath(")) {
    auto found = named_program("$OtherAppPath(");
    if (!found) return std::nullopt;
    size_t slash = found->first.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return with_rest(found->first.substr(0, slash), found->second);
  }
  if (starts_with(macro, "$OtherApp(")) {
    auto found = named_program("$OtherApp(");
    if (!found) return std::nullopt;
    return Expanded{before + found->first, std::string::npos};
  }
  if (starts_with(macro, "$AppPath")) {
    if (!context.application_path) return std::nullopt;
    return with_rest(*context.application_path, macro.substr(8));
  }
  if (starts_with(macro, "$ProgramFiles")) {
    if (!context.program_files) return std::nullopt;
    return with_rest(*context.program_files, macro.substr(13));
  }
  if (starts_with(macro, "$Uninstall")) {
    if (!context.application_path || !context.log_path) return std::nullopt;
    const std::string& app = *context.application_path;
    return Expanded{before + app + "/remover," + *context.log_path + "," + app, std::string::npos};
  }
  return std::nullopt;
}

std::optional<std::string> expand_leading_macro(std::string_view value, const MacroContext& context) {
  if (value.empty() || value[0] != '$') return std::string(value);
  auto e = expand_macro_at(value, 0, context);
  if (!e) return std::nullopt;
  return e->text;
}

std::optional<std::string> expand_first_macro(std::string_view value, const MacroContext& context) {
  size_t dollar = value.find('$');
  if (dollar == std::string_view::npos) return std::string(value);
  auto e = expand_macro_at(value, dollar, context);
  if (!e) return std::nullopt;
  return e->text;
}

std::optional<std::string> expand_every_macro(std::string_view value, const MacroContext& context) {
  std::string text(value);
  size_t scan = 0;
  for (;;) {
    size_t dollar = text.find('$', scan);
    if (dollar == std::string::npos) return text;
    auto e = expand_macro_at(text, dollar, context);
    if (!e) return std::nullopt;
    if (e->resume == std::string::npos) return e->text;
    text = std::move(e->text);
    scan = e->resume;
  }
}

}  // namespace lyralink::setup
