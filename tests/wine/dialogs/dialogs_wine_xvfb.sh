#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# dialogs_wine_xvfb.sh WINE_ENV_SH HOST_EXE SELECT_HOST_EXE SHOTS_DIR
# The library's Win32 windows under Wine on a real X server, driven with
# xdotool through real key presses: each dialog's result and special IP,
# Enter, Escape, Tab order, a special IP typed field by field, the wait and
# splash windows as they reach the screen, and COMM_INIT_SELECT of
# lyralink.dll showing its selection dialog. Each window is saved as
# SHOTS_DIR/dialogs-<window>-windows.png. Run by x_session.sh, which starts
# the X server and the prefix's Wine session on it. Exits 77 (skipped)
# without xdotool or ImageMagick.
set -u
. "$1"
host=$2 select_host=$3 shots=$4
for tool in xdotool import convert compare; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
mkdir -p "$shots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected '$2', got '$3'"; fail=1; fi; }

check "windows can be shown" "start 1" "$(wine "$host" start 2>/dev/null | tr -d '\r')"

# Starts the host in the background with its output in $work/out.
run() { wine "$host" "$@" >"$work/out" 2>"$work/err" & pid=$!; }
# Waits for the host (in this shell: a subshell cannot wait for it), then
# prints its output.
# A dialog that the keys did not end is killed after a minute (its check
# then fails), so that one fault does not hold up the rest.
finish() {
  ( sleep 60; kill "$pid" 2>/dev/null ) &
  watchdog=$!
  wait "$pid" || true
  kill "$watchdog" 2>/dev/null
}
output() { tr -d '\r' <"$work/out"; }
# The window called $1, once it is mapped, with the keyboard focus.
window() {
  id=$(timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1)
  [ -n "$id" ] || { echo "FAIL: no window '$1'"; fail=1; return 1; }
  timeout 30 xdotool windowfocus --sync "$id" 2>/dev/null
}
shot() { import -window "$id" "$shots/dialogs-$1-windows.png"; }
keys() { xdotool key --delay 60 "$@"; }

run select 10.0.0.25
if window "Detected Lyra's"; then
  shot select
  # Tab to the upper list (the disabled address is passed over), its last
  # line (the address 192.168.10.41, device-list index 0), Enter.
  keys Tab Tab Tab Tab End Return
fi
finish
check "selection by keyboard" "result 0 ip 10.0.0.25" "$(output)"

run select 10.0.0.25
# Enter on the check box presses Select: the first line, COM3 (index 2).
window "Detected Lyra's" && keys Return
finish
check "Enter presses Select" "result 2 ip 10.0.0.25" "$(output)"

run select
if window "Detected Lyra's"; then
  # Tick the box (the address takes the focus), type the address with its
  # dots (Wine's address control does not move on after a third digit),
  # then Tab to Redetect (Select is disabled now) and press it.
  keys space
  xdotool type --delay 60 "10.30.0.5"
  shot select-special-ip
  keys Tab space
fi
finish
check "Redetect hands back the typed address" "result -3 ip 10.30.0.5" "$(output)"

run empty
if window "Detected Lyra's"; then
  shot select-empty
  # Select is disabled: Enter does nothing, Escape cancels.
  keys Return Escape
fi
finish
check "nothing found: only Cancel" "result -2 ip " "$(output)"

run heads
if window "Detected measuring heads"; then
  shot heads
  keys Tab Tab Down Return
fi
finish
check "head chosen, address without (in use)" "result 1 address 192.168.10.57" "$(output)"

run analysers
if window "Detected Lyra's"; then
  shot analysers
  keys Escape
fi
finish
check "head selection cancelled" "result 2 address " "$(output)"

run message "No Lyra's detected."
if window "MCA Communication"; then
  shot message
  keys Return
fi
finish
check "message box closed with OK" "closed" "$(output)"

