/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The rules of the selection dialog and of the head selection dialog, kept
// apart from their widgets so that they are tested without a display.
//
// Both dialogs show list texts of the device list. The lists sort their
// lines, so what the user sees is text order; the selection dialog hands
// back the device-list index of the line chosen, the head selection dialog
// the device address taken out of it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lyralink::dialogs {

// What the dialogs hand back: the selection dialog a device-list index or
// one of the first two, the head selection dialog one of the last two.
inline constexpr int32_t kSelectionCancel = -2;
inline constexpr int32_t kSelectionRedetect = -3;
inline constexpr int32_t kHeadOk = 1;
inline constexpr int32_t kHeadCancel = 2;

// One device-list entry as the selection dialog sees it.
struct DeviceLine {
  std::string text;
  bool applicable = false;
};

// The order of a sorted list box: letters compare without regard to case,
// as in the platform's sorted list boxes; texts that differ only in case
// then compare by their bytes.
bool list_text_less(const std::string& a, const std::string& b);

// The texts in list order; equal texts keep their device-list order.
std::vector<std::string> sorted_list(std::vector<std::string> texts);

// What the selection dialog's controls show, and what its actions give.
class SelectionRules {
 public:
  // The lines in device-list order and the special IP text handed in.
  SelectionRules(std::vector<DeviceLine> lines, std::string special_ip);

  // The upper list (1003): applicable lines, sorted; its first line starts
  // selected. The lower list (1004): all others, sorted.
  const std::vector<std::string>& applicable_list() const { return applicable_; }
  const std::vector<std::string>& inapplicable_list() const { return inapplicable_; }
  const std::string& special_ip() const { return special_ip_; }

  bool box_ticked() const { return box_ticked_; }
  bool select_enabled() const { return select_enabled_; }
  bool applicable_list_enabled() const { return applicable_list_enabled_; }
  bool ip_control_enabled() const { return ip_control_enabled_; }

  // The check box was clicked and is now `ticked`. With lines in the upper
  // list, that list and Select are usable exactly while the box is clear;
  // the IP-address control exactly while it is ticked. True when the
  // IP-address control is to take the keyboard focus.
  bool box_clicked(bool ticked);

  // Confirm with the selected line of the upper list (none: nullopt).
  // The device-list index of the first applicable entry with that text, or
  // nullopt when confirming has no effect (Select disabled, nothing
  // selected, a text that is not in the list).
  std::optional<int32_t> confirm(const std::optional<std::string>& selected_text) const;

  // Redetect: the special IP text handed back. `typed_address` is what the
  // IP-address control reads ("%u.%u.%u.%u"); used only with the box ticked.
  std::string redetect(const std::string& typed_address) const;

 private:
  std::vector<DeviceLine> lines_;
  std::vector<std::string> applicable_;
  std::vector<std::string> inapplicable_;
  std::string special_ip_;
  bool box_ticked_ = false;
  bool select_enabled_ = false;
  bool applicable_list_enabled_ = true;
  bool ip_control_enabled_ = false;
};

// Window titles of the two dialogs.
inline constexpr char kSelectionTitle[] = "Detected Lyra's";
inline constexpr char kHeadSelectionTitle[] = "Detected measuring heads";

// The device address in a head-selection line: the text after the first
// "on" and the character that follows it, cut at " (in use)". A dotted
// address ends at the first blank or tab as well. nullopt when the line has
// no "on", or no address of at most 15 characters follows it (such a line
// cannot be confirmed: a cut address would name another host).
std::optional<std::string> head_line_address(const std::string& text);

class HeadSelectionRules {
 public:
  explicit HeadSelectionRules(std::vector<std::string> texts);

  // The list (1002), sorted; its first line starts selected.
  const std::vector<std::string>& list() const { return list_; }
  // "Detected measuring heads" when line 0 begins with "Trebla", else
  // "Detected Lyra's".
  std::string title() const;
  // The address to store for the selected line, nullopt when confirming
  // has no effect.
  std::optional<std::string> confirm(const std::optional<std::string>& selected_text) const;

 private:
  std::vector<std::string> list_;
};

}  // namespace lyralink::dialogs
