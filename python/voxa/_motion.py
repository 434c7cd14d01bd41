"""A Board's commands: execution control, motion commands, the queue,
command IDs and the waits for what the board reports."""

import logging
import time
from typing import Iterable, List, Literal, Mapping, Optional, Union

from ._base import BoardCalls
from .errors import MotionRefused
from ._checks import Axes, Register, _argument, _cmd_id, _int32, _mask, _targets, _timeout, reg_number

log = logging.getLogger("voxa")

NO_ID = 0xFE   # no command ID (no tag byte)
ANY_ID = 0xFF  # wait_motion: any completion

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


class BoardMotion(BoardCalls):
    """Execution control, motion commands, the queue and waits of a Board."""

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

    def estop(self) -> None:
        """Emergency stop: every axis stops at once, ahead of the host's
        queue; the board then reports an emergency stop (an alarm) and
        refuses motion until reset()."""
        with self.immediate():
            self._call("VOXA_EStop", 1)

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

    # ------------------------------------------------------------ motion commands
    # Every command that moves an axis is refused, and nothing is sent, while
    # the board reports an emergency stop or an alarm (MotionRefused), as
    # voxactl and the panel refuse it.

    def _motion(self, name: str, *args: object, cmd_id: Optional[int] = None) -> None:
        with self._lock:
            if self._call("VOXA_Is_Alarm"):
                code = self._int("VOXA_Get_Alarm") & 0xFFFF
                estop = bool(self._call("VOXA_Is_EStop"))
                what = "an emergency stop" if estop else f"an alarm (code 0x{code:04X})"
                error = MotionRefused(0, name, f"the board reports {what}; nothing was sent, reset() clears it")
                error.reason, error.alarm_code = ("estop" if estop else "alarm"), code
                raise error
            self._command(name, *args, cmd_id=cmd_id)

    def line(self, targets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Linear interpolation to absolute positions: board.line({0: 1000, 1: 2000})."""
        mask, values = _targets(targets)
        self._motion("VOXA_Line", mask, values, cmd_id=cmd_id)

    def cmove(self, targets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Each axis moves on its own to an absolute position."""
        mask, values = _targets(targets)
        self._motion("VOXA_CMove", mask, values, cmd_id=cmd_id)

    def imove(self, offsets: Mapping[int, int], cmd_id: Optional[int] = None) -> None:
        """Each axis moves on its own by a relative distance."""
        mask, values = _targets(offsets, "offsets")
        self._motion("VOXA_IMove", mask, values, cmd_id=cmd_id)

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
        self._motion(name, emask, cvalues, evalues, cmd_id=cmd_id)

    def home(self, axes: Axes, value: int = 0, cmd_id: Optional[int] = None) -> None:
        """Home return of the axes; their position becomes value at home."""
        self._motion("VOXA_Home", _mask(axes), _int32(value), cmd_id=cmd_id)

    def spindle(self, axes: Axes, velocity: int, cmd_id: Optional[int] = None) -> None:
        """Turns the axes at a signed velocity until stopped (0 stops)."""
        velocity = _int32(velocity, "velocity")
        if velocity == 0:  # a stop is never refused
            self._command("VOXA_Spindle", _mask(axes), 0, cmd_id=cmd_id)
        else:
            self._motion("VOXA_Spindle", _mask(axes), velocity, cmd_id=cmd_id)
