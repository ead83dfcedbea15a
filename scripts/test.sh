#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs what is missing, builds, and runs the whole test suite twice:
# the normal build, then the AddressSanitizer/UBSan build. Then builds the
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
scripts/package.sh build/packages
scripts/smoke-installed.sh build/packages
