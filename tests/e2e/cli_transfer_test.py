# ferobrixlan-cli send and receive as a process: its commands on standard
# input, Ctrl-C, its exit codes and last lines, and what reaches the disk, over
# a pseudo-terminal whose machine end the test holds byte by byte; and against
# peers nobody here wrote (pyserial, minicom's ascii-xfr).

import os
import signal
import subprocess
import unittest

from linepeers import DC1, DC3, PATHS, LineEnd, Scratch, SocatPair, have, main, program, until

DWELL = b"G4X0.001\r\n"


class OnAPty(Scratch):
    def setUp(self):
        super().setUp()
        self.machine = LineEnd()
        self.addCleanup(self.machine.close)

    def test_counts_after_ctrl_c_in_a_stalled_send_are_what_went_out(self):
        data = program(8000)
        self.put("p.nc", data)
        self.start_cli(["send", "p.nc"], self.machine.device)
        self.assertTrue(self.machine.read_until(lambda r: len(r) >= 1000))
        self.machine.send(DC3)  # the machine stalls and never answers again
        self.assertTrue(self.cli.wait_for("held by the machine (DC3) for "), self.cli.stderr())
        self.cli.process.send_signal(signal.SIGINT)
        self.assertEqual(self.cli.wait(), 1, self.cli.stderr())
        self.machine.read_until_quiet()
        sent = len(self.machine.received)
        self.assertLess(sent, len(data))
        self.assertEqual(self.cli.stderr().strip().splitlines()[-1],
                         "ferobrixlan-cli send: stopped (sent %d of %d)" % (sent, len(data)))

    # Far below the 10000 characters of an intermediate save, what came is in
    # the file after a quiet second while the reception runs (a crash costs at
    # most that second); how the reception ends decides the rest.
    def test_a_reception_keeps_what_came_however_it_ends(self):
        part = program(100)[:1500]
        cases = [
            # mode, how it ends, exit code, file
            ("Data In/Out", "quit", 1, b"\r\n" + part + b"\r\n"),  # incomplete: as it is
            ("NOMAL", signal.SIGINT, 0, b"\r\n" + part),
            ("NOMAL", signal.SIGKILL, -signal.SIGKILL, b"\r\n" + part),
        ]
        for mode, end, code, saved in cases:
            with self.subTest(mode=mode, end=end):
                self.start_cli(["receive", "got.nc", "--yes"], self.machine.device, mode=mode)
                self.assertTrue(self.cli.wait_for("Receive waitting"), self.cli.stderr())
                self.machine.send(part)
                self.assertTrue(until(lambda: self.read("got.nc") == b"\r\n" + part, 30))
                self.cli.command(end) if end == "quit" else self.cli.process.send_signal(end)
                self.assertEqual(self.cli.wait(), code, self.cli.stderr())
                self.assertEqual(self.read("got.nc"), saved)

    def test_a_named_file_that_is_no_configuration_is_left_alone(self):
        self.put("O1000.nc", program(200))
        for command in (["settings"], ["send", "O1000.nc"], ["receive", "got.nc"]):
            r = subprocess.run([PATHS["cli"]] + command + ["--config", "O1000.nc"], cwd=self.dir,
                               capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
            self.assertEqual(r.returncode, 2, (command, r.stderr))
            self.assertEqual(self.read("O1000.nc"), program(200))

    @unittest.skipUnless(os.geteuid() == 0, "needs root to mount a small file system")
    def test_a_disk_that_fills_up_and_frees_space_keeps_the_program_whole(self):
        disk = self.path("disk")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk]).returncode:
            self.skipTest("tmpfs cannot be mounted here")
        self.addCleanup(subprocess.run, ["umount", "-l", disk])
        self.put("disk/filler", bytes(230 * 1024))
        data = program(4000)  # about 100 KB: more than the disk holds
        self.start_cli(["receive", "disk/got.nc", "--yes"], self.machine.device)
        self.assertTrue(self.cli.wait_for("Receive waitting"))
        self.machine.send(data[:60000])
        self.assertTrue(self.cli.wait_for("cannot be written"), self.cli.stderr())
        os.remove(self.path("disk/filler"))  # space again
        self.machine.send(data[60000:])
        until(lambda: self.read("disk/got.nc") == b"\r\n" + data, 30)
        self.cli.command("quit")
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        self.assertEqual(self.read("disk/got.nc"), b"\r\n" + data)


@unittest.skipUnless(have("socat"), "socat is not installed")
class ForeignPeers(Scratch):
    def setUp(self):
        super().setUp()
        self.pair = SocatPair(self.dir)
        self.addCleanup(self.pair.close)

    @unittest.skipUnless(have("ascii-xfr") and have("stty"), "minicom's ascii-xfr is missing")
    def test_ascii_xfr_punches_into_a_mark_mode_receive(self):
        body = program(8000)
        self.put("punch.nc", b"leader text\r\n" + body + b"trailer\r\n")
        self.start_cli(["receive", "got.nc"], self.pair.pc, mode="Data In/Out")
        self.assertTrue(self.cli.wait_for("status: Receive waitting"))
        # The kernel on the machine's side obeys the PC's XOFF/XON itself.
        subprocess.run(["stty", "-F", self.pair.machine, "ixon"], check=True)
        with open(self.pair.machine, "rb+", buffering=0) as line:
            subprocess.run(["ascii-xfr", "-s", "-n", "punch.nc"], cwd=self.dir, check=True,
                           stdin=line, stdout=line, stderr=subprocess.DEVNULL, timeout=120)
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        self.assertEqual(self.read("got.nc"), b"\r\n" + body[: body.rindex(b"%") + 1])

    # A machine played by pyserial drives a DNC send: nothing goes before its
    # DC1; the operator holds the send (its dwell blocks begin at a line end)
    # and lets it go on.
    def test_pyserial_machine_drives_a_dnc_send_the_operator_holds(self):
        import serial  # python3-serial

        data = program(3000)
        self.put("prog.nc", data)
        line = self.enterContext(serial.Serial(self.pair.machine, 9600, timeout=0.05))
        self.start_cli(["send", "prog.nc"], self.pair.pc, mode="DNC")
        self.assertTrue(self.cli.wait_for("Waiting Machine Receive Singnal"))
        self.assertEqual(line.read(100), b"")
        line.write(DC1)
        got = bytearray()
        for command, enough in (("quit", lambda: len(got) > len(data) // 3),  # "hold on"
                                ("start", lambda: got.count(DWELL) >= 5),  # "Keep on"
                                (None, lambda: got.replace(DWELL, b"") == data)):
            until(lambda: enough() or got.extend(line.read(4096)), 60, 0)
            if command:
                self.cli.command(command)
        self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
        blocks, at = got.count(DWELL), got.index(DWELL)
        self.assertGreaterEqual(blocks, 5)
        self.assertEqual(got[at - 2:at + blocks * len(DWELL)], b"\r\n" + DWELL * blocks,
                         "the hold began inside a block")
        self.assertEqual(bytes(got.replace(DWELL, b"")), data)

if __name__ == "__main__":
    main()
