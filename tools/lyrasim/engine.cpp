// SPDX-License-Identifier: LGPL-2.1-or-later
#include "tools/lyrasim/engine.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tools/lyrasim/text.h"

namespace lyrasim {

void FrameAssembler::feed(const uint8_t* bytes, size_t n) { buffer_.insert(buffer_.end(), bytes, bytes + n); }

std::optional<Command> FrameAssembler::next(std::vector<uint8_t>* junk) {
  while (buffer_.size() >= 2) {
    if (buffer_[0] != 0xA5 || buffer_[1] != 0x5A) {
      if (junk != nullptr) junk->push_back(buffer_.front());
      buffer_.pop_front();
      continue;
    }
    if (buffer_.size() < 12) return std::nullopt;
    if (buffer_[10] != 0xB9 || buffer_[11] != 0x9B) {
      if (junk != nullptr) junk->push_back(buffer_.front());
      buffer_.pop_front();
      continue;
    }
    Command c;
    for (size_t i = 0; i < 12; ++i) c.raw[i] = buffer_[i];
    buffer_.erase(buffer_.begin(), buffer_.begin() + 12);
    return c;
  }
  return std::nullopt;
}

namespace {
// A frame is at most 1478 bytes; a longer change only costs memory. An hour
// is longer than any client waits.
constexpr long long kMaxLengthChange = 65536;
constexpr long long kMaxDelayMs = 3600000;
}  // namespace

const char* fault_help() {
  return "KIND[=VALUE][,code=N][,on=ENDPOINT][,skip=N][,count=N]\n"
         "  KIND: silent | checksum | echo | error=0xAAA8..0xAAAF | length=+N/-N |\n"
         "        delay=MS | garbage   (N at most 65536, MS at most 3600000)\n"
         "  code: only frames with this command code; on: only this endpoint\n"
         "  skip: let N matching frames pass first; count: apply N times only";
}

std::optional<FaultRule> parse_fault(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<FaultRule> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  FaultRule r;
  bool first = true;
  for (const std::string& item : split_fields(text, ',')) {
    const auto [key, value] = split_setting(item);
    long long v = 0;
    bool has_number = parse_integer(value, v);
    if (first) {
      first = false;
      if (key == "silent") r.kind = FaultKind::silent;
      else if (key == "checksum") r.kind = FaultKind::checksum;
      else if (key == "echo") r.kind = FaultKind::echo;
      else if (key == "garbage") r.kind = FaultKind::garbage;
      else if (key == "error" && has_number && v >= 0xAAA8 && v <= 0xAAAF) r.kind = FaultKind::error_word;
      else if (key == "length" && has_number && v != 0 && v >= -kMaxLengthChange && v <= kMaxLengthChange) r.kind = FaultKind::length;
      else if (key == "delay" && has_number && v >= 0 && v <= kMaxDelayMs) r.kind = FaultKind::delay;
      else return fail("bad fault '" + item + "'");
      r.value = static_cast<int32_t>(v);
      continue;
    }
    if (key == "on" && !value.empty()) r.endpoint = value;
    else if (key == "code" && has_number && v >= 0 && v <= 0xFFFF) r.code = static_cast<uint16_t>(v);
    else if (key == "skip" && has_number && v >= 0 && v <= 0xFFFFFFFFll) r.skip = static_cast<uint32_t>(v);
    else if (key == "count" && has_number && v >= 0 && v <= 0xFFFFFFFFll) r.count = static_cast<uint32_t>(v);
    else return fail("bad fault option '" + item + "'");
  }
  return r;
}

uint64_t wire_time_us(size_t n, uint32_t baud) {
  if (baud == 0) return 0;
  return static_cast<uint64_t>(n) * 10u * 1000000u / baud;
}

// ---- record ----

bool FrameRecord::open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> hold(mutex_);
  lyralink::platform::SystemError why;
  file_ = lyralink::platform::LogFile::open_append(path, &why);
  if (!file_) {
    if (error != nullptr) *error = path + ": " + why.reason();
    return false;
  }
  return true;
}

void FrameRecord::line(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!file_) return;
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now().time_since_epoch()).count();
  // One write per line: a reader of the record sees whole lines only.
  const std::string whole = std::to_string(static_cast<long long>(us)) + " " + text + "\n";
  (void)file_->write(whole.data(), whole.size());
}

namespace {
std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(digits[p[i] >> 4]);
    s.push_back(digits[p[i] & 15]);
  }
  return s;
}
}  // namespace

void FrameRecord::frame(const std::string& endpoint, const Command& cmd, std::optional<uint32_t> baud) {
  std::string text = endpoint + " " + hex(cmd.raw.data(), 12);
  if (baud) text += " baud=" + std::to_string(*baud);
  line(text);
}

void FrameRecord::junk(const std::string& endpoint, const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  line(endpoint + " junk " + hex(bytes, n));
}

// ---- responder ----

void Responder::add_fault(FaultRule rule) {
  std::lock_guard<std::mutex> hold(mutex_);
  faults_.push_back(std::move(rule));
}

void Responder::clear_faults() {
  std::lock_guard<std::mutex> hold(mutex_);
  faults_.clear();
}

std::optional<Reply> Responder::answer(Analyser& device, const std::string& endpoint, const Command& cmd,
                                       SteadyClock::time_point now) {
  Reply reply{device.respond(cmd, now), 0};
  std::lock_guard<std::mutex> hold(mutex_);
  for (FaultRule& r : faults_) {
    if (r.code && *r.code != cmd.code()) continue;
    if (!r.endpoint.empty() && r.endpoint != endpoint) continue;
    if (r.seen++ < r.skip) continue;
    if (r.count && r.applied >= *r.count) continue;
    ++r.applied;
    std::vector<uint8_t>& b = reply.bytes;
    switch (r.kind) {
      case FaultKind::silent: return std::nullopt;
      case FaultKind::checksum: {
        // The checksum word of a short answer sits at 128, of a bulk answer
        // at 132, of a long one just before the end word. An answer that a
        // length rule cut below 4 bytes has none left to spoil.
        if (b.size() < 4) break;
        size_t at = b.size() == 136 ? (is_bulk_code(cmd.code()) ? 132 : 128) : b.size() - 4;
        put16(&b[at], static_cast<uint16_t>(get16(&b[at]) + 1));
        break;
      }
      case FaultKind::echo: {
        // Flip a bit of parameter word 1 in the echo and fix the checksum,
        // so that only the echo is wrong.
        if (b.size() == 136 && !is_bulk_code(cmd.code())) {
          b[110] ^= 0x01;
          put16(&b[128], static_cast<uint16_t>(get16(&b[128]) + (b[110] & 1 ? 1 : -1)));
        } else if (b.size() > 136) {
          size_t echo = b.size() - 12;
          b[echo + 2] ^= 0x01;
          put16(&b[b.size() - 4], static_cast<uint16_t>(get16(&b[b.size() - 4]) + (b[echo + 2] & 1 ? 1 : -1)));
        }
        break;
      }
      case FaultKind::error_word: b = error_answer(static_cast<uint16_t>(r.value)); break;
      case FaultKind::length:
        if (r.value > 0) b.insert(b.end(), static_cast<size_t>(r.value), 0x00);
        else b.resize(b.size() > static_cast<size_t>(-r.value) ? b.size() - static_cast<size_t>(-r.value) : 0);
        break;
      case FaultKind::delay: reply.delay_ms += static_cast<uint32_t>(r.value); break;
      case FaultKind::garbage:
        for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>((b[i] * 131u + i * 7u) ^ 0x5Au);
        break;
    }
  }
  return reply;
}

}  // namespace lyrasim
