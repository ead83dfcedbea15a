// SPDX-License-Identifier: LGPL-2.1-or-later
#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/system_error.h"

namespace lyralink::platform {

std::string shared_library_file_name(const std::string& name) { return name + ".dll"; }

std::string bridge_driver_library_file_name() { return "ftd2xx.dll"; }

namespace {

HMODULE open_library(const std::string& file, std::string* why) {
  // The loader wants backslashes in a path; the project's own paths may
  // have been joined with '/'.
  std::string path = file;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  // No message box for a missing or broken file: the caller decides what a
  // failed load means (the bridge driver is optional, so is the windows
  // module).
  DWORD old_mode = 0;
  const bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode) != 0;
  HMODULE module = LoadLibraryA(path.c_str());
  const SystemError error = last_system_error("cannot load " + file);
  if (quiet) SetThreadErrorMode(old_mode, nullptr);
  if (module == nullptr && why != nullptr) *why = error.message();
  return module;
}

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& file, std::string* why) {
  HMODULE module = open_library(file, why);
  if (module == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(module));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::load_resident(const std::string& file, std::string* why) {
  HMODULE module = open_library(file, why);
  if (module == nullptr) return nullptr;
  // Pinned: stays mapped until the process ends, whatever FreeLibrary
  // calls follow.
  HMODULE pinned = nullptr;
  (void)GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(module), &pinned);
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(module));
}

DynamicLibrary::~DynamicLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* DynamicLibrary::symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string directory_of_loaded_file(const void* address) {
  // A null address would ask for the program's own module.
  if (address == nullptr) return "";
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module) == 0) {
    return "";
  }
  std::string path(MAX_PATH, '\0');
  while (true) {
    const DWORD n = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
  const size_t sep = path.find_last_of("\\/");
  if (sep == std::string::npos) return "";
  // "C:\" keeps its separator, as "/" does on POSIX.
  return sep == 2 && path[1] == ':' ? path.substr(0, 3) : path.substr(0, sep);
}

}  // namespace lyralink::platform
