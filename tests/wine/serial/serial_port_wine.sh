#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs serial_port_wine_test.exe (the Win32 serial port, machine lock and
# bridge registry backends) under Wine against the native lyrasim, with the
# bridge driver's device keys seeded in the prefix's registry.
# Environment besides common.sh's: WINE_TEST  serial_port_wine_test.exe
source "$(dirname "$0")/common.sh"

start_emulator wine --serial COM3=740 --serial COM8=740,bauds=307200 --serial COM10=740
link_com_port COM3
link_com_port COM8
link_com_port COM10
# COM10's terminal as the native lyractl leaves it.
LYRALINK_PORT_DIR="$scratch/wine/ports" "$NATIVE_LYRACTL" --port COM10 state >/dev/null ||
  fail "the native lyractl on COM10"

devices='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
seed() {
  lyra_wine_run reg add "$devices\\$1\\0000\\Device Parameters" /v PortName /t REG_SZ /d "$2" /f >/dev/null ||
    fail "reg add $1"
  if [ -n "${3:-}" ]; then
    lyra_wine_run reg add "$devices\\$1\\0000\\Device Parameters" /v LatencyTimer /t REG_DWORD /d "$3" /f \
      >/dev/null || fail "reg add $1 LatencyTimer"
  fi
}
lyra_wine_run reg delete "$devices" /f >/dev/null 2>&1
seed 'VID_0403+PID_6001+LY00012A' COM4 16
seed 'VID_0403+PID_6001+LY00013A' COM5
seed 'VID_0403+PID_6010+LY00014A' COM6 16
trap 'lyra_wine_run reg delete "$devices" /f >/dev/null 2>&1; cleanup' EXIT

# A COM name that leads to a regular file, not a terminal. It is no serial
# line either, but lyra_wine_run lets only pseudo-terminals be linked, so
# this one run checks the links itself, leaving out its own file.
: >"$scratch/not-a-port"
ln -s "$scratch/not-a-port" "$WINEPREFIX/dosdevices/com9"
linked_ports+=("$WINEPREFIX/dosdevices/com9")
for link in "$WINEPREFIX"/dosdevices/com*; do
  case "$(readlink -f "$link")" in
    /dev/pts/* | "$scratch/not-a-port") ;;
    *) fail "$link leads to $(readlink -f "$link"), not to a pseudo-terminal" ;;
  esac
done
LYRATEST_COM=COM3 LYRATEST_COM_307200=COM8 LYRATEST_COM_SET_NATIVELY=COM10 LYRATEST_NOT_A_PORT=COM9 LYRATEST_BRIDGE_KEYS=1 \
  timeout -k 5 120 wine "$WINE_TEST" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
