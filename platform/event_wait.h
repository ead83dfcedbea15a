/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Waiting on several objects at once, for the emulator and the server
// programs' event loops.
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/handles.h"

namespace lyralink::platform {

// Blocks until at least one of the objects is readable (or hung up), the
// deadline passes (nullopt: no deadline) or a signal arrives. Returns the
// indices of the objects that are ready; empty on time-out.
std::vector<size_t> wait_readable(const std::vector<Waitable>& objects, std::optional<TimePoint> deadline);

// The process's standard input, to wait on and read with read_some(). (On
// Windows an event that a reader thread sets while input waits: neither a
// console nor a pipe can be waited on for "readable" there.)
Waitable standard_input();

// Reads what is there without blocking: >0 bytes read, 0 end of input,
// -1 nothing available now (or an error).
long read_some(Waitable from, void* buf, size_t n);

// The requests to end the process (SIGINT, SIGTERM and SIGHUP on POSIX; the
// console's control events on Windows, numbered as the C runtime's signals:
// Ctrl+C 2, Ctrl+Break 21, closing, log-off and shut-down 15),
// taken as events instead of ending it: they are blocked for the whole
// process, so make this before any thread starts (every thread inherits
// the block). They stay blocked after this object is gone.
class TerminationRequests {
 public:
  // Null when the requests cannot be taken over. Never blocks.
  static std::unique_ptr<TerminationRequests> take_over();
  ~TerminationRequests();
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

  // Readable while a request waits to be taken.
  Waitable waitable() const;

  // Takes one waiting request: its signal number, for log lines; nullopt
  // when none waits. Never blocks.
  std::optional<int> take();

 private:
  struct Impl;
  explicit TerminationRequests(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lyralink::platform
