// SPDX-License-Identifier: LGPL-2.1-or-later
#include <dlfcn.h>
#include <unistd.h>

#include "platform/dynamic_library.h"

namespace lyralink::platform {

std::string shared_library_file_name(const std::string& name) { return "lib" + name + ".so"; }

std::string bridge_driver_library_file_name() { return shared_library_file_name("ftd2xx"); }

namespace {

void* open_library(const std::string& file, int extra_flags, std::string* why) {
  // RTLD_LOCAL keeps the library's symbols out of the global namespace, so a
  // second copy loaded by the host application cannot be confused with ours.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | extra_flags);
  if (handle == nullptr && why != nullptr) {
    const char* text = dlerror();
    *why = text != nullptr ? text : "cannot load " + file;
  }
  return handle;
}

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::load_resident(const std::string& file, std::string* why) {
  void* handle = open_library(file, RTLD_NODELETE, why);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

std::string directory_of_loaded_file(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  std::string path = info.dli_fname;
  // A program found on PATH reports its bare name; ask the kernel then.
  if (path.find('/') == std::string::npos) {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    path.assign(buf, static_cast<size_t>(n));
  }
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& file, std::string* why) {
  void* handle = open_library(file, 0, why);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }

void* DynamicLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace lyralink::platform
