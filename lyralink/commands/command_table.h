/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The command name table of the generic command entry: which names run
// which command code, and how the entry's six numbers are packed.
#include <cstddef>
#include <span>
#include <string_view>

#include "lyralink/commands/packing.h"

namespace lyralink::commands {

struct CommandRow {
  // Rows 1-40 accept a short name and the same name with "CMD_" or
  // "CMD_SET_" in front; rows 41-78 only the long one (short is empty).
  std::string_view short_name;
  std::string_view long_name;
  Command command;
};

// The 78 rows in table order.
std::span<const CommandRow> command_table();

// True when `a` and `b` are the same string ignoring ASCII letter case
// (and nothing else: no blanks are trimmed, no locale is consulted).
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

// The first row that accepts `name`, or null. A null name matches nothing.
const CommandRow* find_command_row(const char* name);

}  // namespace lyralink::commands
