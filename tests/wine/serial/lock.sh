#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The transaction lock (the named mutex "COMM_SYNCHRONISATION") between two
# Windows processes on two COM ports: with the lock their exchanges never
# interleave, without it they do. lyrasim holds every answer for 20 ms and
# records when each frame arrives, so an exchange of one process that
# started inside the other's shows as two frames of different ports less
# than 20 ms apart. As the native link_lock_test, with lock_client.exe.
# Environment besides common.sh's: LOCK_CLIENT  lock_client.exe
source "$(dirname "$0")/common.sh"

transactions=15
start_emulator wine --serial COM3=740 --serial COM4=740 --fault delay=20
link_com_port COM3
link_com_port COM4
lyra_wine_start
lyra_wine_check_ports || fail "a COM link leads elsewhere than to a pseudo-terminal"

# smallest_cross_gap LOCK: runs both clients and prints the smallest gap in
# microseconds between a frame of one port and the next frame of the other.
smallest_cross_gap() {
  local lock=$1 port first_line
  first_line=$(($(wc -l <"$scratch/wine/frames.log") + 1))
  local pids=()
  for port in COM3 COM4; do
    rm -f "$scratch/$port.in" "$scratch/$port.out"
    mkfifo "$scratch/$port.in" "$scratch/$port.out"
    timeout -k 5 60 wine "$LOCK_CLIENT" "$port" "$transactions" "$lock" <"$scratch/$port.in" \
      >"$scratch/$port.out" 2>"$scratch/$port.err" &
    pids+=($!)
  done
  exec 13>"$scratch/COM3.in" 14>"$scratch/COM4.in" 15<"$scratch/COM3.out" 16<"$scratch/COM4.out"
  local line fd
  for fd in 15 16; do
    IFS= read -r -t 30 line <&"$fd" || fail "lock_client.exe did not open its port"
    [ "${line%$'\r'}" = open ] || fail "lock_client.exe: $line"
  done
  echo go >&13
  echo go >&14
  for fd in 15 16; do
    IFS= read -r -t 30 line <&"$fd" || fail "lock_client.exe did not finish"
    [ "${line%$'\r'}" = "done 0" ] || fail "lock_client.exe: $line"
  done
  exec 13>&- 14>&- 15<&- 16<&-
  for pid in "${pids[@]}"; do wait "$pid" || fail "lock_client.exe exited with $?"; done
  local frames
  frames=$(tail -n "+$first_line" "$scratch/wine/frames.log" | grep -c ' COM[34] ')
  [ "$frames" = $((2 * transactions)) ] || fail "$frames frames recorded, $((2 * transactions)) expected"
  tail -n "+$first_line" "$scratch/wine/frames.log" | awk '$2 ~ /^COM[34]$/ { print $1, $2 }' | sort -n |
    awk 'NR > 1 && $2 != port { gap = $1 - at; if (smallest == "" || gap < smallest) smallest = gap }
         { at = $1; port = $2 } END { print smallest == "" ? 999999999 : smallest }'
}

locked=$(smallest_cross_gap 1) || exit 1
echo "with the lock: smallest gap between the two ports' frames $locked us"
[ "$locked" -ge 19000 ] || fail "an exchange started while the other process held the lock"
# Without the lock the same clients do overlap: the check above can fail.
unlocked=$(smallest_cross_gap 0) || exit 1
echo "without the lock: smallest gap $unlocked us"
[ "$unlocked" -lt 19000 ] || fail "the clients did not overlap without the lock; the test proves nothing"
echo "PASS"
