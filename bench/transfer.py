#!/usr/bin/python3
"""Transfer benchmarks: ferobrixlan-cli send and receive over a pseudo-terminal
with ferobrixlan-machine at the other end, each figure beside a peer measured
in the same run on the same line:

  send        throughput with the machine unthrottled, against bare_send_loop
              (one non-blocking read and one one-byte write per byte) and
              against `cat FILE > DEVICE`
  receive     throughput of a mark-mode receive of a punched program, against
              `cat DEVICE > FILE`; the receive's peak memory for a large and
              a small program
  idle        CPU of the PC side while the machine holds it with DC3, and
              while a "Data In/Out" send waits for DC1, against bare_send_loop
              held in the same way
  overrun     bytes that reach the machine after its DC3 at emulated 9600
              baud, against bare_send_loop

One line per figure: name, our figure, the peer's, their ratio, the goal.

    bench/transfer.py [BUILD_DIR] [--only send,receive,idle,overrun]

BUILD_DIR (default: build/ of this checkout) must hold tools/ferobrixlan-cli,
tools/machine/ferobrixlan-machine and bench/bare_send_loop.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from linepeers import write_config  # noqa: E402  (shared with the e2e tests)

BAUD_57600_BYTES = 57600 / 10  # 8N1: ten bits a character
SCHED_NS = os.path.exists("/proc/self/schedstat")


# How many bytes a pseudo-terminal takes in one-byte writes, with nobody
# reading, before it refuses more: how far a PC can run ahead of a machine
# that reads its side slowly.
def pty_queue_bytes():
    master, slave = os.openpty()
    try:
        tty.setraw(slave)
        os.set_blocking(slave, False)
        count = 0
        try:
            while True:
                count += os.write(slave, b"x")
        except BlockingIOError:
            return count
    finally:
        os.close(master)
        os.close(slave)


def program(lines):
    """A part program of CR LF lines between two "%" marks, 26 bytes a line."""
    body = b"".join(b"N%d G01 X%d.%03d Y-%d F1200\r\n" % (i % 100000, i % 500, i % 1000, i % 77)
                    for i in range(lines))
    return b"%\r\nO1234 (BENCH)\r\n" + body + b"M30\r\n%\r\n"


class Process:
    """A child whose stderr lines are kept with the time each arrived."""

    def __init__(self, args, cwd=None, env=None, stdin=subprocess.DEVNULL):
        self.args = args
        self.proc = subprocess.Popen(args, cwd=cwd, env=env, stdin=stdin,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.pid = self.proc.pid
        self.lines = []
        self.usage = None
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            with self._cond:
                self.lines.append((time.monotonic(), line))
                self._cond.notify_all()

    def wait_for(self, pattern, timeout):
        """The time and match of the first stderr line matching pattern, or None."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            seen = 0
            while True:
                reading = self._reader.is_alive()  # before the scan: no line comes after
                for at, line in self.lines[seen:]:
                    found = regex.search(line)
                    if found:
                        return at, found
                seen = len(self.lines)
                left = deadline - time.monotonic()
                if left <= 0 or not reading:
                    return None
                self._cond.wait(min(left, 0.1))

    def cpu_seconds(self):
        """CPU time used so far (on the CPU, from the scheduler when it says)."""
        if SCHED_NS:
            with open("/proc/%d/schedstat" % self.pid) as f:
                return int(f.read().split()[0]) / 1e9
        with open("/proc/%d/stat" % self.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_kb(self):
        """Peak resident memory of the running program (since its exec)."""
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def write(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def signal(self, number=signal.SIGTERM):
        # Not Popen.send_signal: its look at the child would reap it, and
        # finish() needs to reap it itself for its resource use.
        if self.proc.returncode is None:
            os.kill(self.pid, number)

    def finish(self, timeout=60):
        """Waits for the exit; returns the exit code. self.usage then holds
        the child's resource use (of which only the CPU times are its own:
        the peak memory counts this script's too, from before the exec)."""
        deadline = time.monotonic() + timeout
        while self.proc.returncode is None:
            pid, status, usage = os.wait4(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                self.usage = usage
                break
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                pid, status, usage = os.wait4(self.pid, 0)
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                self.usage = usage
                raise RuntimeError("%s did not end within %d s" % (self.args[0], timeout))
            time.sleep(0.01)
        if self.proc.stdin:
            self.proc.stdin.close()
        self._reader.join(5)
        return self.proc.returncode

    def text(self):
        with self._cond:
            return "\n".join(line for _, line in self.lines)


class Machine(Process):
    """ferobrixlan-machine with its PC side linked at `link`."""

    def __init__(self, binary, link, role, *args):
        if os.path.lexists(link):
            os.unlink(link)
        super().__init__([binary, role, "--link", link] + [str(a) for a in args])
        self.link = link
        deadline = time.monotonic() + 5
        while not os.path.lexists(link):
            if time.monotonic() > deadline or not self._reader.is_alive():
                raise RuntimeError("ferobrixlan-machine made no line:\n" + self.text())
            time.sleep(0.01)

    def summary(self, timeout=60):
        self.finish(timeout)
        pairs = {}
        for _, line in self.lines:
            if "=" in line and not line.startswith(("ferobrixlan-machine:", "#")):
                key, value = line.split("=", 1)
                pairs[key] = value
        return pairs


class Bench:
    def __init__(self, build, work):
        self.cli = os.path.join(build, "tools", "ferobrixlan-cli")
        self.machine = os.path.join(build, "tools", "machine", "ferobrixlan-machine")
        self.bare = os.path.join(build, "bench", "bare_send_loop")
        for tool in (self.cli, self.machine, self.bare):
            if not os.access(tool, os.X_OK):
                raise SystemExit("transfer.py: %s is not built" % tool)
        self.work = work

    def path(self, name):
        return os.path.join(self.work, name)

    def put(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def start_cli(self, verb, name, link, mode="NOMAL", stdin=subprocess.DEVNULL):
        write_config(self.work, mode=mode)
        env = dict(os.environ, FEROBRIXLAN_PORT1=link)
        return Process([self.cli, verb, name, "--yes"], cwd=self.work, env=env, stdin=stdin)


def report(name, ours, peer_name, peer, ratio_name, ratio, goal="", met=None):
    verdict = "" if met is None else ("met" if met else "MISSED")
    ratio_text = "%s %.2f" % (ratio_name, ratio) if ratio is not None else ratio_name
    print("%-44s %14s   %-10s %14s   %-16s %-18s %s" % (name, ours, peer_name, peer, ratio_text,
                                                       goal, verdict), flush=True)


def rate_text(bytes_per_second):
    return "%.0f KB/s" % (bytes_per_second / 1000)


def check(condition, what, *processes):
    if not condition:
        detail = "\n".join(p.text() for p in processes)
        raise SystemExit("transfer.py: %s\n%s" % (what, detail))


# ---------------------------------------------------------------------------
# send


def send_once(b, peer, data, path):
    machine = Machine(b.machine, b.path("line"), "receive", "--buffer", 65536, "--wait", 0,
                      "--idle", 60, "--quiet")
    if peer == "ours":
        pc = b.start_cli("send", os.path.basename(path), machine.link)
    elif peer == "bare":
        pc = Process([b.bare, path, machine.link])
    else:
        pc = Process(["sh", "-c", 'exec cat "$1" > "$2"', "sh", path, machine.link])
    code = pc.finish(300)
    s = machine.summary()
    check(code == 0, "%s send ended with %d" % (peer, code), pc, machine)
    check(int(s["bytes-received"]) == len(data) and int(s["crc32"], 16) == zlib.crc32(data),
          "%s send: the machine did not get the program intact" % peer, machine)
    cpu = pc.usage.ru_utime + pc.usage.ru_stime
    return len(data) / float(s["transfer-seconds"]), cpu


def bench_send(b, runs):
    data = program(60000)
    path = b.put("send.nc", data)
    best = {}
    cpu = {}
    for _ in range(runs):
        for peer in ("bare", "ours", "cat"):
            rate, seconds = send_once(b, peer, data, path)
            if rate > best.get(peer, 0):
                best[peer], cpu[peer] = rate, seconds
    mb = len(data) / 1e6
    ours, bare, cat = best["ours"], best["bare"], best["cat"]
    report("send throughput (%.1f MB, best of %d)" % (mb, runs), rate_text(ours),
           "bare loop", rate_text(bare), "bare/ours", bare / ours, "<= 1.5", bare / ours <= 1.5)
    report("send throughput against cat", rate_text(ours), "cat", rate_text(cat),
           "cat/ours", cat / ours)
    report("send throughput in 57600-baud lines", "%.1f x" % (ours / BAUD_57600_BYTES),
           "57600 bd", rate_text(BAUD_57600_BYTES), "ours/line", ours / BAUD_57600_BYTES,
           ">= 50", ours / BAUD_57600_BYTES >= 50)
    report("send CPU of the PC side per MB", "%.2f s" % (cpu["ours"] / mb), "bare loop",
           "%.2f s" % (cpu["bare"] / mb), "ours/bare", cpu["ours"] / cpu["bare"])


def send_peak_kb(b, peer, path):
    """Peak resident memory of a send once it is under way: the program has
    been read and prepared by then, and nothing grows after."""
    machine = Machine(b.machine, b.path("line"), "receive", "--buffer", 65536, "--wait", 0,
                      "--idle", 60, "--quiet")
    if peer == "ours":
        pc = b.start_cli("send", os.path.basename(path), machine.link)
        check(pc.wait_for(r"^sent \d+ of", 120) is not None, "the send never got under way", pc)
    else:
        pc = Process([b.bare, path, machine.link])
        time.sleep(3)
    peak = pc.peak_kb()
    pc.signal(signal.SIGTERM)
    pc.finish(60)
    machine.summary()  # the PC has closed the line: the machine ends
    return peak


def bench_send_memory(b):
    data = program(3300000)  # about 100 MB
    path = b.put("big.nc", data)
    size_kb = len(data) // 1024
    del data
    ours = send_peak_kb(b, "ours", path)
    bare = send_peak_kb(b, "bare", path)
    report("send peak memory, %d MB program" % (size_kb // 1024), "%d KB" % ours, "bare loop",
           "%d KB" % bare, "ours/file", ours / size_kb, "<= 1.2 + 8 MB",
           ours <= 1.2 * size_kb + 8192)
    os.remove(path)


# ---------------------------------------------------------------------------
# receive


def wait_for_size(path, size, timeout):
    """The time at which the file first holds size bytes (looked at every 2 ms)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if os.stat(path).st_size >= size:
                return time.monotonic()
        except FileNotFoundError:
            pass
        time.sleep(0.002)
    return None


def receive_once(b, peer, data, path, wait=1.0):
    """Bytes a second from the machine's first punched byte until the
    received file is complete; the PC side's CPU seconds and peak memory."""
    machine = Machine(b.machine, b.path("line"), "punch", path, "--wait", wait, "--idle", 60)
    target = b.path("got.nc")
    if os.path.exists(target):
        os.unlink(target)
    holder = None
    if peer == "ours":
        expected = b"\r\n" + data[: data.rindex(b"%") + 1]
        pc = b.start_cli("receive", "got.nc", machine.link, mode="Data In/Out")
    else:
        expected = data
        # cat reads with the line blocking until a byte comes; the line is
        # held open meanwhile so that the machine sees one opening.
        holder = os.open(machine.link, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(holder)
        attrs = termios.tcgetattr(holder)
        attrs[6][termios.VMIN], attrs[6][termios.VTIME] = 1, 0
        termios.tcsetattr(holder, termios.TCSANOW, attrs)
        pc = Process(["sh", "-c", 'exec cat "$1" > "$2"', "sh", machine.link, target])
    opened = machine.wait_for("PC opened the line", 10)
    check(opened is not None, "%s receive: the machine never saw the line open" % peer, machine)
    done = wait_for_size(target, len(expected), 300)
    check(done is not None, "%s receive: the file never became complete" % peer, pc, machine)
    # Read while the program still runs (a receive closes its window a
    # second after the end): the child's rusage would also count the
    # memory of this script, which it was forked from.
    peak = pc.peak_kb()
    if peer == "ours":
        code = pc.finish(30)
        check(code == 0, "receive ended with %d" % code, pc)
    else:
        pc.signal()
        pc.finish(10)
        os.close(holder)
    machine.summary()
    with open(target, "rb") as f:
        check(f.read() == expected, "%s receive: the file differs from the program" % peer)
    cpu = pc.usage.ru_utime + pc.usage.ru_stime
    return len(data) / (done - (opened[0] + wait)), cpu, peak


def bench_receive(b, runs):
    data = program(800000)
    path = b.put("punch.nc", data)
    best, cpu, peak = {}, {}, {}
    for _ in range(runs):
        for peer in ("cat", "ours"):
            rate, seconds, kb = receive_once(b, peer, data, path)
            peak[peer] = max(peak.get(peer, 0), kb)
            if rate > best.get(peer, 0):
                best[peer], cpu[peer] = rate, seconds
    small = program(80000)
    _, _, small_kb = receive_once(b, "ours", small, b.put("small.nc", small))
    mb = len(data) / 1e6
    ours, cat = best["ours"], best["cat"]
    report("receive throughput (%.1f MB, best of %d)" % (mb, runs), rate_text(ours), "cat",
           rate_text(cat), "cat/ours", cat / ours, "<= 2", cat / ours <= 2)
    report("receive CPU of the PC side per MB", "%.3f s" % (cpu["ours"] / mb), "cat",
           "%.3f s" % (cpu["cat"] / mb), "ours/cat", cpu["ours"] / max(cpu["cat"], 1e-6))
    report("receive peak memory, %.1f MB program" % mb, "%d KB" % peak["ours"],
           "%.1f MB" % (len(small) / 1e6), "%d KB" % small_kb, "big/small",
           peak["ours"] / small_kb, "<= 1.2", peak["ours"] / small_kb <= 1.2)
    report("receive peak memory against cat", "%d KB" % peak["ours"], "cat",
           "%d KB" % peak["cat"], "ours/cat", peak["ours"] / peak["cat"])


# ---------------------------------------------------------------------------
# idle


def held_cpu(b, mode, machine_args, seconds):
    """CPU percent of ours and of the bare loop over `seconds`, both held by
    their machine, measured side by side. In "NOMAL" the machine stalls
    (DC3, then silence); otherwise it never sends the start DC1."""
    data = program(60000)
    path = b.put("idle.nc", data)
    machines, pcs, outs = {}, {}, {}
    for peer in ("ours", "bare"):
        outs[peer] = b.path("%s.out" % peer)
        machines[peer] = Machine(b.machine, b.path("line-" + peer), "receive", "--out",
                                 outs[peer], "--wait", 0, *machine_args)
    pcs["ours"] = b.start_cli("send", "idle.nc", machines["ours"].link, mode=mode,
                              stdin=subprocess.PIPE)
    waits_for_dc1 = mode != "NOMAL"
    pcs["bare"] = Process([b.bare, path, machines["bare"].link] +
                          (["--wait-dc1"] if waits_for_dc1 else []))
    try:
        if waits_for_dc1:
            check(pcs["ours"].wait_for("status: Waiting Machine", 20) is not None,
                  "the send never waited for DC1", pcs["ours"])
        else:
            for peer in ("ours", "bare"):
                check(machines[peer].wait_for("stalled after", 20) is not None,
                      "%s: the machine never stalled" % peer, pcs[peer], machines[peer])
        time.sleep(0.5)  # what was on its way has arrived; the bare loop is waiting
        sizes = {p: os.path.getsize(outs[p]) for p in outs}
        start = {p: pcs[p].cpu_seconds() for p in pcs}
        began = time.monotonic()
        time.sleep(seconds)
        used = {p: pcs[p].cpu_seconds() - start[p] for p in pcs}
        elapsed = time.monotonic() - began
        for peer in outs:
            check(os.path.getsize(outs[peer]) == sizes[peer],
                  "%s sent bytes while it was held" % peer, pcs[peer], machines[peer])
            check(not waits_for_dc1 or sizes[peer] == 0,
                  "%s sent bytes before the DC1" % peer, pcs[peer], machines[peer])
    finally:
        try:
            pcs["ours"].write("quit\n")  # the operator's quit
        except BrokenPipeError:
            pass  # it has ended already
        pcs["bare"].signal()
    pcs["ours"].finish(10)
    pcs["bare"].finish(10)
    for m in machines.values():
        m.summary(10)
    return {p: 100.0 * used[p] / elapsed for p in used}


def bench_idle(b, seconds):
    held = held_cpu(b, "NOMAL", ["--stall-after", 20000, "--buffer", 4000000], seconds)
    report("CPU while held by DC3 for %g s" % seconds, "%.2f %%" % held["ours"], "bare loop",
           "%.2f %%" % held["bare"], "ours/bare", held["ours"] / max(held["bare"], 1e-3),
           "< 2 %", held["ours"] < 2)
    waiting = held_cpu(b, "Data In/Out", [], seconds)
    report("CPU while waiting %g s for DC1" % seconds, "%.2f %%" % waiting["ours"], "bare loop",
           "%.2f %%" % waiting["bare"], "ours/bare", waiting["ours"] / max(waiting["bare"], 1e-3),
           "< 2 %", waiting["ours"] < 2)


# ---------------------------------------------------------------------------
# overrun


def bench_overrun(b):
    """The first DC3 of a 9600-baud machine with a 256-byte buffer draining
    slower than the line: bytes read after it until its DC1."""
    queue = pty_queue_bytes()
    data = program(3000)
    path = b.put("overrun.nc", data)
    machines, pcs = {}, {}
    for peer in ("ours", "bare"):
        machines[peer] = Machine(b.machine, b.path("line-" + peer), "receive", "--baud", 9600,
                                 "--buffer", 256, "--drain", 900, "--wait", 0)
    pcs["ours"] = b.start_cli("send", "overrun.nc", machines["ours"].link)
    pcs["bare"] = Process([b.bare, path, machines["bare"].link])
    after = {}
    try:
        for peer in ("ours", "bare"):
            found = machines[peer].wait_for(r"DC1 sent at byte \d+ .*; (\d+) bytes after the DC3",
                                            120)
            check(found is not None, "%s: the machine never sent its DC1" % peer, machines[peer])
            after[peer] = int(found[1].group(1))
    finally:
        for p in pcs.values():
            p.signal()
    for peer in pcs:
        pcs[peer].finish(10)
        machines[peer].signal()
        machines[peer].summary(10)
    ours, bare = after["ours"], after["bare"]
    report("bytes after the first DC3, 9600 baud (*)", "%d" % ours, "bare loop", "%d" % bare,
           "ours/bare", ours / bare)
    report("  (*) of which beyond the pty's %d-byte queue" % queue, "%d" % (ours - queue),
           "bare loop", "%d" % (bare - queue), "ours-bare", ours - bare)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?",
                        default=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build"))
    parser.add_argument("--only", default="send,memory,receive,idle,overrun")
    parser.add_argument("--runs", type=int, default=3, help="runs of each throughput figure")
    parser.add_argument("--idle-seconds", type=float, default=10)
    args = parser.parse_args()
    parts = args.only.split(",")
    with tempfile.TemporaryDirectory(prefix="fbx-bench-") as work:
        b = Bench(os.path.abspath(args.build), work)
        if "send" in parts:
            bench_send(b, args.runs)
        if "memory" in parts:
            bench_send_memory(b)
        if "receive" in parts:
            bench_receive(b, args.runs)
        if "idle" in parts:
            bench_idle(b, args.idle_seconds)
        if "overrun" in parts:
            bench_overrun(b)


if __name__ == "__main__":
    main()
