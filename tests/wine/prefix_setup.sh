#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# ctest fixture setup: a fresh private Wine prefix for this test run, its
# persistent wineserver and services started, Wine's own serial and
# parallel port links removed.
#   LYRA_WINE_PREFIX=DIR prefix_setup.sh
set -eu
. "$(dirname "$0")/wine_env.sh"
# A server left over from an earlier run would keep the old prefix open.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
: >"$LYRA_WINE_LOG"
lyra_wine_start
if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
  echo "wine: wineboot -i did not make $WINEPREFIX (see $LYRA_WINE_LOG)" >&2
  exit 1
fi
lyra_wine_check_ports
echo "wine: prefix $WINEPREFIX ready ($(wine --version))"
