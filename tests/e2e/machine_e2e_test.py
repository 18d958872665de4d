"""ferobrixlan-cli against the simulated machine tool, ferobrixlan-machine, on
a pseudo-terminal pair: pacing by a small controller buffer, a pulled cable,
EIA tape with a blank leader, a stalled punch ended by the operator.

A pseudo-terminal does not slow the PC down to the line speed: when a
machine reads slowly, the PC's bytes wait in the pty's queue (some 20 KB), and
the machine reads all of them after its DC3. The bounds below allow for that
queue and no more."""

import os
import signal
import sys
import tempfile
import time
import unittest
import zlib

from linepeers import Cli, SimulatedMachine, program, pty_queue_bytes, write_config

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")

# ISO to EIA tape code for the characters of the programs below, written out
# here rather than taken from the system's table.
EIA = {ord("%"): 0x5B, ord(" "): 0x10, ord("&"): 0x0E, ord("\t"): 0x3E}
EIA.update({ord("0") + i: c for i, c in enumerate(
    [0x20, 0x01, 0x02, 0x13, 0x04, 0x15, 0x16, 0x07, 0x08, 0x19])})
EIA.update({ord("A") + i: c for i, c in enumerate(
    [0x61, 0x62, 0x73, 0x64, 0x75, 0x76, 0x67, 0x68, 0x79, 0x51, 0x52, 0x43, 0x54,
     0x45, 0x46, 0x57, 0x58, 0x49, 0x32, 0x23, 0x34, 0x25, 0x26, 0x37, 0x38, 0x29])})


def eia_tape(text):
    """What a tape punch puts on the line: CR dropped, LF as end of block."""
    return bytes(0x80 if c == 10 else EIA.get(c, c) for c in text if c != 13)


def marked(text):
    """The part of a program that a mark-mode receive keeps: first "%" through second."""
    first = text.index(b"%")
    return text[first:text.index(b"%", first + 1) + 1]


class MachineTestCase(unittest.TestCase):
    """One transfer at a time between ferobrixlan-cli and the machine."""

    @classmethod
    def setUpClass(cls):
        cls.queue = pty_queue_bytes()

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.machine = None
        self.cli = None

    def tearDown(self):
        self.end_run()
        self.tmp.cleanup()

    def end_run(self):
        if self.cli:
            self.cli.kill()
        if self.machine:
            self.machine.stop()
        self.cli = self.machine = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start_send(self, data, *machine_args, **config):
        """The machine reads (storing every byte in machine.out); the PC sends data."""
        self.end_run()
        with open(self.path("prog.nc"), "wb") as f:
            f.write(data)
        self.machine = SimulatedMachine(MACHINE, self.dir, "receive", "--out",
                                        self.path("machine.out"), *machine_args)
        write_config(self.dir, **config)
        self.cli = Cli(CLI, self.dir, ["send", "prog.nc", "--yes"], self.machine.device)

    def start_receive(self, text, *machine_args, **config):
        """The machine punches text; the PC receives it into got.nc."""
        self.end_run()
        with open(self.path("punch.nc"), "wb") as f:
            f.write(text)
        if os.path.exists(self.path("got.nc")):
            os.unlink(self.path("got.nc"))
        self.machine = SimulatedMachine(MACHINE, self.dir, "punch", self.path("punch.nc"),
                                        *machine_args)
        write_config(self.dir, **config)
        self.cli = Cli(CLI, self.dir, ["receive", "got.nc", "--yes"], self.machine.device)


