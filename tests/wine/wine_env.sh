# SPDX-License-Identifier: LGPL-2.1-or-later
# Running the Windows build's programs under Wine, for the tests. Sourced:
#   LYRA_WINE_PREFIX=build/windows/wineprefix . tests/wine/wine_env.sh
#
# Every run uses the private prefix LYRA_WINE_PREFIX (ctest sets it; never
# the user's ~/.wine), no debug channels, no Mono or Gecko installer, and a
# time limit. The prefix's wineserver is persistent (wineserver -p) and its
# stderr goes to wineserver.log beside the prefix; ctest's cleanup fixture
# stops it (wineserver -k).
#
# Serial ports: Wine links COM ports to the machine's /dev/ttyS* lines by
# itself ($WINEPREFIX/dosdevices/comN, made again whenever its device
# manager starts, which is once per wineserver). A test must never open a
# real line, so those links are removed once the server runs, and only the
# tests' own links to pseudo-terminals (lyra_wine_link_com) may be there.
# With the server kept alive the removed links stay removed.
#
# Functions:
#   lyra_wine_start             server and prefix services up (once), system port links gone
#   lyra_wine_check_ports       fails when a com/lpt link leads anywhere but a pseudo-terminal
#   lyra_wine_run [-t SECONDS] PROGRAM [ARG]...
#                               runs PROGRAM (a .exe path) under Wine; its exit status,
#                               124 when the time limit (default 120 s) ended it
#   lyra_wine_link_com N PTY    dosdevices/comN -> PTY (a /dev/pts/K path or a link to one)
#   lyra_wine_unlink_com N
#   lyra_wine_path PATH         the Windows form of a Unix path (drive Z: is /)

: "${LYRA_WINE_PREFIX:?LYRA_WINE_PREFIX names the private Wine prefix}"
WINEPREFIX=$LYRA_WINE_PREFIX
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
LYRA_WINE_LOG="$(dirname "$WINEPREFIX")/wineserver.log"

lyra_wine_drop_system_ports() {
  for link in "$WINEPREFIX"/dosdevices/com* "$WINEPREFIX"/dosdevices/lpt*; do
    [ -L "$link" ] || continue
    case "$(readlink "$link")" in
      /dev/pts/*) ;;  # a test's own pseudo-terminal
      *) rm -f "$link" ;;
    esac
  done
}

lyra_wine_start() {
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    # 0: a new server, whose prefix services are not running yet; 2: one
    # runs already. The server and the services it starts outlive this
    # call: they get the log, never the caller's output (ctest would wait
    # for them) nor the lock's descriptor (they would hold the lock).
    if wineserver -p >>"$LYRA_WINE_LOG" 2>&1 9>&- </dev/null; then
      if [ -d "$WINEPREFIX/drive_c/windows/system32" ]; then
        wineboot >>"$LYRA_WINE_LOG" 2>&1 9>&- </dev/null
      else
        wineboot -i >>"$LYRA_WINE_LOG" 2>&1 9>&- </dev/null
      fi
    fi
    lyra_wine_drop_system_ports
  ) 9>"$WINEPREFIX.lock"
}

lyra_wine_check_ports() {
  bad=0
  for link in "$WINEPREFIX"/dosdevices/com* "$WINEPREFIX"/dosdevices/lpt*; do
    [ -L "$link" ] || continue
    case "$(readlink -f "$link")" in
      /dev/pts/*) ;;
      *)
        echo "wine: $link leads to $(readlink "$link"), not to a pseudo-terminal" >&2
        bad=1
        ;;
    esac
  done
  return "$bad"
}

lyra_wine_run() {
  limit=120
  if [ "${1:-}" = "-t" ]; then
    limit=$2
    shift 2
  fi
  lyra_wine_start
  lyra_wine_check_ports || return 125
  timeout -k 5 "$limit" wine "$@"
}

lyra_wine_link_com() {
  ln -sfn "$(readlink -f "$2")" "$WINEPREFIX/dosdevices/com$1"
}

lyra_wine_unlink_com() {
  rm -f "$WINEPREFIX/dosdevices/com$1"
}

lyra_wine_path() {
  case "$1" in
    /*) printf 'Z:%s\n' "$1" | tr '/' '\\' ;;
    *) printf '%s\n' "$1" | tr '/' '\\' ;;
  esac
}
