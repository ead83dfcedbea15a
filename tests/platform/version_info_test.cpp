// SPDX-License-Identifier: LGPL-2.1-or-later
// Version notes: our own binaries, foreign files, hostile bytes and notes
// added to a copy of a system program with objcopy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/version_info.h"
#include "tests/support/emulator.h"

namespace {

using lyralink::platform::VersionInfo;

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(VersionInfo, ThisTestProgramCarriesTheVersionItWasBuiltWith) {
  // CMake gives this program FILE_VERSION 1.2.3.4, product 1.01.0000 and a special build.
  auto info = lyralink::platform::read_version_info("/proc/self/exe");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->file_version, 0x0001000200030004ull);
  EXPECT_EQ(info->product_version, 0x0001000100000000ull);
  EXPECT_EQ(info->string("ProductVersion").value_or(""), "1.01.0000");
  EXPECT_EQ(info->string("FileVersion").value_or(""), "1.2.3.4");
  EXPECT_EQ(info->string("SpecialBuild").value_or(""), "lab");
  EXPECT_FALSE(info->string("Comments"));
}

TEST(VersionInfo, FilesWithoutTheNoteHaveNone) {
  EXPECT_FALSE(lyralink::platform::read_version_info("/bin/sh"));
  EXPECT_FALSE(lyralink::platform::read_version_info("/etc/hostname"));
  EXPECT_FALSE(lyralink::platform::read_version_info("/nonexistent/file"));
  EXPECT_FALSE(lyralink::platform::read_version_info("/tmp"));
}

TEST(VersionInfo, CutOrScrambledFilesNeverReadOutside) {
  auto bytes = file_bytes("/proc/self/exe");
  ASSERT_GT(bytes.size(), 4096u);
  // Every prefix length class and a garbled section table.
  for (size_t len : {size_t{0}, size_t{4}, size_t{63}, size_t{64}, size_t{200}, bytes.size() / 2, bytes.size() - 1})
    (void)lyralink::platform::parse_elf_version_info(bytes.data(), len);
  auto garbled = bytes;
  for (size_t i = 0x28; i < 0x40; ++i) garbled[i] = 0xFF;
  EXPECT_FALSE(lyralink::platform::parse_elf_version_info(garbled.data(), garbled.size()));
  // A note whose sizes run past its section.
  VersionInfo v;
  v.strings["ProductVersion"] = "9";
  auto note = lyralink::platform::encode_version_note(v);
  note[4] = 0xFF;
  note[5] = 0xFF;
  EXPECT_FALSE(lyralink::platform::decode_version_descriptor(note.data(), 3));
}

TEST(VersionInfo, NoteWrittenWithObjcopyIsReadBack) {
  std::string dir = lyratest::make_temp_dir("version");
  VersionInfo v;
  v.file_version = 0x0002000000010005ull;
  v.product_version = 0x0002000000000000ull;
  v.strings["ProductVersion"] = "2.0";
  v.strings["SpecialBuild"] = "";
  {
    auto note = lyralink::platform::encode_version_note(v);
    std::ofstream(dir + "/note.bin", std::ios::binary).write(reinterpret_cast<const char*>(note.data()),
                                                             static_cast<std::streamsize>(note.size()));
  }
  std::string cmd = "cp /bin/true '" + dir + "/prog' && objcopy --add-section .note.lyralink.version='" + dir +
                    "/note.bin' --set-section-flags .note.lyralink.version=alloc,readonly '" + dir + "/prog'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto back = lyralink::platform::read_version_info(dir + "/prog");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->file_version, v.file_version);
  EXPECT_EQ(back->product_version, v.product_version);
  EXPECT_EQ(back->strings, v.strings);
}

TEST(VersionInfo, DottedVersions) {
  using lyralink::platform::parse_dotted_version;
  EXPECT_EQ(parse_dotted_version("1.2.3.4"), 0x0001000200030004ull);
  EXPECT_EQ(parse_dotted_version("1.01"), 0x0001000100000000ull);
  EXPECT_EQ(parse_dotted_version("65535.0.0.1"), 0xFFFF000000000001ull);
  for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.a", "-1"})
    EXPECT_FALSE(parse_dotted_version(bad)) << bad;
}

}  // namespace
