#!/bin/sh
# SPDX-License-Identifier: LGPL-2.1-or-later
# netns_run.sh COMMAND [ARGUMENT]...
# Runs COMMAND in a private user and network namespace (the "host") that is
# joined by veth pairs to a second network namespace (the "peer"), where
# the tests start lyrasim through nsenter:
#
#   host v0 10.9.0.1/24   <->  peer v1 10.9.0.11/24, 10.9.0.12/24, 10.30.0.5/32
#   host w0 10.20.0.1/16  <->  peer w1 10.20.5.5/16
#   host route 10.30.0.0/24 on v0: another subnet, reachable, but no
#   broadcast of the host goes there.
#
# Nothing leaves the namespaces, and the devices' UDP port 50000 is free in
# them. LYRATEST_PEER_NETNS names the peer's namespace for nsenter. Where
# user namespaces are not available the command runs as it is with
# LYRATEST_NO_NETNS=1, and its tests skip.
set -eu
if [ "${LYRATEST_IN_NETNS:-}" != 1 ]; then
  if unshare -rn true 2>/dev/null; then
    LYRATEST_IN_NETNS=1 exec unshare -rn sh "$0" "$@"
  fi
  LYRATEST_NO_NETNS=1 exec "$@"
fi

ip link set lo up
unshare -n sleep 3600 &
peer=$!
trap 'kill "$peer" 2>/dev/null || true' EXIT
# unshare has made the new namespace once its network namespace differs.
self=$(readlink /proc/self/ns/net)
tries=0
while [ "$(readlink /proc/$peer/ns/net 2>/dev/null || echo "$self")" = "$self" ]; do
  tries=$((tries + 1)); [ "$tries" -lt 500 ] || { echo "netns_run: peer namespace did not come up" >&2; exit 1; }
  sleep 0.01
done
in_peer() { nsenter --net=/proc/$peer/ns/net "$@"; }

ip link add v0 type veth peer name v1 netns "$peer"
ip link add w0 type veth peer name w1 netns "$peer"
ip addr add 10.9.0.1/24 dev v0
ip addr add 10.20.0.1/16 dev w0
in_peer ip link set lo up
in_peer ip addr add 10.9.0.11/24 dev v1
in_peer ip addr add 10.9.0.12/24 dev v1
in_peer ip addr add 10.30.0.5/32 dev v1
in_peer ip addr add 10.20.5.5/16 dev w1
in_peer ip link set v1 up
in_peer ip link set w1 up
ip link set v0 up
ip link set w0 up
ip route add 10.30.0.0/24 dev v0
tries=0
until ip -o link show v0 | grep -q 'state UP' && ip -o link show w0 | grep -q 'state UP'; do
  tries=$((tries + 1)); [ "$tries" -lt 500 ] || { echo "netns_run: links did not come up" >&2; exit 1; }
  sleep 0.01
done

export LYRATEST_PEER_NETNS="/proc/$peer/ns/net" LYRALINK_UDP_PORT=50000
set +e
"$@"
status=$?
exit $status
