// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/usb_byte_port.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lyralink::link {

namespace {
constexpr uint32_t kNominalRate = 38400;
}

std::unique_ptr<UsbBytePort> UsbBytePort::open(BridgeLibrary& library, int index) {
  if (!library.loaded()) return nullptr;
  FT_HANDLE handle = nullptr;
  if (library.fn().FT_Open(index, &handle) != FT_OK || handle == nullptr) return nullptr;
  return std::unique_ptr<UsbBytePort>(new UsbBytePort(library, handle, kNominalRate));
}

std::unique_ptr<UsbBytePort> UsbBytePort::adopt(BridgeLibrary& library, FT_HANDLE handle, uint32_t rate) {
  return std::unique_ptr<UsbBytePort>(new UsbBytePort(library, handle, rate));
}

UsbBytePort::~UsbBytePort() {
  if (const BridgeFunctions* f = fn()) (void)f->FT_Close(handle_);
}

bool UsbBytePort::configure(uint32_t rate) {
  const BridgeFunctions* f = fn();
  if (f == nullptr || f->FT_SetBaudRate(handle_, rate) != FT_OK) return false;
  rate_ = rate;
  return f->FT_SetDataCharacteristics(handle_, 8, 0, 0) == FT_OK && f->FT_SetFlowControl(handle_, 0, 0, 0) == FT_OK;
}

std::optional<size_t> UsbBytePort::bytes_waiting() {
  const BridgeFunctions* f = fn();
  uint32_t n = 0;
  if (f == nullptr || f->FT_GetQueueStatus(handle_, &n) != FT_OK) return std::nullopt;
  return n;
}

std::optional<size_t> UsbBytePort::wait_for(size_t want, TimePoint deadline) {
  uint32_t idle_pause = 0;
  for (;;) {
    auto n = bytes_waiting();
    if (!n) return std::nullopt;
    if (*n >= want || platform::Clock::now() >= deadline) return n;
    uint32_t pause = std::clamp<uint32_t>(wire_time_us(want - *n, rate_), 100, 2000);
    if (*n == 0) {
      // Nothing has come yet: the device has not begun to answer (or never
      // will); look less often, up to every 8 ms.
      idle_pause = idle_pause == 0 ? pause : std::min<uint32_t>(idle_pause * 2, 8000);
      pause = idle_pause;
    } else {
      idle_pause = 0;
    }
    const int left_ms = platform::milliseconds_until(deadline);
    platform::sleep_us(std::min<uint32_t>(pause, static_cast<uint32_t>(left_ms) * 1000u + 100u));
  }
}

size_t UsbBytePort::read(uint8_t* buf, size_t n) {
  const BridgeFunctions* f = fn();
  uint32_t got = 0;
  if (f == nullptr || f->FT_Read(handle_, buf, static_cast<uint32_t>(n), &got) != FT_OK) return 0;
  return std::min<size_t>(got, n);
}

size_t UsbBytePort::write(const uint8_t* buf, size_t n) {
  const BridgeFunctions* f = fn();
  if (f == nullptr) return 0;
  // The library's write takes a mutable buffer; it gets a copy (on the
  // stack for a command frame or a probe).
  uint8_t small[64];
  std::vector<uint8_t> large;
  uint8_t* copy = small;
  if (n > sizeof small) {
    large.assign(buf, buf + n);
    copy = large.data();
  } else {
    std::memcpy(small, buf, n);
  }
  uint32_t written = 0;
  if (f->FT_Write(handle_, copy, static_cast<uint32_t>(n), &written) != FT_OK) return 0;
  return std::min<size_t>(written, n);
}

bool UsbBytePort::set_rate(uint32_t rate) {
  const BridgeFunctions* f = fn();
  if (f == nullptr || f->FT_SetBaudRate(handle_, rate) != FT_OK) return false;
  rate_ = rate;
  return true;
}

std::optional<ModemLines> UsbBytePort::modem_lines() {
  const BridgeFunctions* f = fn();
  uint32_t bits = 0;
  if (f == nullptr || f->FT_GetModemStatus(handle_, &bits) != FT_OK) return std::nullopt;
  return ModemLines{(bits & FT_MODEM_STATUS_CTS) != 0, (bits & FT_MODEM_STATUS_DSR) != 0};
}

void UsbBytePort::set_modem_lines(std::optional<bool> dtr, std::optional<bool> rts) {
  const BridgeFunctions* f = fn();
  if (f == nullptr) return;
  if (dtr) (void)(*dtr ? f->FT_SetDtr(handle_) : f->FT_ClrDtr(handle_));
  if (rts) (void)(*rts ? f->FT_SetRts(handle_) : f->FT_ClrRts(handle_));
}

std::optional<uint32_t> UsbBytePort::com_port_number() {
  const BridgeFunctions* f = fn();
  int32_t com = -1;
  if (f == nullptr || f->FT_GetComPortNumber(handle_, &com) != FT_OK || com < 0) return std::nullopt;
  return static_cast<uint32_t>(com);
}

std::optional<uint32_t> UsbBytePort::driver_version() {
  const BridgeFunctions* f = fn();
  uint32_t version = 0;
  if (f == nullptr || f->FT_GetDriverVersion(handle_, &version) != FT_OK) return std::nullopt;
  return version;
}

std::optional<uint8_t> UsbBytePort::latency_timer() {
  const BridgeFunctions* f = fn();
  uint8_t value = 0;
  if (f == nullptr || f->FT_GetLatencyTimer(handle_, &value) != FT_OK) return std::nullopt;
  return value;
}

bool UsbBytePort::set_latency_timer(uint8_t milliseconds) {
  const BridgeFunctions* f = fn();
  return f != nullptr && f->FT_SetLatencyTimer(handle_, milliseconds) == FT_OK;
}

}  // namespace lyralink::link
