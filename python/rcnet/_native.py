"""Loading librcnet.so and calling its exports; each call's report lines come from GetLastReport."""

import ctypes
import errno
import ctypes.util
import os
import sys
import threading
import warnings
from pathlib import Path

__all__ = ["RcnetError", "RcnetFileError", "RcnetWarning", "library_path", "library", "call", "call_raw",
           "call_with_file"]


class RcnetError(RuntimeError):
    """An export returned 0; `reports` holds the lines the library wrote for it."""

    def __init__(self, function, reports=()):
        self.function = function
        self.reports = list(reports)
        message = f"{function} failed"
        if self.reports:
            message += ": " + "; ".join(self.reports)
        super().__init__(message)


class RcnetFileError(RcnetError, ValueError):
    """A file the library refused: `reason` says where (line, column) and why, as the library's reader
    found it."""

    def __init__(self, function, reason, reports=()):
        self.reason = reason
        super().__init__(function, reports)
        self.args = (f"{function} failed: {reason}",)


class RcnetWarning(UserWarning):
    """An export succeeded but reported something (e.g. an unknown neuron type)."""


_INT = ctypes.c_int
_DOUBLES = ctypes.POINTER(ctypes.c_double)
_SIGNATURES = {
    "RegisterUsage": (_INT, [_INT, _INT, _INT, _INT]),
    "UnregisterUsage": (_INT, [_INT]),
    "Randomize": (None, [ctypes.c_uint]),
    "AddNeuronsToNet": (_INT, [_INT, _INT, _INT]),
    "AddRandomConnectionsToNet": (_INT, [_INT, _INT]),
    "AddRandomBackConnectionsToNet": (_INT, [_INT, _INT]),
    "InitNetInputMatrix": (_INT, [_INT, _INT]),
    "AddPatternsToNet": (_INT, [_INT, _INT, _INT, _DOUBLES, _INT, _DOUBLES]),
    "LearnNet": (_INT, [_INT]),
    "PropagatePattern": (_INT, [_INT, _INT, _DOUBLES, _INT, _DOUBLES]),
    "SaveNetToFile": (_INT, [_INT, ctypes.c_char_p]),
    "LoadNetFromFile": (_INT, [_INT, ctypes.c_char_p]),
    "AddPatternsFromFile": (_INT, [_INT, ctypes.c_char_p]),
    "SetNetReadoutSolver": (_INT, [_INT, _INT]),
    "SetNetRegularization": (_INT, [_INT, _DOUBLES]),
    "ChooseNetRegularization": (_INT, [_INT, _DOUBLES]),
    "SetNetWashout": (_INT, [_INT, _INT]),
    "ResetNetState": (_INT, [_INT]),
    "GetNetState": (_INT, [_INT, _INT, _DOUBLES]),
    "LearnNetJointly": (_INT, [_INT]),
    "GetNetSpectralRadius": (_INT, [_INT, _DOUBLES]),
    "SetNetSpectralRadius": (_INT, [_INT, _DOUBLES]),
    "SetNetInputScaling": (_INT, [_INT, _DOUBLES]),
    "SetNetLeakRate": (_INT, [_INT, _DOUBLES]),
    "RunNetSequence": (_INT, [_INT, _INT, _INT, _DOUBLES, _INT, _DOUBLES]),
    "GenerateNet": (_INT, [_INT, _INT, _INT, _DOUBLES]),
    "GenerateNetMapped": (_INT, [_INT, _INT, _INT, ctypes.POINTER(_INT), _INT, _DOUBLES, _INT, _DOUBLES]),
    "SetNetProgress": (_INT, [_INT, ctypes.c_void_p, ctypes.c_void_p]),
    "MarkNetSequenceStart": (_INT, [_INT]),
    "SetNetOnlineLearning": (_INT, [_INT, _DOUBLES]),
    "TrainNetOnline": (_INT, [_INT, _INT, _INT, _DOUBLES, _INT, _DOUBLES]),
    "GetLastReport": (_INT, [ctypes.c_char_p, _INT]),
    "GetLastFileError": (_INT, [ctypes.c_char_p, _INT]),
    "SetReportEcho": (_INT, [_INT]),
    "GetNetSizes": (_INT, [_INT, ctypes.POINTER(_INT), ctypes.POINTER(_INT), ctypes.POINTER(_INT)]),
    "GetNetNeuronCount": (_INT, [_INT, ctypes.POINTER(_INT)]),
    "GetNetReadoutShape": (_INT, [_INT, ctypes.POINTER(_INT), ctypes.POINTER(_INT)]),
    "GetNetReadout": (_INT, [_INT, _INT, _INT, _DOUBLES]),
    "GetNetLeakRate": (_INT, [_INT, _DOUBLES]),
    "InitNetBias": (_INT, [_INT, _DOUBLES]),
    "GetNetBias": (_INT, [_INT, _INT, _DOUBLES]),
    "GetNetInputMatrix": (_INT, [_INT, _INT, _INT, _DOUBLES]),
    "GetNetLinkCount": (_INT, [_INT, _INT, ctypes.POINTER(_INT)]),
    "GetNetLinks": (_INT, [_INT, _INT, _INT, ctypes.POINTER(_INT), ctypes.POINTER(_INT), _DOUBLES]),
    "SetNetState": (_INT, [_INT, _INT, _DOUBLES]),
    "RunNetStates": (_INT, [_INT, _INT, _INT, _DOUBLES, _INT, _DOUBLES]),
    "SetNetFilePrecision": (_INT, [_INT, _INT]),
}

