"""A board, opened over TCP or a serial line.

Every call of a Board first makes the board the calling thread's own
(VOXA_Set_ThreadBoardID), so several Board objects and several threads can be
used at once without a lock around the calls: each thread acts on the board it
calls, with its own error state, and a stop() from one thread reaches the
board while another thread waits on it. Only sequences of calls that must not
be split (a command with its command ID, an immediate() or queued() group,
multi-register setters) hold a lock of their own board.
"""

import atexit
import contextlib
import ctypes
import logging
import os
import threading
import time
from typing import (Any, Callable, Iterable, Iterator, List, Literal, Optional, TextIO, Tuple,
                    TypedDict, Union)

from ._checks import (Axes as Axes, PathLike as PathLike, Register as Register, _argument, _index, _ipv4,
                      reg_name as reg_name, reg_names as reg_names, reg_number as reg_number)
from ._events import (COMPARATOR_MESSAGE as COMPARATOR_MESSAGE, COMPLETE_MESSAGE as COMPLETE_MESSAGE, Dispatcher,
                      Frame as Frame, router as _router, tracer as _tracer)
from ._lib import voxa_library
from ._motion import (ANY_ID as ANY_ID, COMPLETE_ENDED as COMPLETE_ENDED, COMPLETE_HOST_STOP as COMPLETE_HOST_STOP,
                      COMPLETE_NONE as COMPLETE_NONE, IDLE_ID as IDLE_ID, NO_ID as NO_ID,
                      REFRESH_STATUS as REFRESH_STATUS, BoardMotion, StopReason as StopReason,
                      WaitResult as WaitResult, WaitStatus as WaitStatus)
from ._settings import BoardSettings
from . import live
from .errors import ERR_OPEN, VoxaError, open_error
from .live import Recording

# The package's logger: silent unless the application configures logging
# (a failing callback's traceback at ERROR, link losses and the library's
# error lines at WARNING, link changes and its other lines at INFO, opens and
# closes at DEBUG).
log = logging.getLogger("voxa")
log.addHandler(logging.NullHandler())

# State packet contents for set_state_timer.
STATE_CONTENTS = {
    "chipstatus": 0x400,
    "axisstatus": 0x800,
    "curpos": 0x1000,
    "encpos": 0x2000,
    "curvel": 0x4000,
    "io": 0x8000,
}
_STATE_PERIODS = {0: 1, 25: 2, 50: 3, 100: 4, 200: 5, 250: 6, 500: 7, 1000: 8}

# How recent an answer from the board must be for the link to count as up
# before the keep-alive watchdog's first verdict (milliseconds).
_LINK_ANSWER_MS = 1500
# The board's command state while it runs a command (VOXA_Get_CmdState).
_CMD_STATE_RUNNING = 1


def dll_version() -> str:
    """The library's version text."""
    buf = ctypes.create_string_buffer(64)
    voxa_library().VOXA_Get_DllVer(buf, len(buf))
    return buf.value.decode("ascii", "replace")


_open_boards: "set[Board]" = set()
_open_lock = threading.Lock()


class AxisSnapshot(TypedDict):
    """One axis in Board.snapshot(): positions in pulses, velocity in
    pulses/s, the limit and alarm states as booleans."""

    axis: int
    position: int
    encoder: int
    velocity: int
    lower: bool
    upper: bool
    soft_lower: bool
    soft_upper: bool
    alarm: bool


class Snapshot(TypedDict):
    """Board.snapshot(): the board's state in one dict."""

    board: int
    link: bool            # True: the link is up (see Board.is_link)
    engine: str
    state: str            # "<enable>, <activity>", e.g. "enabled, at rest"
    enabled: bool
    busy: bool
    complete: bool
    on_motion: bool
    pause: bool
    estop: bool
    alarm: bool
    alarm_code: int
    cmd_state: int
    engine_queue: int
    soft_queue: int
    axes: List[AxisSnapshot]


