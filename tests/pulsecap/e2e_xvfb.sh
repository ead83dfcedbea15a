#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# End to end on a real X server (Xvfb): pulsecap starts, shows the splash
# window and the selection dialog, the emulated analyser is chosen with the
# keyboard, the takeover question is answered, a measuring time is typed,
# "Start ..." records into a WAVE file through the save dialog, and the file
# is checked. With SCREENSHOTS=DIR the window is photographed connected,
# recording and with the preview (pulsecap-*.png).
# Usage: e2e_xvfb.sh PULSECAP LYRASIM
set -eu
pulsecap=$1
lyrasim=$2
if [ -z "${E2E_INSIDE_XVFB:-}" ]; then
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
  done
  E2E_INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1100x700x24" "$0" "$@"
fi

work=$(mktemp -d /tmp/pulsecap-e2e-XXXXXX)
sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() {
  echo "FAILED: $*"
  [ -n "${SCREENSHOTS:-}" ] && import -window root "$SCREENSHOTS/pulsecap-failure.png" 2>/dev/null
  exit 1
}
shot() { [ -n "${SCREENSHOTS:-}" ] && import -window root "$SCREENSHOTS/pulsecap-$1.png"; return 0; }

mkdir -p "$work/ports" "$work/registry"
export LYRALINK_PORT_DIR="$work/ports" LYRALINK_REGISTRY_DIR="$work/registry"
export LYRALINK_HOST_ADDRESSES="127.0.0.1/255.0.0.0" LYRALINK_FTD2XX="$work/no-bridge.so"
export LYRALINK_UDP_PORT="${LYRALINK_UDP_PORT:-$((40000 + $$ % 20000))}"
seconds=${E2E_SECONDS:-0.02}
"$lyrasim" --port-dir "$work/ports" --serial "COM3=740,sn=2024,rate=20000,app=KMIR,hv=900,wire=1" >"$work/sim.log" &
sim_pid=$!
i=0
while [ ! -e "$work/ports/COM3" ]; do i=$((i + 1)); [ $i -gt 100 ] && fail "lyrasim did not start"; sleep 0.1; done

"$pulsecap" >"$work/pulsecap.log" 2>&1 &
app_pid=$!

# wait_window PATTERN SECONDS: the first visible window whose title matches.
wait_window() {
  n=$(($2 * 10))
  while [ $n -gt 0 ]; do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
    n=$((n - 1))
  done
  return 1
}
press() {  # press WINDOW KEY...
  w=$1
  shift
  xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
  xdotool key --clearmodifiers "$@"
}

dialog=$(wait_window "^Detected Lyra's\$" 40) || fail "no selection dialog"
sleep 0.5
press "$dialog" Return  # the first applicable analyser is selected; Enter presses Select

# The takeover question (another application's code and the HV on).
question=""
for i in $(seq 1 100); do
  for w in $(xdotool search --onlyvisible --name "^MCA-740 Transient Recorder" 2>/dev/null); do
    name=$(xdotool getwindowname "$w")
    case "$name" in *Version*) main=$w ;; *) question=$w ;; esac
  done
  [ -n "$question" ] && break
  sleep 0.1
done
[ -n "$question" ] || fail "no takeover question"
press "$question" Return  # Yes
sleep 1.5  # the HV is switched off and polled until it reads 0

main=$(xdotool search --onlyvisible --name "^MCA-740 Transient Recorder \[Version" | head -n 1)
[ -n "$main" ] || fail "no main window"
xdotool windowmove "$main" 40 40
sleep 0.3
# The time field (1005) and the Start button (1001): their centres in
# dialog units (80 + 25, 54 + 6 and 7 + 45, 85 + 7 of 204 by 102), scaled
# to the window's size.
size=$(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: //p')
w=${size%x*}
h=${size#*x}
time_x=$((105 * w / 204)); time_y=$((60 * h / 102))
start_x=$((52 * w / 204)); start_y=$((92 * h / 102))
sleep 1.2  # one tick of the HV display
shot connected
xdotool mousemove --window "$main" "$time_x" "$time_y" click 1
sleep 0.3
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 50 "$seconds"
sleep 0.3
xdotool mousemove --window "$main" "$start_x" "$start_y" click 1

save=$(wait_window "^Save" 20) || fail "no save dialog"
sleep 0.5
xdotool windowfocus "$save"
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 "$work/shot.wav"
xdotool key Return
sleep 0.6
shot recording

# The preview opens when the trace is saved.
preview=$(wait_window "^Trace preview" 60) || fail "no preview"
xdotool windowmove "$preview" 380 40
sleep 1
shot preview

samples=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 20000000 }')
size=$(stat -c %s "$work/shot.wav")
[ "$size" -eq $((44 + 2 * samples)) ] || fail "shot.wav has $size bytes, not $((44 + 2 * samples))"
[ "$(head -c 4 "$work/shot.wav")" = "RIFF" ] || fail "shot.wav is no RIFF file"
header=$(od -An -tu4 -j24 -N4 "$work/shot.wav" | tr -d ' ')
[ "$header" = 20000000 ] || fail "sample rate $header in the header"
grep -q "brocken" "$work/pulsecap.log" && fail "connection lost"
echo "PASSED: recorded $samples samples through the window into a WAVE file"
