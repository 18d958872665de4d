"""The demo's line at its emulated 9600 baud: ferobrixlan-cli on the
pseudo-terminal of a simulated machine set up as scripts/run --demo sets up
port 1, with the pacing the demo asks for (FEROBRIXLAN_PACE_PTY=1) and the
port taken from ferobrixlan.ports as the demo writes it.

What an operator learns from the demo must hold on a real line: "finish"
shows when the machine has the last byte, no more than four characters reach
the machine after its DC3, and a hold's first dwell block follows the CR LF
at once."""

import os
import sys
import tempfile
import time
import unittest

from linepeers import (FileWatch, SimulatedMachine, TimedCli, as_hardware, program,
                       program_paths, write_config)

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")

# Port 1 of scripts/run --demo.
DEMO_MACHINE = ["--baud", 9600, "--buffer", 1024, "--drain", 700, "--start-dc1", "--wait", 0.5]
DWELL = b"G4X0.001\r\n"
CHARACTER_SECONDS = 11 / 9600  # 7E2, the settings' default frame
AHEAD = 4


class DemoLine(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.machine = self.cli = self.watch = None

    def tearDown(self):
        if self.cli:
            self.cli.kill()
        if self.machine:
            self.machine.stop()
        if self.watch:
            self.watch.stop()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def start_send(self, data, **config):
        with open(self.path("prog.nc"), "wb") as f:
            f.write(data)
        self.machine = SimulatedMachine(MACHINE, self.dir, "receive", "--out",
                                        self.path("machine.out"), *DEMO_MACHINE)
        as_hardware(self.machine.process.pid)
        self.watch = FileWatch(self.path("machine.out"))
        with open(self.path("ferobrixlan.ports"), "w") as f:
            f.write("1=%s\n" % self.machine.device)
        write_config(self.dir, **config)
        self.cli = TimedCli(CLI, self.dir, ["send", "prog.nc", "--yes"],
                            env={"FEROBRIXLAN_PACE_PTY": "1", "FEROBRIXLAN_PORT1": ""})

    def test_finish_shows_when_the_machine_has_the_last_byte_and_dc3_stops_the_line(self):
        data = program(250)  # some 7 s: the machine's buffer runs full
        self.start_send(data)
        finished = self.cli.wait_line("status: finish", 60)
        self.assertIsNotNone(finished, self.cli.stderr())
        last_byte = self.watch.reached(len(data), 10)
        self.assertIsNotNone(last_byte, "the machine never got the whole program")
        self.assertLess(abs(finished - last_byte), 0.1,
                        "finish %.3f s after the machine had the last byte" % (finished - last_byte))
        self.assertEqual(self.cli.wait(10), 0, self.cli.stderr())

        summary = self.machine.summary(10)
        with open(self.path("machine.out"), "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertGreaterEqual(int(summary["dc3-sent"]), 1, self.machine.stderr())
        self.assertLessEqual(int(summary["overrun-max"]), AHEAD, summary["overrun"])
        print("\nfinish - last byte at the machine: %+.3f s; bytes after DC3: %s"
              % (finished - last_byte, summary["overrun"]), file=sys.stderr)

    def test_a_holds_first_dwell_block_follows_the_cr_lf_at_once(self):
        data = program(250)
        self.start_send(data, mode="DNC")
        self.assertIsNotNone(self.watch.reached(1500, 20), self.machine.stderr())
        self.cli.command("quit")  # "hold on"
        asked = time.monotonic()
        had = self.watch.size_at(asked)
        self.assertIsNotNone(self.cli.wait_line("status: Hold on", 5), self.cli.stderr())
        deadline = time.monotonic() + 10
        out = b""
        while DWELL not in out and time.monotonic() < deadline:
            time.sleep(0.02)
            with open(self.path("machine.out"), "rb") as f:
                out = f.read()
        first = out.find(DWELL)
        self.assertGreater(first, 0, "no dwell block reached the machine")
        self.assertEqual(out[first - 2:first], b"\r\n")
        longest_line = max(len(line) + 2 for line in data.split(b"\r\n"))
        self.assertLessEqual(first - had, longest_line + AHEAD + 1,
                             "the hold reached the machine %d bytes late" % (first - had))
        arrived = self.watch.reached(first + len(DWELL), 5)
        self.assertLess(arrived - asked,
                        (first - had + len(DWELL)) * CHARACTER_SECONDS + 0.1)
        print("\nhold asked with %d bytes at the machine; the first dwell block followed the "
              "CR LF at byte %d, whole %.3f s after the hold" % (had, first, arrived - asked),
              file=sys.stderr)

        self.cli.command("start")  # "Keep on"
        self.assertEqual(self.cli.wait(60), 0, self.cli.stderr())
        self.machine.summary(10)
        with open(self.path("machine.out"), "rb") as f:
            out = f.read()
        self.assertEqual(out.replace(DWELL, b""), data)
        self.assertEqual(out[:first], data[:first])


if __name__ == "__main__":
    paths = program_paths(sys.argv, cli=CLI, machine=MACHINE)
    CLI, MACHINE = paths["cli"], paths["machine"]
    unittest.main(verbosity=2)
