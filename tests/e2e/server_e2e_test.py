"""ferobrixlan-server with a shop of simulated machines (ferobrixlan-machine,
each on a pseudo-terminal pair of its own): every machine punches an ISO and
an EIA program and then asks for a program, while one loses its cable, a
machine joins by SIGHUP, and a SIGTERM comes in the middle of a reception."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from linepeers import Ser2net, SimulatedMachine, have

SERVER = os.environ.get("FEROBRIXLAN_SERVER", "ferobrixlan-server")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")


def iso_program(number, lines):
    body = "".join("N%d G01 X%d.%03d Y-%d F300\r\n" % (n * 10, n % 97, n % 1000, n % 13)
                   for n in range(lines))
    return ("%%\r\nO%d (ISO PROGRAM)\r\n%sM30\r\n%%" % (number, body)).encode()


def eia_program(number, lines):
    """EIA tape carries no CR and no brackets: LF line ends, plain words."""
    body = "".join("N%d G00 X%d.5 Z-%d\n" % (n * 10, n % 50, n % 7) for n in range(lines))
    return ("%%\nO%d\n%sM30\n%%" % (number, body)).encode()


def request(name, word="LOAD"):
    return ("%%\r\n(%s %s)\r\n%%" % (word, name)).encode()


def not_found(name):
    return ("%%\r\n(%s NOT FOUND)\r\n%%" % name).encode()


class Shop:
    """A scratch shop: one folder per machine, shop.ini, the service."""

    def __init__(self, directory):
        self.dir = directory
        self.machines = {}
        self.sections = {}
        self.server = None
        self.errors = open(os.path.join(directory, "server.err"), "w+b")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def put(self, data, *parts):
        os.makedirs(os.path.dirname(self.path(*parts)), exist_ok=True)
        with open(self.path(*parts), "wb") as f:
            f.write(data)
        return self.path(*parts)

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def machine(self, name, programs, *args, **keys):
        """Starts a machine that punches programs (data, eia) in turn; its
        section in shop.ini is written by the next write_config()."""
        os.makedirs(self.path(name, "nc"), exist_ok=True)
        files = []
        for i, (data, eia) in enumerate(programs):
            files.append((self.put(data, name, "punch-%d.nc" % i), eia))
        line = ["punch", files[0][0]] + (["--eia"] if files[0][1] else [])
        for path, eia in files[1:]:
            line += ["--then-punch-eia" if eia else "--then-punch", path]
        machine = SimulatedMachine(MACHINE, self.path(name), *line, "--gap", 0.5, "--wait", 0.5,
                                   *args)
        self.machines[name] = machine
        section = {"port": machine.device, "databits": 8, "parity": "n", "code": "auto",
                   "folder": self.path(name, "nc")}
        section.update(keys)
        self.sections[name] = section
        return machine

    def write_config(self):
        text = "[service]\njournal = journal.jsonl\nstate = shop.state\n"
        for name, keys in self.sections.items():
            text += "\n[%s]\n" % name + "".join("%s = %s\n" % kv for kv in keys.items())
        self.put(text.encode(), "shop.ini")

    def start(self):
        self.write_config()
        self.server = subprocess.Popen([SERVER, "--config", self.path("shop.ini")], cwd=self.dir,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=self.errors)

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("utf-8", "replace")

    def journal(self):
        try:
            with open(self.path("journal.jsonl")) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []

    def records(self, machine, direction):
        return [r for r in self.journal() if r["machine"] == machine and r["direction"] == direction]

    def wait_for(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return
            if self.server.poll() is not None:
                break
            time.sleep(0.1)
        if not condition():
            raise AssertionError("%s did not happen within %d s\n%s" % (what, timeout, self.stderr()))

    def status(self):
        return subprocess.run([SERVER, "--config", self.path("shop.ini"), "--status"],
                              capture_output=True, text=True, timeout=10).stdout

    def close(self):
        if os.environ.get("FBX_KEEP"):
            print(self.stderr(), file=sys.stderr)
        if self.server and self.server.poll() is None:
            self.server.kill()
            self.server.wait()
        for m in self.machines.values():
            m.stop()
        self.errors.close()


class ShopTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.shop = Shop(self.tmp.name)

    def tearDown(self):
        self.shop.close()
        self.tmp.cleanup()

    def test_eight_machines_punch_and_ask_while_one_loses_its_cable_and_one_joins(self):
        shop = self.shop
        names = ["m%d" % i for i in range(1, 9)]
        expected = {}
        for i, name in enumerate(names, 1):
            iso, eia = iso_program(1000 + i, 40 + i), eia_program(2000 + i, 30 + i)
            answer = iso_program(5000 + i, 60)
            if name != "m8":  # m8 asks for a program its folder lacks
                shop.put(answer, name, "nc", "O%d.nc" % (5000 + i))
            else:
                answer = not_found("O%d" % (5000 + i))
            expected[name] = (iso, eia, answer)
            extra = ["--pull-after", 900] if name == "m7" else []
            if name == "m1":  # a small controller buffer: the answer goes out paced by DC3/DC1
                extra = ["--buffer", 256, "--drain", 600]
            shop.machine(name, [(iso, False), (eia, True), (request("O%d" % (5000 + i)), False)],
                         "--baud", 9600, "--then-receive", "--start-dc1", "--idle", 6,
                         "--out", shop.path(name, "answer.nc"), *extra)
        shop.start()

        # A ninth machine joins while the others punch; it asks with a
        # pattern of its own, for a name that would leave its folder.
        time.sleep(2)
        joined = iso_program(1999, 30)
        shop.machine("m9", [(joined, False), (request("../../etc/passwd", "GET"), False)],
                     "--then-receive", "--start-dc1", "--idle", 6,
                     "--out", shop.path("m9", "answer.nc"), request=r"\(GET ([^)]+)\)")
        shop.write_config()
        shop.server.send_signal(signal.SIGHUP)

        shop.wait_for(lambda: "m7  line lost, retrying" in shop.status(), 30, "m7's lost line")
        self.assertEqual([r["outcome"] for r in shop.records("m7", "line")], ["lost"])
        status = shop.status()
        for name in names + ["m9"]:
            self.assertIn("  %s  " % name, status)

        for name, machine in shop.machines.items():
            code = machine.wait(60)
            self.assertEqual(code, 3 if name == "m7" else 0, machine.stderr())

        for name in names:
            iso, eia, answer = expected[name]
            incoming = shop.path(name, "nc", "incoming")
            if name == "m7":
                partial = shop.read(name, "nc", "incoming", "O1007.nc.partial")
                self.assertTrue(partial.rstrip(b"\r\n") and iso.startswith(partial.rstrip(b"\r\n")),
                                partial)
                self.assertEqual(os.listdir(incoming), ["O1007.nc.partial"])
                continue
            self.assertEqual(shop.read(name, "nc", "incoming", "O%d.nc" % (1000 + int(name[1:]))),
                             iso, name)
            self.assertEqual(shop.read(name, "nc", "incoming", "O%d.nc" % (2000 + int(name[1:]))),
                             eia, name)
            self.assertEqual(sorted(os.listdir(incoming)), sorted(
                ["O%d.nc" % (1000 + int(name[1:])), "O%d.nc" % (2000 + int(name[1:]))]))
            self.assertEqual(shop.read(name, "answer.nc"), answer, name)
            sent = shop.records(name, "send")
            self.assertEqual([r["outcome"] for r in sent], ["sent"], name)
            self.assertEqual(sent[0]["bytes"], len(answer))
        self.assertEqual([r["outcome"] for r in shop.records("m8", "request")], ["not found"])
        self.assertEqual(shop.read("m9", "nc", "incoming", "O1999.nc"), joined)
        # Every byte a send puts on the line is upper-cased.
        self.assertEqual(shop.read("m9", "answer.nc"), not_found("../../ETC/PASSWD"))
        self.assertEqual([r["outcome"] for r in shop.records("m9", "request")], ["refused"])
        m7 = shop.records("m7", "receive")
        self.assertEqual([r["outcome"] for r in m7], ["partial"])

        # m7's cable is plugged in again: the line is opened again within 5 s
        # and serves as before.
        again = iso_program(1777, 10)
        shop.machine("m7", [(again, False)], "--idle", 20)
        shop.wait_for(lambda: os.path.exists(shop.path("m7", "nc", "incoming", "O1777.nc")), 20,
                      "m7's program after the line came back")
        self.assertEqual(shop.read("m7", "nc", "incoming", "O1777.nc"), again)
        self.assertEqual([r["outcome"] for r in shop.records("m7", "line")], ["lost", "reopened"])

        shop.server.send_signal(signal.SIGTERM)
        self.assertEqual(shop.server.wait(15), 0, shop.stderr())

    @unittest.skipUnless(have("ser2net"), "ser2net is not installed")
    def test_a_machine_behind_a_device_server(self):
        shop = self.shop
        program, answer = iso_program(3001, 50), iso_program(6001, 40)
        shop.put(answer, "net", "nc", "O6001.nc")
        machine = shop.machine("net", [(program, False), (request("O6001"), False)],
                               "--then-receive", "--start-dc1", "--idle", 6,
                               "--out", shop.path("net", "answer.nc"))
        device_server = Ser2net(machine.device, shop.path("net"))
        try:
            shop.sections["net"]["port"] = device_server.url("rfc2217")
            shop.start()
            self.assertEqual(machine.wait(60), 0, machine.stderr())
            self.assertEqual(shop.read("net", "nc", "incoming", "O3001.nc"), program)
            self.assertEqual(shop.read("net", "answer.nc"), answer)
        finally:
            device_server.stop()

    def test_sigterm_during_a_reception_keeps_it_as_partial_and_exits_0(self):
        shop = self.shop
        program = iso_program(4321, 400)
        shop.machine("slow", [(program, False)], "--baud", 2400, "--idle", 30)
        shop.machine("quiet", [(iso_program(4322, 5), False)], "--wait", 30, "--idle", 60)
        shop.start()
        shop.wait_for(lambda: "receiving" in shop.status(), 15, "a reception")
        time.sleep(1)
        shop.server.send_signal(signal.SIGTERM)
        self.assertEqual(shop.server.wait(15), 0, shop.stderr())
        partial = shop.read("slow", "nc", "incoming", "O4321.nc.partial")
        kept = partial[:-2] if partial.endswith(b"\r\n") else partial
        self.assertGreater(len(kept), 100)
        self.assertTrue(program.startswith(kept), partial[-80:])
        self.assertLess(len(kept), len(program))
        records = shop.records("slow", "receive")
        self.assertEqual([r["outcome"] for r in records], ["partial"])
        self.assertIn("stop", records[0]["detail"])
        self.assertEqual(os.listdir(shop.path("quiet", "nc", "incoming")), [])
        self.assertIn("not running", shop.status())


if __name__ == "__main__":
    while len(sys.argv) > 1 and sys.argv[1].startswith(("--server=", "--machine=")):
        name, value = sys.argv.pop(1)[2:].split("=", 1)
        if name == "server":
            SERVER = value
        else:
            MACHINE = value
    unittest.main(verbosity=2)
