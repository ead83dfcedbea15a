#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs the Debian packages built by scripts/package.sh on this machine
# with apt-get, checks them from the installed paths only, and removes
# them again (also when a check fails), so that the machine is left as it
# was for whatever runs after:
#   scripts/smoke-installed.sh [PACKAGE_DIR]     (default: build/packages)
# Checks: the udev rule and the unit are in place; lyrasim and lyractl from
# /usr/bin talk to each other; a C program builds with pkg-config against
# the installed header and library and runs; python3 imports lyralink and
# drives lyrasim; pulsecap starts (offscreen) and shows a trace recorded
# by lyractl; the windows module loads from its installed place.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
dir="${1:-build/packages}"
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
names="liblyralink1 liblyralink-dev lyralink-tools pulsecap python3-lyralink"
debs=""
for n in $names; do
  f=$(ls "$dir"/"${n}"_*.deb 2>/dev/null | head -n 1)
  [ -n "$f" ] || { echo "smoke: no ${n}_*.deb in $dir (run scripts/package.sh)" >&2; exit 1; }
  debs="$debs $f"
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

work=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-smoke-XXXXXX")
sim=""
installed=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  if [ -n "$installed" ]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq $names >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
fail() { echo "smoke: FAIL: $*" >&2; exit 1; }

echo "== apt-get install$debs"
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $debs >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
installed=yes

# From here on only what the packages installed: the system's PATH, no
# library or Python path of the build, and a directory outside the tree.
cd "$work"
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
unset LD_LIBRARY_PATH PYTHONPATH LYRALINK_LIBRARY LYRALINK_DIALOGS LYRALINK_FTD2XX 2>/dev/null || true
passed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }

[ -f /usr/lib/udev/rules.d/70-lyralink.rules ] || fail "udev rule not installed"
ok "udev rule /usr/lib/udev/rules.d/70-lyralink.rules"
grep -qx "ExecStart=/usr/bin/mplxd --mode 0660 %I" /usr/lib/systemd/system/mplxd@.service || fail "unit"
if command -v systemd-analyze >/dev/null 2>&1; then
  mkdir units
  ln -s /usr/lib/systemd/system/mplxd@.service units/mplxd@COM3.service
  systemd-analyze verify units/mplxd@COM3.service || fail "systemd-analyze verify mplxd@COM3.service"
fi
ok "unit /usr/lib/systemd/system/mplxd@.service"

mkdir ports
export LYRALINK_PORT_DIR="$work/ports"
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export LYRALINK_UDP_PORT="$port"
/usr/bin/lyrasim --port-dir "$work/ports" --serial COM3=740,sn=2024,fw=0x1304 --udp 127.0.0.1=740,sn=77 >lyrasim.log 2>&1 &
sim=$!
i=0
until grep -q '^ready' lyrasim.log 2>/dev/null; do
  i=$((i + 1))
  [ $i -le 100 ] || { cat lyrasim.log; fail "lyrasim did not start"; }
  sleep 0.05
done

lyractl --port COM3 state740 >state.txt || { cat state.txt; fail "lyractl state740"; }
grep -q "^firmware *0x1304" state.txt || fail "lyractl printed: $(cat state.txt)"
ok "lyractl --port COM3 state740 (firmware 0x1304)"
lyractl --ip 127.0.0.1 --log "$work/wire.log" power >/dev/null || fail "lyractl --ip power"
grep -q " lyralink\[[0-9]*\] ethernet 127.0.0.1:$port rx 138 " wire.log || fail "wire log: $(cat wire.log)"
ok "lyractl --ip 127.0.0.1 --log FILE power"

libs=$(pkg-config --libs lyralink | sed "s/ *$//") || fail "pkg-config --libs lyralink"
[ "$libs" = "-llyralink" ] || fail "pkg-config --libs lyralink printed '$libs'"
ok "pkg-config --libs lyralink: $libs"
# shellcheck disable=SC2046
cc -Wall -Werror -o consumer "$root/tests/install/consumer.c" $(pkg-config --cflags --libs lyralink) || fail "C consumer"
[ "$(./consumer COM3)" = "firmware 0x1304 serial 2024" ] || fail "C consumer printed '$(./consumer COM3)'"
ok "C program against the installed lyralink.h and liblyralink.so"

python3 -c 'import lyralink' || fail "python3 -c 'import lyralink'"
ok "python3 -c 'import lyralink'"
out=$(python3 -c '
import lyralink, lyralink._library as l
print(l.library_path())
with lyralink.open_serial("COM3") as dev:
    print(dev.query_state740().firmware)
') || fail "python3 lyralink against lyrasim: $out"
echo "$out" | head -n 1 | grep -q "^/usr/lib/.*/liblyralink\.so" || fail "python3 loaded $(echo "$out" | head -n 1)"
echo "$out" | tail -n 1 | grep -Eq "^(4868|0x1304)$" || fail "python3 printed: $out"
ok "python3 lyralink.open_serial('COM3') over $(echo "$out" | head -n 1)"

lyractl --port COM3 record 0.001 trace.wav >/dev/null || fail "lyractl record"
pulsecap --version >/dev/null || fail "pulsecap --version"
rc=0
QT_QPA_PLATFORM=offscreen timeout 3 pulsecap --view trace.wav >pulsecap.log 2>&1 || rc=$?
[ "$rc" -eq 124 ] || { cat pulsecap.log; fail "pulsecap --view ended with $rc instead of running"; }
ok "pulsecap --view (offscreen, ran until stopped)"
# pulsecap's own start searches for the analyser (COMM_INIT_SELECT), for
# which the library loads its windows module from the installed place.
export LYRALINK_HOST_ADDRESSES=127.0.0.1/255.0.0.0  # the search stays on this machine
QT_QPA_PLATFORM=offscreen pulsecap >pulsecap-start.log 2>&1 &
gui=$!
i=0
module=""
while [ $i -lt 100 ] && [ -z "$module" ]; do
  module=$(grep -o '/usr/lib/[^ ]*/lyralink/liblyralink-dialogs\.so' "/proc/$gui/maps" 2>/dev/null | head -n 1) || true
  i=$((i + 1))
  sleep 0.1
done
kill "$gui" 2>/dev/null || true
wait "$gui" 2>/dev/null || true
[ -n "$module" ] || { cat pulsecap-start.log; fail "the windows module was not loaded by pulsecap"; }
ok "windows module loaded from $module"
[ -f /usr/share/applications/pulsecap.desktop ] && [ -f /usr/share/icons/hicolor/scalable/apps/pulsecap.svg ] \
  || fail "pulsecap desktop entry or icon"
ok "pulsecap desktop entry and icon"

echo "smoke test of the installed packages: $passed passed, 0 failed"