# The library's progress callback: (id, fraction, context); stdcall on 32-bit Windows.
PROGRESS = (ctypes.WINFUNCTYPE if sys.platform == "win32" else ctypes.CFUNCTYPE)(
    None, ctypes.c_int, ctypes.c_double, ctypes.c_void_p)

# Loading only: calls run without a lock, in parallel where the library allows.
_lock = threading.Lock()
_lib = None
_KEPT_REPORT_BYTES = 8192  # what the library keeps of one call's reports


def library_path():
    """Where the library is loaded from, the first that applies: RCNET_LIBRARY; the copy bundled into the
    package by pip; the library cmake --install put beside this package; the native build of the tree
    holding this package; the system's librcnet (ctypes.util.find_library)."""
    env = os.environ.get("RCNET_LIBRARY")
    if env:
        return Path(env)
    here = Path(__file__).resolve().parent
    if (here / "librcnet.so").is_file():
        return here / "librcnet.so"
    try:
        from ._location import LIBRARY  # written by cmake --install
        if Path(LIBRARY).is_file():
            return Path(LIBRARY)
    except ImportError:
        pass
    tree = here.parents[1] / "build" / "native" / "librcnet.so"
    if tree.is_file():
        return tree
    found = ctypes.util.find_library("rcnet")
    return Path(found) if found else tree


def _load():
    path = library_path()
    try:
        lib = ctypes.CDLL(os.fspath(path))
    except OSError as error:
        raise OSError(f"cannot load the rcnet library from {path}: {error}. Build it (bash scripts/build.sh), "
                      "install it (cmake --install, or pip install ./python after a build), or set "
                      "RCNET_LIBRARY to its path") from error
    for name, (restype, argtypes) in _SIGNATURES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    # Reports come back through GetLastReport and become errors and warnings; stderr stays the
    # program's own.
    lib.SetReportEcho(0)
    return lib


def library():
    """The loaded library; loaded on first use so that importing never needs it."""
    global _lib
    if _lib is None:
        with _lock:
            if _lib is None:
                _lib = _load()
    return _lib


_local = threading.local()


def _reports(lib):
    # A one-byte buffer holds the whole text only when there is none: the common case costs one call.
    probe = getattr(_local, "probe", None)
    if probe is None:
        probe = _local.probe = ctypes.create_string_buffer(1)
        _local.text = ctypes.create_string_buffer(_KEPT_REPORT_BYTES + 1)
    if lib.GetLastReport(probe, 1):
        return []
    lib.GetLastReport(_local.text, _KEPT_REPORT_BYTES + 1)
    return [line for line in _local.text.value.decode("utf-8", "replace").splitlines() if line.strip()]


def last_reports():
    """The report lines of this thread's last call."""
    return _reports(library())


def call_raw(name, *args):
    """Calls an export; returns (result, the report lines this call made on this thread)."""
    lib = library()
    result = getattr(lib, name)(*args)
    return result, _reports(lib)


def call(name, *args, stacklevel=3):
    """Calls an export: raises RcnetError on 0, warns about reports made on success."""
    result, reports = call_raw(name, *args)
    if result == 0:
        raise RcnetError(name, reports)
    if reports:
        warnings.warn(f"{name}: " + "; ".join(reports), RcnetWarning, stacklevel=stacklevel)
    return result


def call_with_file(name, path, *args):
    """Calls an export that reads the file at path: a file that cannot be opened raises
    FileNotFoundError (or PermissionError / IsADirectoryError), a refused text RcnetFileError (a
    ValueError) with the reader's line, column and reason; other failures RcnetError."""
    lib = library()
    result = getattr(lib, name)(*args)
    reports = _reports(lib)
    if result:
        if reports:
            warnings.warn(f"{name}: " + "; ".join(reports), RcnetWarning, stacklevel=3)
        return result
    text = ctypes.create_string_buffer(_KEPT_REPORT_BYTES + 1)
    lib.GetLastFileError(text, _KEPT_REPORT_BYTES + 1)
    reason = text.value.decode("utf-8", "replace")
    if reason.endswith("cannot be opened (missing, not a regular file, or not readable)"):
        shown = os.fspath(path)
        if not os.path.exists(shown):
            raise FileNotFoundError(errno.ENOENT, f"{name}: no such file", shown)
        if os.path.isdir(shown):
            raise IsADirectoryError(errno.EISDIR, f"{name}: a directory, not a file", shown)
        raise PermissionError(errno.EACCES, f"{name}: cannot be read", shown)
    if reason:
        raise RcnetFileError(name, reason, reports)
    raise RcnetError(name, reports)
