# ferobrixlan-machine, the simulated machine tool, driven from the PC's end of
# its line by the test: the start signal, its buffer's DC3/DC1 rounds, what it
# counts, a stall, the end after an idle spell, a punch held by the PC's DC3,
# the EIA tape. Every wait ends as soon as its condition holds.

import os
import sys
import tempfile
import time
import tty
import unittest
import zlib

from linepeers import DC1, DC3, LineEnd, SimulatedMachine, program, program_paths, until

MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")
DWELLS = b"G4X0.001\r\nGG4X0.001\r\nG4X0.01\r\n"  # two dwell blocks, one behind a stray "G"

# The tape code of the characters of program(): the tape's own rule for
# letters and digits (a digit's value in the lower holes, 0 as hole 6, a zone
# above it: A..I holes 6 and 7, J..R hole 7, S..Z hole 6 from 2 on; the
# parity hole 5 makes the count of holes odd), its end of block for LF, no CR.
def eia(text):
    def code(c):
        ch = chr(c)
        if ch == "0":
            v = 0x20
        elif "1" <= ch <= "9":
            v = c - 0x30
        elif "A" <= ch <= "I":
            v = 0x60 | (c - 0x40)
        elif "J" <= ch <= "R":
            v = 0x40 | (c - 0x49)
        elif "S" <= ch <= "Z":
            v = 0x20 | (c - 0x51)
        else:
            return {"%": 0x5B, " ": 0x10}.get(ch, c)
        return v if bin(v).count("1") % 2 else v | 0x10
    return bytes(0x80 if c == 10 else code(c) for c in text if c != 13)


