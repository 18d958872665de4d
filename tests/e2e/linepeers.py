"""Peers that hold the machine's end of a line for end-to-end tests: a
pseudo-terminal pair held in this process, ferobrixlan-machine on a pair of
its own, socat pairs for peers that open a device by name (pyserial,
ascii-xfr), and serial device servers in front of a line (ser2net and
pyserial's RFC 2217 PortManager)."""

import fcntl
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
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


def free_tcp_port():
    """A loopback TCP port nobody listens on now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """Whether something listens on this TCP port (from /proc/net/tcp, so that
    looking does not connect: a device server opens its line on a connect)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        return True
        except OSError:
            pass
    return False


class Ser2net:
    """ser2net serving one device: an RFC 2217 accepter at `rfc2217_port` and
    a raw TCP accepter at `raw_port`, both on loopback. The device's own
    setting is `line` (the client's RFC 2217 settings replace it); chardelay
    is off, so that what the device sends goes on at once."""

    def __init__(self, device, directory, line="19200n81"):
        self.rfc2217_port = free_tcp_port()
        self.raw_port = free_tcp_port()
        config = os.path.join(directory, "ser2net.yaml")
        with open(config, "w") as f:
            for name, accepter, port in (("rfc2217", "telnet(rfc2217),tcp", self.rfc2217_port),
                                         ("raw", "tcp", self.raw_port)):
                f.write("connection: &%s\n"
                        "  accepter: %s,127.0.0.1,%d\n"
                        "  connector: serialdev,%s,%s,local\n"
                        "  options:\n"
                        "    chardelay: false\n"
                        "    kickolduser: true\n" % (name, accepter, port, device, line))
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            ["ser2net", "-n", "-u", "-c", config, "-P", os.path.join(directory, "ser2net.pid")],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while not (listening(self.rfc2217_port) and listening(self.raw_port)):
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.log.seek(0)
                raise RuntimeError("ser2net did not start: " + self.log.read().decode())
            time.sleep(0.02)

    def url(self, kind="rfc2217"):
        """kind: "rfc2217" or "tcp" (the raw accepter)."""
        port = self.rfc2217_port if kind == "rfc2217" else self.raw_port
        return "%s://127.0.0.1:%d" % (kind, port)

    def kill(self):
        """Ends ser2net at once: every connection it carries drops."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def stop(self):
        self.kill()
        self.log.close()


class Rfc2217Peer:
    """pyserial's PortManager serving one device (rfc2217_peer.py)."""

    def __init__(self, device, dsr="on"):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rfc2217_peer.py")
        self.process = subprocess.Popen([sys.executable, script, device, "--dsr", dsr],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode()
        if not line.startswith("listening "):
            self.stop()
            raise RuntimeError("the RFC 2217 peer did not start")
        self.port = int(line.split()[1])

    def url(self):
        return "rfc2217://127.0.0.1:%d" % self.port

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)
        self.process.stdout.close()


