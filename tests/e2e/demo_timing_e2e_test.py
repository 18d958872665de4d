# The demo as scripts/run --demo starts it (scripts/demo/start, from a
# terminal, the window program offscreen), with ferobrixlan-cli on the demo's
# port 1 where the operator would use the window.
#
# What an operator learns from the demo must hold on a real line: a send of
# the sample is held by the machine's DC3 several times, no more than four
# characters reach the machine after a DC3, "finish" shows when the machine has
# the last byte, and a re-send gets the machine's start signal again. The demo
# leaves nothing running, however it ends.

import fcntl, os, pty, select, signal, subprocess, sys, tempfile, termios, time, unittest

from linepeers import FileWatch, TimedCli, as_hardware, program_paths, write_config

CLI = os.environ.get("FEROBRIXLAN_CLI", "ferobrixlan-cli")
MACHINE = os.environ.get("FEROBRIXLAN_MACHINE", "ferobrixlan-machine")
DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "demo")
AHEAD = 4

# The shell of a terminal: runs the demo as a job in the terminal's
# foreground, takes no Ctrl-C itself, passes a hang-up on to the job, stays.
SHELL = ("import os, signal, subprocess, sys\n"
         "job = subprocess.Popen(sys.argv[1:], process_group=0)\n"
         "os.tcsetpgrp(0, job.pid)\n"
         "signal.signal(signal.SIGINT, lambda *_: None)\n"
         "signal.signal(signal.SIGHUP, lambda *_: os.killpg(job.pid, signal.SIGHUP))\n"
         "job.wait()\n"
         "signal.pause()\n")


def wait_for(condition, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()


# scripts/demo/start run from a terminal (a pseudo-terminal and its shell);
# `dir` is its scratch directory.
class Demo:
    def __init__(self):
        self.terminal, slave = pty.openpty()
        build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(MACHINE))))
        self.shell = subprocess.Popen(
            [sys.executable, "-c", SHELL, os.path.join(DEMO, "start"), build], stdin=slave,
            stdout=slave, stderr=slave, start_new_session=True,
            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0),
            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        os.close(slave)
        said = b""
        while b"\n" not in said.partition(b"Demo in ")[2] and select.select([self.terminal], [], [], 20)[0]:
            said += os.read(self.terminal, 4096)
        self.dir = said.partition(b"Demo in ")[2].split(b"\r")[0].decode()
        assert wait_for(lambda: {"ferobrixlan", "ferobrixlan-mac"} <= set(self.processes().values()))

    def processes(self):  # of the terminal's session but its shell: name by pid
        ps = subprocess.run(["ps", "-o", "pid=,comm=", "-s", str(self.shell.pid)], capture_output=True, text=True)
        found = dict(line.split(None, 1) for line in ps.stdout.splitlines())
        return {int(pid): name for pid, name in found.items() if int(pid) != self.shell.pid}

    def end(self, way):  # the processes left behind
        program = [pid for pid, name in self.processes().items() if name == "ferobrixlan"][0]
        if way == "Ctrl-C in the terminal":
            os.write(self.terminal, b"\x03")
        elif way == "terminal closed":
            os.close(self.terminal)
        else:
            os.kill(program, signal.SIGSEGV if way == "crash" else signal.SIGTERM)
        wait_for(lambda: not self.processes(), 10)
        left = self.processes()
        for pid in list(left) + [self.shell.pid]:
            os.kill(pid, signal.SIGKILL)
        self.shell.wait()
        return left


class DemoLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(os.path.join(os.path.dirname(MACHINE), "..", "..", "app", "ferobrixlan")):
            raise unittest.SkipTest("the window program is not built")
        cls.demo = Demo()
        with open(os.path.join(DEMO, "O1000.nc"), "rb") as f:
            cls.sample = f.read()
        cls.sends = 0

    @classmethod
    def tearDownClass(cls):
        cls.demo.end("quit")

    def setUp(self):
        self.config = tempfile.TemporaryDirectory()
        self.cli = self.watch = None

    def tearDown(self):
        if self.cli: self.cli.kill()
        if self.watch: self.watch.stop()
        self.config.cleanup()

    def log(self):
        with open(os.path.join(self.demo.dir, "machine.log")) as f:
            return f.read().split("role=receive")

    def send(self, **config):  # once a fresh machine waits on port 1
        self.assertTrue(wait_for(lambda: len(self.log()) == DemoLine.sends + 1 and os.path.exists(
            os.path.join(self.demo.dir, "port1"))))
        for pid, name in self.demo.processes().items():
            if name == "ferobrixlan-mac":
                as_hardware(pid)
        DemoLine.sends += 1
        self.out = os.path.join(self.demo.dir, "received-by-machine-%d.nc" % DemoLine.sends)
        write_config(self.config.name, **config)
        self.watch = FileWatch(self.out)
        self.cli = TimedCli(CLI, self.demo.dir, ["send", "O1000.nc", "--yes", "--config",
                                                 os.path.join(self.config.name, "ferobrixlan.cfg")],
                            env={"FEROBRIXLAN_PACE_PTY": "1"})

    def stored(self):  # once the machine has ended: what it stored, its summary
        self.assertTrue(wait_for(lambda: len(self.log()) > DemoLine.sends and "exit=" in self.log()[-1]))
        with open(self.out, "rb") as f:
            return f.read(), dict(line.split("=", 1) for line in self.log()[-1].splitlines() if "=" in line)

    def test_a_send_is_held_several_times_a_resend_starts_again_finish_comes_with_the_last_byte(self):
        self.send(mode="Data In/Out")
        self.assertIsNotNone(self.watch.reached(800, 20))
        self.cli.command("resend")
        self.cli.command("start")  # waits for the machine's DC1 once more
        finished = self.cli.wait_line("status: finish", 60)
        self.assertEqual(self.cli.wait(10), 0, self.cli.stderr())
        out, summary = self.stored()
        self.assertTrue(out.endswith(self.sample) and len(out) > len(self.sample))
        self.assertLess(abs(finished - self.watch.reached(len(out), 10)), 1.0)  # unpaced: seconds before
        self.assertGreaterEqual(int(summary["dc3-sent"]), 3, summary)
        self.assertLessEqual(int(summary["overrun-max"]), AHEAD, summary)

    def test_every_process_ends_with_the_demo_however_it_ends(self):
        for way in ("quit", "crash", "Ctrl-C in the terminal", "terminal closed"):
            self.assertEqual(Demo().end(way), {}, way)


if __name__ == "__main__":
    paths = program_paths(sys.argv, cli=CLI, machine=MACHINE)
    CLI, MACHINE = paths["cli"], paths["machine"]
    unittest.main(verbosity=2)
