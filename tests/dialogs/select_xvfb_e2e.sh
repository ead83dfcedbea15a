#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# select_xvfb_e2e.sh LYRASIM SELECT_HOST LYRAREG SHOTS_DIR
# COMM_INIT_SELECT with the dialogs flag in a plain C host under a real X
# server, chosen by keyboard as a user would, inside the private networks of
# netns_run.sh: analysers at 10.9.0.11 (broadcast reaches it) and 10.30.0.5
# (another subnet: only a directed probe does), one on COM3. Run as
#   netns_run.sh xvfb-run -a -s "-screen 0 1024x768x24" sh select_xvfb_e2e.sh ...
set -u
lyrasim=$1 host=$2 lyrareg=$3 shots=$4
[ "${LYRATEST_NO_NETNS:-}" = 1 ] && { echo "SKIP: no user namespaces"; exit 77; }
command -v xdotool >/dev/null || { echo "SKIP: no xdotool"; exit 77; }
work=$(mktemp -d)
mkdir -p "$work/ports" "$work/registry" "$shots"
export LYRALINK_PORT_DIR="$work/ports" LYRALINK_REGISTRY_DIR="$work/registry" LYRALINK_FTD2XX=/nonexistent
unset QT_QPA_PLATFORM WAYLAND_DISPLAY LYRALINK_DIALOGS LYRALINK_HOST_ADDRESSES
fail=0
# Waits (up to 10 s) until the window has the keyboard focus, then a moment
# for it to be painted, so no key goes astray on a loaded machine.
focused() { n=0; while [ "$(xdotool getwindowfocus 2>/dev/null)" != "$1" ]; do
  n=$((n + 1)); [ $n -lt 200 ] || { echo "FAIL: window $1 never got the focus"; fail=1; return 1; }; sleep 0.05; done
  sleep 0.3; }
# A host that exits with an error (a sanitizer report included) fails.
status_failed() { echo "FAIL: host $1 exited with an error"; fail=1; }
check() { # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; fail=1; fi
}
# Waits up to 30 s for a visible window with the title; prints its id.
window() { timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }
gone() { n=0; while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
  n=$((n + 1)); [ $n -lt 300 ] || return 1; sleep 0.1; done; }

: > "$work/sim.txt"
nsenter --net="$LYRATEST_PEER_NETNS" "$lyrasim" --port-dir "$work/ports" --serial COM3=740,sn=7 \
  --udp 10.9.0.11=740,sn=11 --udp 10.30.0.5=740,sn=30 > "$work/sim.txt" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
n=0; until grep -q '^ready' "$work/sim.txt"; do n=$((n + 1)); [ $n -lt 300 ] || { echo "FAIL: lyrasim"; exit 1; }; sleep 0.05; done

# 1. The wait window while the search runs, then the dialog; Tab to the
#    upper list, Down to the second line (text order: COM3, 10.9.0.11),
#    Enter.
"$host" > "$work/first.txt" &
pid=$!
wait_id=$(timeout 30 xdotool search --sync --onlyvisible --class lyralink-dialogs 2>/dev/null | head -1)
[ -n "$wait_id" ] && import -window root "$shots/select-wait.png"
geometry=$(xdotool getwindowgeometry "$wait_id" 2>/dev/null | tr '\n' ' ')
check "wait window centred on the screen" yes "$(echo "$geometry" | awk '{split($4,p,","); split($8,s,"x");
  print (p[1] == int((1024 - s[1]) / 2) && p[2] == int((768 - s[2]) / 2)) ? "yes" : "no: " $0}')"
id=$(window "Detected Lyra's")
focused "$id"
import -window root "$shots/select-dialog.png"
xdotool key --delay 50 Tab Tab Tab Tab Down Return
wait $pid || status_failed "$pid"
check "analyser chosen by keyboard" "result 1 port 0 serial 11" "$(cat "$work/first.txt")"

# 2. Redetect with a special IP: Space ticks the box and moves to the
#    address, Tab to Redetect, Enter; the next dialog lists the analyser
#    that only the directed probe reached; Tab to the list, Down twice
#    (COM3, 10.9.0.11, 10.30.0.5), Enter.
"$host" > "$work/second.txt" &
pid=$!
id=$(window "Detected Lyra's")
focused "$id"
xdotool key --delay 50 space
xdotool type --delay 50 10.30.0.5
import -window root "$shots/select-special-ip.png"
xdotool key --delay 50 Tab Return
gone "Detected Lyra's" || check "first dialog closed" yes no
id=$(window "Detected Lyra's")
focused "$id"
import -window root "$shots/select-redetected.png"
xdotool key --delay 50 Tab Tab Tab Tab Down Down Return
wait $pid || status_failed "$pid"
check "analyser on another subnet chosen after Redetect" "result 1 port 0 serial 30" "$(cat "$work/second.txt")"
check "special IP remembered" 10.30.0.5 "$("$lyrareg" get 'HKCU\Software\LYRALINK\Special IPs' '#00' 2>&1)"

# 3. Cancel by Escape: nothing chosen, every port closed.
"$host" > "$work/third.txt" &
pid=$!
id=$(window "Detected Lyra's")
focused "$id"
xdotool key Escape
wait $pid || status_failed "$pid"
check "Escape cancels" "result 0 port -1 serial -1" "$(cat "$work/third.txt")"
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
