// SPDX-License-Identifier: LGPL-2.1-or-later
// The uninstall log as remover reads it (and install, when it replaces an
// earlier installation): line ends, the TITLE line, the actions, the
// window title, and the checks that decide whether a log may be acted on
// at all. Also the two other texts remover gets from outside: its command
// line and the registered uninstall command.
//
//   u8   flags: bit 0 the log belongs to another user, bit 1 to root,
//        bit 2 group-writable, bit 3 other-writable
//   then the log file's bytes (also read as a command line and as an
//   uninstall command).
// Every action read is written back the way install writes it and read
// again: the same actions in the same order, and the same title.
#include <string_view>

#include "fuzz/script.h"
#include "setup/common/log_trust.h"
#include "setup/common/uninstall_log.h"

using namespace lyralink::setup;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lyrafuzz::Script in(data, size);
  const uint8_t flags = in.u8();
  const auto bytes = in.rest();
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  const ParsedLog log = parse_log(text);
  (void)uninstall_window_title(log);
  constexpr unsigned kUser = 1000;
  const unsigned owner = (flags & 2) != 0 ? 0 : (flags & 1) != 0 ? 1001 : kUser;
  const uint32_t mode = 0600 | ((flags & 4) != 0 ? 020u : 0u) | ((flags & 8) != 0 ? 002u : 0u);
  const auto refusal = log_refusal("/home/user/app/uninst00.log", owner, mode, kUser, log);
  if (!refusal) {
    if (owner != kUser && owner != 0) lyrafuzz::broken("a log of another user is trusted");
    if ((mode & 022) != 0) lyrafuzz::broken("a log others can write is trusted");
    for (const auto& a : log.actions) {
      if ((a.kind == ActionKind::private_file || a.kind == ActionKind::shared_file ||
           a.kind == ActionKind::create_dir) &&
          !is_plain_absolute_path(a.argument)) {
        lyrafuzz::broken("a log naming a path that is not plain is trusted");
      }
    }
  }

  std::string written = log_header();
  if (log.title && log.title_ended) written += title_line(*log.title);
  for (const auto& a : log.actions) written += action_line(a.kind, a.argument);
  const ParsedLog again = parse_log(to_disk_text(written));
  if (again.actions != log.actions) lyrafuzz::broken("actions read back differ from the ones written");
  if (log.title && log.title_ended && again.title != log.title) lyrafuzz::broken("title read back differs");

  (void)log_path_from_command_line(text);
  if (auto command = parse_uninstall_string(text)) {
    (void)parse_uninstall_string(uninstall_string(command->remover_path, command->log_path));
  }
  return 0;
}
