# ferobrixlan-cli over two serial ports of this computer joined by a
# null-modem cable: the PC's port and the machine's, the machine played by the
# test. Run by scripts/test-line DEV1 DEV2, so that a shop can prove its own
# adapters and cables:

#   - a send arrives byte-exact, held by DC3 every 1000 bytes; the bytes that
#     still reach the machine after each DC3 are reported (a UART stops within
#     four; a USB adapter whose own FIFO the driver does not count may let
#     more through, and more than 16 in a typical round fails: a machine with
#     a small buffer would overflow);
#   - a receive of every byte value but NUL and "%" arrives byte-exact;
#   - DSR follows the far end's DTR through the cable, or the cable is found
#     to carry no modem lines (reported as a skip, not failed).

#     line_test.py --cli=ferobrixlan-cli [--baud 9600] DEV1 DEV2
#     line_test.py --cli=ferobrixlan-cli --ptys      the same over a socat pty pair,
#                                                    paced as a line (the suite's own check)

import argparse
import os
import sys
import tempfile
import unittest

from linepeers import LineMachine, Scratch, SocatPair, every_byte_punch, main, program, until

ARGS = None


class Line(Scratch):
    def setUp(self):
        super().setUp()
        self.machine = LineMachine(ARGS.machine_port, ARGS.baud, dc3_every=1000)
        self.addCleanup(self.machine.stop)

    def start(self, verb, name, data=None, **config):
        if data is not None:
            self.put(name, data)
        self.start_cli([verb, name, "--yes"], ARGS.pc_port, baudRate=ARGS.baud, dataBits=8,
                       parity="n", stopBits=1, **config)

    def test_send_byte_exact_and_the_bytes_after_dc3(self):
        data = program(200)
        self.start("send", "prog.nc", data)
        self.assertEqual(self.cli.wait(120), 0, self.cli.stderr())
        until(lambda: len(self.machine.received) >= len(data), 30)
        self.assertEqual(bytes(self.machine.received), data)
        overruns = self.machine.overruns
        print("\nbytes after each DC3: %s (a UART stops within 4)" % overruns, file=sys.stderr)
        typical = sorted(overruns)[len(overruns) // 2]
        self.assertLessEqual(typical, 16,  # a machine with a small buffer would overflow
                             "the adapter lets %d characters out after DC3" % typical)

    def test_receive_every_byte_value(self):
        tape, stored = every_byte_punch(40)
        self.start("receive", "got.nc", mode="Data In/Out")
        self.assertTrue(self.cli.wait_for("Receive waitting"), self.cli.stderr())
        self.machine.to_punch = tape
        self.assertEqual(self.cli.wait(60), 0, self.cli.stderr())
        self.assertEqual(self.read("got.nc"), stored)

    def test_dsr_follows_the_far_dtr(self):
        data = program(40)
        if not self.machine.set_dtr(False):
            self.skipTest("%s has no modem lines" % ARGS.machine_port)
        self.start("send", "prog.nc", data, handshake="Brix")
        held = self.cli.wait_for("waiting for DSR", 10) and len(self.machine.received) == 0
        self.machine.set_dtr(True)
        if not held:
            self.skipTest('the cable carries no DTR to DSR: no hardware handshake ("Brix") on it')
        self.assertEqual(self.cli.wait(60), 0, self.cli.stderr())
        self.assertEqual(bytes(self.machine.received), data)


def setUpModule():
    if ARGS.ptys:
        pair = SocatPair(unittest.enterModuleContext(tempfile.TemporaryDirectory()))
        unittest.addModuleCleanup(pair.close)
        ARGS.pc_port, ARGS.machine_port = pair.pc, pair.machine
        os.environ["FEROBRIXLAN_PACE_PTY"] = "1"


def take_arguments():
    global ARGS
    parser = argparse.ArgumentParser(
        description="ferobrixlan-cli over two serial ports joined by a null-modem cable")
    parser.add_argument("--baud", type=int, default=9600, choices=(1200, 2400, 4800, 9600, 19200, 38400, 57600))
    parser.add_argument("--ptys", action="store_true",
                        help="two linked pseudo-terminals made by socat instead of ports")
    parser.add_argument("pc_port", nargs="?", help="the port ferobrixlan-cli uses")
    parser.add_argument("machine_port", nargs="?", help="the port at the cable's other end")
    ARGS, sys.argv[1:] = parser.parse_known_args()  # --cli= is left to main()
    if not ARGS.ptys and not ARGS.machine_port:
        parser.error("give DEV1 and DEV2, or --ptys")

if __name__ == "__main__":
    take_arguments()
    main()
