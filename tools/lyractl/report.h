/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// What lyractl prints: the status, the answer bytes as hex and the fields
// a host reads from them, as text for people or as one JSON object.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lyractl {

// Name of a status code, e.g. "no valid answer".
const char* status_text(int status);

class Report {
 public:
  // A numeric field, printed in decimal or, with hex_digits > 0, as 0x...
  void number(const std::string& key, const std::string& label, uint64_t value, int hex_digits = 0,
              const std::string& note = {});
  void signed_number(const std::string& key, const std::string& label, int64_t value, const std::string& note = {});
  void text(const std::string& key, const std::string& label, const std::string& value);
  // A list of numbers (spectrum counts, samples, readings).
  void list(const std::string& key, const std::string& label, const std::vector<uint64_t>& values);
  // The raw bytes of the answer or data block.
  void bytes(const uint8_t* data, size_t size) { bytes_.assign(data, data + size); }

  // Prints everything for the command `name` (command code when known,
  // else 0) that ended with `status`.
  void print(FILE* out, bool json, const std::string& link, const std::string& name, uint16_t code,
             int status) const;

 private:
  struct Field {
    std::string key, label, text;  // text: how it is printed for people
    std::string json;              // how it appears in JSON
  };
  std::vector<Field> fields_;
  std::vector<uint8_t> bytes_;
};

// JSON string literal for s (quotes, backslashes and control characters
// escaped).
std::string json_string(const std::string& s);

}  // namespace lyractl
