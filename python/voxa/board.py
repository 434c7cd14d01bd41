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
from typing import (Any, Callable, Dict, Iterable, Iterator, List, Literal, Mapping, Optional, TextIO, Tuple,
                    TypedDict, Union)

from ._checks import (Axes as Axes, PathLike as PathLike, Register as Register, _argument, _axis, _check_call,
                      _cmd_id, _index, _int32, _ipv4, _mask, _targets, _timeout, _u16)
from ._events import (COMPARATOR_MESSAGE as COMPARATOR_MESSAGE, COMPLETE_MESSAGE as COMPLETE_MESSAGE, Dispatcher,
                      Frame as Frame, router as _router, tracer as _tracer)
from ._lib import voxa_library
from . import live
from .errors import ERR_NOT_OPEN, ERR_OPEN, VoxaError, open_error
from .live import Recording

# The package's logger: silent unless the application configures logging
# (a failing callback's traceback at ERROR, link losses and the library's
# error lines at WARNING, link changes and its other lines at INFO, opens and
# closes at DEBUG).
log = logging.getLogger("voxa")
log.addHandler(logging.NullHandler())

NO_ID = 0xFE   # no command ID (no tag byte)
ANY_ID = 0xFF  # wait_motion: any completion

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

# Exports that change which boards are open or selected: a Board keeps its
# own books about those, so call() does not pass them through.
_RESERVED = {"VOXA_Open_Comm", "VOXA_Open_CommDevice", "VOXA_Open_Tcp", "VOXA_Close", "VOXA_Set_BoardID",
             "VOXA_Set_ThreadBoardID", "VOXA_Set_MessageHandler"}

# A wait is taken in slices of this many milliseconds, so that Ctrl-C gets
# through. The library remembers a report of an ID from the moment a command
# carrying it was sent, so a report that lands between two slices ends the
# next one; a wait for any ID watches the count of completion reports instead.
_WAIT_SLICE_MS = 100

# How a completion the library reports ended its command.
COMPLETE_NONE = 0       # no completion taken
COMPLETE_ENDED = 1      # reported complete, no host stop came in between
COMPLETE_HOST_STOP = 2  # reported complete after a stop, cancel, reset or queue clear from the host

# The registers refresh() asks for by default: CHIPSTATUS, AXISSTATUS,
# CURPOS, ENCPOS, CURVEL, GIO and EXTIO (VOXA_REFRESH_STATUS).
REFRESH_STATUS = 0x6004104A
# The command ID wait_idle() puts into the command stream. The library's own
# polls and keep-alives carry this tag too, and they never complete.
IDLE_ID = 0xFD

_REG_NAMES: Optional[Tuple[str, ...]] = None
# How recent an answer from the board must be for the link to count as up
# before the keep-alive watchdog's first verdict (milliseconds).
_LINK_ANSWER_MS = 1500
# The board's command state while it runs a command (VOXA_Get_CmdState).
_CMD_STATE_RUNNING = 1


def reg_names() -> Tuple[str, ...]:
    """The 32 register names, CHIPSET ... CUSTOM, by number."""
    global _REG_NAMES
    if _REG_NAMES is None:
        lib = voxa_library()
        _REG_NAMES = tuple(lib.VOXA_Get_RegName(r).decode("ascii") for r in range(32))
    return _REG_NAMES


def reg_number(reg: Register) -> int:
    """A register given by number or by name (any case) as its number. Numbers
    are passed on as they are, for the library to judge."""
    if isinstance(reg, str):
        try:
            return reg_names().index(reg.upper())
        except ValueError:
            raise _argument(f"no register is called {reg!r}") from None
    return _index(reg, "register")


def reg_name(reg: int) -> str:
    """The name of register reg (0..31)."""
    r = _index(reg, "register")
    if not 0 <= r < 32:
        raise _argument(f"register {r} is not 0..31")
    return reg_names()[r]


def dll_version() -> str:
    """The library's version text."""
    buf = ctypes.create_string_buffer(64)
    voxa_library().VOXA_Get_DllVer(buf, len(buf))
    return buf.value.decode("ascii", "replace")


_open_boards: "set[Board]" = set()
_open_lock = threading.Lock()


WaitStatus = Literal["complete", "stopped", "timeout"]
StopReason = Literal["limit", "alarm", "estop", "host stop"]


