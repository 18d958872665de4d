# ferobrixlan-cli send and receive as a process: its commands on standard
# input, Ctrl-C, its exit codes and last lines, and what reaches the disk, over
# a pseudo-terminal whose machine end the test holds byte by byte; and against
# peers nobody here wrote (pyserial, minicom's ascii-xfr).

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from linepeers import DC1, DC3, Cli, LineEnd, SocatPair, have, program, until, write_config

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
DWELL = b"G4X0.001\r\n"


class OnAPty(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.machine = LineEnd()
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

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def start(self, args, **config):
        write_config(self.dir, **config)
        self.cli = Cli(CLI, self.dir, args, self.machine.device)

    def run_cli(self, args):
        env = dict(os.environ, FEROBRIXLAN_PORT1=self.machine.device)
        return subprocess.run([CLI] + args, cwd=self.dir, env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=60)

    def last_line(self):
        return self.cli.stderr().strip().splitlines()[-1]

    def test_counts_after_ctrl_c_in_a_stalled_send_are_what_went_out(self):
        data = program(8000)
        self.put("p.nc", data)
        self.start(["send", "p.nc"])
        m = self.machine
        self.assertTrue(m.read_until(lambda r: len(r) >= 1000))
        m.send(DC3)  # the machine stalls and never answers again
        self.assertTrue(self.cli.wait_for("held by the machine (DC3) for "), self.cli.stderr())
        self.cli.signal(signal.SIGINT)
        self.assertEqual(self.cli.wait(), 1, self.cli.stderr())
        m.read_until_quiet()
        sent = len(m.received)
        self.assertLess(sent, len(data))
        self.assertEqual(self.last_line(),
                         "ferobrixlan-cli send: stopped (sent %d of %d)" % (sent, len(data)))

    def test_a_reception_ended_by_the_operator_saves_what_came_and_says_how_it_ended(self):
        part = program(100)[:1500]
        cases = [
            # mode, how the operator ends it, exit code, file, message
            ("Data In/Out", "quit", 1, b"\r\n" + part + b"\r\n", "Receive incomplete"),
            ("NOMAL", signal.SIGINT, 0, b"\r\n" + part, "Data saving"),
        ]
        for mode, end, code, saved, message in cases:
            with self.subTest(mode=mode):
                self.start(["receive", "got.nc", "--yes"], mode=mode)
                self.assertTrue(self.cli.wait_for("Receive waitting"), self.cli.stderr())
                self.machine.send(part)
                # All of it came: a quiet second writes it to the file.
                self.assertTrue(until(lambda: self.read("got.nc") == b"\r\n" + part, 30))
                self.cli.command(end) if end == "quit" else self.cli.signal(end)
                self.assertEqual(self.cli.wait(), code, self.cli.stderr())
                self.assertIn(message, self.cli.stderr())
                self.assertEqual(self.read("got.nc"), saved)

    def test_a_crash_costs_at_most_the_last_second(self):
        # Far below the 10000 characters of an intermediate save: the text
        # reaches the file after a quiet second, while the reception runs.
        data = program(200)
        self.start(["receive", "got.nc", "--yes"])
        self.assertTrue(self.cli.wait_for("Receive waitting"))
        self.machine.send(data)
        self.assertTrue(until(lambda: self.read("got.nc") == b"\r\n" + data, 30))
        self.cli.signal(signal.SIGKILL)
        self.cli.wait()
        self.assertEqual(self.read("got.nc"), b"\r\n" + data)

    def test_a_named_file_that_is_no_configuration_is_left_alone(self):
        program_text = program(200)
        self.put("O1000.nc", program_text)
        for command in (["settings"], ["send", "O1000.nc"], ["receive", "got.nc"]):
            r = self.run_cli(command + ["--config", "O1000.nc"])
            self.assertEqual(r.returncode, 2, command)
            self.assertIn(b"is not a configuration file", r.stderr)
            self.assertEqual(self.read("O1000.nc"), program_text)
        r = self.run_cli(["settings", "--config", "new.cfg"])  # a missing file is created
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(self.read("new.cfg").startswith(b'"","","ON","ON","OFF","1","9600"'))

    def test_a_line_that_cannot_be_set_sends_nothing_and_says_why(self):
        write_config(self.dir, baudRate="115200")
        self.put("p.nc", program(10))
        r = self.run_cli(["send", "p.nc", "--yes"])
        self.assertEqual(r.returncode, 1, r.stderr)
        lines = r.stderr.decode().strip().splitlines()
        self.assertIn('Communication seting error\n    The line cannot be set to baud rate "115200"',
                      "\n".join(lines))
        self.assertEqual(lines[-1], "ferobrixlan-cli send: port could not be opened")
        self.assertEqual(self.machine.read(0.2), b"")

    @unittest.skipUnless(os.geteuid() == 0, "needs root to mount a small file system")
    def test_a_disk_that_fills_up_and_frees_space_keeps_the_program_whole(self):
        disk = self.path("disk")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk]).returncode:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            with open(os.path.join(disk, "filler"), "wb") as f:
                try:
                    f.write(b"\0" * (230 * 1024))
                except OSError:
                    pass
            data = program(4000)  # about 100 KB: more than the disk holds
            self.start(["receive", "disk/got.nc", "--yes"])
            self.assertTrue(self.cli.wait_for("Receive waitting"))
            half = len(data) // 2
            self.machine.send(data[:half])
            self.assertTrue(self.cli.wait_for("cannot be written"), self.cli.stderr())
            os.remove(os.path.join(disk, "filler"))  # space again
            self.machine.send(data[half:])
            self.assertTrue(until(lambda: self.read("disk/got.nc") == b"\r\n" + data, 30),
                            "the program came out changed")
            self.cli.command("quit")
            self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
            self.assertTrue(self.read("disk/got.nc") == b"\r\n" + data)
        finally:
            subprocess.run(["umount", "-l", disk])


