/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Child processes with pipes, for the tests and the tools that start the
// emulator or the Multiplex server.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/handles.h"
#include "platform/system_error.h"

namespace lyralink::platform {

class ChildProcess {
 public:
  // Starts argv[0] (searched on PATH when it has no '/') with the extra
  // environment entries; its stdin and stdout are pipes to us, stderr is
  // inherited. Returns null when it cannot be started. Does not wait for
  // the child beyond starting it.
  static std::unique_ptr<ChildProcess> spawn(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& environment = {},
                                             SystemError* error = nullptr);
  // Asks a child that still runs to end (terminate()) and waits up to 3 s,
  // then ends it (kill()) and waits up to 3 s more.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next line of the child's stdout (without the newline); nullopt at the
  // deadline or at end of output. Blocks until then.
  std::optional<std::string> read_line(TimePoint deadline);
  // Everything the child writes until it closes stdout or the deadline.
  std::string read_all(TimePoint deadline);
  // Writes all of text to the child's stdin, blocking while the pipe is
  // full; false when stdin is closed or the child has gone.
  bool write(const std::string& text);
  // Closes the child's stdin (it reads end of input). Never blocks.
  void close_stdin();

  // Asks the child to end (SIGTERM on POSIX); it may clean up first. Never
  // blocks; nothing happens once the child has been waited for.
  void terminate();
  // Ends the child at once (SIGKILL on POSIX). Never blocks.
  void kill();
  // Waits for the child to end; its exit status, or 128 + signal number on
  // POSIX when a signal ended it, or nullopt at the deadline.
  std::optional<int> wait(TimePoint deadline);

  ProcessId pid() const;

 private:
  struct Impl;
  explicit ChildProcess(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Restricts this process (and the children it starts later) to one CPU.
// False when the CPU does not exist or the call is refused. Never blocks.
bool pin_to_cpu(int cpu);

// CPU time a child process has used, in microseconds (from /proc); nullopt
// when it cannot be read.
std::optional<uint64_t> process_cpu_time_us(ProcessId pid);

// Path of the running executable's directory.
std::string executable_directory();

}  // namespace lyralink::platform
