"""Python access to libvoxa, the host library of the eight-axis
motion-controller boards, through ctypes.

    import voxa

    with voxa.Board.tcp("192.168.0.50", 1000) as board:
        board.line({0: 1000, 1: 2000}, cmd_id=1)
        result = board.wait_motion(1, timeout=10)   # refreshes the status
        print(result.status, board.cur_pos(0), board.cur_pos(1))

The simulated board (voxa.SimBoard) runs in-process for tests and notebooks.
Libraries are found through VOXA_LIBRARY and VOXA_SIM_LIBRARY, next to an
installed package, in a source checkout's build directory, or by the
dynamic loader.
"""

# The package's version: the library's it was made with (VOXA-DLL-V01-R05.201
# is 1.5.201).
__version__ = "1.5.201"

from ._lib import LibraryNotFound, voxa_library, sim_library  # noqa: E402
from .board import (ANY_ID, COMPARATOR_MESSAGE, COMPLETE_MESSAGE, IDLE_ID, NO_ID, REFRESH_STATUS,  # noqa: E402
                    STATE_CONTENTS, AxisSnapshot, Board, Frame, Snapshot, StopReason, WaitResult, WaitStatus, dll_version, reg_name, reg_names, reg_number)
from .errors import (ERR_ARGUMENT, ERR_BOARD_ID, ERR_CONFIG_LOAD, ERR_CONFIG_SAVE, ERR_NO_SLOT,  # noqa: E402
                     ERR_NOT_OPEN, ERR_OPEN, ERR_SOFT_QUEUE, ArgumentError, ArgumentTypeError, ConfigFileError,
                     LinkError, MotionRefused, NotOpenError, VoxaError, error_text)
from .live import Recording  # noqa: E402
from .sim import SimBoard  # noqa: E402

__all__ = [
    "ANY_ID", "ArgumentError", "AxisSnapshot", "Snapshot", "StopReason", "WaitStatus", "ArgumentTypeError", "Board", "COMPARATOR_MESSAGE", "COMPLETE_MESSAGE",
    "ConfigFileError", "ERR_ARGUMENT", "ERR_BOARD_ID", "ERR_CONFIG_LOAD", "ERR_CONFIG_SAVE", "ERR_NO_SLOT",
    "ERR_NOT_OPEN", "ERR_OPEN", "ERR_SOFT_QUEUE", "Frame", "IDLE_ID", "LibraryNotFound", "LinkError", "MotionRefused", "NO_ID",
    "NotOpenError", "Recording", "REFRESH_STATUS", "STATE_CONTENTS", "SimBoard", "VoxaError", "WaitResult", "__version__",
    "dll_version", "error_text", "reg_name", "reg_names", "reg_number", "sim_library", "voxa_library",
]
