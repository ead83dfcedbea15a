#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
# The Wine harness's serial links: after the prefix fixture no com/lpt link
# leads to a real line, and a port linked with lyra_wine_link_com reaches
# the test's pseudo-terminal both ways (a Windows program writes "ping" to
# \\.\COM7 and reads the "pong" sent back on the terminal's other side).
#   com_link_test.py WINE_ENV_SH COM_PROBE_EXE
import os
import pty
import select
import subprocess
import sys
import tty

wine_env, probe = sys.argv[1], sys.argv[2]
prefix = os.environ["LYRA_WINE_PREFIX"]


def harness(script):
    return subprocess.run(["sh", "-c", '. "$0" && ' + script, wine_env], capture_output=True, text=True, timeout=120)


check = harness("lyra_wine_start && lyra_wine_check_ports")
if check.returncode != 0:
    sys.exit("a port link leads to a real line: " + check.stderr)
left = [e for e in os.listdir(os.path.join(prefix, "dosdevices")) if e.lower().startswith(("com", "lpt"))]
if left:
    sys.exit("Wine's own port links are still there: %s" % left)

main, terminal = pty.openpty()
tty.setraw(terminal)
linked = harness('lyra_wine_link_com 7 "%s"' % os.ttyname(terminal))
if linked.returncode != 0:
    sys.exit("cannot link COM7: " + linked.stderr)
try:
    run = subprocess.Popen(["sh", "-c", '. "$0" && lyra_wine_run -t 60 "$1" "\\\\.\\COM7"', wine_env, probe],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    received = b""
    while len(received) < 4:
        ready, _, _ = select.select([main], [], [], 60)
        if not ready:
            break
        received += os.read(main, 4 - len(received))
    if received == b"ping":
        os.write(main, b"pong")
    out, err = run.communicate(timeout=90)
finally:
    harness("lyra_wine_unlink_com 7")
print("terminal received %r; probe: %s" % (received, out.strip()))
if received != b"ping" or run.returncode != 0:
    sys.exit("probe exit %d, stderr: %s" % (run.returncode, err))
if os.path.lexists(os.path.join(prefix, "dosdevices", "com7")):
    sys.exit("lyra_wine_unlink_com left the link")
