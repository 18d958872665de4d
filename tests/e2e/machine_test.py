# ferobrixlan-machine, the simulated machine tool, driven from the PC's end of
# its line by the test: the start signal, its buffer's DC3/DC1 rounds, what it
# counts, a punch held by the PC's DC3, the EIA tape. Every wait ends as soon
# as its condition holds.

import os
import time
import zlib

from linepeers import DC1, DC3, PATHS, LineEnd, Scratch, SimulatedMachine, main, program



class Machine(Scratch):
    def start(self, role, *args):
        # The machine in role, the PC's end of its line open and raw.
        self.machine = SimulatedMachine(PATHS["machine"], self.dir, role, *args)
        self.addCleanup(self.machine.stop)
        self.pc = LineEnd(self.machine.device)
        self.addCleanup(self.pc.close)

    def punch(self, data, *args):
        self.put("prog.nc", data)
        self.start("punch", self.path("prog.nc"), "--wait", 0.1, *args)

    def send_obeying(self, data):
        # One byte at a time, never while the machine holds the line, no
        # faster than a 38400-baud line takes them (four a millisecond): a PC
        # at memory speed would outrun the DC3 through the pty.
        for i in range(len(data)):
            time.sleep(0.00025)
            self.pc.read(0)
            self.assertTrue(self.pc.read_until(lambda r: not self.pc.held))
            os.write(self.pc.fd, data[i:i + 1])

    def test_receive_stores_every_byte_once_and_in_order_through_many_holds(self):
        # Two dwell blocks, one behind a stray "G".
        data = program(20) + b"G4X0.001\r\nGG4X0.001\r\nG4X0.01\r\n" + program(20)
        self.start("receive", "--start-dc1", "--wait", 0.1, "--buffer", 64, "--drain", 600,
                   "--out", self.path("stored.nc"))
        self.pc.held = True  # like "Data In/Out" and "DNC": nothing before the DC1
        self.send_obeying(data)
        # Every byte read, the last hold over and the start signal given again
        # on the quiet line: the machine has no more to say. (Stored and
        # released alone is not enough: the last bytes may still fill the
        # buffer to its DC3.)
        self.assertTrue(self.pc.read_until(
            lambda r: os.path.getsize(self.path("stored.nc")) == len(data) and r.count(DC1) == r.count(DC3) + 2))
        self.pc.close()  # the machine ends and sums up
        s = self.machine.summary()
        self.assertEqual(self.read("stored.nc"), data)
        dc3 = self.pc.received.count(DC3)
        self.assertGreaterEqual(dc3, 3, "the buffer should have filled several times")
        self.assertEqual((s["end"], s["bytes-received"], s["crc32"], s["dwell-blocks"]),
                         ("pc-closed", str(len(data)), "%08X" % zlib.crc32(data), "2"))

    def test_the_overrun_counts_only_what_the_pc_sent_after_the_dc3_went_out(self):
        # 100 bytes at once wait on the line for a machine that reads at 19200
        # baud: at its DC3 the rest are queued, on time; three more sent after
        # the DC3 arrived are the overrun.
        self.start("receive", "--quiet", "--baud", 19200, "--buffer", 400, "--high", 40, "--low", 10, "--drain", 200)
        os.write(self.pc.fd, b"G" * 100)
        self.assertTrue(self.pc.read_until(lambda r: self.pc.held))
        os.write(self.pc.fd, b"XYZ")
        self.assertTrue(self.pc.read_until(lambda r: not self.pc.held, 10))
        self.pc.close()  # the machine ends and sums up
        s = self.machine.summary()
        self.assertEqual(s["overrun"], "3")
        self.assertGreater(int(s["queued-at-dc3"]), 40)

    def test_a_punch_holds_at_the_pcs_dc3_and_goes_on_at_its_dc1(self):
        data = program(100)
        self.punch(data, "--baud", 9600)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= 600))
        os.write(self.pc.fd, DC3)
        self.assertTrue(self.machine.wait_for("DC3 from the PC at byte "))
        self.pc.read_until_quiet()  # what was on its way
        held_at = len(self.pc.received)
        self.pc.read_until_quiet(0.5)
        self.assertEqual(len(self.pc.received), held_at, "nothing may come while held")
        self.assertLess(held_at, len(data))
        os.write(self.pc.fd, DC1)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= len(data)))
        self.assertEqual(self.pc.received, data)

    def test_an_eia_punch_is_the_tape_code_after_its_leader(self):
        # A letter or digit in a code of odd parity (each one's own code is the
        # EIA table's test), 0x80 for the end of a block, no CR.
        data = program(20)
        text = data.replace(b"\r", b"")
        self.punch(data, "--eia", "--leader", 20)
        self.assertTrue(self.pc.read_until(lambda r: len(r) >= 20 + len(text)))
        tape = self.pc.received
        self.assertEqual((tape[:20], len(tape)), (bytes(20), 20 + len(text)))
        pairs = list(zip(text, tape[20:]))
        self.assertEqual([t for c, t in pairs if c == 10], [0x80] * text.count(b"\n"))
        even = [chr(c) for c, t in pairs if chr(c).isalnum() and bin(t).count("1") % 2 == 0]
        self.assertEqual(even, [], "letters or digits punched with an even count of holes")

if __name__ == "__main__":
    main()
