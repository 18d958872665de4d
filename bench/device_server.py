#!/usr/bin/python3
"""Network port benchmarks: ferobrixlan-cli through ser2net to
ferobrixlan-machine, each figure beside the same transfer over a bare
pseudo-terminal measured in the same run:

  send      throughput at an emulated 57600 baud through ser2net's RFC 2217
            accepter, against the bare pty paced as the same line
            (FEROBRIXLAN_PACE_PTY=1): a network port is always paced at its
            line, so the question is whether the path keeps up with it
  receive   throughput of a mark-mode receive of a program punched without a
            line speed, through ser2net RFC 2217 against the bare pty
  overrun   bytes that reach the machine after each DC3 at 9600 baud, on
            each path: the pty paced as the demo paces it, ser2net RFC 2217
            and ser2net raw TCP (the bare pty, not paced, is transfer.py's)

    bench/device_server.py [BUILD_DIR] [--only send,receive,overrun]
"""

import argparse
import os
import statistics
import sys
import tempfile
import zlib

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
from linepeers import Ser2net, as_hardware, have, write_config  # noqa: E402
from transfer import (Bench, Machine, Process, check, program, rate_text, report,  # noqa: E402
                      wait_for_size)

LINE_57600 = dict(baudRate=57600, dataBits=8, parity="n", stopBits=1)


class Path:
    """One way from ferobrixlan-cli to the machine's line: the bare pty, the
    pty paced, or ser2net in front of it (RFC 2217 or raw)."""

    def __init__(self, b, kind):
        self.b = b
        self.kind = kind
        self.server = None

    def start(self, machine, verb, name, **config):
        env = {}
        if self.kind.startswith("ser2net"):
            self.server = Ser2net(machine.link, self.b.work)
            as_hardware(self.server.process.pid)
            device = self.server.url("tcp" if self.kind == "ser2net raw" else "rfc2217")
        else:
            device = machine.link
            if self.kind == "pty paced":
                env["FEROBRIXLAN_PACE_PTY"] = "1"
        write_config(self.b.work, **config)
        return Process([self.b.cli, verb, name, "--yes"], cwd=self.b.work,
                       env=dict(os.environ, FEROBRIXLAN_PORT1=device, **env))

    def stop(self):
        if self.server:
            self.server.stop()
            self.server = None


def send_rate(b, kind, data):
    machine = Machine(b.machine, b.path("line"), "receive", "--buffer", 65536, "--wait", 0,
                      "--baud", 57600, "--idle", 60, "--quiet")
    path = Path(b, kind)
    try:
        pc = path.start(machine, "send", "send.nc", **LINE_57600)
        code = pc.finish(120)
        s = machine.summary()
    finally:
        path.stop()
    check(code == 0, "%s send ended with %d" % (kind, code), pc, machine)
    check(int(s["bytes-received"]) == len(data) and int(s["crc32"], 16) == zlib.crc32(data),
          "%s send: the machine did not get the program intact" % kind, machine)
    return len(data) / float(s["transfer-seconds"])


def receive_rate(b, kind, data, punch):
    """Bytes a second from the machine's first punched byte until the
    received file is complete."""
    machine = Machine(b.machine, b.path("line"), "punch", punch, "--wait", 1, "--idle", 60)
    target = b.path("got.nc")
    if os.path.exists(target):
        os.unlink(target)
    expected = b"\r\n" + data[: data.rindex(b"%") + 1]
    path = Path(b, kind)
    try:
        pc = path.start(machine, "receive", "got.nc", mode="Data In/Out", **LINE_57600)
        opened = machine.wait_for("PC opened the line", 10)
        check(opened is not None, "%s receive: the machine never saw the line open" % kind,
              machine)
        done = wait_for_size(target, len(expected), 300)
        check(done is not None, "%s receive: the file never became complete" % kind, pc, machine)
        code = pc.finish(60)
        machine.summary()
    finally:
        path.stop()
    check(code == 0, "%s receive ended with %d" % (kind, code), pc)
    with open(target, "rb") as f:
        check(f.read() == expected, "%s receive: the file differs from the program" % kind)
    return len(data) / (done - (opened[0] + 1))


