#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Direct USB under Wine: lyractl.exe opens the analyser through the stand-in
# bridge library ftd2xx.dll (named by LYRALINK_FTD2XX, as a Windows path and
# as a Linux path) and prints what the native lyractl prints through the
# native stand-in libftd2xx.so. Environment besides common.sh's:
#   NATIVE_STANDIN  the native stand-in library; WIN_STANDIN  ftd2xx.dll
source "$(dirname "$0")/common.sh"

# No serial port and no network: the search finds only the bridge devices.
mkdir -p "$scratch/native/ports"
export LYRALINK_HOST_ADDRESSES=""
# Two analysers behind bridges; the stand-in keeps each process's devices
# in the process, so both runs start from the same state.
export LYRASIM_USB="740,sn=12,com=4;310,sn=13,com=5,desc=MCA-310"

run_both() {
  local what=$1 win_library=$2
  shift 2
  LYRALINK_FTD2XX="$NATIVE_STANDIN" native_lyractl "$@" >"$scratch/native.txt" 2>"$scratch/native.err"
  local native_status=$?
  LYRALINK_FTD2XX="$win_library" wine_lyractl "$@" >"$scratch/wine.txt" 2>"$scratch/wine.err"
  local wine_status=$?
  # The analyser's clock runs between the runs (see lyractl_com.sh).
  sed -i -e '/device clock/d; /^  00[017]0  /d' "$scratch/native.txt" "$scratch/wine.txt"
  if [ "$native_status" != "$wine_status" ] || ! cmp -s "$scratch/native.txt" "$scratch/wine.txt"; then
    echo "--- native (exit $native_status)" >&2
    cat "$scratch/native.txt" "$scratch/native.err" >&2
    echo "--- wine, LYRALINK_FTD2XX=$win_library (exit $wine_status)" >&2
    cat "$scratch/wine.txt" "$scratch/wine.err" >&2
    fail "$what: outputs differ"
  fi
  [ "$native_status" = 0 ] || fail "$what: exit $native_status: $(cat "$scratch/native.err")"
  echo "same: $what, LYRALINK_FTD2XX=$win_library ($(wc -l <"$scratch/native.txt") lines)"
}

dll_windows=$(windows_path "$WIN_STANDIN")
run_both "identity over direct USB" "$dll_windows" --select 12 --select-port 257 state740
grep -q 'on USB' "$scratch/wine.txt" || fail "the link is not the direct USB channel: $(cat "$scratch/wine.txt")"
run_both "identity over direct USB" "$WIN_STANDIN" --select 12 --select-port 257 state740
run_both "long answer over direct USB" "$dll_windows" --select 12 --select-port 257 memory 0
grep -q '^  0590  ' "$scratch/wine.txt" || fail "the memory read shows no 1440-byte answer"
# A recording through the bridge: the same trace file.
LYRALINK_FTD2XX="$NATIVE_STANDIN" native_lyractl --select 12 --select-port 257 record 0.01 "$scratch/native.trace" \
  >"$scratch/native.rec" 2>&1 || fail "native record: $(cat "$scratch/native.rec")"
LYRALINK_FTD2XX="$dll_windows" wine_lyractl --select 12 --select-port 257 record 0.01 \
  "$(windows_path "$scratch/wine.trace")" >"$scratch/wine.rec" 2>&1 || fail "lyractl.exe record: $(cat "$scratch/wine.rec")"
[ -s "$scratch/native.trace" ] || fail "the native recording is empty"
cmp "$scratch/native.trace" "$scratch/wine.trace" || fail "the two recordings differ"
echo "same: recording of 0.01 s over direct USB ($(wc -c <"$scratch/native.trace") bytes)"
run_both "search result" "$dll_windows" discover --json
grep -q '"serial":13' "$scratch/wine.txt" || fail "the second bridge device is not listed"

# Without the library the search finds nothing, in both worlds alike.
LYRALINK_FTD2XX="$NATIVE_STANDIN.missing" native_lyractl --select 12 --select-port 257 state740 \
  >/dev/null 2>"$scratch/native.err"
native_status=$?
LYRALINK_FTD2XX="$dll_windows.missing" wine_lyractl --select 12 --select-port 257 state740 \
  >/dev/null 2>"$scratch/wine.err"
wine_status=$?
[ "$native_status" = "$wine_status" ] && [ "$wine_status" != 0 ] ||
  fail "a missing bridge library: native exit $native_status, Wine exit $wine_status"
echo "same: no bridge library, exit $wine_status"
echo "PASS"
