#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds the setup directory that installs lyralink: scripts/setup-dir.sh [default|asan]
# and prints where it is. Install from it with its install program (windows)
# or "install --unattended" (no display needed); see docs/setup.md.
set -eu
cd "$(dirname "$0")/.."
preset="${1:-default}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target lyralink_setup_dir >/dev/null
dir="$(pwd)/build/$preset/setup/lyralink"
echo "$dir"
