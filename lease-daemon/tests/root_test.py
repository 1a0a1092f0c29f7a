#!/usr/bin/env python3
"""End-to-end tests of VeskBreakSecurityHelper, run as root.

Each scenario runs in a private mount namespace with fresh /run and /var/db
and the power tool's stand-in (../testing/pmset-stand-in.sh) as
/usr/bin/pmset. The daemon is the real binary, marked with a team; clients
are marked copies of the client tool and of the Python interpreter (for raw
protocol abuse). Exit status 77 (skip) without root or mount namespaces.

  root_test.py --daemon PATH --client PATH [--sanitized] [SCENARIO...]
"""

import argparse
import concurrent.futures
import os
import plistlib
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import threading
import time
import traceback

SKIP = 77
SOCKET_PATH = "/run/com.vesk.Vesk.break-security"
STATE_PATH = "/var/db/com.vesk.Vesk.break-security.plist"
LOCK_PATH = "/run/com.vesk.Vesk.break-security.lock"
APP_ID = "com.vesk.Vesk"
TEAM = "K7Q2M9X4TZ"
OTHER_TEAM = "Q9W8E7R6T5"
NOBODY = 65534
RENEW = b"renewLeaseWithReply:"

BASE = "/run/vesk-test"
BIN = BASE + "/bin"
PMSET_DIR = BASE + "/pmset"

# With PMSET_STAND_IN_DIR set (inherited by the daemon and so by its runs of
# the tool) the stand-in keeps the setting in PMSET_DIR and logs runs there.
PMSET_STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "testing", "pmset-stand-in.sh")

# A raw client, run by a marked copy of the interpreter: abuser.py MODE.
# Exit 0 when the daemon answered its first request and then dropped the
# connection after the abuse. "idle N" opens up to N idle connections,
# prints how many it made and holds them until standard input ends.
ABUSER = r"""
import os, resource, socket, sys
mode = sys.argv[1]
if mode == "idle":
    resource.setrlimit(resource.RLIMIT_NOFILE,
                       (resource.getrlimit(resource.RLIMIT_NOFILE)[1],) * 2)
    held, stalled = [], 0
    while len(held) < int(sys.argv[2]) and stalled < 3:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        s.settimeout(1.0)
        try:
            s.connect("%(path)s")
            held.append(s)
            stalled = 0
        except OSError:  # three in a row: the daemon no longer takes any
            s.close()
            stalled += 1
    print(len(held), flush=True)
    sys.stdin.read()
    sys.exit(0)
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
s.connect("%(path)s")
if mode == "linger":
    # A TCP socket whose close waits out a long linger time: data it cannot
    # send (its peer never reads), passed along with a first request.
    # Prints "sent", or "refused" when the kernel would not pass it.
    sink = socket.create_server(("127.0.0.1", 0))
    tcp = socket.create_connection(sink.getsockname())
    tcp.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                   __import__("struct").pack("ii", 1, 1000000))
    tcp.setblocking(False)
    try:
        while True:
            tcp.send(b"x" * 65536)
    except BlockingIOError:
        pass
    try:
        s.sendmsg([b"renewLeaseWithReply:"],
                  [(socket.SOL_SOCKET, socket.SCM_RIGHTS,
                    __import__("array").array("i", [tcp.fileno()]).tobytes())])
        tcp.close()  # the copy in the daemon's queue is now the last
        print("sent", flush=True)
    except PermissionError:
        print("refused", flush=True)
    sys.stdin.read()
    os._exit(0)  # an exiting process's close does not linger
s.send(b"renewLeaseWithReply:")
if len(s.recv(16)) != 1:
    sys.exit(3)
if mode == "unknown":
    s.send(b"pingWithReply:")
elif mode == "empty":
    s.send(b"")
elif mode == "oversized":
    s.send(b"x" * 100000)
elif mode == "descriptor":
    r, w = os.pipe()
    try:
        s.sendmsg([b"renewLeaseWithReply:"],
                  [(socket.SOL_SOCKET, socket.SCM_RIGHTS,
                    __import__("array").array("i", [r]).tobytes())])
    except PermissionError:  # refused by the kernel: nothing was sent
        sys.exit(0)
elif mode == "forked":
    child = os.fork()
    if child == 0:
        s.send(b"renewLeaseWithReply:")
        os._exit(0)
    os.waitpid(child, 0)
elif mode == "flood":
    # Requests, never reading a reply, until the daemon stops taking them.
    s.setblocking(False)
    try:
        for _ in range(100000):
            s.send(b"renewLeaseWithReply:")
    except BlockingIOError:
        pass
    print("flooded", flush=True)
    sys.stdin.read()
    sys.exit(0)
try:
    data = s.recv(16)
except ConnectionResetError:
    data = b""
sys.exit(0 if data == b"" else 4)
""" % {"path": SOCKET_PATH}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(condition, bound=20.0, what="condition"):
    end = time.monotonic() + bound
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.02)


