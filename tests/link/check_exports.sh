#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# check_exports.sh LIBRARY MAP REQUIRED...
# Fails when the library exports a symbol that the export map does not name,
# lacks one of the REQUIRED names, or exports a different number of names
# than REQUIRED lists.
set -eu
lib="$1"; map="$2"; shift 2
allowed=$(sed -n 's/^ *\([A-Z_0-9]*\);$/\1/p' "$map" | sort)
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRr]$/ {print $3}' | sort)
status=0
for name in $exported; do
  if ! printf '%s\n' "$allowed" | grep -qx "$name"; then
    echo "exported but not documented: $name"; status=1
  fi
done
for name in "$@"; do
  if ! printf '%s\n' "$exported" | grep -qx "$name"; then
    echo "missing export: $name"; status=1
  fi
done
count=$(printf '%s\n' "$exported" | grep -c . || true)
if [ "$count" -ne "$#" ]; then
  echo "$count names exported, $# expected"; status=1
fi
echo "$count exports checked"
exit $status
