/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Reading a saved trace back (text or WAVE), for the preview.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pulsecap {

struct Trace {
  std::vector<uint16_t> samples;  // 14-bit values 0 .. 16383, in recording order
  uint32_t rate = 0;              // samples per second; 0 when the file does not say (text)
  uint32_t declared = 0;          // samples the WAVE header announces (text: the count read)
  bool wave = false;
  bool truncated() const { return samples.size() < declared; }
};

// Parses the bytes of a trace file. A WAVE file (it starts with "RIFF")
// must be 16-bit mono PCM; a file that ends before the samples its header
// announces is read as far as it goes (a recording that ended early). A
// text file holds one unsigned number a line. nullopt with *error on
// anything else.
std::optional<Trace> parse_trace(const std::vector<uint8_t>& bytes, std::string* error);

// Reads and parses the file at path.
std::optional<Trace> read_trace_file(const std::string& path, std::string* error);

}  // namespace pulsecap
