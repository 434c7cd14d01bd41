#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are real traffic: frames the board sends (receive), frames the
host sends (sim_codec) and configuration files as the library writes them
(config_document). Run it again after changing it; it overwrites its own
files (seed-*) and leaves the rest of the corpus alone.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def frame(body, controller=0):
    f = bytes([0xFE, len(body) + 2, controller]) + bytes(body)
    return f + bytes([sum(f) & 0xFF])


def unit(mask, values, width=4, delta=False):
    code = {1: 0x00, 2: 0x10, 4: 0x20}[width] | (0x40 if delta else 0) | len(values)
    out = bytes([mask, code])
    for v in values:
        out += (v & ((1 << (8 * width)) - 1)).to_bytes(width, "little")
    return out


def header(engine=0x27, custom=0x00, block=0, limits=0x00, capture=0, lo=-1000, hi=1000):
    return bytes([engine, custom, block, limits]) + struct.pack("<iii", capture, lo, hi)


def receive_seeds():
    hb = frame([9, 0])
    state_all = frame([11, 0x7F]
                      + list(unit(0x01, [0x00800080]))          # CHIPSTATUS
                      + list(unit(0xFF, [0x4, 0x8], 1))          # AXISSTATUS
                      + list(unit(0x0F, [100, -200, 300, 1 << 20]))  # CURPOS
                      + list(unit(0x03, [5, -5], 2, True))       # ENCPOS deltas
                      + list(unit(0xFF, [1000]))                 # CURVEL
                      + list(unit(0x0F, [1, 2, 3, 4]))           # GIO
                      + list(unit(0x0F, [5, 6, 7, 8]))           # EXTIO
                      + list(unit(0x02, [0x1F00])))              # custom register
    state_empty_units = frame([11, 0x3F, 0, 0, 0, 0, 0, 0])
    reads = b"".join(frame([16 + 2 * r] + list(unit(0xFF, list(range(8)))) + [0xFD]) for r in (1, 3, 6, 12, 18, 29, 30))
    capture = frame([16 + 2 * 9] + list(unit(0xFF, [11, 22, 33, 44, 55, 66, 77, 88])) + [0xCB])
    capture3 = frame([16 + 2 * 10] + list(unit(0x0F, [7])) + [0xCB])
    busy = frame([13, 0x42, 0, 0, 0])
    complete = frame([14, 0x07, 0, 0, 0])
    interrupt = frame([15, 0x34, 0x12, 0, 0])
    event = frame([10, 0x01, 0x02, 0x03, 0x04])
    junk = bytes([0x00, 0xFE, 0xFE, 0xFE, 0x01, 0xFE, 0x04, 0xFE]) + hb + bytes([0xFE, 0x05, 0, 9, 1, 2, 0x55])
    return {
        "seed-heartbeat": header() + hb,
        "seed-state-all-groups": header(custom=0x1F) + state_all,
        "seed-state-old-engine": header(engine=0x25, limits=0xFF) + state_all + frame([12, 0]),
        "seed-state-empty-units": header() + state_empty_units,
        "seed-read-replies": header(block=7) + reads,
        "seed-capture": header(capture=9999) + capture + capture3 + capture,
        "seed-capture-bad-index": header(capture=-5) + capture,
        "seed-counters": header(block=1) + busy + complete + interrupt + event + hb,
        "seed-junk-resync": header(block=3) + junk,
        "seed-long-frame": header() + frame([16 + 2 * 6] + list(unit(0xFF, [0x7FFFFFFF] * 8)) + [0] * 80),
    }


def host_seeds():
    keepalive = frame([0x09, 0xFD])
    poll = frame([0x10 + 2 * 1, 0xFF, 0x28, 0xFD])
    line = frame([0x11 + 2 * 7] + list(unit(0x03, [1000, -2000])) + [0x05]) + frame([0x5B, 0x03, 0x05])
    imm = frame([0x80 | (0x11 + 2 * 17)] + list(unit(0xFF, [5000]))) + frame([0xDB, 0x01])
    home = (frame([0x11 + 2 * 24] + list(unit(0x01, [0x21]))) + frame([0x11 + 2 * 7] + list(unit(0x01, [10])))
            + frame([0x5D, 0x01, 0x09]))
    velocity = b"".join(frame([0x11 + 2 * r] + list(unit(0xFF, [v]))) for r, v in ((16, 100), (17, 20000), (19, 50000), (20, 50000)))
    arc = (velocity + frame([0x11 + 2 * 7] + list(unit(0x03, [0, 1000]))) + frame([0x11 + 2 * 8] + list(unit(0x03, [500, 500])))
           + frame([0x5C, 0x03, 0x11]))
    delta = frame([0x11 + 2 * 6] + list(unit(0x0F, [-1, 1], 1, True)))
    stops = frame([0x02, 0xD3]) + frame([0x03]) + frame([0x06, 0xD3])
    return {
        # The first byte picks the mode: bit 0 runs the board model.
        "seed-keepalive-poll": bytes([0]) + keepalive + poll,
        "seed-line": bytes([1]) + line + keepalive,
        "seed-immediate": bytes([1]) + imm,
        "seed-home": bytes([1]) + home,
        "seed-arc": bytes([1]) + arc,
        "seed-delta": bytes([1]) + delta,
        "seed-stops": bytes([1]) + line + stops,
        "seed-junk": bytes([0]) + bytes([0xFE, 0xFE, 0x01, 0xFE, 0x03, 0xFE]) + keepalive + bytes([0xFE, 0x04, 0, 0x09, 1, 0]),
    }


def config_seeds():
    lines = ["[VOXA_V01_ENGINE_CONFIG]"]
    for r in range(32):
        for w in range(8):
            lines.append("REG[%02d].%02d = %d" % (r, w, (r * 8 + w) * 1000 - 50000))
    for ch in range(4):
        for k in range(4):
            lines.append("CUSTOM_CONTROLLER[%02d][%02d] = %d" % (ch, k, ch * 10 + k))
    lines.append("")
    saved = "\r\n".join(lines) + "\r\n"
    other = "; comment\r\n[Other]\r\nkey = value\r\n\"  spaced key \" = \" spaced value \"\r\nonlykey\r\n[]\r\nignored = 1\r\n[other]\r\nmore = -1\r\n"
    return {
        "seed-saved-utf16": b"\xff\xfe" + saved.encode("utf-16-le"),
        "seed-two-sections-utf16": b"\xff\xfe" + (other + saved).encode("utf-16-le"),
        "seed-utf8-mark": b"\xef\xbb\xbf" + "[S]\nk=v\n\u00e9=\u20ac\n".encode("utf-8"),
        "seed-latin1": b"[S]\r\nk\xe9y = v\xe0l\r\n",
        "seed-surrogates-utf16": b"\xff\xfe" + "[S]\r\nk = ".encode("utf-16-le") + b"\x00\xd8\x41\x00" + b"\r\x00",
        "seed-odd-length": b"\xff\xfe[\x00S\x00]\x00\n",
        "seed-numbers": "[VOXA_V01_ENGINE_CONFIG]\nREG[00].00 = -2147483648\nREG[00].01 = 4294967296\nREG[00].02 =  +12abc\n".encode(),
    }


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    for target, seeds in (("receive", receive_seeds()), ("sim_codec", host_seeds()), ("config_document", config_seeds())):
        d = os.path.join(root, target)
        os.makedirs(d, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
