#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs the libFuzzer targets of fuzz/ (the fuzz preset builds them first):
#   scripts/fuzz.sh [TARGET|all] [SECONDS]  each target for SECONDS (default
#                                           60), as long as you like
#   scripts/fuzz.sh --ci                    every target for a fixed number of
#                                           inputs (CI; see RUNS below)
#   scripts/fuzz.sh --list                  the targets
# Inputs that find new code are kept in build/fuzz/work/TARGET/corpus, so a
# later run goes on from there (--ci starts afresh); the seeds in
# fuzz/corpus/TARGET are read, never written. Targets run side by side, one
# per core. A crash, leak, sanitizer report or broken promise stops the
# target, prints the end of its log and the input in hex, keeps the input
# as build/fuzz/work/TARGET/crash-* (or leak-*, timeout-*), and the script
# exits 1. Replay an input with build/fuzz/fuzz/fuzz_TARGET FILE.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bin="$root/build/fuzz/fuzz"
work="$root/build/fuzz/work"
# Inputs each target executes in CI: at least a million each; all of them
# together take about four minutes on two cores (README, "Fuzzing").
RUNS=1000000
TARGETS="settings_store receive_udp receive_queue lyrasim_frames trace_reader uninstall_log setup_script usb_selection identity"

# One target: run_one TARGET MODE AMOUNT, MODE runs or seconds.
run_one() {
  t=$1
  mode=$2
  amount=$3
  dir="$work/$t"
  [ "$mode" = runs ] && rm -rf "$dir"
  mkdir -p "$dir/corpus"
  rm -f "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*
  # Inputs as long as the largest thing a target parses needs: an identity
  # answer window with a head answer, a long answer frame, a page of text
  # (a log of a kilobyte has every kind of line many times over).
  case "$t" in identity) max_len=4096 ;; uninstall_log) max_len=1024 ;; *) max_len=2048 ;; esac
  set -- -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/"
  [ -f "$root/fuzz/dict/$t.dict" ] && set -- "$@" -dict="$root/fuzz/dict/$t.dict"
  if [ "$mode" = runs ]; then set -- "$@" -runs="$amount"; else set -- "$@" -max_total_time="$amount"; fi
  start=$(date +%s)
  rc=0
  ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" "$bin/fuzz_$t" "$@" "$dir/corpus" "$root/fuzz/corpus/$t" \
    >"$dir/log.txt" 2>&1 || rc=$?
  seconds=$(($(date +%s) - start))
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log.txt")
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $t FAILED (exit $rc) after ${seconds}s; end of its log:"
    tail -n 60 "$dir/log.txt"
    for f in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
      [ -f "$f" ] || continue
      echo "fuzz: $t input $f ($(wc -c <"$f") bytes):"
      od -A x -t x1z -v "$f"
    done
    return 1
  fi
  if [ "$mode" = runs ] && [ "${inputs:-0}" -lt "$amount" ]; then
    echo "fuzz: $t executed only ${inputs:-0} of $amount inputs"
    return 1
  fi
  # CPU time of the target (this shell's children: user and system), which a
  # machine busy with other work stretches less than the wall time.
  times >"$dir/times.txt"  # in this shell: a subshell has no children's times
  cpu=$(tail -n 1 "$dir/times.txt" | awk '{ n = 0; for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); n += t[1] * 60 + t[2] } printf "%.0f", n }')
  printf 'fuzz: %-16s %9s inputs %7s inputs/s %4ss wall %4ss cpu  corpus %s\n' "$t" "${inputs:-?}" "${rate:-?}" \
    "$seconds" "$cpu" "$(ls "$dir/corpus" | wc -l)"
}

case "${1:-all}" in
  --one) run_one "$2" "$3" "$4"; exit ;;
  --list) echo "$TARGETS" | tr ' ' '\n'; exit 0 ;;
  --ci) mode=runs amount=$RUNS targets=$TARGETS ;;
  all) mode=seconds amount=${2:-60} targets=$TARGETS ;;
  *)
    echo " $TARGETS " | grep -q " $1 " || { echo "fuzz.sh: no target '$1' (scripts/fuzz.sh --list)" >&2; exit 2; }
    mode=seconds amount=${2:-60} targets=$1 ;;
esac
scripts/build.sh fuzz >/dev/null
echo "== fuzzing ($mode: $amount per target, $(nproc) at a time)"
start=$(date +%s)
rc=0
# The slowest targets first, so that the others fill the second core.
echo "$targets" | tr ' ' '\n' | xargs -P "$(nproc)" -I{} "$0" --one {} "$mode" "$amount" || rc=$?
echo "== fuzzing took $(($(date +%s) - start))s"
[ "$rc" -eq 0 ] || { echo "fuzz.sh: a target failed (see above)" >&2; exit 1; }
