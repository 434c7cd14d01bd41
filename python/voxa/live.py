"""What the board reports as it happens: recordings of its state reports
(Board.record), and link changes and the library's own lines in the log.

They come through the library's process-wide handlers (state, link, log),
which never run under a library lock. A recording asks no more of a board
than LiveSource names, all of it public: Board is one."""

import ctypes
import logging
import os
import threading
import time
from typing import Any, ContextManager, Dict, Iterable, Iterator, List, Optional, Protocol, Sequence, Tuple, Union

from ._checks import Register
from ._lib import LinkHandler, LogHandler, StateHandler, name_library_thread, voxa_library

log = logging.getLogger("voxa")

CHIPSTATUS, AXISSTATUS, CURPOS, ENCPOS, CURVEL = 1, 3, 6, 12, 18

# Signal name: (column prefix, register, state packet contents flag, per
# axis). The columns are those of voxactl's recordings: pos<axis> and
# enc<axis> in pulses, vel<axis> in pulses/s, status<axis> the axis status
# bits; chipstatus the chip status bits.
SIGNALS: Dict[str, Tuple[str, int, int, bool]] = {
    "position": ("pos", CURPOS, 0x1000, True),
    "encoder": ("enc", ENCPOS, 0x2000, True),
    "velocity": ("vel", CURVEL, 0x4000, True),
    "axisstatus": ("status", AXISSTATUS, 0x800, True),
    "chipstatus": ("chipstatus", CHIPSTATUS, 0x400, False),
}
# voxactl's signal names name the same signals.
_SHORT = {prefix: name for name, (prefix, _r, _f, per_axis) in SIGNALS.items() if per_axis}
# How a column's value is read: the export voxactl reads it with (an axis
# mask argument, the value in its unit), else the register word.
_GETTERS = {CURPOS: "VOXA_Get_CurPos", ENCPOS: "VOXA_Get_EncPos", CURVEL: "VOXA_Get_CurVelAxis"}
_PERIODS = {25: 2, 50: 3, 100: 4, 200: 5, 250: 6, 500: 7, 1000: 8}
DEFAULT_PERIOD_MS = 25

_LINK_STATES = {0: "down", 1: "up", 2: "reconnecting", 3: "reconnected", 4: "frames in doubt",
                5: "board restarted", 6: "settings written back"}
_LINK_REASONS = {0: "", 1: "silence", 2: "closed by the board", 3: "system error", 4: "closed", 5: "device gone",
                 6: "heartbeats", 7: "held by another host", 8: "board restarted"}
_LINK_IN_DOUBT, _LINK_RESTARTED = 4, 5
_LINK_DOWN, _LINK_RECONNECTING, _REASON_CLOSED = 0, 2, 4


class LiveSource(Protocol):
    """What a recording needs of a board (Board has it all): its id, whether
    it was closed, a word of its register image, immediate() and queued()
    groups of commands, and call() for the state packet exports
    (VOXA_Set_StateTimer, VOXA_Clr_StateTimer, VOXA_Get_StateDrops)."""

    @property
    def id(self) -> int: ...

    @property
    def closed(self) -> bool: ...

    def reg_word(self, reg: Register, word: int) -> int: ...

    def immediate(self) -> ContextManager[object]: ...

    def queued(self) -> ContextManager[object]: ...

    def call(self, name: str, *args: object) -> Any: ...


class Recording:
    """Columns of time-stamped samples of a board's reports.

    rec.columns: the column names, those of voxactl's recordings ("time_s",
    then e.g. "pos0", "vel0", "enc0", "status0"); rec["pos0"]: a column as a
    list (the long names "time", "position0", "velocity0", "encoder0",
    "axisstatus0" name the same columns); len(rec): the number of samples;
    rec.rows(): the samples as tuples; rec.to_csv(path) writes voxactl's CSV
    format, which `voxactl plot` draws. Time is in seconds from the first
    sample, as the library took the report from the link; positions and
    encoder positions are in pulses, velocities in pulses/s. numpy:
    numpy.array(rec["pos0"]) or numpy.array(rec.rows()).

    A recording that the link's loss cut short ends there: rec.cut_short is
    True, rec.cut_reason says why ("closed by the board", "silence", "held
    by another host", ...), and rec.duration is how long it recorded, in
    seconds (the time asked for when it ran to the end)."""

    def __init__(self, columns: Sequence[str]) -> None:
        self.columns: List[str] = list(columns)
        self._data: Dict[str, List[float]] = {c: [] for c in self.columns}
        self.drops = 0  # reports merged because the handler fell behind
        self.cut_short = False
        self.cut_reason: Optional[str] = None
        self.duration = 0.0

    def __getitem__(self, column: str) -> List[float]:
        return self._data[_column(column)]

    def __len__(self) -> int:
        return len(self._data["time_s"])

    def __iter__(self) -> Iterator[str]:
        return iter(self.columns)

    def rows(self) -> List[Tuple[float, ...]]:
        """The samples as tuples, in the order of columns."""
        return list(zip(*(self._data[c] for c in self.columns)))

    def to_csv(self, path: "Union[str, os.PathLike[str]]") -> None:
        """Writes the recording as voxactl does: a header line, then one line
        per sample, time in seconds with six decimals, LF line ends."""
        with open(path, "w", newline="\n", encoding="ascii") as f:
            f.write(",".join(self.columns) + "\n")
            for row in self.rows():
                f.write(",".join([f"{row[0]:.6f}"] + [str(int(v)) for v in row[1:]]) + "\n")

    def __repr__(self) -> str:
        cut = f", cut short ({self.cut_reason})" if self.cut_short else ""
        return f"<voxa.Recording {len(self)} samples of {', '.join(self.columns[1:])}{cut}>"


