"""The simulated board, for tests and notebooks (libvoxa_sim.so)."""

import ctypes
from typing import Any, Dict, Literal, Optional

from ._lib import SimFrame, sim_library
from .board import Board

FRAME_KINDS = ("system", "read", "write", "action", "invalid")


class SimBoard:
    """A simulated board on a loopback TCP port (or a pseudo-terminal),
    running in this process.

        with SimBoard() as sim, sim.open() as board:
            board.line({0: 1000}, cmd_id=1)
            board.wait_motion(1, timeout=5)
            sim.position(0)   # 1000
    """

    def __init__(self, port: int = 0, pty: bool = False) -> None:
        self._lib = sim_library()
        self._pty = pty
        handle = self._lib.voxa_sim_start_pty() if pty else self._lib.voxa_sim_start_tcp(int(port))
        if not handle:
            raise OSError("cannot start the simulated board" + ("" if pty else f" on port {port}"))
        self._handle: Optional[ctypes.c_void_p] = ctypes.c_void_p(handle)

    def stop(self) -> None:
        """Stops the board and frees it. Idempotent."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            self._lib.voxa_sim_stop(handle)

    def __enter__(self) -> "SimBoard":
        return self

    def __exit__(self, *exc: object) -> Literal[False]:
        self.stop()
        return False

    def _h(self) -> ctypes.c_void_p:
        if self._handle is None:
            raise RuntimeError("the simulated board was stopped")
        return self._handle

    # ---- the link

    address = "127.0.0.1"

    @property
    def port(self) -> int:
        """The TCP port (0 for a pseudo-terminal board)."""
        return int(self._lib.voxa_sim_port(self._h()))

    @property
    def device_path(self) -> str:
        """The pseudo-terminal's path ("" for a TCP board)."""
        return str(self._lib.voxa_sim_device_path(self._h()).decode())

    def open(self, baud: int = 115200) -> Board:
        """Opens this board with the library: a Board."""
        if self._pty:
            return Board.serial(self.device_path, baud)
        return Board.tcp(self.address, self.port)

    @property
    def is_connected(self) -> bool:
        """A host is connected."""
        return bool(self._lib.voxa_sim_is_connected(self._h()))

    @property
    def connection_count(self) -> int:
        """How many connections the board has accepted since it started."""
        return int(self._lib.voxa_sim_connection_count(self._h()))

    def wait_connection(self, count: int = 1, timeout: float = 2.0) -> bool:
        """Waits until count connections were accepted, at most timeout
        seconds; False at the timeout."""
        return bool(self._lib.voxa_sim_wait_connection(self._h(), count, int(timeout * 1000)))

    # ---- the board

    def reg(self, reg: int, word: int) -> int:
        """Word 0..7 of register reg (0..31) as the board holds it, 32 bits."""
        return int(self._lib.voxa_sim_get_reg(self._h(), reg, word))

    def set_reg(self, reg: int, word: int, value: int) -> None:
        """Sets word 0..7 of register reg (0..31) on the board, 32 bits."""
        self._lib.voxa_sim_set_reg(self._h(), reg, word, value & 0xFFFFFFFF)

    def position(self, axis: int) -> int:
        """The axis's position on the board, in pulses."""
        return int(self._lib.voxa_sim_position(self._h(), axis))

    @property
    def is_idle(self) -> bool:
        """The board runs nothing and its queue is empty."""
        return bool(self._lib.voxa_sim_is_idle(self._h()))

    def wait_idle(self, timeout: float = 5.0) -> bool:
        """Waits until the board is idle, at most timeout seconds; False at
        the timeout."""
        return bool(self._lib.voxa_sim_wait_idle(self._h(), int(timeout * 1000)))

    def set_engine_version(self, major: int, minor: int) -> None:
        """The engine version the board reports, e.g. (2, 7) for V02.07."""
        self._lib.voxa_sim_set_engine_version(self._h(), major, minor)

    def hold_queue(self, hold: bool = True) -> None:
        """Holds the board's queue (True): commands wait unrun until released."""
        self._lib.voxa_sim_hold_queue(self._h(), 1 if hold else 0)

    def set_limit_input(self, axis: int, lower: Optional[bool] = None, upper: Optional[bool] = None) -> None:
        """Forces a limit input active (True) or inactive (False); None
        follows the positional switch."""
        def code(v: Optional[bool]) -> int:
            return -1 if v is None else (1 if v else 0)
        self._lib.voxa_sim_set_limit_input(self._h(), axis, code(lower), code(upper))

    def set_home_sensor(self, axis: int, position: int) -> None:
        """Puts the axis's home sensor at position, in pulses."""
        self._lib.voxa_sim_set_home_sensor(self._h(), axis, position)

    # ---- frames from the host

    @property
    def frame_count(self) -> int:
        """How many frames the board has received from the host."""
        return int(self._lib.voxa_sim_frame_count(self._h()))

    def frame(self, seq: int) -> Optional[Dict[str, Any]]:
        """Frame seq as a dict, or None when it is no longer kept."""
        f = SimFrame()
        if not self._lib.voxa_sim_get_frame(self._h(), seq, ctypes.byref(f)):
            return None
        return {
            "seq": f.seq, "time_ms": f.time_ms, "opcode": f.opcode, "code": f.code,
            "kind": FRAME_KINDS[f.kind] if f.kind < len(FRAME_KINDS) else f.kind,
            "mask": f.mask, "descriptor": f.descriptor, "reg": f.reg, "tag": f.tag,
            "values": list(f.values[:f.count]),
        }

    def wait_frame(self, code: int = -1, from_seq: int = 0, timeout: float = 2.0) -> Optional[Dict[str, Any]]:
        """The first frame from seq from_seq on whose code (opcode without the
        immediate flag) is code (-1: any), waiting up to timeout seconds;
        None on timeout."""
        seq = self._lib.voxa_sim_wait_frame(self._h(), code, from_seq, int(timeout * 1000))
        return None if seq < 0 else self.frame(seq)

    # ---- faults

    def drop_connection(self) -> None:
        """Closes the host's connection from the board's side."""
        self._lib.voxa_sim_drop_connection(self._h())

    def go_silent(self, ms: int) -> None:
        """The board sends nothing for ms milliseconds."""
        self._lib.voxa_sim_go_silent(self._h(), ms)
