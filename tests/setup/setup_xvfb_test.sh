#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# install and remover in their windows under a real X server (Xvfb), typed
# into and answered with xdotool: path dialog -> OK -> progress ->
# completion message and closing words; then remover -> question ->
# "Software was removed." -> the removal script takes the rest.
#
#   setup_xvfb_test.sh INSTALL REMOVER LYRAREG
# With LYRALINK_SHOT_DIR set, screenshots of the screen go there.
set -eu

if [ "${1:-}" = "--inside" ]; then
  work=$2
  shots=${LYRALINK_SHOT_DIR:-}
  shot() { [ -n "$shots" ] && import -window root "$shots/$1" || true; }
  # The id of a visible window with exactly this name and a height in the
  # range given; waits up to 60 s (a first Qt start on a fresh tree and a busy machine has taken over 20 s).
  find_window() {
    name=$1 min=$2 max=$3 i=0
    while [ $i -lt 600 ]; do
      for id in $(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null); do
        h=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed -n 's/^HEIGHT=//p')
        if [ -n "$h" ] && [ "$h" -ge "$min" ] && [ "$h" -le "$max" ]; then echo "$id"; return 0; fi
      done
      sleep 0.1
      i=$((i + 1))
    done
    echo "no window \"$name\" ($min..$max px high) appeared" >&2
    return 1
  }
  press() { xdotool windowfocus --sync "$1" && sleep 0.1 && xdotool key "$2"; }

  "$work/media/install" >"$work/install.out" 2>"$work/install.err" &
  pid=$!
  dialog=$(find_window "Application path" 50 2000)
  sleep 0.3
  xdotool windowfocus --sync "$dialog"
  sleep 0.1
  xdotool key ctrl+a
  xdotool type --delay 5 "$work/opt/Typed App"
  sleep 0.2
  shot setup-path-dialog.png
  xdotool key Return
  find_window "Xvfb Demo" 1 70 >/dev/null   # the progress window
  sleep 0.6
  shot setup-progress.png
  # The completion message, then the closing words.
  for n in 1 2; do
    box=$(find_window "Xvfb Demo" 71 2000)
    [ "$n" = 1 ] && shot setup-completed.png
    press "$box" Return
    sleep 0.3
  done
  status=0
  wait "$pid" || status=$?
  [ "$status" = 0 ] || { echo "install ended with $status"; cat "$work/install.err"; exit 1; }
  grep -q "^Xvfb Demo Setup was completed successfully" "$work/install.err" 2>/dev/null && exit 1  # windows, not stderr
  app="$work/opt/Typed App"
  [ -f "$app/data.txt" ] && [ -f "$app/uninst00.log" ] && [ -x "$app/remover" ] || { echo "files missing in $app"; exit 1; }

  "$app/remover" "\"$app/uninst00.log\"" >"$work/remover.out" 2>&1 &
  pid=$!
  box=$(find_window "Uninstall Xvfb Demo" 71 2000)
  shot setup-remover.png
  press "$box" Return     # Yes
  box=$(find_window "Uninstall Xvfb Demo" 71 2000)
  press "$box" Return     # "Software was removed."
  status=0
  wait "$pid" || status=$?
  [ "$status" = 0 ] || { echo "remover ended with $status"; cat "$work/remover.out"; exit 1; }
  # The removal script finishes once remover has ended.
  i=0
  scripts() { ls "$work/tmp" | grep '^lyralink-remove-' || true; }
  while { [ -e "$app" ] || [ -n "$(scripts)" ]; } && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ ! -e "$app" ] || { echo "$app is still there"; ls -la "$app"; exit 1; }
  [ -z "$(scripts)" ] || { echo "the removal script is still there: $(scripts)"; exit 1; }
  echo "windowed install and removal passed"
  exit 0
fi

install=$1 remover=$2 lyrareg=$3
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-xvfb-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/media" "$work/opt" "$work/home" "$work/reg" "$work/tmp" "$work/run"
chmod 700 "$work/run"
cp "$install" "$remover" "$work/media/"
echo "data" >"$work/media/data.txt"
echo "more" >"$work/media/more.txt"
cat >"$work/media/install.lst" <<'EOF'
[Setup]
Title=Xvfb Demo
DefaultDir=$ProgramFiles/Xvfb Demo
Uninstall=XvfbDemo
Version=1.0
[Directories]
Directory1=$AppPath/doc
[Files]
File1=data.txt,$AppPath,private
File2=more.txt,$AppPath/doc,private
[ShellLinks]
Group=Xvfb Demo
Link1=Remove Xvfb Demo,$Uninstall
[ClosingWords]
Text=Xvfb Demo is in $AppPath.
EOF
export LYRALINK_REGISTRY_DIR="$work/reg" HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# Sanitizer builds: what the system's libraries keep for good is not ours to report.
LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS
"$lyrareg" set 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion' ProgramFilesDir --sz "$work/opt"
xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" --inside "$work"
