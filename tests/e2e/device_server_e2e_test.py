# ferobrixlan-cli on network ports: a serial device server in front of a line
# with ferobrixlan-machine at its far end. The servers are ser2net (an RFC 2217
# accepter and a raw TCP accepter) and pyserial's RFC 2217 PortManager.

# Every program carries each byte value 0..255 (0xFF is Telnet's IAC), so a
# byte lost, doubled or taken for a Telnet command shows in the comparison.

import os
import signal
import termios
import unittest

from linepeers import PATHS, Rfc2217Peer, Scratch, Ser2net, SimulatedMachine, as_hardware, have, main, program, until

# Every byte value needs 8 data bits; pyserial cannot set 7 on the
# pseudo-terminal behind its server. Two stop bits, so that the setting is
# seen on the line behind ser2net, whose own is one.
EIGHT_BITS = dict(baudRate=57600, dataBits=8, parity="n", stopBits=2)
DATA = program(120).replace(b"O1234\r\n", b"O1234\r\n" + bytes(range(256)) + b"\r\n")


@unittest.skipUnless(have("ser2net"), "ser2net is not installed (scripts/deps.sh installs it)")
class DeviceServers(Scratch):
    def run_cli(self, server, role, command, *machine_args):
        # The machine in role, the named device server in front of it, the
        # command line running command on DATA (prog.nc); the peers of each
        # run in a directory of their own.
        self.put("prog.nc", DATA)
        own = self.path(server + "-" + role)
        os.mkdir(own)
        self.machine = SimulatedMachine(PATHS["machine"], own, role, *machine_args)
        self.addCleanup(self.machine.stop)
        as_hardware(self.machine.process.pid)
        if server == "pyserial":
            peer = Rfc2217Peer(self.machine.device)
            url = peer.url
        else:
            peer = Ser2net(self.machine.device, own)
            as_hardware(peer.process.pid)
            url = peer.url("rfc2217" if server == "ser2net" else "tcp")
        self.addCleanup(peer.stop)
        self.start_cli(command, url, **EIGHT_BITS)

    def test_send_and_receive_arrive_byte_exact(self):
        received = b"\r\n" + DATA.replace(b"\0", b"")  # NUL is blank tape
        for server in ("ser2net", "raw", "pyserial"):
            with self.subTest(server=server, way="send, paced by a small buffer"):
                out = self.path(server + ".out")
                self.run_cli(server, "receive", ["send", "prog.nc", "--yes"],
                             "--out", out, "--baud", 57600, "--bits", 11,
                             "--buffer", 256, "--drain", 2500)
                if server == "ser2net":
                    # The settings went to the line behind the server, which
                    # ser2net had set to 19200 baud and one stop bit.
                    self.assertTrue(self.cli.wait_for("Send Start"), self.cli.stderr())
                    fd = os.open(self.machine.device, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
                    line = termios.tcgetattr(fd)
                    os.close(fd)
                    self.assertEqual(line[5], termios.B57600)
                    self.assertTrue(line[2] & termios.CSTOPB)
                self.assertEqual(self.cli.wait(120), 0, self.cli.stderr())
                self.machine.summary()
                self.assertEqual(self.read(out), DATA.upper(),
                                 self.machine.stderr()[-2000:] + self.cli.stderr()[-1000:])
            with self.subTest(server=server, way="receive"):
                # A second of blank tape first: the NULs that come before the
                # command has opened its line are lost, the rest is dropped.
                got = server + ".nc"
                self.run_cli(server, "punch", ["receive", got, "--yes"], self.path("prog.nc"),
                             "--baud", 57600, "--bits", 11, "--wait", 0.5, "--leader", 5000)
                # Continuous mode: everything is in the file after a quiet
                # second; the operator's quit then saves it as it is.
                self.assertTrue(until(lambda: self.read(got) == received, 60), self.machine.stderr())
                self.cli.process.send_signal(signal.SIGINT)
                self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
                self.assertEqual(self.read(got), received)
                # The XOFF and XON around each hand-over reached the machine,
                # and the XOFF of the quit; nothing else did (no Telnet byte).
                s = self.machine.summary()
                self.assertEqual(s["other-received"], "0", "Telnet bytes reached the line")
                self.assertGreaterEqual(int(s["dc1-received"]), 1)
                self.assertEqual(int(s["dc3-received"]), int(s["dc1-received"]) + 1)


if __name__ == "__main__":
    main()
