# Peers that hold the machine's end of a line for the end-to-end suites: a
# pseudo-terminal pair held in this process, ferobrixlan-machine on a pair of
# its own, socat pairs for peers that open a device by name (pyserial,
# ascii-xfr), serial device servers in front of a line (ser2net and pyserial's
# RFC 2217 PortManager), and a machine played from a thread on any line.

# Every wait here ends as soon as its condition holds and is generous
# otherwise: a busy processor makes a suite slower, never wrong.

import fcntl
import os
import pathlib
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import types
import unittest

DC1 = b"\x11"
DC3 = b"\x13"

DEFAULTS = ["", "", "ON", "ON", "OFF", "1", "9600", "7", "2", "e", "Soft", "ISO",
            "", "", "", "", "", "", "", "1", "NOMAL", "", "", "0"]
FIELDS = {"baudRate": 6, "dataBits": 7, "stopBits": 8, "parity": 9, "handshake": 10, "mode": 20}


def program(lines):
    # A part program between two "%" marks, CR LF line ends.
    blocks = ("N%d G01 X%d.%03d Y-%d" % (i, i % 500, i % 1000, i % 77) for i in range(lines))
    return ("%\r\nO1234\r\n" + "".join(b.ljust(24) + "\r\n" for b in blocks) + "M30\r\n%\r\n").encode()


def every_byte_punch(lines):
    # A program of every byte value but NUL (blank tape, dropped by a receive)
    # and "%" (the marks) as a machine punches it, after blank tape; and what a
    # receive in "Data In/Out" stores of it.
    body = bytes(b for b in range(1, 256) if b != ord("%"))
    text = b"%\r\nO0002\r\n" + body + b"\r\n" + program(lines)[3:]
    return b"\0" * 20 + text, b"\r\n" + text[:text.index(b"%", 1) + 1]


def write_config(directory, **values):
    fields = list(DEFAULTS)
    for name, value in values.items():
        fields[FIELDS[name]] = str(value)
    line = ",".join('"%s"' % v for v in fields) + "\r\n"
    pathlib.Path(directory, "ferobrixlan.cfg").write_bytes(line.encode("latin-1"))


def until(condition, timeout, step=0.02):
    # Waits until condition() holds, at most timeout seconds; its last value.
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(step)
    return condition()


def have(program):
    return shutil.which(program) is not None


def as_hardware(pid):
    # Lets a peer that stands for hardware (the machine's controller, a
    # device server) run at real-time priority, where a busy processor would
    # hold it up while a wire moves on. Needs root; left as it is otherwise.
    try:
        os.sched_setscheduler(pid, os.SCHED_FIFO, os.sched_param(10))
    except (OSError, AttributeError):
        pass


def program_paths(argv, **defaults):
    # Takes the leading --NAME=PATH options of a suite (--cli=, --machine=)
    # off argv; returns defaults with the paths given.
    paths = dict(defaults)
    while len(argv) > 1 and argv[1].startswith("--") and argv[1][2:].partition("=")[0] in defaults:
        name, _, value = argv.pop(1)[2:].partition("=")
        paths[name] = value
    return paths


# The programs under test: those on the PATH, or --cli=, --machine= and
# --build= on the suite's command line (main() takes them).
PATHS = {"cli": "ferobrixlan-cli", "machine": "ferobrixlan-machine", "build": "build"}


def main():
    # Runs the suite of the calling script.
    PATHS.update(program_paths(sys.argv, **PATHS))
    unittest.main(module="__main__", verbosity=2)


class Scratch(unittest.TestCase):
    # A test with a scratch directory of its own, `dir`; whatever it starts it
    # hands to addCleanup, so that it ends with the test.

    def setUp(self):
        self.dir = self.enterContext(tempfile.TemporaryDirectory())

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def put(self, name, data):
        pathlib.Path(self.path(name)).write_bytes(data)

    def start_cli(self, args, device, **config):
        # ferobrixlan-cli running args here, port 1 being device, with the
        # settings config; `cli` until the test ends.
        write_config(self.dir, **config)
        self.cli = Cli(PATHS["cli"], self.dir, args, device)
        self.addCleanup(self.cli.kill)

    def read(self, name):
        # The file's bytes; None where there is no such file.
        path = pathlib.Path(self.path(name))
        return path.read_bytes() if path.exists() else None


