// SPDX-License-Identifier: LGPL-2.1-or-later
// A file's version block on Windows: its VERSIONINFO resource, read with
// GetFileVersionInfo. The fixed part gives the two versions; the strings
// are those of the block's first language, under the names the system
// defines for a version block.
#include <windows.h>

#include <vector>

#include "platform/version_info.h"

namespace lyralink::platform {

namespace {

constexpr const char* kStringNames[] = {
    "Comments",        "CompanyName",      "FileDescription", "FileVersion",  "InternalName", "LegalCopyright",
    "LegalTrademarks", "OriginalFilename", "PrivateBuild",    "ProductName",  "ProductVersion", "SpecialBuild",
};

}  // namespace

std::optional<VersionInfo> read_version_info(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<uint8_t> block(size);
  if (GetFileVersionInfoA(path.c_str(), 0, size, block.data()) == 0) return std::nullopt;

  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(block.data(), "\\", &value, &length) == 0 || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != 0xFEEF04BDu) return std::nullopt;
  VersionInfo info;
  info.file_version = (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
  info.product_version = (static_cast<uint64_t>(fixed->dwProductVersionMS) << 32) | fixed->dwProductVersionLS;

  // The language and code page of the string table: the first translation
  // listed, else US English / Unicode.
  WORD language = 0x0409;
  WORD code_page = 1200;
  if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length) != 0 && length >= 4) {
    const auto* pair = static_cast<const WORD*>(value);
    language = pair[0];
    code_page = pair[1];
  }
  char prefix[40];
  wsprintfA(prefix, "\\StringFileInfo\\%04x%04x\\", language, code_page);
  for (const char* name : kStringNames) {
    const std::string query = std::string(prefix) + name;
    if (VerQueryValueA(block.data(), query.c_str(), &value, &length) == 0 || value == nullptr) continue;
    // length counts characters, the terminating zero included.
    std::string text(static_cast<const char*>(value), length);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    info.strings[name] = text;
  }
  return info;
}

}  // namespace lyralink::platform
