// SPDX-License-Identifier: LGPL-2.1-or-later
// The serial port on Win32: a communications handle opened with share mode 0
// (the system refuses a second open of a port another process holds) and
// used synchronously.
//
// Reads never block: the input-queue count comes from ClearCommError, and a
// read asks for no more than that count. A wait for input is one read of a
// single byte with the timeouts {MAXDWORD, MAXDWORD, ms}, which the driver
// ends as soon as a byte arrives or after ms: the thread sleeps in the
// driver, never in a spin. (WaitCommEvent with EV_RXCHAR would do the same on
// an overlapped handle, but Wine completes it at once with an empty mask on a
// pseudo-terminal, and its overlapped read with the "return at once" timeouts
// does not return until a byte arrives; the single-byte read behaves the same
// on both. It is one byte because Wine ends a longer read with these
// timeouts only when all of it came or the time is out.)
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/serial_port.h"
#include "platform/win32/win32_error.h"

namespace lyralink::platform {

namespace {

// How long a write may wait for the driver to take its bytes.
constexpr DWORD kWriteTimeoutMs = 1000;

// Modem-line requests that the device does not offer. A pseudo-terminal
// behind a Wine COM port answers them with ERROR_NOT_SUPPORTED, a driver
// without modem lines with ERROR_INVALID_FUNCTION: both count as lines off,
// as ENOTTY does on Linux.
bool lines_not_offered(DWORD error) { return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION; }

// What a handle that is no communications device reports: opening a file or
// another device through a port name succeeds, and only the line calls
// fail (under Wine with ERROR_INVALID_HANDLE, or no error code at all).
SystemError not_a_port(const std::string& path) {
  return win32::system_error_of("open " + path, ERROR_NOT_SUPPORTED);
}

// Opens the port for exclusive use and checks that it is one; the handle or
// INVALID_HANDLE_VALUE with the reason in *error.
HANDLE open_port(const std::string& path, SystemError* error) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    report(error, last_system_error("open " + path));
    return INVALID_HANDLE_VALUE;
  }
  // Only a communications driver has properties to give. (Not the line
  // state: Wine cannot read it back from a terminal whose rate a Linux
  // program set as an arbitrary rate, yet the port works once set again.)
  COMMPROP properties{};
  if (!GetCommProperties(handle, &properties)) {
    report(error, not_a_port(path));
    CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

void drive_line(HANDLE handle, DWORD function) {
  // A refused modem-line request never fails the caller (see
  // lines_not_offered); nothing else can be done about any other refusal.
  (void)EscapeCommFunction(handle, function);
}

}  // namespace

// The open handle and the input queue in front of it.
struct SerialPort::Impl {
  explicit Impl(HANDLE h) : handle(h) {}
  // Moves queued bytes from the driver into the queue; false on failure.
  bool fill_queue();
  // Sets the read timeouts: 0 for reads that take what is there, else a
  // wait of at most ms for the first byte. False when refused.
  bool set_read_wait(DWORD ms);

  HANDLE handle;
  std::vector<uint8_t> queue;
  size_t queue_capacity = 4096;
  bool failed = false;
  DWORD read_wait_ms = 0;
};

bool SerialPort::Impl::set_read_wait(DWORD ms) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = ms == 0 ? 0 : MAXDWORD;
  t.ReadTotalTimeoutConstant = ms;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  if (!SetCommTimeouts(handle, &t)) return false;
  read_wait_ms = ms;
  return true;
}