class Machine(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.machine = self.pc = None

    def tearDown(self):
        if self.pc:
            self.pc.close()
        if self.machine:
            self.machine.stop()
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def start(self, role, *args):
        # The machine in role, the PC's end of its line open and raw.
        self.machine = SimulatedMachine(MACHINE, self.tmp.name, role, *args)
        self.pc = LineEnd(self.machine.device)

    def punch(self, data, *args):
        with open(self.path("prog.nc"), "wb") as f:
            f.write(data)
        self.start("punch", self.path("prog.nc"), "--wait", 0.1, *args)

    def send_obeying(self, data):
        # One byte at a time, never while the machine holds the line, no
        # faster than a 38400-baud line takes them (four a millisecond): a PC
        # at memory speed would outrun the DC3 through the pty.
        for i in range(len(data)):
            if i % 4 == 0:
                time.sleep(0.001)
            self.pc.read(0)
            self.assertTrue(self.pc.read_until(lambda r: not self.pc.held))
            os.write(self.pc.fd, data[i:i + 1])

    def listen(self, seconds):
        self.pc.read_until(lambda r: False, seconds)

    def summary(self):
        # The PC closes the line; the machine ends and sums up.
        self.pc.close()
        return self.machine.summary()

    def test_receive_stores_every_byte_once_and_in_order_through_many_holds(self):
        data = program(20) + DWELLS + program(20)
        self.start("receive", "--start-dc1", "--wait", 0.1, "--buffer", 64, "--drain", 600,
                   "--out", self.path("stored.nc"))
        self.pc.held = True  # like "Data In/Out" and "DNC": nothing before the DC1
        self.send_obeying(data)
        # Every byte read and the last hold over: the machine has no more to say.
        stored = self.path("stored.nc")
        self.assertTrue(self.pc.read_until(
            lambda r: os.path.getsize(stored) == len(data) and not self.pc.held))
        s = self.summary()
        with open(stored, "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(self.pc.received[:1], DC1, "the start signal comes first")
        dc3 = self.pc.received.count(DC3)
        self.assertGreaterEqual(dc3, 3, "the buffer should have filled several times")
        # A DC1 after each DC3 (and the start signal again once the line is quiet).
        self.assertEqual(self.pc.received[1:1 + 2 * dc3], (DC3 + DC1) * dc3)
        self.assertEqual((s["end"], s["bytes-received"], s["crc32"], s["dwell-blocks"]),
                         ("pc-closed", str(len(data)), "%08X" % zlib.crc32(data), "2"))
        self.assertEqual((s["dc3-sent"], s["dc1-sent"]),
                         (str(dc3), str(self.pc.received.count(DC1))))
        self.assertEqual(len(s["overrun"].split(",")), dc3, "one overrun figure per DC3")

    def test_the_overrun_counts_only_what_the_pc_sent_after_the_dc3_went_out(self):
        # 100 bytes at once wait on the line for a machine that reads at 19200
        # baud: at its DC3 the rest are queued, on time; three more sent after
        # the DC3 arrived are the overrun.
        self.start("receive", "--quiet", "--baud", 19200, "--buffer", 400, "--high", 40,
                   "--low", 10, "--drain", 200)
        os.write(self.pc.fd, b"G" * 100)
        self.assertTrue(self.pc.read_until(lambda r: self.pc.held))
        os.write(self.pc.fd, b"XYZ")
        self.assertTrue(self.pc.read_until(lambda r: not self.pc.held, 10))
        s = self.summary()
        self.assertEqual(s["overrun"], "3")
        self.assertGreater(int(s["queued-at-dc3"]), 40)
        self.assertEqual(int(s["read-after-dc3"]), int(s["queued-at-dc3"]) + 3)

    def test_a_stalled_receive_sends_dc3_and_then_nothing(self):
        self.start("receive", "--quiet", "--stall-after", 30, "--buffer", 100,
                   "--out", self.path("stored.nc"))
        self.send_obeying(b"G" * 30)
        self.assertTrue(self.pc.read_until(lambda r: self.pc.held))
        os.write(self.pc.fd, b"G" * 7)  # held or not
        self.listen(0.5)
        self.assertEqual(self.pc.received, DC3, "no DC1 may follow")
        s = self.summary()
        self.assertEqual((s["stalled"], s["dc1-sent"], s["overrun"]), ("yes", "0", "7"))

    def test_idle_ends_a_receive_and_the_pc_sees_the_line_go(self):
        self.start("receive", "--quiet", "--idle", 0.3)
        self.assertTrue(until(lambda: self.pc.read() is None, 60, 0), "the line stays")
        self.assertEqual(self.machine.summary()["end"], "idle")

    def test_a_punch_holds_at_the_pcs_dc3_and_goes_on_at_its_dc1(self):
        data = program(100)
        self.punch(data, "--baud", 9600)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= 600))
        os.write(self.pc.fd, DC3)
        holding = "DC3 from the PC at byte "
        self.assertTrue(self.machine.wait_for(holding))
        at_hold = int(self.machine.stderr().split(holding)[1].split(":")[0])
        self.assertLess(at_hold, len(data))
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= at_hold))
        self.listen(0.3)
        self.assertEqual(len(self.pc.received), at_hold, "nothing may come while held")
        os.write(self.pc.fd, DC1)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= len(data)))
        self.assertEqual(self.pc.received, data)

    def test_an_eia_punch_is_the_tape_code_after_its_leader(self):
        data = program(20)
        self.punch(data, "--eia", "--leader", 20)
        tape = b"\0" * 20 + eia(data)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= len(tape)))
        self.assertEqual(self.pc.received, tape)

    def test_a_file_in_the_place_of_the_link_is_left_alone(self):
        with open(self.path("machine-line"), "w") as f:
            f.write("keep me")
        self.machine = SimulatedMachine(MACHINE, self.tmp.name, "receive")
        self.assertEqual(self.machine.wait(), 2)
        with open(self.path("machine-line")) as f:
            self.assertEqual(f.read(), "keep me")


if __name__ == "__main__":
    MACHINE = program_paths(sys.argv, machine=MACHINE)["machine"]
    unittest.main(verbosity=2)
