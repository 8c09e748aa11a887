"""Loading librcnet.so and calling its exports with their reports captured."""

import ctypes
import os
import sys
import tempfile
import threading
import warnings
from pathlib import Path

__all__ = ["RcnetError", "RcnetWarning", "library_path", "library", "call", "call_raw"]


class RcnetError(RuntimeError):
    """An export returned 0; `reports` holds the lines the library wrote for it."""

    def __init__(self, function, reports=()):
        self.function = function
        self.reports = list(reports)
        message = f"{function} failed"
        if self.reports:
            message += ": " + "; ".join(self.reports)
        super().__init__(message)


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
    "MarkNetSequenceStart": (_INT, [_INT]),
    "SetNetOnlineLearning": (_INT, [_INT, _DOUBLES]),
    "TrainNetOnline": (_INT, [_INT, _INT, _INT, _DOUBLES, _INT, _DOUBLES]),
}

# One lock for loading the library and for every redirected call: fd 2 is process-wide.
_lock = threading.Lock()
_lib = None
_capture = None  # (pid, fd) of the file that receives fd 2 during calls


def library_path():
    """RCNET_LIBRARY if set, else the native build of the repository holding this package."""
    env = os.environ.get("RCNET_LIBRARY")
    if env:
        return Path(env)
    return Path(__file__).resolve().parents[2] / "build" / "native" / "librcnet.so"


def _load():
    path = library_path()
    try:
        lib = ctypes.CDLL(os.fspath(path))
    except OSError as error:
        raise OSError(f"cannot load the rcnet library from {path} (set RCNET_LIBRARY): {error}") from error
    for name, (restype, argtypes) in _SIGNATURES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def library():
    """The loaded library; loaded on first use so that importing never needs it."""
    global _lib
    if _lib is None:
        with _lock:
            if _lib is None:
                _lib = _load()
    return _lib


def _capture_fd():
    # Reused across calls to keep propagate loops cheap; a forked child must not share its offset.
    global _capture
    if _capture is None or _capture[0] != os.getpid():
        fd, name = tempfile.mkstemp(prefix="rcnet-stderr-")
        os.unlink(name)
        _capture = (os.getpid(), fd)
    return _capture[1]


def call_raw(name, *args):
    """Calls an export with fd 2 redirected; returns (result, report lines)."""
    function = getattr(library(), name)
    with _lock:
        # Python's own buffered text must not land in the capture.
        try:
            sys.stderr.flush()
        except (AttributeError, ValueError, OSError):
            pass
        fd = _capture_fd()
        os.ftruncate(fd, 0)
        os.lseek(fd, 0, os.SEEK_SET)
        saved = os.dup(2)
        try:
            os.dup2(fd, 2)
            result = function(*args)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        size = os.lseek(fd, 0, os.SEEK_CUR)
        text = os.pread(fd, size, 0) if size else b""
    reports = [line for line in text.decode("utf-8", "replace").splitlines() if line.strip()]
    return result, reports


def call(name, *args, stacklevel=3):
    """Calls an export: raises RcnetError on 0, warns about reports made on success."""
    result, reports = call_raw(name, *args)
    if result == 0:
        raise RcnetError(name, reports)
    if reports:
        warnings.warn(f"{name}: " + "; ".join(reports), RcnetWarning, stacklevel=stacklevel)
    return result
