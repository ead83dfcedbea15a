#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The Windows build: cross-compiles lyralink.dll, lyractl.exe, lyrareg.exe,
# mplxd.exe, the stand-in ftd2xx.dll and the Windows tests with mingw-w64
# (tree build/windows) and runs the tests under Wine in a private prefix.
# The comparison tests run the native programs of build/default beside the
# .exe files, so the native tree is built first (scripts/build.sh default).
#   scripts/windows.sh
set -eu
cd "$(dirname "$0")/.."
if [ ! -x build/default/tools/lyractl/lyractl ]; then
  scripts/build.sh default
fi
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows -j "$(nproc)"
