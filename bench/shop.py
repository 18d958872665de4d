#!/usr/bin/python3
"""Shop benchmarks: ferobrixlan-server listening on 64 simulated machines
(ferobrixlan-machine, each on a pseudo-terminal pair of its own), beside one
`ferobrixlan-cli receive` per machine as the peer, measured in the same run:

  idle        CPU while all 64 lines are quiet (goal: under 1 % of one core)
  busy        CPU while all 64 machines punch at once at an emulated 9600
              baud (goal: under 10 % of one core)
  memory      peak resident memory of the service, against the 64 peers'
              together
  flood       resident memory of the service while a device that ignores
              DC3 floods one line with tiny programs, at 5 s and at the end,
              against one `ferobrixlan-cli receive` under the same flood
              (goal: the service grows by less than 1 MB)

The peers' figures are the sums over their 64 processes. Every punched
program is checked to have arrived whole.

    bench/shop.py [BUILD_DIR] [--machines N] [--seconds S]
"""

import argparse
import os
import pty
import threading
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from transfer import Machine, Process, check, report, write_config  # noqa: E402

IDLE_GOAL, BUSY_GOAL = 1.0, 10.0


def program(number, lines):
    body = b"".join(b"N%d G01 X%d.%03d Y-%d F1200\r\n" % (i, i % 500, i % 1000, i % 77)
                    for i in range(lines))
    return b"%%\r\nO%d (SHOP BENCH)\r\n" % number + body + b"M30\r\n%"


class Run:
    """64 machines that wait `wait` seconds after their line opens, then punch
    their program at 9600 baud; and whatever PC side the caller starts."""

    def __init__(self, build, work, name, count, wait, lines):
        self.machine = os.path.join(build, "tools", "machine", "ferobrixlan-machine")
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        self.programs, self.links, self.machines = [], [], []
        for i in range(count):
            data = program(1000 + i, lines)
            path = os.path.join(self.dir, "punch-%d.nc" % i)
            with open(path, "wb") as f:
                f.write(data)
            self.programs.append(data)
            self.links.append(os.path.join(self.dir, "line-%d" % i))
            self.machines.append(Machine(self.machine, self.links[-1], "punch", path, "--wait", wait,
                                         "--baud", 9600, "--idle", 600, "--quiet"))

    def stop(self):
        for m in self.machines:
            m.signal()
            try:
                m.finish(10)
            except RuntimeError:
                pass


def cpu_of(processes):
    return sum(p.cpu_seconds() for p in processes)


def measure(processes, start_at, seconds):
    """CPU percent of one core used by the processes together from the
    monotonic time start_at for `seconds`."""
    delay = start_at - time.monotonic()
    if delay > 0:
        time.sleep(delay)
    before = cpu_of(processes)
    began = time.monotonic()
    time.sleep(seconds)
    return 100.0 * (cpu_of(processes) - before) / (time.monotonic() - began)


