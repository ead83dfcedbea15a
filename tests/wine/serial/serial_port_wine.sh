#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs serial_port_wine_test.exe (the Win32 serial port, machine lock and
# bridge registry backends) under Wine against the native lyrasim, with the
# bridge driver's device keys seeded in the prefix's registry.
# Environment besides common.sh's: WINE_TEST  serial_port_wine_test.exe
source "$(dirname "$0")/common.sh"

start_emulator wine --serial COM3=740 --serial COM8=740,bauds=307200
link_com_port COM3
link_com_port COM8
# A COM name that leads to a regular file, not a terminal.
: >"$scratch/not-a-port"
ln -s "$scratch/not-a-port" "$WINEPREFIX/dosdevices/com9"
linked_ports+=("$WINEPREFIX/dosdevices/com9")

devices='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
seed() {
  wine reg add "$devices\\$1\\0000\\Device Parameters" /v PortName /t REG_SZ /d "$2" /f >/dev/null || fail "reg add $1"
  if [ -n "${3:-}" ]; then
    wine reg add "$devices\\$1\\0000\\Device Parameters" /v LatencyTimer /t REG_DWORD /d "$3" /f >/dev/null ||
      fail "reg add $1 LatencyTimer"
  fi
}
wine reg delete "$devices" /f >/dev/null 2>&1
seed 'VID_0403+PID_6001+LY00012A' COM4 16
seed 'VID_0403+PID_6001+LY00013A' COM5
seed 'VID_0403+PID_6010+LY00014A' COM6 16
trap 'wine reg delete "$devices" /f >/dev/null 2>&1; cleanup' EXIT

LYRATEST_COM=COM3 LYRATEST_COM_307200=COM8 LYRATEST_NOT_A_PORT=COM9 LYRATEST_BRIDGE_KEYS=1 \
  wine "$WINE_TEST" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