class LineEnd:
    # One end of a line held by the test: the line at path, or else the
    # master of a new pseudo-terminal pair whose other end, `device`, the PC
    # opens. What it reads is kept in received; held follows DC3 and DC1.

    def __init__(self, path=None, baud=None):
        if path:
            self.fd, self.other = os.open(path, os.O_RDWR | os.O_NOCTTY), None
        else:
            self.fd, self.other = os.openpty()
            tty.setraw(self.other)
            self.device = os.ttyname(self.other)
        if os.isatty(self.fd):
            tty.setraw(self.fd)
            attrs = termios.tcgetattr(self.fd)
            attrs[0] &= ~(termios.IXOFF | termios.IXANY)
            attrs[2] = (attrs[2] & ~(termios.CSTOPB | termios.CRTSCTS)) | termios.CLOCAL
            if baud:  # a port of this computer: 8N1 at that rate
                attrs[4] = attrs[5] = getattr(termios, "B%d" % baud)
            termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        self.received = bytearray()
        self.held = False

    def close(self):
        for fd in {self.fd, self.other} - {None}:
            os.close(fd)
        self.fd = self.other = None

    def send(self, data):
        view = memoryview(data)
        while view:
            select.select([], [self.fd], [], 5)
            view = view[os.write(self.fd, view):]

    def read(self, timeout=0.05):
        # What arrives within timeout seconds; None once the line is gone.
        if not select.select([self.fd], [], [], timeout)[0]:
            return b""
        try:
            data = os.read(self.fd, 65536)
        except OSError:
            return None
        if not data:
            return None
        for b in data:
            self.held = b == 0x13 if b in (0x11, 0x13) else self.held
        self.received += data
        return data

    def read_until(self, predicate, timeout=60):
        # Reads until predicate(received) holds (True), the line goes or the
        # time is up.
        until(lambda: predicate(self.received) or self.read() is None, timeout, 0)
        return predicate(self.received)

    def read_until_quiet(self, quiet=0.3):
        # Reads what the line holds until nothing more comes for a while.
        while self.read(quiet):
            pass


class SimulatedMachine:
    # ferobrixlan-machine in one role, with the PC's side of its line linked
    # at `device`; its narration and summary are read back by stderr() and
    # summary().

    def __init__(self, binary, directory, role, *args):
        self.device = os.path.join(directory, "machine-line")
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [binary, role, "--link", self.device] + [str(a) for a in args],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.errors)
        if not until(lambda: os.path.lexists(self.device) or self.process.poll() is not None, 30) \
                or not os.path.lexists(self.device):
            raise RuntimeError("ferobrixlan-machine made no line: " + self.stderr())

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("utf-8", "replace")

    def wait_for(self, text, timeout=30):
        return until(lambda: text in self.stderr() or self.process.poll() is not None, timeout) \
            and text in self.stderr()

    def wait(self, timeout=60):
        return self.process.wait(timeout)

    def summary(self, timeout=60):
        # The key=value lines printed at exit (waits for the exit).
        self.process.wait(timeout)
        return dict(line.split("=", 1) for line in self.stderr().splitlines()
                    if "=" in line and not line.startswith(("ferobrixlan-machine:", "#")))

    def stop(self):
        # Ends the machine if it still runs; the end of the test's use of it.
        self.process.kill()
        self.process.wait()
        self.errors.close()


