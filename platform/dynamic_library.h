/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A shared library loaded at run time.
#include <memory>
#include <string>

namespace lyralink::platform {

class DynamicLibrary {
 public:
  // Loads the library; null when it cannot be loaded (error() of the loader
  // is placed into *why when given).
  static std::unique_ptr<DynamicLibrary> load(const std::string& file, std::string* why = nullptr);
  // As load, but the library stays in the process after it is closed
  // (RTLD_NODELETE): for modules whose threads or static objects must never
  // be unmapped under them (the Qt windows module).
  static std::unique_ptr<DynamicLibrary> load_resident(const std::string& file, std::string* why = nullptr);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Address of an exported symbol, null when absent.
  void* symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The directory of the loaded file (program or shared library) that holds
// `address`, without a trailing slash; "" when it cannot be told.
std::string directory_of_loaded_file(const void* address);

}  // namespace lyralink::platform
