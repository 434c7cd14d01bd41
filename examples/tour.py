import sys

import voxa

# tour.py [ADDRESS [PORT]]: a line on axes 0 and 1, then where the board stands.
address = sys.argv[1] if len(sys.argv) > 1 else "192.168.0.50"
port = int(sys.argv[2]) if len(sys.argv) > 2 else 1000

with voxa.Board.tcp(address, port) as board:   # or voxa.Board.serial("/dev/ttyUSB0", 115200)
    board.set_velocity(start=100, drive=4000, acc=20, dec=20)
    board.line({0: 1000, 1: 2000}, cmd_id=1)
    result = board.wait_motion(1, timeout=10)   # then asks the board for its status
    print(result.status, "at", board.cur_pos(0), board.cur_pos(1))
    sys.exit(0 if result else 1)
