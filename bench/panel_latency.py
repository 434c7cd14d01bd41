"""Latency from a board's state report to a client of `voxactl panel`'s live
stream, and the panel's CPU, on a simulated board.

    python3 bench/panel_latency.py build-release/tools/voxactl/voxactl [seconds=20] [state-ms=10]

Each pushed state carries the wall-clock time at which the library took the
newest report's bytes from the link; the reader compares it with its own
clock on arrival. tests/panel/panel_browser.mjs --measure does the same in
chromium, to the page's event handler.
"""
import json
import os
import re
import socket
import subprocess
import sys
import time

voxactl = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
state_ms = sys.argv[3] if len(sys.argv) > 3 else "10"
proc = subprocess.Popen([voxactl, "panel", "--sim", "--listen", "127.0.0.1:0", "--state-ms", state_ms],
                        stdout=subprocess.PIPE, text=True)
port = token = None
for line in proc.stdout:
    m = re.search(r"open http://127\.0\.0\.1:(\d+)/\?token=(\w+)", line)
    if m:
        port, token = int(m.group(1)), m.group(2)
        break
ticks = os.sysconf("SC_CLK_TCK")


def cpu():
    f = open("/proc/%d/stat" % proc.pid).read().rsplit(")", 1)[1].split()
    return (int(f[11]) + int(f[12])) / ticks


try:
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(("GET /events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nCookie: voxa_panel_%d=%s\r\n\r\n"
               % (port, port, token)).encode())
    time.sleep(1)
    lat, buf = [], b""
    cpu0, t0 = cpu(), time.monotonic()
    while time.monotonic() - t0 < seconds:
        buf += s.recv(65536)
        now = time.time() * 1000
        while b"\n\n" in buf:
            event, buf = buf.split(b"\n\n", 1)
            m = re.search(rb"event: state\r?\ndata: (.*)", event)
            if m:
                lat.append(now - json.loads(m.group(1))["trw"])
    used, wall = cpu() - cpu0, time.monotonic() - t0
    lat.sort()
    print("state period %s ms: %d pushes in %.1f s; report to stream median %.2f ms, p99 %.2f ms; "
          "voxactl (panel and simulated board) %.1f %% of a core"
          % (state_ms, len(lat), wall, lat[len(lat) // 2], lat[int(len(lat) * 0.99)], 100 * used / wall))
finally:
    proc.terminate()
    proc.wait()
