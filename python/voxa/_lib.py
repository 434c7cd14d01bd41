"""Finding and loading the shared libraries, and the C prototypes.

libvoxa is found, in this order, at the path in the environment variable
VOXA_LIBRARY; inside the package (voxa/libvoxa.so.1, where a wheel from
`pip install ./python` puts it); next to an installed package
(<prefix>/<libdir>/libvoxa.so.1 for a package that CMake installed under
<prefix>/<libdir>); in the build tree of a source checkout
(build/libvoxa.so); and last by the dynamic loader's own search
(LD_LIBRARY_PATH, the system's library directories). The simulated board's
libvoxa_sim.so is found the same way, through VOXA_SIM_LIBRARY.

On Windows the files are voxa.dll and libvoxa_sim.dll, the build tree's
are in build-windows-x64/bin (build-windows-x86/bin for a 32-bit Python),
and the 32-bit DLL's functions are __stdcall (WinDLL, WINFUNCTYPE).
"""

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

c_int = ctypes.c_int
c_uint = ctypes.c_uint
c_uint32 = ctypes.c_uint32
c_char_p = ctypes.c_char_p
c_void_p = ctypes.c_void_p
IntArray8 = ctypes.c_int * 8

_WINDOWS = os.name == "nt"
_STDCALL = _WINDOWS and ctypes.sizeof(ctypes.c_void_p) == 4
# (getattr: the Windows names exist on Windows only.)
_Library: Any = getattr(ctypes, "WinDLL") if _STDCALL else ctypes.CDLL
# The type of a function the library calls back (VOXA_CALL).
FUNCTYPE: Any = getattr(ctypes, "WINFUNCTYPE") if _STDCALL else ctypes.CFUNCTYPE
_BUILD_DIR = ("build-windows-x86" if _STDCALL else "build-windows-x64") if _WINDOWS else "build"

# The message handler: (window, message, wparam, lparam).
MessageHandler = FUNCTYPE(None, c_void_p, c_uint, ctypes.c_size_t, ctypes.c_ssize_t)
# The frame trace handler: (board, direction, frame, length).
TraceHandler = FUNCTYPE(None, c_int, c_int, ctypes.POINTER(ctypes.c_ubyte), c_int)
# The state handler: (board, registers, time_us); the link handler: (board,
# state, reason, os_error).
StateHandler = FUNCTYPE(None, c_int, c_uint32, ctypes.c_uint64)
LinkHandler = FUNCTYPE(None, c_int, c_int, c_int, c_int)
# The library's printed lines: (board, text).
LogHandler = FUNCTYPE(None, c_int, c_char_p)

_PACKAGE_DIR = Path(__file__).resolve().parent
# How far up from the package an installed library may sit:
# <prefix>/lib/python3/dist-packages/voxa -> <prefix>/lib is three levels.
_SEARCH_DEPTH = 5

_lock = threading.Lock()
_loaded: "dict[str, ctypes.CDLL]" = {}


class LibraryNotFound(OSError):
    """The shared library could not be found or loaded."""


def _candidates(env: str, names: Sequence[str], build_subdir: str) -> Tuple[List[Path], bool]:
    """Paths to try for a library, best first."""
    explicit = os.environ.get(env)
    if explicit:
        return [Path(explicit)], True
    paths = []
    # A wheel's copy inside the package, then a CMake install's in an
    # ancestor directory.
    for ancestor in [_PACKAGE_DIR] + list(_PACKAGE_DIR.parents)[:_SEARCH_DEPTH]:
        for name in names:
            paths.append(ancestor / name)
    # A source checkout: python/voxa -> <checkout>/build.
    checkout = _PACKAGE_DIR.parent.parent
    for name in names:
        paths.append(checkout / _BUILD_DIR / ("bin" if _WINDOWS else build_subdir) / name)
    return paths, False


