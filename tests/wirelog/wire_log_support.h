/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Reading the wire trace log back in the tests.
#include <cstdint>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace wirelogtest {

struct LogLine {
  int64_t us = 0;  // steady clock
  long pid = 0;
  std::string channel, where, direction;
  size_t length = 0;
  std::string hex;  // "-" when no byte came
  std::string note;
  uint32_t attempt = 0, attempts = 0;
  int status = -1;
  std::string status_text;
};

inline std::optional<LogLine> parse_line(const std::string& text) {
  static const std::regex form(
      R"(^(\d+)\.(\d{6}) lyralink\[(\d+)\] (\S+) (\S+) (tx|rx) (\d+) (\S+)(?: (.*?))? try=(\d+)/(\d+) status=(-?\d+) \((.*)\)$)");
  std::smatch m;
  if (!std::regex_match(text, m, form)) return std::nullopt;
  LogLine l;
  l.us = std::stoll(m[1]) * 1000000 + std::stoll(m[2]);
  l.pid = std::stol(m[3]);
  l.channel = m[4];
  l.where = m[5];
  l.direction = m[6];
  l.length = std::stoul(m[7]);
  l.hex = m[8];
  l.note = m[9];
  l.attempt = static_cast<uint32_t>(std::stoul(m[10]));
  l.attempts = static_cast<uint32_t>(std::stoul(m[11]));
  l.status = std::stoi(m[12]);
  l.status_text = m[13];
  return l;
}

// Every line of a log file; a line that does not parse is kept as a line
// with status -1 and its text in `note`, so that a test sees it.
inline std::vector<LogLine> read_log(const std::string& path) {
  std::vector<LogLine> out;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    if (auto l = parse_line(text)) {
      out.push_back(*l);
    } else {
      LogLine bad;
      bad.note = text;
      out.push_back(bad);
    }
  }
  return out;
}

inline std::string hex_of(const uint8_t* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(d[p[i] >> 4]);
    s.push_back(d[p[i] & 15]);
  }
  return s;
}

}  // namespace wirelogtest
