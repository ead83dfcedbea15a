/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The wire trace log: with LYRALINK_LOG=stderr or LYRALINK_LOG=/path/file
// the library writes one line per frame sent and received on the link,
// for every channel:
//
//   1520.004211 lyralink[4242] serial COM3 tx 12 a55a5a00000000000000b99b try=1/8 status=0 (ok)
//   1520.019871 lyralink[4242] serial COM3 rx 136 a55a0000...b99b try=1/8 status=0 (ok)
//
// fields: steady-clock time in seconds (the clock lyrasim's frame record
// uses, so the two can be laid side by side), the process, the channel and
// its port or address, the direction, the length, the bytes in hex ("-"
// for none), the attempt of the transaction and its status. An attempt
// whose answer never came has an "rx 0 -" line at the moment it gave up.
// Notes follow the hex: "late" for bytes of an earlier attempt dropped
// before the send, "from=ADDR:PORT" for a datagram of another sender.
//
// Off by default, and then it costs one test of a pointer per
// transaction and per channel call. It never changes a command's result:
// a destination that cannot be opened or written is reported once on
// standard error and logging stops.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lyralink/link/frames.h"
#include "platform/clock.h"

namespace lyralink::platform {
class LogFile;
}

namespace lyralink::link {

struct LinkState;

// The frames of one attempt, in the order they passed.
class AttemptTrace {
 public:
  struct Event {
    platform::TimePoint time;
    bool sent = false;
    std::vector<uint8_t> bytes;
    size_t length = 0;  // on the wire; more than bytes.size() for a cut datagram
    std::string note;
  };

  // A frame handed to the channel at `when` (taken just before the write,
  // so that it is not later than the frame's arrival at the other end).
  void sent(const uint8_t* bytes, size_t n, platform::TimePoint when);
  // A read from a byte stream (serial port, bridge queue): joined to the
  // read before it unless a frame was sent in between, so an answer read
  // in pieces is one frame. Reads before the first send of the attempt are
  // late bytes of an earlier one.
  void stream_received(const uint8_t* bytes, size_t n);
  // A frame of its own (a datagram, a Multiplex answer). length may exceed
  // n when only n bytes of it were kept.
  void frame_received(const uint8_t* bytes, size_t n, size_t length, std::string note = {});

  const std::vector<Event>& events() const { return events_; }
  void clear() {
    events_.clear();
    stream_open_ = false;
    sent_any_ = false;
  }

 private:
  std::vector<Event> events_;
  bool stream_open_ = false;  // the last event is a stream read still growing
  bool sent_any_ = false;
};

// The text after "status=" for a status code: "0 (ok)".
std::string status_description(Status status);

// Where a link runs, as the log names it: "serial COM3", "usb USB",
// "ethernet 10.0.0.5:50000", "multiplex MPLX3#1".
std::string describe_link(const LinkState& s);

// The log lines of one attempt (each ending in '\n'). Pure, for the tests.
// An attempt that sent and received nothing after the send gets an
// "rx 0 -" line at `ended`.
std::string format_attempt(const std::string& prefix, const std::string& where, const AttemptTrace& trace,
                           uint32_t attempt, uint32_t attempts, Status status, platform::TimePoint ended);

// Seconds and microseconds of a steady-clock time: "1520.004211".
std::string format_steady_time(platform::TimePoint t);

class WireLog {
 public:
  WireLog();
  ~WireLog();
  WireLog(const WireLog&) = delete;
  WireLog& operator=(const WireLog&) = delete;

  bool enabled() const { return sink_ != nullptr; }

  // Follows LYRALINK_LOG as it is now (the library calls this when a link
  // is opened): unset or empty is off, "stderr" standard error, anything
  // else a file path that lines are appended to. Nothing is reopened while
  // the value stays the same; a value that already failed is not retried.
  void refresh_from_environment();
  // The same with the value given (nullopt: off), for tests and tools.
  void set_destination(const std::optional<std::string>& destination);

  // Appends the lines of one attempt. Never throws; a failed write is
  // reported once on standard error and ends the logging.
  void write_attempt(const LinkState& s, const AttemptTrace& trace, uint32_t attempt, uint32_t attempts,
                     Status status) noexcept;

  // The reason an export failed inside (an exception that its barrier
  // turned into a status), when LYRALINK_LOG is set:
  //
  //   1520.004211 lyralink[4242] LYRA_QUERY_SPECTRA exception: std::bad_alloc
  //
  // reason null: "unknown exception". Formats without allocating, since
  // the usual reason is that memory ran out. Never throws.
  void write_exception(const char* export_name, const char* reason) noexcept;

 private:
  void fail(const std::string& reason, const char* consequence) noexcept;
  // Writes to the open sink; a failed write ends the logging.
  void append(const char* data, size_t n) noexcept;

  std::unique_ptr<platform::LogFile> sink_;
  std::optional<std::string> destination_;  // as last configured
  std::string prefix_;                      // "lyralink[<pid>]"
};

// The process-wide log.
WireLog& wire_log();

}  // namespace lyralink::link
