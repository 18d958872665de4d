# ferobrixlan-cli on a real 16550 UART driver: a small Linux guest under QEMU
# (TCG, -cpu max; nested KVM stops such a guest with an emulation failure),
# built by scripts/build-guest, runs ferobrixlan-cli and uart_guest_probe on
# its /dev/ttyS1, whose far end is a pseudo-terminal on this side (-serial
# pty) held by the test as the machine.

# QEMU's UART sends as fast as its far end takes bytes, so the driver's output
# queue only fills when that end stops taking them. A second UART, on a PCI
# card (/dev/ttyS2), ends in a pipe of 4 KB on this side: the test stops
# reading it for a while (the queue fills), then pulls the card out of the
# running guest to drop the line mid-send.

# One boot runs the whole plan; each test checks its part of what the guest
# printed on its console and what the machine got. Where the guest cannot be
# built or does not boot, every test is skipped with the reason.

#     uart_guest_test.py --build=BUILD_DIR

import gzip
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from linepeers import LineMachine, program, program_paths, until, write_config

BUILD = os.environ.get("FEROBRIXLAN_BUILD", "build")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOOT_SECONDS = 90
PLAN_SECONDS = 240
DC3_EVERY = 2000  # the machine holds the line after every this many bytes
HELD_SECONDS = 0.3

SEND = program(400)  # some 10 KB
# Every byte value but NUL (blank tape, dropped by a receive) and "%" (the
# program's marks), between the marks.
PUNCH_BODY = bytes(b for b in range(1, 256) if b != ord("%"))
PUNCH = b"%\r\nO0002\r\n" + PUNCH_BODY + b"\r\n" + program(60)[3:]
RECEIVED = b"\r\n" + PUNCH[:PUNCH.index(b"%", 1) + 1]
DROP = program(2000)
CARD_HOLD_AT = 2000  # the card's far end stops reading here ...
CARD_HOLD_SECONDS = 2.5  # ... for this long
CARD_PULL_AT = 12000  # and the card is pulled once this much has come

PLAN = r"""#!/bin/sh
uart_guest_probe settings /dev/ttyS1; echo "@@ settings-rc $?"
uart_guest_probe modem /dev/ttyS1; echo "@@ modem-rc $?"

cd /plan/send
ferobrixlan-cli send prog.nc --yes 2> send.err; echo "@@ send-rc $?"
sed 's/^/@@ send-err /' send.err | tail -n 4

cd /plan/receive
ferobrixlan-cli receive got.nc --yes 2> receive.err &
until grep -q "Receive waitting" receive.err || ! kill -0 $! 2>/dev/null; do sleep 0.1; done
echo "@@ receive-ready"
wait $!; echo "@@ receive-rc $?"
echo "@@ receive-md5 $(md5sum got.nc | cut -d ' ' -f 1) $(wc -c < got.nc)"
sed 's/^/@@ receive-err /' receive.err | tail -n 4

cd /plan/drop
uart_guest_probe outq /dev/ttyS2 /tmp/stop-outq &
sleep 0.2
echo "@@ drop-start"
ferobrixlan-cli send prog.nc --yes 2> drop.err; echo "@@ drop-rc $?"
touch /tmp/stop-outq; wait
sed 's/^/@@ drop-err /' drop.err | tail -n 8
"""


