#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The C host program (dll_client.exe) loads lyralink.dll with LoadLibraryA,
# resolves every export and runs short and long transactions, a retry and
# a time-out against lyrasim on COM3. Environment besides common.sh's:
#   DLL_CLIENT  dll_client.exe
source "$(dirname "$0")/common.sh"

start_emulator wine --serial COM3=740,sn=515 --fault silent,code=272,count=1 --fault silent,code=89
link_com_port COM3
lyra_wine_run "$DLL_CLIENT" "$(windows_path "$WIN_BIN/lyralink.dll")" COM3 "$(windows_path "$scratch/wine/frames.log")" |
  tr -d '\r' | tee "$scratch/client.txt"
status=${PIPESTATUS[0]}
[ "$status" = 0 ] || fail "dll_client.exe exited with $status"
grep -q '^PASS: 0 failed' "$scratch/client.txt" || fail "dll_client.exe did not finish its checks"
