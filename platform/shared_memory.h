/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Named shared memory blocks that several processes map at once, such as
// the Multiplex server's block of client slots.
//
// On Windows a block is a file mapping ("Name", without the slash) backed
// by the paging file. A name lasts there while any process holds a handle
// or a view: remove() only says whether it is there, and the permission
// bits are not used.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace lyralink::platform {

class SharedMemory {
 public:
  // Creates the block `name` ("/Name") of `size` bytes, zero-filled, with
  // the permission bits `mode`, and maps it readable and writable. Fails
  // (null, already_exists) when a block of that name already exists. Never
  // blocks.
  static std::unique_ptr<SharedMemory> create(const std::string& name, size_t size, unsigned mode,
                                              SystemError* error = nullptr);

  // Opens the existing block `name` and maps all of it readable and
  // writable. Null when it does not exist or is still empty (not_found), or
  // cannot be opened. Never blocks.
  static std::unique_ptr<SharedMemory> open(const std::string& name, SystemError* error = nullptr);

  // Removes the name; processes that have the block mapped keep it until
  // they unmap it. False when there was no such name. Never blocks.
  static bool remove(const std::string& name);

  ~SharedMemory();  // unmaps
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // The mapped bytes, valid while this object lives.
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  // The mapping, and on systems where the mapping alone does not keep the
  // name (Wine drops a file mapping's name with its last handle, views or
  // not) the object's handle as a token of the backend's; POSIX closes the
  // object once it is mapped and keeps no token.
  SharedMemory(uint8_t* data, size_t size, intptr_t keep = -1) : data_(data), size_(size), keep_(keep) {}
  uint8_t* data_;
  size_t size_;
  [[maybe_unused]] intptr_t keep_;  // read only by the backends that keep a handle
};

}  // namespace lyralink::platform