class WaitResult:
    """How a wait_motion() ended.

    status: "complete" (the board reported the command complete and nothing
    stopped it), "stopped" (reported complete, but a limit, an alarm, an
    emergency stop or a stop from the host ended it early) or "timeout".
    reason: None, "limit", "alarm", "estop" or "host stop" (a stop, cancel,
    reset or queue clear was sent before the board reported it); alarm_code: the board's alarm code (0: none);
    limit_axes: the axes whose limit alarm is set; fresh: whether the status
    was refreshed from the board after the wait. True only when complete."""

    __slots__ = ("cmd_id", "status", "reason", "alarm_code", "limit_axes", "fresh")

    cmd_id: int
    status: WaitStatus
    reason: Optional[StopReason]
    alarm_code: int
    limit_axes: List[int]
    fresh: bool

    def __init__(self, cmd_id: int, status: WaitStatus, reason: Optional[StopReason] = None, alarm_code: int = 0,
                 limit_axes: Iterable[int] = (), fresh: bool = False) -> None:
        self.cmd_id = cmd_id
        self.status = status
        self.reason = reason
        self.alarm_code = alarm_code
        self.limit_axes = list(limit_axes)
        self.fresh = fresh

    @property
    def completed(self) -> bool:
        """The command ran to its end (status "complete")."""
        return self.status == "complete"

    @property
    def timed_out(self) -> bool:
        """No report came within the timeout (status "timeout")."""
        return self.status == "timeout"

    def __bool__(self) -> bool:
        return self.completed

    def __repr__(self) -> str:
        extra = ""
        if self.reason:
            extra = f" reason={self.reason} alarm_code=0x{self.alarm_code:X} limit_axes={self.limit_axes}"
        return f"<voxa.WaitResult #{self.cmd_id} {self.status}{extra}>"


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


