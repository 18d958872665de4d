# The shop service's web side over HTTP, without a browser: every route
# refused without the token (and every change without the custom header),
# names that would leave a folder, oversized requests, uploads, the queue
# across a restart; and the eight-machine case of the
# server suite run again while 64 slow web clients hold every connection.

import http.client
import json
import os
import socket
import subprocess
import threading
import time
import unittest

import server_e2e_test as server
from linepeers import SimulatedMachine, free_tcp_port, listening


# The server suite's shop with a [web] section and a token made by
# ferobrixlan-server --make-token.
class WebShop(server.Shop):
    def __init__(self, directory):
        super().__init__(directory)
        self.port = free_tcp_port()
        self.web = {"listen": "127.0.0.1:%d" % self.port, "token-file": "web.token"}
        self.token = None

    def write_config(self, text=None):
        super().write_config(text)
        if text is None:
            with open(self.path("shop.ini"), "a") as f:
                f.write("\n[web]\n" + "".join("%s = %s\n" % kv for kv in self.web.items()))

    def start(self, *extra, wait=True):
        if self.token is None:
            subprocess.run([server.SERVER, "--make-token", self.path("web.token")], check=True)
            with open(self.path("web.token")) as f:
                self.token = f.read().strip()
        started = super().start(*extra, wait=wait)
        self.wait_for(lambda: listening(self.port), 10, "the web side listening")
        return started

    # (status, headers, body) of one request; token True: the right one.
    def http(self, method, path, body=None, token=True, headers=None):
        h = {"X-Requested-By": "ferobrixlan"} if method in ("PUT", "POST", "DELETE") else {}
        if token:
            h["Authorization"] = "Bearer " + (self.token if token is True else token)
        h.update(headers or {})
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            connection.request(method, path, body=body, headers=h)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()


# The status of a request written by hand (headers too large for a client library).
def raw_status(port, head, body=b""):
    with socket.create_connection(("127.0.0.1", port), timeout=20) as s:
        s.sendall(head + body)
        return int(s.recv(4096).split(b" ", 2)[1])


