#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# cmake --install of the build tree into a prefix that is then moved
# elsewhere: the udev rule and the unit are at their prefix-relative
# places, lyralink.pc reports the new place, a C program builds against
# the moved tree with pkg-config and with find_package(lyralink) and runs
# against the moved lyrasim, and the moved lyractl finds its library.
#   install_tree_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
here=$2/tests/install
tmp=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-install-XXXXXX")
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/first" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
# The unit as systemd reads it (its ExecStart must exist: before the move).
if command -v systemd-analyze >/dev/null 2>&1; then
  mkdir "$tmp/units"
  cp "$tmp/first/lib/systemd/system/mplxd@.service" "$tmp/units/"
  ln -s mplxd@.service "$tmp/units/mplxd@COM3.service"
  systemd-analyze verify "$tmp/units/mplxd@COM3.service" >"$tmp/verify.log" 2>&1 || { cat "$tmp/verify.log"; fail "systemd-analyze verify"; }
fi
mv "$tmp/first" "$tmp/moved"
p=$tmp/moved

[ -f "$p/lib/udev/rules.d/70-lyralink.rules" ] || fail "no udev rule at lib/udev/rules.d"
grep -q 'TAG+="uaccess"' "$p/lib/udev/rules.d/70-lyralink.rules" || fail "udev rule without uaccess"
unit=$p/lib/systemd/system/mplxd@.service
[ -f "$unit" ] || fail "no unit at lib/systemd/system"
grep -qx "ExecStart=$tmp/first/bin/mplxd --mode 0660 %I" "$unit" || fail "unit runs $(grep ExecStart "$unit")"
if [ -f "$build/pulsecap/pulsecap" ]; then
  [ -f "$p/share/applications/pulsecap.desktop" ] || fail "no desktop entry"
  [ -f "$p/share/icons/hicolor/scalable/apps/pulsecap.svg" ] || fail "no icon"
fi

pc=$(find "$p" -name lyralink.pc)
[ -n "$pc" ] || fail "no lyralink.pc"
export PKG_CONFIG_PATH="$(dirname "$pc")"
prefix=$(pkg-config --variable=prefix lyralink)
[ "$(cd "$prefix" && pwd -P)" = "$(cd "$p" && pwd -P)" ] || fail "lyralink.pc prefix $prefix is not $p"
libdir=$(pkg-config --variable=libdir lyralink)
[ -e "$libdir/liblyralink.so" ] || fail "libdir $libdir has no liblyralink.so"
[ -f "$(pkg-config --variable=includedir lyralink)/lyralink.h" ] || fail "includedir has no lyralink.h"

# shellcheck disable=SC2046
cc -Wall -Werror -o "$tmp/consumer-pc" "$here/consumer.c" $(pkg-config --cflags --libs lyralink) -Wl,-rpath,"$libdir" \
  || fail "consumer does not build with pkg-config"
mkdir -p "$tmp/cmake-consumer"
cp "$here/consumer.c" "$tmp/cmake-consumer/"
cp "$here/CMakeLists.txt.in" "$tmp/cmake-consumer/CMakeLists.txt"
cmake -S "$tmp/cmake-consumer" -B "$tmp/cmake-consumer/b" -DCMAKE_PREFIX_PATH="$p" >"$tmp/cmake.log" 2>&1 \
  || { cat "$tmp/cmake.log"; fail "find_package(lyralink) in the moved tree"; }
cmake --build "$tmp/cmake-consumer/b" >"$tmp/cmake-build.log" 2>&1 || { cat "$tmp/cmake-build.log"; fail "CMake consumer build"; }

mkdir -p "$tmp/ports"
"$p/bin/lyrasim" --port-dir "$tmp/ports" --serial COM3=740,sn=4321,fw=0x1305 >"$tmp/lyrasim.log" 2>&1 &
sim=$!
i=0
while [ ! -e "$tmp/ports/COM3" ]; do
  i=$((i + 1))
  [ $i -le 100 ] || fail "lyrasim did not publish COM3"
  sleep 0.05
done
export LYRALINK_PORT_DIR="$tmp/ports"
out=$("$tmp/consumer-pc" COM3) || fail "pkg-config consumer: $out"
[ "$out" = "firmware 0x1305 serial 4321" ] || fail "pkg-config consumer printed '$out'"
out=$("$tmp/cmake-consumer/b/consumer" COM3) || fail "CMake consumer: $out"
[ "$out" = "firmware 0x1305 serial 4321" ] || fail "CMake consumer printed '$out'"
# The moved lyractl finds the moved library through its RUNPATH ($ORIGIN).
out=$(env -u LD_LIBRARY_PATH "$p/bin/lyractl" --port COM3 state740) || fail "moved lyractl: $out"
echo "$out" | grep -q "firmware              0x1305" || fail "moved lyractl printed: $out"
echo "install tree: 1 passed, 0 failed"
