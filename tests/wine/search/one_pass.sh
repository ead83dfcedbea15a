#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The whole search of the Windows build under Wine, in one pass over every
# kind of link: analysers of the native lyrasim on COM ports (dosdevices
# links to its pseudo-terminals), behind USB bridges (the stand-in
# ftd2xx.dll) and on UDP in the peer namespace of netns_run.sh, found
# through the host table Windows gives (GetAdaptersAddresses). Run by
# netns_wine.sh and x_session.sh: inside private namespaces, on an X server
# of its own. Checks
#   - lyractl.exe discover lists the entries the native lyractl lists in
#     the same namespace (text and JSON), and --select opens each kind of
#     link;
#   - COMM_INIT_SELECT in lyralink.dll selects automatically by serial
#     number on each kind of link, and every port it did not take is
#     released while the program still holds its link;
#   - through its selection dialog (xdotool): a line chosen with the
#     keyboard, and Redetect with a typed special IP that reaches an
#     analyser on another subnet, which is then remembered;
#   - COMM_INIT_ETHERNET and COMM_INIT_ETHERNET_TREBLA, by serial number
#     and through the head selection dialog.
# Environment besides common.sh's: SEARCH_HOST (search_host.exe),
# WIN_STANDIN (ftd2xx.dll), NATIVE_STANDIN (the native libftd2xx.so),
# SHOTS (where the dialogs' screenshots go).
source "$(dirname "$0")/../serial/common.sh"
[ -n "${LYRATEST_PEER_NETNS:-}" ] || fail "not inside netns_run.sh's namespaces"
for tool in xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
# The session's server runs in the namespace's private directories (see
# netns_wine.sh), so every socket of the programs below is in the namespace.
private_server=no
for socket in "${TMPDIR:-/tmp}"/wine-*/server-*/socket "/tmp/.wine-$(id -u)"/server-*/socket; do
  [ -S "$socket" ] && [ "$(findmnt -n -o SOURCE --target "$socket")" = lyralink-wine ] && private_server=yes
done
[ "$private_server" = yes ] || fail "the Wine session's server is not in the namespace's private directories"

# Every emulator runs in the peer namespace; the serial ones serve their
# pseudo-terminals wherever they run.
sim_launcher=(nsenter --net="$LYRATEST_PEER_NETNS")
# The Windows side: two analysers on COM ports (an MCA-310, which the host
# programs do not admit, on COM5), three on the two local networks (one of
# them carries a Trebla measuring head) and one on a subnet that only a
# directed probe reaches.
start_emulator wine --serial COM3=740,sn=3 --serial COM5=310,sn=5 \
  --udp 10.9.0.11=740,sn=11 --udp 10.20.5.5=740,sn=20 --udp 10.9.0.12=740,sn=25,head=77 \
  --udp 10.30.0.5=740,sn=30
link_com_port COM3
link_com_port COM5
# The native side: the same serial analysers on pseudo-terminals of their
# own (see common.sh); the network analysers are shared.
start_emulator native --serial COM3=740,sn=3 --serial COM5=310,sn=5
# Two bridge devices; the stand-in keeps them inside each process.
export LYRASIM_USB="740,sn=12,com=8;310,sn=13,com=9,desc=MCA-310"
export LYRALINK_REGISTRY_DIR="$scratch/native/registry"
mkdir -p "$LYRALINK_REGISTRY_DIR"
unset LYRALINK_HOST_ADDRESSES
win_standin=$(windows_path "$WIN_STANDIN")
wine reg delete 'HKCU\Software\LYRALINK' /f >/dev/null 2>&1

# --- lyractl discover and --select
# discover, natively and under Wine, in the same namespace: the same
# entries in the same words, in text and as JSON. The network analysers
# are listed in the order their answers arrived, which differs between two
# runs: the lines (the JSON objects) are compared sorted.
one_per_line() { sed 's/^\[//; s/\]$//; s/},{/}\n{/g' "$1" | sort; }
for format in "" --json; do
  LYRALINK_FTD2XX="$NATIVE_STANDIN" native_lyractl discover $format >"$scratch/native.txt" 2>"$scratch/native.err"
  native_status=$?
  LYRALINK_FTD2XX="$win_standin" wine_lyractl discover $format >"$scratch/wine.txt" 2>"$scratch/wine.err"
  wine_status=$?
  if [ "$native_status" != "$wine_status" ] ||
     [ "$(one_per_line "$scratch/native.txt")" != "$(one_per_line "$scratch/wine.txt")" ]; then
    echo "--- native lyractl discover $format (exit $native_status)" >&2
    cat "$scratch/native.txt" "$scratch/native.err" >&2
    echo "--- lyractl.exe discover $format (exit $wine_status)" >&2
    cat "$scratch/wine.txt" "$scratch/wine.err" >&2
    fail "discover $format: the outputs differ"
  fi
  [ "$wine_status" = 0 ] || fail "discover $format: exit $wine_status"
  echo "same: discover $format"
