"""Loading librcnet.so and calling its exports; each call's report lines come from GetLastReport, and the
exception a failed call raises is chosen by its kind (GetLastReportKind), never by the lines' text."""

import ctypes
import errno
import ctypes.util
import os
import sys
import threading
import warnings
from pathlib import Path

__all__ = ["RcnetError", "RcnetFileError", "RcnetUnknownNetworkError", "RcnetValueError", "RcnetSizeError",
           "RcnetNumericError", "RcnetCallOrderError", "RcnetMemoryError", "RcnetWarning", "REPORT_KINDS",
           "library_path", "library", "call", "call_raw", "call_with_file", "error_for"]

# The library's report kinds (RCNET_REPORT_* in rcnet.h).
REPORT_NONE = 0
REPORT_UNKNOWN_ID = 1
REPORT_ID_TAKEN = 2
REPORT_ARGUMENT = 3
REPORT_SIZE = 4
REPORT_CALL_ORDER = 5
REPORT_NUMERIC = 6
REPORT_FILE_ACCESS = 7
REPORT_FILE_FORMAT = 8
REPORT_OUT_OF_MEMORY = 9
REPORT_INTERNAL = 10
REPORT_KINDS = {name[len("REPORT_"):].lower(): value for name, value in dict(globals()).items()
                if name.startswith("REPORT_")}


class RcnetError(RuntimeError):
    """A call into the library failed: `function` names the export, `reports` holds the lines the library
    wrote for it and `kind` what went wrong (a value of REPORT_KINDS, 0 when the library named nothing).
    The subclasses below say which; the message starts with what to do where there is advice."""

    def __init__(self, function, reports=(), kind=REPORT_NONE, advice=None):
        self.function = function
        self.reports = list(reports)
        self.kind = kind
        message = f"{function} failed" if function else ""
        if self.reports:
            message += ": " + "; ".join(self.reports)
        if advice:
            message = f"{advice} ({message})" if message else advice
        super().__init__(message)


class RcnetFileError(RcnetError, ValueError):
    """A file the library could not use: `reason` says why (for a refused text where, by line and column,
    as the library's reader found it)."""

    def __init__(self, function, reason, reports=(), kind=REPORT_FILE_FORMAT):
        self.reason = reason
        super().__init__(function, reports, kind)
        self.args = (f"{function} failed: {reason}",)


class RcnetUnknownNetworkError(RcnetError, ValueError):
    """The network is not there: closed, or its id was never registered (or another host unregistered
    it)."""


class RcnetValueError(RcnetError, ValueError):
    """An argument or setting the library refused."""


class RcnetSizeError(RcnetValueError):
    """Sizes or counts that are not the network's."""


class RcnetNumericError(RcnetValueError):
    """A value that is not finite, or a computation that failed on the values."""


class RcnetCallOrderError(RcnetError):
    """Something the call needs is missing; the message names what to call first."""


class RcnetMemoryError(RcnetError, MemoryError):
    """The library ran out of memory."""


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
    "GetLastReportKind": (_INT, []),
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


def last_report_kind():
    """The kind of this thread's last call (REPORT_KINDS; 0 when it reported nothing)."""
    return library().GetLastReportKind()


_CLASSES = {
    REPORT_UNKNOWN_ID: RcnetUnknownNetworkError,
    REPORT_ID_TAKEN: RcnetValueError,
    REPORT_ARGUMENT: RcnetValueError,
    REPORT_SIZE: RcnetSizeError,
    REPORT_NUMERIC: RcnetNumericError,
    REPORT_CALL_ORDER: RcnetCallOrderError,
    REPORT_OUT_OF_MEMORY: RcnetMemoryError,
}

# What to do, by kind and export, in the words of the Network methods that make the call.
_READY_TO_RUN = ("the network needs an input matrix drawn after its last add_neurons (init_input_matrix()) "
                 "and a trained readout: call learn() (or load_into()) first")
