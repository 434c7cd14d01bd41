"""Events from the library to a board's Python callbacks.

The library calls its handlers (messages, the frame trace) on its own
threads. A handler here only names the thread and queues the event for the
board's dispatch thread ("voxa-board-<id>"), which calls the application's
callbacks one after another, in the order the events came: the receive path
never waits for Python code, and a callback may call the board (even while
another thread waits on it) without a deadlock. A callback that raises, be it
SystemExit or KeyboardInterrupt, is logged and the thread serves on."""

import ctypes
import itertools
import logging
import queue
import threading
import time
from typing import Any, Callable, Dict, List, NamedTuple, Optional

from ._lib import MessageHandler, TraceHandler, name_library_thread

log = logging.getLogger("voxa")

# The message numbers this package registers for its boards.
COMPLETE_MESSAGE = 0x0401
COMPARATOR_MESSAGE = 0x0402


class Frame(NamedTuple):
    """A frame exchanged with a board, start byte to checksum."""

    time: float      # time.monotonic() when the library passed it on
    direction: str   # "sent" (to the board) or "received"
    data: bytes

    @property
    def arrow(self) -> str:
        return "->" if self.direction == "sent" else "<-"

    def hex(self) -> str:
        return self.data.hex(" ").upper()


# Markers on a board's event queue besides the library's messages.
_FRAME = object()
_FLUSH = object()
# The window handles the boards register their messages for.
_windows = itertools.count(0x1000)


class Dispatcher:
    """One board's events and callbacks, and the thread that runs them. The
    thread starts with the first callback and ends with stop()."""

    def __init__(self, board_id: int) -> None:
        self.board_id = board_id
        self.window = next(_windows)
        self._lock = threading.Lock()  # the callbacks and the thread; never held while one runs
        self._events: "queue.SimpleQueue[Any]" = queue.SimpleQueue()
        self._thread: Optional[threading.Thread] = None
        self._stopped = False
        self._callbacks: Dict[int, Optional[Callable[[int], Any]]] = {COMPLETE_MESSAGE: None,
                                                                       COMPARATOR_MESSAGE: None}
        self._frame_callbacks: List[Callable[[Frame], Any]] = []

    def start(self) -> None:
        """Starts the dispatch thread unless it runs or was stopped."""
        with self._lock:
            if self._thread is None and not self._stopped:
                self._thread = threading.Thread(target=self._run, name=f"voxa-board-{self.board_id}", daemon=True)
                self._thread.start()

    def stop(self) -> None:
        """Ends the thread once it has handed over what was queued before,
        and waits for that unless called on it."""
        with self._lock:
            self._stopped = True
            thread = self._thread
        if thread is not None:
            self._events.put(None)
            if thread is not threading.current_thread():
                thread.join()

    def set_callback(self, message: int, callback: Optional[Callable[[int], Any]]) -> None:
        with self._lock:
            self._callbacks[message] = callback

    def has_callbacks(self) -> bool:
        """A message callback is set."""
        with self._lock:
            return any(self._callbacks.values())

    def add_frame_callback(self, callback: Callable[[Frame], Any]) -> None:
        with self._lock:
            self._frame_callbacks.append(callback)

    def remove_frame_callback(self, callback: Callable[[Frame], Any]) -> bool:
        """Removes a frame callback; True when none is left."""
        with self._lock:
            self._frame_callbacks.remove(callback)
            return not self._frame_callbacks

    def post(self, message: Any, lparam: Any) -> None:
        self._events.put((message, lparam))

    def flush(self) -> None:
        """Waits until the thread has handed over everything posted so far
        (unless called on it)."""
        thread = self._thread
        if thread is None or thread is threading.current_thread() or not thread.is_alive():
            return
        done = threading.Event()
        self._events.put((_FLUSH, done))
        done.wait(5.0)

    def _run(self) -> None:
        while True:
            item = self._events.get()
            if item is None:
                return
            message, lparam = item
            callbacks: List[Optional[Callable[[Any], Any]]]
            if message is _FLUSH:
                lparam.set()
                continue
            with self._lock:
                if message is _FRAME:
                    callbacks = list(self._frame_callbacks)
                    argument = lparam
                else:
                    callbacks = [self._callbacks.get(message)]
                    argument = lparam & 0xFF if message == COMPLETE_MESSAGE else lparam & 0xFFFFFFFF
            for callback in callbacks:
                if callback is None:
                    continue
                try:
                    callback(argument)
                except BaseException:  # SystemExit and KeyboardInterrupt too: the thread serves on
                    log.exception("a callback of board %d raised an exception", self.board_id)


class _MessageRouter:
    """Hands the library's messages to the board they were registered for
    (by the board's window handle)."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._targets: Dict[int, Dispatcher] = {}
        self._handler: Any = None  # the ctypes thunk, alive as long as the process
        self._lib: Any = None

    def attach(self, lib: Any, dispatcher: Dispatcher) -> None:
        with self._lock:
            if self._handler is None:
                self._lib = lib
                self._handler = MessageHandler(self._on_message)
                lib.VOXA_Set_MessageHandler(self._handler)
            self._targets[dispatcher.window] = dispatcher

    def detach(self, dispatcher: Dispatcher) -> None:
        with self._lock:
            self._targets.pop(dispatcher.window, None)

    def _on_message(self, window: Optional[int], message: int, wparam: int, lparam: int) -> None:
        name_library_thread()
        with self._lock:
            dispatcher = self._targets.get(window or 0)
        if dispatcher is not None:
            dispatcher.post(message, lparam)

    def shut_down(self) -> None:
        """Takes the handler back from the library (the thunk itself stays
        alive: a call in flight may still be using it)."""
        with self._lock:
            self._targets.clear()
            if self._handler is not None:
                self._lib.VOXA_Set_MessageHandler(MessageHandler(0))


class _FrameTracer:
    """Hands the library's frame trace to the boards that listen. The trace
    handler is the library's, process-wide: it is set while any board
    listens."""

    def __init__(self) -> None:
        self._lock = threading.Lock()      # the boards; never held while calling the library
        self._set_lock = threading.Lock()  # orders the handler's setting and clearing
        self._boards: Dict[int, Dispatcher] = {}
        self._handler = TraceHandler(self._on_frame)  # alive as long as the process
        self._lib: Any = None

    def attach(self, lib: Any, dispatcher: Dispatcher) -> None:
        with self._set_lock:
            with self._lock:
                first = not self._boards
                self._boards[dispatcher.board_id] = dispatcher
                self._lib = lib
            if first:
                lib.VOXA_Set_TraceHandler(self._handler)

    def detach(self, dispatcher: Dispatcher) -> None:
        with self._set_lock:
            with self._lock:
                if self._boards.get(dispatcher.board_id) is not dispatcher:
                    return
                del self._boards[dispatcher.board_id]
                last = not self._boards
            if last:
                self._lib.VOXA_Set_TraceHandler(TraceHandler(0))  # none

    def _on_frame(self, board_id: int, direction: int, frame: Any, length: int) -> None:
        now = time.monotonic()
        name_library_thread()
        with self._lock:
            dispatcher = self._boards.get(board_id)
        if dispatcher is None or not frame or length <= 0:
            return
        data = ctypes.string_at(frame, length)
        dispatcher.post(_FRAME, Frame(now, "sent" if direction == 0 else "received", data))


router = _MessageRouter()
tracer = _FrameTracer()
