# ferobrixlan-server with a shop of simulated machines (ferobrixlan-machine,
# each on a pseudo-terminal pair of its own): eight machines punch and ask at
# once while one loses its cable; and the faults,
# each a moment of a run and the files and journal lines it must leave:
# programs back to back cut by a pulled line or a SIGTERM, a full disk, kill
# -9, a second service, a journal that cannot be written, a flood, and reloads
# of a half-written and of an empty shop.ini.

import json
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock
import zlib

from linepeers import SimulatedMachine, until

SERVER = os.environ.get("FEROBRIXLAN_SERVER", "ferobrixlan-server")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")


def iso_program(number, lines):
    body = "".join("N%d G01 X%d.%03d Y-%d F300\r\n" % (n * 10, n % 97, n % 1000, n % 13)
                   for n in range(lines))
    return ("%%\r\nO%d (ISO PROGRAM)\r\n%sM30\r\n%%" % (number, body)).encode()


def eia_program(number, lines):
    # EIA tape carries no CR and no brackets: LF line ends, plain words.
    body = "".join("N%d G00 X%d.5 Z-%d\n" % (n * 10, n % 50, n % 7) for n in range(lines))
    return ("%%\nO%d\n%sM30\n%%" % (number, body)).encode()


def crc(data):
    return "%08x" % zlib.crc32(data)


