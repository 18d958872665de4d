"""ferobrixlan-cli send and receive over pseudo-terminals, against a line held
by the test byte by byte, pyserial and minicom's ascii-xfr. The scenarios
played by the simulated machine are in machine_e2e_test.py."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from linepeers import DC1, DC3, Cli, PtyMachine, SocatPair, have, program, write_config

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
DWELL = b"G4X0.001\r\n"


class OnAPty(unittest.TestCase):
    """The command line in a scratch directory, the machine's end of its
    line held by the test."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.machine = PtyMachine()
        self.cli = None

    def tearDown(self):
        if self.cli:
            self.cli.kill()
        self.machine.close()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)


class Transfers(OnAPty):

    def test_dnc_send_waits_for_dc1_obeys_dc3_and_holds_at_the_operators_commands(self):
        data = program(20000)
        write_config(self.dir, mode="DNC")
        self.put("prog.nc", data)
        self.cli = Cli(CLI, self.dir, ["send", "prog.nc", "--yes"], self.machine.device)
        m = self.machine
        self.assertTrue(self.cli.wait_for("Waiting Machine Receive Singnal"))
        m.read(0.5)
        self.assertEqual(m.received, b"")
        m.send(b"junk" + DC1)
        # DC3 in the middle of a line: the line goes quiet until DC1.
        m.read_until(lambda r: len(r) >= 100)
        m.send(DC3)
        m.read_until_quiet()
        held_at = len(m.received)
        time.sleep(0.5)
        m.read(0.05)
        self.assertEqual(len(m.received), held_at, "bytes went out while DC3 held the line")
        m.send(DC1)
        self.assertTrue(m.read_until(lambda r: len(r) >= len(data) // 3), self.cli.stderr())
        self.cli.command("quit")  # "hold on"
        self.assertTrue(m.read_until(lambda r: r.count(DWELL) >= 5), self.cli.stderr())
        self.cli.command("start")  # "Keep on"
        self.assertTrue(m.read_until(lambda r: r.endswith(data[-200:])), self.cli.stderr())
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        m.read_until_quiet()
        got = bytes(m.received)
        blocks, at = got.count(DWELL), got.index(DWELL)
        self.assertGreaterEqual(blocks, 5)
        self.assertEqual(got[at - 2:at + blocks * len(DWELL)], b"\r\n" + DWELL * blocks,
                         "the hold began inside a block")
        self.assertEqual(got.replace(DWELL, b""), data)


class HonestOutcomes(OnAPty):
    """What the command line reports is what happened."""

    def run_cli(self, args, timeout=30):
        env = dict(os.environ, FEROBRIXLAN_PORT1=self.machine.device)
        return subprocess.run([CLI] + args, cwd=self.dir, env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=timeout)

    def last_line(self, text):
        return text.strip().splitlines()[-1]

    def test_a_named_file_that_is_no_configuration_is_left_alone(self):
        program_text = program(200)
        self.put("O1000.nc", program_text)
        for command in (["settings"], ["send", "O1000.nc"], ["receive", "got.nc"]):
            r = self.run_cli(command + ["--config", "O1000.nc"])
            self.assertEqual(r.returncode, 2, command)
            self.assertIn(b"is not a configuration file", r.stderr)
            with open(self.path("O1000.nc"), "rb") as f:
                self.assertEqual(f.read(), program_text)
        r = self.run_cli(["settings", "--config", "new.cfg"])  # a missing file is created
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.path("new.cfg"), "rb") as f:
            self.assertTrue(f.read().startswith(b'"","","ON","ON","OFF","1","9600"'))

    def test_a_send_that_puts_nothing_on_the_line_fails_and_says_why(self):
        cases = [
            # program, configuration, the last line, what stands before it
            (b"G0\n", {}, "nothing was sent", ""),
            (b"        ", {}, "nothing was sent", ""),
            (program(10), {"baudRate": "115200"}, "port could not be opened",
             'Communication seting error\n    The line cannot be set to baud rate "115200"'),
        ]
        for text, config, outcome, detail in cases:
            with self.subTest(text=text[:10], outcome=outcome):
                write_config(self.dir, **config)
                self.put("p.nc", text)
                r = self.run_cli(["send", "p.nc", "--yes"])
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(outcome, self.last_line(r.stderr.decode()))
                self.assertIn(detail, r.stderr.decode())
                self.assertEqual(self.machine.read(0.2), b"")
        self.assertIn("115200", self.run_cli(["settings"]).stdout.decode())

    def test_counts_after_ctrl_c_in_a_stalled_send_are_what_went_out(self):
        write_config(self.dir)
        data = program(8000)
        self.put("p.nc", data)
        self.cli = Cli(CLI, self.dir, ["send", "p.nc"], self.machine.device)
        m = self.machine
        self.assertTrue(m.read_until(lambda r: len(r) >= 1000))
        m.send(DC3)  # the machine stalls and never answers again
        m.read_until_quiet(quiet=1.5)
        self.cli.signal()
        self.assertEqual(self.cli.wait(), 1, self.cli.stderr())
        m.read_until_quiet(quiet=0.3)
        sent = len(m.received)
        self.assertLess(sent, len(data))
        lines = [l for l in self.cli.stderr().splitlines() if l.startswith("sent ")]
        self.assertTrue(lines)
        self.assertTrue(lines[-1].startswith("sent %d of %d" % (sent, len(data))), lines[-1])
        self.assertTrue(any("held by the machine (DC3) for " in l for l in lines), lines)
        self.assertEqual(self.last_line(self.cli.stderr()),
                         "ferobrixlan-cli send: stopped (sent %d of %d)" % (sent, len(data)))

    def test_a_crash_costs_at_most_the_last_second(self):
        write_config(self.dir)
        self.cli = Cli(CLI, self.dir, ["receive", "got.nc", "--yes"], self.machine.device)
        self.assertTrue(self.cli.wait_for("Receive waitting"))
        time.sleep(0.6)
        data = program(200)  # far below the 10000 characters of an intermediate save
        self.machine.send(data)
        time.sleep(1.6)
        self.cli.signal(signal.SIGKILL)
        self.cli.wait()
        with open(self.path("got.nc"), "rb") as f:
            self.assertEqual(f.read(), b"\r\n" + data)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to mount a small file system")
    def test_a_disk_that_fills_up_and_frees_space_keeps_the_program_whole(self):
        disk = self.path("disk")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk]).returncode:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            write_config(self.dir)
            with open(os.path.join(disk, "filler"), "wb") as f:
                try:
                    f.write(b"\0" * (230 * 1024))
                except OSError:
                    pass
            data = program(4000)  # about 100 KB: more than the disk holds
            self.cli = Cli(CLI, self.dir, ["receive", "disk/got.nc", "--yes"], self.machine.device)
            self.assertTrue(self.cli.wait_for("Receive waitting"))
            time.sleep(0.6)
            half = len(data) // 2
            self.machine.send(data[:half])
            self.assertTrue(self.cli.wait_for("cannot be written"), self.cli.stderr())
            os.remove(os.path.join(disk, "filler"))  # space again
            self.machine.send(data[half:])
            time.sleep(1.5)
            self.cli.command("quit")
            self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
            with open(os.path.join(disk, "got.nc"), "rb") as f:
                self.assertTrue(f.read() == b"\r\n" + data, "the program came out changed")
        finally:
            subprocess.run(["umount", "-l", disk])


