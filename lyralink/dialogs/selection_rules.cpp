// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/dialogs/selection_rules.h"

#include <algorithm>
#include <cctype>

namespace lyralink::dialogs {

namespace {

int fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

constexpr size_t kMaxAddressLength = 15;

}  // namespace

bool list_text_less(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int fa = fold(a[i]);
    int fb = fold(b[i]);
    if (fa != fb) return fa < fb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::vector<std::string> sorted_list(std::vector<std::string> texts) {
  std::stable_sort(texts.begin(), texts.end(), list_text_less);
  return texts;
}

SelectionRules::SelectionRules(std::vector<DeviceLine> lines, std::string special_ip)
    : lines_(std::move(lines)), special_ip_(std::move(special_ip)) {
  std::vector<std::string> upper;
  std::vector<std::string> lower;
  for (const auto& line : lines_) (line.applicable ? upper : lower).push_back(line.text);
  applicable_ = sorted_list(std::move(upper));
  inapplicable_ = sorted_list(std::move(lower));
  // Select is enabled by the first applicable line added, and the first
  // line of the list is selected with it.
  select_enabled_ = !applicable_.empty();
}

bool SelectionRules::box_clicked(bool ticked) {
  box_ticked_ = ticked;
  if (!applicable_.empty()) {
    applicable_list_enabled_ = !ticked;
    select_enabled_ = !ticked;
  }
  ip_control_enabled_ = ticked;
  return ticked;
}

std::optional<int32_t> SelectionRules::confirm(const std::optional<std::string>& selected_text) const {
  if (!select_enabled_ || !applicable_list_enabled_ || !selected_text) return std::nullopt;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].applicable && lines_[i].text == *selected_text) return static_cast<int32_t>(i);
  }
  return std::nullopt;
}

std::string SelectionRules::redetect(const std::string& typed_address) const {
  return box_ticked_ ? typed_address : std::string();
}

std::optional<std::string> head_line_address(const std::string& text) {
  std::string line = text;
  if (size_t in_use = line.find(" (in use)"); in_use != std::string::npos) line.resize(in_use);
  size_t on = line.find("on");
  if (on == std::string::npos) return std::nullopt;
  size_t start = on + 3;  // "on" and the blank after it
  if (start >= line.size()) return std::nullopt;
  std::string address = line.substr(start);
  if (size_t end = address.find_first_of(" \t"); end != std::string::npos) address.resize(end);
  if (address.empty() || address.size() > kMaxAddressLength) return std::nullopt;
  return address;
}

HeadSelectionRules::HeadSelectionRules(std::vector<std::string> texts) : list_(sorted_list(std::move(texts))) {}

std::string HeadSelectionRules::title() const {
  if (!list_.empty() && list_.front().compare(0, 6, "Trebla") == 0) return kHeadSelectionTitle;
  return kSelectionTitle;
}

std::optional<std::string> HeadSelectionRules::confirm(const std::optional<std::string>& selected_text) const {
  if (!selected_text) return std::nullopt;
  if (std::find(list_.begin(), list_.end(), *selected_text) == list_.end()) return std::nullopt;
  return head_line_address(*selected_text);
}

}  // namespace lyralink::dialogs