class Cli:
    # ferobrixlan-cli in a scratch directory, port 1 being device (when
    # given); env adds to the environment. Its standard error is read as it
    # comes, each line with the monotonic time it arrived.

    def __init__(self, binary, directory, args, device=None, env=None):
        env = dict(os.environ, **(env or {}))
        if device is not None:
            env["FEROBRIXLAN_PORT1"] = device
        self.lines = []
        self.process = subprocess.Popen(
            [binary] + args, cwd=directory, env=env, stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stderr:
            self.lines.append((time.monotonic(), raw.decode("utf-8", "replace").rstrip("\n")))

    def wait_for(self, text, timeout=30):
        # The arrival time of the first line holding text, or None.
        found = lambda: next((at for at, line in list(self.lines) if text in line), None)
        until(lambda: found() is not None or not self._reader.is_alive(), timeout)
        return found()

    wait_line = wait_for

    def stderr(self):
        return "\n".join(line for _, line in list(self.lines))

    def command(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def wait(self, timeout=60):
        code = self.process.wait(timeout)
        self._reader.join(5)
        return code

    def kill(self):
        # Ends the program if it still runs; the end of the test's use of it.
        self.process.kill()
        self.wait()
        self.process.stdin.close()
        self.process.stderr.close()


TimedCli = Cli


class SocatPair:
    # Two linked pseudo-terminals made by socat: `pc` and `machine`.

    def __init__(self, directory):
        self.pc = os.path.join(directory, "pc")
        self.machine = os.path.join(directory, "machine")
        self.process = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + self.pc, "pty,raw,echo=0,link=" + self.machine],
            stderr=subprocess.DEVNULL)
        if not until(lambda: os.path.exists(self.pc) and os.path.exists(self.machine), 30):
            raise RuntimeError("socat did not make its pair")

    def close(self):
        self.process.terminate()
        self.process.wait(5)


def free_tcp_port():
    # A loopback TCP port nobody listens on now.
    with socket.create_server(("127.0.0.1", 0)) as s:
        return s.getsockname()[1]


def listening(port):
    # Whether something listens on this TCP port (from /proc/net/tcp, so that
    # looking does not connect: a device server opens its line on a connect).
    rows = [line.split() for table in ("/proc/net/tcp", "/proc/net/tcp6") if os.path.exists(table)
            for line in pathlib.Path(table).read_text().splitlines()[1:]]
    return any(r[3] == "0A" and int(r[1].rsplit(":", 1)[1], 16) == port for r in rows)


class Ser2net:
    # ser2net serving one device on loopback ports: an RFC 2217 accepter and a
    # raw TCP accepter (`ports` by the scheme of their URLs). The device's own
    # setting is `line` (a client's RFC 2217 settings replace it); chardelay is
    # off, so that what the device sends goes on at once.

    def __init__(self, device, directory, line="19200n81"):
        self.ports = {"rfc2217": free_tcp_port(), "tcp": free_tcp_port()}
        config = os.path.join(directory, "ser2net.yaml")
        pathlib.Path(config).write_text("".join(
            "connection: &%s\n  accepter: %s,127.0.0.1,%d\n  connector: serialdev,%s,%s,local\n"
            "  options:\n    chardelay: false\n    kickolduser: true\n"
            % (name, accepter, self.ports[name], device, line)
            for name, accepter in (("rfc2217", "telnet(rfc2217),tcp"), ("tcp", "tcp"))))
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            ["ser2net", "-n", "-u", "-c", config, "-P", os.path.join(directory, "ser2net.pid")],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        ready = lambda: all(listening(port) for port in self.ports.values())
        if not until(lambda: ready() or self.process.poll() is not None, 30) or not ready():
            self.log.seek(0)
            raise RuntimeError("ser2net did not start: " + self.log.read().decode())

    def url(self, kind="rfc2217"):
        # kind: "rfc2217" or "tcp" (the raw accepter).
        return "%s://127.0.0.1:%d" % (kind, self.ports[kind])

    def stop(self):
        # Ends ser2net at once: every connection it carries drops.
        self.process.kill()
        self.process.wait()
        self.log.close()


class Worker(threading.Thread):
    # A thread that starts as it is made (its fields set before) and runs
    # until stop().

    def __init__(self):
        threading.Thread.__init__(self, daemon=True)
        self.stopped = False
        self.start()

    def stop(self):
        self.stopped = True
        self.join(5)