# A scratch shop: one folder per machine, shop.ini, the service.
class Shop:
    def __init__(self, directory):
        self.dir = directory
        self.machines = {}
        self.sections = {}
        self.service = {"journal": "journal.jsonl", "state": "shop.state"}
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

    def incoming(self, name):
        return sorted(os.listdir(self.path(name, "nc", "incoming")))

    # Starts a machine that punches programs (data, eia) in turn; its section
    # in shop.ini is written by the next write_config().
    def machine(self, name, programs, *args, **keys):
        files = [(self.put(data, name, "punch-%d.nc" % i), eia) for i, (data, eia) in enumerate(programs)]
        line = ["punch", files[0][0]] + (["--eia"] if files[0][1] else [])
        for path, eia in files[1:]:
            line += ["--then-punch-eia" if eia else "--then-punch", path]
        machine = SimulatedMachine(MACHINE, self.path(name), *line, "--gap", 0.5, "--wait", 0.5, *args)
        self.machines[name] = machine
        self.line(name, machine.device, **keys)
        return machine

    def line(self, name, device, **keys):
        os.makedirs(self.path(name, "nc"), exist_ok=True)
        self.sections[name] = {"port": device, "databits": 8, "parity": "n", "code": "auto",
                               "folder": self.path(name, "nc"), **keys}

    def write_config(self, text=None):
        if text is None:
            text = "[service]\n" + "".join("%s = %s\n" % kv for kv in self.service.items())
            for name, keys in self.sections.items():
                text += "\n[%s]\n" % name + "".join("%s = %s\n" % kv for kv in keys.items())
        self.put(text.encode(), "shop.ini")

    def start(self, *extra, wait=True):
        self.write_config()
        self.server = subprocess.Popen([SERVER, "--config", self.path("shop.ini"), *extra], cwd=self.dir,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=self.errors, env=dict(os.environ, TMPDIR=self.dir))
        if wait:
            state = self.service.get("state", "ferobrixlan-server.state")
            self.wait_for(lambda: os.path.exists(self.path(state)), 10, "the state file")
        return self.server

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("utf-8", "replace")

    def journal(self):
        try:
            with open(self.path(self.service["journal"])) as f:
                return [json.loads(line) for line in f]
        except FileNotFoundError:
            return []

    def records(self, machine, direction="receive"):
        return [r for r in self.journal() if r["machine"] == machine and r["direction"] == direction]

    def outcomes(self, machine, direction="receive"):
        return [r["outcome"] for r in self.records(machine, direction)]

    def wait_for(self, condition, timeout, what):
        if not until(lambda: condition() or self.server.poll() is not None, timeout, 0.1) or not condition():
            raise AssertionError("%s did not happen within %d s\n%s" % (what, timeout, self.stderr()))

    def status(self):
        return subprocess.run([SERVER, "--config", self.path("shop.ini"), "--status"],
                              capture_output=True, text=True, timeout=10).stdout

    def stop(self, sig=signal.SIGTERM):
        self.server.send_signal(sig)
        return self.server.wait(20)

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
        self.mounts = []

    def tearDown(self):
        self.shop.close()
        for path in reversed(self.mounts):
            subprocess.run(["umount", "-l", path], capture_output=True)
        self.tmp.cleanup()

    def tmpfs(self, *parts, options):  # a small file system of its own (as root)
        path = self.shop.path(*parts)
        os.makedirs(path, exist_ok=True)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path]).returncode:
            self.skipTest("a tmpfs cannot be mounted here (needs root)")
        self.mounts.append(path)
        return path

    def test_eight_machines_punch_and_ask_while_one_loses_its_cable(self):
        shop = self.shop
        for i in range(1, 9):
            name, answer = "m%d" % i, iso_program(5000 + i, 60)
            shop.put(answer, name, "nc", "O%d.nc" % (5000 + i))
            extra = ["--pull-after", 900] if i == 7 else []
            if i == 1:  # a small controller buffer: the answer goes out paced by DC3/DC1
                extra = ["--buffer", 256, "--drain", 600]
            shop.machine(name, [(iso_program(1000 + i, 40 + i), False), (eia_program(2000 + i, 30 + i), True),
                                (b"%%\r\n(LOAD O%d)\r\n%%" % (5000 + i), False)],
                         "--baud", 9600, "--then-receive", "--start-dc1", "--idle", 6,
                         "--out", shop.path(name, "answer.nc"), *extra)
        shop.start()
        shop.wait_for(lambda: "m7  line lost since" in shop.status(), 30, "m7's lost line")
        for name, machine in shop.machines.items():
            self.assertEqual(machine.wait(60), 3 if name == "m7" else 0, machine.stderr())
        for i in range(1, 9):
            name, iso, eia = "m%d" % i, iso_program(1000 + i, 40 + i), eia_program(2000 + i, 30 + i)
            if i == 7:
                self.assertEqual(shop.incoming(name), ["O1007.nc.partial"])
                partial = shop.read(name, "nc", "incoming", "O1007.nc.partial")
                self.assertEqual(partial, iso[:len(partial)])
                continue
            self.assertEqual(shop.incoming(name), ["O%d.nc" % (1000 + i), "O%d.nc" % (2000 + i)])
            self.assertEqual(shop.read(name, "nc", "incoming", "O%d.nc" % (1000 + i)), iso, name)
            self.assertEqual(shop.read(name, "nc", "incoming", "O%d.nc" % (2000 + i)), eia, name)
            self.assertEqual(shop.read(name, "answer.nc"), iso_program(5000 + i, 60), name)
            self.assertEqual(shop.outcomes(name, "send"), ["sent"], name)

        # m7's cable is plugged in again: the line is opened again within 5 s
        # and serves as before; each new reason the line gave is journaled once.
        again = iso_program(1777, 10)
        shop.machine("m7", [(again, False)], "--idle", 20)
        shop.wait_for(lambda: "O1777.nc" in shop.incoming("m7"), 20, "m7's program after the line came back")
        self.assertEqual(shop.read("m7", "nc", "incoming", "O1777.nc"), again)
        lines = shop.records("m7", "line")
        self.assertEqual([lines[0]["outcome"], lines[-1]["outcome"]], ["lost", "reopened"])
        self.assertEqual(len({r["detail"] for r in lines[:-1]}), len(lines) - 1)
        self.assertEqual(shop.stop(), 0, shop.stderr())

    def test_back_to_back_programs_cut_by_a_pulled_line_and_by_sigterm(self):
        # Ten programs punched back to back at 38400 baud, on one line cut
        # after four and a half, on the other ended by SIGTERM after six: each
        # program read is stored whole or as .partial holding exactly what
        # came, none missing, each journaled.
        shop = self.shop
        programs = [iso_program(100 + n, 60) for n in range(10)]
        cut = sum(len(p) for p in programs[:4]) + len(programs[4]) // 2
        for name, extra in (("pulled", ["--pull-after", cut]), ("stopped", [])):
            shop.machine(name, [(p, False) for p in programs], "--baud", 38400, "--gap", 0, "--idle", 5, *extra)
        shop.start()
        shop.wait_for(lambda: shop.outcomes("pulled") == ["stored"] * 4 + ["partial"], 30, "the pulled line")
        shop.wait_for(lambda: len(shop.records("stopped")) >= 6, 30, "six programs")
        self.assertEqual(shop.stop(), 0, shop.stderr())
        for name in ("pulled", "stopped"):
            records = shop.records(name)
            self.assertEqual([r["outcome"] for r in records[:-1]], ["stored"] * (len(records) - 1))
            self.assertEqual(len(shop.incoming(name)), len(records))
            for n, r in enumerate(records):
                data = shop.read(name, "nc", "incoming", os.path.basename(r["file"]))
                self.assertEqual((r["bytes"], r["crc32"], r["file_crc32"]), (len(data), crc(data), crc(data)))
                self.assertEqual(data, programs[n] if r["outcome"] == "stored" else programs[n][:len(data)])

    def test_a_full_disk_keeps_the_program_whole_where_the_journal_says(self):
        shop = self.shop
        self.tmpfs("full", "nc", "incoming", options="size=12k")
        program = iso_program(4242, 1000)
        shop.machine("full", [(program, False)], "--baud", 38400, "--idle", 10)
        shop.start()
        shop.wait_for(lambda: shop.records("full"), 30, "the reception's end")
        record = shop.records("full")[0]
        self.assertEqual(record["outcome"], "failed", record)
        parts = [(p, shop.read(p["file"])) for p in record["parts"]]
        self.assertEqual([(p["bytes"], p["crc32"]) for p, data in parts], [(len(d), crc(d)) for _, d in parts])
        self.assertEqual(b"".join(d for _, d in parts), program)

    def test_kill_9_loses_at_most_a_second_of_a_punch_that_never_pauses(self):
        shop = self.shop
        program = iso_program(777, 3000)
        shop.machine("k", [(program, False)], "--baud", 9600, "--idle", 10)
        shop.start()
        received = lambda: int((re.findall(r"receiving (\d+) bytes", shop.status()) or [0])[0])
        shop.wait_for(lambda: received() >= 2500, 30, "2500 bytes received")
        received = received()
        time.sleep(3)  # everything counted then has waited more than a second
        self.assertEqual(shop.stop(signal.SIGKILL), -9)
        [left] = [n for n in os.listdir(shop.path("k", "nc", "incoming")) if n.startswith(".ferobrixlan")]
        data = shop.read("k", "nc", "incoming", left)
        self.assertGreaterEqual(len(data), received)
        self.assertEqual(data, program[:len(data)])
        # The next start stores it as .partial, journaled with its bytes.
        shop.machines["k"].stop()
        shop.start()
        shop.wait_for(lambda: shop.records("k"), 10, "the leftover stored")
        record = shop.records("k")[0]
        self.assertEqual((record["outcome"], record["bytes"], record["crc32"]), ("partial", len(data), crc(data)))
        self.assertEqual(shop.read("k", "nc", "incoming", "O777.nc.partial"), data)

    def test_a_second_service_is_refused_and_so_is_a_line_in_use(self):
        shop = self.shop
        shop.machine("one", [(iso_program(1, 5), False)], "--wait", 30)
        first = shop.start()
        second = subprocess.run([SERVER, "--config", shop.path("shop.ini")], capture_output=True, text=True, timeout=10)
        self.assertEqual((second.returncode, "another ferobrixlan-server (pid %d) runs with" % first.pid in second.stderr),
                         (1, True), second.stderr)
        # Another shop naming the same device is refused that line, even as root.
        os.makedirs(shop.path("other"))
        other = Shop(shop.path("other"))
        try:
            other.line("one", shop.sections["one"]["port"])
            other.start()
            other.wait_for(lambda: "in use by another program (process %d)" % first.pid in other.status(),
                           10, "the line refused")
        finally:
            other.close()

    def test_a_journal_that_cannot_be_written_is_said_kept_and_written_later(self):
        shop = self.shop
        journal = self.tmpfs("log", options="size=4k")
        shop.service["journal"] = os.path.join(journal, "journal.jsonl")
        with open(os.path.join(journal, "filler"), "wb") as f:
            f.write(b"x" * 4096)
        shop.machine("j", [(iso_program(31, 5), False), (iso_program(32, 5), False)], "--idle", 10)
        shop.start()
        shop.wait_for(lambda: len(shop.incoming("j")) == 2, 30, "both programs stored")
        shop.wait_for(lambda: "journal records wait to be written" in shop.status(), 5, "the failure told")
        self.assertIn("No space left on device", shop.stderr())
        os.remove(os.path.join(journal, "filler"))
        shop.wait_for(lambda: shop.outcomes("j") == ["stored", "stored"], 5, "the records written")
        self.assertEqual(shop.stop(), 0)
        # A read-only folder is said by --check before the service runs.
        subprocess.run(["mount", "-o", "remount,ro", journal], check=True)
        check = subprocess.run([SERVER, "--config", shop.path("shop.ini"), "--check"], capture_output=True, text=True)
        self.assertEqual((check.returncode, "[service] journal (line 2): the journal cannot be written" in check.stderr),
                         (1, True), check.stderr)

    def test_a_flood_is_held_at_a_bounded_memory(self):
        shop = self.shop
        master, slave = pty.openpty()
        os.symlink(os.ttyname(slave), shop.path("flood-line"))
        stop = threading.Event()
        # A device that ignores DC3: it writes whenever the line takes bytes.
        flood = lambda: until(lambda: stop.is_set() or not os.write(master, b"%\r\nO1\r\n%\r\n" * 400), 1e9, 0)
        shop.line("flood", shop.path("flood-line"))
        threading.Thread(target=flood, daemon=True).start()
        try:
            # Freed memory that the address sanitizer keeps aside is no growth.
            with mock.patch.dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=0"):
                shop.start()
            rss = lambda: int(re.search(rb"VmRSS:\s+(\d+)", shop.read("/proc/%d/status" % shop.server.pid))[1])
            time.sleep(4)
            early = rss()
            time.sleep(4)
            self.assertLess(rss() - early, 1024)
            self.assertGreater(len(shop.records("flood")), 10)
        finally:
            stop.set()
            os.close(master)

    def test_a_reload_takes_only_a_whole_file_and_never_cuts_a_transfer(self):
        shop = self.shop
        program = iso_program(55, 200)
        shop.machine("r", [(program, False)], "--baud", 9600, "--idle", 10)
        del shop.service["state"]  # --status finds the state even in an empty shop.ini
        shop.start()
        shop.wait_for(lambda: "receiving" in shop.status(), 15, "the reception")
        good = shop.read("shop.ini")
        for text in (good[:good.rindex(b"folder") + 3], b""):
            shop.put(text, "shop.ini")
            shop.server.send_signal(signal.SIGHUP)
            shop.wait_for(lambda: "was not taken" in shop.status(), 5, "the refusal told")
        shop.wait_for(lambda: shop.records("r"), 30, "the program")
        self.assertEqual(shop.read("r", "nc", "incoming", "O55.nc"), program)
        self.assertEqual(shop.outcomes("", "service").count("reload refused"), 2)
        shop.put(good, "shop.ini")
        shop.server.send_signal(signal.SIGHUP)
        shop.wait_for(lambda: "was not taken" not in shop.status(), 5, "the good file taken")


if __name__ == "__main__":
    unittest.main(verbosity=2)
