// SPDX-License-Identifier: LGPL-2.1-or-later
// A bridge library that lacks one of the 21 entry points (FT_GetBitMode).
#include <cstdint>
#define ENTRY(name) extern "C" __attribute__((visibility("default"))) uint32_t name() { return 0; }
ENTRY(FT_ListDevices) ENTRY(FT_GetDeviceInfo) ENTRY(FT_Open) ENTRY(FT_Close) ENTRY(FT_Read) ENTRY(FT_Write)
ENTRY(FT_SetLatencyTimer) ENTRY(FT_GetLatencyTimer) ENTRY(FT_GetQueueStatus) ENTRY(FT_GetModemStatus)
ENTRY(FT_GetDriverVersion) ENTRY(FT_SetBaudRate) ENTRY(FT_GetComPortNumber) ENTRY(FT_SetDataCharacteristics)
ENTRY(FT_SetFlowControl) ENTRY(FT_SetDtr) ENTRY(FT_ClrDtr) ENTRY(FT_SetRts) ENTRY(FT_ClrRts) ENTRY(FT_SetBitMode)
