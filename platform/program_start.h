/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Starting the programs of a setup: programs a setup script names (run and
// waited for), the removal script (started detached), and the test hook
// that stops a program dead.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/system_error.h"

namespace lyralink::platform {

// Runs `program` with `arguments` in `working_directory` (stdin from
// /dev/null, stdout and stderr shared with us) and waits until it has
// ended. While it runs, `idle` (when set) is called at least every
// `idle_interval_ms` ms, e.g. to keep windows painted. Returns its exit
// status (128 + signal when killed), or nullopt when it could not be
// started. Blocks for as long as the program runs.
std::optional<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& working_directory, const std::function<void()>& idle = {},
                               int idle_interval_ms = 10, SystemError* error = nullptr);

// A shell script started in its own session with "/" as working directory,
// its output going to /dev/null.
class StartedScript {
 public:
  // With hold_until_exit the script's standard input is a pipe whose write
  // end only this process holds (never inherited: close-on-exec): the
  // script's `cat >/dev/null` returns when this process has ended, however
  // it ends. Without it the input is /dev/null. Null when sh cannot start.
  // Does not wait for the script.
  static std::unique_ptr<StartedScript> start(const std::string& script_path, bool hold_until_exit,
                                              SystemError* error = nullptr);
  // Waits without time limit for the script to end (letting go of the
  // hold first); its exit status, 128 + signal when a signal ended it on
  // POSIX, -1 when it cannot be waited for.
  int wait();
  // Leaves the script running on its own when we end (the default when the
  // object is destroyed without wait(): nothing is killed).
  ~StartedScript();
  StartedScript(const StartedScript&) = delete;
  StartedScript& operator=(const StartedScript&) = delete;

 private:
  struct Impl;
  explicit StartedScript(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Ends this process at once with SIGKILL, as a crash or a power cut would
// (no destructors, no flushing of stdio). For tests of half-done work.
[[noreturn]] void kill_this_process();

}  // namespace lyralink::platform
