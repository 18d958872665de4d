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

import fcntl
import gzip
import hashlib
import os
import pathlib
import re
import shutil
import struct
import subprocess
import tempfile
import termios
import time
import unittest

from linepeers import PATHS, LineEnd, LineMachine, every_byte_punch, main, program, until, write_config

BOOT_SECONDS = 90
SEND = program(400)  # some 10 KB
PUNCH, RECEIVED = every_byte_punch(60)
DROP = program(2000)

# Each step's exit code, and the last lines of what the command said, are
# printed on the console after "@@ STEP-rc" and "@@ STEP-err".
PLAN = r"""#!/bin/sh
uart_guest_probe settings /dev/ttyS1 && uart_guest_probe modem /dev/ttyS1; echo "@@ probe-rc $?"
cd /plan/send
ferobrixlan-cli send prog.nc --yes 2> err; echo "@@ send-rc $?"
cd /plan/receive
ferobrixlan-cli receive got.nc --yes 2> err &
until grep -q "Receive waitting" err || ! kill -0 $! 2>/dev/null; do sleep 0.1; done
echo "@@ receive-ready"
wait $!; echo "@@ receive-rc $?"
echo "@@ receive-md5 $(md5sum got.nc | cut -d ' ' -f 1) $(wc -c < got.nc)"
cd /plan/drop
uart_guest_probe outq /dev/ttyS2 /tmp/stop-outq &
sleep 0.2
ferobrixlan-cli send prog.nc --yes 2> err; echo "@@ drop-rc $?"
touch /tmp/stop-outq; wait
for step in send receive drop; do sed "s/^/@@ $step-err /" /plan/$step/err | tail -n 8; done
"""
EIGHT_BITS = {"dataBits": 8, "parity": "n", "stopBits": 1}
STEPS = {  # the files and the settings of each transfer in the plan
    "send": ({"prog.nc": SEND, "ferobrixlan.ports": b"1=/dev/ttyS1\n"}, {}),
    "receive": ({"ferobrixlan.ports": b"1=/dev/ttyS1\n"}, dict(EIGHT_BITS, mode="Data In/Out")),
    "drop": ({"prog.nc": DROP, "ferobrixlan.ports": b"1=/dev/ttyS2\n"}, dict(EIGHT_BITS, baudRate=57600)),
}


