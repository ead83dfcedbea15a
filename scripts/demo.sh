#!/bin/sh
# Builds lyralink and drives an analyser with lyractl: the analyser on the
# serial port named by LYRALINK_DEMO_PORT (e.g. COM33, see README "Serial
# ports on Linux"), or, when none is named, the built-in emulator lyrasim on
# a pseudo-terminal published as COM3.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh default >/dev/null
bin=build/default/tools
port="${LYRALINK_DEMO_PORT:-}"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "${dir:-}" ] && rm -rf "$dir"
  return 0
}
trap cleanup EXIT INT TERM
if [ -z "$port" ]; then
  dir=$(mktemp -d /tmp/lyralink-demo-XXXXXX)
  export LYRALINK_PORT_DIR="$dir"
  "$bin/lyrasim/lyrasim" --port-dir "$dir" --serial COM3=740,sn=2024,fw=0x1304 >"$dir/lyrasim.log" &
  sim_pid=$!
  i=0
  while [ ! -e "$dir/COM3" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  port=COM3
  echo "== No analyser named (LYRALINK_DEMO_PORT): using the emulator lyrasim on $port"
fi
run() {
  echo
  echo "\$ lyractl --port $port $*"
  "$bin/lyractl/lyractl" --port "$port" "$@" || echo "(exit status $?)"
}
run state740
run state740-ex
run set-hv 800
run set-gain 20
run state
run set-time
run start
sleep 0.2
run power
run memory 0
run stop
