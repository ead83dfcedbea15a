/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// A serial port opened for exclusive use, with a driver-like input queue.
//
// The input queue: bytes that arrive on the line are moved from the kernel
// into a queue of the size given to set_queue_sizes() whenever the caller
// asks how many bytes wait or waits for input. This gives the exact
// "bytes waiting / read n bytes" model the transaction engine is written
// against, and lets a wait for "n bytes" sleep in the system's wait until the next
// byte arrives instead of spinning while a partial answer is queued.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/system_error.h"

namespace lyralink::platform {

enum class Parity : uint8_t { none, odd, even };
enum class StopBits : uint8_t { one, two };
// How a modem-control output line is driven while the port is open.
enum class LineControl : uint8_t { disabled, enabled };

// The line settings of a port, in the shape of the classic device control
// block: read them, change what matters, write them back.
struct SerialSettings {
  uint32_t baud = 9600;
  uint8_t data_bits = 8;
  Parity parity = Parity::none;
  StopBits stop_bits = StopBits::one;
  bool binary = true;          // raw bytes: no line editing, no translation
  bool parity_check = false;
  bool cts_output_flow = false;
  bool dsr_output_flow = false;
  bool xon_xoff_output = false;
  bool xon_xoff_input = false;
  bool null_stripping = false;
  LineControl dtr_control = LineControl::enabled;
  LineControl rts_control = LineControl::enabled;
};

struct ModemStatus {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool dcd = false;
};

class SerialPort {
 public:
  // Opens path for reading and writing, exclusively: a port that another
  // process holds fails to open (flock and TIOCEXCL on POSIX; share mode 0
  // on Windows, path "\\.\COMn"). Never blocks. Returns null on failure,
  // with the reason in *error.
  static std::unique_ptr<SerialPort> open(const std::string& path, SystemError* error = nullptr);

  ~SerialPort();  // releases the port; never blocks
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Input queue capacity in bytes (the output side is unbuffered here, so
  // its size is accepted and ignored). Always succeeds; never blocks.
  bool set_queue_sizes(uint32_t input_bytes, uint32_t output_bytes);

  // Reads the current line settings. False when the device refuses. Never
  // blocks.
  bool get_settings(SerialSettings& settings) const;

  // Applies the settings and drives DTR/RTS as their controls say. False
  // when the line settings are refused. Modem-line requests that a device
  // does not support (a pseudo-terminal) are ignored. Never blocks.
  bool set_settings(const SerialSettings& settings);

  // Reads CTS, DSR, RI and DCD. A device without modem lines reports all of
  // them off. nullopt only when the port itself has failed. Never blocks.
  std::optional<ModemStatus> modem_status();

  // Number of bytes in the input queue after taking in whatever has arrived.
  // nullopt when the port has failed (device unplugged, hang-up). Never
  // blocks.
  std::optional<size_t> bytes_waiting();

  // Blocks until at least `want` bytes are queued, the port fails or the
  // deadline passes, whichever is first. Sleeps in the system's wait; never
  // spins. Returns the queue count, nullopt on failure.
  std::optional<size_t> wait_for_input(size_t want, TimePoint deadline);

  // Moves up to n queued bytes into buf; never blocks. Returns the count.
  size_t read(void* buf, size_t n);

  // Writes n bytes, waiting at most 1 s for room in the system's buffer.
  // Returns the number written.
  size_t write(const void* buf, size_t n);

  // Clears the error state of the line (a no-op for POSIX ttys, where
  // framing and overrun errors do not latch). Never blocks.
  void clear_errors();

  // The current line rate as the driver holds it; nullopt when it cannot be
  // read. Never blocks.
  std::optional<uint32_t> current_baud() const;

  const std::string& path() const { return path_; }

 private:
  struct Impl;
  SerialPort(std::unique_ptr<Impl> impl, std::string path);
  std::unique_ptr<Impl> impl_;
  std::string path_;
};

// Whether SerialPort::open(path) would succeed now, learnt by opening the
// port and closing it again at once: no line settings and no modem lines
// are touched beyond what the system itself does at open and close (on a
// real line with HUPCL: DTR and RTS raised, then dropped). nullopt when it
// opens; otherwise why not: permission_denied, busy or would_block for a
// port another process holds (its lock is taken), not_found,
// not_supported for a file that is no terminal, ... Never blocks.
std::optional<SystemError> serial_port_open_error(const std::string& path);

}  // namespace lyralink::platform
