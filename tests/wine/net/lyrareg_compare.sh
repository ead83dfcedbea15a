#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# lyrareg_compare.sh NATIVE_LYRAREG WINDOWS_LYRAREG
# One sequence of lyrareg commands, run by the native lyrareg on a private
# store directory (LYRALINK_REGISTRY_DIR) and by lyrareg.exe under Wine on
# the registry of the test prefix: every command's standard output,
# standard error and exit status must be the same. The sequence writes,
# rewrites through other letter cases, reads, lists and deletes keys and
# values under both roots, and makes the usage errors.
#
# The values of a key are created in alphabetical order here: Wine's
# registry lists values alphabetically, where Windows and the SQLite store
# list them in creation order (the cross-built registry test checks that
# order on Windows and is skipped under Wine).
set -eu
. "$(dirname "$0")/../wine_env.sh"
. "$(dirname "$0")/transcript.sh"
native="$1"; windows="$2"
if [ ! -x "$native" ]; then
  echo "no native $native: build the native tree first (scripts/build.sh default)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

key='HKCU\Software\LyraregTest'
ips="$key\\Special IPs"
machine='HKLM\Software\LyraregTest\App Paths'

# Runs the sequence with the program given as "$@" and prints a transcript.
sequence() {
  step() { transcript_step lyrareg "$@"; }
  # Nothing there yet.
  step get "$key" Name
  step delete "$key"
  step list "$key"
  # Values of both types, the key levels made on the way.
  step set "$ips" '' --sz 'default text'
  step set "$ips" Address0 --sz 192.168.1.20
  step set "$ips" Count --dword 0x10
  step set "$ips" Max --dword 4294967295
  step set "$ips" Octal --dword 017
  step set "$ips" Path --sz 'C:\Program Files\Lyra\ "quoted" \'
  step set "$ips" Text --sz ''
  # Names compare without regard to case; a rewrite keeps name and place.
  step set 'hkcu\software\lyraregtest\SPECIAL ips' ADDRESS0 --sz 10.0.0.1
  step set "$ips" count --sz 'now a string'
  step get 'HKEY_CURRENT_USER\Software\LyraregTest\Special IPs' address0
  step get "$ips" COUNT
  step get "$ips" ''
  step get "$ips" Max
  step get "$ips" Octal
  step get "$ips" Path
  step get "$ips" Text
  step get "$ips" Missing
  step list "$ips"
  # Subkeys in the store's order: letters without regard to case, the
  # characters between the capitals and the small letters before them.
  for sub in b _x B2 a Zed '[q'; do step set "$key\\Order\\$sub" n --dword 1; done
  step list "$key\\Order"
  step list "$key"
  step list "$key\\"
  # Deleting.
  step delete "$ips" Octal
  step delete "$ips" Octal
  step delete "$ips" ''
  step get "$ips" ''
  step list "$ips"
  step delete "$key\\Order\\B2"
  step delete "$key\\Order\\B2"
  step delete "$key\\order"
  step list "$key"
  step get "$key\\Order\\a" n
  # The other root.
  step set "$machine" '' --sz 'C:\Lyra\pulsecap.exe'
  step set "$machine" Path --sz 'C:\Lyra'
  step get 'HKEY_LOCAL_MACHINE\SOFTWARE\lyraregtest\app paths' ''
  step list "$machine"
  step get "$key\\App Paths" Path
  step delete 'HKLM\Software\LyraregTest'
  step list 'HKLM\Software\LyraregTest'
  # Usage errors.
  step
  step get
  step get "$key"
  step get 'HKXX\Software' Name
  step get 'HKCU\Software\\LyraregTest' Name
  step set "$key" Name --qword 1
  step set "$key" Name --dword 12x
  step set "$key" Name --dword -1
  step set "$key" Name --dword 4294967296
  step set "$key" Name --sz
  step list
  step delete HKCU
  step delete "$key" a b
  step frobnicate "$key"
  step --help
  step delete "$key"
  step list "$key"
}

program="$native"
LYRALINK_REGISTRY_DIR="$work/registry" sequence >"$work/native"
program="$windows"
# lyrareg.exe runs under Wine: lyra_wine_run with the program's arguments.
run_windows() { lyra_wine_run "$windows" "$@"; }
program=run_windows
sequence >"$work/windows"

if ! diff -a -u "$work/native" "$work/windows"; then
  echo "lyrareg.exe differs from the native lyrareg (- native, + Windows)"
  exit 1
fi
echo "$(grep -c '^\$ lyrareg' "$work/native") commands, same output"