def _load(env: str, names: Sequence[str], build_subdir: str, loader_name: str) -> Any:
    with _lock:
        if env in _loaded:
            return _loaded[env]
        paths, explicit = _candidates(env, names, build_subdir)
        tried = []
        for path in paths:
            if path.is_file():
                try:
                    lib = _Library(str(path))
                except OSError as e:
                    if explicit:
                        raise LibraryNotFound(f"{env}={path}: {e}") from e
                    tried.append(f"{path} ({e})")
                    continue
                _loaded[env] = lib
                return lib
            tried.append(str(path))
        if explicit:
            raise LibraryNotFound(f"{env}={paths[0]}: no such file")
        found = ctypes.util.find_library(loader_name)
        for name in ([found] if found else []) + list(names):
            try:
                lib = _Library(name)
            except OSError:
                tried.append(name)
                continue
            _loaded[env] = lib
            return lib
        raise LibraryNotFound(
            f"cannot find {names[0]}; set {env} to its path. Tried: " + ", ".join(tried))


def _declare(lib: Any, table: Dict[str, Tuple[Any, List[Any]]]) -> None:
    for name, (restype, argtypes) in table.items():
        fn = getattr(lib, name, None)
        if fn is None:
            continue
        fn.restype = restype
        fn.argtypes = argtypes


# Exports whose prototype is not "int f(int, ...)": ctypes needs to know
# about pointers, unsigned values, texts and functions without a result.
_VOXA_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "VOXA_Set_MessageHandler": (None, [MessageHandler]),
    "VOXA_Set_TraceHandler": (None, [TraceHandler]),
    "VOXA_Set_StateHandler": (None, [StateHandler]),
    "VOXA_Set_LinkHandler": (None, [LinkHandler]),
    "VOXA_Set_LogHandler": (None, [LogHandler]),
    "VOXA_Get_StateDrops": (c_uint32, []),
    "VOXA_Get_ErrText": (c_char_p, [c_int]),
    "VOXA_Get_RegName": (c_char_p, [c_int]),
    "VOXA_Get_RegWord": (c_int, [c_int, c_int, ctypes.POINTER(c_uint32)]),
    "VOXA_Set_RegWord": (c_int, [c_int, c_int, c_uint32]),
    "VOXA_Get_DllVer": (None, [c_char_p, c_int]),
    "VOXA_Get_EngineVer": (None, [c_char_p, c_int]),
    "VOXA_Open_Comm": (c_int, [c_int, c_int]),
    "VOXA_Open_CommDevice": (c_int, [c_char_p, c_int]),
    "VOXA_Open_Tcp": (c_int, [c_uint32, c_int, c_int]),
    "VOXA_Close": (c_int, []),
    "VOXA_Set_BoardID": (c_int, [c_int]),
    "VOXA_Is_Err": (c_int, []),
    "VOXA_Get_LastErr": (c_int, []),
    "VOXA_Enter_QueueCmd": (None, []),
    "VOXA_Leave_QueueCmd": (None, []),
    "VOXA_Enter_ImCmd": (None, []),
    "VOXA_Leave_ImCmd": (None, []),
    "VOXA_Wait": (None, []),
    "VOXA_WaitMotion": (c_int, [c_int, c_uint32]),
    "VOXA_Refresh": (c_int, [c_uint, c_int]),
    "VOXA_Set_ThreadBoardID": (c_int, [c_int]),
    "VOXA_Sleep": (None, [c_uint32]),
    "VOXA_Register_Complete_Message": (c_int, [c_void_p, c_uint]),
    "VOXA_Register_Comparator_Message": (c_int, [c_void_p, c_uint]),
    "VOXA_Line": (c_int, [c_int, IntArray8]),
    "VOXA_IMove": (c_int, [c_int, IntArray8]),
    "VOXA_CMove": (c_int, [c_int, IntArray8]),
    "VOXA_IHome": (c_int, [c_int, IntArray8]),
    "VOXA_ArcCW": (c_int, [c_int, IntArray8, IntArray8]),
    "VOXA_ArcCCW": (c_int, [c_int, IntArray8, IntArray8]),
    "VOXA_Save_ConfigFile": (c_int, [c_char_p]),
    "VOXA_Load_ConfigFile": (c_int, [c_char_p]),
    "VOXA_Set_AlarmOption": (None, [c_int]),
    "VOXA_Clr_AlarmOption": (None, [c_int]),
    "VOXA_Set_CompleteStatePacketCount": (None, [c_int]),
    "VOXA_Get_OpenError": (c_int, [ctypes.POINTER(c_int), c_char_p, c_int]),
}


def prototype(name: str) -> Optional[List[Any]]:
    """The ctypes parameter types of a libvoxa export the package declares;
    None for the others, which take ints ("int f(int, ...)")."""
    entry = _VOXA_PROTOTYPES.get(name)
    return None if entry is None else list(entry[1])


