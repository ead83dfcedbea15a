/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A device reached as a stream of bytes with a receive queue: a serial port
// (also a USB-serial bridge's virtual serial port) or a device opened
// directly through the bridge library. The transaction engine, the device
// search and the baud ladder run on this interface only; what differs
// between the two kinds of port stays in their implementations
// (serial_byte_port.h, usb_byte_port.h).
//
// Every member says how long it may block and what a failure means. A port
// "fails" when the device is gone (unplugged, hang-up, the bridge library
// refuses a queue query); a failed port stays failed, and the queries below
// report it as nullopt.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/clock.h"

namespace lyralink::link {

using platform::TimePoint;

// The modem status lines the analysers use: CTS reports the charger
// switch, DSR the charging state.
struct ModemLines {
  bool cts = false;
  bool dsr = false;
};

// Time to carry n bytes at `baud` (10 bits a byte on an 8N1 line), in
// microseconds; a nominal rate is assumed when baud is 0.
uint32_t wire_time_us(size_t n, uint32_t baud);

class BytePort {
 public:
  // Bytes a drain reads at most: a device that keeps talking would keep a
  // drain going for ever; this is what a fast line carries in a few seconds.
  static constexpr size_t kDrainBound = size_t{1} << 20;

  virtual ~BytePort() = default;
  BytePort() = default;
  BytePort(const BytePort&) = delete;
  BytePort& operator=(const BytePort&) = delete;

  // Bytes in the receive queue, after taking in what has arrived. Never
  // blocks. nullopt: the port has failed.
  virtual std::optional<size_t> bytes_waiting() = 0;

  // Blocks until at least `want` bytes are queued or the deadline passes,
  // whichever is first. Never spins: a serial port sleeps until bytes
  // arrive; the bridge library offers nothing to sleep on, so a direct USB
  // device is polled with pauses as long as the missing bytes need on the
  // wire. Returns the queue count (below `want` on time-out), nullopt when
  // the port has failed.
  virtual std::optional<size_t> wait_for(size_t want, TimePoint deadline) = 0;

  // Moves up to n queued bytes into buf. Never blocks. Returns the count;
  // 0 when nothing is queued or the read fails.
  virtual size_t read(uint8_t* buf, size_t n) = 0;

  // Writes n bytes. May block up to about a second while the driver's
  // buffer is full. Returns the number written; fewer than n on failure.
  virtual size_t write(const uint8_t* buf, size_t n) = 0;

  // Clears a latched line error (framing, overrun) after a read, so that
  // the driver keeps receiving. Never blocks; a no-op where errors do not
  // latch.
  virtual void clear_errors() {}

  // Moves the line to `rate` with the analyser's settings (8N1, no flow
  // control; see the implementations for the modem lines). Never blocks
  // beyond the driver's call. False when the device refuses the rate; the
  // line then keeps its old rate.
  virtual bool set_rate(uint32_t rate) = 0;

  // The rate the line was last set to (the rate the port was opened at
  // before any set_rate).
  virtual uint32_t rate() const = 0;

  // CTS and DSR. nullopt when the lines cannot be read (the port has
  // failed, or the device refuses the query).
  virtual std::optional<ModemLines> modem_lines() = 0;

  // Drives DTR and RTS (nullopt: leave the line as it is). Never blocks
  // beyond the driver's call; a device without modem lines ignores it.
  virtual void set_modem_lines(std::optional<bool> dtr, std::optional<bool> rts) = 0;

  // Reads and drops what is queued until the queue is empty, the port fails
  // or kDrainBound bytes were dropped. With `slowly`, pauses 10 ms after
  // each piece, so that bytes still on their way are caught too. `seen`
  // (when set) is shown every piece dropped, for the wire log. Returns
  // false when the last queue query failed.
  using Bytes = std::function<void(const uint8_t* bytes, size_t n)>;
  virtual bool drain(bool slowly = false, const Bytes& seen = {});

  // Reads exactly n bytes that are already queued; false on a short or
  // failed read. The line's error state is cleared afterwards.
  bool read_exactly(uint8_t* buf, size_t n);
};

}  // namespace lyralink::link