class WebApiTest(unittest.TestCase):
    def setUp(self):
        self.tmp = server.tempfile.TemporaryDirectory()
        self.shop = shop = WebShop(self.tmp.name)
        shop.put(b"%\r\nO1 (LIBRARY)\r\nG00 X0\r\nM30\r\n%", "m1", "nc", "O1.nc")
        shop.put(b"%\r\nO1\r\nG00 X1\r\nM30\r\n%", "m1", "nc", "incoming", "O1.nc")
        shop.put(b"NOT FOR THE WEB", "outside.nc")
        os.symlink(shop.path("outside.nc"), shop.path("m1", "nc", "LINK.nc"))
        # A machine that never gives DC1: a queued send waits.
        shop.machines["m1"] = SimulatedMachine(server.MACHINE, shop.path("m1"), "receive")
        shop.line("m1", shop.machines["m1"].device)
        shop.start()

    def tearDown(self):
        self.shop.close()
        self.tmp.cleanup()

    def test_every_route_wants_the_token_and_every_change_the_header(self):
        shop, m = self.shop, "/api/v1/machines/m1/"
        routes = [("GET", "/api/v1/machines"), ("GET", "/api/v1/events"), ("GET", "/metrics"),
                  ("GET", "/api/v1/journal?machine=m1"), ("GET", "/api/v1/compare?machine=m1&received=O1.nc"),
                  ("GET", m + "programs"), ("GET", m + "programs/O1.nc"), ("GET", m + "incoming"),
                  ("GET", m + "incoming/O1.nc"), ("GET", m + "queue"), ("GET", "/api/v1/machines/nobody/queue"),
                  ("PUT", m + "programs/O9.nc", b"%\r\nO9\r\n%"), ("DELETE", m + "programs/O1.nc"),
                  ("POST", m + "queue", b'{"program": "O1.nc"}'), ("DELETE", m + "queue/1")]
        wrong = shop.token[:-1] + ("x" if shop.token[-1] != "x" else "y")
        refusals = set()
        for method, path, *body in routes:
            for token, headers in ((None, {}), (wrong, {}), (None, {"Cookie": "fbx_token=" + wrong})):
                status, _, answer = shop.http(method, path, *body, token=token, headers=headers)
                self.assertEqual(status, 401, (method, path, token, headers))
                refusals.add(answer)
            if method != "GET":  # a foreign page's form: the token as a cookie, no custom header
                for headers in ({"X-Requested-By": ""}, {"X-Requested-By": "", "Cookie": "fbx_token=" + shop.token}):
                    status, _, _ = shop.http(method, path, *body, token="Cookie" not in headers, headers=headers)
                    self.assertEqual(status, 403, (method, path, headers))
        self.assertEqual(len(refusals), 1, refusals)  # no hint what was wrong
        self.assertEqual(sorted(os.listdir(shop.path("m1", "nc"))), ["LINK.nc", "O1.nc", "incoming"])
        self.assertEqual(json.loads(shop.http("GET", m + "queue")[2]), [])

        # Looking without the token once open-view is on, after a reload; changes still need it.
        shop.web["open-view"] = "yes"
        shop.write_config()
        shop.server.send_signal(server.signal.SIGHUP)
        shop.wait_for(lambda: shop.http("GET", "/api/v1/machines", token=None)[0] == 200, 10, "open view")
        self.assertEqual(shop.http("GET", "/metrics", token=None)[0], 200)
        self.assertEqual(shop.http("DELETE", m + "programs/O1.nc", token=None)[0], 401)

        # Failed logins are answered later and later (the fourth after 2 s),
        # while everything else is answered at once; then the login's cookie.
        def login(token):
            return shop.http("POST", "/login", ("token=" + token).encode(), token=None)
        self.assertEqual([login(wrong)[0] for _ in range(3)], [401] * 3)
        late = []
        threading.Thread(target=lambda: late.append(login(wrong)[0])).start()
        time.sleep(0.3)
        self.assertEqual((shop.http("GET", "/api/v1/machines")[0], late), (200, []))
        shop.wait_for(lambda: late == [401], 20, "the fourth failed login answered")
        status, headers, _ = login(shop.token)
        self.assertEqual(status, 204)
        cookie = headers["Set-Cookie"]
        self.assertIn("HttpOnly", cookie)
        self.assertIn("SameSite=Strict", cookie)
        status, _, _ = shop.http("PUT", m + "programs/O8.nc", b"%\r\nO8\r\n%", token=None,
                                 headers={"Cookie": cookie.split(";")[0]})
        self.assertEqual(status, 201)

    def test_names_that_leave_the_folder_and_oversized_requests_are_refused(self):
        shop, m = self.shop, "/api/v1/machines/m1/"
        for name in ("..%2F..%2Foutside.nc", "%2E%2E", "..", "O1%00.nc", "LINK.nc", "a%2Fb.nc", ".hidden",
                     "O1.nc.~1~", "%0A", "A" * 65):
            for method, where in (("GET", "programs/"), ("PUT", "programs/"), ("DELETE", "programs/"),
                                  ("GET", "incoming/")):
                status, _, _ = shop.http(method, m + where + name, b"X" if method == "PUT" else None)
                self.assertIn(status, (400, 404), (method, name))
            self.assertIn(shop.http("POST", m + "queue", json.dumps({"program": name}))[0], (400, 404), name)
        self.assertEqual(shop.read("outside.nc"), b"NOT FOR THE WEB")
        self.assertEqual(sorted(os.listdir(shop.path("m1", "nc"))), ["LINK.nc", "O1.nc", "incoming"])
        head = "PUT %sprograms/O9.nc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer %s\r\n" \
               "X-Requested-By: ferobrixlan\r\nContent-Length: %d\r\n\r\n"
        self.assertEqual(raw_status(shop.port, (head % (m, shop.token, 64 * 2**20 + 1)).encode()), 413)
        self.assertEqual(raw_status(shop.port, b"GET /api/v1/machines HTTP/1.1\r\nHost: x\r\nX-Big: "
                                    + b"b" * 9000 + b"\r\n\r\n"), 431)
        self.assertEqual(shop.http("POST", m + "queue", b" " * 20000)[0], 413)
        self.assertFalse(os.path.exists(shop.path("m1", "nc", "O9.nc")))

    def test_uploads_keep_the_last_version_and_the_queue_survives_a_restart(self):
        shop, m = self.shop, "/api/v1/machines/m1/"
        self.assertEqual(os.stat(shop.path("web.token")).st_mode & 0o777, 0o600)
        program = bytes(range(256)) * 4096  # every byte value, 1 MB
        self.assertEqual(shop.http("PUT", m + "programs/O1.nc", program)[0], 200)
        self.assertEqual(shop.read("m1", "nc", "O1.nc"), program)
        self.assertEqual(shop.read("m1", "nc", "O1.nc.~1~")[:8], b"%\r\nO1 (L")
        self.assertEqual(shop.http("GET", m + "programs/O1.nc")[2], program)
        listed = json.loads(shop.http("GET", m + "programs")[2])
        self.assertEqual([(p["name"], p["size"]) for p in listed], [("O1.nc", len(program)), ("O1.nc.~1~", 31)])
        status, _, queued = shop.http("POST", m + "queue", b'{"program": "O1.nc"}')
        self.assertEqual(status, 201)
        self.assertIn(b'ferobrixlan_queue_length{machine="m1"} 1', shop.http("GET", "/metrics")[2])

        self.assertEqual(shop.stop(), 0)
        shop.start()
        [again] = json.loads(shop.http("GET", m + "queue")[2])
        self.assertEqual(again["program"], "O1.nc")
        self.assertEqual(shop.http("DELETE", m + "queue/%d" % json.loads(queued)["id"])[0], 204)
        self.assertEqual(json.loads(shop.http("GET", m + "queue")[2]), [])
        self.assertEqual(shop.outcomes("m1", "web"), ["uploaded", "queued", "withdrawn"])
        self.assertEqual(shop.outcomes("m1", "send"), [])


