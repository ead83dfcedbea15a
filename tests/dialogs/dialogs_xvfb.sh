#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# dialogs_xvfb.sh DEMO_HOST MODULE SHOTS_DIR
# The windows under a real X server, driven with xdotool, in a host without
# Qt (dialogs_demo_host) at 100 % and 200 % scaling; each window is saved
# as SHOTS_DIR/dialogs-<window>[-200].png. Run as
#   xvfb-run -a -s "-screen 0 1600x1200x24" sh dialogs_xvfb.sh ...
set -u
host=$1 module=$2 shots=$3
command -v xdotool >/dev/null && command -v import >/dev/null || { echo "SKIP: no xdotool or ImageMagick"; exit 77; }
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
mkdir -p "$shots"
fail=0
# Waits (up to 10 s) until the window has the keyboard focus, then a moment
# for it to be painted, so no key goes astray on a loaded machine.
focused() { n=0; while [ "$(xdotool getwindowfocus 2>/dev/null)" != "$1" ]; do
  n=$((n + 1)); [ $n -lt 200 ] || { echo "FAIL: window $1 never got the focus"; fail=1; return 1; }; sleep 0.05; done
  sleep 0.3; }
# A host that exits with an error (a sanitizer report included) fails.
status_failed() { echo "FAIL: host $1 exited with an error"; fail=1; }
check() { if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; fail=1; fi; }
window() { timeout 30 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }
class_window() { timeout 30 xdotool search --sync --onlyvisible --class lyralink-dialogs 2>/dev/null | head -1; }
colours() { convert "$1" -format %k info:; }
# Red pixels in a region of a picture (the splash banners).
red() { convert "$1" -crop "$2" +repage -fx '(r>0.8&&g<0.3&&b<0.3)?1:0' -format '%[fx:mean>0?1:0]' info:; }

for scale in 1 2; do
  export QT_SCALE_FACTOR=$scale
  suffix=""; [ $scale = 2 ] && suffix="-200"
  check "module starts on the X server ($scale)" "start 1" "$("$host" "$module" start)"

  "$host" "$module" select 10.0.0.25 > /tmp/lyra-xvfb-$$.txt &
  pid=$!
  id=$(window "Detected Lyra's"); focused "$id"
  import -window "$id" "$shots/dialogs-select$suffix.png"
  # Tab to the upper list (the address field is disabled), last line, Enter.
  xdotool key --delay 40 Tab Tab Tab Tab End Return
  wait $pid || status_failed "$pid"
  check "selection by keyboard ($scale)" "result 0 ip 10.0.0.25" "$(cat /tmp/lyra-xvfb-$$.txt)"

  "$host" "$module" empty > /tmp/lyra-xvfb-$$.txt &
  pid=$!
  id=$(window "Detected Lyra's"); focused "$id"
  [ $scale = 1 ] && import -window "$id" "$shots/dialogs-select-empty.png"
  xdotool key Return   # Select is disabled: nothing happens
  sleep 0.3
  xdotool key Escape
  wait $pid || status_failed "$pid"
  check "nothing found: Enter does nothing, Escape cancels ($scale)" "result -2 ip " "$(cat /tmp/lyra-xvfb-$$.txt)"

  "$host" "$module" heads > /tmp/lyra-xvfb-$$.txt &
  pid=$!
  id=$(window "Detected measuring heads"); focused "$id"
  import -window "$id" "$shots/dialogs-heads$suffix.png"
  xdotool key --delay 40 Tab Tab Down Return
  wait $pid || status_failed "$pid"
  check "head chosen, address without (in use) ($scale)" "result 1 address 192.168.10.57" "$(cat /tmp/lyra-xvfb-$$.txt)"

  "$host" "$module" analysers > /tmp/lyra-xvfb-$$.txt &
  pid=$!
  id=$(window "Detected Lyra's"); focused "$id"
  [ $scale = 1 ] && import -window "$id" "$shots/dialogs-analysers.png"
  xdotool key Escape
  wait $pid || status_failed "$pid"
  check "head dialog cancelled ($scale)" "result 2 address " "$(cat /tmp/lyra-xvfb-$$.txt)"

  "$host" "$module" message "No Lyra's detected." > /tmp/lyra-xvfb-$$.txt &
  pid=$!
  id=$(window "MCA Communication"); focused "$id"
  import -window "$id" "$shots/dialogs-message$suffix.png"
  xdotool key Return
  wait $pid || status_failed "$pid"
  check "message box closed with OK ($scale)" closed "$(cat /tmp/lyra-xvfb-$$.txt)"

  "$host" "$module" wait "Detecting MCA's ..." 1500 > /dev/null &
  pid=$!
  id=$(class_window); sleep 0.3
  import -window "$id" "$shots/dialogs-wait$suffix.png"
  wait $pid || status_failed "$pid"
  check "wait window painted ($scale)" yes "$([ "$(colours "$shots/dialogs-wait$suffix.png")" -gt 4 ] && echo yes || echo no)"

  "$host" "$module" splash 1500 > /dev/null &
  pid=$!
  id=$(class_window)
  sleep 0.4
  import -window "$id" "$shots/splash-first.png"
  sleep 3
  import -window "$id" "$shots/dialogs-splash$suffix.png"
  wait $pid || status_failed "$pid"
  banner=250x25+0+0; [ $scale = 2 ] && banner=500x50+0+0
  check "splash picture first without banner ($scale)" 0 "$(red "$shots/splash-first.png" "$banner")"
  check "splash banner after 3 s ($scale)" 1 "$(red "$shots/dialogs-splash$suffix.png" "$banner")"
  rm -f "$shots/splash-first.png"
done
rm -f /tmp/lyra-xvfb-$$.txt
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
