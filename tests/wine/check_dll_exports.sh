#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# check_dll_exports.sh OBJDUMP DLL MAP COUNT [DEF]
# Fails unless the DLL's export table names exactly the functions of the
# export map (COUNT of them), undecorated, each once; and, with DEF, unless
# the module definition file's EXPORTS are those names too.
set -eu
objdump="$1"; dll="$2"; map="$3"; count="$4"; def="${5:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);[[:space:]]*$/\1/p' "$map" | sort >"$work/documented"
# The name table of "objdump -p": "[Ordinal/Name Pointer] Table" and one
# "[   n] NAME" line per export, up to the next empty line.
"$objdump" -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\(.*\)$/\1/p' | sort >"$work/exported"
status=0
if [ "$(wc -l <"$work/documented")" -ne "$count" ]; then
  echo "$map names $(wc -l <"$work/documented") functions, $count expected"; status=1
fi
comm -13 "$work/documented" "$work/exported" | sed 's/^/exported but not documented: /'
comm -23 "$work/documented" "$work/exported" | sed 's/^/missing export: /'
if ! cmp -s "$work/documented" "$work/exported"; then status=1; fi
dups=$(uniq -d "$work/exported")
if [ -n "$dups" ]; then
  echo "exported twice: $dups"; status=1
fi
if [ -n "$def" ]; then
  sed -n '/^EXPORTS/,$p' "$def" | sed -n 's/^[[:space:]]\{1,\}\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*$/\1/p' | sort >"$work/defined"
  if ! cmp -s "$work/documented" "$work/defined"; then
    echo "$(basename "$def") differs from the export map:"; diff "$work/documented" "$work/defined" || true; status=1
  fi
fi
echo "$(wc -l <"$work/exported") exports of $(basename "$dll") checked against $(basename "$map")"
exit $status