def overruns(b, kind, data):
    # The machine reads as a 9600-baud 8N1 line delivers, the PC sends 7E2:
    # a tenth slower, so that the machine, which notices the PC's open some
    # milliseconds late, does not lag behind the PC's first bytes for a whole
    # round.
    machine = Machine(b.machine, b.path("line"), "receive", "--baud", 9600, "--bits", 10,
                      "--buffer", 256, "--drain", 600, "--wait", 0, "--idle", 60)
    as_hardware(machine.pid)
    path = Path(b, kind)
    try:
        pc = path.start(machine, "send", "overrun.nc")
        code = pc.finish(300)
        s = machine.summary()
    finally:
        path.stop()
    check(code == 0, "%s send ended with %d" % (kind, code), pc, machine)
    print("# %s: %s" % (kind, s["overrun"]), file=sys.stderr)
    return [int(n) for n in s["overrun"].split(",") if n]


def bench_send(b, runs):
    data = program(1200)  # some 31 KB: 5.5 s at 57600 baud
    b.put("send.nc", data)
    best = {}
    for _ in range(runs):
        for kind in ("pty paced", "ser2net"):
            best[kind] = max(best.get(kind, 0), send_rate(b, kind, data))
    line = 57600 / 10
    ours, peer = best["ser2net"], best["pty paced"]
    report("send through ser2net RFC 2217, 57600 bd", "%.2f KB/s" % (ours / 1000), "paced pty",
           "%.2f KB/s" % (peer / 1000), "pty/ser2net", peer / ours)
    report("  of the 57600-baud line's own rate", "%.0f %%" % (100 * ours / line), "paced pty",
           "%.0f %%" % (100 * peer / line), "", None)


def bench_receive(b, runs):
    data = program(40000)  # some 1 MB, punched as fast as the line takes it
    punch = b.put("punch.nc", data)
    best = {}
    for _ in range(runs):
        for kind in ("pty", "ser2net"):
            best[kind] = max(best.get(kind, 0), receive_rate(b, kind, data, punch))
    ours, peer = best["ser2net"], best["pty"]
    report("receive through ser2net RFC 2217 (%.1f MB)" % (len(data) / 1e6), rate_text(ours),
           "bare pty", rate_text(peer), "pty/ser2net", peer / ours)


def bench_overrun(b):
    data = program(150)  # some 4 KB: several DC3 rounds
    b.put("overrun.nc", data)
    for kind in ("pty paced", "ser2net", "ser2net raw"):
        counts = overruns(b, kind, data)
        check(counts, "%s: the machine never sent DC3" % kind)
        report("bytes after DC3, 9600 bd, %s" % kind, "max %d" % max(counts),
               "median", "%g" % statistics.median(counts), "rounds %d" % len(counts), None,
               "<= 8" if kind.startswith("ser2net") else "<= 4",
               max(counts) <= (8 if kind.startswith("ser2net") else 4))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(here, "..", "build"))
    parser.add_argument("--only", default="send,receive,overrun")
    parser.add_argument("--runs", type=int, default=2)
    args = parser.parse_args()
    if not have("ser2net"):
        raise SystemExit("device_server.py: ser2net is not installed (scripts/deps.sh)")
    parts = args.only.split(",")
    with tempfile.TemporaryDirectory(prefix="fbx-bench-") as work:
        b = Bench(os.path.abspath(args.build), work)
        if "send" in parts:
            bench_send(b, args.runs)
        if "receive" in parts:
            bench_receive(b, args.runs)
        if "overrun" in parts:
            bench_overrun(b)


if __name__ == "__main__":
    main()
