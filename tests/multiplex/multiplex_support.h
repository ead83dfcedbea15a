/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Shared helpers of the Multiplex tests: removing the named objects of a
// serial port number, and a server stand-in whose block layout a test
// chooses.
#include <cstdint>
#include <memory>
#include <string>

#include "lyralink/link/bytes.h"
#include "lyralink/link/multiplex_layout.h"
#include "platform/named_semaphore.h"
#include "platform/shared_memory.h"
#include "platform/shared_mutex.h"

namespace mplxtest {

namespace mx = lyralink::link::multiplex;

// Removes every name of serial port `port`; quiet when they do not exist.
inline void remove_names(uint32_t port) {
  lyralink::platform::SharedMutex::remove(mx::mutex_name(port));
  lyralink::platform::SharedMemory::remove(mx::block_name(port));
  for (uint32_t c = 1; c <= mx::kClientSlots; ++c) {
    lyralink::platform::NamedSemaphore::remove(mx::request_event_name(port, c));
    lyralink::platform::NamedSemaphore::remove(mx::answer_event_name(port, c));
  }
}

// Removes the names of a port when the test starts (leftovers of a run that
// crashed) and again when it ends, whether it passed or not.
class NameGuard {
 public:
  explicit NameGuard(uint32_t port) : port_(port) { remove_names(port_); }
  ~NameGuard() { remove_names(port_); }
  NameGuard(const NameGuard&) = delete;
  NameGuard& operator=(const NameGuard&) = delete;

 private:
  uint32_t port_;
};

struct Layout {
  uint32_t slots = mx::kClientSlots;
  uint32_t data_size = mx::kSlotDataSize;
  size_t block_size = mx::kBlockSize;
  bool events = true;
};

// The objects of a server for `port`, created the way mplxd creates them but
// driven by the test itself.
class FakeServer {
 public:
  explicit FakeServer(uint32_t port, Layout layout = {}) : guard_(port), port_(port) {
    namespace plat = lyralink::platform;
    mutex = plat::SharedMutex::create(mx::mutex_name(port), 0600);
    block = plat::SharedMemory::create(mx::block_name(port), layout.block_size, 0600);
    if (!mutex || !block) return;
    lyralink::put_u32(block->data() + mx::kSlotCountOffset, layout.slots);
    lyralink::put_u32(block->data() + mx::kDataSizeOffset, layout.data_size);
    if (layout.events) {
      for (uint32_t c = 1; c <= mx::kClientSlots; ++c) {
        requests[c - 1] = plat::NamedSemaphore::create(mx::request_event_name(port, c), 0600);
        answers[c - 1] = plat::NamedSemaphore::create(mx::answer_event_name(port, c), 0600);
      }
    }
    mutex->publish();
    ready_ = true;
  }

  bool ready() const { return ready_; }
  uint8_t* slot(uint32_t client) { return block->data() + mx::slot_offset(client - 1); }
  uint32_t field(uint32_t client, size_t offset) { return lyralink::get_u32(slot(client) + offset); }
  // The server's end: its process is gone, its names stay behind.
  void vanish() { mutex.reset(); }

  std::unique_ptr<lyralink::platform::SharedMutex> mutex;
  std::unique_ptr<lyralink::platform::SharedMemory> block;
  std::unique_ptr<lyralink::platform::NamedSemaphore> requests[3];
  std::unique_ptr<lyralink::platform::NamedSemaphore> answers[3];

 private:
  NameGuard guard_;
  uint32_t port_;
  bool ready_ = false;
};

}  // namespace mplxtest
