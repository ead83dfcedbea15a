#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs what is missing, builds, and runs the whole test suite twice:
# the normal build, then the AddressSanitizer/UBSan build; then the
# Windows build under Wine (scripts/windows.sh); then the
# fuzzers (scripts/fuzz.sh --ci). Then builds the
# Debian packages, installs them on this machine, checks them from the
# installed paths and removes them again (scripts/package.sh,
# scripts/smoke-installed.sh); the suites above use the build trees only.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default
ctest --preset default -j "$(nproc)"
scripts/build.sh asan
ctest --preset asan -j "$(nproc)"
# The same sources cross-built for Windows (mingw-w64), their tests under
# Wine beside the native lyrasim and lyractl of build/default.
scripts/windows.sh
# The fuzzers (clang): the seeds and every input that once found a fault
# replayed, then every target for a fixed number of inputs (a crash, leak
# or sanitizer report fails and prints the input).
scripts/build.sh fuzz
ctest --preset fuzz -j "$(nproc)"
scripts/fuzz.sh --ci
scripts/package.sh build/packages
scripts/smoke-installed.sh build/packages
