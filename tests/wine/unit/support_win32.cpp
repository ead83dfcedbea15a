// SPDX-License-Identifier: LGPL-2.1-or-later
// The part of the test support (tests/support) that the cross-built unit
// tests need, on Windows: temporary directories, the environment calls of
// posix_env.h, and the entry point. The emulator and UDP helpers are not
// here: these programs test plain logic only.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/emulator.h"
#include "tests/wine/unit/posix_env.h"

namespace fs = std::filesystem;

namespace lyratest {

std::string make_temp_dir(const std::string& tag) {
  static int counter = 0;
  const fs::path base = fs::temp_directory_path() / ("lyratest-" + std::to_string(GetCurrentProcessId()));
  const fs::path dir = base / (tag + "-" + std::to_string(++counter));
  fs::create_directories(dir);
  static bool registered = false;
  if (!registered) {
    registered = true;
    static fs::path to_remove;
    to_remove = base;
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(to_remove, ec);
    });
  }
  return dir.string();
}

}  // namespace lyratest

// Both copies of the environment change: the system's block (what the
// library reads, with GetEnvironmentVariable) and the C runtime's (what
// std::getenv reads). The C runtime cannot hold an empty value (_putenv
// removes the name then), the system's block can.
extern "C" int setenv(const char* name, const char* value, int overwrite) {
  if (name == nullptr || name[0] == '\0' || std::strchr(name, '=') != nullptr || value == nullptr) return -1;
  if (overwrite == 0 && GetEnvironmentVariableA(name, nullptr, 0) != 0) return 0;
  if (_putenv((std::string(name) + "=" + value).c_str()) != 0) return -1;
  return SetEnvironmentVariableA(name, value) != 0 ? 0 : -1;
}

extern "C" int unsetenv(const char* name) {
  if (name == nullptr || name[0] == '\0' || std::strchr(name, '=') != nullptr) return -1;
  (void)_putenv((std::string(name) + "=").c_str());
  return SetEnvironmentVariableA(name, nullptr) != 0 || GetLastError() == ERROR_ENVVAR_NOT_FOUND ? 0 : -1;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
