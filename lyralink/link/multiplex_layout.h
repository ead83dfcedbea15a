/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What the Multiplex server and its clients share: the names of the named
// objects for serial port n and client c, and the layout of the shared
// block. Both sides use these definitions (the library's client, mplxd and
// the tests).
//
// On this platform the server mutex is a robust process-shared
// pthread_mutex_t at offset 0 of the shared memory object
// "/MultiplexServerCOM<n>" (platform/shared_mutex.h), the block is the shared
// memory object "/MultiplexServerMapFileCOM<n>", and the auto-reset events
// are the named semaphores "/MultiplexServerCOM<n>Request<c>" and
// "/MultiplexServerCOM<n>Answer<c>".
#include <cstddef>
#include <cstdint>
#include <string>

namespace lyralink::link::multiplex {

constexpr uint32_t kClientSlots = 3;
constexpr uint32_t kSlotDataSize = 256;

// Block header: two little-endian 32-bit fields, then the slots.
constexpr size_t kSlotCountOffset = 0;
constexpr size_t kDataSizeOffset = 4;
constexpr size_t kHeaderSize = 8;

// One slot: five little-endian 32-bit fields, then the data.
constexpr size_t kInUseOffset = 0;           // 1 while a client is attached
constexpr size_t kTimeLimitOffset = 4;       // ms for the current request
constexpr size_t kRequestLengthOffset = 8;   // bytes
constexpr size_t kExpectedLengthOffset = 12; // bytes
constexpr size_t kAnswerLengthOffset = 16;   // bytes, written by the server
constexpr size_t kDataOffset = 20;
constexpr size_t kSlotSize = kDataOffset + kSlotDataSize;  // 276
constexpr size_t kBlockSize = kHeaderSize + kClientSlots * kSlotSize;  // 836

// Offset of the slot of client c (1-3) is slot_offset(c - 1).
constexpr size_t slot_offset(size_t index) { return kHeaderSize + index * kSlotSize; }

inline std::string mutex_name(uint32_t port) { return "/MultiplexServerCOM" + std::to_string(port); }
inline std::string block_name(uint32_t port) { return "/MultiplexServerMapFileCOM" + std::to_string(port); }
inline std::string request_event_name(uint32_t port, uint32_t client) {
  return mutex_name(port) + "Request" + std::to_string(client);
}
inline std::string answer_event_name(uint32_t port, uint32_t client) {
  return mutex_name(port) + "Answer" + std::to_string(client);
}

}  // namespace lyralink::link::multiplex
