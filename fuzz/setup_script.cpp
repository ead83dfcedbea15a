// SPDX-License-Identifier: LGPL-2.1-or-later
// The setup script install.lst, as install reads it: the INI text, the
// keys taken from it (bounded, never cut inside a UTF-8 sequence), the
// path macros of each key expanded the way install expands that key, the
// registry entries, and the menu entries written from the Link keys.
//
// The input is the script itself. The macros expand in a fixed context:
// $AppPath, $ProgramFiles and the log are known, $OtherApp(n) finds the
// programs "sh" and "lyractl" only.
#include <string_view>

#include "fuzz/script.h"
#include "setup/common/desktop_entry.h"
#include "setup/common/path_macros.h"
#include "setup/common/registry_entry.h"
#include "setup/common/setup_script.h"

using namespace lyralink::setup;

namespace {

const MacroContext& context() {
  static const MacroContext c = [] {
    MacroContext m;
    m.system_directory = "/usr/lib";
    m.windows_directory = "/etc";
    m.other_app = [](const std::string& name) -> std::optional<std::string> {
      if (name == "sh") return std::string("/bin/sh");
      if (name == "lyractl") return std::string("/usr/bin/lyractl");
      return std::nullopt;
    };
    m.program_files = "/opt";
    m.application_path = "/opt/Lyra Tools";
    m.log_path = "/opt/Lyra Tools/uninst00.log";
    return m;
  }();
  return c;
}

// A value as the script reader hands it on: at most max bytes.
void bounded(const std::string& value, size_t max) {
  if (value.size() > max) lyrafuzz::broken("a key's value longer than its bound");
}

// A cut text is a prefix of at most max bytes that does not end inside a
// UTF-8 sequence: the byte after it starts a sequence (or the text ends).
void check_cut(std::string_view text, size_t max) {
  const std::string cut = cut_text(text, max);
  if (cut.size() > max || text.substr(0, cut.size()) != cut) lyrafuzz::broken("cut_text is no bounded prefix");
  if (cut.size() < text.size() && !cut.empty() && (static_cast<uint8_t>(text[cut.size()]) & 0xC0) == 0x80) {
    lyrafuzz::broken("cut_text cut inside a UTF-8 sequence");
  }
}

// Splits at the first three commas, as install does for a Link value.
void menu_entry(const std::string& expanded) {
  const size_t c1 = expanded.find(',');
  const size_t c2 = c1 == std::string::npos ? c1 : expanded.find(',', c1 + 1);
  const size_t c3 = c2 == std::string::npos ? c2 : expanded.find(',', c2 + 1);
  if (c3 == std::string::npos) return;
  const std::string text = desktop_entry_text(expanded.substr(0, c1), expanded.substr(c1 + 1, c2 - c1 - 1),
                                              expanded.substr(c2 + 1, c3 - c2 - 1), expanded.substr(c3 + 1));
  // A line break inside a value would add a key of the script's choosing.
  size_t lines = 0;
  for (char ch : text) lines += ch == '\n' ? 1 : 0;
  const size_t expected = expanded.size() == c3 + 1 ? 5 : 6;
  if (lines != expected) lyrafuzz::broken("a menu entry value broke its line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (size_t max : {kShortText, kVersionText, kGroupText}) check_cut(text, max);
  const ProfileText profile = ProfileText::parse(text);
  for (const char* key : {"Title", "DefaultDir", "Uninstall", "Version", "Registry", "Publisher"}) {
    if (auto v = profile.value("Setup", key, kShortText)) bounded(*v, kShortText);
  }
  for (const auto& v : profile.numbered("Files", "File", kPathText)) bounded(v, kPathText);

  const auto script = read_setup_script(profile);
  if (!script) return 0;
  const MacroContext& c = context();
  (void)expand_leading_macro(script->default_dir, c);
  for (const auto& d : script->directories) (void)expand_leading_macro(d, c);
  for (const auto& condition : script->conditions) {
    (void)expand_leading_macro(condition.path, c);
    (void)message_text(condition.text);
  }
  for (const auto& f : script->files) (void)expand_first_macro(f, c);
  for (const auto& entry : script->registry_entries) {
    if (auto e = parse_registry_entry(entry)) (void)key_prefixes(e->key_path);
  }
  for (const auto& link : script->links) {
    if (auto expanded = expand_every_macro(link, c)) menu_entry(*expanded);
  }
  if (script->closing_words) (void)expand_every_macro(message_text(*script->closing_words), c);
  for (const auto& line : script->executes) check_cut(line, kShortText);
  return 0;
}
