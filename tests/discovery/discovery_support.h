/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// Shared pieces of the discovery tests: the stand-in bridge library, the
// selection parameter block, the process's own settings store, and looks
// at the device list.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "lyralink/discovery/device_list.h"
#include "lyralink/discovery/windows.h"
#include "lyralink/link/bytes.h"
#include "lyralink/link/link.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "tests/discovery/scripted_windows.h"
#include "tests/support/emulator.h"

namespace lyratest {

// The stand-in libftd2xx.so the library loads, driven from the test.
class StandInBridge {
 public:
  StandInBridge() {
    ::setenv("LYRALINK_FTD2XX", standin_bridge_path().c_str(), 1);
    // The same file the library loads: dlopen hands back the same instance.
    handle_ = dlopen(standin_bridge_path().c_str(), RTLD_NOW);
    if (handle_ != nullptr) {
      configure_ = reinterpret_cast<int (*)(const char*)>(dlsym(handle_, "lyrasim_usb_configure"));
      calls_ = reinterpret_cast<int (*)(char*, int, int)>(dlsym(handle_, "lyrasim_usb_calls"));
    }
  }
  // "reset", then one "device SPEC" line per device, and a frame record.
  bool configure(const std::vector<std::string>& devices, const std::string& record = {}) {
    if (configure_ == nullptr) return false;
    std::string text = "reset\n";
    for (const auto& d : devices) text += "device " + d + "\n";
    if (!record.empty()) text += "record " + record + "\n";
    return configure_(text.c_str()) == 0;
  }
  // More configuration lines (fault rules), keeping the devices.
  bool add(const std::string& lines) { return configure_ != nullptr && configure_(lines.c_str()) == 0; }
  std::string calls(bool clear = true) {
    if (calls_ == nullptr) return {};
    std::string buf(1 << 16, '\0');
    calls_(buf.data(), static_cast<int>(buf.size()), clear ? 1 : 0);
    return buf.c_str();
  }
  // True when device i is closed (it can be opened again).
  bool closed(int i) {
    auto& lib = lyralink::link::link_state().usb_library;
    if (!lib.load()) return false;
    lyralink::link::FT_HANDLE h = nullptr;
    if (lib.fn().FT_Open(i, &h) != lyralink::link::FT_OK) return false;
    lib.fn().FT_Close(h);
    return true;
  }

 private:
  void* handle_ = nullptr;
  int (*configure_)(const char*) = nullptr;
  int (*calls_)(char*, int, int) = nullptr;
};

// A selection parameter block as a caller writes it.
struct Block {
  std::array<uint8_t, 32> bytes{};
  Block(uint16_t length = 24) {
    bytes.fill(0xEE);
    uint16_t defaults[] = {length, 0, 0, 0xFFFF, 0xFFFF, 0x1116, 0, 0xFFFF, 0xFFFF, 0xEEEE};
    for (size_t i = 0; i < 10; ++i) lyralink::put_u16(&bytes[2 * i], defaults[i]);
  }
  Block& serial(uint16_t v) { return set(2, v); }
  Block& admit_310(uint16_t v) { return set(4, v); }
  Block& min_fw_310(uint16_t v) { return set(6, v); }
  Block& admit_740(uint16_t v) { return set(8, v); }
  Block& min_fw_740(uint16_t v) { return set(10, v); }
  Block& splash(uint16_t v) { return set(12, v); }
  Block& dialogs(uint16_t v) { return set(14, v); }
  Block& port(uint16_t v) { return set(16, v); }
  Block& set(size_t at, uint16_t v) {
    lyralink::put_u16(&bytes[at], v);
    return *this;
  }
  uint16_t chosen_port() const { return lyralink::get_u16(&bytes[16]); }
  uint32_t chosen_baud() const { return lyralink::get_u32(&bytes[20]); }
  uint8_t* data() { return bytes.data(); }
};

inline std::vector<std::string> list_texts() {
  std::vector<std::string> out;
  for (const auto& e : lyralink::discovery::device_list().entries()) out.push_back(e.list_text);
  return out;
}

// The entry whose text begins with `prefix`, or null.
inline const lyralink::discovery::DeviceEntry* entry_starting(const std::string& prefix) {
  for (const auto& e : lyralink::discovery::device_list().entries()) {
    if (e.list_text.rfind(prefix, 0) == 0) return &e;
  }
  return nullptr;
}

// True when the serial port `name` of the emulator can be opened, i.e. no
// one holds it any more.
inline bool port_free(const Emulator& sim, const std::string& name) {
  return lyralink::platform::SerialPort::open(sim.port_dir() + "/" + name) != nullptr;
}

// A fresh settings store directory for this process.
inline std::string use_fresh_registry() {
  const std::string dir = make_temp_dir("registry");
  ::setenv("LYRALINK_REGISTRY_DIR", dir.c_str(), 1);
  return dir;
}

inline std::unique_ptr<lyralink::platform::SettingsStore> user_store() {
  return lyralink::platform::SettingsStore::open(lyralink::platform::RegistryRoot::current_user);
}

// Restores the library's own windows at the end of a test.
struct WindowsInstalled {
  explicit WindowsInstalled(lyralink::discovery::Windows& w) { lyralink::discovery::set_windows(&w); }
  ~WindowsInstalled() { lyralink::discovery::set_windows(nullptr); }
};

// Frames the emulator received on one endpoint with one command code.
inline std::vector<RecordedFrame> frames_of(const std::vector<RecordedFrame>& all, const std::string& endpoint,
                                            uint16_t code) {
  std::vector<RecordedFrame> out;
  for (const auto& f : all) {
    if (f.endpoint == endpoint && f.code() == code) out.push_back(f);
  }
  return out;
}

}  // namespace lyratest