class Sends(MachineTestCase):
    def test_small_buffer_paces_the_send_and_every_byte_arrives_once_in_order(self):
        # At 9600 baud the controller drains well below the line's 960
        # bytes/s, so its 256-byte buffer fills within a second however the
        # machine is scheduled, and the program is larger than the 20 KB a
        # pty takes at once: one round shows the PC stopping. At a fast line
        # with a slow controller the rounds come dozens of times.
        cases = [
            # baud, controller drain (bytes/s), program lines, least DC3 rounds
            (9600, 600, 850, 1),
            (921600, 80000, 30000, 24),
        ]
        for baud, drain, lines, rounds in cases:
            with self.subTest(baud=baud):
                data = program(lines)
                self.start_send(data, "--baud", baud, "--buffer", 256, "--drain", drain)
                self.assertEqual(self.cli.wait(120), 0, self.cli.stderr())
                summary = self.machine.summary(120)
                self.assertEqual(self.read("machine.out"), data)
                self.assertGreaterEqual(int(summary["dc3-sent"]), rounds, self.machine.stderr())
                self.assertGreaterEqual(int(summary["dc1-sent"]), rounds)
                for count in map(int, summary["overrun"].split(",")):
                    self.assertLessEqual(count, self.queue + 1024,
                                         "the PC went on sending after the machine's DC3")

    def test_pulled_cable_ends_the_send_with_a_port_error(self):
        data = program(20000)
        self.start_send(data, "--pull-after", 30000)
        self.assertNotEqual(self.cli.wait(20), 0)
        self.assertIn("Port error", self.cli.stderr())
        self.assertNotIn("status: finish", self.cli.stderr())
        self.assertEqual(self.machine.wait(), 3)
        self.assertEqual(self.read("machine.out"), data[:30000])


class Receives(MachineTestCase):
    def test_eia_punch_with_a_leader_of_nuls(self):
        text = b"O0001 BEFORE THE MARK\r\n" + program(600) + b"AFTER THE END\r\n"
        leader = 120
        self.start_receive(text, "--eia", "--leader", leader, code="EIA", mode="Data In/Out")
        self.assertEqual(self.cli.wait(20), 0, self.cli.stderr())
        self.assertEqual(self.read("got.nc"), b"\r\n" + marked(text.replace(b"\r", b"")))
        summary = self.machine.summary(10)
        self.assertEqual(summary["complete"], "yes")
        tape = b"\0" * leader + eia_tape(text)
        self.assertEqual(int(summary["crc32"], 16), zlib.crc32(tape),
                         "the machine punched other codes than the EIA table's")

    def test_stalled_punch_is_left_by_the_operators_quit(self):
        data = program(400)
        stall = 3000
        cases = [
            # mode, how the operator quits, exit code, file, message
            ("Data In/Out", "quit", 1, data[:stall] + b"\r\n", "Receive incomplete"),
            ("NOMAL", signal.SIGINT, 0, b"\r\n" + data[:stall], "Data saving"),
        ]
        for mode, quit, code, saved, message in cases:
            with self.subTest(mode=mode):
                self.start_receive(data, "--stall-after", stall, mode=mode)
                self.assertTrue(self.machine.wait_for("stalled after", 20))
                time.sleep(0.5)
                self.assertIsNone(self.cli.process.poll(), self.cli.stderr())
                if quit == "quit":
                    self.cli.command(quit)
                else:
                    self.cli.signal(quit)
                self.assertEqual(self.cli.wait(10), code, self.cli.stderr())
                self.assertIn(message, self.cli.stderr())
                self.assertEqual(self.read("got.nc"), saved)

    def test_pulled_cable_keeps_what_arrived(self):
        data = program(2000)
        pulled = 30000  # past the 10000-character appends
        self.start_receive(data, "--pull-after", pulled, mode="Data In/Out")
        self.assertNotEqual(self.cli.wait(20), 0)
        self.assertIn("Port error", self.cli.stderr())
        self.assertEqual(self.machine.wait(), 3)
        self.assertEqual(self.read("got.nc"), b"\r\n" + data[:pulled] + b"\r\n")  # incomplete


if __name__ == "__main__":
    while len(sys.argv) > 1 and sys.argv[1].startswith(("--cli=", "--machine=")):
        name, value = sys.argv.pop(1)[2:].split("=", 1)
        if name == "cli":
            CLI = value
        else:
            MACHINE = value
    unittest.main(verbosity=2)
