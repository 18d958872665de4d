# The demo as scripts/run --demo starts it (scripts/demo/start, from a
# terminal, the window program offscreen), with ferobrixlan-cli on the demo's
# port 1 where the operator would use the window.
#
# What an operator learns from the demo must hold on a real line: a send of
# the sample is held by the machine's DC3 several times, no more than four
# characters reach the machine after a DC3, "finish" shows when the machine has
# the last byte, and a re-send gets the machine's start signal again. The demo
# leaves nothing running, however it ends.

import fcntl, os, pathlib, pty, select, signal, subprocess, sys, tempfile, termios, unittest

from linepeers import PATHS, FileWatch, TimedCli, as_hardware, main, until, write_config

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


# scripts/demo/start run from a terminal (a pseudo-terminal and its shell);
# `dir` is its scratch directory.
class Demo:
    def __init__(self):
        self.terminal, slave = pty.openpty()
        build = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(PATHS["machine"]))))
        self.shell = subprocess.Popen(
            [sys.executable, "-c", SHELL, os.path.join(DEMO, "start"), build], stdin=slave, stdout=slave, stderr=slave,
            start_new_session=True, preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0),
            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        os.close(slave)
        said = b""
        while b"\n" not in said.partition(b"Demo in ")[2] and select.select([self.terminal], [], [], 20)[0]:
            said += os.read(self.terminal, 4096)
        self.dir = said.partition(b"Demo in ")[2].split(b"\r")[0].decode()
        assert until(lambda: {"ferobrixlan", "ferobrixlan-mac"} <= set(self.processes().values()), 20)

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
        until(lambda: not self.processes(), 10)
        left = self.processes()
        for pid in list(left) + [self.shell.pid]:
            os.kill(pid, signal.SIGKILL)
        self.shell.wait()
        return left


class DemoLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(os.path.join(os.path.dirname(PATHS["machine"]), "..", "..", "app", "ferobrixlan")):
            raise unittest.SkipTest("the window program is not built")

    def test_a_send_is_held_several_times_a_resend_starts_again_finish_comes_with_the_last_byte(self):
        demo, config = Demo(), self.enterContext(tempfile.TemporaryDirectory())
        self.addCleanup(demo.end, "quit")
        self.assertTrue(until(lambda: os.path.exists(os.path.join(demo.dir, "port1")), 20))
        for pid, name in demo.processes().items():
            if name == "ferobrixlan-mac":
                as_hardware(pid)
        write_config(config, mode="Data In/Out")
        watch = FileWatch(os.path.join(demo.dir, "received-by-machine-1.nc"))
        self.addCleanup(watch.stop)
        cli = TimedCli(PATHS["cli"], demo.dir, ["send", "O1000.nc", "--yes", "--config",
                                                os.path.join(config, "ferobrixlan.cfg")],
                       env={"FEROBRIXLAN_PACE_PTY": "1"})
        self.addCleanup(cli.kill)
        self.assertIsNotNone(watch.reached(800, 20))
        cli.command("resend")
        cli.command("start")  # waits for the machine's DC1 once more
        finished = cli.wait_line("status: finish", 60)
        self.assertEqual(cli.wait(10), 0, cli.stderr())
        # Once the machine has ended: what it stored, its summary.
        log = lambda: pathlib.Path(demo.dir, "machine.log").read_text().split("role=receive")
        self.assertTrue(until(lambda: len(log()) > 1 and "exit=" in log()[1], 20))
        summary = dict(line.split("=", 1) for line in log()[1].splitlines() if "=" in line)
        with open(os.path.join(DEMO, "O1000.nc"), "rb") as f, open(watch.path, "rb") as g:
            sample, out = f.read(), g.read()
        self.assertTrue(out.endswith(sample) and len(out) > len(sample))
        self.assertLess(abs(finished - watch.reached(len(out), 10)), 1.0)  # unpaced: seconds before
        self.assertGreaterEqual(int(summary["dc3-sent"]), 3, summary)
        self.assertLessEqual(int(summary["overrun-max"]), AHEAD, summary)

    def test_every_process_ends_with_the_demo_however_it_ends(self):
        for way in ("quit", "crash", "Ctrl-C in the terminal", "terminal closed"):
            self.assertEqual(Demo().end(way), {}, way)


if __name__ == "__main__":
    main()
