#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs the Debian packages needed to build and test lyralink.
set -eu
packages="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev iproute2 util-linux libsqlite3-dev qt6-base-dev xvfb xauth xdotool imagemagick fonts-dejavu-core python3 python3-numpy python3-pytest python3-setuptools python3-wheel python3-pip python3-mypy"
# The Debian packages of lyralink (scripts/package.sh) and their check.
packages="$packages dpkg-dev debhelper fakeroot lintian dh-python python3-all pybuild-plugin-pyproject"
# The manual pages (made from --help, read with man) and the fuzzers
# (clang's libFuzzer and sanitizer runtimes; the fuzz preset).
packages="$packages help2man man-db clang-14 libclang-rt-14-dev"
# The Windows build: the mingw-w64 cross-compilers (posix threads), and
# Wine (64-bit) to run its programs and tests; googletest for the sources
# of GoogleTest, which the Windows tests build for themselves.
packages="$packages mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest"
# mount for the Windows search test's private mounts (util-linux above has
# unshare, nsenter and findmnt).
packages="$packages mount"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
