#!/usr/bin/env python3
"""Lease service figures against the real daemon, as root.

In a private mount namespace with the test double of /usr/bin/pmset (the
root tests' sandbox), this measures:
  - a renewal's round trip through the socket (the holder's renewal reads the
    setting once), against the bare spawn of the same tool as the daemon does
    it (service_spawn);
  - the rate at which unverified connections are refused: by an unmarked
    non-root client (the whole code check runs) and by root (refused on its
    user id);
  - the daemon's idle resident memory.

  service_bench.py BUILD_DIR
"""

import os
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lease-daemon", "tests"))
import root_test  # noqa: E402

RENEWALS = 100
ROUNDS = 7
SECONDS = 3.0


def refused(s):
    """True when the daemon closes the connection instead of answering."""
    try:
        s.send(root_test.RENEW)
        return s.recv(16) == b""
    except (BrokenPipeError, ConnectionResetError):
        return True


def refusal_rate(uid):
    """Connections refused per second by a client running as `uid`."""
    read, write = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(read)
        if uid:
            os.setgroups([])
            os.setgid(uid)
            os.setuid(uid)
        count = 0
        end = time.monotonic() + SECONDS
        while time.monotonic() < end:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            s.connect(root_test.SOCKET_PATH)
            if not refused(s):
                os._exit(1)
            s.close()
            count += 1
        os.write(write, str(count).encode())
        os._exit(0)
    os.close(write)
    count = int(os.read(read, 64) or b"0")
    os.waitpid(child, 0)
    return count / SECONDS


def timed_client(box, count, action="renew"):
    start = time.monotonic()
    status, lines = box.client("--count", str(count), "--interval", "0",
                               action)
    elapsed = time.monotonic() - start
    if status != 0 or lines.count("YES") != count:
        raise SystemExit("renewals failed: %s" % lines[:4])
    return elapsed


def inside(build):
    options = type("Options", (), {})()
    options.daemon = os.path.join(build, "bin", "VeskBreakSecurityHelper")
    options.client = os.path.join(build, "bin", "vesk-lease-client")
    options.sanitized = False
    box = root_test.Sandbox(options)
    # The stand-in in its plain mode: no run and descriptor logs, which cost
    # a child of their own on every run. The daemon inherits the
    # environment, and with it the stand-in's mode.
    os.environ.pop("PMSET_STAND_IN_DIR", None)
    box.start()
    idle_rss = box.daemon_rss_kb()

    # Rounds of both, interleaved so that both see the same machine load;
    # the medians are reported. In each client run the first renewal
    # captures the setting, and the client process's own start is taken out
    # by the one-renewal run.
    spawns, trips = [], []
    for _ in range(ROUNDS):
        spawns.append(float(subprocess.run(
            [os.path.join(build, "bin", "service_spawn"), str(RENEWALS)],
            capture_output=True, check=True).stdout))
        one = min(timed_client(box, 1) for _ in range(3))
        many = timed_client(box, RENEWALS + 1)
        trips.append((many - one) / RENEWALS * 1e6)
    # A call that runs no tool: a release while no lease is held.
    one = min(timed_client(box, 1, "release") for _ in range(3))
    many = timed_client(box, 10 * RENEWALS + 1, "release")
    bare_trip = (many - one) / (10 * RENEWALS) * 1e6
    spawn = statistics.median(spawns)
    round_trip = statistics.median(trips)

    unverified = refusal_rate(root_test.NOBODY)
    as_root = refusal_rate(0)
    after_rss = box.daemon_rss_kb()
    box.stop()

    print("| Figure | Value |")
    print("|---|---|")
    print("| bare spawn of the tool (`pmset -g`, as the daemon runs it) "
          "| %.0f µs |" % spawn)
    print("| renewal round trip through the socket | %.0f µs |" % round_trip)
    print("| ratio (target ≤ 1.3×) | %.2f× |" % (round_trip / spawn))
    print("| round trip of a call that runs no tool | %.0f µs |" % bare_trip)
    print("| unverified non-root connections refused | %.0f /s |" % unverified)
    print("| root connections refused | %.0f /s |" % as_root)
    print("| idle RSS after start | %d kB |" % idle_rss)
    print("| RSS after the runs above | %d kB |" % after_rss)
    return 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--inside":
        return inside(sys.argv[2])
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if os.geteuid() != 0:
        print("service_bench.py needs root (mount namespace, trusted. "
              "attributes)")
        return 1
    build = os.path.abspath(sys.argv[1])
    return subprocess.run(
        ["unshare", "--mount", "--propagation", "private", sys.executable,
         os.path.abspath(__file__), "--inside", build]).returncode


if __name__ == "__main__":
    sys.exit(main())
