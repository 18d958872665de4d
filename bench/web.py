#!/usr/bin/python3
"""Benchmarks of the shop service's web side, each beside a peer measured in
the same run:

  board       GET /api/v1/machines answered while 64 simulated machines punch
              at an emulated 9600 baud (requests per second), and the
              service's CPU meanwhile against the same run without web clients
  journal     the journal's first page (50 records) for a journal of
              1,000,000 lines against one of 1,000 lines
  memory      the service's resident memory with 64 web clients connected
              (32 event streams, 32 idle connections) against none

Every punched program is checked to have arrived whole.

    bench/web.py [BUILD_DIR] [--machines N] [--seconds S]
"""

import http.client
import json
import os
import signal
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from shop import Run, arguments, measure, phases, wait_for_files  # noqa: E402
from transfer import Process, check, report  # noqa: E402

TOKEN = "bench-token-0123456789-abcdefghijklmnopqrstuvwxyz"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_shop(directory, sections, port):
    with open(os.path.join(directory, "token"), "w") as f:
        f.write(TOKEN + "\n")
    text = "[service]\njournal = journal.jsonl\nstate = shop.state\n\n"
    text += "[web]\nlisten = 127.0.0.1:%d\ntoken-file = token\n" % port
    text += "".join(sections)
    path = os.path.join(directory, "shop.ini")
    with open(path, "w") as f:
        f.write(text)
    return path


def start_service(build, directory, config, port):
    server = os.path.join(build, "tools", "server", "ferobrixlan-server")
    service = Process([server, "--config", config], cwd=directory)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return service
        except OSError:
            time.sleep(0.1)
    check(False, "the web side did not listen", service)


def get(connection, path):
    connection.request("GET", path, headers={"Authorization": "Bearer " + TOKEN})
    response = connection.getresponse()
    body = response.read()
    check(response.status == 200, "%s answered %d" % (path, response.status))
    return body


def board_run(build, work, name, count, seconds, lines, clients):
    """CPU of the service over the busy window, and the board requests
    answered per second meanwhile by `clients` threads (0: none)."""
    wait, _, busy_from = phases(seconds)
    run = Run(build, work, name, count, wait, lines)
    sections, targets = [], []
    for i, link in enumerate(run.links):
        folder = os.path.join(run.dir, "nc-%d" % i)
        os.makedirs(folder)
        targets.append(os.path.join(folder, "incoming", "O%d.nc" % (1000 + i)))
        sections.append("\n[m%d]\nport = %s\ndatabits = 8\nparity = n\nfolder = %s\n" % (i, link, folder))
    port = free_port()
    config = write_shop(run.dir, sections, port)
    opened = time.monotonic()
    service = start_service(build, run.dir, config, port)
    answered = [0]
    stop = threading.Event()

    def client():
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        while not stop.is_set():
            board = json.loads(get(connection, "/api/v1/machines"))
            check(len(board) == count, "the board lacks machines")
            answered[0] += 1

    threads = []
    try:
        if clients:
            delay = opened + busy_from - time.monotonic()
            time.sleep(max(0, delay))
            threads = [threading.Thread(target=client, daemon=True) for _ in range(clients)]
            for t in threads:
                t.start()
            first = answered[0]
        busy = measure([service], opened + busy_from, seconds)
        rate = (answered[0] - first) / seconds if clients else 0
        stop.set()
        for t in threads:
            t.join(15)
        check(wait_for_files(targets, 120), "the service did not store every program", service)
        for target, data in zip(targets, run.programs):
            with open(target, "rb") as f:
                check(f.read() == data, "%s differs from the program punched" % target)
        service.signal(signal.SIGTERM)
        check(service.finish(30) == 0, "the service did not end with 0", service)
    finally:
        stop.set()
        service.signal(signal.SIGKILL)
        run.stop()
    return busy, rate


def journal_line(i):
    return ('{"time":"2025-03-14T07:%02d:%02dZ","machine":"m%d","direction":"receive",'
            '"file":"/srv/nc/m%d/incoming/O%d.nc","bytes":%d,"crc32":"0badf00d",'
            '"outcome":"stored","seconds":12.345}\n' % (i // 60 % 60, i % 60, i % 64, i % 64, i, 1000 + i))


def first_page_ms(build, work, lines, requests=200):
    directory = os.path.join(work, "journal-%d" % lines)
    os.makedirs(directory)
    with open(os.path.join(directory, "journal.jsonl"), "w") as f:
        block = 10000
        for start in range(0, lines, block):
            f.write("".join(journal_line(i) for i in range(start, min(lines, start + block))))
    port = free_port()
    config = write_shop(directory, [], port)
    service = start_service(build, directory, config, port)
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        times = []
        for _ in range(requests):
            began = time.perf_counter()
            page = json.loads(get(connection, "/api/v1/journal?direction=receive&limit=50"))
            times.append(time.perf_counter() - began)
            check(len(page["records"]) == 50, "the first page is short")
        check(page["records"][0]["file"].endswith("O%d.nc" % (lines - 1)), "not the newest first")
        times.sort()
        return 1000 * times[len(times) // 2]
    finally:
        service.signal(signal.SIGKILL)


def resident_kb(process):
    with open("/proc/%d/status" % process.pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def memory_kb(build, work, clients):
    directory = os.path.join(work, "memory-%d" % clients)
    os.makedirs(directory)
    port = free_port()
    config = write_shop(directory, [], port)
    service = start_service(build, directory, config, port)
    sockets = []
    try:
        # Every answer's pages touched once, as a used service has them.
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        for path in ("/", "/page.js", "/api/v1/machines", "/api/v1/journal", "/metrics"):
            get(connection, path)
        connection.close()
        for i in range(clients):
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            if i % 2 == 0:
                s.sendall(("GET /api/v1/events HTTP/1.1\r\nHost: bench\r\nAuthorization: Bearer %s"
                           "\r\n\r\n" % TOKEN).encode())
                s.recv(1024)
            sockets.append(s)
        time.sleep(2)
        return resident_kb(service)
    finally:
        for s in sockets:
            s.close()
        service.signal(signal.SIGKILL)


def main():
    args, build = arguments(__doc__)
    lines = int((args.seconds + 6) * 960 / 26)
    n = args.machines
    with tempfile.TemporaryDirectory(prefix="fbx-web-bench-") as work:
        quiet_cpu, _ = board_run(build, work, "quiet", n, args.seconds, lines, 0)
        busy_cpu, rate = board_run(build, work, "asked", n, args.seconds, lines, 4)
        long_ms = first_page_ms(build, work, 1_000_000)
        short_ms = first_page_ms(build, work, 1_000)
        none_kb = memory_kb(build, work, 0)
        many_kb = memory_kb(build, work, 64)
    report("web board answers, %d receiving at 9600" % n, "%.0f /s" % rate, "", "", "", None)
    report("shop CPU, %d receiving, board asked" % n, "%.2f %%" % busy_cpu, "not asked",
           "%.2f %%" % quiet_cpu, "asked/not", busy_cpu / max(quiet_cpu, 1e-3))
    report("journal first page, 1,000,000 lines", "%.2f ms" % long_ms, "1,000 lines",
           "%.2f ms" % short_ms, "long/short", long_ms / max(short_ms, 1e-3), "< 2", long_ms < 2 * short_ms)
    report("service memory, 64 web clients", "%d KB" % many_kb, "no client", "%d KB" % none_kb,
           "with/without", many_kb / max(none_kb, 1))


if __name__ == "__main__":
    main()
