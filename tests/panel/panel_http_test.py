"""voxactl panel over HTTP, against a simulated board started by the panel.

Run with VOXACTL set to the program (ctest does).
"""
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import threading
import time
import unittest

VOXACTL = os.environ.get("VOXACTL", "voxactl")


class Panel:
    """A running `voxactl panel --sim` and requests to it."""

    def __init__(self, board=("--sim",)):
        self.proc = subprocess.Popen([VOXACTL, "panel", *board, "--listen", "127.0.0.1:0", "--state-ms", "25"],
                                     stdout=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        for line in self.proc.stdout:
            m = re.search(r"open http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+)", line)
            if m:
                self.port, self.token = int(m.group(1)), m.group(2)
                break
            if time.monotonic() > deadline:
                break
        else:
            raise RuntimeError("voxactl panel printed no address")
        self.host = "127.0.0.1:%d" % self.port
        self.cookie = "voxa_panel_%d=%s" % (self.port, self.token)

    def close(self):
        """Ends the panel as Ctrl-C does; its exit status."""
        self.proc.terminate()
        try:
            return self.proc.wait(10)
        finally:
            self.proc.stdout.close()

    def request(self, method, path, body=None, headers=None, cookie=True):
        h = {"Host": self.host}
        if cookie:
            h["Cookie"] = self.cookie
        if body is not None and not isinstance(body, bytes):
            body = "&".join("%s=%s" % kv for kv in body.items())
            h["Content-Type"] = "application/x-www-form-urlencoded"
        h.update(headers or {})
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            c.request(method, path, body=body, headers=h)
            r = c.getresponse()
            return r.status, dict(r.getheaders()), r.read()
        finally:
            c.close()

    def act(self, name, **params):
        status, _, body = self.request("POST", "/api/" + name, params)
        return status, json.loads(body)

    def status(self):
        status, _, body = self.request("GET", "/api/status")
        assert status == 200, body
        return json.loads(body)

    def wait_status(self, check, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            s = self.status()
            if check(s):
                return s
            if time.monotonic() > deadline:
                raise AssertionError("the board never got there; last status: %s" % json.dumps(s)[:400])
            time.sleep(0.02)


class Stream:
    """The page's live stream (/events), read on a thread."""

    def __init__(self, panel):
        self.sock = socket.create_connection(("127.0.0.1", panel.port), timeout=10)
        self.sock.sendall(("GET /events HTTP/1.1\r\nHost: %s\r\nCookie: %s\r\n\r\n" % (panel.host, panel.cookie))
                          .encode())
        self.events = []
        self.lock = threading.Lock()
        self.hello = threading.Event()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        assert self.hello.wait(5), "no hello on the stream"

    def _read(self):
        buf = b""
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    return
                buf += data
                for m in re.finditer(rb"event: (\w+)\r?\ndata: ([^\r\n]*)", buf):
                    with self.lock:
                        self.events.append((m.group(1).decode(), json.loads(m.group(2))))
                    if m.group(1) == b"hello":
                        self.client = json.loads(m.group(2))["client"]
                        self.hello.set()
                buf = buf[buf.rfind(b"\n\n") + 2:] if b"\n\n" in buf else buf
        except OSError:
            return

    def of(self, kind):
        with self.lock:
            return [e for k, e in self.events if k == kind]

    def drop(self):
        # As a closed tab does: the connection goes, no request says so.
        self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()


class PanelHttpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = Panel()
        cls.p.wait_status(lambda s: s["link"] == 1)

    @classmethod
    def tearDownClass(cls):
        # A clean end (a sanitizer's report would make it fail).
        assert cls.p.close() == 0

    def test_token_in_first_url_then_cookie(self):
        p = self.p
        self.assertEqual(p.request("GET", "/", cookie=False)[0], 401)
        self.assertEqual(p.request("GET", "/api/status", cookie=False)[0], 401)
        self.assertEqual(p.request("GET", "/?token=" + "0" * len(p.token), cookie=False)[0], 401)
        self.assertEqual(p.request("GET", "/", headers={"Cookie": "voxa_panel_%d=%s" % (p.port, "1" * 64)},
                                   cookie=False)[0], 401)
        status, headers, _ = p.request("GET", "/?token=" + p.token, cookie=False)
        self.assertEqual(status, 303)
        self.assertEqual(headers["Location"], "/")
        self.assertIn(p.cookie, headers["Set-Cookie"])
        self.assertIn("HttpOnly", headers["Set-Cookie"])
        self.assertIn("SameSite=Strict", headers["Set-Cookie"])
        status, headers, body = p.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b"<title>voxa panel</title>", body)
        self.assertIn("frame-ancestors 'none'", headers["Content-Security-Policy"])

    def test_foreign_host_and_origin_refused(self):
        p = self.p
        # A rebound DNS name reaches the loopback port with its own Host.
        for host in ("evil.example:%d" % p.port, "127.0.0.1:1", ""):
            self.assertEqual(p.request("GET", "/api/status", headers={"Host": host})[0], 403, host)
        for origin in ("http://evil.example", "null", "http://127.0.0.1:1"):
            status, _, _ = p.request("POST", "/api/stop", {}, headers={"Origin": origin})
            self.assertEqual(status, 403, origin)
        status, _, _ = p.request("POST", "/api/stop", {}, headers={"Sec-Fetch-Site": "cross-site"})
        self.assertEqual(status, 403)
        # The panel's own page: same origin.
        status, _, _ = p.request("POST", "/api/stop", {}, headers={"Origin": "http://" + p.host,
                                                                   "Sec-Fetch-Site": "same-origin"})
        self.assertEqual(status, 200)
        self.assertEqual(p.request("GET", "/api/status", headers={"Host": "localhost:%d" % p.port})[0], 200)

    def test_actions_are_post_only(self):
        for name in ("stop", "estop", "jog", "move", "output"):
            status, headers, _ = self.p.request("GET", "/api/" + name)
            self.assertEqual(status, 405, name)
            self.assertEqual(headers["Allow"], "POST")

    def test_status(self):
        s = self.p.wait_status(lambda s: s["age"] >= 0 or s["link"] == 1)
        self.assertTrue(s["engine"].startswith("V"))
        self.assertEqual(len(s["axes"]), 8)
        for key in ("exe", "cmd", "alarm", "bq", "hq", "gin", "gout", "age"):
            self.assertIn(key, s)

    def test_every_action(self):
        p = self.p
        ok = lambda r: self.assertEqual(r[0], 200, r[1]) or self.assertTrue(r[1]["ok"], r[1])
        ok(p.act("move", axis=1, pos=700, vel=20000))
        p.wait_status(lambda s: s["axes"][1][0] == 700)
        ok(p.act("home", axis=1))
        p.wait_status(lambda s: s["axes"][1][0] == 0 and s["cmd"] == 0)
        ok(p.act("servo", axis=2, on=1))
        p.wait_status(lambda s: s["axes"][2][3] & 32)
        ok(p.act("servo", axis=2, on=0))
        p.wait_status(lambda s: not s["axes"][2][3] & 32)
        ok(p.act("output", bit=5))
        p.wait_status(lambda s: s["gout"] & (1 << 5))
        ok(p.act("output", bit=5))
        p.wait_status(lambda s: not s["gout"] & (1 << 5))
        ok(p.act("output", bit=6, on=1))
        ok(p.act("output", bit=6, on=0))
        ok(p.act("stop"))
        ok(p.act("estop"))
        p.wait_status(lambda s: s["estop"] == 1 and s["alarm"] == 1)
        ok(p.act("alarmreset"))
        p.wait_status(lambda s: s["alarm"] == 0)
        ok(p.act("resume"))
        # Bad input is refused with the reason; nothing is sent.
        for name, params in (("move", {"axis": 9, "pos": 1}), ("move", {"axis": 0}), ("output", {"bit": 32}),
                             ("servo", {"axis": 0, "on": 2}), ("jog", {"axis": 0, "dir": 1, "vel": 10})):
            status, answer = p.act(name, **params)
            self.assertEqual(status, 400, (name, params))
            self.assertFalse(answer["ok"])
        self.assertEqual(p.act("nosuch")[0], 404)

    def test_configuration_save_and_load(self):
        p = self.p
        status, headers, body = p.request("GET", "/api/config")
        self.assertEqual(status, 200)
        self.assertIn("attachment", headers["Content-Disposition"])
        self.assertGreater(len(body), 100)
        s = Stream(p)
        try:
            status, _, answer = p.request("POST", "/api/config", body, {"Content-Type": "text/plain"})
            self.assertEqual(status, 200, answer)
            self.assertTrue(json.loads(answer)["ok"])
            deadline = time.monotonic() + 2
            while 100 not in [e["percent"] for e in s.of("load")] and time.monotonic() < deadline:
                time.sleep(0.02)
            percents = [e["percent"] for e in s.of("load")]
            self.assertEqual(percents[-1], 100)
            self.assertEqual(percents, sorted(percents))
        finally:
            s.drop()

    def test_stream_pushes_state_with_samples(self):
        s = Stream(self.p)
        try:
            time.sleep(0.5)
            states = s.of("state")
            self.assertGreater(len(states), 5)
            self.assertTrue(any(st["s"] for st in states))
            self.assertEqual(len(states[-1]["axes"]), 8)
        finally:
            s.drop()

    def jogging(self, axis):
        return lambda st: st["axes"][axis][2] != 0

    def stopped(self, axis):
        return lambda st: st["axes"][axis][2] == 0

    def test_jog_held_and_released(self):
        p, s = self.p, Stream(self.p)
        try:
            start = p.status()["axes"][3][0]
            self.assertTrue(p.act("jog", axis=3, dir=-1, vel=3000, client=s.client, press=1)[1]["ok"])
            p.wait_status(lambda st: st["axes"][3][0] < start - 100)
            self.assertTrue(p.act("jogstop", axis=3)[1]["ok"])
            p.wait_status(self.stopped(3))
        finally:
            s.drop()

    def test_jog_ends_when_not_renewed(self):
        p, s = self.p, Stream(self.p)
        try:
            p.act("jog", axis=5, dir=1, vel=3000, client=s.client, press=1)
            p.wait_status(self.jogging(5))
            t0 = time.monotonic()
            p.wait_status(self.stopped(5), timeout=3)
            self.assertLess(time.monotonic() - t0, 2.0)
        finally:
            s.drop()

    def test_jog_ends_with_dropped_connection(self):
        p, s = self.p, Stream(self.p)
        renewing = threading.Event()
        answers = []

        def renew():
            # The page keeps holding the button; only its stream goes.
            while not renewing.is_set():
                answers.append(p.act("jog", axis=4, dir=1, vel=3000, client=s.client, press=1)[0])
                time.sleep(0.1)

        t = threading.Thread(target=renew)
        t.start()
        try:
            p.wait_status(self.jogging(4))
            time.sleep(0.3)
            s.drop()
            t0 = time.monotonic()
            p.wait_status(self.stopped(4), timeout=3)
            self.assertLess(time.monotonic() - t0, 2.0)
            time.sleep(0.3)
            self.assertEqual(answers[-1], 409)  # a jog needs a live stream
            self.assertTrue(self.stopped(4)(p.status()))
        finally:
            renewing.set()
            t.join()

    def wait_note(self, s, needle, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for n in s.of("note"):
                if needle in n["text"]:
                    return n["text"]
            time.sleep(0.02)
        self.fail("no note with %r; notes: %s" % (needle, [n["text"] for n in s.of("note")]))

    def test_released_press_is_never_restarted(self):
        p, s = self.p, Stream(self.p)
        try:
            self.assertTrue(p.act("jog", axis=6, dir=1, vel=2000, client=s.client, press=7)[1]["ok"])
            p.wait_status(self.jogging(6))
            self.assertTrue(p.act("jogstop", axis=6, client=s.client, press=7)[1]["ok"])
            # A renewal of that press that comes late is refused.
            status, answer = p.act("jog", axis=6, dir=1, vel=2000, client=s.client, press=7)
            self.assertEqual(status, 409, answer)
            # The stop is confirmed by what the board reports.
            self.wait_note(s, "jog of axis 6 stopped (released): the board reports it at rest")
            at_rest = p.wait_status(self.stopped(6), timeout=1)["axes"][6][0]
            time.sleep(0.3)
            self.assertEqual(p.status()["axes"][6][0], at_rest)
            # A new press jogs again.
            self.assertTrue(p.act("jog", axis=6, dir=-1, vel=2000, client=s.client, press=8)[1]["ok"])
            p.wait_status(self.jogging(6))
            p.act("jogstop", axis=6, client=s.client, press=8)
            p.wait_status(self.stopped(6))
        finally:
            s.drop()

    def test_jog_stop_outlasts_a_lost_link(self):
        p, s = self.p, Stream(self.p)
        try:
            self.assertTrue(p.act("jog", axis=7, dir=1, vel=2000, client=s.client, press=1)[1]["ok"])
            p.wait_status(self.jogging(7))
            self.assertEqual(p.act("simfault", drop=1)[0], 200)
            # The jog ends with the link; its stop reaches the board once the link is back.
            self.wait_note(s, "jog of axis 7 stopped (the link to the board was lost)", timeout=10)
            p.wait_status(lambda st: st["link"] == 1 and st["axes"][7][2] == 0, timeout=1)
            self.assertEqual(p.act("jog", axis=7, dir=1, vel=2000, client=s.client, press=1)[0], 409)
            # The scope's record shows where it was cut: a gap sample [t, why].
            gaps = [row for st in s.of("state") for row in st["s"] if isinstance(row[1], str)]
            self.assertTrue(gaps, "no gap in the scope's samples")
        finally:
            s.drop()

    def test_no_motion_under_emergency_stop(self):
        p, s = self.p, Stream(self.p)
        try:
            before = p.status()["axes"][3][0]
            self.assertTrue(p.act("estop")[1]["ok"])
            p.wait_status(lambda st: st["estop"] == 1)
            for name, params in (("move", dict(axis=3, pos=before + 700)), ("home", dict(axis=3)),
                                 ("jog", dict(axis=3, dir=1, vel=2000, client=s.client, press=1))):
                status, answer = p.act(name, **params)
                self.assertEqual(status, 409, (name, answer))
                self.assertIn("EMERGENCY STOP", answer["text"])
            status, answer = p.act("alarmreset")
            self.assertEqual(status, 200, answer)
            self.assertIn("queues cleared", answer["text"])
            p.wait_status(lambda st: st["alarm"] == 0)
            time.sleep(0.5)
            self.assertEqual(p.status()["axes"][3][0], before)
        finally:
            s.drop()

    def test_stopped_move_is_not_reported_as_arrived(self):
        p, s = self.p, Stream(self.p)
        try:
            start = p.status()["axes"][2][0]
            self.assertTrue(p.act("move", axis=2, pos=start + 300, vel=20000)[1]["ok"])
            self.wait_note(s, "move of axis 2 to %d complete at axis 2 = %d" % (start + 300, start + 300))
            self.assertTrue(p.act("move", axis=2, pos=start + 100000, vel=3000)[1]["ok"])
            p.wait_status(self.jogging(2))
            p.act("stop")
            text = self.wait_note(s, "move of axis 2 to %d stopped before its end at axis 2 = " % (start + 100000))
            self.assertNotIn("complete", text)
        finally:
            s.drop()

    def test_limits_hold_before_the_token(self):
        p = self.p

        def rss_kib():
            with open("/proc/%d/status" % p.proc.pid) as f:
                return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

        def raw(head, send_more=b""):
            c = socket.create_connection(("127.0.0.1", p.port), timeout=10)
            try:
                c.sendall(head)
                for _ in range(1000 if send_more else 0):
                    c.sendall(send_more)
                return c.recv(200)
            except OSError:
                return b""
            finally:
                c.close()

        before = rss_kib()
        # 64 MiB of header lines without the token: answered (or cut) after the first 32 KiB.
        answer = raw(b"GET /api/status HTTP/1.1\r\nHost: %s\r\n" % p.host.encode(),
                     (b"X-Pad: " + b"a" * 1000 + b"\r\n") * 64)
        self.assertTrue(answer == b"" or answer.startswith(b"HTTP/1.1 431"), answer)
        self.assertLess(rss_kib() - before, 16 << 10)
        # A body larger than the panel takes is refused before anyone reads it.
        answer = raw(b"POST /api/config HTTP/1.1\r\nHost: %s\r\nContent-Length: 300000000\r\n\r\n" % p.host.encode())
        self.assertTrue(answer.startswith(b"HTTP/1.1 413"), answer)
        # 200 clients that send their head a byte at a time do not hold up a stop.
        slow = [socket.create_connection(("127.0.0.1", p.port)) for _ in range(200)]
        try:
            for c in slow:
                c.sendall(b"G")
            time.sleep(0.2)
            took = []
            for name in ("stop", "estop", "alarmreset"):
                t0 = time.monotonic()
                self.assertEqual(p.act(name)[0], 200)
                took.append(time.monotonic() - t0)
            self.assertLess(max(took), 0.1, took)
        finally:
            for c in slow:
                c.close()


class ListenTest(unittest.TestCase):
    def test_ipv6_listen_prints_a_url_that_works(self):
        for listen in ("[::1]:0", "[::]:0"):
            proc = subprocess.Popen([VOXACTL, "panel", "--sim", "--listen", listen], stdout=subprocess.PIPE, text=True)
            try:
                url = next(m.group(1) for m in (re.search(r"open (http://\S+)", line) for line in proc.stdout) if m)
                m = re.match(r"http://\[([0-9a-f:]+)\]:(\d+)(/\?token=\w+)$", url)
                self.assertTrue(m, url)
                c = http.client.HTTPConnection(m.group(1), int(m.group(2)), timeout=10)
                c.request("GET", m.group(3))
                self.assertEqual(c.getresponse().status, 303, (listen, url))
                c.close()
            finally:
                proc.terminate()
                self.assertEqual(proc.wait(10), 0)
                proc.stdout.close()


class EndTest(unittest.TestCase):
    def test_ended_panel_leaves_no_jog_running(self):
        sim_path = os.path.join(os.path.dirname(VOXACTL), "..", "sim", "voxa-sim")
        if not os.path.exists(sim_path):
            self.skipTest("no voxa-sim beside voxactl")
        sim = subprocess.Popen([sim_path, "--port", "0"], stdout=subprocess.PIPE, text=True)
        try:
            address = re.search(r"listening on (\S+)", sim.stdout.readline()).group(1)
            p = Panel(board=("--tcp", address))
            p.wait_status(lambda st: st["link"] == 1)
            s = Stream(p)
            self.assertTrue(p.act("jog", axis=1, dir=1, vel=2000, client=s.client, press=1)[1]["ok"])
            p.wait_status(lambda st: st["axes"][1][2] != 0)
            # Ctrl-C while the page still holds the jog.
            p.proc.send_signal(signal.SIGINT)
            self.assertEqual(p.proc.wait(10), 0)
            p.proc.stdout.close()
            s.drop()

            def axis1():
                out = subprocess.run([VOXACTL, "--tcp", address, "status"], capture_output=True, text=True).stdout
                return re.search(r"^\s+1\s+(-?\d+)\s+-?\d+\s+(-?\d+)", out, re.M).groups()

            first = axis1()
            time.sleep(0.3)
            self.assertEqual(first[1], "0")
            self.assertEqual(axis1(), first)
        finally:
            sim.terminate()
            sim.wait(10)
            sim.stdout.close()


if __name__ == "__main__":
    unittest.main()
