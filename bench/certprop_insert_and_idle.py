#!/usr/bin/env python3
"""Measures the certificate propagation agent as the token manager runs it,
with the poll interval it chooses for this machine, on a private machine root:

1. insert-to-store latency: from starting `vela5-token token insert` of a
   token with two certificates to both of them being entries of the user's
   "MY" store, 20 times. Before each insertion the token is ejected, its
   certificates leave the store, and the agent is given two intervals to
   settle plus a random part of one, so insertions land at every point of
   its poll, as when a user inserts a token into an idle agent. After handling
   a change the agent sleeps between steps and again before its next look,
   so an insertion right after a removal can take up to two intervals: the
   script measures that case too and prints it beside the first;
2. idle CPU: one token present and propagated, nothing changing, for 10
   seconds, from the agent's own CPU time (/proc/<pid>/task/*/schedstat).

Usage: bench/certprop_insert_and_idle.py [BUILD_DIR]   (default: build)"""
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

READER = "Bench Reader"
AGENT = "VELA5 CertProp Svc"
ENTRY = re.compile(r"^[0-9A-F]{40}$")


def tool(bin_dir, *args):
    return subprocess.run([os.path.join(bin_dir, "vela5-token"), *args], check=True,
                          capture_output=True, text=True).stdout.strip()


def cpu_seconds(pid):
    """CPU time of all the process's threads, in nanoseconds from the
    scheduler's accounting: clock ticks are too coarse for an idle agent."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def poll_interval_ms():
    """The interval the agent picks by processor count."""
    n = os.cpu_count() or 1
    return 1300 if n <= 2 else 1150 if n == 3 else 1000


def store_entries(store):
    try:
        return sum(1 for name in os.listdir(store) if ENTRY.match(name))
    except FileNotFoundError:
        return 0


def wait_for_entries(store, count, deadline):
    while time.monotonic() < deadline:
        if store_entries(store) == count:
            return time.monotonic()
        time.sleep(0.002)
    return None


def make_certificate(work, name):
    der = os.path.join(work, name + ".cer")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                    os.path.join(work, name + ".key"), "-subj", "/CN=" + name, "-days", "30",
                    "-outform", "DER", "-out", der], check=True, capture_output=True)
    return der


def measure(bin_dir, serial, store, settle):
    """Milliseconds from insertion to both entries, 20 times; the token is
    out of its reader before and after."""
    latencies = []
    for _ in range(20):
        time.sleep(settle())
        began = time.monotonic()
        tool(bin_dir, "token", "insert", serial, READER)
        seen = wait_for_entries(store, 2, began + 10)
        if seen is None:
            sys.exit("an insertion did not reach the store within 10 s")
        latencies.append((seen - began) * 1000.0)
        tool(bin_dir, "token", "eject", READER)
        if wait_for_entries(store, 0, time.monotonic() + 10) is None:
            sys.exit("an ejection did not empty the store within 10 s")
    return latencies


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(top, "build")
    bin_dir = os.path.join(build, "bin")
    work = tempfile.mkdtemp(prefix="vela5-bench-")
    os.environ["VELA5_ROOT"] = os.path.join(work, "root")
    os.environ["TMPDIR"] = os.path.join(work, "tmp")
    os.environ.pop("VELA5_CERTPROP_TEST_POLL_INTERVAL_MS", None)
    os.makedirs(os.environ["TMPDIR"])
    store = os.path.join(os.environ["VELA5_ROOT"], "certstore", "MY")
    interval = poll_interval_ms()
    agent = None
    try:
        tool(bin_dir, "reader", "add", READER)
        serial = tool(bin_dir, "token", "create", "--model", "VELA5-64", "--label", "Bench",
                      "--user-pin", "1234", "--so-pin", "87654321")
        tool(bin_dir, "token", "insert", serial, READER)
        for index, name in enumerate(("Bench One", "Bench Two")):
            tool(bin_dir, "object", "add-cert", serial, make_certificate(work, name.replace(" ", "")),
                 "--id", "%02X" % (index + 1), "--pin", "1234")
        tool(bin_dir, "token", "eject", READER)
        agent = subprocess.Popen([os.path.join(bin_dir, AGENT)],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        settled = measure(bin_dir, serial, store, lambda: (2 + random.random()) * interval / 1000.0)
        at_once = measure(bin_dir, serial, store, lambda: 0)
        print("poll interval on %d processors: %d ms" % (os.cpu_count() or 1, interval))
        print("insert to store over %d insertions into a settled agent: median %.0f ms, min %.0f ms, "
              "max %.0f ms (limit: median %d ms)" % (len(settled), statistics.median(settled), min(settled),
                                                     max(settled), interval + 300))
        print("insert to store over %d insertions right after the removal: median %.0f ms, min %.0f ms, "
              "max %.0f ms" % (len(at_once), statistics.median(at_once), min(at_once), max(at_once)))

        tool(bin_dir, "token", "insert", serial, READER)
        if wait_for_entries(store, 2, time.monotonic() + 10) is None:
            sys.exit("the token's certificates never reached the store")
        time.sleep(2 * interval / 1000.0)
        before = cpu_seconds(agent.pid)
        start = time.monotonic()
        time.sleep(10)
        used = cpu_seconds(agent.pid) - before
        elapsed = time.monotonic() - start
        print("idle CPU over %.1f s: %.4f s of CPU = %.3f%% of one core (limit 0.5%%)"
              % (elapsed, used, 100.0 * used / elapsed))
    finally:
        if agent is not None:
            agent.send_signal(signal.SIGTERM)
            try:
                agent.wait(timeout=10)
            except subprocess.TimeoutExpired:
                agent.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
