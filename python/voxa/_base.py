"""What every part of a Board stands on: the board's state, its calls into
the library, and the groups of calls that must not be split.

Every call first makes the board the calling thread's own
(VOXA_Set_ThreadBoardID) and then reads the thread's own error state, which
no other thread's call can clear or set. Sequences of calls that must not be
split hold the board's lock."""

import contextlib
import ctypes
import threading
from typing import Any, Iterator, Optional, TypeVar

from ._checks import _check_call, _cmd_id
from .errors import ERR_NOT_OPEN, VoxaError

# Exports that change which boards are open or selected: a Board keeps its
# own books about those, so call() does not pass them through.
_RESERVED = {"VOXA_Open_Comm", "VOXA_Open_CommDevice", "VOXA_Open_Tcp", "VOXA_Close", "VOXA_Set_BoardID",
             "VOXA_Set_ThreadBoardID", "VOXA_Set_MessageHandler"}

_B = TypeVar("_B", bound="BoardCalls")


class BoardCalls:
    """A board's id, state and calls: the base of Board."""

    def __init__(self, lib: Any, board_id: int, description: str) -> None:
        self._lib = lib
        self._id = board_id
        self._description = description
        self._closed = False
        # Held through sequences of calls that must not be split; single
        # calls and waits never take it.
        self._lock = threading.RLock()

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

    # ------------------------------------------------------------ groups of commands

    @contextlib.contextmanager
    def immediate(self: _B) -> Iterator[_B]:
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
    def queued(self: _B) -> Iterator[_B]:
        """Commands inside wait in the queue, as one group."""
        with self._lock:
            self._call("VOXA_Enter_QueueCmd")
            try:
                yield self
            finally:
                self._call("VOXA_Leave_QueueCmd")
