/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A shared library loaded at run time.
#include <memory>
#include <string>

namespace lyralink::platform {

class DynamicLibrary {
 public:
  // Loads the library (a bare file name is searched the system's way; see
  // shared_library_file_name() for the name of a library); null when it
  // cannot be loaded (the loader's own message is placed into *why when
  // given). Blocks for as long as loading takes.
  static std::unique_ptr<DynamicLibrary> load(const std::string& file, std::string* why = nullptr);
  // As load, but the library stays in the process after it is closed
  // (RTLD_NODELETE on POSIX): for modules whose threads or static objects
  // must never be unmapped under them (the Qt windows module).
  static std::unique_ptr<DynamicLibrary> load_resident(const std::string& file, std::string* why = nullptr);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Address of an exported symbol, null when absent. Never blocks.
  void* symbol(const char* name) const;

 private:
  // The loader's handle: opaque here, a pointer on every system (dlopen's
  // result on POSIX, an HMODULE on Windows).
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The file name of the shared library called `name` on this system:
// "lib<name>.so" on POSIX, so "lyralink-dialogs" gives
// "liblyralink-dialogs.so"; "<name>.dll" on Windows.
std::string shared_library_file_name(const std::string& name);

// The file name of the USB bridge vendor's driver library on this system
// ("libftd2xx.so" on POSIX, "ftd2xx.dll" on Windows).
std::string bridge_driver_library_file_name();

// The directory of the loaded file (program or shared library) that holds
// `address`, without a trailing slash; "" when it cannot be told.
std::string directory_of_loaded_file(const void* address);

}  // namespace lyralink::platform