class Guest:
    # QEMU with the guest and its plan; the console goes to a file.

    def __init__(self, directory, guest_dir):
        self.dir = directory
        self.console = os.path.join(directory, "console.log")
        self.qmp_path = os.path.join(directory, "qmp.sock")
        self.card_pipe = os.path.join(directory, "card")
        for end in (".in", ".out"):
            os.mkfifo(self.card_pipe + end)
        plan = os.path.join(directory, "plan")
        self._write_plan(plan)
        initrd = os.path.join(directory, "initrd.gz")
        with open(initrd, "wb") as out:
            with open(os.path.join(guest_dir, "base.cpio.gz"), "rb") as base:
                shutil.copyfileobj(base, out)
            files = subprocess.run(["find", "plan"], cwd=directory, capture_output=True,
                                   check=True).stdout
            archive = subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=directory,
                                     input=files, capture_output=True, check=True).stdout
            # A second archive may follow the first after NUL padding to a
            # multiple of four bytes.
            out.write(b"\0" * (-out.tell() % 4))
            out.write(gzip.compress(archive, 1))
        self.log = open(os.path.join(directory, "qemu.log"), "wb")
        self.process = subprocess.Popen(
            ["qemu-system-x86_64", "-machine", "pc", "-cpu", "max", "-m", "512", "-smp", "1",
             "-nodefaults", "-display", "none", "-no-reboot",
             "-kernel", os.path.join(guest_dir, "vmlinuz"), "-initrd", initrd,
             "-append", "console=ttyS0 quiet panic=-1",
             "-serial", "file:" + self.console, "-serial", "pty",
             "-chardev", "pipe,id=cardline,path=" + self.card_pipe,
             "-device", "pci-serial,id=card,chardev=cardline",
             "-qmp", "unix:%s,server=on,wait=off" % self.qmp_path],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        def ptys():
            with open(self.log.name, "rb") as f:
                return {m.group(2).decode(): m.group(1).decode()
                        for m in re.finditer(rb"redirected to (\S+) \(label (\w+)\)", f.read())}
        until(lambda: ptys() or self.process.poll() is not None, 20)
        self.ptys = ptys()

    def _write_plan(self, plan):
        for name, files, config in (
                ("send", {"prog.nc": SEND}, {}),
                ("receive", {}, {"dataBits": 8, "parity": "n", "stopBits": 1,
                                 "mode": "Data In/Out"}),
                ("drop", {"prog.nc": DROP}, {"baudRate": 57600, "dataBits": 8, "parity": "n",
                                             "stopBits": 1})):
            os.makedirs(os.path.join(plan, name))
            for file, data in files.items():
                with open(os.path.join(plan, name, file), "wb") as f:
                    f.write(data)
            write_config(os.path.join(plan, name), **config)
            with open(os.path.join(plan, name, "ferobrixlan.ports"), "w") as f:
                f.write("1=%s\n" % ("/dev/ttyS2" if name == "drop" else "/dev/ttyS1"))
        with open(os.path.join(plan, "run.sh"), "w") as f:
            f.write(PLAN)
        os.chmod(os.path.join(plan, "run.sh"), 0o755)

    def text(self):
        try:
            with open(self.console, "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return ""

    def wait_for(self, marker, timeout):
        # The first console line starting with "@@ marker", or None.
        until(lambda: self.lines(marker) or self.process.poll() is not None, timeout)
        return next(iter(self.lines(marker)), None)

    def lines(self, marker):
        return [l[3 + len(marker):].strip() for l in self.text().splitlines()
                if l.startswith("@@ " + marker)]

    def pull_card(self):
        # Removes the PCI UART from the running guest (ACPI hot-unplug).
        s = socket.socket(socket.AF_UNIX)
        s.connect(self.qmp_path)
        f = s.makefile("rw")
        f.readline()
        for command in ({"execute": "qmp_capabilities"},
                        {"execute": "device_del", "arguments": {"id": "card"}}):
            f.write(json.dumps(command) + "\n")
            f.flush()
            f.readline()
        s.close()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        self.log.close()


class UartGuest(unittest.TestCase):
    guest = None
    skip_reason = None

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        if not shutil.which("qemu-system-x86_64"):
            cls.skip_reason = "qemu-system-x86 is not installed (scripts/deps.sh installs it)"
            return
        built = subprocess.run([os.path.join(ROOT, "scripts", "build-guest"), BUILD],
                               capture_output=True, text=True)
        if built.returncode == 3:
            cls.skip_reason = "the guest cannot be built here: " + built.stderr.strip()
            return
        if built.returncode != 0:
            raise RuntimeError("scripts/build-guest failed: " + built.stderr)
        cls.guest = Guest(cls.tmp.name, built.stdout.strip())
        if "serial1" not in cls.guest.ptys:
            cls.skip_reason = "QEMU made no pseudo-terminal: " + open(cls.guest.log.name).read()
            return
        cls.line = LineMachine(cls.guest.ptys["serial1"], dc3_every=DC3_EVERY,
                               held_seconds=HELD_SECONDS)
        cls.card = LineMachine.on_pipes(cls.guest.card_pipe, pause_at=CARD_HOLD_AT,
                                        pause_seconds=CARD_HOLD_SECONDS)
        cls.line.start()
        cls.card.start()
        if cls.guest.wait_for("guest-up", BOOT_SECONDS) is None:
            cls.skip_reason = ("the guest did not boot within %d s under TCG; its console:\n%s"
                               % (BOOT_SECONDS, cls.guest.text()[-2000:]))
            return
        cls.play()

    @classmethod
    def play(cls):
        # Drives the plan: the punch once the guest receives, the pulled
        # card once its send is under way.
        g = cls.guest
        started = time.monotonic()
        if g.wait_for("receive-ready", PLAN_SECONDS) is not None:
            cls.line.punch(b"\0" * 20 + PUNCH)
        if g.wait_for("drop-start", PLAN_SECONDS - (time.monotonic() - started)) is not None:
            until(lambda: cls.card.count() >= CARD_PULL_AT, 60)
            cls.pulled_at = cls.card.count()
            g.pull_card()
        g.wait_for("guest-done", PLAN_SECONDS - (time.monotonic() - started))
        g.process.wait(30)

    @classmethod
    def tearDownClass(cls):
        for peer in ("line", "card"):
            if hasattr(cls, peer):
                getattr(cls, peer).stop()
        if cls.guest:
            cls.guest.stop()
        cls.tmp.cleanup()

    def setUp(self):
        if self.skip_reason:
            self.skipTest(self.skip_reason)

    def console(self):
        return self.guest.text()[-3000:]

    def test_line_settings_on_the_uart(self):
        # 7E2 as the driver holds it; DTR/RTS/DSR/CTS through the loopback.
        self.assertEqual(self.guest.wait_for("settings-rc", 0), "0", self.console())
        self.assertEqual(self.guest.wait_for("modem-rc", 0), "0", self.console())

    def test_send_is_byte_exact_and_stops_within_four_characters(self):
        self.assertEqual(self.guest.wait_for("send-rc", 0), "0", self.console())
        self.assertEqual(bytes(self.line.received), SEND)
        self.assertGreaterEqual(len(self.line.overruns), len(SEND) // DC3_EVERY - 1)
        overruns = sorted(self.line.overruns)
        self.assertLessEqual(overruns[len(overruns) // 2], 4, self.line.overruns)
        print("\nguest send: bytes after DC3 %s" % self.line.overruns, file=sys.stderr)

    def test_the_drivers_output_queue_stays_at_four_while_the_line_takes_nothing(self):
        outq = self.guest.wait_for("outq-max", 0)
        self.assertIsNotNone(outq, self.console())
        most, _, samples, _, busy = outq.split()
        self.assertGreater(int(busy), 0, "the queue never filled: " + outq)
        self.assertLessEqual(int(most), 4, "the driver's output queue: " + outq)
        print("\nguest output queue while the line took nothing: " + outq, file=sys.stderr)

    def test_receive_is_byte_exact(self):
        self.assertEqual(self.guest.wait_for("receive-rc", 0), "0", self.console())
        md5 = self.guest.wait_for("receive-md5", 0)
        self.assertEqual(md5, "%s %d" % (hashlib.md5(RECEIVED).hexdigest(), len(RECEIVED)),
                         self.console())

    def test_a_line_pulled_out_mid_send_is_lost(self):
        rc = self.guest.wait_for("drop-rc", 0)
        errors = "\n".join(self.guest.lines("drop-err"))
        self.assertIsNotNone(rc, self.console())
        self.assertNotEqual(rc, "0", errors)
        self.assertIn("Port error", errors)
        self.assertNotIn("status: finish", errors)
        self.assertGreaterEqual(self.card.count(), self.pulled_at)
        self.assertLess(self.card.count(), len(DROP))


if __name__ == "__main__":
    BUILD = program_paths(sys.argv, build=BUILD)["build"]
    unittest.main(verbosity=2)