# The wait and the splash window: the host reports the window's place on
# the screen once its call has returned (painted, nothing dispatched since)
# and keeps it up until it reads a line.
mkfifo "$work/in" "$work/shown"
informing() {
  wine "$host" "$@" <"$work/in" >"$work/shown" 2>"$work/err" &
  pid=$!
  exec 3>"$work/in"
  read -r what x y w h <"$work/shown" || what=none
  # The program's text output ends its lines with a carriage return.
  h=${h%"$(printf '\r')"}
}
done_informing() { echo >&3; exec 3>&-; wait "$pid" || true; }

informing wait "The baudrate is being adjusted."
import -window root -crop "${w:-0}x${h:-0}+${x:-0}+${y:-0}" +repage "$shots/dialogs-wait-windows.png"
done_informing
check "wait window shown" shown "$what"
# Its text on the screen: dark pixels (an unpainted window shows only its
# frame and face).
dark=$(convert "$shots/dialogs-wait-windows.png" -colorspace gray -threshold 40% -negate \
       -format '%[fx:mean > 0.005 ? 1 : 0]' info: 2>/dev/null || echo 0)
check "wait window painted before the call returned" 1 "$dark"

wine "$host" picture wait "$(lyra_wine_path "$work/wait-banner.bmp")" 2>/dev/null
wine "$host" picture detecting "$(lyra_wine_path "$work/detecting-banner.bmp")" 2>/dev/null
informing splash
# x, y: the window's client area; the pictures are drawn from its corner.
import -window root -crop "${w:-0}x${h:-0}+${x:-0}+${y:-0}" +repage "$work/splash.png"
# With the window's thin border, for the documentation.
import -window root -crop "$((${w:-0} + 2))x$((${h:-0} + 2))+$((${x:-1} - 1))+$((${y:-1} - 1))" +repage \
  "$shots/dialogs-splash-windows.png"
done_informing
check "splash window drawn" drawn "$what"
convert "$work/splash.png" -crop 250x25+0+0 +repage "$work/banner.png"
differ() { compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
check "the second banner is on the screen after the call" 0 "$(differ "$work/banner.png" "$work/wait-banner.bmp")"
check "not the first one" yes "$([ "$(differ "$work/banner.png" "$work/detecting-banner.bmp")" != 0 ] && echo yes || echo no)"

# lyralink.dll's own search with its dialogs: nothing found (no port
# links, no bridge driver, datagrams to loopback only, on a port nothing
# listens on), so the selection dialog comes up empty; Redetect runs a
# second pass and brings it up again; Escape ends COMM_INIT_SELECT with 0.
LYRALINK_HOST_ADDRESSES=127.0.0.1/255.0.0.0 LYRALINK_UDP_PORT=50999 LYRALINK_FTD2XX=no-such-driver.dll \
  wine "$select_host" >"$work/out" 2>"$work/err" &
pid=$!
if window "Detected Lyra's"; then
  first=$id
  keys Tab space
  # The dialog goes for the second pass (X has no event for a window that
  # is gone, so this looks every 0.1 s, for at most a minute) ...
  n=0
  while [ "$(xdotool search --onlyvisible --name "Detected Lyra's" 2>/dev/null | head -1)" = "$first" ] &&
        [ $n -lt 600 ]; do
    sleep 0.1
    n=$((n + 1))
  done
fi
# ... and comes back.
if window "Detected Lyra's"; then
  keys Escape
fi
finish
case "$(output)" in
  "result 0 "*) echo "ok: COMM_INIT_SELECT through the dialog, Redetect, Escape" ;;
  *) echo "FAIL: COMM_INIT_SELECT through the dialog: '$(output)'"; fail=1 ;;
esac

# At 200 % (LogPixels 192, a new session): the fonts and so the dialogs
# grow, and the lists' tab columns move right of their stops.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
lyra_wine_start
run select 10.0.0.25
if window "Detected Lyra's"; then
  shot select-200
  keys Tab Tab Tab Tab End Return
fi
finish
check "selection by keyboard at 200 %" "result 0 ip 10.0.0.25" "$(output)"
run heads
if window "Detected measuring heads"; then
  shot heads-200
  keys Return
fi
finish
check "head chosen at 200 %" "result 1 address 192.168.10.63" "$(output)"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1

[ $fail = 0 ] && echo "all passed" || echo "some failed"
exit $fail
