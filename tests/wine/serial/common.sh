# SPDX-License-Identifier: LGPL-2.1-or-later
# Shared steps of the serial tests under Wine (sourced by bash scripts).
#
# Environment (set by CMake for each test):
#   LYRA_WINE_PREFIX  the build tree's prefix, made by the wine_prefix fixture
#   NATIVE_LYRASIM    the native emulator; NATIVE_LYRACTL the native lyractl
#   WIN_BIN           the directory of lyractl.exe and lyralink.dll
# Every test makes its own scratch directory and removes what it started
# and linked on exit, whatever the outcome.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../wine_env.sh"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-wine-serial.XXXXXX")
sim_pids=()
linked_ports=()
# A command the emulators run under (such as nsenter into another network
# namespace); none by default.
sim_launcher=()

cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null; done
  for link in "${linked_ports[@]}"; do rm -f "$link"; done
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The Windows form of a Linux path (Wine maps / as drive Z:).
windows_path() {
  lyra_wine_path "$1"
}

# start_emulator SIDE ARG...: a native lyrasim for SIDE (native or wine)
# with its own port directory ($scratch/SIDE/ports) and frame record
# ($scratch/SIDE/frames.log); returns once it has published its ports
# ("ready" on its standard output).
#
# The native programs and the Windows programs never share an emulator:
# each side gets its own with the same analysers. A pseudo-terminal whose
# rate a Linux program set (any rate, through termios2) can no longer be
# read by Wine's GetCommState (ERROR_INVALID_PARAMETER) until a Windows
# program sets a rate again, which it never gets to do, as reading the
# settings comes first.
start_emulator() {
  local side=$1
  shift
  mkdir -p "$scratch/$side/ports"
  mkfifo "$scratch/$side/sim.out"
  "${sim_launcher[@]}" "$NATIVE_LYRASIM" --port-dir "$scratch/$side/ports" --record "$scratch/$side/frames.log" "$@" \
    >"$scratch/$side/sim.out" 2>"$scratch/$side/sim.err" &
  sim_pids+=($!)
  local line fd
  exec {fd}<"$scratch/$side/sim.out"
  while IFS= read -r -t 20 line <&"$fd"; do
    [ "$line" = ready ] && return 0
  done
  cat "$scratch/$side/sim.err" >&2
  fail "lyrasim ($side side) did not get ready"
}

# start_lyrasim ARG...: one emulator for each side, with the same analysers.
start_lyrasim() {
  start_emulator native "$@"
  start_emulator wine "$@"
}

# link_com_port NAME: points the prefix's dosdevices entry for NAME (COM3 ->
# com3) at the pseudo-terminal behind the Wine side's port entry.
link_com_port() {
  local name=$1 target
  target=$(readlink -f "$scratch/wine/ports/$name") || fail "no port entry $name"
  [ -c "$target" ] || fail "$name is no terminal: $target"
  local number=${name#COM}
  lyra_wine_link_com "$number" "$target"
  linked_ports+=("$WINEPREFIX/dosdevices/com$number")
}

# Runs the native lyractl with the native side's ports.
native_lyractl() {
  LYRALINK_PORT_DIR="$scratch/native/ports" "$NATIVE_LYRACTL" "$@"
}

# Runs lyractl.exe under Wine; the Windows console's CR LF line ends become
# LF, so that the output compares byte for byte with the native one.
wine_lyractl() {
  local status
  lyra_wine_run "$WIN_BIN/lyractl.exe" "$@" >"$scratch/wine.out"
  status=$?
  tr -d '\r' <"$scratch/wine.out"
  return $status
}

# same_output DESCRIPTION FILTER -- ARG...: runs lyractl natively and under
# Wine with the same arguments and compares output and exit status; FILTER
# (a sed script, may be empty) removes what legitimately differs between
# two runs (the analyser's running clock).
same_output() {
  local what=$1 filter=$2
  shift 3
  local native_status wine_status
  native_lyractl "$@" >"$scratch/native.txt" 2>"$scratch/native.err"
  native_status=$?
  wine_lyractl "$@" >"$scratch/wine.txt" 2>"$scratch/wine.err"
  wine_status=$?
  if [ -n "$filter" ]; then
    sed -i -e "$filter" "$scratch/native.txt" "$scratch/wine.txt"
  fi
  if [ "$native_status" != "$wine_status" ] || ! cmp -s "$scratch/native.txt" "$scratch/wine.txt"; then
    echo "--- native lyractl $* (exit $native_status)" >&2
    cat "$scratch/native.txt" "$scratch/native.err" >&2
    echo "--- wine lyractl.exe $* (exit $wine_status)" >&2
    cat "$scratch/wine.txt" "$scratch/wine.err" >&2
    diff "$scratch/native.txt" "$scratch/wine.txt" >&2
    fail "$what: outputs differ"
  fi
  [ -s "$scratch/native.txt" ] || fail "$what: no output at all"
  echo "same: $what ($(wc -l <"$scratch/native.txt") lines, exit $native_status)"
}
