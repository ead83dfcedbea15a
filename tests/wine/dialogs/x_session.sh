#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# x_session.sh WINE_ENV_SH COMMAND [ARG]...
# Runs COMMAND on an X server of its own (Xvfb, 1280 x 1024) with a fresh
# Wine session in LYRA_WINE_PREFIX started on it: a session's desktop keeps
# the display it was started with. The prefix gets Wine's own fonts (the
# templates' "MS Sans Serif", Tahoma, and Marlett for the caption buttons)
# and windows whose frames Wine draws itself (no window manager runs).
# LYRA_WINE_DPI=192 runs it at 200 % (the desktop's LogPixels).
# Exits 77 (skipped) without xvfb-run.
set -u
if [ -z "${LYRA_X_SESSION:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: no xvfb-run"; exit 77; }
  LYRA_X_SESSION=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" sh "$0" "$@"
fi
. "$1"
shift
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
fonts="$WINEPREFIX/drive_c/windows/Fonts"
for font in sserife.fon tahoma.ttf tahomabd.ttf marlett.ttf; do
  [ -f "/usr/share/wine/fonts/$font" ] && [ -d "$fonts" ] && cp -n "/usr/share/wine/fonts/$font" "$fonts/"
done
lyra_wine_start
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# The resolution is taken when the session starts.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "${LYRA_WINE_DPI:-96}" /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
lyra_wine_start
lyra_wine_check_ports || exit 1
"$@"
status=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
