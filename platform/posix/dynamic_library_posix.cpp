#include <dlfcn.h>

#include "platform/dynamic_library.h"

namespace lyralink::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::load(const std::string& file, std::string* why) {
  // RTLD_LOCAL keeps the library's symbols out of the global namespace, so a
  // second copy loaded by the host application cannot be confused with ours.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (why != nullptr) {
      const char* text = dlerror();
      *why = text != nullptr ? text : "cannot load " + file;
    }
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }

void* DynamicLibrary::symbol(const char* name) const { return dlsym(handle_, name); }

}  // namespace lyralink::platform
