/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Named counting semaphores shared between processes. The Multiplex
// server's request and answer events are built on them: one post per
// event, and a wait that returns takes the post away (auto-reset).
//
// On Windows they are the named auto-reset events ("Name", without the
// slash) that the documented clients open: a post while the event is
// still set adds nothing to it. A name lasts there while any process holds
// a handle: remove() only says whether it is there, and the permission bits
// are not used.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class NamedSemaphore {
 public:
  enum class Wait : uint8_t { signalled, timed_out, failed };

  // Creates the semaphore `name` ("/Name") with count 0 and the permission
  // bits `mode`. Fails (null, already_exists) when it exists already. Never
  // blocks.
  static std::unique_ptr<NamedSemaphore> create(const std::string& name, unsigned mode,
                                                SystemError* error = nullptr);
  // Opens an existing semaphore; null (not_found) when there is none. Never
  // blocks.
  static std::unique_ptr<NamedSemaphore> open(const std::string& name, SystemError* error = nullptr);
  // Removes the name; holders keep their semaphore. False when absent.
  // Never blocks.
  static bool remove(const std::string& name);

  ~NamedSemaphore();
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;

  // Adds one to the count and wakes one waiter. Never blocks; false only
  // when the count would overflow.
  bool post();
  // Blocks without time limit until it can take one from the count;
  // signals do not end the wait. failed only for an unusable semaphore.
  Wait wait();
  // As wait(), but for at most `ms` milliseconds of the steady clock
  // (timed_out then); 0 only tests.
  Wait wait_for(uint32_t ms);
  // Takes one from the count if it is above 0; never blocks.
  bool try_wait();

 private:
  struct Impl;
  explicit NamedSemaphore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lyralink::platform
