// SPDX-License-Identifier: LGPL-2.1-or-later
#pragma once
// Reading a fuzz input front to back as a script: numbers, lengths and the
// bytes they announce. Past the end every number reads 0 and every piece is
// empty, so any input is a complete script. The seeds in corpus/ are
// written in the same layout (make_seeds.cpp).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace lyrafuzz {

class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool done() const { return at_ == size_; }
  size_t left() const { return size_ - at_; }

  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() {
    const uint16_t lo = u8();
    return static_cast<uint16_t>(lo | (u8() << 8));
  }
  uint32_t u32() {
    const uint32_t lo = u16();
    return lo | (static_cast<uint32_t>(u16()) << 16);
  }
  // Up to n bytes (fewer at the end of the input).
  std::vector<uint8_t> bytes(size_t n) {
    n = std::min(n, left());
    std::vector<uint8_t> b(data_ + at_, data_ + at_ + n);
    at_ += n;
    return b;
  }
  // A piece announced by a 16-bit length.
  std::vector<uint8_t> piece() { return bytes(u16()); }
  // A text announced by an 8-bit length.
  std::string text() {
    auto b = bytes(u8());
    return std::string(b.begin(), b.end());
  }
  // Everything not read yet.
  std::vector<uint8_t> rest() { return bytes(left()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The matching writer, for the seeds.
class ScriptWriter {
 public:
  void u8(uint8_t v) { out_.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void bytes(const std::vector<uint8_t>& b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void piece(const std::vector<uint8_t>& b) {
    u16(static_cast<uint16_t>(b.size()));
    bytes(b);
  }
  void text(const std::string& s) {
    u8(static_cast<uint8_t>(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
  }
  const std::vector<uint8_t>& data() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

// A fault the sanitizers cannot see: a broken promise of the code under
// test. Aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void broken(const char* what) {
  std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
  std::abort();
}

}  // namespace lyrafuzz
