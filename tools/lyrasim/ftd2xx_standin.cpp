// SPDX-License-Identifier: LGPL-2.1-or-later
// A stand-in for the USB bridge vendor's driver library (libftd2xx.so) that
// hosts emulated analysers in the calling process. The library binds it by
// the same 21 entry points as the vendor's.
//
// Configuration, read when the library is loaded:
//   LYRASIM_USB="740,sn=5,com=7;310,sn=9"   devices, ';'-separated; besides the
//                                            analyser's options: com=N virtual
//                                            serial port (none without), desc=TEXT,
//                                            driver=N, latency=MS, descdelay=MS
//                                            (no description until MS after it was
//                                            configured), qfail=1 (queue queries
//                                            fail), qfailbaud=R (they fail at rate R)
//   LYRASIM_USB_FAULTS="silent,code=90;..."  fault rules, ';'-separated
//   LYRASIM_USB_RECORD=/path/file            frame record
//   LYRASIM_USB_CONFIG=/path/file            lines "device SPEC", "fault RULE",
//                                            "record PATH"
// and at any time through lyrasim_usb_configure(text) with the same lines
// ("reset" first drops every device and rule).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "tools/lyrasim/device.h"
#include "tools/lyrasim/engine.h"
#include "tools/lyrasim/options.h"

// STANDIN_EXPORT (an exported C function) comes from the build
// (tools/lyrasim/CMakeLists.txt), as the library's LYRALINK_EXPORT does.

using namespace lyrasim;

namespace {

using FT_STATUS = uint32_t;
constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;
constexpr FT_STATUS FT_INVALID_PARAMETER = 6;

struct Chunk {
  SteadyClock::time_point due;
  std::vector<uint8_t> bytes;
};

struct UsbDevice {
  EndpointSpec endpoint;
  std::unique_ptr<Analyser> analyser;
  bool open = false;
  uint32_t baud = 9600;
  uint8_t latency = 16;
  FrameAssembler assembler;
  std::deque<Chunk> rx;  // answer bytes on their way to the host
  bool dtr = false, rts = false;
  SteadyClock::time_point described_from{};
};

struct World {
  std::mutex mutex;
  std::vector<std::unique_ptr<UsbDevice>> devices;
  Responder responder;
  std::unique_ptr<FrameRecord> record;
  std::vector<std::string> calls;  // call log for tests
};

World& world() {
  static World* w = new World;
  return *w;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, sep)) {
    if (!item.empty()) parts.push_back(item);
  }
  return parts;
}

// Applies one configuration line; the world's mutex is held.
bool configure_line(World& w, const std::string& line) {
  std::istringstream in(line);
  std::string verb, rest;
  in >> verb;
  std::getline(in >> std::ws, rest);
  if (verb.empty() || verb[0] == '#') return true;
  std::string error;
  if (verb == "reset") {
    w.devices.clear();
    w.responder.clear_faults();
    w.record.reset();
    w.calls.clear();
    return true;
  }
  if (verb == "device") {
    auto endpoint = parse_endpoint_device("USB" + std::to_string(w.devices.size()), rest, &error);
    if (!endpoint) return false;
    auto d = std::make_unique<UsbDevice>();
    d->endpoint = *endpoint;
    d->latency = endpoint->latency;
    d->described_from = SteadyClock::now() + std::chrono::milliseconds(endpoint->description_delay_ms);
    d->analyser = std::make_unique<Analyser>(endpoint->identity);
    w.devices.push_back(std::move(d));
    return true;
  }
  if (verb == "fault") {
    auto rule = parse_fault(rest, &error);
    if (!rule) return false;
    w.responder.add_fault(*rule);
    return true;
  }
  if (verb == "record") {
    w.record = std::make_unique<FrameRecord>();
    return w.record->open(rest, &error);
  }
  return false;
}

