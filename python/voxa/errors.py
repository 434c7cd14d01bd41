"""The exceptions of the package.

    VoxaError                   every failure the library or the package reports
    ├── ArgumentError           an argument out of range (also a ValueError)
    │   └── ArgumentTypeError   an argument of the wrong type (also a TypeError)
    ├── NotOpenError            no board, or a board that was closed
    ├── LinkError               the link could not be opened (also a ConnectionError)
    ├── ConfigFileError         a configuration file could not be saved or loaded (also an OSError)
    └── MotionRefused           a motion refused while the board reports an emergency stop or an alarm

VoxaError(code, ...) builds the class that fits the library's error code, so
`except voxa.LinkError` catches a failed open wherever it is raised. Waits
that run out raise TimeoutError when asked to (raise_on_timeout=True).
"""

import ctypes
from typing import Any, Dict, Optional, Type

ERR_BOARD_ID = -10
ERR_SOFT_QUEUE = -11
ERR_NO_SLOT = -20
ERR_NOT_OPEN = -21
ERR_OPEN = -30
ERR_CONFIG_SAVE = -40
ERR_CONFIG_LOAD = -41
ERR_ARGUMENT = -50


def error_text(code: int) -> str:
    """The library's short meaning of an error code."""
    from ._lib import voxa_library

    text = voxa_library().VOXA_Get_ErrText(int(code))
    return str(text.decode("utf-8", "replace")) if text else "unknown error code"


class VoxaError(Exception):
    """A call the library refused or that failed.

    code: the library's error code (VOXA_Get_LastErr), e.g. -50.
    meaning: its text (VOXA_Get_ErrText).
    function: the export that failed, when known.
    detail: what the Python side adds, when anything.
    """

    code: int
    meaning: str
    function: Optional[str]
    detail: Optional[str]

    def __new__(cls, code: int, *args: object, **kwargs: object) -> "VoxaError":
        if cls is VoxaError:
            cls = _BY_CODE.get(int(code), VoxaError)
        return super().__new__(cls)

    def __init__(self, code: int, function: Optional[str] = None, detail: Optional[str] = None) -> None:
        self.code = int(code)
        self.function = function
        self.detail = detail
        try:
            self.meaning = error_text(self.code)
        except OSError:
            self.meaning = "unknown error code"
        text = f"error {self.code}: {self.meaning}"
        if detail:
            text += f" ({detail})"
        if function:
            text = f"{function}: {text}"
        super().__init__(text)
        self.args = (text,)  # OSError's subclasses took no arguments in __new__

    def __reduce__(self) -> Any:
        return (_rebuild, (type(self), self.code, self.function, self.detail), dict(self.__dict__))


def _rebuild(cls: Type[VoxaError], code: int, function: Optional[str], detail: Optional[str]) -> VoxaError:
    return cls(code, function, detail)


class ArgumentError(VoxaError, ValueError):
    """An argument outside the accepted values (-50)."""


class ArgumentTypeError(ArgumentError, TypeError):
    """An argument of the wrong type, found before anything was called."""


class NotOpenError(VoxaError):
    """No board is selected or the board is not open (-10, -21)."""


class LinkError(VoxaError, ConnectionError):
    """The link to the board could not be opened (-30), or no board slot is
    free (-20).

    For a failed open the library says why: kind is "system" (the system
    refused: os_error, also errno, is its error number), "no answer" (the
    board did not answer in time) or "held" (the board serves another host
    and turned this one away), None when it did not say; text is its
    sentence, e.g. "the board at 127.0.0.1:5000 is held by another host"."""

    kind: Optional[str] = None
    os_error: int = 0
    text: Optional[str] = None


# Why an open failed (VOXA_Get_OpenError).
OPEN_NONE, OPEN_SYSTEM, OPEN_NO_ANSWER, OPEN_HELD = 0, 1, 2, 3
_OPEN_KINDS = {OPEN_SYSTEM: "system", OPEN_NO_ANSWER: "no answer", OPEN_HELD: "held"}


def open_error(lib: Any, function: str, description: str) -> LinkError:
    """The LinkError of an open that just failed, with the library's reason."""
    kind, os_error, text = None, 0, None
    if hasattr(lib, "VOXA_Get_OpenError"):
        number = ctypes.c_int(0)
        buf = ctypes.create_string_buffer(256)
        kind = _OPEN_KINDS.get(lib.VOXA_Get_OpenError(ctypes.byref(number), buf, len(buf)))
        os_error = number.value
        text = buf.value.decode("utf-8", "replace") or None
    error = VoxaError(ERR_OPEN, function, f"{description}: {text}" if text else description)
    assert isinstance(error, LinkError)
    error.kind, error.os_error, error.text = kind, os_error, text
    error.errno = os_error or None  # type: ignore[assignment]
    return error


class ConfigFileError(VoxaError, OSError):
    """A configuration file could not be written (-40) or loaded (-41)."""


class MotionRefused(VoxaError):
    """A command that would move an axis, refused before anything was sent
    because the board reports an emergency stop or an alarm (code 0: the
    library was not called). reason is "estop" or "alarm" (as in WaitResult);
    alarm_code the board's alarm code. reset() clears the state."""

    reason: str
    alarm_code: int

    def __init__(self, code: int = 0, function: Optional[str] = None, detail: Optional[str] = None) -> None:
        self.code, self.function, self.detail = int(code), function, detail
        self.meaning = "motion refused"
        text = f"{function}: motion refused" if function else "motion refused"
        if detail:
            text += f" ({detail})"
        Exception.__init__(self, text)
        self.args = (text,)


_BY_CODE: Dict[int, Type[VoxaError]] = {
    ERR_ARGUMENT: ArgumentError,
    ERR_BOARD_ID: NotOpenError,
    ERR_NOT_OPEN: NotOpenError,
    ERR_OPEN: LinkError,
    ERR_NO_SLOT: LinkError,
    ERR_CONFIG_SAVE: ConfigFileError,
    ERR_CONFIG_LOAD: ConfigFileError,
}
