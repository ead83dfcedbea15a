/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Child processes with pipes, for the tests and the tools that start the
// emulator or the Multiplex server.
#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/system_error.h"

namespace lyralink::platform {

class ChildProcess {
 public:
  // Starts argv[0] (searched on PATH when it has no '/') with the extra
  // environment entries; its stdin and stdout are pipes to us, stderr is
  // inherited. Returns null when it cannot be started.
  static std::unique_ptr<ChildProcess> spawn(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& environment = {},
                                             SystemError* error = nullptr);
  ~ChildProcess();  // terminates the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next line of the child's stdout (without the newline); nullopt at the
  // deadline or at end of output.
  std::optional<std::string> read_line(TimePoint deadline);
  // Everything the child writes until it closes stdout or the deadline.
  std::string read_all(TimePoint deadline);
  bool write(const std::string& text);
  void close_stdin();

  // Sends SIGTERM (or another signal) to the child.
  void signal(int signal_number);
  // Waits for the child to end; its exit status, or 128 + signal, or
  // nullopt at the deadline.
  std::optional<int> wait(TimePoint deadline);

  pid_t pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, int in, int out) : pid_(pid), stdin_fd_(in), stdout_fd_(out) {}
  pid_t pid_;
  int stdin_fd_;
  int stdout_fd_;
  std::string buffered_;
  std::optional<int> exit_status_;
};

// Restricts this process (and the children it starts later) to one CPU.
// False when the CPU does not exist or the call is refused.
bool pin_to_cpu(int cpu);

// CPU time a child process has used, in microseconds (from /proc); nullopt
// when it cannot be read.
std::optional<uint64_t> process_cpu_time_us(pid_t pid);

// Path of the running executable's directory.
std::string executable_directory();

}  // namespace lyralink::platform