@unittest.skipUnless(have("socat"), "socat is not installed")
class ForeignPeers(unittest.TestCase):
    """Peers that nobody here wrote."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.pair = SocatPair(self.dir)
        self.cli = None

    def tearDown(self):
        if self.cli:
            self.cli.kill()
        self.pair.close()
        self.tmp.cleanup()

    @unittest.skipUnless(have("ascii-xfr") and have("stty"), "minicom's ascii-xfr is missing")
    def test_ascii_xfr_punches_into_a_mark_mode_receive(self):
        write_config(self.dir, mode="Data In/Out")
        body = program(8000)
        punched = b"leader text\r\n" + body + b"trailer\r\n"
        with open(os.path.join(self.dir, "punch.nc"), "wb") as f:
            f.write(punched)
        self.cli = Cli(CLI, self.dir, ["receive", "got.nc"], self.pair.pc)
        self.assertTrue(self.cli.wait_for("status: Receive waitting"))
        time.sleep(0.6)
        # The kernel on the machine's side obeys the PC's XOFF/XON itself.
        subprocess.run(["stty", "-F", self.pair.machine, "ixon"], check=True)
        with open(self.pair.machine, "rb+", buffering=0) as line:
            xfr = subprocess.run(["ascii-xfr", "-s", "-n", "punch.nc"], cwd=self.dir,
                                 stdin=line, stdout=line, stderr=subprocess.DEVNULL,
                                 timeout=60)
        self.assertEqual(xfr.returncode, 0)
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        with open(os.path.join(self.dir, "got.nc"), "rb") as f:
            self.assertEqual(f.read(), b"\r\n" + body[: body.rindex(b"%") + 1])

    def test_pyserial_machine_drives_a_dnc_send(self):
        import serial  # python3-serial

        write_config(self.dir, mode="DNC")
        data = program(3000)
        with open(os.path.join(self.dir, "prog.nc"), "wb") as f:
            f.write(data)
        line = serial.Serial(self.pair.machine, 9600, timeout=0.05)
        try:
            self.cli = Cli(CLI, self.dir, ["send", "prog.nc"], self.pair.pc)
            self.assertTrue(self.cli.wait_for("Waiting Machine Receive Singnal"))
            line.write(DC1)
            got = bytearray()
            rounds = 0
            deadline = time.monotonic() + 30
            while len(got) < len(data) and time.monotonic() < deadline:
                chunk = line.read(512)
                got += chunk
                if chunk and len(got) // 8192 > rounds:
                    rounds += 1
                    line.write(DC3)  # the machine's buffer is full
                    time.sleep(0.05)
                    got += line.read(65536)
                    line.write(DC1)
            self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
            got += line.read(65536)
            self.assertGreater(rounds, 3)
            self.assertEqual(bytes(got), data)
        finally:
            line.close()


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1].startswith("--cli="):
        CLI = sys.argv.pop(1)[len("--cli="):]
    unittest.main(verbosity=2)