class TimedCli:
    """ferobrixlan-cli whose standard error is read as it comes, each line
    with the monotonic time it arrived. env adds to the environment."""

    def __init__(self, binary, directory, args, env=None):
        import threading
        self.lines = []
        self._cond = threading.Condition()
        self.process = subprocess.Popen(
            [binary] + args, cwd=directory, env=dict(os.environ, **(env or {})),
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stderr:
            with self._cond:
                self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\n")))
                self._cond.notify_all()

    def wait_line(self, text, timeout=20):
        """The arrival time of the first line holding text, or None."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for at, line in self.lines:
                    if text in line:
                        return at
                left = deadline - time.monotonic()
                if left <= 0 or not self._reader.is_alive():
                    return None
                self._cond.wait(min(left, 0.1))

    def stderr(self):
        with self._cond:
            return "\n".join(line for _, line in self.lines)

    def command(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def wait(self, timeout=30):
        code = self.process.wait(timeout)
        self._reader.join(5)
        self.process.stdin.close()
        return code

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self._reader.join(5)
        self.process.stdin.close()
        self.process.stderr.close()


class FileWatch:
    """Watches a file grow, every millisecond or two, from a thread: when it
    reached a size, and what size it had at a time. For a machine's --out
    file, that is when the machine had each byte."""

    def __init__(self, path):
        import threading
        self.path = path
        self.sizes = [(time.monotonic(), 0)]  # (time, size) at each change
        self._stop = False
        self._thread = threading.Thread(target=self._watch, daemon=True)
        self._thread.start()

    def _watch(self):
        while not self._stop:
            try:
                size = os.path.getsize(self.path)
            except OSError:
                size = 0
            if size != self.sizes[-1][1]:
                self.sizes.append((time.monotonic(), size))
            time.sleep(0.001)

    def reached(self, size, timeout=20):
        """The time the file first held at least size bytes, or None."""
        deadline = time.monotonic() + timeout
        while True:
            for at, n in list(self.sizes):
                if n >= size:
                    return at
            if time.monotonic() > deadline:
                return None
            time.sleep(0.01)

    def size_at(self, moment):
        size = 0
        for at, n in list(self.sizes):
            if at <= moment:
                size = n
        return size

    def stop(self):
        self._stop = True
        self._thread.join(5)


def as_hardware(pid):
    """Lets a peer that stands for hardware (the machine's controller, a
    device server) run at real-time priority, so that a busy processor does
    not hold it up where a wire would have moved on: the figures then count
    what the PC does. Needs root; elsewhere the peer runs as it is and the
    function says so by returning False."""
    try:
        os.sched_setscheduler(pid, os.SCHED_FIFO, os.sched_param(10))
        return True
    except (OSError, AttributeError):
        return False


class LineMachine(threading.Thread):
    """A machine at the far end of a line, played by the test from a thread:
    it takes what the PC sends, holding the line with DC3 after every
    dc3_every bytes for held_seconds (counting what still arrives, the
    overrun) before DC1; asked to, it punches a program, obeying the PC's DC3
    and DC1. With pause_at it stops reading at that count for pause_seconds
    instead, as a line that takes nothing."""

    def __init__(self, read_fd, write_fd, dc3_every=None, held_seconds=0.3, pause_at=None,
                 pause_seconds=0):
        super().__init__(daemon=True)
        self.fd = read_fd
        self.write_fd = write_fd
        self.dc3_every = dc3_every
        self.held_seconds = held_seconds
        self.pause_at = pause_at
        self.pause_seconds = pause_seconds
        self.received = bytearray()
        self.overruns = []
        self.to_punch = None
        self.lock = threading.Lock()
        self.stopped = False

    def punch(self, data):
        with self.lock:
            self.to_punch = data

    def count(self):
        with self.lock:
            return len(self.received)

    def run(self):
        held_until = None
        next_hold = self.dc3_every or float("inf")
        xoff = False
        while not self.stopped:
            with self.lock:
                punching = self.to_punch
            if self.pause_at is not None and len(self.received) >= self.pause_at:
                self.pause_at = None
                time.sleep(self.pause_seconds)
            ready, _, _ = select.select([self.fd], [], [], 0.01)
            if ready:
                try:
                    want = 4096 if self.pause_at is None else self.pause_at - len(self.received)
                    data = os.read(self.fd, max(1, want))
                except OSError:
                    return
                if punching is not None:
                    # The PC receives: only its DC3 and DC1 come back.
                    for b in data:
                        xoff = True if b == 0x13 else False if b == 0x11 else xoff
                else:
                    with self.lock:
                        self.received += data
                    if held_until is not None:
                        self.overruns[-1] += len(data)
            now = time.monotonic()
            if punching is None and held_until is None and len(self.received) >= next_hold:
                os.write(self.write_fd, DC3)
                self.overruns.append(0)
                held_until = now + self.held_seconds
                next_hold += self.dc3_every
            elif held_until is not None and now >= held_until:
                os.write(self.write_fd, DC1)
                held_until = None
            if punching and not xoff:
                n = os.write(self.write_fd, punching[:16])  # 16 bytes a turn
                with self.lock:
                    self.to_punch = punching[n:]

    def stop(self):
        self.stopped = True
        self.join(5)
        for fd in {self.fd, self.write_fd}:
            os.close(fd)

    def set_dtr(self, on):
        """DTR of this end: on a null-modem cable it is the PC's DSR. False
        where the port has no modem lines (a pseudo-terminal)."""
        try:
            fcntl.ioctl(self.fd, termios.TIOCMBIS if on else termios.TIOCMBIC,
                        struct.pack("I", termios.TIOCM_DTR))
            return True
        except OSError:
            return False

    @staticmethod
    def on_pty(device, **options):
        fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        return LineMachine(fd, fd, **options)

    @staticmethod
    def on_port(device, baud, **options):
        """A serial port of this computer, raw, 8N1 at baud, no flow control."""
        fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        attrs = termios.tcgetattr(fd)
        speed = getattr(termios, "B%d" % baud)
        attrs[2] = (attrs[2] & ~(termios.CSIZE | termios.PARENB | termios.CSTOPB
                                 | termios.CRTSCTS)) | termios.CS8 | termios.CLOCAL | termios.CREAD
        attrs[0] &= ~(termios.IXON | termios.IXOFF | termios.IXANY)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
        return LineMachine(fd, fd, **options)

    @staticmethod
    def on_pipes(path, **pause):
        """The far end of QEMU's pipe chardev: PATH.out carries what the guest
        sends, shrunk to 4 KB so that a pause soon stops the UART; PATH.in what
        it receives."""
        read_fd = os.open(path + ".out", os.O_RDONLY | os.O_NONBLOCK)
        fcntl.fcntl(read_fd, fcntl.F_SETPIPE_SZ, 4096)
        write_fd = os.open(path + ".in", os.O_WRONLY | os.O_NONBLOCK)
        return LineMachine(read_fd, write_fd, **pause)


def program_paths(argv, **defaults):
    """Takes the leading --NAME=PATH options of an end-to-end suite (--cli=,
    --machine=) off argv; returns defaults with the paths given."""
    paths = dict(defaults)
    while len(argv) > 1 and argv[1].startswith("--") and "=" in argv[1] \
            and argv[1][2:].split("=", 1)[0] in defaults:
        name, value = argv.pop(1)[2:].split("=", 1)
        paths[name] = value
    return paths
