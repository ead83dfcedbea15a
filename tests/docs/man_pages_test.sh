#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# The manual pages as the build made them:
#   man_pages_test.sh MAN_DIR SOURCE_DIR PAGE=PROGRAM...
# - every option that PROGRAM --help names is in PAGE (help2man makes the
#   page from that text; a page left over from another build, or one that
#   help2man misread, fails here);
# - lyralink(3) names every function of the export list and every family
#   heading of lyralink.h;
# - man reads every page without a warning (the check lintian makes).
set -eu
man_dir=$1
src=$2
shift 2
failed=0
passed=0
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}
pass() { passed=$((passed + 1)); }

man_warnings() {
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null || true
}

for pair in "$@"; do
  page="$man_dir/${pair%%=*}"
  program=${pair#*=}
  [ -f "$page" ] || { fail "no page $page"; continue; }
  options=$(QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$program" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u)
  [ -n "$options" ] || fail "$program --help names no option"
  for o in $options; do
    # help2man writes each '-' as '\-' (in the synopsis as it stands).
    grep -qF -- "$(printf '%s' "$o" | sed 's/-/\\-/g')" "$page" || grep -qF -- "$o" "$page" \
      || fail "$page lacks $o of $program --help"
  done
  w=$(man_warnings "$page")
  [ -z "$w" ] || fail "man warns about $page: $w"
  pass
done

page3="$man_dir/lyralink.3"
exports=$(sed -n 's/^ *\([A-Z0-9_]*\);$/\1/p' "$src/lyralink/exports/lyralink.map")
count=0
for name in $exports; do
  count=$((count + 1))
  grep -q "^\.BR $name ()" "$page3" || fail "lyralink.3 does not name $name"
done
[ "$count" -eq 144 ] || fail "the export list names $count functions, not 144"
# Family headings: the line after an opening "/* ----" rule, and the
# "/* ---- name ---- */" subheadings; a heading is matched up to " (".
headings=$(awk '/^\/\* --------------------/ { getline; sub(/^ \* /, ""); print; next }
               /^\/\* ---- .* ---- \*\/$/ { sub(/^\/\* ---- /, ""); sub(/ ---- \*\/$/, ""); print }' \
           "$src/include/lyralink.h" | sed 's/ (.*//')
[ -n "$headings" ] || fail "no family headings found in lyralink.h"
echo "$headings" | while IFS= read -r h; do
  grep -qF -- "$h" "$page3" || { echo "FAIL: lyralink.3 lacks the family \"$h\""; exit 1; }
done || failed=$((failed + 1))
w=$(man_warnings "$page3")
[ -z "$w" ] || fail "man warns about lyralink.3: $w"
pass

echo "manual pages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
