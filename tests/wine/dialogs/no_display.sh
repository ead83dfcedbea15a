#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# no_display.sh WINE_ENV_SH DIALOGS_WIN32_TEST_EXE SELECT_HOST_EXE
# Without an X server (DISPLAY unset, a fresh Wine session): the built-in
# windows show nothing and every dialog counts as cancelled; a C host's
# COMM_INIT_SELECT with its dialogs on finds nothing and returns 0 without
# showing or waiting for anything.
set -u
. "$1"
unset DISPLAY WAYLAND_DISPLAY
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
fail=0
lyra_wine_run -t 60 "$2" --gtest_filter=NoDisplay.* || fail=1
# No analyser anywhere: no port links, no bridge driver, the search's
# datagrams to loopback only, on a port nothing listens on.
out=$(LYRALINK_HOST_ADDRESSES=127.0.0.1/255.0.0.0 LYRALINK_UDP_PORT=50999 LYRALINK_FTD2XX=no-such-driver.dll \
      lyra_wine_run -t 60 "$3" | tr -d '\r')
case "$out" in
  "result 0 "*) echo "ok: COMM_INIT_SELECT without a display: $out" ;;
  *) echo "FAIL: COMM_INIT_SELECT without a display: '$out'"; fail=1 ;;
esac
exit $fail