def _column(name: str) -> str:
    """A column's name in voxactl's terms ("position0" -> "pos0")."""
    if name == "time":
        return "time_s"
    signal = name.rstrip("0123456789")
    if signal != name and signal in SIGNALS:
        return SIGNALS[signal][0] + name[len(signal):]
    return name


class _Recorder:
    def __init__(self, board: LiveSource, reads: List[Tuple[int, int]], wanted: int, need_all: bool,
                 recording: Recording) -> None:
        self.board = board
        self.reads = reads  # (register, axis or word) per column after time
        self.wanted = wanted
        self.need_all = need_all
        self.recording = recording
        self.first_us: Optional[int] = None
        self.sampled = threading.Event()
        self.lock = threading.Lock()  # a sample against the end of the recording
        self.active = True
        self.cut_reason: Optional[str] = None  # set once, by the link handler
        self.cut_at = 0.0

    def cut(self, reason: str) -> None:
        with self.lock:
            if not self.active or self.cut_reason is not None:
                return
            self.cut_at = time.monotonic()
            self.cut_reason = reason
        self.sampled.set()  # wakes the recording thread

    def sample(self, lib: Any, registers: int, time_us: int) -> None:
        if not registers & self.wanted or (self.need_all and registers & self.wanted != self.wanted):
            return
        with self.lock:
            if self.active:
                self._sample(lib, time_us)

    def _sample(self, lib: Any, time_us: int) -> None:
        value = ctypes.c_uint32()
        row: List[float] = []
        for reg, word in self.reads:
            getter = _GETTERS.get(reg)
            if getter is not None:
                row.append(getattr(lib, getter)(1 << word))
                if lib.VOXA_Is_Err():
                    return
            elif lib.VOXA_Get_RegWord(reg, word, ctypes.byref(value)):
                row.append(value.value)
            else:
                return
        if self.first_us is None:
            self.first_us = time_us
        data = self.recording._data
        data["time_s"].append((time_us - self.first_us) / 1e6)
        for column, v in zip(self.recording.columns[1:], row):
            data[column].append(v)
        self.sampled.set()


class _Handlers:
    """The library's state and link handlers, set once, shared by every board."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._recorders: Dict[int, List[_Recorder]] = {}
        self._lib: Any = None
        self._state = StateHandler(self._on_state)  # alive as long as the process
        self._link = LinkHandler(self._on_link)
        self._log = LogHandler(self._on_log)
        self._state_set = False
        self._logging_set = False

    def watch(self, lib: Any) -> None:
        """Link changes and the library's lines go to the log from now on."""
        with self._lock:
            if self._logging_set:
                return
            self._logging_set = True
        if hasattr(lib, "VOXA_Set_LinkHandler"):
            lib.VOXA_Set_LinkHandler(self._link)
        if hasattr(lib, "VOXA_Set_LogHandler"):
            lib.VOXA_Set_LogHandler(self._log)

    def add(self, lib: Any, recorder: _Recorder) -> None:
        with self._lock:
            self._lib = lib
            self._recorders.setdefault(recorder.board.id, []).append(recorder)
            first = not self._state_set
            self._state_set = True
        if first:
            lib.VOXA_Set_StateHandler(self._state)

    def remove(self, recorder: _Recorder) -> None:
        with self._lock:
            recorders = self._recorders.get(recorder.board.id, [])
            if recorder in recorders:
                recorders.remove(recorder)
        with recorder.lock:  # a sample in progress ends first; none comes after
            recorder.active = False

    def _on_state(self, board_id: int, registers: int, time_us: int) -> None:
        name_library_thread()
        with self._lock:
            recorders = list(self._recorders.get(board_id, ()))
            lib = self._lib
        if not recorders:
            return
        # This thread is the library's: it reads the board it was told about,
        # then goes back to the process-wide selection.
        if not lib.VOXA_Set_ThreadBoardID(board_id):
            return
        try:
            for r in recorders:
                r.sample(lib, registers, time_us)
        except Exception:
            log.exception("recording board %d failed", board_id)
        finally:
            lib.VOXA_Set_ThreadBoardID(-1)

    def _on_log(self, board_id: int, text: Optional[bytes]) -> None:
        name_library_thread()
        line = (text or b"").decode("utf-8", "replace").strip()
        if line:
            level = logging.WARNING if "Error" in line or "failed" in line else logging.INFO
            log.log(level, "board %d: %s", board_id, line)

    def _on_link(self, board_id: int, state: int, reason: int, os_error: int) -> None:
        name_library_thread()
        text = _LINK_STATES.get(state, str(state))
        why = _LINK_REASONS.get(reason, str(reason))
        if state == _LINK_IN_DOUBT:
            # os_error carries how many queued frames were on their way
            why = f"{os_error} queued frames may not have reached the board; none is sent again"
        elif os_error:
            why += f" {os_error}"
        lost = state in (_LINK_DOWN, _LINK_RECONNECTING)
        news = state in (_LINK_IN_DOUBT, _LINK_RESTARTED)
        level = logging.WARNING if (lost and reason != _REASON_CLOSED) or news else logging.INFO
        log.log(level, "board %d: link %s%s", board_id, text, f" ({why})" if why else "")
        if lost:
            with self._lock:
                recorders = list(self._recorders.get(board_id, ()))
            for r in recorders:
                r.cut(why or text)


