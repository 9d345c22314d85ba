#!/usr/bin/env python3
"""Measures the token manager as a user runs it, on a private machine root:

1. idle CPU: the window open, nothing changing, for 10 seconds, from the
   process's own CPU time (/proc/<pid>/stat, user + system);
2. insert-to-tree latency: from starting `vela5-token token insert` to the
   window's status step beginning on the new token, 20 times. The status step
   runs right after the tree has been rebuilt with "[Card Present]", and its
   first module call (RefreshTokenFlag) is the first line the manager logs
   for it, so the log shows when the tree was updated.

Usage: bench/manager_idle_and_hotplug.py [BUILD_DIR]   (default: build)
Needs a display; without DISPLAY it re-runs itself under xvfb-run."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MARKER = b"NRVCMUCryptoki::RefreshTokenFlag() - ENTER"
READER = "Bench Reader"


def tool(bin_dir, *args):
    return subprocess.run([os.path.join(bin_dir, "vela5-token"), *args], check=True,
                          capture_output=True, text=True).stdout.strip()


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the whole line.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_for_marker(log_path, after, deadline):
    """Seconds at which the log grows a new marker past byte offset `after`."""
    while time.monotonic() < deadline:
        try:
            with open(log_path, "rb") as f:
                f.seek(after)
                if MARKER in f.read():
                    return time.monotonic()
        except FileNotFoundError:
            pass
        time.sleep(0.002)
    return None


def log_size(log_path):
    try:
        return os.path.getsize(log_path)
    except FileNotFoundError:
        return 0


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(top, "build")
    bin_dir = os.path.join(build, "bin")
    if not os.environ.get("DISPLAY"):
        if not shutil.which("xvfb-run"):
            sys.exit("no DISPLAY and no xvfb-run")
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", sys.executable,
                               os.path.abspath(__file__), build])

    work = tempfile.mkdtemp(prefix="vela5-bench-")
    os.environ["VELA5_ROOT"] = os.path.join(work, "root")
    os.environ["TMPDIR"] = os.path.join(work, "tmp")
    os.makedirs(os.environ["TMPDIR"])
    log_path = os.path.join(os.environ["TMPDIR"], "nrvcme", "nrvcmutestlog.txt")
    manager = None
    try:
        tool(bin_dir, "reader", "add", READER)
        serial = tool(bin_dir, "token", "create", "--model", "VELA5-64", "--label", "Bench",
                      "--user-pin", "1234", "--so-pin", "87654321")
        tool(bin_dir, "token", "insert", serial, READER)
        manager = subprocess.Popen([os.path.join(bin_dir, "PavixManager")],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_for_marker(log_path, 0, time.monotonic() + 20) is None:
            sys.exit("the manager never showed the token")
        time.sleep(2)

        before = cpu_seconds(manager.pid)
        start = time.monotonic()
        time.sleep(10)
        used = cpu_seconds(manager.pid) - before
        elapsed = time.monotonic() - start
        idle_percent = 100.0 * used / elapsed
        print("idle CPU over %.1f s: %.3f s of CPU = %.2f%% of one core (limit 1%%)"
              % (elapsed, used, idle_percent))

        latencies = []
        for _ in range(20):
            tool(bin_dir, "token", "eject", READER)
            time.sleep(0.6)  # two polls: the window has seen the eject
            offset = log_size(log_path)
            began = time.monotonic()
            tool(bin_dir, "token", "insert", serial, READER)
            seen = wait_for_marker(log_path, offset, began + 5)
            if seen is None:
                sys.exit("an insertion was not seen within 5 s")
            latencies.append((seen - began) * 1000.0)
        print("insert to \"[Card Present]\" over %d insertions: median %.0f ms, min %.0f ms, max %.0f ms "
              "(limit: median 300 ms)" % (len(latencies), statistics.median(latencies), min(latencies),
                                          max(latencies)))
    finally:
        if manager is not None:
            manager.terminate()
            try:
                manager.wait(timeout=10)
            except subprocess.TimeoutExpired:
                manager.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