@unittest.skipUnless(have("socat"), "socat is not installed")
class ForeignPeers(unittest.TestCase):
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

    def put(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    @unittest.skipUnless(have("ascii-xfr") and have("stty"), "minicom's ascii-xfr is missing")
    def test_ascii_xfr_punches_into_a_mark_mode_receive(self):
        write_config(self.dir, mode="Data In/Out")
        body = program(8000)
        self.put("punch.nc", b"leader text\r\n" + body + b"trailer\r\n")
        self.cli = Cli(CLI, self.dir, ["receive", "got.nc"], self.pair.pc)
        self.assertTrue(self.cli.wait_for("status: Receive waitting"))
        # The kernel on the machine's side obeys the PC's XOFF/XON itself.
        subprocess.run(["stty", "-F", self.pair.machine, "ixon"], check=True)
        with open(self.pair.machine, "rb+", buffering=0) as line:
            xfr = subprocess.run(["ascii-xfr", "-s", "-n", "punch.nc"], cwd=self.dir,
                                 stdin=line, stdout=line, stderr=subprocess.DEVNULL, timeout=120)
        self.assertEqual(xfr.returncode, 0)
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        with open(os.path.join(self.dir, "got.nc"), "rb") as f:
            self.assertEqual(f.read(), b"\r\n" + body[: body.rindex(b"%") + 1])

    # A machine played by pyserial drives a DNC send: nothing before its DC1,
    # DC3 obeyed at each full buffer; the operator holds it (its dwell blocks
    # begin at a line end) and lets it go on.
    def test_pyserial_machine_drives_a_dnc_send_the_operator_holds(self):
        import serial  # python3-serial

        write_config(self.dir, mode="DNC")
        data = program(3000)
        self.put("prog.nc", data)
        line = serial.Serial(self.pair.machine, 9600, timeout=0.05)
        try:
            self.cli = Cli(CLI, self.dir, ["send", "prog.nc"], self.pair.pc)
            self.assertTrue(self.cli.wait_for("Waiting Machine Receive Singnal"))
            self.assertEqual(line.read(100), b"")
            line.write(DC1)
            got = bytearray()
            rounds, held, resumed = 0, False, False
            deadline = time.monotonic() + 120
            while got.replace(DWELL, b"") != data and time.monotonic() < deadline:
                got += line.read(512)
                if len(got) // 8192 > rounds:
                    rounds += 1
                    line.write(DC3)  # the machine's buffer is full
                    got += line.read(65536)
                    line.write(DC1)
                if not held and len(got) > len(data) // 3:
                    held = True
                    self.cli.command("quit")  # "hold on"
                if held and not resumed and got.count(DWELL) >= 5:
                    resumed = True
                    self.cli.command("start")  # "Keep on"
            self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
            got += line.read(65536)
            self.assertGreater(rounds, 3)
            blocks, at = got.count(DWELL), got.index(DWELL)
            self.assertGreaterEqual(blocks, 5)
            self.assertEqual(got[at - 2:at + blocks * len(DWELL)], b"\r\n" + DWELL * blocks,
                             "the hold began inside a block")
            self.assertEqual(bytes(got.replace(DWELL, b"")), data)
        finally:
            line.close()


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1].startswith("--cli="):
        CLI = sys.argv.pop(1)[len("--cli="):]
    unittest.main(verbosity=2)