bool SerialPort::Impl::fill_queue() {
  if (failed) return false;
  while (queue.size() < queue_capacity) {
    DWORD errors = 0;
    COMSTAT status{};
    // ClearCommError fails once the device is gone (an unplugged adapter,
    // a pseudo-terminal whose other side closed: ERROR_NOT_READY).
    if (!ClearCommError(handle, &errors, &status)) {
      failed = true;
      return false;
    }
    if (status.cbInQue == 0) return true;
    uint8_t chunk[512];
    const DWORD want = static_cast<DWORD>(std::min<size_t>({sizeof chunk, queue_capacity - queue.size(), status.cbInQue}));
    DWORD got = 0;
    // No more than the driver holds: the read completes at once whatever
    // the timeouts say.
    if (!ReadFile(handle, chunk, want, &got, nullptr)) {
      failed = true;
      return false;
    }
    if (got == 0) return true;
    queue.insert(queue.end(), chunk, chunk + got);
  }
  return true;
}

std::unique_ptr<SerialPort> SerialPort::open(const std::string& path, SystemError* error) {
  HANDLE handle = open_port(path, error);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto impl = std::make_unique<Impl>(handle);
  if (!impl->set_read_wait(0)) {
    report(error, last_system_error("set timeouts of " + path));
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl), path));
}

std::optional<SystemError> serial_port_open_error(const std::string& path) {
  SystemError error;
  HANDLE handle = open_port(path, &error);
  if (handle == INVALID_HANDLE_VALUE) return error;
  CloseHandle(handle);
  return std::nullopt;
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl, std::string path)
    : impl_(std::move(impl)), path_(std::move(path)) {}

SerialPort::~SerialPort() { CloseHandle(impl_->handle); }

bool SerialPort::set_queue_sizes(uint32_t input_bytes, uint32_t output_bytes) {
  impl_->queue_capacity = std::max<size_t>(input_bytes, 1);
  // The driver's own buffers are a recommendation it may round or ignore;
  // the queue above is what the caller counts on.
  (void)SetupComm(impl_->handle, std::max<DWORD>(input_bytes, 16), std::max<DWORD>(output_bytes, 16));
  return true;
}

bool SerialPort::get_settings(SerialSettings& s) const {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) return false;
  s.baud = dcb.BaudRate;
  s.data_bits = dcb.ByteSize;
  s.parity = dcb.Parity == ODDPARITY ? Parity::odd : dcb.Parity == EVENPARITY ? Parity::even : Parity::none;
  s.stop_bits = dcb.StopBits == ONESTOPBIT ? StopBits::one : StopBits::two;
  s.binary = dcb.fBinary != 0;
  s.parity_check = dcb.fParity != 0;
  s.cts_output_flow = dcb.fOutxCtsFlow != 0;
  s.dsr_output_flow = dcb.fOutxDsrFlow != 0;
  s.xon_xoff_output = dcb.fOutX != 0;
  s.xon_xoff_input = dcb.fInX != 0;
  s.null_stripping = dcb.fNull != 0;
  s.dtr_control = dcb.fDtrControl == DTR_CONTROL_DISABLE ? LineControl::disabled : LineControl::enabled;
  s.rts_control = dcb.fRtsControl == RTS_CONTROL_DISABLE ? LineControl::disabled : LineControl::enabled;
  return true;
}

bool SerialPort::set_settings(const SerialSettings& s) {
  HANDLE handle = impl_->handle;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) {
    // A line state the driver cannot read back (Wine, after a Linux
    // program set the terminal to a rate outside the classic table) is
    // replaced as a whole: every field that matters is set below.
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  }
  dcb.BaudRate = s.baud;
  dcb.ByteSize = s.data_bits >= 5 && s.data_bits <= 8 ? s.data_bits : 8;
  dcb.Parity = s.parity == Parity::odd ? ODDPARITY : s.parity == Parity::even ? EVENPARITY : NOPARITY;
  dcb.StopBits = s.stop_bits == StopBits::two ? TWOSTOPBITS : ONESTOPBIT;
  // Win32 drivers support binary transfers only.
  dcb.fBinary = TRUE;
  dcb.fParity = s.parity_check ? TRUE : FALSE;
  dcb.fOutxCtsFlow = s.cts_output_flow ? TRUE : FALSE;
  dcb.fOutxDsrFlow = s.dsr_output_flow ? TRUE : FALSE;
  dcb.fOutX = s.xon_xoff_output ? TRUE : FALSE;
  dcb.fInX = s.xon_xoff_input ? TRUE : FALSE;
  dcb.fNull = s.null_stripping ? TRUE : FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fErrorChar = FALSE;
  // An error must not stop every later read and write until it is cleared.
  dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = s.dtr_control == LineControl::enabled ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = s.rts_control == LineControl::enabled ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  if (!SetCommState(handle, &dcb)) return false;
  // The control block sets the lines as well; driving them again makes the
  // level explicit for drivers that apply it only at the next open.
  drive_line(handle, s.dtr_control == LineControl::enabled ? SETDTR : CLRDTR);
  drive_line(handle, s.rts_control == LineControl::enabled ? SETRTS : CLRRTS);
  return true;
}