handlers = _Handlers()


def record(board: LiveSource, signals: Union[str, Iterable[str]], seconds: float, axes: Iterable[int],
           period_ms: Optional[int]) -> Recording:
    if isinstance(signals, str):
        signals = [signals]
    signals = [_SHORT.get(s, s) for s in signals]
    for s in signals:
        if s not in SIGNALS:
            raise ValueError(f"unknown signal {s!r}; one of {sorted(SIGNALS)} (or {sorted(_SHORT)})")
    if not signals:
        raise ValueError("no signals to record")
    if period_ms is not None and period_ms not in _PERIODS:
        raise ValueError(f"period_ms {period_ms!r} is not one of {sorted(_PERIODS)} or None")
    seconds = float(seconds)
    if seconds < 0:
        raise ValueError("seconds must not be negative")
    axis_list = sorted(set(int(a) for a in axes))
    if any(not 0 <= a <= 7 for a in axis_list):
        raise ValueError(f"axes {axis_list} are not all 0..7")

    columns = ["time_s"]
    reads: List[Tuple[int, int]] = []
    wanted = contents = 0
    for s in dict.fromkeys(signals):  # each once, in the order asked
        prefix, reg, flag, per_axis = SIGNALS[s]
        wanted |= 1 << reg
        contents |= flag
        targets: List[Optional[int]] = list(axis_list) if per_axis else [None]
        for a in targets:
            columns.append(prefix if a is None else f"{prefix}{a}")
            reads.append((reg, 0 if a is None else a))
    recording = Recording(columns)
    recorder = _Recorder(board, reads, wanted, period_ms is not None, recording)
    lib = voxa_library()  # the state handler reads the board through the library's own calls
    restore = None
    selector = 0 if period_ms is None else _PERIODS[period_ms]

    def switch_on() -> None:
        # Immediate: a queued write would wait behind the motion it is to show.
        with board.immediate():
            board.call("VOXA_Set_StateTimer", selector | contents)

    if period_ms is not None:
        # State packets for the recording; the board's own settings again after it.
        w0, w1 = board.reg_word(0, 0), board.reg_word(0, 1)
        restore = ((w0 >> 8) & 7, (w1 & 0x3F) << 10)
        switch_on()
    drops = board.call("VOXA_Get_StateDrops")
    handlers.add(lib, recorder)
    start = time.monotonic()
    try:
        deadline = start + seconds
        while recorder.cut_reason is None:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            if period_ms is None:
                recorder.sampled.wait(left)
                recorder.sampled.clear()
                continue
            # A CHIPSET write still queued on the host or the board when the
            # recording began carries the old timer setting and ends the
            # packets when it lands: then the timer is set again.
            recorder.sampled.clear()
            if not recorder.sampled.wait(min(left, 4 * period_ms / 1000 + 0.1)) and time.monotonic() < deadline:
                switch_on()
    finally:
        handlers.remove(recorder)
        cut = recorder.cut_reason is not None
        if restore is not None and not board.closed:
            code, previous_contents = restore
            added = contents & ~previous_contents
            # With the link down an immediate write is lost; a queued one
            # waits on the host and goes out once the link is back.
            with board.queued() if cut else board.immediate():
                board.call("VOXA_Clr_StateTimer", 1 | added)
                if code:
                    board.call("VOXA_Set_StateTimer", code + 1)
    recording.duration = max(0.0, recorder.cut_at - start) if cut else seconds
    if cut:
        recording.cut_short, recording.cut_reason = True, recorder.cut_reason
        log.warning("board %d: the recording was cut short after %.2f s of %.2f s: link lost (%s)",
                    board.id, recording.duration, seconds, recorder.cut_reason)
    if not board.closed:
        recording.drops = (board.call("VOXA_Get_StateDrops") - drops) & 0xFFFFFFFF
    return recording
