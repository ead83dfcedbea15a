#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite twice:
# the normal build, then the AddressSanitizer/UBSan build.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default
ctest --preset default -j "$(nproc)"
scripts/build.sh asan
ctest --preset asan -j "$(nproc)"
