// SPDX-License-Identifier: LGPL-2.1-or-later
// A second process for net_backends_test: it opens or claims the named
// objects the test names and ends as told, so that the test sees what
// another process (a dead server, a client that died holding the mutex)
// leaves behind.
//
//   net_child lock-and-exit NAME    open the shared mutex, lock it, exit holding it
//   net_child own-and-wait NAME     create and publish the shared mutex, print
//                                   "owned", then wait until standard input ends
//   net_child create NAME           create the shared mutex; exit 0, or 1 with
//                                   "already exists" / the error's message
//   net_child read NAME OFFSET      print the byte of the shared block at OFFSET
//   net_child post NAME             post the named semaphore once
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/named_semaphore.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"

namespace plat = lyralink::platform;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string what = argv[1];
  const std::string name = argv[2];
  plat::SystemError error;
  if (what == "lock-and-exit") {
    auto mutex = plat::SharedMutex::open(name, &error);
    if (!mutex) return 3;
    // std::exit runs no destructor of this scope: the mutex stays locked.
    std::exit(mutex->lock() == plat::SharedMutex::Lock::taken ? 0 : 4);
  }
  if (what == "own-and-wait") {
    auto mutex = plat::SharedMutex::create(name, 0600, &error);
    if (!mutex || !mutex->publish(&error)) return 3;
    std::printf("owned\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;  // the test ends this process before, as a killed server ends
  }
  if (what == "create") {
    auto mutex = plat::SharedMutex::create(name, 0600, &error);
    if (mutex) return 0;
    std::printf("%s\n", error.kind == plat::ErrorKind::already_exists ? "already exists" : error.message().c_str());
    return 1;
  }
  if (what == "read" && argc == 4) {
    auto block = plat::SharedMemory::open(name, &error);
    const size_t offset = std::strtoul(argv[3], nullptr, 10);
    if (!block || offset >= block->size()) return 3;
    std::printf("%u\n", block->data()[offset]);
    return 0;
  }
  if (what == "post") {
    auto event = plat::NamedSemaphore::open(name, &error);
    return event && event->post() ? 0 : 3;
  }
  return 2;
}
