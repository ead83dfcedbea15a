/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The setup script install.lst: an INI file read the way the platform's
// private-profile functions read it, and the keys install takes from it.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lyralink::setup {

// An INI text. Section and key names compare without regard to letter case;
// sections of one name read as one, and the first key of a name counts.
// Values lose their surrounding blanks and one pair of enclosing quotes
// ('…' or "…"). Lines starting with ';' are comments; lines without '=' are
// skipped.
class ProfileText {
 public:
  static ProfileText parse(std::string_view text);

  // The value, cut to max_length bytes (never inside a UTF-8 sequence);
  // nullopt when the section or key is missing.
  std::optional<std::string> value(std::string_view section, std::string_view key, size_t max_length) const;
  // key1, key2, ... up to the first number whose value is missing or empty.
  std::vector<std::string> numbered(std::string_view section, std::string_view key, size_t max_length) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

// Longest values read, by key.
constexpr size_t kShortText = 49;     // Title, Uninstall, Registry, Publisher
constexpr size_t kPathText = 259;     // DefaultDir and the numbered entries
constexpr size_t kVersionText = 15;   // Version
constexpr size_t kGroupText = 62;     // ShellLinks Group

enum class RegistryMode { neither, clear, keep };

struct Condition {
  std::string path;  // as written (expanded when it begins with '$')
  std::string text;  // message when it fails, "\n" pairs not yet replaced
};

struct SetupScript {
  std::string title;
  std::string default_dir;
  std::string uninstall_name;
  std::string version;
  RegistryMode registry = RegistryMode::neither;
  std::string publisher;
  std::vector<Condition> conditions;
  std::vector<std::string> files;
  std::vector<std::string> directories;
  std::vector<std::string> registry_entries;
  std::optional<std::string> group;  // missing or empty: no shortcuts
  std::vector<std::string> links;
  std::vector<std::string> executes;
  std::optional<std::string> closing_words;
};

// The script, or nullopt when Title, DefaultDir, Uninstall or Version is
// missing or empty.
std::optional<SetupScript> read_setup_script(const ProfileText& profile);

// The two characters backslash and n in a message become a line break.
std::string message_text(std::string_view text);

// Cuts `text` to at most max_bytes without splitting a UTF-8 sequence.
std::string cut_text(std::string_view text, size_t max_bytes);

// ASCII comparison without regard to case, as section, key and registry
// key names compare.
bool same_ignoring_case(std::string_view a, std::string_view b);

}  // namespace lyralink::setup
