"""Peers that hold the machine's end of a line for end-to-end tests: a
pseudo-terminal pair held in this process, and socat pairs for peers that
open a device by name (pyserial, ascii-xfr)."""

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

    def pull_cable(self):
        """Closes the line under the PC's feet."""
        self.close()

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

    def read_until_quiet(self, quiet=0.3, timeout=20):
        deadline = time.monotonic() + timeout
        last = time.monotonic()
        while time.monotonic() < deadline:
            if self.read(0.05):
                last = time.monotonic()
            elif time.monotonic() - last >= quiet:
                return
        raise AssertionError("the line never went quiet")


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


class Cli:
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

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def have(program):
    return shutil.which(program) is not None