# A Board in parts: BoardCalls (_base.py) calls the library for it,
# BoardMotion (_motion.py) commands and waits, BoardSettings (_settings.py)
# sets and reads the rest; the events go to its callbacks through _events.py,
# and its arguments are checked in _checks.py.
class Board(BoardMotion, BoardSettings):
    """One open board. Open it with Board.tcp(), Board.serial() or
    SimBoard.open(); close it with close() or a with statement.

    Opening a board switches its complete state packets on, so that
    wait_motion() hears of every command that carries an ID.

    Axes are numbered 0..7. Methods that act on several axes take an axis
    number or an iterable of them; motion targets are {axis: value} maps.
    Every call the library refuses raises VoxaError with the error code and
    its meaning."""

    def __init__(self, lib: Any, board_id: int, description: str) -> None:
        super().__init__(lib, board_id, description)
        # The completion, comparator and frame callbacks, on a thread of the board's own.
        self._events = Dispatcher(board_id)
        self._frame_callback: Optional[Callable[[Frame], Any]] = None
        with _open_lock:
            _open_boards.add(self)

    # ------------------------------------------------------------ opening

    @classmethod
    def _open(cls, function: str, args: Tuple[Any, ...], description: str) -> "Board":
        lib = voxa_library()
        # The library's lines about a failed open reach the log too.
        live.handlers.watch(lib)
        board_id = getattr(lib, function)(*args)
        if board_id < 0:
            code = lib.VOXA_Get_LastErr()
            if code == ERR_OPEN:
                raise open_error(lib, function, description)
            raise VoxaError(code, function, description)
        board = cls(lib, board_id, description)
        log.debug("board %d opened (%s)", board_id, description)
        try:
            # A wait_motion() must not run to its timeout because the board
            # keeps its completions to itself. Immediate: a reset or a queue
            # clear right after the open must not throw the switch away.
            with board.immediate():
                board.enable_complete_packets(True)
        except VoxaError:
            board.close()
            raise
        return board

    @classmethod
    def tcp(cls, address: str, port: int = 1000, rate: int = 0) -> "Board":
        """Opens a board over TCP: Board.tcp("192.168.0.50", 1000). address:
        an IPv4 address or host name; port: the TCP port; rate: the link's
        rate setting the library takes (0: its default). An address that
        does not resolve, or a board that cannot be reached, raises
        LinkError."""
        port = _index(port, "port")
        return cls._open("VOXA_Open_Tcp", (_ipv4(address), port, _index(rate, "rate")), f"tcp {address}:{port}")

    @classmethod
    def serial(cls, port: Union[int, PathLike], baud: int = 115200) -> "Board":
        """Opens a board over a serial line: a port number n (/dev/ttyS<n-1>)
        or a device path ("/dev/ttyUSB0")."""
        baud = _index(baud, "baud rate")
        if isinstance(port, (str, bytes, os.PathLike)):
            path = os.fsencode(port)
            return cls._open("VOXA_Open_CommDevice", (path, baud), f"serial {os.fsdecode(path)}")
        number = _index(port, "port")
        return cls._open("VOXA_Open_Comm", (number, baud), f"serial port {number}")

    def close(self) -> None:
        """Closes the board; later calls raise VoxaError (-21). Idempotent.
        A wait on the board in another thread ends then."""
        with self._lock:
            if self._closed:
                return
            self._closed = True
            lib = self._lib
            if lib.VOXA_Set_ThreadBoardID(self._id):
                if self._events.has_callbacks():
                    lib.VOXA_Unregister_Complete_Message()
                    lib.VOXA_Unregister_Comparator_Message()
                lib.VOXA_Close()
        _router.detach(self._events)
        _tracer.detach(self._events)
        with _open_lock:
            _open_boards.discard(self)
        log.debug("board %d closed (%s)", self._id, self._description)
        self._events.stop()

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exc: object) -> Literal[False]:
        self.close()
        return False

    def __repr__(self) -> str:
        state = "closed" if self._closed else "open"
        return f"<voxa.Board {self._id} {self._description} {state}>"

    # ------------------------------------------------------------ link and versions

    @property
    def is_link(self) -> bool:
        """True when the link is up: the library's keep-alive watchdog saw
        heartbeats (VOXA_Is_Link, which looks every 3.1 s), or the board
        answered within the last 1.5 s, as voxactl says "up"."""
        with self._lock:
            if self._call("VOXA_Is_Link"):
                return True
            if not hasattr(self._lib, "VOXA_Get_RegAge"):  # a library before register ages
                return False
            # The library's register polls go out every 100 ms: a recent
            # answer to any of them shows the board talking.
            for reg in range(32):
                age = self._int("VOXA_Get_RegAge", reg)
                if 0 <= age <= _LINK_ANSWER_MS:
                    return True
            return False

    @property
    def engine_version(self) -> str:
        """The engine version text, e.g. "V02.07 Normal Engine K7R2"."""
        return self._text("VOXA_Get_EngineVer")

    # ------------------------------------------------------------ state packets and callbacks

    def set_state_timer(self, period_ms: int,
                        contents: Iterable[str] = ("chipstatus", "axisstatus", "curpos", "encpos", "curvel")) -> None:
        """State packets every period_ms (25, 50, 100, 200, 250, 500, 1000;
        0 switches them off) carrying the named contents (STATE_CONTENTS)."""
        if period_ms not in _STATE_PERIODS:
            raise _argument(f"state packet period {period_ms!r} is not one of {sorted(_STATE_PERIODS)}")
        flags = _STATE_PERIODS[period_ms]
        for name in contents:
            if name not in STATE_CONTENTS:
                raise _argument(f"unknown state packet content {name!r}")
            flags |= STATE_CONTENTS[name]
        self._call("VOXA_Set_StateTimer", flags)

    def enable_complete_packets(self, on: bool = True) -> None:
        """The board reports every completed command that carries an ID."""
        self._call("VOXA_Enable_CompleteStatePacket", 1 if on else 0)

    @property
    def complete_packet_count(self) -> int:
        """How many completion reports the board has sent (a count)."""
        return self._int("VOXA_Get_CompleteStatePacketCount")

    def on_complete(self, callback: Optional[Callable[[int], Any]], enable_packets: bool = True) -> None:
        """callback(cmd_id) for every completion the board reports; None
        removes it. Callbacks run on this board's dispatch thread, in the
        order the board reported, and may call the board. enable_packets
        also switches the board's complete state packets on."""
        self._set_callback(COMPLETE_MESSAGE, callback, "VOXA_Register_Complete_Message",
                           "VOXA_Unregister_Complete_Message")
        if callback is not None and enable_packets:
            self.enable_complete_packets(True)

    def on_comparator(self, callback: Optional[Callable[[int], Any]]) -> None:
        """callback(payload) for every comparator event the board reports;
        None removes it."""
        self._set_callback(COMPARATOR_MESSAGE, callback, "VOXA_Register_Comparator_Message",
                           "VOXA_Unregister_Comparator_Message")

    def _set_callback(self, message: int, callback: Optional[Callable[[int], Any]], register: str,
                      unregister: str) -> None:
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable or None")
        with self._lock:
            self._select()
            if callback is None:
                self._call(unregister)
                self._events.set_callback(message, None)
                return
            self._events.start()
            _router.attach(self._lib, self._events)
            self._events.set_callback(message, callback)
            self._call(register, ctypes.c_void_p(self._events.window), message)

    # ------------------------------------------------------------ frame trace

    def on_frame(self, callback: Optional[Callable[[Frame], Any]]) -> None:
        """callback(frame) for every frame this process exchanges with the
        board (a Frame: time, direction "sent" or "received", data); None
        removes it. Frames are handed over on this board's dispatch thread, in
        order, so a slow callback never holds up the link."""
        if callback is not None and not callable(callback):
            raise TypeError("callback must be callable or None")
        with self._lock:
            old, self._frame_callback = self._frame_callback, callback
        if old is not None:
            self._remove_frame_callback(old)
        if callback is not None:
            self._add_frame_callback(callback)

    @contextlib.contextmanager
    def trace_frames(self, file: Optional[Union[PathLike, TextIO]] = None) -> Iterator[List[Frame]]:
        """Records the frames exchanged with the board while the block runs:

            with board.trace_frames() as frames:      # into a list
                board.line({0: 1000}, cmd_id=1)
            with board.trace_frames("trace.txt"):     # or into a text file
                ...

        A file (a path, or an open text file) gets one line per frame: the
        seconds since the block began, -> or <- and the bytes in hex. Every
        frame of the block is in the list or file when the block ends."""
        frames: List[Frame] = []
        out: Optional[TextIO] = None
        own = False
        if file is not None:
            if hasattr(file, "write"):
                out = file  # type: ignore[assignment]
            else:
                out = open(file, "w", encoding="ascii")
                own = True
        start = time.monotonic()

        def record(frame: Frame) -> None:
            if out is None:
                frames.append(frame)
            else:
                out.write(f"{frame.time - start:11.6f} {frame.arrow} {frame.hex()}\n")

        self._add_frame_callback(record)
        try:
            yield frames
        finally:
            self._remove_frame_callback(record)
            if own and out is not None:
                out.close()

    def _add_frame_callback(self, callback: Callable[[Frame], Any]) -> None:
        with self._lock:
            self._select()
            self._events.start()
            self._events.add_frame_callback(callback)
        _tracer.attach(self._lib, self._events)

    def _remove_frame_callback(self, callback: Callable[[Frame], Any]) -> None:
        if self._events.remove_frame_callback(callback):
            _tracer.detach(self._events)
        self._events.flush()

    # ------------------------------------------------------------ snapshot

    def record(self, signals: Union[str, Iterable[str]] = "position", seconds: float = 1.0,
               axes: Iterable[int] = range(8), period_ms: Optional[int] = live.DEFAULT_PERIOD_MS) -> "Recording":
        """Records what the board reports for `seconds` (seconds): columns of
        time-stamped samples of the signals ("position" and "encoder" in
        pulses, "velocity" in pulses/s, "axisstatus" bits per axis, and
        "chipstatus"; voxactl's names "pos", "enc", "vel", "status" too),
        ready for numpy or rec.to_csv(path), which writes voxactl's format.
        The board sends state packets every period_ms milliseconds (25, the
        default as in voxactl, 50, 100, 200, 250, 500 or 1000) meanwhile, and
        its own settings are restored afterwards; period_ms=None leaves them
        alone and samples whatever the board reports. Blocks the calling
        thread."""
        from .live import record
        return record(self, signals, seconds, axes, period_ms)

    @property
    def state(self) -> str:
        """The execution state in two words, as voxactl and the panel say
        it: "enabled" or "disabled", then the first that applies of
        "emergency stop", "alarm", "paused", "moving" (an axis moves, a jog
        or spindle included), "running" (a command that moves nothing, a
        delay say) and "at rest": "enabled, at rest"."""
        with self._lock:
            enable = "enabled" if self._call("VOXA_Is_EnableExe") else "disabled"
            activity = ("emergency stop" if self._call("VOXA_Is_EStop") else
                        "alarm" if self._call("VOXA_Is_Alarm") else
                        "paused" if self._call("VOXA_Is_Pause") else
                        "moving" if self._call("VOXA_Is_OnMotion") else
                        "running" if self._call("VOXA_Get_CmdState") == _CMD_STATE_RUNNING else "at rest")
            return f"{enable}, {activity}"

    def snapshot(self) -> Snapshot:
        """The board's state in one dict (a Snapshot): link (True: up, as
        is_link says), engine version, execution state ("state", in the
        words of voxactl: "enabled, at rest") and its flags, the alarm code,
        the queues' lengths (commands), and per axis position and encoder
        position (pulses), velocity (pulses/s), limits and alarm."""
        with self._lock:
            axes: List[AxisSnapshot] = []
            for a in range(8):
                m = 1 << a
                limits = self.limits(a)
                axes.append({"axis": a, "position": self._int("VOXA_Get_CurPos", m),
                             "encoder": self._int("VOXA_Get_EncPos", m),
                             "velocity": self._int("VOXA_Get_CurVelAxis", m),
                             "lower": limits["lower"], "upper": limits["upper"],
                             "soft_lower": limits["soft_lower"], "soft_upper": limits["soft_upper"],
                             "alarm": limits["alarm"]})
            return {
                "board": self._id,
                "link": self.is_link,
                "engine": self.engine_version,
                "state": self.state,
                "enabled": self.is_enable_exe,
                "busy": self.is_busy,
                "complete": self.is_complete,
                "on_motion": self.is_on_motion,
                "pause": self.is_pause,
                "estop": self.is_estop,
                "alarm": self.is_alarm,
                "alarm_code": self.alarm,
                "cmd_state": self._int("VOXA_Get_CmdState"),
                "engine_queue": self.engine_queue_left,
                "soft_queue": self.soft_queue_left,
                "axes": axes,
            }


@atexit.register
def _close_all() -> None:
    """Closes the boards still open when the interpreter ends, before it can
    no longer run the message handler."""
    with _open_lock:
        boards = list(_open_boards)
    for board in boards:
        try:
            board.close()
        except Exception:
            pass
    _router.shut_down()
