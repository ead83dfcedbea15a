// SPDX-License-Identifier: LGPL-2.1-or-later
// Reading and writing the version note: plain byte work, no I/O.
#include <cstring>

#include "platform/version_info.h"

namespace lyralink::platform {

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | uint32_t{p[3]} << 24; }
uint64_t u64(const uint8_t* p) { return uint64_t{u32(p)} | uint64_t{u32(p + 4)} << 32; }

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Walks the notes of one SHT_NOTE section for ours.
std::optional<VersionInfo> find_in_notes(const uint8_t* p, size_t size) {
  size_t pos = 0;
  const size_t owner_size = sizeof(kVersionNoteOwner);  // with its zero
  while (size - pos >= 12) {
    uint32_t namesz = u32(p + pos), descsz = u32(p + pos + 4), type = u32(p + pos + 8);
    size_t name_at = pos + 12;
    if (namesz > size - name_at) return std::nullopt;
    size_t desc_at = name_at + align4(namesz);
    if (desc_at > size || descsz > size - desc_at) return std::nullopt;
    if (type == kVersionNoteType && namesz == owner_size &&
        std::memcmp(p + name_at, kVersionNoteOwner, owner_size) == 0)
      return decode_version_descriptor(p + desc_at, descsz);
    size_t next = desc_at + align4(descsz);
    if (next <= pos || next > size) return std::nullopt;
    pos = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> VersionInfo::string(const std::string& name) const {
  auto it = strings.find(name);
  if (it == strings.end()) return std::nullopt;
  return it->second;
}

std::optional<VersionInfo> decode_version_descriptor(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 16) return std::nullopt;
  VersionInfo info;
  info.file_version = uint64_t{u32(data)} << 32 | u32(data + 4);
  info.product_version = uint64_t{u32(data + 8)} << 32 | u32(data + 12);
  size_t pos = 16;
  while (pos < size) {
    const void* end = std::memchr(data + pos, 0, size - pos);
    if (end == nullptr) break;  // an unterminated tail is ignored
    size_t len = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data + pos));
    if (len == 0) break;
    std::string entry(reinterpret_cast<const char*>(data + pos), len);
    size_t eq = entry.find('=');
    if (eq != std::string::npos && eq > 0) info.strings.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    pos += len + 1;
  }
  return info;
}

std::vector<uint8_t> encode_version_descriptor(const VersionInfo& info) {
  std::vector<uint8_t> out;
  put_u32(out, static_cast<uint32_t>(info.file_version >> 32));
  put_u32(out, static_cast<uint32_t>(info.file_version));
  put_u32(out, static_cast<uint32_t>(info.product_version >> 32));
  put_u32(out, static_cast<uint32_t>(info.product_version));
  for (const auto& [name, value] : info.strings) {
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos ||
        value.find('\0') != std::string::npos)
      continue;
    out.insert(out.end(), name.begin(), name.end());
    out.push_back('=');
    out.insert(out.end(), value.begin(), value.end());
    out.push_back(0);
  }
  out.push_back(0);
  return out;
}

std::vector<uint8_t> encode_version_note(const VersionInfo& info) {
  std::vector<uint8_t> desc = encode_version_descriptor(info);
  std::vector<uint8_t> note;
  put_u32(note, sizeof(kVersionNoteOwner));
  put_u32(note, static_cast<uint32_t>(desc.size()));
  put_u32(note, kVersionNoteType);
  note.insert(note.end(), kVersionNoteOwner, kVersionNoteOwner + sizeof(kVersionNoteOwner));
  note.resize(align4(note.size()), 0);
  note.insert(note.end(), desc.begin(), desc.end());
  note.resize(align4(note.size()), 0);
  return note;
}

std::optional<VersionInfo> parse_elf_version_info(const uint8_t* data, size_t size) {
  // 64-bit little-endian ELF only: the machines this runs on.
  if (data == nullptr || size < 64 || std::memcmp(data, "\x7f" "ELF", 4) != 0 || data[4] != 2 || data[5] != 1)
    return std::nullopt;
  uint64_t shoff = u64(data + 0x28);
  uint16_t shentsize = u16(data + 0x3A), shnum = u16(data + 0x3C);
  if (shentsize < 64 || shoff > size || uint64_t{shnum} * shentsize > size - shoff) return std::nullopt;
  for (uint16_t i = 0; i < shnum; ++i) {
    const uint8_t* sh = data + shoff + uint64_t{i} * shentsize;
    constexpr uint32_t kShtNote = 7;
    if (u32(sh + 4) != kShtNote) continue;
    uint64_t offset = u64(sh + 0x18), length = u64(sh + 0x20);
    if (offset > size || length > size - offset) continue;
    if (auto info = find_in_notes(data + offset, static_cast<size_t>(length))) return info;
  }
  return std::nullopt;
}

std::optional<uint64_t> parse_dotted_version(const std::string& text) {
  if (text.empty()) return std::nullopt;
  uint64_t result = 0;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    uint32_t value = 0;
    if (pos < text.size()) {
      size_t digits = 0;
      while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
        if (value > 0xFFFF) return std::nullopt;
        ++pos;
        ++digits;
      }
      if (digits == 0) return std::nullopt;
      if (pos < text.size()) {
        if (text[pos] != '.' || part == 3) return std::nullopt;
        ++pos;
        if (pos == text.size()) return std::nullopt;
      }
    }
    result = result << 16 | value;
  }
  return result;
}

}  // namespace lyralink::platform
