// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyractl/report.h"

#include <cinttypes>

namespace lyractl {

const char* status_text(int status) {
  switch (status) {
    case 0: return "ok";
    case 1: return "no link open";
    case 2: return "device error 0xAAAB (or unknown command name)";
    case 3: return "no valid answer";
    case 4: return "device error 0xAAAA (or argument out of range)";
    case 5: return "device error 0xAAAC";
    case 6: return "device error 0xAAAD";
    case 7: return "device error 0xAAAE";
    case 8: return "device error 0xAAAF";
    case 9: return "device error 0xAAA9";
    case 10: return "device error 0xAAA8";
    default: return "unknown status";
  }
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20 || u >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

void Report::number(const std::string& key, const std::string& label, uint64_t value, int hex_digits,
                    const std::string& note) {
  char text[64];
  if (hex_digits > 0) {
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, hex_digits, value);
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64, value);
  }
  std::string shown = text;
  if (!note.empty()) shown += " " + note;
  fields_.push_back({key, label, shown, std::to_string(value)});
}

void Report::signed_number(const std::string& key, const std::string& label, int64_t value,
                           const std::string& note) {
  std::string shown = std::to_string(value);
  if (!note.empty()) shown += " " + note;
  fields_.push_back({key, label, shown, std::to_string(value)});
}

void Report::text(const std::string& key, const std::string& label, const std::string& value) {
  fields_.push_back({key, label, value, json_string(value)});
}

void Report::list(const std::string& key, const std::string& label, const std::vector<uint64_t>& values) {
  std::string shown, json = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      shown += (i % 8 == 0) ? "\n" + std::string(22, ' ') : " ";
      json += ",";
    }
    shown += std::to_string(values[i]);
    json += std::to_string(values[i]);
  }
  fields_.push_back({key, label, shown, json + "]"});
}

void Report::print(FILE* out, bool json, const std::string& link, const std::string& name, uint16_t code,
                   int status) const {
  static const char digits[] = "0123456789abcdef";
  if (json) {
    std::string hex;
    for (uint8_t b : bytes_) {
      hex.push_back(digits[b >> 4]);
      hex.push_back(digits[b & 15]);
    }
    std::fprintf(out, "{\"link\":%s,\"command\":%s,\"code\":%u,\"status\":%d,\"status_text\":%s,\"data\":%s,\"fields\":{",
                 json_string(link).c_str(), json_string(name).c_str(), code, status,
                 json_string(status_text(status)).c_str(), json_string(hex).c_str());
    for (size_t i = 0; i < fields_.size(); ++i) {
      std::fprintf(out, "%s%s:%s", i > 0 ? "," : "", json_string(fields_[i].key).c_str(), fields_[i].json.c_str());
    }
    std::fprintf(out, "}}\n");
    return;
  }
  if (code != 0) {
    std::fprintf(out, "%s (code %u) on %s: status %d (%s)\n", name.c_str(), code, link.c_str(), status,
                 status_text(status));
  } else {
    std::fprintf(out, "%s on %s: status %d (%s)\n", name.c_str(), link.c_str(), status, status_text(status));
  }
  if (!bytes_.empty()) {
    std::fprintf(out, "data (%zu bytes):\n", bytes_.size());
    for (size_t row = 0; row < bytes_.size(); row += 16) {
      std::fprintf(out, "  %04zx ", row);
      for (size_t i = row; i < row + 16 && i < bytes_.size(); ++i) std::fprintf(out, " %02x", bytes_[i]);
      std::fprintf(out, "\n");
    }
  }
  for (const Field& f : fields_) std::fprintf(out, "%-21s %s\n", f.label.c_str(), f.text.c_str());
}

}  // namespace lyractl
