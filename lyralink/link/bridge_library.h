/* SPDX-License-Identifier: LGPL-2.1-or-later */
#pragma once
// The USB bridge vendor's driver library, loaded at run time.
//
// The library is libftd2xx.so (LYRALINK_FTD2XX names another file). It counts
// as present only when all 21 entry points below resolve; otherwise direct
// USB is simply not used. The project's stand-in (built with lyrasim) has the
// same entry points.
#include <cstdint>
#include <memory>
#include <string>

namespace lyralink::platform {
class DynamicLibrary;
}

namespace lyralink::link {

// Types of the vendor's C interface. Every call returns 0 for success.
using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
constexpr FT_STATUS FT_OK = 0;
constexpr uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr uint32_t FT_LIST_BY_INDEX = 0x40000000u;
constexpr uint32_t FT_OPEN_BY_DESCRIPTION = 2;
constexpr uint32_t FT_MODEM_STATUS_CTS = 0x10;
constexpr uint32_t FT_MODEM_STATUS_DSR = 0x20;

struct BridgeFunctions {
  FT_STATUS (*FT_ListDevices)(void* arg1, void* arg2, uint32_t flags);
  FT_STATUS (*FT_GetDeviceInfo)(FT_HANDLE, uint32_t* type, uint32_t* id, char* serial, char* description,
                                void* reserved);
  FT_STATUS (*FT_Open)(int index, FT_HANDLE* handle);
  FT_STATUS (*FT_Close)(FT_HANDLE);
  FT_STATUS (*FT_Read)(FT_HANDLE, void* buffer, uint32_t length, uint32_t* returned);
  FT_STATUS (*FT_Write)(FT_HANDLE, void* buffer, uint32_t length, uint32_t* written);
  FT_STATUS (*FT_SetLatencyTimer)(FT_HANDLE, uint8_t milliseconds);
  FT_STATUS (*FT_GetLatencyTimer)(FT_HANDLE, uint8_t* milliseconds);
  FT_STATUS (*FT_GetQueueStatus)(FT_HANDLE, uint32_t* bytes_waiting);
  FT_STATUS (*FT_GetModemStatus)(FT_HANDLE, uint32_t* status);
  FT_STATUS (*FT_GetDriverVersion)(FT_HANDLE, uint32_t* version);
  FT_STATUS (*FT_SetBaudRate)(FT_HANDLE, uint32_t baud);
  FT_STATUS (*FT_GetComPortNumber)(FT_HANDLE, int32_t* port_number);
  FT_STATUS (*FT_SetDataCharacteristics)(FT_HANDLE, uint8_t word_length, uint8_t stop_bits, uint8_t parity);
  FT_STATUS (*FT_SetFlowControl)(FT_HANDLE, uint16_t flow, uint8_t xon, uint8_t xoff);
  FT_STATUS (*FT_SetDtr)(FT_HANDLE);
  FT_STATUS (*FT_ClrDtr)(FT_HANDLE);
  FT_STATUS (*FT_SetRts)(FT_HANDLE);
  FT_STATUS (*FT_ClrRts)(FT_HANDLE);
  FT_STATUS (*FT_SetBitMode)(FT_HANDLE, uint8_t mask, uint8_t mode);
  FT_STATUS (*FT_GetBitMode)(FT_HANDLE, uint8_t* mode);
};

// The names of the 21 entry points, in the order of BridgeFunctions.
extern const char* const kBridgeEntryPoints[21];

class BridgeLibrary {
 public:
  BridgeLibrary();
  ~BridgeLibrary();
  BridgeLibrary(const BridgeLibrary&) = delete;
  BridgeLibrary& operator=(const BridgeLibrary&) = delete;

  // Loads the library once; true when it is loaded and complete. A library
  // that lacks any entry point is unloaded again and counts as absent.
  bool load();
  // Unloads the library; its functions must not be called afterwards.
  void unload();
  bool loaded() const { return module_ != nullptr; }
  const BridgeFunctions& fn() const { return functions_; }

  // The file that load() opens.
  static std::string file_name();

 private:
  std::unique_ptr<platform::DynamicLibrary> module_;
  BridgeFunctions functions_{};
};

}  // namespace lyralink::link