_HAS_STATES = "the network has no state for every neuron: call init_input_matrix() after the last add_neurons"
_ADVICE = {
    (REPORT_CALL_ORDER, "LearnNet"): "learn() needs training patterns: call add_patterns(...) first",
    (REPORT_ARGUMENT, "LearnNet"): ("the washout leaves no pattern to fit: lower set_washout(...) or add "
                                    "more patterns with add_patterns(...)"),
    (REPORT_CALL_ORDER, "PropagatePattern"): _READY_TO_RUN,
    (REPORT_CALL_ORDER, "RunNetSequence"): _READY_TO_RUN,
    (REPORT_CALL_ORDER, "GenerateNet"): ("generate() goes on from the last output: call propagate() or run() "
                                         "first, on a trained network (learn())"),
    (REPORT_CALL_ORDER, "GenerateNetMapped"): _READY_TO_RUN,
    (REPORT_CALL_ORDER, "TrainNetOnline"): _HAS_STATES,
    (REPORT_CALL_ORDER, "RunNetStates"): _HAS_STATES,
    (REPORT_CALL_ORDER, "GetNetState"): _HAS_STATES,
    (REPORT_CALL_ORDER, "SetNetState"): _HAS_STATES,
    (REPORT_CALL_ORDER, "SetNetInputScaling"): ("set_input_scaling() scales the input matrix: call "
                                                "init_input_matrix() first"),
    (REPORT_CALL_ORDER, "InitNetBias"): "init_bias() needs neurons: call add_neurons(...) first",
    (REPORT_CALL_ORDER, "SetNetSpectralRadius"): ("set_spectral_radius() scales the back links, and there are "
                                                  "none on a cycle: call add_back_connections(...) first"),
    (REPORT_UNKNOWN_ID, None): "no network under this id: it was closed, or never registered",
    (REPORT_ID_TAKEN, None): "the id is already registered: pass another, or none to let Network pick one",
    (REPORT_ARGUMENT, None): "a value out of range for this call",
    (REPORT_SIZE, None): "sizes that are not the network's",
    (REPORT_NUMERIC, None): "a value is NaN or infinite, or the computation failed on the values",
    (REPORT_CALL_ORDER, None): "a step this call needs has not been taken",
}
for _name in ("LearnNetJointly", "ChooseNetRegularization"):  # the same checks on the stored patterns
    _ADVICE[(REPORT_CALL_ORDER, _name)] = _ADVICE[(REPORT_CALL_ORDER, "LearnNet")]
    _ADVICE[(REPORT_ARGUMENT, _name)] = _ADVICE[(REPORT_ARGUMENT, "LearnNet")]
_ADVICE[(REPORT_NUMERIC, "ChooseNetRegularization")] = ("a stored input or target is NaN or infinite, or "
                                                       "makes a state so: no ridge can be chosen on it")


def error_for(name, reports=None, kind=None):
    """The exception for export `name` having failed on this thread just now (its reports and kind are
    read from the library unless given)."""
    lib = library()
    if reports is None:
        reports = _reports(lib)
    if kind is None:
        kind = lib.GetLastReportKind()
    if kind in (REPORT_FILE_ACCESS, REPORT_FILE_FORMAT):
        return RcnetFileError(name, _file_error(lib), reports, kind)
    advice = _ADVICE.get((kind, name), _ADVICE.get((kind, None)))
    return _CLASSES.get(kind, RcnetError)(name, reports, kind, advice)


def _file_error(lib):
    text = ctypes.create_string_buffer(_KEPT_REPORT_BYTES + 1)
    lib.GetLastFileError(text, _KEPT_REPORT_BYTES + 1)
    return text.value.decode("utf-8", "replace")


def call(name, *args, stacklevel=3):
    """Calls an export: raises the error_for it on 0, warns about reports made on success."""
    result, reports = call_raw(name, *args)
    if result == 0:
        raise error_for(name, reports)
    if reports:
        warnings.warn(f"{name}: " + "; ".join(reports), RcnetWarning, stacklevel=stacklevel)
    return result


def call_with_file(name, path, *args):
    """Calls an export that reads the file at path: a file that cannot be opened raises
    FileNotFoundError (or PermissionError / IsADirectoryError), a refused text RcnetFileError (a
    ValueError) with the reader's line, column and reason; other failures as call() raises them."""
    lib = library()
    result = getattr(lib, name)(*args)
    reports = _reports(lib)
    if result:
        if reports:
            warnings.warn(f"{name}: " + "; ".join(reports), RcnetWarning, stacklevel=3)
        return result
    if lib.GetLastReportKind() == REPORT_FILE_ACCESS:
        shown = os.fspath(path)
        if not os.path.exists(shown):
            raise FileNotFoundError(errno.ENOENT, f"{name}: no such file", shown)
        if os.path.isdir(shown):
            raise IsADirectoryError(errno.EISDIR, f"{name}: a directory, not a file", shown)
        raise PermissionError(errno.EACCES, f"{name}: cannot be read", shown)
    raise error_for(name, reports)
