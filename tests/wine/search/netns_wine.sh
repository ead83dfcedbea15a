#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# netns_wine.sh COMMAND [ARGUMENT]...
# Runs COMMAND in the private network namespaces of netns_run.sh (the host,
# joined by veth pairs to a peer where the analysers answer over UDP) with
# a Wine session of its own: a Windows program's sockets live in its
# wineserver, so the server must be started inside, and no Wine program
# inside may reach a server outside (nor one outside this one). Wine keeps
# its server directory in /tmp/.wine-UID, Debian's Wine in
# $TMPDIR/wine-XXXXXX (the name kept in the prefix): inside the namespace
# both are private file systems (tmpfs), and the prefix's server outside is
# stopped first. Nothing sent inside leaves the namespaces.
# Environment: LYRA_WINE_PREFIX (the prefix). Exits 77 (skipped) where
# user namespaces are not available: the test then runs nothing.
set -eu
if [ "${LYRA_WINE_NETNS:-}" != 1 ]; then
  if ! unshare -rnm true 2>/dev/null; then
    echo "SKIP: no user namespaces here (unshare -rnm failed)"
    exit 77
  fi
  WINEPREFIX=${LYRA_WINE_PREFIX:?} wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$LYRA_WINE_PREFIX wineserver -w >/dev/null 2>&1 || true
  # The mount points; they stay empty outside.
  LYRA_WINE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/lyralink-wine-netns.XXXXXX")
  export LYRA_WINE_TMP
  status=0
  LYRA_WINE_NETNS=1 unshare -rnm sh "$0" "$@" || status=$?
  rmdir "$LYRA_WINE_TMP"
  exit "$status"
fi
mount -t tmpfs -o mode=0700 lyralink-wine "$LYRA_WINE_TMP"
export TMPDIR="$LYRA_WINE_TMP"
mkdir -p "/tmp/.wine-$(id -u)"
mount -t tmpfs -o mode=0700 lyralink-wine "/tmp/.wine-$(id -u)"
LYRATEST_IN_NETNS=1 exec sh "$(dirname "$0")/../../discovery/netns_run.sh" "$@"