__attribute__((constructor)) void load_configuration() {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  namespace plat = lyralink::platform;
  if (auto file = plat::environment_value("LYRASIM_USB_CONFIG")) {
    std::ifstream in(*file);
    std::string line;
    while (std::getline(in, line)) configure_line(w, line);
  }
  if (auto devices = plat::environment_value("LYRASIM_USB")) {
    for (const auto& d : split(*devices, ';')) configure_line(w, "device " + d);
  }
  if (auto faults = plat::environment_value("LYRASIM_USB_FAULTS")) {
    for (const auto& f : split(*faults, ';')) configure_line(w, "fault " + f);
  }
  if (auto record = plat::environment_value("LYRASIM_USB_RECORD")) configure_line(w, "record " + *record);
}

UsbDevice* device_of(void* handle) {
  World& w = world();
  for (auto& d : w.devices) {
    if (d.get() == handle && d->open) return d.get();
  }
  return nullptr;
}

size_t available(UsbDevice& d, SteadyClock::time_point now) {
  size_t n = 0;
  for (const Chunk& c : d.rx) {
    if (c.due > now) break;
    n += c.bytes.size();
  }
  return n;
}

void log_call(World& w, const std::string& text) {
  if (w.calls.size() < 100000) w.calls.push_back(text);
}

}  // namespace

// ---- control for tests ----

// Applies configuration lines (see the top of this file); 0 on success, or
// the 1-based number of the first line that failed.
STANDIN_EXPORT int lyrasim_usb_configure(const char* text) {
  if (text == nullptr) return -1;
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  int number = 0;
  for (const auto& line : split(text, '\n')) {
    ++number;
    if (!configure_line(w, line)) return number;
  }
  return 0;
}

// Copies the log of modem-line and latency calls ("SetDtr 0", "SetRts 0",
// "SetLatencyTimer 0 2" ...; the number is the device index), one per line,
// into buf; returns the full length. clear != 0 empties the log afterwards.
STANDIN_EXPORT int lyrasim_usb_calls(char* buf, int size, int clear) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  std::string all;
  for (const auto& c : w.calls) all += c + "\n";
  if (buf != nullptr && size > 0) {
    size_t n = std::min(all.size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, all.data(), n);
    buf[n] = '\0';
  }
  if (clear != 0) w.calls.clear();
  return static_cast<int>(all.size());
}

// ---- the vendor's entry points ----

STANDIN_EXPORT FT_STATUS FT_ListDevices(void* arg1, void* arg2, uint32_t flags) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  if (flags == 0x80000000u) {
    if (arg1 == nullptr) return FT_INVALID_PARAMETER;
    *static_cast<uint32_t*>(arg1) = static_cast<uint32_t>(w.devices.size());
    return FT_OK;
  }
  if ((flags & 0x40000000u) != 0 && (flags & 0xFFu) == 2) {
    size_t index = reinterpret_cast<uintptr_t>(arg1);
    if (index >= w.devices.size()) return FT_DEVICE_NOT_FOUND;
    if (arg2 == nullptr) return FT_INVALID_PARAMETER;
    // A device just plugged in is counted before its description can be read.
    if (SteadyClock::now() < w.devices[index]->described_from) return FT_DEVICE_NOT_FOUND;
    const std::string& text = w.devices[index]->endpoint.description;
    char* out = static_cast<char*>(arg2);
    size_t n = std::min<size_t>(text.size(), 63);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return FT_OK;
  }
  return FT_INVALID_PARAMETER;
}

STANDIN_EXPORT FT_STATUS FT_GetDeviceInfo(void* handle, uint32_t* type, uint32_t* id, char* serial, char* description,
                                          void*) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  if (type != nullptr) *type = 5;  // a full-speed UART bridge
  if (id != nullptr) *id = 0x04036001u;
  if (serial != nullptr) std::snprintf(serial, 16, "LY%05u", d->endpoint.identity.serial);
  if (description != nullptr) std::snprintf(description, 64, "%s", d->endpoint.description.c_str());
  return FT_OK;
}

