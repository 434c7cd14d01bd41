"""Checks of the arguments a Board is given, before any reaches the library:
types (an integer where the board wants one, a text where it wants a text),
ranges (axes 0..7, 16- and 32-bit fields, command IDs), timeouts, and the
arguments of call() against the export's prototype. A value of the wrong
type raises ArgumentTypeError, one out of range VoxaError (ERR_ARGUMENT)."""

import ctypes
import math
import operator
import os
import socket
from typing import Any, Iterable, List, Optional, Tuple, Union

from ._lib import IntArray8, prototype, voxa_library
from .errors import ERR_ARGUMENT, ERR_OPEN, ArgumentTypeError, LinkError, VoxaError

# An axis number or several: 0, [0, 1], range(8).
Axes = Union[int, Iterable[int]]
# A register by number (0..31) or by name ("CURPOS", any case).
Register = Union[int, str]
PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def _argument(detail: str) -> VoxaError:
    return VoxaError(ERR_ARGUMENT, detail=detail)


def _index(value: Any, what: str) -> int:
    try:
        return operator.index(value)
    except TypeError:
        raise ArgumentTypeError(ERR_ARGUMENT, detail=f"{what} must be an integer, not {type(value).__name__}") \
            from None


def _u16(value: Any, what: str) -> int:
    """A 16-bit field's value, 0..65535, as the board stores it."""
    v = _index(value, what)
    if not 0 <= v <= 0xFFFF:
        raise _argument(f"{what} {v} is not 0..65535")
    return v


def _timeout(value: Optional[float], what: str = "timeout") -> Optional[float]:
    """A timeout in seconds: None (no limit) or a number from 0 on."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ArgumentTypeError(ERR_ARGUMENT, detail=f"{what} must be a number of seconds or None, "
                                                     f"not {type(value).__name__}")
    if math.isnan(value) or value < 0:
        raise _argument(f"{what} {value!r} is not a number of seconds from 0 on (None: no limit)")
    return float(value)


def _axis(axis: Any) -> int:
    a = _index(axis, "axis")
    if not 0 <= a <= 7:
        raise _argument(f"axis {a} is not 0..7")
    return a


def _mask(axes: Any) -> int:
    """An axis number, or an iterable of them, as an axis mask."""
    if isinstance(axes, (str, bytes)):
        raise _argument("axes must be an axis number or numbers")
    try:
        items = list(axes)
    except TypeError:
        items = [axes]
    mask = 0
    for a in items:
        mask |= 1 << _axis(a)
    return mask


def _int32(value: Any, what: str = "value") -> int:
    v = _index(value, what)
    if not -(1 << 31) <= v < (1 << 31):
        raise _argument(f"{what} {v} does not fit 32 bits")
    return v


def _targets(targets: Any, what: str = "targets") -> Tuple[int, Any]:
    """{axis: value} as an axis mask and the array of eight values."""
    if not hasattr(targets, "items"):
        raise _argument(f"{what} must map axis numbers to values, e.g. {{0: 1000, 1: 2000}}")
    values = IntArray8()
    mask = 0
    for axis, value in targets.items():
        a = _axis(axis)
        values[a] = _int32(value, f"value of axis {a}")
        mask |= 1 << a
    return mask, values


def _cmd_id(cmd_id: Any) -> int:
    i = _index(cmd_id, "command ID")
    if not 0 <= i <= 0xFF:
        raise _argument(f"command ID {i} is not 0..255")
    return i


def _ipv4(address: str) -> int:
    """An IPv4 address or host name, in network byte order as the library
    takes it. An address that does not resolve raises LinkError."""
    if not isinstance(address, str):
        raise ArgumentTypeError(ERR_ARGUMENT, detail=f"address must be a text, not {type(address).__name__}")
    try:
        return int.from_bytes(socket.inet_aton(socket.gethostbyname(address)), "little")
    except (OSError, UnicodeError) as e:
        error = VoxaError(ERR_OPEN, "VOXA_Open_Tcp", f"{address!r} is no IPv4 address or known host name: {e}")
        assert isinstance(error, LinkError)
        error.kind, error.text = "address", f"{address!r} is no IPv4 address or known host name"
        raise error from None


# The C types an export of call() may be given, by the ctypes type of its
# parameter; an export the package declares no prototype for takes ints.
_INT_TYPES = (ctypes.c_int, ctypes.c_uint, ctypes.c_uint32, ctypes.c_int32, ctypes.c_size_t, ctypes.c_ssize_t)


def _call_argument(name: str, index: int, argtype: Any, value: Any) -> Any:
    """value, checked against parameter index of export name: an integer
    for an integer parameter (32 bits, a word with the top bit set passed
    on as the board stores it), bytes or None for a text, a ctypes object
    of the parameter's own type, or a pointer for a pointer."""
    def refuse(what: str) -> ArgumentTypeError:
        return ArgumentTypeError(ERR_ARGUMENT, detail=f"{name}: argument {index + 1} must be {what}, "
                                                      f"not {type(value).__name__}")
    if argtype is None or argtype in _INT_TYPES:
        if isinstance(value, ctypes._SimpleCData) and isinstance(value.value, int):
            value = value.value
        elif argtype is None and isinstance(value, (ctypes.Array, ctypes.Structure, ctypes._Pointer)) or \
                argtype is None and type(value).__name__ == "CArgObject":
            return value  # a buffer or pointer for an export taking one
        elif isinstance(value, bool) or not hasattr(value, "__index__"):
            raise refuse("an integer")
        v = operator.index(value)
        if not -(1 << 31) <= v < (1 << 32):
            raise _argument(f"{name}: argument {index + 1} ({v}) does not fit 32 bits")
        if argtype in (ctypes.c_uint, ctypes.c_uint32):
            return v & 0xFFFFFFFF
        return ctypes.c_int32(v).value
    if argtype is ctypes.c_char_p:
        if value is not None and not isinstance(value, (bytes, ctypes.Array)):
            raise refuse("bytes")
        return value
    return value  # pointers, arrays and handlers: ctypes checks them against the prototype


def _check_call(name: str, args: Tuple[Any, ...]) -> List[Any]:
    argtypes = prototype(name)
    if argtypes is not None and len(args) != len(argtypes):
        raise ArgumentTypeError(ERR_ARGUMENT, detail=f"{name} takes {len(argtypes)} arguments, not {len(args)}")
    return [_call_argument(name, i, None if argtypes is None else argtypes[i], v) for i, v in enumerate(args)]


_REG_NAMES: Optional[Tuple[str, ...]] = None


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