std::optional<ModemStatus> SerialPort::modem_status() {
  if (impl_->failed) return std::nullopt;
  DWORD bits = 0;
  if (!GetCommModemStatus(impl_->handle, &bits)) {
    if (lines_not_offered(GetLastError())) return ModemStatus{};
    return std::nullopt;
  }
  return ModemStatus{(bits & MS_CTS_ON) != 0, (bits & MS_DSR_ON) != 0, (bits & MS_RING_ON) != 0,
                     (bits & MS_RLSD_ON) != 0};
}

std::optional<size_t> SerialPort::bytes_waiting() {
  if (!impl_->fill_queue()) return std::nullopt;
  return impl_->queue.size();
}

std::optional<size_t> SerialPort::wait_for_input(size_t want, TimePoint deadline) {
  Impl& port = *impl_;
  for (;;) {
    if (!port.fill_queue()) return std::nullopt;
    if (port.queue.size() >= want || port.queue.size() >= port.queue_capacity) return port.queue.size();
    int left = milliseconds_until(deadline);
    if (left == 0 && Clock::now() >= deadline) return port.queue.size();
    // Round up so that a wait never ends a fraction of a millisecond early.
    const DWORD wait = static_cast<DWORD>(std::min(left, INT_MAX - 1)) + 1;
    if (wait != port.read_wait_ms && !port.set_read_wait(wait)) {
      port.failed = true;
      return std::nullopt;
    }
    uint8_t byte = 0;
    DWORD got = 0;
    if (!ReadFile(port.handle, &byte, 1, &got, nullptr)) {
      port.failed = true;
      return std::nullopt;
    }
    if (got == 1) port.queue.push_back(byte);
  }
}

size_t SerialPort::read(void* buf, size_t n) {
  Impl& port = *impl_;
  size_t count = std::min(n, port.queue.size());
  if (count == 0) return 0;
  std::memcpy(buf, port.queue.data(), count);
  port.queue.erase(port.queue.begin(), port.queue.begin() + static_cast<std::ptrdiff_t>(count));
  return count;
}

size_t SerialPort::write(const void* buf, size_t n) {
  Impl& port = *impl_;
  const auto* bytes = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  const TimePoint deadline = deadline_after_ms(kWriteTimeoutMs);
  // Each write waits at most the write timeout (1 s) for the driver to take
  // the bytes; a partial write is continued while time is left.
  while (done < n) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(port.handle, bytes + done, chunk, &put, nullptr)) break;
    done += put;
    if (put == 0 || milliseconds_until(deadline) == 0) break;
  }
  return done;
}

void SerialPort::clear_errors() {
  DWORD errors = 0;
  COMSTAT status{};
  // Framing, parity and overrun errors latch until they are read here.
  (void)ClearCommError(impl_->handle, &errors, &status);
}

std::optional<uint32_t> SerialPort::current_baud() const {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->handle, &dcb)) return std::nullopt;
  return dcb.BaudRate;
}

}  // namespace lyralink::platform
