#!/usr/bin/env python3
"""voxa.dll under Wine against the Linux build of the same tree.

against_linux.py CHECK WINE CONSUMER LINUX_BUILD_DIR, CHECK one of
  tcp     the consumer drives a line on the Linux voxa-sim over loopback TCP
  com     the same over COMn, a dosdevices link in the Wine prefix to the
          pseudo-terminal of `voxa-sim --pty`
  config  the consumer and the Linux library set the same register image and
          save it: the two files are byte for byte the same
Exit 77 (skipped) when the Linux build has no voxa-sim or libvoxa.so.

The serial check covers opening the port, its settings (read back from the
pseudo-terminal) and the data both ways, with the reads the library sets up
(return what has arrived, else wait for the first byte) and the close that
cancels a pending read. A pty under Wine cannot show line-status events
(WaitCommEvent fails on it), modem lines, a break, parity or framing errors,
or a real baud rate: those stay for a real port.
"""
import ctypes
import os
import pathlib
import subprocess
import sys
import tempfile
import termios

SKIPPED = 77


def start_sim(sim, *args):
    """The simulator's process and where it can be reached (port or device)."""
    proc = subprocess.Popen([sim, *args], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    first = proc.stdout.readline().split()
    if not first:
        proc.kill()
        sys.exit(f"{sim} {' '.join(args)} printed nothing")
    return proc, first[-1].rsplit(":", 1)[-1]


def stop(proc):
    proc.terminate()
    proc.wait(timeout=10)


def run_consumer(wine, consumer, *args):
    """Runs the consumer under Wine; its output goes through a file, since
    Wine's helper processes could hold a pipe open after it ends."""
    env = dict(os.environ, WINEDEBUG="-all")
    with tempfile.TemporaryFile(mode="w+") as out:
        rc = subprocess.run([wine, consumer, *args], stdout=out, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, env=env, timeout=45).returncode
        out.seek(0)
        text = out.read()
    print(f"consumer {' '.join(args)}: exit {rc}\n{text}")
    return rc, text


def check_line(rc, text):
    if rc != 0 or "at 1000, 2000" not in text:
        sys.exit("the line did not end where it should")


def check_line_settings(tty):
    """The settings the DLL made through the port's DCB stay on the
    pseudo-terminal: 115200 baud, 8 data bits, no parity, one stop bit."""
    fd = os.open(tty, os.O_RDWR | os.O_NOCTTY)
    try:
        _, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(fd)
    finally:
        os.close(fd)
    print(f"{tty}: speed {ispeed}/{ospeed}, cflag {cflag:#o}")
    if (ispeed, ospeed) != (termios.B115200, termios.B115200) or cflag & termios.CSIZE != termios.CS8 \
            or cflag & (termios.PARENB | termios.CSTOPB):
        sys.exit("the port's settings did not reach the line")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def save_linux_image(library, port, path):
    """What consumer.c's SaveImage does, through the Linux library."""
    lib = ctypes.CDLL(str(library))
    if lib.VOXA_Open_Tcp(ctypes.c_uint32(0x0100007F), port, 0) < 0:
        sys.exit("the Linux library could not open the board")
    for reg in range(32):
        for word in range(8):
            value = (reg * 0x01010101 + word * 0x01234567) & 0xFFFFFFFF
            if not lib.VOXA_Set_RegWord(reg, word, ctypes.c_uint32(value)):
                sys.exit("VOXA_Set_RegWord failed in the Linux library")
    ok = lib.VOXA_Save_ConfigFile(str(path).encode())
    lib.VOXA_Close()
    if not ok:
        sys.exit("the Linux library did not save")


def main():
    check, wine, consumer, build = sys.argv[1], sys.argv[2], sys.argv[3], pathlib.Path(sys.argv[4])
    sim, library = build / "tools/sim/voxa-sim", build / "libvoxa.so"
    if not (sim.exists() and library.exists()):
        print(f"skipped: no Linux build in {build} (voxa-sim and libvoxa.so; set VOXA_LINUX_BUILD_DIR)")
        return SKIPPED

    if check == "tcp":
        proc, port = start_sim(str(sim), "--port", "0")
        try:
            check_line(*run_consumer(wine, consumer, "tcp", port))
        finally:
            stop(proc)
    elif check == "com":
        prefix = pathlib.Path(os.environ.get("WINEPREFIX", pathlib.Path.home() / ".wine"))
        devices = prefix / "dosdevices"
        if not devices.is_dir():
            print(f"skipped: no Wine prefix at {prefix}")
            return SKIPPED
        proc, tty = start_sim(str(sim), "--pty")
        link = None
        try:
            # The first free port from COM20 on; another run may take it meanwhile.
            for number in range(20, 256):
                try:
                    (devices / f"com{number}").symlink_to(tty)
                    link = devices / f"com{number}"
                    break
                except FileExistsError:
                    continue
            if link is None:
                sys.exit(f"no free COM port in {devices}")
            check_line(*run_consumer(wine, consumer, "com", str(number)))
            check_line_settings(tty)
        finally:
            if link is not None:
                link.unlink()
            stop(proc)
    elif check == "config":
        with tempfile.TemporaryDirectory() as folder:
            files = pathlib.Path(folder) / "linux.ini", pathlib.Path(folder) / "windows.ini"
            proc, port = start_sim(str(sim), "--port", "0")
            try:
                save_linux_image(library, int(port), files[0])
                rc, _ = run_consumer(wine, consumer, "config", port, windows_path(files[1]))
            finally:
                stop(proc)
            if rc != 0:
                sys.exit("the DLL did not save")
            a, b = files[0].read_bytes(), files[1].read_bytes()
            if a != b:
                at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
                sys.exit(f"the files differ from byte {at} (sizes {len(a)}, {len(b)})")
            print(f"both files: {len(a)} bytes, the same")
    else:
        sys.exit(f"unknown check {check}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