class UartGuest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = pathlib.Path(cls.enterClassContext(tempfile.TemporaryDirectory()))
        if not shutil.which("qemu-system-x86_64"):
            raise unittest.SkipTest("qemu-system-x86 is missing (scripts/deps.sh installs it)")
        build_guest = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "build-guest"
        built = subprocess.run([build_guest, PATHS["build"]], capture_output=True, text=True)
        if built.returncode == 3:
            raise unittest.SkipTest("the guest cannot be built here: " + built.stderr.strip())
        if built.returncode != 0:
            raise RuntimeError("scripts/build-guest failed: " + built.stderr)
        pty = cls.boot(built.stdout.strip())
        if pty is None:
            raise unittest.SkipTest("QEMU made no pseudo-terminal: " + cls.said("qemu.log"))
        cls.line = LineMachine(pty.group(1), dc3_every=2000)
        cls.addClassCleanup(cls.line.stop)
        # What the guest sends on the card comes out of card.out, a pipe
        # shrunk to 4 KB so that the UART soon stops when the test stops
        # reading it.
        cls.card = LineEnd(str(cls.dir / "card.out"))
        fcntl.fcntl(cls.card.fd, fcntl.F_SETPIPE_SZ, 4096)
        cls.addClassCleanup(cls.card.close)
        if cls.mark("guest-up", BOOT_SECONDS) is None:
            raise unittest.SkipTest("the guest did not boot within %d s under TCG; its console:\n%s"
                                    % (BOOT_SECONDS, cls.said()[-2000:]))
        cls.play()

    @classmethod
    def boot(cls, guest_dir):
        # Starts QEMU with the guest and its plan; the console goes to a
        # file. Returns the match of the pseudo-terminal QEMU made, or None.
        for name, (files, config) in STEPS.items():
            os.makedirs(cls.dir / "plan" / name)
            for file, data in files.items():
                (cls.dir / "plan" / name / file).write_bytes(data)
            write_config(cls.dir / "plan" / name, **config)
        (cls.dir / "plan/run.sh").write_text(PLAN)
        (cls.dir / "plan/run.sh").chmod(0o755)
        archive = subprocess.run("find plan | cpio -o -H newc --quiet", shell=True, cwd=cls.dir,
                                 capture_output=True, check=True).stdout
        # A second archive may follow the first after NUL padding to a
        # multiple of four bytes.
        base = pathlib.Path(guest_dir, "base.cpio.gz").read_bytes()
        (cls.dir / "initrd.gz").write_bytes(base + b"\0" * (-len(base) % 4) + gzip.compress(archive, 1))
        for end in (".in", ".out"):
            os.mkfifo(cls.dir / ("card" + end))
        log = cls.enterClassContext(open(cls.dir / "qemu.log", "wb"))
        cls.qemu = cls.enterClassContext(subprocess.Popen(
            ["qemu-system-x86_64", "-machine", "pc", "-cpu", "max", "-m", "512", "-smp", "1",
             "-nodefaults", "-display", "none", "-no-reboot", "-monitor", "stdio",
             "-append", "console=ttyS0 quiet panic=-1",
             "-kernel", os.path.join(guest_dir, "vmlinuz"), "-initrd", cls.dir / "initrd.gz",
             "-serial", "file:%s" % (cls.dir / "console.log"), "-serial", "pty",
             "-chardev", "pipe,id=cardline,path=%s" % (cls.dir / "card"),
             "-device", "pci-serial,id=card,chardev=cardline"],
            stdin=subprocess.PIPE, stdout=log, stderr=subprocess.STDOUT))
        cls.addClassCleanup(cls.qemu.kill)
        until(lambda: "(label serial1)" in cls.said("qemu.log") or cls.qemu.poll() is not None, 20)
        return re.search(r"redirected to (\S+) \(label serial1\)", cls.said("qemu.log"))

    @classmethod
    def play(cls):
        # Drives the plan: the punch once the guest receives, the card's far
        # end while it sends.
        started = time.monotonic()
        left = lambda: 240 - (time.monotonic() - started)  # for the whole plan
        over = lambda: cls.qemu.poll() is not None
        if cls.mark("receive-ready", left()) is not None:
            cls.line.to_punch = PUNCH
        # What the guest sends on the card is taken as it comes up to 2000
        # bytes, then nothing until the pipe is full and for a second more
        # (the driver's queue fills, however slowly the guest runs); at 12000
        # the card leaves the running guest (ACPI hot-unplug), pulled through
        # QEMU's monitor on its standard input.
        in_pipe = lambda: struct.unpack("i", fcntl.ioctl(cls.card.fd, termios.FIONREAD, b"\0" * 4))[0]
        if cls.card.read_until(lambda r: len(r) >= 2000 or over(), left()) and not over():
            until(lambda: in_pipe() >= 4096 or over(), left())
            time.sleep(1)
            cls.card.read_until(lambda r: len(r) >= 12000 or over(), left())
            cls.qemu.stdin.write(b"device_del card\n")
            cls.qemu.stdin.flush()
        cls.mark("guest-done", left())
        cls.qemu.wait(30)

    @classmethod
    def said(cls, log="console.log"):
        # What the guest printed on its console, or QEMU in qemu.log.
        return (cls.dir / log).read_text("latin-1")

    @classmethod
    def marks(cls, marker):
        # What the guest printed after "@@ marker", line by line.
        return re.findall(r"^@@ %s(?: (.*?))?\s*$" % marker, cls.said(), re.M)

    @classmethod
    def mark(cls, marker, timeout=0):
        # The first line marked so, waiting for it at most timeout seconds.
        until(lambda: cls.marks(marker) or cls.qemu.poll() is not None, timeout)
        return next(iter(cls.marks(marker)), None)

    def test_line_settings_on_the_uart(self):
        # 7E2 as the driver holds it; DTR/RTS/DSR/CTS through the loopback.
        self.assertEqual(self.mark("probe-rc"), "0", self.said()[-3000:])

    def test_send_is_byte_exact_and_stops_within_four_characters(self):
        self.assertEqual(self.mark("send-rc"), "0", self.said()[-3000:])
        self.assertEqual(bytes(self.line.received), SEND)
        self.assertGreaterEqual(len(self.line.overruns), len(SEND) // self.line.dc3_every - 1)
        overruns = sorted(self.line.overruns)
        self.assertLessEqual(overruns[len(overruns) // 2], 4, self.line.overruns)

    def test_the_drivers_output_queue_stays_at_four_while_the_line_takes_nothing(self):
        outq = self.mark("outq-max")
        self.assertIsNotNone(outq, self.said()[-3000:])
        most, _, samples, _, busy = outq.split()
        self.assertGreater(int(busy), 0, "the queue never filled: " + outq)
        self.assertLessEqual(int(most), 4, "the driver's output queue: " + outq)

    def test_receive_is_byte_exact(self):
        self.assertEqual(self.mark("receive-rc"), "0", self.said()[-3000:])
        self.assertEqual(self.mark("receive-md5"), "%s %d" % (hashlib.md5(RECEIVED).hexdigest(), len(RECEIVED)),
                         self.said()[-3000:])

    def test_a_line_pulled_out_mid_send_is_lost(self):
        errors = "\n".join(self.marks("drop-err"))
        self.assertEqual(self.mark("drop-rc"), "1", self.said()[-3000:])
        self.assertIn("Port error", errors)
        self.assertNotIn("status: finish", errors)
        self.assertLess(len(self.card.received), len(DROP))


if __name__ == "__main__":
    main()
