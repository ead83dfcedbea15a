/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// remover's rules: the log from the command line, the question, the undo
// of every action from the last to the first, and the removal script.
#include <optional>
#include <string>

#include "setup/common/setup_host.h"
#include "setup/common/setup_ui.h"
#include "setup/common/uninstall_log.h"

namespace lyralink::setup {

inline constexpr const char* kRemoveQuestion = "Do you want to remove this application?";
inline constexpr const char* kRemovedMessage = "Software was removed.";

class Remover {
 public:
  explicit Remover(SetupHost& host) : host_(host) {}

  enum class Start {
    ready,    // the log was read and may be acted on
    missing,  // no such file, or it cannot be read: end silently
    refused,  // refusal() says why; nothing was changed
  };
  // Takes the log path from the command line (quote rule) and reads the log.
  Start start(const std::string& command_line);
  const std::string& refusal() const { return refusal_; }
  const std::string& log_path() const { return log_path_; }
  // "Uninstall <title>" or "Uninstall".
  std::string window_title() const { return uninstall_window_title(log_); }

  // Asks, removes, deletes the log and starts the removal script, from the
  // file own_path (the running remover; "" when unknown). The script waits
  // for this process to end unless wait_for_script is set, in which case
  // remover waits for the script instead. False when the answer was No.
  bool run(SetupUi& ui, const std::string& own_path, bool wait_for_script);

 private:
  SetupHost& host_;
  std::string log_path_;
  ParsedLog log_;
  std::string refusal_;
};

}  // namespace lyralink::setup
