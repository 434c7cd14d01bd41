"""Records a move of a simulated board (or a real one, --tcp ADDR) and plots
positions and velocities with matplotlib when it is installed; otherwise it
writes the samples to record.csv.

    PYTHONPATH=python python3 examples/record_plot.py
"""

import argparse
import threading

import voxa


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--tcp", help="a board's IPv4 address (default: a simulated board)")
    args = parser.parse_args()
    sim = None if args.tcp else voxa.SimBoard()
    board = voxa.Board.tcp(args.tcp) if args.tcp else sim.open()
    try:
        board.set_velocity(start=100, drive=4000, acc=40, dec=40, axes=[0, 1])
        board.line({0: 3000, 1: -1500}, cmd_id=1)
        waiter = threading.Thread(target=board.wait_motion, args=(1, 10))
        waiter.start()
        rec = board.record(["position", "velocity"], seconds=1.5, axes=[0, 1])
        waiter.join()
    finally:
        board.close()
        if sim:
            sim.stop()
    print(rec)
    try:
        import matplotlib.pyplot as plt
    except ImportError:
        rec.to_csv("record.csv")
        print("matplotlib is not installed: the samples are in record.csv "
              "(voxactl plot record.csv --svg record.svg draws them)")
        return
    fig, (pos, vel) = plt.subplots(2, 1, sharex=True)
    for axis in (0, 1):
        pos.plot(rec["time_s"], rec[f"pos{axis}"], label=f"axis {axis}")
        vel.plot(rec["time_s"], rec[f"vel{axis}"], label=f"axis {axis}")
    pos.set_ylabel("position (pulses)")
    vel.set_ylabel("velocity (pulses/s)")
    vel.set_xlabel("time (s)")
    pos.legend()
    plt.show()


if __name__ == "__main__":
    main()
