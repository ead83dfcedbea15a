#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds the Debian packages of lyralink from this source tree and checks
# them with lintian:
#   scripts/package.sh [OUTDIR]        (default: build/packages)
# The tree is copied to a temporary directory first (without build trees),
# so that dpkg-buildpackage neither writes into it nor packs a stale build.
# Result: liblyralink1, liblyralink-dev, lyralink-tools, pulsecap and
# python3-lyralink as .deb files in OUTDIR, with the .changes, .buildinfo
# and lintian's report (lintian.txt).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out="${1:-build/packages}"
case "$out" in /*) ;; *) out="$root/$out" ;; esac
scripts/deps.sh
version=$(dpkg-parsechangelog -S Version)
work=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-package-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
src="$work/lyralink-$version"
mkdir -p "$src"
tar -C "$root" -cf - \
  --exclude=./build --exclude=./.git --exclude='./obj-*' \
  --exclude=./debian/.debhelper --exclude='./debian/tmp' --exclude='*.egg-info' --exclude=__pycache__ \
  --exclude='./python/build' --exclude='./python/dist' --exclude=.pytest_cache . | tar -C "$src" -xf -
jobs=$(nproc)
echo "== dpkg-buildpackage (lyralink $version, $jobs jobs) in $src"
# The system's own tools only: a Python or compiler of a user's PATH
# (pyenv, a virtualenv) must not end up in the packages.
(cd "$src" && env PATH=/usr/sbin:/usr/bin:/sbin:/bin DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
  dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log"
  echo "package.sh: dpkg-buildpackage failed (the whole log was $work/build.log)" >&2
  exit 1
}
mkdir -p "$out"
rm -f "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mv "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"/
cp "$work/build.log" "$out/build.log"
echo "== lintian"
changes=$(ls "$out"/*.changes)
PATH=/usr/sbin:/usr/bin:/sbin:/bin lintian --fail-on error --info --display-info "$changes" >"$out/lintian.txt" 2>&1 || {
  cat "$out/lintian.txt"
  echo "package.sh: lintian found errors" >&2
  exit 1
}
grep -E '^(E|W):' "$out/lintian.txt" || true
echo "== packages in $out:"
ls -1 "$out"/*.deb
