#!/usr/bin/env python3
"""Drives a board from Python: a simulated one by default, a real one with
--tcp ADDR[:PORT] or --serial DEV.

    PYTHONPATH=python python3 examples/python_demo.py
    PYTHONPATH=python python3 examples/python_demo.py --tcp 192.168.0.50

Configures axes 0 and 1, runs a line, an arc and a home return tagged with
command IDs, prints each completion as the board reports it and the
positions meanwhile, and closes the board.
"""

import argparse
import sys
import threading
import time

import voxa

AXES = (0, 1)


def open_board(args):
    if args.tcp:
        host, _, port = args.tcp.partition(":")
        return None, voxa.Board.tcp(host, int(port or 1000))
    if args.serial:
        port = int(args.serial) if args.serial.isdigit() else args.serial
        return None, voxa.Board.serial(port, args.baud)
    sim = voxa.SimBoard()
    print(f"Simulated board listening on {sim.address}:{sim.port}")
    return sim, sim.open()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tcp", metavar="ADDR[:PORT]")
    parser.add_argument("--serial", metavar="DEV")
    parser.add_argument("--baud", type=int, default=115200)
    args = parser.parse_args()

    print(f"libvoxa {voxa.dll_version()}")
    sim, board = open_board(args)
    try:
        with board:
            run(board)
    except (voxa.VoxaError, TimeoutError) as e:
        print(f"python_demo: {e}", file=sys.stderr)
        return 1
    finally:
        if sim:
            sim.stop()
    print("Board closed.")
    return 0


def run(board):
    done = threading.Event()
    completed = []

    def on_complete(cmd_id):
        # Runs on the board's dispatch thread.
        completed.append(cmd_id)
        print(f"\n  command #{cmd_id} complete")
        if cmd_id == 3:
            done.set()

    board.on_complete(on_complete)
    board.set_state_timer(50)  # positions, velocities and status every 50 ms

    board.set_pulse_mode(AXES, 0)
    board.enable_limits(AXES)
    board.set_soft_limits(AXES, lower=-50000, upper=50000)
    board.set_velocity(start=100, drive=4000, acc=20, dec=20)
    board.set_home(AXES, seek_vel=6000)
    board.set_cur_pos(AXES, 0)
    # The engine version arrives with the board's first report.
    for _ in range(100):
        if not board.engine_version.startswith("V00.00"):
            break
        time.sleep(0.01)
    print(f"Engine {board.engine_version}; axes {AXES} configured")

    board.line({0: 3000, 1: 2000}, cmd_id=1)
    board.arc_cw(centre={0: 3000, 1: 0}, end={0: 5000, 1: 0}, cmd_id=2)
    board.home(AXES, cmd_id=3)
    print("Program: #1 line to (3000, 2000), #2 CW arc to (5000, 0), #3 home")

    # Show the positions until the last command completes (30 s at most).
    for _ in range(300):
        if done.wait(0.1):
            break
        print(f"\r  X={board.cur_pos(0):7d}  Y={board.cur_pos(1):7d}  executing #{board.exe_cmd_id}",
              end="", flush=True)
    else:
        raise TimeoutError("the program did not complete within 30 s")
    board.refresh()  # the board's final positions, not the last state packet's
    board.set_state_timer(0)
    print(f"\nCompleted {completed}; final position X={board.cur_pos(0)} Y={board.cur_pos(1)}")


if __name__ == "__main__":
    sys.exit(main())
