#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# ctest fixture cleanup: stops the prefix's wineserver and every Windows
# process still running in it.
#   LYRA_WINE_PREFIX=DIR prefix_cleanup.sh
set -eu
. "$(dirname "$0")/wine_env.sh"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