done
cat "$scratch/wine.txt"
for entry in '"port":"COM3","ip":"","serial":3,' '"port":"COM5","ip":"","serial":5,' \
             '"port":"USB","ip":"","serial":12,' '"port":"USB","ip":"","serial":13,' \
             '"port":"","ip":"10.9.0.11","serial":11,' '"port":"","ip":"10.20.5.5","serial":20,' \
             '"port":"","ip":"10.9.0.12","serial":25,'; do
  grep -qF "$entry" "$scratch/wine.txt" || fail "lyractl.exe discover does not list $entry"
done
# The third subnet hears no broadcast, and nothing remembers it yet.
grep -q '"serial":30' "$scratch/wine.txt" && fail "the analyser on the third subnet answered a broadcast"

# --select by serial number opens each kind of link; the state answer
# names the analyser (bytes 44-45 of its data, on the dump's line 0020).
for pick in "3 COM3" "12 USB" "11 Ethernet" "20 Ethernet"; do
  set -- $pick
  LYRALINK_FTD2XX="$win_standin" wine_lyractl --select "$1" state740 >"$scratch/wine.txt" 2>"$scratch/wine.err" ||
    fail "lyractl.exe --select $1: $(cat "$scratch/wine.err")"
  grep -q "^state740 (code 257) on $2" "$scratch/wine.txt" || fail "--select $1 is not on $2: $(head -1 "$scratch/wine.txt")"
  read -r -a line < <(grep '^  0020  ' "$scratch/wine.txt")
  serial=$((16#${line[13]:-0} + 256 * 16#${line[14]:-0}))
  [ "$serial" = "$1" ] || fail "--select $1 reached the analyser with serial number '$serial'"
  echo "ok: lyractl.exe --select $1 state740 on $2"
done

# --- COMM_INIT_SELECT
# The processes other than the emulators that hold a pseudo-terminal open
# (a port a Windows program holds is open in its process and in its
# wineserver).
holders() {
  local pty=$1 fd pid found=""
  for fd in /proc/[0-9]*/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$pty" ] || continue
    pid=${fd#/proc/}
    pid=${pid%%/*}
    case " ${sim_pids[*]} " in *" $pid "*) continue ;; esac
    found="$found $pid"
  done
  echo "${found# }"
}
port_state() { [ -n "$(holders "$(readlink -f "$scratch/wine/ports/$1")")" ] && echo held || echo free; }

# Runs search_host.exe ARG... in the background; its output goes to
# $scratch/host.out, and it holds its link until finish_host.
start_host() {
  rm -f "$scratch/host.in"
  mkfifo "$scratch/host.in"
  LYRALINK_FTD2XX="$win_standin" wine "$SEARCH_HOST" --bridges "$win_standin" --hold "$@" \
    <"$scratch/host.in" >"$scratch/host.out" 2>"$scratch/host.err" &
  host_pid=$!
  exec {host_in}>"$scratch/host.in"
}
# Waits until the host holds its link (at most two minutes), then checks
# what it printed and which ports are held: EXPECTED is "result ... serial
# S / bridges ... / COM3 ... COM5 ...", one line.
check_held() {
  local what=$1 expected=$2 n=0
  until grep -q holding "$scratch/host.out" 2>/dev/null || [ $n -ge 1200 ]; do
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.1
    n=$((n + 1))
  done
  local seen
  seen="$(tr -d '\r' <"$scratch/host.out" | grep -v holding | tr '\n' '/')COM3 $(port_state COM3) COM5 $(port_state COM5)"
  echo >&"$host_in"
  exec {host_in}>&-
  wait "$host_pid"
  if [ "$seen" = "$expected" ]; then
    echo "ok: $what: $seen"
  else
    cat "$scratch/host.err" >&2
    fail "$what: expected '$expected', got '$seen'"
  fi
}

# Automatic selection by serial number, without windows, on each kind of
# link; every other port of the pass is released (the MCA-310 on COM5 and
# the second bridge too), the chosen one is held.
start_host --no-dialogs --serial 12
check_held "automatic, USB bridge" "result 1 port 257 serial 12/bridges held free/COM3 free COM5 free"
start_host --no-dialogs --serial 3
check_held "automatic, COM3" "result 1 port 3 serial 3/bridges free free/COM3 held COM5 free"
start_host --no-dialogs --serial 20
check_held "automatic, UDP" "result 1 port 0 serial 20/bridges free free/COM3 free COM5 free"
# A serial number nobody has: nothing is taken.
start_host --no-dialogs --serial 99
check_held "automatic, no such analyser" "result 0 port -1 serial -1/bridges free free/COM3 free COM5 free"

# Through the selection dialog, with real key presses. The dialog opens
# with the focus on the check box; the applicable list is two Shift+Tab
# back, whatever the address control's state.
window() {
  id=$(timeout 120 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1)
  [ -n "$id" ] || fail "no window '$1'"
  timeout 30 xdotool windowfocus --sync "$id" 2>/dev/null
}
keys() { xdotool key --delay 60 "$@"; }
mkdir -p "$SHOTS"

# The third line (sorted by their texts: COM3, 10.9.0.11, USB, 10.20.5.5,
# 10.9.0.12).
start_host
window "Detected Lyra's"
import -window "$id" "$SHOTS/dialogs-select-search-windows.png"
keys shift+Tab shift+Tab Home Down Down Return
check_held "chosen in the dialog" "result 1 port 257 serial 12/bridges held free/COM3 free COM5 free"

# Redetect with a typed special IP: the second pass reaches the analyser on
# the third subnet, the dialog shows it as the last line, and it is chosen.
start_host
window "Detected Lyra's"
first=$id
keys space
xdotool type --delay 60 "10.30.0.5"
keys Tab space
# X has no event for a window that is gone: look every 0.1 s.
n=0
while [ "$(xdotool search --onlyvisible --name "Detected Lyra's" 2>/dev/null | head -1)" = "$first" ] && [ $n -lt 1200 ]; do
  sleep 0.1
  n=$((n + 1))
done
window "Detected Lyra's"
import -window "$id" "$SHOTS/dialogs-select-search-special-ip-windows.png"
keys shift+Tab shift+Tab End Return
check_held "Redetect with a special IP, then chosen" "result 1 port 0 serial 30/bridges free free/COM3 free COM5 free"
wine reg query 'HKCU\Software\LYRALINK\Special IPs' 2>/dev/null | tr -d '\r' >"$scratch/special.txt"
grep -q '10\.30\.0\.5' "$scratch/special.txt" || fail "the special IP is not remembered: $(cat "$scratch/special.txt")"
echo "ok: the special IP is remembered"

# Cancelled: nothing taken.
start_host
window "Detected Lyra's"
keys Escape
check_held "cancelled" "result 0 port -1 serial -1/bridges free free/COM3 free COM5 free"

# The Ethernet-only searches: by serial number, and in the head selection
# dialog (every analyser that answered; with --heads only those that carry
# a measuring head).
start_host --ethernet --serial 20
check_held "COMM_INIT_ETHERNET, automatic" "result 1 port -1 serial 20/bridges free free/COM3 free COM5 free"
start_host --heads --serial 25
check_held "COMM_INIT_ETHERNET_TREBLA, automatic" "result 1 port -1 serial 25/bridges free free/COM3 free COM5 free"
start_host --ethernet
window "Detected Lyra's"
import -window "$id" "$SHOTS/dialogs-analysers-search-windows.png"
# The focus starts on OK; two Tabs reach the (sorted) list.
keys Tab Tab End Return
check_held "COMM_INIT_ETHERNET, last line of the dialog" "result 1 port -1 serial 25/bridges free free/COM3 free COM5 free"
start_host --heads
window "Detected measuring heads"
import -window "$id" "$SHOTS/dialogs-heads-search-windows.png"
keys Return
check_held "COMM_INIT_ETHERNET_TREBLA through the dialog" "result 1 port -1 serial 25/bridges free free/COM3 free COM5 free"
echo "PASS"
