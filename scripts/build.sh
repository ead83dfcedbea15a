#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds one configuration: scripts/build.sh [default|asan]
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