class Rfc2217Peer(Worker):
    # pyserial's RFC 2217 PortManager serving one device, from a thread: it
    # listens on loopback, and for each connection opens the device, applies
    # the line settings the client asks for and moves bytes both ways until
    # either side closes. A pseudo-terminal has no modem lines: the state it
    # reports is CTS, DSR and CD on; DTR and RTS requests are taken and ignored.

    def __init__(self, device):
        self.device = device
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = "rfc2217://127.0.0.1:%d" % self.listener.getsockname()[1]
        Worker.__init__(self)

    def run(self):
        import serial.rfc2217  # python3-serial

        class Line(serial.Serial):
            cts = dsr = cd = True
            ri = False
            _update_dtr_state = _update_rts_state = lambda self: None

        while not self.stopped:
            if not select.select([self.listener], [], [], 0.2)[0]:
                continue
            client = self.listener.accept()[0]
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                with client, Line(self.device, timeout=0) as line:
                    manager = serial.rfc2217.PortManager(
                        line, types.SimpleNamespace(write=client.sendall))
                    data = True  # until the client closes
                    while data and not self.stopped:
                        ready = select.select([client, line.fd], [], [], 0.2)[0]
                        manager.check_modem_lines()
                        if client in ready:
                            data = client.recv(4096)
                            line.write(b"".join(manager.filter(data)))
                        if line.fd in ready:
                            client.sendall(b"".join(manager.escape(line.read(4096))))
            except OSError:
                pass  # the line went away (pyserial's errors are OSErrors too)

    def stop(self):
        Worker.stop(self)
        self.listener.close()


class FileWatch(Worker):
    # Watches a file grow, every millisecond or two, from a thread: when it
    # reached a size. For a machine's --out file, that is when the machine had
    # each byte.

    def __init__(self, path):
        self.path = path
        self.sizes = [(time.monotonic(), 0)]  # (time, size) at each change
        Worker.__init__(self)

    def run(self):
        while not self.stopped:
            size = os.path.getsize(self.path) if os.path.exists(self.path) else 0
            if size != self.sizes[-1][1]:
                self.sizes.append((time.monotonic(), size))
            time.sleep(0.001)

    def reached(self, size, timeout=20):
        # The time the file first held at least size bytes, or None.
        found = lambda: next((at for at, n in list(self.sizes) if n >= size), None)
        until(lambda: found() is not None, timeout, 0.01)
        return found()


class LineMachine(LineEnd, Worker):
    # A machine at the far end of a line, played from a thread that starts at
    # once: it takes what the PC sends, holding the line with DC3 after every
    # dc3_every bytes for 0.3 s (counting what still arrives, the overrun)
    # before DC1; given to_punch, it punches that, obeying the PC's DC3 and
    # DC1.

    def __init__(self, path, baud=None, dc3_every=None):
        LineEnd.__init__(self, path, baud)
        self.dc3_every = dc3_every
        self.overruns = []
        self.to_punch = None
        Worker.__init__(self)

    def run(self):
        held_until = None
        next_hold = self.dc3_every or float("inf")
        while not self.stopped:
            punching = self.to_punch
            before = len(self.received)
            if self.read(0.01) is None:
                return
            if punching is not None:  # the PC receives: only its DC3 and DC1 come back
                del self.received[before:]
            elif held_until is not None:
                self.overruns[-1] += len(self.received) - before
            if punching is None and held_until is None and len(self.received) >= next_hold:
                os.write(self.fd, DC3)
                self.overruns.append(0)
                held_until, next_hold = time.monotonic() + 0.3, next_hold + self.dc3_every
            elif held_until is not None and time.monotonic() >= held_until:
                os.write(self.fd, DC1)
                held_until = None
            if punching and not self.held:
                self.to_punch = punching[os.write(self.fd, punching[:16]):]  # 16 a turn

    def stop(self):
        Worker.stop(self)
        self.close()

    def set_dtr(self, on):
        # DTR of this end: on a null-modem cable it is the PC's DSR. False
        # where the port has no modem lines (a pseudo-terminal).
        try:
            fcntl.ioctl(self.fd, termios.TIOCMBIS if on else termios.TIOCMBIC,
                        termios.TIOCM_DTR.to_bytes(4, sys.byteorder))
            return True
        except OSError:
            return False
