// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lyralink/link/bridge_library.h"

#include <cstring>

#include "platform/dynamic_library.h"
#include "platform/environment.h"

namespace lyralink::link {

const char* const kBridgeEntryPoints[21] = {
    "FT_ListDevices",   "FT_GetDeviceInfo",    "FT_Open",           "FT_Close",
    "FT_Read",          "FT_Write",            "FT_SetLatencyTimer", "FT_GetLatencyTimer",
    "FT_GetQueueStatus", "FT_GetModemStatus",  "FT_GetDriverVersion", "FT_SetBaudRate",
    "FT_GetComPortNumber", "FT_SetDataCharacteristics", "FT_SetFlowControl", "FT_SetDtr",
    "FT_ClrDtr",        "FT_SetRts",           "FT_ClrRts",         "FT_SetBitMode",
    "FT_GetBitMode"};

BridgeLibrary::BridgeLibrary() = default;
BridgeLibrary::BridgeLibrary(const BridgeFunctions& functions) : provided_(true), functions_(functions) {}
BridgeLibrary::~BridgeLibrary() = default;

std::string BridgeLibrary::file_name() {
  return platform::environment_value("LYRALINK_FTD2XX").value_or(platform::bridge_driver_library_file_name());
}

namespace {
// Stores a resolved symbol into a function pointer of the table without a
// cast between object and function pointer types.
template <class F>
void assign(F& slot, void* address) {
  static_assert(sizeof(F) == sizeof(void*));
  std::memcpy(&slot, &address, sizeof slot);
}
}  // namespace

void BridgeLibrary::unload() {
  module_.reset();
  provided_ = false;
  functions_ = BridgeFunctions{};
}

bool BridgeLibrary::load() {
  if (loaded()) return true;
  auto module = platform::DynamicLibrary::load(file_name());
  if (!module) return false;
  void* addresses[21];
  for (int i = 0; i < 21; ++i) {
    addresses[i] = module->symbol(kBridgeEntryPoints[i]);
    if (addresses[i] == nullptr) return false;  // incomplete: absent
  }
  BridgeFunctions f{};
  assign(f.FT_ListDevices, addresses[0]);
  assign(f.FT_GetDeviceInfo, addresses[1]);
  assign(f.FT_Open, addresses[2]);
  assign(f.FT_Close, addresses[3]);
  assign(f.FT_Read, addresses[4]);
  assign(f.FT_Write, addresses[5]);
  assign(f.FT_SetLatencyTimer, addresses[6]);
  assign(f.FT_GetLatencyTimer, addresses[7]);
  assign(f.FT_GetQueueStatus, addresses[8]);
  assign(f.FT_GetModemStatus, addresses[9]);
  assign(f.FT_GetDriverVersion, addresses[10]);
  assign(f.FT_SetBaudRate, addresses[11]);
  assign(f.FT_GetComPortNumber, addresses[12]);
  assign(f.FT_SetDataCharacteristics, addresses[13]);
  assign(f.FT_SetFlowControl, addresses[14]);
  assign(f.FT_SetDtr, addresses[15]);
  assign(f.FT_ClrDtr, addresses[16]);
  assign(f.FT_SetRts, addresses[17]);
  assign(f.FT_ClrRts, addresses[18]);
  assign(f.FT_SetBitMode, addresses[19]);
  assign(f.FT_GetBitMode, addresses[20]);
  functions_ = f;
  module_ = std::move(module);
  return true;
}

}  // namespace lyralink::link
