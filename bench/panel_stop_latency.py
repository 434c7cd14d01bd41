"""How fast `voxactl panel` stops, on a simulated board: the answer time of
stop and emergency stop while many clients without the token send their
request heads a byte every few seconds, and the time from a jog's release to
the board reporting the axis at rest.

    python3 bench/panel_stop_latency.py build/tools/voxactl/voxactl [slow-clients=200] [seconds=10]

Loopback only; every loop is bounded and the script ends by itself.
"""
import http.client
import json
import re
import socket
import subprocess
import sys
import threading
import time

voxactl = sys.argv[1]
slow_count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10
proc = subprocess.Popen([voxactl, "panel", "--sim", "--listen", "127.0.0.1:0", "--state-ms", "25"],
                        stdout=subprocess.PIPE, text=True)
port = token = None
for line in proc.stdout:
    m = re.search(r"open http://127\.0\.0\.1:(\d+)/\?token=(\w+)", line)
    if m:
        port, token = int(m.group(1)), m.group(2)
        break
host = "127.0.0.1:%d" % port
cookie = "voxa_panel_%d=%s" % (port, token)


def act(name, **params):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    try:
        c.request("POST", "/api/" + name, "&".join("%s=%s" % kv for kv in params.items()),
                  {"Host": host, "Cookie": cookie, "Content-Type": "application/x-www-form-urlencoded"})
        r = c.getresponse()
        return r.status, json.loads(r.read())
    finally:
        c.close()


def status():
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("GET", "/api/status", headers={"Host": host, "Cookie": cookie})
    s = json.loads(c.getresponse().read())
    c.close()
    return s


def pct(values, f):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * f))] * 1000


stop_drip = threading.Event()


def drip(socks):
    # One header byte per client every 3 s; a closed connection is opened again.
    while not stop_drip.wait(3):
        for i, s in enumerate(socks):
            try:
                s.sendall(b"X")
            except OSError:
                try:
                    socks[i] = socket.create_connection(("127.0.0.1", port))
                    socks[i].sendall(b"G")
                except OSError:
                    pass


try:
    while status()["link"] != 1:
        time.sleep(0.05)
    # The page's stream, for the jog's client id and the panel's notes.
    stream = socket.create_connection(("127.0.0.1", port))
    stream.sendall(("GET /events HTTP/1.1\r\nHost: %s\r\nCookie: %s\r\n\r\n" % (host, cookie)).encode())
    buf = b""
    while b"event: hello" not in buf:
        buf += stream.recv(65536)
    client = json.loads(re.search(rb"event: hello\r?\ndata: (.*)", buf).group(1))["client"]

    # Release to rest, as the panel sees it (its note) and as a reader of the status sees it.
    rest = []
    for press in range(1, 11):
        act("jog", axis=2, dir=1, vel=3000, client=client, press=press)
        while status()["axes"][2][2] == 0:
            time.sleep(0.01)
        time.sleep(0.2)
        t0 = time.monotonic()
        act("jogstop", axis=2, client=client, press=press)
        while status()["axes"][2][2] != 0:
            time.sleep(0.005)
        rest.append(time.monotonic() - t0)
    print("jog release to axis at rest (status read back): median %.0f ms, max %.0f ms (10 jogs at 3000 pulses/s)"
          % (pct(rest, 0.5), max(rest) * 1000))

    socks = [socket.create_connection(("127.0.0.1", port)) for _ in range(slow_count)]
    for s in socks:
        s.sendall(b"G")
    t = threading.Thread(target=drip, args=(socks,), daemon=True)
    t.start()
    took = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for name in ("stop", "estop", "alarmreset"):
            t0 = time.monotonic()
            code, _ = act(name)
            took.append(time.monotonic() - t0)
            assert code == 200, code
        time.sleep(0.1)
    stop_drip.set()
    t.join()
    print("with %d slow clients: %d stops, emergency stops and resets answered in median %.1f ms, p99 %.1f ms, "
          "max %.1f ms" % (slow_count, len(took), pct(took, 0.5), pct(took, 0.99), max(took) * 1000))
    for s in socks:
        s.close()
finally:
    stop_drip.set()
    proc.terminate()
    proc.wait()
