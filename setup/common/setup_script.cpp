// SPDX-License-Identifier: LGPL-2.1-or-later
#include "setup/common/setup_script.h"

#include <cctype>

namespace lyralink::setup {

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string cut_text(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  size_t n = max_bytes;
  // Back off from continuation bytes (10xxxxxx) to the start of their sequence.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

ProfileText ProfileText::parse(std::string_view text) {
  ProfileText profile;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  Section* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      if (close == std::string_view::npos) {
        current = nullptr;
        continue;
      }
      std::string_view name = trim(line.substr(1, close - 1));
      current = nullptr;
      for (auto& s : profile.sections_) {
        if (same_ignoring_case(s.name, name)) current = &s;
      }
      if (current == nullptr) {
        profile.sections_.push_back({std::string(name), {}});
        current = &profile.sections_.back();
      }
      continue;
    }
    size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    std::string_view key = trim(line.substr(0, eq));
    std::string_view value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (key.empty()) continue;
    bool known = false;
    for (const auto& e : current->entries) known = known || same_ignoring_case(e.key, key);
    if (!known) current->entries.push_back({std::string(key), std::string(value)});
  }
  return profile;
}

std::optional<std::string> ProfileText::value(std::string_view section, std::string_view key,
                                              size_t max_length) const {
  for (const auto& s : sections_) {
    if (!same_ignoring_case(s.name, section)) continue;
    for (const auto& e : s.entries) {
      if (same_ignoring_case(e.key, key)) return cut_text(e.value, max_length);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::vector<std::string> ProfileText::numbered(std::string_view section, std::string_view key,
                                               size_t max_length) const {
  std::vector<std::string> values;
  for (unsigned n = 1;; ++n) {
    auto v = value(section, std::string(key) + std::to_string(n), max_length);
    if (!v || v->empty()) break;
    values.push_back(std::move(*v));
  }
  return values;
}

std::optional<SetupScript> read_setup_script(const ProfileText& profile) {
  SetupScript script;
  auto required = [&](std::string_view key, size_t length, std::string& out) {
    auto v = profile.value("Setup", key, length);
    if (!v || v->empty()) return false;
    out = std::move(*v);
    return true;
  };
  if (!required("Title", kShortText, script.title) || !required("DefaultDir", kPathText, script.default_dir) ||
      !required("Uninstall", kShortText, script.uninstall_name) ||
      !required("Version", kVersionText, script.version)) {
    return std::nullopt;
  }
  auto registry = profile.value("Setup", "Registry", kShortText);
  if (registry == "clear") script.registry = RegistryMode::clear;
  if (registry == "keep") script.registry = RegistryMode::keep;
  auto publisher = profile.value("Setup", "Publisher", kShortText);
  script.publisher = publisher && !publisher->empty() ? *publisher : "Veltra GmbH";

  auto conditions = profile.numbered("Conditions", "Condition", kPathText);
  for (size_t i = 0; i < conditions.size(); ++i) {
    auto text = profile.value("Conditions", "Text" + std::to_string(i + 1), kPathText);
    script.conditions.push_back({conditions[i], text.value_or("")});
  }
  script.files = profile.numbered("Files", "File", kPathText);
  script.directories = profile.numbered("Directories", "Directory", kPathText);
  script.registry_entries = profile.numbered("Registry", "Entry", kPathText);
  auto group = profile.value("ShellLinks", "Group", kGroupText);
  if (group && !group->empty()) script.group = *group;
  script.links = profile.numbered("ShellLinks", "Link", kPathText);
  script.executes = profile.numbered("Execute", "Execute", kPathText);
  script.closing_words = profile.value("ClosingWords", "Text", kPathText);
  return script;
}

std::string message_text(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace lyralink::setup
