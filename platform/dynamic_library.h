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
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Address of an exported symbol, null when absent.
  void* symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace lyralink::platform
