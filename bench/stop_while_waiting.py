#!/usr/bin/env python3
"""How long a stop from a second thread takes to reach the board while a first
thread waits on it, through the Python package.

    PYTHONPATH=python VOXA_LIBRARY=build-release/libvoxa.so \
        VOXA_SIM_LIBRARY=build-release/tools/sim/libvoxa_sim.so \
        python3 bench/stop_while_waiting.py [stops=500]

A simulated board holds its queue, so a tagged move waits there and a first
thread waits for it in board.wait_motion(). The main thread then calls
board.stop() again and again; each time is from the call to the moment the
board has the decelerating stop (0x51) in its frame log, seen by a wait on
that log. The same is measured with nobody waiting, for comparison.
"""

import statistics
import sys
import threading
import time

import voxa

STOP = 0x51


def stop_times(sim, board, count):
    times = []
    for _ in range(count):
        seq = sim.frame_count
        t0 = time.perf_counter()
        board.stop()
        if sim.wait_frame(STOP, from_seq=seq, timeout=2.0) is None:
            raise RuntimeError("the stop did not reach the board")
        times.append(time.perf_counter() - t0)
    return times


def report(label, times):
    ms = sorted(t * 1000 for t in times)
    p90 = ms[int(len(ms) * 0.9) - 1]
    print(f"{label:<28} median {statistics.median(ms):.3f} ms   p90 {p90:.3f} ms   max {ms[-1]:.3f} ms   ({len(ms)} stops)")
    return statistics.median(ms)


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    with voxa.SimBoard() as sim, sim.open() as board:
        report("nobody waiting", stop_times(sim, board, count))

        sim.hold_queue(True)
        board.cmove({0: 100}, cmd_id=9)
        waiting = threading.Event()
        ended = []

        def wait():
            waiting.set()
            try:
                ended.append(board.wait_motion(9, timeout=120).status)
            except voxa.VoxaError as e:  # the board closes under it at the end
                ended.append(e.code)

        waiter = threading.Thread(target=wait)
        waiter.start()
        waiting.wait()
        time.sleep(0.05)
        median = report("while a thread waits", stop_times(sim, board, count))
        still_waiting = waiter.is_alive()
        board.close()
        waiter.join(5)
    print(f"the waiting thread was {'still' if still_waiting else 'no longer'} waiting at the end")
    return 0 if median < 1.0 and still_waiting else 1


if __name__ == "__main__":
    sys.exit(main())