def name_library_thread() -> None:
    """Gives the library's thread that runs a handler a name in Python:
    handlers run on its dispatch thread, which Python would call Dummy-N."""
    thread = threading.current_thread()
    if thread.name.startswith("Dummy-") and thread is not threading.main_thread():
        thread.name = "voxa-dispatch"


def voxa_library() -> ctypes.CDLL:
    """The loaded libvoxa, with its prototypes declared."""
    first = "VOXA_LIBRARY" not in _loaded
    names = ("voxa.dll",) if _WINDOWS else ("libvoxa.so.1", "libvoxa.so")
    lib: ctypes.CDLL = _load("VOXA_LIBRARY", names, ".", "voxa")
    if first:
        with _lock:
            _declare(lib, _VOXA_PROTOTYPES)
    return lib


class SimFrame(ctypes.Structure):
    """A frame the simulated board received from the host."""

    _fields_ = [
        ("seq", ctypes.c_int64),
        ("time_ms", ctypes.c_uint32),
        ("opcode", ctypes.c_uint8),
        ("code", ctypes.c_uint8),
        ("kind", ctypes.c_uint8),
        ("mask", ctypes.c_uint8),
        ("descriptor", ctypes.c_uint8),
        ("reg", ctypes.c_int8),
        ("tag", ctypes.c_int16),
        ("count", ctypes.c_int32),
        ("values", ctypes.c_uint32 * 8),
    ]


_SIM_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "voxa_sim_start_tcp": (c_void_p, [c_int]),
    "voxa_sim_start_pty": (c_void_p, []),
    "voxa_sim_stop": (None, [c_void_p]),
    "voxa_sim_port": (c_int, [c_void_p]),
    "voxa_sim_device_path": (c_char_p, [c_void_p]),
    "voxa_sim_loopback_address": (c_uint32, []),
    "voxa_sim_is_connected": (c_int, [c_void_p]),
    "voxa_sim_connection_count": (c_int, [c_void_p]),
    "voxa_sim_wait_connection": (c_int, [c_void_p, c_int, c_uint32]),
    "voxa_sim_get_reg": (c_uint32, [c_void_p, c_int, c_int]),
    "voxa_sim_set_reg": (None, [c_void_p, c_int, c_int, c_uint32]),
    "voxa_sim_position": (ctypes.c_int32, [c_void_p, c_int]),
    "voxa_sim_is_idle": (c_int, [c_void_p]),
    "voxa_sim_wait_idle": (c_int, [c_void_p, c_uint32]),
    "voxa_sim_set_engine_version": (None, [c_void_p, c_int, c_int]),
    "voxa_sim_set_heartbeat": (None, [c_void_p, c_int]),
    "voxa_sim_hold_queue": (None, [c_void_p, c_int]),
    "voxa_sim_set_limit_input": (None, [c_void_p, c_int, c_int, c_int]),
    "voxa_sim_set_limit_positions": (None, [c_void_p, c_int, c_int, ctypes.c_int32, ctypes.c_int32]),
    "voxa_sim_set_home_sensor": (None, [c_void_p, c_int, ctypes.c_int32]),
    "voxa_sim_frame_count": (ctypes.c_int64, [c_void_p]),
    "voxa_sim_wait_frame": (ctypes.c_int64, [c_void_p, c_int, ctypes.c_int64, c_uint32]),
    "voxa_sim_get_frame": (c_int, [c_void_p, ctypes.c_int64, ctypes.POINTER(SimFrame)]),
    "voxa_sim_send_state_packet": (None, [c_void_p, c_int]),
    "voxa_sim_drop_connection": (None, [c_void_p]),
    "voxa_sim_go_silent": (None, [c_void_p, c_uint32]),
}


def sim_library() -> ctypes.CDLL:
    """The loaded libvoxa_sim (the simulated board's C interface)."""
    first = "VOXA_SIM_LIBRARY" not in _loaded
    names = ("libvoxa_sim.dll",) if _WINDOWS else ("libvoxa_sim.so",)
    lib: ctypes.CDLL = _load("VOXA_SIM_LIBRARY", names, "tools/sim", "voxa_sim")
    if first:
        with _lock:
            _declare(lib, _SIM_PROTOTYPES)
    return lib