# The server suite's eight machines, each byte still in place and the
# small-buffer machine's DC3 obeyed within four characters (the lines paced
# as the lines they stand for), while 64 web clients hold every connection
# the web side takes: half never finish their request, half open the event
# stream and never read it.
class EightMachinesBesideSlowWebClients(server.ShopTest):
    def setUp(self):
        os.environ["FEROBRIXLAN_PACE_PTY"] = "1"
        super().setUp()
        self.shop.close()
        self.shop = shop = WebShop(self.tmp.name)
        self.clients = []
        self.done = threading.Event()
        start = shop.start

        def dribble():  # a header byte now and then: never idle, never finished
            while not self.done.wait(5):
                for s in self.clients[::2]:
                    s.send(b"x")

        def start_with_clients(*extra, **keys):
            started = start(*extra, **keys)
            for i in range(64):
                s = socket.create_connection(("127.0.0.1", shop.port), timeout=10)
                path = "/api/v1/events" if i % 2 else "/api/v1/machines"
                s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer %s\r\n%s" % (
                    path, shop.token, "\r\n" if i % 2 else "X-Slow: ")).encode())
                self.clients.append(s)
            threading.Thread(target=dribble, daemon=True).start()
            return started
        shop.start = start_with_clients
        stop, self.held = shop.stop, None

        def stop_after_a_look(*args):  # one place freed: every other client is still held
            self.clients.pop().close()
            self.held = shop.http("GET", "/metrics")[2].decode()
            return stop(*args)
        shop.stop = stop_after_a_look

    def tearDown(self):
        del os.environ["FEROBRIXLAN_PACE_PTY"]
        self.done.set()
        try:  # the service is stopped whatever these say
            summary = self.shop.machines["m1"].summary()
            self.assertEqual(summary["overflow"], "0", summary)
            self.assertLessEqual(int(summary["overrun-max"]), 4, summary)
            self.assertIn("ferobrixlan_web_clients 64\n", self.held or "")
        finally:
            for s in self.clients:
                s.close()
            super().tearDown()


def load_tests(loader, tests, pattern):
    suite = loader.loadTestsFromTestCase(WebApiTest)
    suite.addTest(EightMachinesBesideSlowWebClients("test_eight_machines_punch_and_ask_while_one_loses_its_cable"))
    return suite


if __name__ == "__main__":
    unittest.main(verbosity=2)
