# ferobrixlan-cli on network ports: a serial device server in front of a line
# with ferobrixlan-machine at its far end. The servers are ser2net (an RFC 2217
# accepter and a raw TCP accepter) and pyserial's RFC 2217 PortManager.

# Every program carries each byte value 0..255 (0xFF is Telnet's IAC), so a
# byte lost, doubled or taken for a Telnet command shows in the comparison.

import os
import signal
import sys
import tempfile
import termios
import unittest

from linepeers import (Cli, Rfc2217Peer, Ser2net, SimulatedMachine, as_hardware, have, program,
                       program_paths, until, write_config)

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")

# Every byte value needs 8 data bits; pyserial cannot set 7 on the
# pseudo-terminal behind its server. Two stop bits, so that the setting is
# seen on the line behind ser2net, whose own is one.
EIGHT_BITS = dict(baudRate=57600, dataBits=8, parity="n", stopBits=2)


def every_byte_program(lines):
    text = program(lines)
    cut = text.index(b"\r\n", len(text) // 2) + 2
    return text[:cut] + bytes(range(256)) + b"\r\n" + text[cut:]


@unittest.skipUnless(have("ser2net"), "ser2net is not installed (scripts/deps.sh installs it)")
class DeviceServers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.machine = self.cli = self.server = None

    def tearDown(self):
        self.end_run()
        self.tmp.cleanup()

    def end_run(self):
        for peer in (self.cli, self.server, self.machine):
            if peer:
                peer.kill() if isinstance(peer, Cli) else peer.stop()
        self.machine = self.cli = self.server = None

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, name):
        try:
            with open(self.path(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def run_cli(self, server, role, data, command, *machine_args, **config):
        # The machine in role, the named device server in front of it, the
        # command line running command on data.
        self.end_run()
        for name in ("got.nc", "machine.out"):
            if os.path.exists(self.path(name)):
                os.remove(self.path(name))
        with open(self.path("prog.nc"), "wb") as f:
            f.write(data)
        self.machine = SimulatedMachine(MACHINE, self.dir, role, *machine_args)
        as_hardware(self.machine.process.pid)
        if server == "pyserial":
            self.server = Rfc2217Peer(self.machine.device)
            url = self.server.url()
        else:
            self.server = Ser2net(self.machine.device, self.dir)
            as_hardware(self.server.process.pid)
            url = self.server.url("rfc2217" if server == "ser2net" else "tcp")
        write_config(self.dir, **config)
        self.cli = Cli(CLI, self.dir, command, url)

    def test_send_paced_by_a_small_buffer_arrives_byte_exact(self):
        data = every_byte_program(120)
        for server in ("ser2net", "raw", "pyserial"):
            with self.subTest(server=server):
                self.run_cli(server, "receive", data, ["send", "prog.nc", "--yes"],
                             "--out", self.path("machine.out"), "--baud", 57600, "--bits", 11,
                             "--buffer", 256, "--drain", 2500, **EIGHT_BITS)
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
                self.assertEqual(self.read("machine.out"), data.upper(),
                                 self.machine.stderr()[-2000:] + self.cli.stderr()[-1000:])

    def test_receive_arrives_byte_exact(self):
        data = every_byte_program(200)
        received = b"\r\n" + data.replace(b"\0", b"")  # NUL is blank tape
        for server in ("ser2net", "raw", "pyserial"):
            with self.subTest(server=server):
                # A second of blank tape first: the NULs that come before the
                # command has opened its line are lost, the rest is dropped.
                self.run_cli(server, "punch", data, ["receive", "got.nc", "--yes"],
                             self.path("prog.nc"), "--baud", 57600, "--bits", 11, "--wait", 0.5,
                             "--leader", 5000, **EIGHT_BITS)
                # Continuous mode: everything is in the file after a quiet
                # second; the operator's quit then saves it as it is.
                self.assertTrue(until(lambda: self.read("got.nc") == received, 60),
                                self.machine.stderr())
                self.cli.signal(signal.SIGINT)
                self.assertEqual(self.cli.wait(), 0, self.cli.stderr())
                self.assertEqual(self.read("got.nc"), received)
                # The XOFF and XON around each hand-over reached the machine,
                # and the XOFF of the quit; nothing else did (no Telnet byte).
                s = self.machine.summary()
                self.assertEqual(s["other-received"], "0", "Telnet bytes reached the line")
                self.assertGreaterEqual(int(s["dc1-received"]), 1)
                self.assertEqual(int(s["dc3-received"]), int(s["dc1-received"]) + 1)


if __name__ == "__main__":
    paths = program_paths(sys.argv, cli=CLI, machine=MACHINE)
    CLI, MACHINE = paths["cli"], paths["machine"]
    unittest.main(verbosity=2)
