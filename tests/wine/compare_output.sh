#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# compare_output.sh NATIVE_PROGRAM WINDOWS_PROGRAM [ARG]...
# Runs the native program and the Windows one (under Wine) with the same
# arguments: their standard output and exit status must be the same. A
# Windows program writes its text output in text mode, each line ending in
# CR LF; the CRs are dropped before comparing.
set -eu
. "$(dirname "$0")/wine_env.sh"
native="$1"; windows="$2"; shift 2
if [ ! -x "$native" ]; then
  echo "no native $native: build the native tree first (scripts/build.sh default)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set +e
"$native" "$@" >"$work/native" 2>"$work/native.err"
native_status=$?
lyra_wine_run "$windows" "$@" >"$work/windows.crlf" 2>"$work/windows.err"
windows_status=$?
set -e
tr -d '\r' <"$work/windows.crlf" >"$work/windows"
status=0
if [ "$native_status" -ne "$windows_status" ]; then
  echo "exit status: native $native_status, Windows $windows_status"; status=1
fi
if ! diff -u "$work/native" "$work/windows"; then status=1; fi
if [ "$status" -ne 0 ]; then
  echo "--- Windows standard error:"; cat "$work/windows.err"
fi
echo "$(wc -l <"$work/native") lines compared"
exit $status
