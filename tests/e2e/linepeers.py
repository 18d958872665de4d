"""Peers that hold the machine's end of a line for end-to-end tests: a
pseudo-terminal pair held in this process, ferobrixlan-machine on a pair of
its own, and socat pairs for peers that open a device by name (pyserial,
ascii-xfr)."""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import tty

DC1 = b"\x11"
DC3 = b"\x13"

DEFAULTS = ["", "", "ON", "ON", "OFF", "1", "9600", "7", "2", "e", "Soft", "ISO",
            "", "", "", "", "", "", "", "1", "NOMAL", "", "", "0"]
FIELDS = {"sendView": 2, "receiveView": 3, "port": 5, "baudRate": 6, "dataBits": 7,
          "stopBits": 8, "parity": 9, "handshake": 10, "code": 11, "replaceString1": 12,
          "serialInterval": 19, "mode": 20, "sendingEdit": 23}


def program(lines, width=24):
    """A part program between two "%" marks, CR LF line ends."""
    text = "%\r\nO1234\r\n"
    for i in range(lines):
        text += ("N%d G01 X%d.%03d Y-%d" % (i, i % 500, i % 1000, i % 77)).ljust(width) + "\r\n"
    return (text + "M30\r\n%\r\n").encode()


def pty_queue_bytes():
    """How many bytes a pseudo-terminal takes in one-byte writes, with nobody
    reading, before it refuses more: how far a PC can run ahead of a machine
    that reads its side slowly."""
    master, slave = os.openpty()
    try:
        tty.setraw(slave)
        os.set_blocking(slave, False)
        count = 0
        try:
            while True:
                count += os.write(slave, b"x")
        except BlockingIOError:
            return count
    finally:
        os.close(master)
        os.close(slave)


def write_config(directory, **values):
    fields = list(DEFAULTS)
    for name, value in values.items():
        fields[FIELDS[name]] = str(value)
    line = ",".join('"%s"' % v for v in fields) + "\r\n"
    with open(os.path.join(directory, "ferobrixlan.cfg"), "wb") as f:
        f.write(line.encode("latin-1"))


class PtyMachine:
    """The machine's end of a pseudo-terminal pair. The PC opens `device`."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)
        self.received = bytearray()

    def close(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.master = self.slave = None

    def send(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.master], [], 5)
            n = os.write(self.master, view)
            view = view[n:]

    def read(self, timeout=0.05):
        """What arrives within timeout seconds (at least one read's worth)."""
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return b""
        try:
            data = os.read(self.master, 65536)
        except OSError:
            return b""
        self.received += data
        return data

    def read_until(self, predicate, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate(self.received):
                return True
            self.read(0.05)
        return predicate(self.received)

    def read_until_quiet(self, quiet=1.0, timeout=30):
        deadline = time.monotonic() + timeout
        last = time.monotonic()
        while time.monotonic() < deadline:
            if self.read(0.05):
                last = time.monotonic()
            elif time.monotonic() - last >= quiet:
                return
        raise AssertionError("the line never went quiet")


class Program:
    """A program under test whose standard error is kept in self.errors."""

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("utf-8", "replace")

    def wait_for(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.stderr():
                return True
            if self.process.poll() is not None:
                break
            time.sleep(0.02)
        return text in self.stderr()


class SimulatedMachine(Program):
    """ferobrixlan-machine in one role, with the PC's side of its line linked
    at `device`. Its narration and its summary go to a file read back by
    stderr() and summary()."""

    def __init__(self, binary, directory, role, *args):
        self.device = os.path.join(directory, "machine-line")
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [binary, role, "--link", self.device] + [str(a) for a in args],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.errors)
        deadline = time.monotonic() + 5
        while not os.path.lexists(self.device):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("ferobrixlan-machine made no line: " + self.stderr())
            time.sleep(0.01)

    def wait(self, timeout=30):
        return self.process.wait(timeout)

    def summary(self, timeout=30):
        """The key=value lines printed at exit (waits for the exit)."""
        self.process.wait(timeout)
        pairs = {}
        for line in self.stderr().splitlines():
            if "=" in line and not line.startswith(("ferobrixlan-machine:", "#")):
                key, value = line.split("=", 1)
                pairs[key] = value
        return pairs

    def stop(self):
        """Ends the machine if it still runs; the end of the test's use of it."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.errors.close()


class SocatPair:
    """Two linked pseudo-terminals made by socat: `pc` and `machine`."""

    def __init__(self, directory):
        self.pc = os.path.join(directory, "pc")
        self.machine = os.path.join(directory, "machine")
        self.process = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + self.pc, "pty,raw,echo=0,link=" + self.machine],
            stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        while not (os.path.exists(self.pc) and os.path.exists(self.machine)):
            if time.monotonic() > deadline:
                raise RuntimeError("socat did not make its pair")
            time.sleep(0.02)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)


class Cli(Program):
    """ferobrixlan-cli running in a scratch directory against port 1."""

    def __init__(self, binary, directory, args, device, stdin=True):
        env = dict(os.environ, FEROBRIXLAN_PORT1=device)
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [binary] + args, cwd=directory, env=env,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=self.errors)

    def command(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def signal(self, number=signal.SIGINT):
        self.process.send_signal(number)

    def wait(self, timeout=30):
        code = self.process.wait(timeout)
        if self.process.stdin:
            self.process.stdin.close()
        return code

    def kill(self):
        """Ends the program if it still runs; the end of the test's use of it."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.process.stdin:
            self.process.stdin.close()
        self.errors.close()


def have(program):
    return shutil.which(program) is not None