def mount(*args):
    subprocess.run(["mount", *args], check=True)


def install(source, name, identifier=None, team=None, mode=0o755, owner=0):
    """A fresh copy of source, without attributes but those given."""
    path = os.path.join(BIN, name)
    if os.path.exists(path):
        os.remove(path)
    shutil.copyfile(source, path)
    os.chown(path, owner, 0)
    os.chmod(path, mode)
    for key, value in (("identifier", identifier), ("team", team)):
        if value is not None:
            os.setxattr(path, "trusted.codesign." + key, value.encode())
    return path


def as_user(uid, argv):
    if uid == 0:
        return list(argv)
    return ["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid,
            "--clear-groups", "--"] + list(argv)


class Sandbox:
    """The namespace's private /run, /var/db and /usr/bin/pmset."""

    def __init__(self, options):
        self.options = options
        mount("-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run")
        os.makedirs("/var/db", exist_ok=True)
        mount("-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/var/db")
        for d in (BASE, BIN, PMSET_DIR, BASE + "/up", BASE + "/work"):
            os.makedirs(d, exist_ok=True)
            os.chmod(d, 0o755)
        pmset = BASE + "/up/pmset"
        shutil.copyfile(PMSET_STAND_IN, pmset)
        os.chmod(pmset, 0o755)
        os.environ["PMSET_STAND_IN_DIR"] = PMSET_DIR
        self.set_value(0)
        open(PMSET_DIR + "/runs", "w").close()
        # The interpreter for raw clients, copied before /usr/bin changes.
        self.python = os.path.realpath("/usr/bin/python3")
        mount("-t", "overlay", "overlay", "-o",
              "lowerdir=/usr/bin,upperdir=%s/up,workdir=%s/work" % (BASE, BASE),
              "/usr/bin")
        self.daemon_path = install(options.daemon, "VeskBreakSecurityHelper",
                                   team=TEAM)
        self.client_path = install(options.client, "client",
                                   identifier=APP_ID, team=TEAM)
        self.pyclient_path = install(self.python, "pyclient",
                                     identifier=APP_ID, team=TEAM)
        self.abuser = BASE + "/abuser.py"
        with open(self.abuser, "w") as f:
            f.write(ABUSER)
        os.chmod(self.abuser, 0o644)
        self.daemon = None

    # The fake tool's setting and the record of its runs.
    def set_value(self, value):
        with open(PMSET_DIR + "/value.new", "w") as f:
            f.write("%d\n" % value)
        os.rename(PMSET_DIR + "/value.new", PMSET_DIR + "/value")

    def value(self):
        with open(PMSET_DIR + "/value") as f:
            return int(f.read())

    def runs(self):
        with open(PMSET_DIR + "/runs") as f:
            return f.read().splitlines()

    def fail_writes(self, on):
        flag = PMSET_DIR + "/fail-write"
        if on:
            open(flag, "w").close()
        elif os.path.exists(flag):
            os.remove(flag)

    def owe_restore(self):
        """A lease left by an earlier run, whose write-back keeps failing."""
        self.set_value(1)
        write_state(0)
        self.fail_writes(True)

    def restored(self):
        return self.value() == 0 and state_file() is None

    def wait_restored(self, what, bound=30):
        """Lets write-backs succeed again; waits for the owed restore."""
        self.fail_writes(False)
        wait_until(self.restored, bound=bound, what=what)

    def start(self, path=None, uid=0, wait=True, prefix=(), pass_fds=()):
        path = path or self.daemon_path
        old = os.stat(SOCKET_PATH).st_ino if os.path.exists(SOCKET_PATH) else None
        self.out = open(BASE + "/daemon.out", "wb")
        self.daemon = subprocess.Popen(
            [*prefix, *as_user(uid, [path])], stdin=subprocess.DEVNULL,
            stdout=self.out, stderr=subprocess.STDOUT, pass_fds=pass_fds)
        if wait:
            def ready():
                check(self.daemon.poll() is None, "daemon exited early")
                try:
                    return os.stat(SOCKET_PATH).st_ino != old
                except FileNotFoundError:
                    return False
            wait_until(ready, what="the daemon's socket")
        return self.daemon

    def stop(self, sig=signal.SIGTERM):
        if self.daemon and self.daemon.poll() is None:
            self.daemon.send_signal(sig)
            self.daemon.wait(timeout=30)
        self.out.close()
        with open(BASE + "/daemon.out", "rb") as f:
            check(f.read() == b"", "the daemon wrote output")

    def daemon_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.daemon.pid))

    def daemon_rss_kb(self):
        with open("/proc/%d/status" % self.daemon.pid) as f:
            return int(next(l for l in f if l.startswith("VmRSS:")).split()[1])

    def client(self, *args, uid=NOBODY, path=None, wrap=None):
        """Runs the client tool to the end: (exit status, output lines).
        wrap(argv) -> argv, when given, runs it in place of as_user."""
        argv = (wrap or (lambda a: as_user(uid, a)))(
            [path or self.client_path, *args])
        done = subprocess.run(argv, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        return done.returncode, done.stdout.decode().split()

    def interactive(self):
        return Interactive(as_user(NOBODY, [self.client_path, "-"]))

    def abuse(self, *mode, stdin=subprocess.DEVNULL, uid=NOBODY, path=None):
        argv = as_user(uid, [path or self.pyclient_path, self.abuser, *mode])
        return subprocess.Popen(argv, stdin=stdin, stdout=subprocess.PIPE)


class Interactive:
    """The client tool reading actions from standard input."""

    def __init__(self, argv):
        self.process = subprocess.Popen(
            argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)

    def call(self, action):
        self.process.stdin.write(action.encode() + b"\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline().decode().strip()
        return line.split(": ")[1] if ": " in line else None

    def close(self):
        self.process.stdin.close()
        return self.process.wait(timeout=30)


def raw_renew():
    """A renewal from this process (root): b"" when the daemon closed."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
        s.connect(SOCKET_PATH)
        try:
            s.send(RENEW)
            return s.recv(16)
        except (BrokenPipeError, ConnectionResetError):
            return b""


def state_file():
    try:
        with open(STATE_PATH, "rb") as f:
            return plistlib.load(f), stat.S_IMODE(os.stat(STATE_PATH).st_mode)
    except FileNotFoundError:
        return None


def write_state(value):
    with open(STATE_PATH, "wb") as f:
        plistlib.dump({"SleepDisabled": value}, f, fmt=plistlib.FMT_BINARY)


# --- scenarios -------------------------------------------------------------


def scenario_lease(box):
    """A verified client holds, renews, releases and lets a lease lapse."""
    box.start()
    client = box.interactive()
    check(client.call("renew") == "YES", "first renewal refused")
    check(box.value() == 1, "setting not 1 under a lease")
    check(state_file() == ({"SleepDisabled": 0}, 0o600), "state file")
    last = time.monotonic()
    wait_until(lambda: box.value() == 0, bound=30, what="the lease to lapse")
    lapsed = time.monotonic() - last
    check(9.8 <= lapsed <= 13.0, "lease lapsed after %.2f s" % lapsed)
    wait_until(lambda: state_file() is None, bound=5, what="state file gone")

    # Release puts the setting back at once; so does a holder that exits.
    check(client.call("renew") == "YES" and box.value() == 1, "renewal")
    check(client.call("release") == "YES", "release refused")
    check(box.restored(), "release not at once")
    check(client.call("renew") == "YES", "renewal refused")
    check(client.close() == 0, "client failed")
    wait_until(box.restored, bound=5, what="invalidation to restore")
    box.stop()


# Root limited to the capabilities the service unit grants.
CAPS = ["setpriv", "--bounding-set=-all,+sys_admin,+sys_ptrace,+kill,"
        "+dac_read_search", "--"]


# A marked client in namespaces of its own: a user namespace, in which it
# could repoint its /proc/PID/exe at any file, or a pid namespace, in which
# it could claim another sender's process id.
NAMESPACE_WRAPPERS = {
    "own user namespace":
        lambda argv: as_user(NOBODY, ["unshare", "--user", *argv]),
    "own pid namespace":
        lambda argv: ["unshare", "--pid", "--fork", *as_user(NOBODY, argv)],
}


def scenario_refusals(box):
    """Clients that do not meet the requirement, or a daemon without one."""
    rows = [
        # name, identifier, team, mode, owner, uid, daemon's team
        ("verified", APP_ID, TEAM, 0o755, 0, NOBODY, TEAM),
        ("root client", APP_ID, TEAM, 0o755, 0, 0, TEAM),
        ("wrong identifier", "com.vesk.Other", TEAM, 0o755, 0, NOBODY, TEAM),
        ("wrong team", APP_ID, OTHER_TEAM, 0o755, 0, NOBODY, TEAM),
        ("no attributes", None, None, 0o755, 0, NOBODY, TEAM),
        ("group-writable", APP_ID, TEAM, 0o775, 0, NOBODY, TEAM),
        ("not owned by root", APP_ID, TEAM, 0o755, NOBODY, NOBODY, TEAM),
        ("own user namespace", APP_ID, TEAM, 0o755, 0, NOBODY, TEAM),
        ("own pid namespace", APP_ID, TEAM, 0o755, 0, NOBODY, TEAM),
        # A malformed team is no team (protocol_test.cc).
        ("daemon without team", APP_ID, TEAM, 0o755, 0, NOBODY, None),
    ]
    daemon_team = None
    for name, identifier, team, mode, owner, uid, dteam in rows:
        if box.daemon is None or dteam != daemon_team:
            if box.daemon:
                box.stop()
            daemon_team = dteam
            if dteam != TEAM:
                box.owe_restore()  # the timer must still retry it
            box.start(install(box.options.daemon, "daemon-row", team=dteam),
                      prefix=CAPS)
            box.wait_restored(name + ": recovery", bound=10)
        path = install(box.options.client, "row-client", identifier, team,
                       mode, owner)
        runs = len(box.runs())
        status, lines = box.client("renew", "release", uid=uid, path=path,
                                   wrap=NAMESPACE_WRAPPERS.get(name))
        if name == "verified":
            check((status, lines) == (0, ["renew:", "YES", "release:", "YES"]),
                  name + ": not served")
        else:
            check((status, lines) == (1, []), name + ": not refused")
            check(len(box.runs()) == runs, name + ": the tool ran")
        check(box.value() == 0, name + ": setting changed")
    box.stop()


def scenario_not_root(box):
    """Started by another user, the daemon exits 1 and touches nothing."""
    write_state(1)
    daemon = box.start(uid=NOBODY, wait=False)
    check(daemon.wait(timeout=30) == 1, "exit status not 1")
    check(box.runs() == [], "the tool ran")
    check(state_file() is not None, "the state file was touched")
    check(not os.path.exists(SOCKET_PATH), "a socket was made")
    box.stop()


def scenario_load(box):
    """Mixed clients churn, protocol breaks drop only the offending
    connection and another user holds idle connections, at the usual limit
    of 1024 descriptors, while one verified client renews every second;
    afterwards descriptors and memory are back at idle."""
    def soft_limit():
        with open("/proc/%d/limits" % box.daemon.pid) as f:
            return int(next(l for l in f
                            if l.startswith("Max open files")).split()[3])
    # Given room, the daemon takes all of it.
    box.start(prefix=["prlimit", "--nofile=1024:4096", "--"])
    check(soft_limit() == 4096, "soft limit %d" % soft_limit())
    box.stop()
    box.start(prefix=["prlimit", "--nofile=1024:1024", "--"])
    idle_fds = box.daemon_fds()
    unmarked = install(box.options.client, "unmarked")
    # Warm up, then measure the idle daemon.
    for _ in range(3):
        box.client("renew", "release")
        box.client("renew", path=unmarked)
        raw_renew()
    wait_until(lambda: box.daemon_fds() == idle_fds, bound=10, what="idle")
    idle_rss = box.daemon_rss_kb()

    renewals = 12
    holder = subprocess.Popen(
        as_user(NOBODY, [box.client_path, "--count", str(renewals),
                         "--interval", "1", "renew"]),
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    check(holder.stdout.readline() == b"renew: YES\n", "holder refused")
    # A verified peer that floods and never reads holds up only itself.
    flooder = box.abuse("flood", stdin=subprocess.PIPE)
    check(flooder.stdout.readline() == b"flooded\n", "flooder")
    # More idle connections than descriptors: the daemon keeps only the
    # user's first few (a socket and a process handle each), besides the
    # holder's and the flooder's and a run of the tool.
    idler = box.abuse("idle", "1400", stdin=subprocess.PIPE, uid=NOBODY - 1)
    check(idler.stdout.readline() == b"1400\n", "idle connections made")
    # A refused connection is closed by a closer thread shortly after it is
    # shut down, so the count settles to the bound rather than being there
    # at once.
    limit = idle_fds + 2 * 16 + 16
    wait_until(lambda: box.daemon_fds() <= limit, bound=20,
               what="the daemon to hold at most %d descriptors" % limit)

    stop = threading.Event()
    errors = []

    def churn(kind):
        try:
            while not stop.is_set():
                if kind == "raw root":
                    for _ in range(20):
                        check(raw_renew() == b"", "root served")
                elif kind == "marked":
                    box.client("renew", "release")
                elif kind == "abuse":
                    for mode in ("unknown", "empty", "oversized",
                                 "descriptor", "forked"):
                        check(box.abuse(mode).wait(timeout=60) == 0,
                              mode + ": connection not dropped")
                else:
                    box.client("renew", path=unmarked)
        except Exception as e:  # noqa: BLE001
            errors.append(repr(e))

    workers = [threading.Thread(target=churn, args=(k,))
               for k in ("raw root", "marked", "unmarked", "abuse")]
    for w in workers:
        w.start()
    out, _ = holder.communicate(timeout=120)
    stop.set()
    for w in workers:
        w.join()
    check(not errors, "churn failed: %s" % errors)
    check(holder.returncode == 0 and out.decode().split() ==
          ["renew:", "YES"] * (renewals - 1), "holder's renewals: %r" % out)
    for abuser in (flooder, idler):
        abuser.stdin.close()
        abuser.wait(timeout=30)
    wait_until(lambda: box.daemon_fds() == idle_fds, bound=20,
               what="descriptors back at idle (%d)" % idle_fds)
    rss = box.daemon_rss_kb()
    if not box.options.sanitized:
        check(rss <= idle_rss + 2048,
              "RSS grew from %d kB to %d kB" % (idle_rss, rss))
    box.stop()


def activation_socket():
    """The listening socket as systemd's socket unit makes it."""
    if os.path.lexists(SOCKET_PATH):
        os.remove(SOCKET_PATH)  # an earlier unit's
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    # PassCredentials=yes.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_PASSCRED, 1)
    listener.bind(SOCKET_PATH)
    os.chmod(SOCKET_PATH, 0o666)
    listener.listen(16)
    return listener


def start_activated(box, listener):
    """Starts the daemon with `listener` handed over as descriptor 3."""
    fd = 9  # clear of 3, where the daemon expects it
    os.dup2(listener.fileno(), fd)
    listener.close()
    box.start(wait=False, pass_fds=(fd,), prefix=[
        "sh", "-c", 'exec 3<&%d %d<&-; LISTEN_PID=$$ LISTEN_FDS=1 '
        'LISTEN_FDNAMES=service exec "$0"' % (fd, fd)])
    os.close(fd)


def scenario_activation(box):
    """A socket handed over by socket activation, first request queued."""
    listener = activation_socket()
    inode = os.stat(SOCKET_PATH).st_ino

    # The connection that starts the daemon sends at once.
    client = box.interactive()
    client.process.stdin.write(b"renew\n")
    client.process.stdin.flush()

    def connected():
        fds = "/proc/%d/fd" % client.process.pid
        try:
            return any(os.readlink(os.path.join(fds, f)).startswith("socket:")
                       for f in os.listdir(fds))
        except FileNotFoundError:
            return False
    wait_until(connected, what="the client to connect")
    start_activated(box, listener)
    line = client.process.stdout.readline().decode().strip()
    check(line == "renew: YES", "queued first request: %r" % line)
    check(box.value() == 1, "setting not 1")
    check(client.call("release") == "YES", "release refused")
    check(os.stat(SOCKET_PATH).st_ino == inode, "the daemon bound anew")
    client.close()
    box.stop()
    check(os.stat(SOCKET_PATH).st_ino == inode, "a handed-over socket removed")


def scenario_freeze(box):
    """A client queues a socket whose close blocks for good (a lingering TCP
    socket with data it cannot send) on the daemon's own socket, or on a
    handed-over one before the daemon starts, then never reads: another
    user's holder still has every renewal answered within 2 s, and a fresh
    client is served."""
    unmarked = install(box.python, "unmarked-python")

    def stopped():
        tasks = "/proc/%d/task" % box.daemon.pid
        for task in os.listdir(tasks):
            with open("%s/%s/stat" % (tasks, task)) as f:
                if f.read().rsplit(")", 1)[1].split()[0] != "T":
                    return False
        return True

    rows = [
        # the socket handed over by systemd, the attacker marked
        (False, True),
        (False, False),
        (True, True),
        (True, False),
    ]
    for handed_over, marked in rows:
        what = "handed over %s, marked %s: " % (handed_over, marked)
        holder = None
        pending = b""

        def renewed(n, bound):
            nonlocal pending
            due = time.monotonic() + bound
            while b"\n" not in pending:
                ready = select.select([holder.stdout], [], [],
                                      max(0, due - time.monotonic()))[0]
                check(ready, what + "renewal %d not answered in time" % n)
                chunk = os.read(holder.stdout.fileno(), 64)
                check(chunk, what + "holder ended")
                pending += chunk
            line, pending = pending.split(b"\n", 1)
            check(line == b"renew: YES", what + "renewal %d: %r" % (n, line))

        def start_holder():
            return subprocess.Popen(
                as_user(NOBODY, [box.client_path, "--count", "4",
                                 "--interval", "2", "renew"]),
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)

        # The attack is queued while the daemon cannot read it, so that the
        # daemon holds the last reference to the lingering socket.
        if handed_over:
            listener = activation_socket()
        else:
            box.start()
            holder = start_holder()
            renewed(1, 60)
            box.daemon.send_signal(signal.SIGSTOP)
            wait_until(stopped, what="the daemon to stop")
        attacker = box.abuse("linger", stdin=subprocess.PIPE, uid=NOBODY - 1,
                             path=None if marked else unmarked)
        sent = attacker.stdout.readline()
        # The daemon's own socket refuses passed descriptors where the
        # kernel can; systemd's does not.
        check(sent in (b"sent\n", b"refused\n") and
              (sent == b"sent\n" or not handed_over), what + "attack %r" % sent)
        try:
            if handed_over:
                # Queued behind the attack; answered once the daemon runs.
                holder = start_holder()
                start_activated(box, listener)
                renewed(1, 60)
            else:
                box.daemon.send_signal(signal.SIGCONT)
            for n in range(2, 5):
                renewed(n, 2 + 2)  # the holder's interval, then 2 s
        finally:
            holder.kill()
            holder.wait()
        try:
            status, lines = box.client("renew", "release", uid=NOBODY - 2)
        except subprocess.TimeoutExpired:
            raise Failure(what + "a fresh client was not answered")
        check((status, lines) == (0, ["renew:", "YES", "release:", "YES"]),
              what + "fresh client: %r" % lines)
        attacker.stdin.close()
        attacker.wait(timeout=30)
        box.stop()


def scenario_slow_tool(box):
    """A restore that keeps failing with a tool slower than the tick never
    keeps a client's request from being answered."""
    box.owe_restore()
    open(PMSET_DIR + "/slow", "w").close()
    box.start()
    # Each retry of the owed restore takes longer than the tick's period.
    wait_until(lambda: len(box.runs()) >= 3, what="the restore to be retried")
    client = subprocess.Popen(
        as_user(NOBODY, [box.client_path, "release"]),
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL)
    try:
        out, _ = client.communicate(timeout=15)
    except subprocess.TimeoutExpired:
        client.kill()
        raise Failure("the release was not answered")
    check(out.split() == [b"release:", b"YES"], "release: %r" % out)
    box.wait_restored("the owed restore")
    box.stop()


def scenario_second_daemon(box):
    """A second daemon started by hand exits 1 at once and leaves the first,
    its socket, its lease and its state file alone."""
    box.start()
    first = box.daemon
    holder = box.interactive()
    check(holder.call("renew") == "YES", "renewal refused")
    inode = os.stat(SOCKET_PATH).st_ino
    state = state_file()
    runs = len(box.runs())
    second = subprocess.run([box.daemon_path], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=30)
    # Status, output, tool runs, lease, socket, the first still serving.
    got = (second.returncode, second.stdout + second.stderr,
           len(box.runs()), state_file(), box.value(),
           os.stat(SOCKET_PATH).st_ino, first.poll(), holder.call("renew"))
    check(got == (1, b"", runs, state, 1, inode, None, "YES"),
          "second daemon: %r" % (got,))
    check(holder.call("release") == "YES", "release refused")
    holder.close()
    box.stop()

    # A socket that takes connections is never removed, also when it is not
    # a daemon's (systemd's socket unit, waiting to start one).
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    if os.path.lexists(SOCKET_PATH):
        os.remove(SOCKET_PATH)
    listener.bind(SOCKET_PATH)
    listener.listen(16)
    inode = os.stat(SOCKET_PATH).st_ino
    box.start(wait=False)

    def settled():
        if os.stat(SOCKET_PATH).st_ino != inode:
            return True
        return select.select([listener], [], [], 0)[0]
    wait_until(settled, what="the daemon to look at the socket")
    check(os.stat(SOCKET_PATH).st_ino == inode, "a live socket was replaced")
    listener.close()
    box.stop()


def scenario_arguments(box):
    """Any argument is answered on the terminal and nothing else is done:
    no lock, socket, state file read or tool run, whoever runs it."""
    box.owe_restore()  # a daemon that started would put the setting back
    state = state_file()
    usage = b"usage: VeskBreakSecurityHelper"
    version = b"VeskBreakSecurityHelper "
    rows = [
        # arguments, user, exit status, standard output, standard error
        (["--help"], 0, 0, usage, b""),
        (["--version"], 0, 0, version, b""),
        (["--help"], NOBODY, 0, usage, b""),
        (["-h"], 0, 2, b"", usage),
        (["--help", "--version"], 0, 2, b"", usage),
        ([""], 0, 2, b"", usage),
        (["--verbose"], NOBODY, 2, b"", usage),
    ]
    for args, uid, status, out, err in rows:
        what = "%r as %d: " % (args, uid)
        try:
            done = subprocess.run(as_user(uid, [box.daemon_path, *args]),
                                  stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure(what + "the daemon kept running")
        check(done.returncode == status, what + "status %d" % done.returncode)
        for got, want in ((done.stdout, out), (done.stderr, err)):
            check(got.startswith(want) and bool(got) == bool(want),
                  what + "output %r" % got)
        check((box.runs(), state_file(), box.value()) == ([], state, 1),
              what + "the state file or the setting was touched")
        check(not os.path.lexists(SOCKET_PATH) and
              not os.path.lexists(LOCK_PATH), what + "socket or lock made")


def scenario_stop(box):
    """Every signal that would end the daemon ends the lease as a lapse
    does, removes the socket file and exits 0; a write-back that fails, or
    SIGKILL, leaves the state file, and the next start puts the setting back
    before it makes its socket. SIGPIPE changes nothing."""
    rows = [
        # signal, a lease held, the tool's writes fail
        (signal.SIGTERM, True, False),
        (signal.SIGKILL, True, False),
        (signal.SIGTERM, False, False),
        (signal.SIGINT, True, False),
        (signal.SIGTERM, True, True),
        (signal.SIGINT, False, False),
        (signal.SIGHUP, True, False),
        (signal.SIGQUIT, True, False),
        (signal.SIGUSR1, True, False),
        (signal.SIGUSR2, True, True),
        (signal.SIGALRM, True, False),
        (signal.SIGXCPU, True, False),
        (signal.SIGPWR, True, False),
        (signal.SIGRTMIN + 3, True, False),
        (signal.SIGPIPE, True, False),
    ]
    for sig, held, failing in rows:
        what = "%s, held %s, failing %s: " % (signal.strsignal(sig), held,
                                             failing)
        box.start()
        check(box.restored(), what + "recovery")
        holder = box.interactive() if held else None
        if holder:
            check(holder.call("renew") == "YES", what + "renewal refused")
        box.fail_writes(failing)
        runs = len(box.runs())
        box.daemon.send_signal(sig)
        if sig == signal.SIGPIPE:
            # Ignored: discarded when sent, so the lease simply goes on.
            check(holder.call("renew") == "YES" and box.value() == 1,
                  what + "the lease ended")
            sig = signal.SIGTERM
            box.daemon.send_signal(sig)
        status = box.daemon.wait(timeout=30)
        kept = failing or sig == signal.SIGKILL
        check(status == (-sig if sig == signal.SIGKILL else 0),
              what + "exit status %d" % status)
        check((box.value(), state_file() is None) == (int(kept), not kept),
              what + "setting %d, state file %s" % (box.value(), state_file()))
        check(os.path.lexists(SOCKET_PATH) == (sig == signal.SIGKILL),
              what + "socket file left or removed")
        if holder:
            holder.close()
        else:
            check(len(box.runs()) == runs, what + "the tool ran")
        box.fail_writes(False)
        box.stop()


def scenario_lock(box):
    """A lock that cannot be taken (something else at its path, or a file
    that others could open and lock) keeps the daemon from serving, but a
    restore owed by an earlier run is still made; what is there stays."""
    def plant_file(mode, owner):
        def plant():
            with open(LOCK_PATH, "w"):
                pass
            os.chmod(LOCK_PATH, mode)
            os.chown(LOCK_PATH, owner, owner)
        return plant
    target = BASE + "/lock-target"
    rows = [
        # what stands at the lock path, whether the daemon serves
        ("directory", lambda: os.mkdir(LOCK_PATH), False),
        ("dangling link", lambda: os.symlink(target, LOCK_PATH), False),
        ("link to root's 0600 file",
         lambda: os.symlink(box.abuser, LOCK_PATH), False),
        ("root's file of mode 0644", plant_file(0o644, 0), False),
        ("another user's file", plant_file(0o600, NOBODY), False),
        ("root's file of mode 0600", plant_file(0o600, 0), True),
        ("nothing", lambda: None, True),
    ]
    os.chmod(box.abuser, 0o600)
    for name, plant, serves in rows:
        if os.path.isdir(LOCK_PATH) and not os.path.islink(LOCK_PATH):
            os.rmdir(LOCK_PATH)
        elif os.path.lexists(LOCK_PATH):
            os.remove(LOCK_PATH)
        plant()
        before = os.lstat(LOCK_PATH) if os.path.lexists(LOCK_PATH) else None
        box.set_value(1)
        write_state(0)
        box.start(wait=serves)
        if not serves:
            status = box.daemon.wait(timeout=30)
            check(status == 1, name + ": exit status %d" % status)
            check(not os.path.lexists(SOCKET_PATH), name + ": socket made")
            after = os.lstat(LOCK_PATH)
            check((after.st_ino, after.st_mode, after.st_uid) ==
                  (before.st_ino, before.st_mode, before.st_uid),
                  name + ": the path was changed")
            check(not os.path.lexists(target), name + ": link followed")
        else:
            lock = os.lstat(LOCK_PATH)
            check(stat.S_ISREG(lock.st_mode) and lock.st_uid == 0 and
                  stat.S_IMODE(lock.st_mode) == 0o600, name + ": lock file")
        check(box.restored(), name + ": the owed restore was not made")
        box.stop()

    # A runtime directory the daemon may not write, as under a read-only
    # file system: a lock file made ahead of time (root's, 0600) serves.
    mount("--bind", BASE, BASE)  # the tests' own files stay writable
    for made_ahead in (False, True):
        name = "read-only, made ahead %s" % made_ahead
        mount("-o", "remount,rw,bind", "/run")
        if os.path.lexists(LOCK_PATH):
            os.remove(LOCK_PATH)
        if made_ahead:
            plant_file(0o600, 0)()
        mount("-o", "remount,ro,bind", "/run")
        box.set_value(1)
        write_state(0)
        box.start(wait=False)
        if made_ahead:
            wait_until(box.restored, what=name + ": the owed restore")
            busy = subprocess.run(["flock", "-n", LOCK_PATH, "true"])
            check(box.daemon.poll() is None and busy.returncode == 1 and
                  not os.path.lexists(SOCKET_PATH),
                  name + ": the lock was not held, or /run was writable")
        else:
            status = box.daemon.wait(timeout=30)
            check(status == 1 and box.restored(),
                  name + ": status %d, restored %s" % (status, box.restored()))
        box.stop()


def scenario_no_var_db(box):
    """Without /var/db the daemon still takes its lock: a second one exits
    1 and leaves the first serving."""
    mount("-t", "tmpfs", "tmpfs", "/var")
    box.start()
    inode = os.stat(SOCKET_PATH).st_ino
    try:
        second = subprocess.run([box.daemon_path], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=10)
    except subprocess.TimeoutExpired:
        raise Failure("a second daemon kept running")
    check(second.returncode == 1, "second daemon's status")
    check(box.daemon.poll() is None and
          os.stat(SOCKET_PATH).st_ino == inode, "the first was disturbed")
    box.stop()


def scenario_no_listener(box):
    """A daemon that cannot make its socket keeps its lease timer: the
    restore that start-up recovery could not finish is retried until done."""
    os.mkdir(SOCKET_PATH)  # nothing can be bound there
    box.owe_restore()
    box.start(wait=False)
    # The second try is the timer's, whatever the listener did in between.
    wait_until(lambda: box.runs().count("-a disablesleep 0") >= 2,
               what="the restore to be retried")
    box.wait_restored("the timer to finish the restore", bound=10)
    check(box.daemon.poll() is None, "the daemon exited")
    check(os.path.isdir(SOCKET_PATH), "the path in the way was touched")
    box.stop()


SCENARIOS = {
    "no_listener": scenario_no_listener,
    "slow_tool": scenario_slow_tool,
    "second_daemon": scenario_second_daemon,
    "stop": scenario_stop,
    "load": scenario_load,
    "lease": scenario_lease,
    "refusals": scenario_refusals,
    "activation": scenario_activation,
    "not_root": scenario_not_root,
    "arguments": scenario_arguments,
    "lock": scenario_lock,
    "no_var_db": scenario_no_var_db,
    "freeze": scenario_freeze,
}


def run_inside(options):
    """In the namespace: one scenario."""
    name = options.scenarios[0]
    box = Sandbox(options)
    try:
        SCENARIOS[name](box)
    except Exception:  # noqa: BLE001
        traceback.print_exc()
        if box.daemon and box.daemon.poll() is None:
            box.daemon.kill()
        return 1
    return 0


def run_scenario(options, name):
    argv = ["unshare", "--mount", "--propagation", "private", sys.executable,
            os.path.abspath(__file__), "--inside", "--daemon", options.daemon,
            "--client", options.client, name]
    if options.sanitized:
        argv.insert(-1, "--sanitized")
    start = time.monotonic()
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=600)
    return name, done.returncode, time.monotonic() - start, \
        (done.stdout + done.stderr).decode(errors="replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daemon", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--sanitized", action="store_true")
    parser.add_argument("--inside", action="store_true")
    parser.add_argument("scenarios", nargs="*")
    options = parser.parse_args()
    options.daemon = os.path.abspath(options.daemon)
    options.client = os.path.abspath(options.client)
    if options.inside:
        return run_inside(options)

    if os.geteuid() != 0:
        print("skipped: needs root")
        return SKIP
    probe = subprocess.run(["unshare", "--mount", "--propagation", "private",
                            "true"], capture_output=True)
    if probe.returncode != 0:
        print("skipped: mount namespaces not permitted")
        return SKIP

    names = options.scenarios or list(SCENARIOS)
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
        for name, status, seconds, output in pool.map(
                lambda n: run_scenario(options, n), names):
            verdict = "ok" if status == 0 else "FAILED"
            print("%-16s %s (%.1f s)" % (name, verdict, seconds), flush=True)
            if status != 0:
                failed += 1
                print(output)
    print("%d passed, %d failed" % (len(names) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