STANDIN_EXPORT FT_STATUS FT_Open(int index, void** handle) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  if (handle == nullptr) return FT_INVALID_PARAMETER;
  if (index < 0 || static_cast<size_t>(index) >= w.devices.size()) return FT_DEVICE_NOT_FOUND;
  UsbDevice& d = *w.devices[static_cast<size_t>(index)];
  if (d.open) return FT_DEVICE_NOT_OPENED;
  d.open = true;
  d.rx.clear();
  d.baud = 9600;
  *handle = &d;
  return FT_OK;
}

STANDIN_EXPORT FT_STATUS FT_Close(void* handle) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  d->open = false;
  d->rx.clear();
  return FT_OK;
}

STANDIN_EXPORT FT_STATUS FT_Write(void* handle, void* buffer, uint32_t length, uint32_t* written) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  if (buffer == nullptr && length != 0) return FT_INVALID_PARAMETER;
  auto now = SteadyClock::now();
  d->assembler.feed(static_cast<const uint8_t*>(buffer), length);
  std::vector<uint8_t> junk;
  while (auto cmd = d->assembler.next(&junk)) {
    if (w.record) {
      w.record->junk(d->endpoint.name, junk.data(), junk.size());
      w.record->frame(d->endpoint.name, *cmd, d->baud);
    }
    junk.clear();
    if (!d->endpoint.bauds.empty() && std::find(d->endpoint.bauds.begin(), d->endpoint.bauds.end(), d->baud) == d->endpoint.bauds.end()) {
      continue;
    }
    auto reply = w.responder.answer(*d->analyser, d->endpoint.name, *cmd, now);
    if (!reply || reply->bytes.empty()) continue;
    auto due = now + std::chrono::milliseconds(reply->delay_ms);
    if (!d->rx.empty()) due = std::max(due, d->rx.back().due);
    if (!d->endpoint.wire) {
      d->rx.push_back(Chunk{due, std::move(reply->bytes)});
      continue;
    }
    for (size_t at = 0; at < reply->bytes.size(); at += 16) {
      size_t n = std::min<size_t>(16, reply->bytes.size() - at);
      due += std::chrono::microseconds(wire_time_us(n, d->baud));
      d->rx.push_back(Chunk{due, std::vector<uint8_t>(reply->bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                      reply->bytes.begin() + static_cast<std::ptrdiff_t>(at + n))});
    }
  }
  if (w.record) w.record->junk(d->endpoint.name, junk.data(), junk.size());
  if (written != nullptr) *written = length;
  return FT_OK;
}

STANDIN_EXPORT FT_STATUS FT_GetQueueStatus(void* handle, uint32_t* waiting) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  if (waiting == nullptr) return FT_INVALID_PARAMETER;
  if (d->endpoint.queue_fails || (d->endpoint.queue_fails_at_baud != 0 && d->baud == d->endpoint.queue_fails_at_baud)) {
    return FT_IO_ERROR;
  }
  *waiting = static_cast<uint32_t>(available(*d, SteadyClock::now()));
  return FT_OK;
}

STANDIN_EXPORT FT_STATUS FT_Read(void* handle, void* buffer, uint32_t length, uint32_t* returned) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  if (buffer == nullptr || returned == nullptr) return FT_INVALID_PARAMETER;
  auto now = SteadyClock::now();
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length && !d->rx.empty() && d->rx.front().due <= now) {
    Chunk& c = d->rx.front();
    size_t n = std::min<size_t>(length - done, c.bytes.size());
    std::memcpy(out + done, c.bytes.data(), n);
    c.bytes.erase(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    done += static_cast<uint32_t>(n);
    if (c.bytes.empty()) d->rx.pop_front();
  }
  *returned = done;
  return FT_OK;
}

