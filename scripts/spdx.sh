#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# Every source file, build file and script of the project names its licence
# in an SPDX line near its top:
#   scripts/spdx.sh --check   lists each tracked file without the line and
#                             exits 1 when there is one (a ctest, label
#                             licence, and CI run this)
#   scripts/spdx.sh --fix     writes the line into each of them: first line,
#                             or second after a "#!" line; running it again
#                             changes nothing
# Which files count: C and C++ sources and headers, Python, shell, CMake
# files (CMakeLists.txt, *.cmake, *.in templates), linker version scripts
# (*.map), pyproject.toml, debian/rules and every other file that starts
# with "#!". Data does not: documentation, images, JSON, desktop entries,
# udev rules, Debian control files, fuzz seeds and dictionaries, test
# inputs, COPYING.
set -eu
cd "$(dirname "$0")/.."
line="SPDX-License-Identifier: LGPL-2.1-or-later"

# The comment that carries the line in a file, or nothing when the file
# does not count.
comment_for() {
  case "$1" in
    fuzz/corpus/* | fuzz/regressions/* | fuzz/dict/*) return 0 ;;
    *.cpp | *.cc) echo "// $line" ;;
    *.c | *.h | *.map) echo "/* $line */" ;;
    *.py | *.sh | *.cmake | */CMakeLists.txt | CMakeLists.txt | *.in | *.toml | debian/rules) echo "# $line" ;;
    *.md | *.png | *.svg | *.json | *.desktop | *.rules | *.txt | *.wav | *.lst | *.supp | *.typed | *.install) return 0 ;;
    *)
      # Any other file that the system runs directly (.ci/run): a script.
      if [ "$(head -c 2 "$1" 2>/dev/null)" = "#!" ]; then echo "# $line"; fi
      ;;
  esac
}

has_line() { head -n 5 "$1" | grep -q "$line"; }

# Outside a git checkout (a source package) there is no list of files.
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "spdx: not a git checkout" >&2; exit 77; }
mode="${1:-}"
case "$mode" in --check | --fix) ;; *) echo "usage: scripts/spdx.sh --check | --fix" >&2; exit 2 ;; esac
checked=0
missing=0
fixed=0
# git ls-files -z would be safer against odd names; the project has none,
# and a plain list keeps this POSIX sh.
for f in $(git ls-files); do
  [ -f "$f" ] || continue
  c=$(comment_for "$f")
  [ -n "$c" ] || continue
  checked=$((checked + 1))
  has_line "$f" && continue
  if [ "$mode" = --check ]; then
    echo "$f"
    missing=$((missing + 1))
    continue
  fi
  tmp="$f.spdx-tmp"
  if [ "$(head -c 2 "$f")" = "#!" ]; then
    { head -n 1 "$f"; echo "$c"; tail -n +2 "$f"; } >"$tmp"
  else
    { echo "$c"; cat "$f"; } >"$tmp"
  fi
  # Keep the file's mode (scripts stay executable).
  chmod "$(stat -c %a "$f")" "$tmp"
  mv "$tmp" "$f"
  fixed=$((fixed + 1))
done
if [ "$mode" = --check ]; then
  echo "spdx: $checked files checked, $missing without \"$line\" (scripts/spdx.sh --fix adds it)"
  [ "$missing" -eq 0 ]
else
  echo "spdx: $checked files checked, $fixed given the line"
fi
