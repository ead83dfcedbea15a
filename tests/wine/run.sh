#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs one Windows program under Wine for ctest (wine_env.sh has the rules):
#   LYRA_WINE_PREFIX=DIR run.sh [-t SECONDS] PROGRAM.exe [ARG]...
set -eu
. "$(dirname "$0")/wine_env.sh"
lyra_wine_run "$@"