namespace {
template <class F>
FT_STATUS with_device(void* handle, F&& f) {
  World& w = world();
  std::lock_guard<std::mutex> hold(w.mutex);
  UsbDevice* d = device_of(handle);
  if (d == nullptr) return FT_INVALID_HANDLE;
  return f(w, *d);
}
std::string index_of(World& w, UsbDevice& d) {
  for (size_t i = 0; i < w.devices.size(); ++i) {
    if (w.devices[i].get() == &d) return std::to_string(i);
  }
  return "?";
}
}  // namespace

STANDIN_EXPORT FT_STATUS FT_SetLatencyTimer(void* handle, uint8_t ms) {
  return with_device(handle, [&](World& w, UsbDevice& d) {
    d.latency = ms;
    log_call(w, "SetLatencyTimer " + index_of(w, d) + " " + std::to_string(ms));
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_GetLatencyTimer(void* handle, uint8_t* ms) {
  if (ms == nullptr) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](World&, UsbDevice& d) {
    *ms = d.latency;
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_GetModemStatus(void* handle, uint32_t* status) {
  if (status == nullptr) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](World&, UsbDevice& d) {
    *status = (d.analyser->cts() ? 0x10u : 0u) | (d.analyser->dsr() ? 0x20u : 0u);
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_GetDriverVersion(void* handle, uint32_t* version) {
  if (version == nullptr) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](World&, UsbDevice& d) {
    *version = d.endpoint.driver_version;
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_SetBaudRate(void* handle, uint32_t baud) {
  return with_device(handle, [&](World& w, UsbDevice& d) {
    if (baud == 0) return FT_INVALID_PARAMETER;
    d.baud = baud;
    log_call(w, "SetBaudRate " + index_of(w, d) + " " + std::to_string(baud));
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_GetComPortNumber(void* handle, int32_t* number) {
  if (number == nullptr) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](World&, UsbDevice& d) {
    *number = d.endpoint.com_port;
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_SetDataCharacteristics(void* handle, uint8_t word, uint8_t stop, uint8_t parity) {
  return with_device(handle, [&](World& w, UsbDevice& d) {
    log_call(w, "SetDataCharacteristics " + index_of(w, d) + " " + std::to_string(word) + " " +
                    std::to_string(stop) + " " + std::to_string(parity));
    return FT_OK;
  });
}

STANDIN_EXPORT FT_STATUS FT_SetFlowControl(void* handle, uint16_t flow, uint8_t, uint8_t) {
  return with_device(handle, [&](World& w, UsbDevice& d) {
    log_call(w, "SetFlowControl " + index_of(w, d) + " " + std::to_string(flow));
    return FT_OK;
  });
}

namespace {
FT_STATUS drive(void* handle, const char* name, bool dtr_line, bool on) {
  return with_device(handle, [&](World& w, UsbDevice& d) {
    if (dtr_line) {
      d.dtr = on;
      d.analyser->set_dtr(on);
    } else {
      d.rts = on;
      d.analyser->set_rts(on);
    }
    log_call(w, std::string(name) + " " + index_of(w, d));
    return FT_OK;
  });
}
}  // namespace

STANDIN_EXPORT FT_STATUS FT_SetDtr(void* handle) { return drive(handle, "SetDtr", true, true); }
STANDIN_EXPORT FT_STATUS FT_ClrDtr(void* handle) { return drive(handle, "ClrDtr", true, false); }
STANDIN_EXPORT FT_STATUS FT_SetRts(void* handle) { return drive(handle, "SetRts", false, true); }
STANDIN_EXPORT FT_STATUS FT_ClrRts(void* handle) { return drive(handle, "ClrRts", false, false); }

STANDIN_EXPORT FT_STATUS FT_SetBitMode(void* handle, uint8_t, uint8_t) {
  return with_device(handle, [](World&, UsbDevice&) { return FT_OK; });
}

STANDIN_EXPORT FT_STATUS FT_GetBitMode(void* handle, uint8_t* mode) {
  if (mode == nullptr) return FT_INVALID_PARAMETER;
  return with_device(handle, [&](World&, UsbDevice&) {
    *mode = 0;
    return FT_OK;
  });
}
