/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Version information of a program or library file.
//
// Our binaries carry it in an ELF note (section ".note.lyralink.version",
// owner "LYRALINK", type 1), written at build time from the project version
// (cmake/version_note.cmake). The note's descriptor is:
//   u32 file version, most significant half    (major << 16 | minor)
//   u32 file version, least significant half   (patch << 16 | build)
//   u32 product version, most significant half
//   u32 product version, least significant half
//   then "Name=Value" strings, each ended by a zero byte, up to an empty
//   string (ProductVersion, FileVersion, ProductName, CompanyName,
//   FileDescription, and SpecialBuild when the build is special).
// All numbers little-endian. A file without the note has no version
// information. On Windows the same facts are the file's VERSIONINFO
// resource (read with GetFileVersionInfo); the note functions below are
// plain byte handling and the same everywhere.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lyralink::platform {

struct VersionInfo {
  uint64_t file_version = 0;     // ms << 32 | ls
  uint64_t product_version = 0;  // ms << 32 | ls
  std::map<std::string, std::string> strings;

  // The string value of that name, nullopt when absent.
  std::optional<std::string> string(const std::string& name) const;
};

constexpr uint32_t kVersionNoteType = 1;
constexpr char kVersionNoteOwner[] = "LYRALINK";
constexpr char kVersionNoteSection[] = ".note.lyralink.version";

// The version information of the file at `path`; nullopt when the file
// cannot be read, is not an ELF file or carries no version note (on
// Windows: has no version resource).
std::optional<VersionInfo> read_version_info(const std::string& path);

// Plain parts (no I/O), also for tests and for tools that write notes:
// The version note found in the bytes of an ELF file.
std::optional<VersionInfo> parse_elf_version_info(const uint8_t* data, size_t size);
// The note descriptor of `info` (layout above).
std::vector<uint8_t> encode_version_descriptor(const VersionInfo& info);
std::optional<VersionInfo> decode_version_descriptor(const uint8_t* data, size_t size);
// A whole note (header, owner, descriptor, padded), as objcopy --add-section takes it.
std::vector<uint8_t> encode_version_note(const VersionInfo& info);

// "1.2.3.4" → 0x0001000200030004; missing parts are 0; nullopt when a part
// is not a number below 65536.
std::optional<uint64_t> parse_dotted_version(const std::string& text);

}  // namespace lyralink::platform