class Board:
    """One open board. Open it with Board.tcp(), Board.serial() or
    SimBoard.open(); close it with close() or a with statement.

    Opening a board switches its complete state packets on, so that
    wait_motion() hears of every command that carries an ID.

    Axes are numbered 0..7. Methods that act on several axes take an axis
    number or an iterable of them; motion targets are {axis: value} maps.
    Every call the library refuses raises VoxaError with the error code and
    its meaning."""

    def __init__(self, lib: Any, board_id: int, description: str) -> None:
        self._lib = lib
        self._id = board_id
        self._description = description
        self._closed = False
        # Held through sequences of calls that must not be split; single
        # calls and waits never take it.
        self._lock = threading.RLock()
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

    @property
    def id(self) -> int:
        """The library's board id, 0..7."""
        return self._id

    @property
    def closed(self) -> bool:
        """True once close() ran."""
        return self._closed

    # ------------------------------------------------------------ calling

    def _select(self) -> None:
        """Makes this board the calling thread's own."""
        if self._closed:
            raise VoxaError(ERR_NOT_OPEN, detail=f"board {self._id} was closed")
        if not self._lib.VOXA_Set_ThreadBoardID(self._id):
            raise VoxaError(self._lib.VOXA_Get_LastErr(), "VOXA_Set_ThreadBoardID")

    def _call(self, name: str, *args: Any) -> Any:
        fn = getattr(self._lib, name)
        self._select()
        result = fn(*args)
        # The thread's own error state: no other thread's call can clear it.
        if self._lib.VOXA_Is_Err():
            raise VoxaError(self._lib.VOXA_Get_LastErr(), name)
        return result

    def _int(self, name: str, *args: Any) -> int:
        """_call() of an export that answers an int."""
        return int(self._call(name, *args))

    def call(self, name: str, *args: object) -> Any:
        """Calls any export on this board: board.call("VOXA_Set_BusySize", 50).
        Each argument must fit the export's parameter: integers for the
        integer parameters (every parameter of an export the package knows
        no prototype of), bytes for texts, ctypes objects for buffers and
        pointers; anything else raises ArgumentTypeError before the call. A
        failure raises VoxaError."""
        if not name.startswith("VOXA_") or name in _RESERVED:
            raise ValueError(f"{name} cannot be called through call()")
        if getattr(self._lib, name, None) is None:
            raise ValueError(f"the library has no export {name}")
        return self._call(name, *_check_call(name, args))

    def _command(self, name: str, *args: Any, cmd_id: Optional[int] = None) -> Any:
        """A command, tagged with cmd_id when one is given (the board's
        command ID is restored afterwards). Held apart from the other
        threads' tagged commands on this board."""
        if cmd_id is None:
            with self._lock:
                return self._call(name, *args)
        cmd_id = _cmd_id(cmd_id)
        with self._lock:
            previous = self._call("VOXA_Get_CmdID")
            self._call("VOXA_Set_CmdID", cmd_id)
            try:
                return self._call(name, *args)
            finally:
                self._call("VOXA_Set_CmdID", previous)

    def _text(self, name: str) -> str:
        buf = ctypes.create_string_buffer(512)
        self._call(name, buf, len(buf))
        return buf.value.decode("ascii", "replace")

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

    # ------------------------------------------------------------ execution control

    def reset(self) -> int:
        """Resets the board. Nothing queued before runs afterwards: the
        host's queue is emptied and the board's is cleared at once (ahead of
        anything still on its way), then the board resets. Completion reports
        stay as they were set. Returns how many commands were thrown away
        (the host's queue plus the board's, as the board last reported it);
        a line in the log says so."""
        with self.immediate():
            host = self._int("VOXA_Get_SoftQueueLeftCmd")
            engine = self._int("VOXA_Get_EngineQueueLeftCmd")
            self._call("VOXA_Reset")
            # The reset may have thrown away a queued switch of the
            # completion reports (the one an open sends, say): set it again.
            if self._call("VOXA_Is_CompleteStatePacket"):
                self._call("VOXA_Enable_CompleteStatePacket", 1)
        log.info("board %d: reset; the host's and the board's queues were cleared first "
                 "(%d commands on the host, %d on the board dropped)", self._id, host, engine)
        return host + engine

    def enable_exe(self) -> None:
        """Enables execution: the board runs its commands again."""
        self._call("VOXA_Enable_Exe")

    def alarm_reset(self) -> None:
        """Clears the board's alarm (the cause must be gone first)."""
        self._call("VOXA_AlarmReset")

    def pause(self) -> None:
        """Halts the running command and the queue until resume()."""
        self._call("VOXA_Pause")

    def resume(self) -> None:
        """Goes on after pause()."""
        self._call("VOXA_Resume")

    def cancel(self) -> None:
        """Ends the running command; the queue goes on."""
        self._call("VOXA_Cancel")

    def stop(self, immediate: bool = False) -> None:
        """Stops everything: decelerating, or at once (immediate=True). The
        stop goes to the board at once, ahead of the commands waiting in the
        host's queue, also while another thread waits on the board."""
        with self.immediate():
            self._call("VOXA_ImStop" if immediate else "VOXA_DecStop")

    def delay(self, ms: int, cmd_id: Optional[int] = None) -> None:
        """A delay of ms milliseconds in the board's command stream."""
        self._command("VOXA_Delay", _int32(ms, "delay"), cmd_id=cmd_id)

    @property
    def is_alarm(self) -> bool:
        """An alarm is raised (the code: alarm), as last reported."""
        return bool(self._call("VOXA_Is_Alarm"))

    @property
    def is_pause(self) -> bool:
        """Halted by a pause, as last reported."""
        return bool(self._call("VOXA_Is_Pause"))

    @property
    def is_estop(self) -> bool:
        """Halted by an emergency stop, as last reported."""
        return bool(self._call("VOXA_Is_EStop"))

    @property
    def is_enable_exe(self) -> bool:
        """Execution is enabled, as last reported."""
        return bool(self._call("VOXA_Is_EnableExe"))

    # ------------------------------------------------------------ queue, IDs, waits

    @contextlib.contextmanager
    def immediate(self) -> Iterator["Board"]:
        """Commands inside go to the board at once, ahead of the queue, and no
        other thread's commands or groups on this board fall between them
        (single calls such as stop() still get through)."""
        with self._lock:
            self._call("VOXA_Enter_ImCmd")
            try:
                yield self
            finally:
                self._call("VOXA_Leave_ImCmd")

    @contextlib.contextmanager
    def queued(self) -> Iterator["Board"]:
        """Commands inside wait in the queue, as one group."""
        with self._lock:
            self._call("VOXA_Enter_QueueCmd")
            try:
                yield self
            finally:
                self._call("VOXA_Leave_QueueCmd")

    @property
    def cmd_id(self) -> int:
        """The command ID following commands carry, 0..255 (0xFE: none)."""
        return self._int("VOXA_Get_CmdID")

    @cmd_id.setter
    def cmd_id(self, value: int) -> None:
        self._call("VOXA_Set_CmdID", _cmd_id(value))

    @property
    def exe_cmd_id(self) -> int:
        """The ID of the command the board runs or ran last, 0..255."""
        return self._int("VOXA_Get_ExeCmdID")

    def wait_motion(self, cmd_id: int, timeout: Optional[float] = None, refresh: bool = True, *,
                    raise_on_timeout: bool = False) -> WaitResult:
        """Waits until the board reports command cmd_id complete (ANY_ID: any
        command); timeout in seconds, None for no limit. Then, unless refresh
        is False, asks the board for its status registers, so that the
        getters (cur_pos(), limits(), ...) show where it stands now.

        Returns a WaitResult: status "complete" (the command ran to its end),
        "stopped" (it ended, but a limit, an alarm or an emergency stop
        stopped the board, or a stop, cancel, reset or queue clear from the
        host came before it ended: see reason, alarm_code, limit_axes) or
        "timeout". Its truth value is that of status == "complete", so
        `if board.wait_motion(1, 10): ...` reads as "reached its target".

        The wait goes on in short slices, so Ctrl-C (KeyboardInterrupt) ends
        it. The board reports completions only while its complete state
        packets are on; a Board switches them on when it opens."""
        cmd_id = _cmd_id(cmd_id)
        timeout = _timeout(timeout)
        deadline = None if timeout is None else time.monotonic() + timeout
        lib = self._lib
        specific = cmd_id not in (ANY_ID, NO_ID)  # NO_ID: nothing reports it
        # A report for any ID that lands between two slices is not kept for
        # the next one: the report count tells of it. For one ID the
        # library's own record of its completion does.
        count = self._call("VOXA_Get_CompleteStatePacketCount")
        before = self._complete_reason(cmd_id) if specific else COMPLETE_NONE
        how = COMPLETE_NONE
        while True:
            ms = _WAIT_SLICE_MS
            if deadline is not None:
                ms = min(ms, int(max(0.0, deadline - time.monotonic()) * 1000))
            if self._call("VOXA_WaitMotion", cmd_id, ms):
                how = self._call("VOXA_Get_WaitReason") if hasattr(lib, "VOXA_Get_WaitReason") else COMPLETE_ENDED
                how = how if how > COMPLETE_NONE else COMPLETE_ENDED
                break
            if specific:
                if before == COMPLETE_NONE:
                    how = self._complete_reason(cmd_id)
                    if how != COMPLETE_NONE:
                        self._call("VOXA_WaitMotion", cmd_id, 0)  # takes the report, as a wait would
            elif cmd_id == ANY_ID and self._call("VOXA_Get_CompleteStatePacketCount") != count:
                how = COMPLETE_ENDED
            if how != COMPLETE_NONE or (deadline is not None and time.monotonic() >= deadline):
                break
        done = how != COMPLETE_NONE
        fresh = self.refresh() if refresh else False
        result = self._wait_result(cmd_id, done, fresh, how == COMPLETE_HOST_STOP)
        if raise_on_timeout and result.timed_out:
            raise TimeoutError(f"board {self._id}: command {cmd_id} not reported complete within {timeout} s")
        return result

    def _complete_reason(self, cmd_id: int) -> int:
        """How the last report of cmd_id since it was sent ended it
        (COMPLETE_NONE: none came)."""
        if not hasattr(self._lib, "VOXA_Get_CompleteReason"):
            return COMPLETE_NONE
        return max(COMPLETE_NONE, self._int("VOXA_Get_CompleteReason", cmd_id))

    def _wait_result(self, cmd_id: int, done: bool, fresh: bool, host_stop: bool = False) -> WaitResult:
        alarm_axes = [a for a in range(8) if self._call("VOXA_Is_AlarmAxis", 1 << a)]
        estop = bool(self._call("VOXA_Is_EStop"))
        alarm = bool(self._call("VOXA_Is_Alarm"))
        code = self._call("VOXA_Get_Alarm") & 0xFFFF
        reason: Optional[StopReason] = ("estop" if estop else "limit" if alarm_axes else "alarm" if alarm or code
                                        else "host stop" if host_stop else None)
        status: WaitStatus = "timeout" if not done else "stopped" if reason else "complete"
        return WaitResult(cmd_id, status, reason, code, alarm_axes, fresh)

    def refresh(self, registers: Optional[Union[Register, Iterable[Register]]] = None, timeout: float = 0.5, *,
                raise_on_timeout: bool = False) -> bool:
        """Asks the board for registers (numbers or names; None: the status
        registers, REFRESH_STATUS) and waits until it has answered each, at
        most timeout seconds. True then: the getters of those registers show
        the board's state at or after the call. False at the timeout."""
        if registers is None:
            mask = REFRESH_STATUS
        else:
            if isinstance(registers, (str, int)):
                registers = [registers]
            mask = 0
            for reg in registers:
                r = reg_number(reg)
                if not 0 <= r < 32:
                    raise _argument(f"register {r} is not 0..31")
                mask |= 1 << r
        seconds = _timeout(timeout)
        if seconds is None:
            raise _argument("refresh() needs a timeout in seconds")
        ms = int(min(seconds, 86400.0) * 1000)
        if self._call("VOXA_Refresh", mask, ms):
            return True
        if raise_on_timeout:
            raise TimeoutError(f"board {self._id}: no answer to the refresh within {timeout} s")
        return False

    def wait_idle(self, timeout: Optional[float] = None, *, raise_on_timeout: bool = False) -> bool:
        """Waits until everything queued so far has run: the host's queue and
        the board's are both empty, and the status is refreshed. True then,
        False at the timeout. It puts a completion marker with command ID
        IDLE_ID (0xFD) into the queue and waits for the board to report it."""
        timeout = _timeout(timeout)
        deadline = None if timeout is None else time.monotonic() + timeout
        with self._lock:
            # Queued, whatever the command mode: the marker goes behind every
            # command already waiting on the host.
            self._call("VOXA_Enter_QueueCmd")
            try:
                self._call("VOXA_Notify_Complete", IDLE_ID)
            finally:
                self._call("VOXA_Leave_QueueCmd")
        left = None if deadline is None else max(0.0, deadline - time.monotonic())
        idle = (not self.wait_motion(IDLE_ID, left, refresh=False).timed_out and self.refresh()
                and self.soft_queue_left == 0 and self.engine_queue_left == 0)
        if raise_on_timeout and not idle:
            raise TimeoutError(f"board {self._id}: the queues did not run empty within {timeout} s")
        return idle

    def notify_complete(self, cmd_id: int) -> None:
        """Asks the board to report cmd_id complete once everything queued
        before has run."""
        self._call("VOXA_Notify_Complete", _cmd_id(cmd_id))

    def sync(self, cmd_id: Optional[int] = None) -> None:
        """A synchronisation point in the board's command stream (tagged with
        cmd_id, 0..255, when one is given)."""
        self._command("VOXA_Sync", cmd_id=cmd_id)

    def clear_queue(self) -> None:
        """Throws away the commands waiting in the board's queue."""
        self._call("VOXA_Clr_Queue")

    @property
    def soft_queue_left(self) -> int:
        """Commands waiting in the host's queue."""
        return self._int("VOXA_Get_SoftQueueLeftCmd")

    @property
    def engine_queue_left(self) -> int:
        """Commands waiting in the board's queue."""
        return self._int("VOXA_Get_EngineQueueLeftCmd")

    @property
    def is_busy(self) -> bool:
        """The board's queue is busy (queued frames wait), as last reported."""
        return bool(self._call("VOXA_Is_Busy"))

    @property
    def is_complete(self) -> bool:
        """The board reports its commands complete, as last reported."""
        return bool(self._call("VOXA_Is_Complete"))

    @property
    def is_on_motion(self) -> bool:
        """An axis moves (a jog or spindle included), as last reported."""
        return bool(self._call("VOXA_Is_OnMotion"))

    def is_complete_axis(self, axes: Axes) -> bool:
        """Every one of the axes has completed its motion, as last reported."""
        return bool(self._call("VOXA_Is_CompleteAxis", _mask(axes)))

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

    # ------------------------------------------------------------ axis output and limits

    def set_pulse_mode(self, axes: Axes, mode: int) -> None:
        """The pulse output mode (0..2) of the axes."""
        self._call("VOXA_Set_PulseMode", _mask(axes), _index(mode, "mode"))

    def pulse_mode(self, axis: int) -> int:
        """The axis's pulse output mode, 0..2."""
        return self._int("VOXA_Get_PulseMode", 1 << _axis(axis))

    def enable_limits(self, axes: Axes, lower: bool = True, upper: bool = True) -> None:
        """Switches the hardware limit inputs of the axes on or off."""
        m = _mask(axes)
        with self._lock:
            self._call("VOXA_Enable_LowerLimit", m, 1 if lower else 0)
            self._call("VOXA_Enable_UpperLimit", m, 1 if upper else 0)

    def set_soft_limits(self, axes: Axes, lower: Optional[int] = None, upper: Optional[int] = None) -> None:
        """Soft limits of the axes in pulses; None switches that side off."""
        m = _mask(axes)
        with self._lock:
            for value, setter, enable in ((lower, "VOXA_Set_SoftLowerLimit", "VOXA_Enable_SoftLowerLimit"),
                                          (upper, "VOXA_Set_SoftUpperLimit", "VOXA_Enable_SoftUpperLimit")):
                if value is not None:
                    self._call(setter, m, _int32(value, "soft limit"))
                self._call(enable, m, 0 if value is None else 1)

    def limits(self, axis: int) -> Dict[str, bool]:
        """{"lower", "upper", "soft_lower", "soft_upper", "alarm"}: the axis's
        limit and alarm states as the board last reported them."""
        m = 1 << _axis(axis)
        with self._lock:
            return {
                "lower": bool(self._call("VOXA_Is_LimitL", m)),
                "upper": bool(self._call("VOXA_Is_LimitH", m)),
                "soft_lower": bool(self._call("VOXA_Is_SoftLimitL", m)),
                "soft_upper": bool(self._call("VOXA_Is_SoftLimitH", m)),
                "alarm": bool(self._call("VOXA_Is_AlarmAxis", m)),
            }

    # ------------------------------------------------------------ velocity profile

    def set_velocity(self, start: Optional[int] = None, drive: Optional[int] = None, acc: Optional[int] = None,
                     dec: Optional[int] = None, axes: Optional[Axes] = None) -> None:
        """Start and drive velocity, acceleration and deceleration (16-bit
        values): board-wide, or for the given axes."""
        with self._lock:
            for value, name in ((start, "StartVel"), (drive, "DriveVel"), (acc, "Acc"), (dec, "Dec")):
                if value is None:
                    continue
                v = _u16(value, name)
                if axes is None:
                    self._call(f"VOXA_Set_{name}", v)
                else:
                    self._call(f"VOXA_Set_{name}Axis", _mask(axes), v)

    def velocity_profile(self, axis: Optional[int] = None) -> Dict[str, int]:
        """{"start", "drive", "acc", "dec"}: board-wide, or of one axis."""
        with self._lock:
            if axis is None:
                return {k: self._call(f"VOXA_Get_{n}") for k, n in
                        (("start", "StartVel"), ("drive", "DriveVel"), ("acc", "Acc"), ("dec", "Dec"))}
            m = 1 << _axis(axis)
            return {k: self._call(f"VOXA_Get_{n}Axis", m) for k, n in
                    (("start", "StartVel"), ("drive", "DriveVel"), ("acc", "Acc"), ("dec", "Dec"))}

    def cur_vel(self, axis: int) -> int:
        """The axis's velocity as the board last reported it."""
        return self._int("VOXA_Get_CurVelAxis", 1 << _axis(axis))

    # ------------------------------------------------------------ positions

    def cur_pos(self, axis: int) -> int:
        """The axis's position, pulses, as the board last reported it."""
        return self._int("VOXA_Get_CurPos", 1 << _axis(axis))

    def set_cur_pos(self, axes: Axes, position: int) -> None:
        """Sets the command position of the axes, in pulses."""
        self._call("VOXA_Set_CurPos", _mask(axes), _int32(position, "position"))

    def enc_pos(self, axis: int) -> int:
        """The axis's encoder position as the board last reported it."""
        return self._int("VOXA_Get_EncPos", 1 << _axis(axis))

    def set_enc_pos(self, axes: Axes, position: int) -> None:
        """Sets the encoder position of the axes, in pulses."""
        self._call("VOXA_Set_EncPos", _mask(axes), _int32(position, "position"))

    # ------------------------------------------------------------ motion commands

    def line(self, targets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Linear interpolation to absolute positions: board.line({0: 1000, 1: 2000})."""
        mask, values = _targets(targets)
        self._command("VOXA_Line", mask, values, cmd_id=cmd_id)

    def cmove(self, targets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Each axis moves on its own to an absolute position."""
        mask, values = _targets(targets)
        self._command("VOXA_CMove", mask, values, cmd_id=cmd_id)

    def imove(self, offsets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Each axis moves on its own by a relative distance."""
        mask, values = _targets(offsets, "offsets")
        self._command("VOXA_IMove", mask, values, cmd_id=cmd_id)

    def arc_cw(self, centre: Mapping[int, int], end: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Clockwise arc around centre to end ({axis: position} each, the
        same axes in both)."""
        self._arc("VOXA_ArcCW", centre, end, cmd_id)

    def arc_ccw(self, centre: Mapping[int, int], end: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Counter-clockwise arc around centre to end ({axis: position} in
        pulses each, the same axes in both)."""
        self._arc("VOXA_ArcCCW", centre, end, cmd_id)

    def _arc(self, name: str, centre: Mapping[int, int], end: Mapping[int, int], cmd_id: Optional[int]) -> None:
        cmask, cvalues = _targets(centre, "centre")
        emask, evalues = _targets(end, "end")
        if cmask != emask:
            raise _argument("centre and end must name the same axes")
        self._command(name, emask, cvalues, evalues, cmd_id=cmd_id)

    def home(self, axes: Axes, value: int = 0, cmd_id: Optional[int] = None) -> None:
        """Home return of the axes; their position becomes value at home."""
        self._command("VOXA_Home", _mask(axes), _int32(value), cmd_id=cmd_id)

    def spindle(self, axes: Axes, velocity: int, cmd_id: Optional[int] = None) -> None:
        """Turns the axes at a signed velocity until stopped (0 stops)."""
        self._command("VOXA_Spindle", _mask(axes), _int32(velocity, "velocity"), cmd_id=cmd_id)

    # ------------------------------------------------------------ home return configuration

    def set_home(self, axes: Axes, mode: Optional[int] = None, direction: Optional[int] = None,
                 seek_vel: Optional[int] = None, offset: Optional[int] = None,
                 sensor_level: Optional[int] = None) -> None:
        """Home return settings of the axes; None leaves a setting alone."""
        m = _mask(axes)
        with self._lock:
            if mode is not None:
                self._call("VOXA_Set_HomeMode", m, _index(mode, "mode"))
            if direction is not None:
                self._call("VOXA_Set_HomeDir", m, _index(direction, "direction"))
            if seek_vel is not None:
                self._call("VOXA_Set_HomeSeekVel", m, _u16(seek_vel, "seek velocity"))
            if offset is not None:
                self._call("VOXA_Set_HomeSeekOffsetPulse", m, _int32(offset, "offset"))
            if sensor_level is not None:
                self._call("VOXA_Set_HomeSensorLevel", m, _index(sensor_level, "level"))

    def is_home_sensor(self, axis: int) -> bool:
        """The axis's home sensor is active, as last reported."""
        return bool(self._call("VOXA_Is_HomeSensor", 1 << _axis(axis)))

    # ------------------------------------------------------------ servo, general-purpose and extension I/O

    def servo_on(self, axes: Axes, on: bool = True) -> None:
        """Switches the servo-on output of the axes on or off."""
        self._call("VOXA_Set_ServoOn", _mask(axes), 1 if on else 0)

    def is_servo_on(self, axis: int) -> bool:
        """The axis's servo-on output is on."""
        return bool(self._call("VOXA_Is_ServoOn", 1 << _axis(axis)))

    def is_servo_alarm(self, axis: int) -> bool:
        """The axis's servo drive reports an alarm, as last reported."""
        return bool(self._call("VOXA_Is_ServoAlarm", 1 << _axis(axis)))

    @property
    def gin(self) -> int:
        """The general-purpose inputs as the board last reported them."""
        return self._int("VOXA_Get_GIn") & 0xFFFFFFFF

    @property
    def gout(self) -> int:
        """The general-purpose outputs, a 32-bit word (bit n: output n), as
        last set or reported; assigning writes the whole word at once."""
        return self._int("VOXA_Get_GOut") & 0xFFFFFFFF

    @gout.setter
    def gout(self, value: int) -> None:
        self._call("VOXA_Set_GOut", ctypes.c_int32(_index(value, "outputs") & 0xFFFFFFFF).value)

    def set_gout_bits(self, bits: int, cmd_id: Optional[int] = None) -> None:
        """Sets output bits, in the board's command stream."""
        self._command("VOXA_SetBit_GOut", ctypes.c_int32(_index(bits, "bits") & 0xFFFFFFFF).value, cmd_id=cmd_id)

    def clear_gout_bits(self, bits: int, cmd_id: Optional[int] = None) -> None:
        """Clears output bits (a 32-bit mask), in the board's command stream."""
        self._command("VOXA_ClrBit_GOut", ctypes.c_int32(_index(bits, "bits") & 0xFFFFFFFF).value, cmd_id=cmd_id)

    def adc(self, channel: int) -> int:
        """Analogue input channel 0..3 as last reported: 0..65535 (the
        converter's full range)."""
        return self._int("VOXA_Get_ADC", _index(channel, "channel"))

    def ext_io(self, word: int) -> int:
        """Word 0..7 of the extension I/O (32 bits; 0..3 as last reported)."""
        return self._int("VOXA_Get_ExtIO", _index(word, "word")) & 0xFFFFFFFF

    def set_ext_io(self, word: int, value: int) -> None:
        """Writes word 0..7 of the extension I/O (32 bits)."""
        self._call("VOXA_Set_ExtIO", _index(word, "word"), ctypes.c_int32(_index(value, "value") & 0xFFFFFFFF).value)

    # ------------------------------------------------------------ comparators, PID, alarms, capture

    def enable_comparator(self, channel: int, on: bool = True) -> None:
        """Switches position comparator channel 0..3 on or off; its events
        reach on_comparator()."""
        self._call("VOXA_Enable_Comparator", _index(channel, "channel"), 1 if on else 0)

    def run_pid(self, pid: int) -> None:
        """Starts PID controller 0..3."""
        self._call("VOXA_Run_PID", _index(pid, "PID controller"))

    def off_pid(self, pid: int) -> None:
        """Switches PID controller 0..3 off."""
        self._call("VOXA_Off_PID", _index(pid, "PID controller"))

    def reset_pid(self, pid: int) -> None:
        """Resets PID controller 0..3."""
        self._call("VOXA_Reset_PID", _index(pid, "PID controller"))

    @property
    def alarm(self) -> int:
        """The board's alarm code (0: none)."""
        return self._int("VOXA_Get_Alarm") & 0xFFFFFFFF

    @property
    def capture_count(self) -> int:
        """How many entries the capture ring holds (0..10000)."""
        return self._int("VOXA_Get_CaptureCnt")

    def capture(self, index: int, word: int) -> int:
        """Word 0..7 of capture entry index (-1: the newest)."""
        return self._int("VOXA_Get_Capture", _index(index, "index"), _index(word, "word"))

    # ------------------------------------------------------------ configuration file

    def save_config(self, path: PathLike) -> None:
        """Saves the board's configuration to a file (keeping the file's
        other sections)."""
        self._call("VOXA_Save_ConfigFile", os.fsencode(path))

    def load_config(self, path: PathLike) -> None:
        """Loads a configuration file onto the board (about half a second)."""
        with self._lock:
            if not self._call("VOXA_Load_ConfigFile", os.fsencode(path)):
                raise FileNotFoundError(2, "no such configuration file", os.fsdecode(path))

    # ------------------------------------------------------------ register image

    def reg_word(self, reg: Register, word: int) -> int:
        """Word 0..7 of register reg (number or name) of the register image."""
        value = ctypes.c_uint32()
        self._call("VOXA_Get_RegWord", reg_number(reg), _index(word, "word"), ctypes.byref(value))
        return value.value

    def set_reg_word(self, reg: Register, word: int, value: int) -> None:
        """Sets a word of the register image and writes it to the board."""
        self._call("VOXA_Set_RegWord", reg_number(reg), _index(word, "word"), _index(value, "value") & 0xFFFFFFFF)

    def registers(self) -> List[List[int]]:
        """The whole register image: 32 lists of eight words, one snapshot."""
        value = ctypes.c_uint32()
        ref = ctypes.byref(value)
        with self._lock:
            self._select()
            out = []
            for r in range(32):
                words = []
                for w in range(8):
                    if not self._lib.VOXA_Get_RegWord(r, w, ref):
                        raise VoxaError(self._lib.VOXA_Get_LastErr(), "VOXA_Get_RegWord")
                    words.append(value.value)
                out.append(words)
            return out

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
