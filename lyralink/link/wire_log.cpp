// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/wire_log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "lyralink/link/frames.h"
#include "lyralink/link/link_state.h"
#include "platform/environment.h"
#include "platform/log_file.h"
#include "platform/udp_socket.h"

namespace lyralink::link {

// ---- one attempt ----

void AttemptTrace::sent(const uint8_t* bytes, size_t n, platform::TimePoint when) {
  events_.push_back(Event{when, true, std::vector<uint8_t>(bytes, bytes + n), n, {}});
  stream_open_ = false;
  sent_any_ = true;
}

void AttemptTrace::stream_received(const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  if (stream_open_) {
    Event& e = events_.back();
    e.time = platform::Clock::now();
    e.bytes.insert(e.bytes.end(), bytes, bytes + n);
    e.length += n;
    return;
  }
  // Bytes queued before this attempt sent anything answer an earlier one.
  events_.push_back(Event{platform::Clock::now(), false, std::vector<uint8_t>(bytes, bytes + n), n,
                          sent_any_ ? std::string() : std::string("late")});
  stream_open_ = true;
}

void AttemptTrace::frame_received(const uint8_t* bytes, size_t n, size_t length, std::string note) {
  if (!sent_any_) note = note.empty() ? "late" : "late " + note;
  events_.push_back(Event{platform::Clock::now(), false, std::vector<uint8_t>(bytes, bytes + n),
                          length < n ? n : length, std::move(note)});
  stream_open_ = false;
}

// ---- formatting ----

std::string status_description(Status status) {
  std::string text = "unknown status";
  if (status == 0) {
    text = "ok";
  } else if (status == 1) {
    text = "no link open";
  } else if (status == 3) {
    text = "no valid answer";
  } else if (auto word = device_error_word(status)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(*word));
    text = std::string("device error ") + hex;
  }
  return std::to_string(status) + " (" + text + ")";
}

std::string describe_link(const LinkState& s) {
  switch (s.channel()) {
    case Channel::serial: return std::string("serial ") + (s.port_name[0] != '\0' ? s.port_name : "?");
    case Channel::usb: return std::string("usb ") + (s.port_name[0] != '\0' ? s.port_name : "USB");
    case Channel::ethernet:
      return std::string("ethernet ") + s.device_address + ":" + std::to_string(s.device_udp_port);
    case Channel::multiplex: {
      const MultiplexName& n = s.multiplex.attached_name();
      return "multiplex MPLX" + std::to_string(n.port) + "#" + std::to_string(n.client);
    }
    case Channel::none: break;
  }
  return "none -";
}

std::string format_steady_time(platform::TimePoint t) {
  const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
  char text[40];
  std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, us / 1000000, us % 1000000);
  return text;
}

namespace {

void append_hex(std::string& out, const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  if (bytes.empty()) {
    out.push_back('-');
    return;
  }
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
}

void append_line(std::string& out, const std::string& head, platform::TimePoint time, bool sent,
                 const std::vector<uint8_t>& bytes, size_t length, const std::string& note,
                 const std::string& tail) {
  out += format_steady_time(time);
  out += head;
  out += sent ? " tx " : " rx ";
  out += std::to_string(length);
  out.push_back(' ');
  append_hex(out, bytes);
  if (!note.empty()) {
    out.push_back(' ');
    out += note;
  }
  out += tail;
}

}  // namespace

std::string format_attempt(const std::string& prefix, const std::string& where, const AttemptTrace& trace,
                           uint32_t attempt, uint32_t attempts, Status status, platform::TimePoint ended) {
  const std::string head = " " + prefix + " " + where;
  const std::string tail =
      " try=" + std::to_string(attempt) + "/" + std::to_string(attempts) + " status=" + status_description(status) + "\n";
  std::string out;
  bool received_after_send = false;
  bool any_sent = false;
  for (const AttemptTrace::Event& e : trace.events()) {
    any_sent = any_sent || e.sent;
    if (!e.sent && any_sent) received_after_send = true;
    append_line(out, head, e.time, e.sent, e.bytes, e.length, e.note, tail);
  }
  // The answer that never came: the moment the attempt gave up on it.
  if (any_sent && !received_after_send) append_line(out, head, ended, false, {}, 0, {}, tail);
  return out;
}

// ---- the log ----

WireLog::WireLog() : prefix_("lyralink[" + std::to_string(platform::current_process_id()) + "]") {}
WireLog::~WireLog() = default;

WireLog& wire_log() {
  static WireLog* log = new WireLog;  // lives until the library is unloaded
  return *log;
}

void WireLog::refresh_from_environment() {
  std::optional<std::string> value = platform::environment_value("LYRALINK_LOG");
  if (value && value->empty()) value.reset();
  set_destination(value);
}

void WireLog::set_destination(const std::optional<std::string>& destination) {
  if (destination == destination_) return;
  destination_ = destination;
  sink_.reset();
  if (!destination) return;
  try {
    if (*destination == "stderr") {
      sink_ = platform::LogFile::standard_error();
      return;
    }
    platform::SystemError error;
    sink_ = platform::LogFile::open_append(*destination, &error);
    if (!sink_) fail(error.message(), "no wire log is written");
  } catch (...) {
    sink_.reset();
  }
}

void WireLog::fail(const std::string& reason, const char* consequence) noexcept {
  sink_.reset();
  try {
    const std::string line = "lyralink: cannot write the wire log (LYRALINK_LOG=" + destination_.value_or("") +
                             "): " + reason + "; " + consequence + "\n";
    if (auto err = platform::LogFile::standard_error()) (void)err->write(line.data(), line.size());
  } catch (...) {
  }
}

void WireLog::write_attempt(const LinkState& s, const AttemptTrace& trace, uint32_t attempt, uint32_t attempts,
                            Status status) noexcept {
  if (!sink_) return;
  try {
    const std::string lines =
        format_attempt(prefix_, describe_link(s), trace, attempt, attempts, status, platform::Clock::now());
    append(lines.data(), lines.size());
  } catch (...) {
    // Out of memory while formatting: this attempt goes unlogged.
  }
}

void WireLog::write_exception(const char* export_name, const char* reason) noexcept {
  try {
    // The export may have failed before any link was opened, which is when
    // the log follows LYRALINK_LOG otherwise.
    refresh_from_environment();
  } catch (...) {
    // Out of memory again: keep the destination as it was.
  }
  if (!sink_) return;
  const int64_t us =
      std::chrono::duration_cast<std::chrono::microseconds>(platform::Clock::now().time_since_epoch()).count();
  char line[512];
  const int n = std::snprintf(line, sizeof line, "%" PRId64 ".%06" PRId64 " %s %s exception: %s\n", us / 1000000,
                              us % 1000000, prefix_.c_str(), export_name != nullptr ? export_name : "?",
                              reason != nullptr ? reason : "unknown exception");
  if (n <= 0) return;
  const size_t length = std::min(static_cast<size_t>(n), sizeof line - 1);
  line[length - 1] = '\n';  // a reason cut short still ends its line
  append(line, length);
}

void WireLog::append(const char* data, size_t n) noexcept {
  try {
    platform::SystemError error;
    if (sink_->write(data, n, &error)) return;
    // Standard error that cannot be written cannot take the report either.
    if (*destination_ == "stderr") {
      sink_.reset();
    } else {
      fail(error.message(), "the wire log stops here");
    }
  } catch (...) {
    sink_.reset();  // out of memory while reporting a failed write
  }
}

}  // namespace lyralink::link