def wait_for_files(paths, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if all(os.path.exists(p) for p in paths):
            return True
        time.sleep(0.2)
    return False


def phases(seconds):
    """Machines wait this long before punching; the idle window lies before
    it, the busy window starts a little after it."""
    wait = seconds + 4
    return wait, 2.0, wait + 2.0


def run_service(build, work, count, seconds, lines):
    wait, idle_from, busy_from = phases(seconds)
    run = Run(build, work, "service", count, wait, lines)
    text = "[service]\njournal = journal.jsonl\nstate = shop.state\n"
    targets = []
    for i, link in enumerate(run.links):
        folder = os.path.join(run.dir, "nc-%d" % i)
        os.makedirs(folder)
        targets.append(os.path.join(folder, "incoming", "O%d.nc" % (1000 + i)))
        text += ("\n[m%d]\nport = %s\ndatabits = 8\nparity = n\nfolder = %s\n" % (i, link, folder))
    config = os.path.join(run.dir, "shop.ini")
    with open(config, "w") as f:
        f.write(text)
    server = os.path.join(build, "tools", "server", "ferobrixlan-server")
    opened = time.monotonic()
    service = Process([server, "--config", config], cwd=run.dir)
    try:
        idle = measure([service], opened + idle_from, seconds)
        busy = measure([service], opened + busy_from, seconds)
        check(wait_for_files(targets, 120), "the service did not store every program", service)
        peak = service.peak_kb()
        for target, data in zip(targets, run.programs):
            with open(target, "rb") as f:
                check(f.read() == data, "%s differs from the program punched" % target)
        service.signal(signal.SIGTERM)
        check(service.finish(30) == 0, "the service did not end with 0", service)
    finally:
        service.signal(signal.SIGKILL)
        run.stop()
    return idle, busy, peak


def run_peers(build, work, count, seconds, lines):
    wait, idle_from, busy_from = phases(seconds)
    run = Run(build, work, "peers", count, wait, lines)
    cli = os.path.join(build, "tools", "ferobrixlan-cli")
    peers, targets = [], []
    opened = time.monotonic()
    for i, link in enumerate(run.links):
        directory = os.path.join(run.dir, "pc-%d" % i)
        os.makedirs(directory)
        write_config(directory, mode="Data In/Out")
        env = dict(os.environ, FEROBRIXLAN_PORT1=link)
        targets.append(os.path.join(directory, "got.nc"))
        peers.append(Process([cli, "receive", "got.nc", "--yes"], cwd=directory, env=env))
    try:
        idle = measure(peers, opened + idle_from, seconds)
        busy = measure(peers, opened + busy_from, seconds)
        peak = sum(p.peak_kb() for p in peers)
        for p in peers:
            check(p.finish(120) == 0, "a peer's receive failed", p)
        for target, data in zip(targets, run.programs):
            with open(target, "rb") as f:
                check(f.read() == b"\r\n" + data, "%s differs from the program punched" % target)
    finally:
        for p in peers:
            p.signal(signal.SIGKILL)
        run.stop()
    return idle, busy, peak


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def flooded(work, name, start, seconds):
    """Starts what start(link, directory) returns on a line that a device
    ignoring DC3 floods with "%\\r\\nO1\\r\\n%\\r\\n"; its resident memory at 5 s
    and after `seconds`."""
    directory = os.path.join(work, name)
    os.makedirs(directory)
    master, slave = pty.openpty()
    link = os.path.join(directory, "line")
    os.symlink(os.ttyname(slave), link)
    os.set_blocking(master, False)
    done = threading.Event()

    def flood():
        tape = b"%\r\nO1\r\n%\r\n" * 400
        while not done.is_set():
            try:
                os.write(master, tape)
            except BlockingIOError:
                time.sleep(0.001)
            except OSError:
                return
    threading.Thread(target=flood, daemon=True).start()
    process = start(link, directory)
    try:
        time.sleep(5)
        early = rss_kb(process.pid)
        time.sleep(seconds - 5)
        return early, rss_kb(process.pid)
    finally:
        done.set()
        process.signal(signal.SIGKILL)
        os.close(master)


def run_flood(build, work, seconds):
    server = os.path.join(build, "tools", "server", "ferobrixlan-server")
    cli = os.path.join(build, "tools", "ferobrixlan-cli")

    def service(link, directory):
        os.makedirs(os.path.join(directory, "nc"))
        with open(os.path.join(directory, "shop.ini"), "w") as f:
            f.write("[flood]\nport = %s\ndatabits = 8\nparity = n\nfolder = nc\n" % link)
        return Process([server, "--config", "shop.ini"], cwd=directory)

    def peer(link, directory):
        write_config(directory, mode="NOMAL")
        return Process([cli, "receive", "got.nc", "--yes"], cwd=directory,
                       env=dict(os.environ, FEROBRIXLAN_PORT1=link))
    return flooded(work, "flood-service", service, seconds), flooded(work, "flood-cli", peer, seconds)


def arguments(description):
    # The build folder, the number of machines and the busy seconds: the
    # shop benchmarks' common command line.
    parser = argparse.ArgumentParser(description=description.split("\n\n")[0])
    parser.add_argument("build", nargs="?",
                        default=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build"))
    parser.add_argument("--machines", type=int, default=64)
    parser.add_argument("--seconds", type=float, default=10)
    args = parser.parse_args()
    return args, os.path.abspath(args.build)


def main():
    args, build = arguments(__doc__)
    if not os.access(os.path.join(build, "tools", "server", "ferobrixlan-server"), os.X_OK):
        raise SystemExit("shop.py: %s has no ferobrixlan-server" % build)
    # Enough program for the busy window and some: 9600 baud moves 960 bytes a second.
    lines = int((args.seconds + 6) * 960 / 26)
    n = args.machines
    with tempfile.TemporaryDirectory(prefix="fbx-shop-bench-") as work:
        s_idle, s_busy, s_peak = run_service(build, work, n, args.seconds, lines)
        p_idle, p_busy, p_peak = run_peers(build, work, n, args.seconds, lines)
    peers = "%d cli" % n
    report("shop CPU, %d lines idle" % n, "%.2f %%" % s_idle, peers, "%.2f %%" % p_idle,
           "ours/peers", s_idle / max(p_idle, 1e-3), "< %g %%" % IDLE_GOAL, s_idle < IDLE_GOAL)
    report("shop CPU, %d receiving at 9600 baud" % n, "%.2f %%" % s_busy, peers,
           "%.2f %%" % p_busy, "ours/peers", s_busy / max(p_busy, 1e-3), "< %g %%" % BUSY_GOAL,
           s_busy < BUSY_GOAL)
    report("shop peak memory, %d machines" % n, "%d KB" % s_peak, peers, "%d KB" % p_peak,
           "ours/peers", s_peak / max(p_peak, 1))
    with tempfile.TemporaryDirectory(prefix="fbx-shop-flood-") as work:
        (s_early, s_late), (p_early, p_late) = run_flood(build, work, 5 + 2 * args.seconds)
    report("shop memory under a flood, 5 s -> end", "%d -> %d KB" % (s_early, s_late), "1 cli",
           "%d -> %d KB" % (p_early, p_late), "growth ours/peer",
           (s_late - s_early) / max(p_late - p_early, 1), "< 1024 KB", s_late - s_early < 1024)


if __name__ == "__main__":
    main()
