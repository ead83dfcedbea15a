// SPDX-License-Identifier: LGPL-2.1-or-later
// Named shared memory as a file mapping backed by the paging file.
//
// Windows keeps a named object while any process has a handle or a view of
// it, and has no call that takes a name away: remove() cannot end a block
// before its last user unmaps it. Each SharedMemory keeps its handle open
// beside the view, since Wine drops the name with the last handle even
// while views remain. The permission bits are not used either;
// the block carries the creator's default security (its user, the
// administrators and the system), which is what a server started by the
// user who runs its clients needs.
#include <windows.h>

#include "platform/shared_memory.h"
#include "platform/win32/object_names.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

using win32::object_name;

namespace {

// The whole view of a mapping; its size is the view's, which Windows rounds
// up to whole pages.
uint8_t* map_whole(HANDLE mapping, size_t size) {
  return static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::create(const std::string& name, size_t size, unsigned /*mode*/,
                                                   SystemError* error) {
  if (size == 0) {
    report(error, win32::system_error_of("create shared memory " + name, ERROR_INVALID_PARAMETER));
    return nullptr;
  }
  const uint64_t bytes = size;
  SetLastError(ERROR_SUCCESS);  // set to ERROR_ALREADY_EXISTS when the name is taken
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                      static_cast<DWORD>(bytes & 0xFFFFFFFFu), object_name(name).c_str());
  if (mapping == nullptr) {
    report(error, last_system_error("create shared memory " + name));
    return nullptr;
  }
  // CreateFileMapping opens an existing object of the name instead of
  // failing; this interface creates only.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mapping);
    report(error, win32::system_error_of("create shared memory " + name, ERROR_ALREADY_EXISTS));
    return nullptr;
  }
  uint8_t* data = map_whole(mapping, size);  // a new mapping reads as zeros
  if (data == nullptr) {
    report(error, last_system_error("map shared memory " + name));
    CloseHandle(mapping);
    return nullptr;
  }
  // The handle stays open with the view: Windows would keep the name for
  // the view alone, Wine drops it with the last handle.
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, size, reinterpret_cast<intptr_t>(mapping)));
}

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, SystemError* error) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, object_name(name).c_str());
  if (mapping == nullptr) {
    report(error, last_system_error("open shared memory " + name));
    return nullptr;
  }
  uint8_t* data = map_whole(mapping, 0);
  MEMORY_BASIC_INFORMATION info {};
  if (data == nullptr || VirtualQuery(data, &info, sizeof info) == 0) {
    report(error, last_system_error("map shared memory " + name));
    if (data != nullptr) UnmapViewOfFile(data);
    CloseHandle(mapping);
    return nullptr;
  }
  // The object's own size is not reported, only the view's whole pages;
  // the bytes beyond the creator's size read as zeros.
  return std::unique_ptr<SharedMemory>(new SharedMemory(data, info.RegionSize, reinterpret_cast<intptr_t>(mapping)));
}

bool SharedMemory::remove(const std::string& name) {
  // Nothing to take away: the block goes with its last view. Say whether
  // the name is there, as the POSIX removal does.
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, object_name(name).c_str());
  if (mapping == nullptr) return false;
  CloseHandle(mapping);
  return true;
}

SharedMemory::~SharedMemory() {
  UnmapViewOfFile(data_);
  CloseHandle(reinterpret_cast<HANDLE>(keep_));
}

}  // namespace lyralink::platform
