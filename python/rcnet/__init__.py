"""Python bindings for rcnet, a reservoir-computing (echo state) network library.

    import numpy as np, rcnet
    xs = np.sin(0.1 * np.arange(2100))  # a series; predict each next value
    rcnet.randomize(2024)
    with rcnet.Network(1, 1) as net:
        net.add_neurons(100, "bisigmoid")
        net.add_connections(500)
        net.add_back_connections(500)
        net.init_input_matrix()
        net.set_spectral_radius(0.9)
        net.set_solver("stable")
        net.set_washout(100)
        net.add_patterns(xs[:2000, None], xs[1:2001, None])
        net.learn()
        ys = net.run(xs[2000:2099, None])  # continues from the training's last state

The library's random generator belongs to the calling thread, so `randomize` seeds only the
thread that calls it, and a network built in that thread.

A call the library refuses raises a subclass of RcnetError chosen by the kind of failure the library
names (an unknown network, a value or size, a missing earlier step, a file, memory), with a message that
says what to do.
"""

import ctypes
import itertools
import math
import os
import sys
import tempfile
import threading
import warnings

import numpy as np

from . import _native
from ._native import (REPORT_KINDS, RcnetCallOrderError, RcnetError, RcnetFileError, RcnetMemoryError,
                      RcnetNumericError, RcnetSizeError, RcnetUnknownNetworkError, RcnetValueError, RcnetWarning,
                      call, call_raw, call_with_file, library, library_path)

__all__ = ["Network", "RcnetError", "RcnetFileError", "RcnetUnknownNetworkError", "RcnetValueError",
           "RcnetSizeError", "RcnetNumericError", "RcnetCallOrderError", "RcnetMemoryError", "RcnetWarning",
           "REPORT_KINDS", "randomize", "library", "library_path", "NEURON_TYPES", "SOLVERS", "ESNRegressor",
           "ESNClassifier", "choose_ridge", "feedback_map"]
__version__ = "0.1.0"

NEURON_TYPES = {"sigmoid": 0, "bisigmoid": 1, "rsdn": 2, "linear": 3}
# Readout methods: normal equations (the original) or the stable QR least squares.
SOLVERS = {"normal": 0, "stable": 1}

# Far from the small ids C hosts tend to pick by hand.
_ids = itertools.count(1_000_000_000)
_INT32 = range(-2**31, 2**31)


def randomize(seed):
    """Seeds the calling thread's generator in the library."""
    library().Randomize(int(seed) & 0xFFFFFFFF)


def _doubles(array):
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def _not_finite(function, rows):
    """The error for input rows with a NaN or infinite value, naming the first."""
    row, column = (int(i) for i in np.argwhere(~np.isfinite(rows))[0])
    return RcnetNumericError(function, kind=_native.REPORT_NUMERIC,
                             advice=f"inputs must be finite: row {row}, input {column} is {rows[row, column]} "
                                    "(one would make every later state NaN); nothing was run")


def _matrix(values, what):
    array = np.ascontiguousarray(values, dtype=np.float64)
    if array.ndim == 1:
        array = array.reshape(1, -1)
    if array.ndim != 2:
        raise ValueError(f"{what} must be 1-D (one pattern) or 2-D (patterns x size), not {array.ndim}-D")
    return array


def feedback_map(feedback, n_inputs, n_outputs):
    """A closed loop's feedback map as a list of (input, output, delay) triples: input `input` of a step
    is output `output` of the step `delay` (>= 1) steps before. feedback is such a list, or a dict
    {input: (output, delay)}. Raises ValueError for an index out of range, an input fed twice or a delay
    below 1."""
    items = feedback.items() if isinstance(feedback, dict) else ((t[0], t[1:]) for t in feedback)
    taps, fed = [], set()
    for input_, (output, delay) in items:
        input_, output, delay = int(input_), int(output), int(delay)
        if not 0 <= input_ < n_inputs:
            raise ValueError(f"feedback to input {input_}: the network has inputs 0 to {n_inputs - 1}")
        if not 0 <= output < n_outputs:
            raise ValueError(f"feedback from output {output}: the network has outputs 0 to {n_outputs - 1}")
        if not 1 <= delay < 2**31:
            raise ValueError(f"feedback delay must be at least 1 step (the output of an earlier step), got "
                             f"{delay} for input {input_}")
        if input_ in fed:
            raise ValueError(f"input {input_} is fed back twice")
        fed.add(input_)
        taps.append((input_, output, delay))
    return taps


def _count(value, what):
    """value as a count the library's 32-bit int can hold; ValueError otherwise (a negative count, or
    one past 2**31 - 1 that the conversion would wrap round)."""
    if isinstance(value, (float, np.floating)) and not float(value).is_integer():
        raise ValueError(f"{what} must be a whole number, got {value!r}")
    count = int(value)
    if not 0 <= count < 2**31:
        raise ValueError(f"{what} must be from 0 to {2**31 - 1}, got {count}")
    return count


def _link_count(count):
    # The library reads a negative count as a huge one and only warns; in Python it is a plain mistake.
    return _count(count, "link count")


class Network:
    """One registered network; unregistered by close(), by leaving a `with` block, or when collected.

    copy.copy, copy.deepcopy and pickle give a new registered network holding the same model through the
    network file's lossless text: neurons, links, weights, readout and leak rate bit for bit, plus the
    readout, online-learning and file-precision settings made through this object. Not copied: the state
    (the copy starts at rest, as after loading a file), the stored patterns and online learning's progress.
    """

    def __init__(self, inputs, outputs, threshold=True, id=None):
        self._open = False
        self._step = None  # propagate's prepared arguments
        # The library runs one call per network at a time; this lock makes a series of calls one turn
        # (a reset and a run, propagate's shared buffers): `with net.lock:` in the caller's own series.
        self.lock = threading.RLock()
        # The library has no getters for these; kept here so that copies get them too.
        self._settings = {}
        self._precision = 0  # exact files, set below
        inputs, outputs = _count(inputs, "inputs"), _count(outputs, "outputs")
        if id is None:
            self._id = self._register_free_id(inputs, outputs, threshold)
        else:
            if int(id) not in _INT32:
                raise ValueError(f"id {id} is not a 32-bit int")
            self._id = int(id)
            call("RegisterUsage", self._id, inputs, outputs, int(bool(threshold)))
        self._open = True
        self._inputs, self._outputs, self._threshold = inputs, outputs, bool(threshold)
        # Safe defaults: the stable readout with a small ridge (the normal equations lose the fit where
        # states are nearly dependent); set_solver("normal") and set_ridge(0) give the original training.
        call("SetNetReadoutSolver", self._id, SOLVERS["stable"])
        call("SetNetRegularization", self._id, ctypes.byref(ctypes.c_double(1e-8)))
        # Files keep every digit: a saved model predicts what the running one did (set_file_digits(6)
        # writes the format's own 6 digits).
        call("SetNetFilePrecision", self._id, 0)
        self._patterns = 0

    @staticmethod
    def _register_free_id(inputs, outputs, threshold):
        # Another host (or a hand-picked id) may hold a candidate: skip it and try the next.
        for _ in range(1000):
            candidate = next(_ids)
            if candidate not in _INT32:
                break
            result, reports = call_raw("RegisterUsage", candidate, inputs, outputs, int(bool(threshold)))
            if result:
                return candidate
            if _native.last_report_kind() != _native.REPORT_ID_TAKEN:
                raise _native.error_for("RegisterUsage", reports)
        raise RcnetError("RegisterUsage", ["no free id found"])

    @classmethod
    def load(cls, path):
        """A new network, registered under a free id, holding the network file at path."""
        net = cls(0, 0)
        try:
            net.load_into(path)
        except BaseException:
            net.close()
            raise
        return net

    # -- state ---------------------------------------------------------------------------------

    @property
    def id(self):
        return self._id

    @property
    def inputs(self):
        return self._inputs

    @property
    def outputs(self):
        return self._outputs

    @property
    def threshold(self):
        return self._threshold

    @property
    def neuron_count(self):
        count = ctypes.c_int()
        call("GetNetNeuronCount", self._checked_id(), ctypes.byref(count))
        return count.value

    @property
    def readout(self):
        """The readout weights: one row per output, each neuron's weight then the threshold's (0 x 0
        before training)."""
        rows, columns = ctypes.c_int(), ctypes.c_int()
        call("GetNetReadoutShape", self._checked_id(), ctypes.byref(rows), ctypes.byref(columns))
        weights = np.empty((rows.value, columns.value), dtype=np.float64)
        call("GetNetReadout", self._checked_id(), rows.value, columns.value, _doubles(weights))
        return weights

    @property
    def leak_rate(self):
        rate = ctypes.c_double()
        call("GetNetLeakRate", self._checked_id(), ctypes.byref(rate))
        return rate.value

    @property
    def bias(self):
        """The reservoir bias (init_bias), one value per neuron; zeros when there is none."""
        out = np.empty(self.neuron_count, dtype=np.float64)
        call("GetNetBias", self._checked_id(), out.size, _doubles(out))
        return out

    @property
    def closed(self):
        return not self._open

    def _checked_id(self):
        # The id may already belong to another network, so a closed one must not reach the library.
        if not self._open:
            raise RcnetUnknownNetworkError(None, kind=_native.REPORT_UNKNOWN_ID,
                                           advice="operation on a closed network: make a new Network")
        return self._id

    def close(self):
        if self._open:
            self._open = False
            self._step = None
            call("UnregisterUsage", self._id)

    unregister = close

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self, _finalizing=sys.is_finalizing):
        if not getattr(self, "_open", False) or _finalizing():
            return
        self._open = False
        try:
            # Straight to the library: unregistering never fails.
            library().UnregisterUsage(self._id)
        except Exception:
            pass

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return (f"<rcnet.Network id={self._id} inputs={self._inputs} outputs={self._outputs} "
                f"threshold={self._threshold} {state}>")

    # -- building ------------------------------------------------------------------------------

    def add_neurons(self, count, type=1):
        """Adds count neurons of a type: 0..3 or 'sigmoid', 'bisigmoid', 'rsdn', 'linear'."""
        if isinstance(type, str):
            try:
                type = NEURON_TYPES[type.lower()]
            except KeyError:
                raise ValueError(f"unknown neuron type {type!r}; use one of {sorted(NEURON_TYPES)}") from None
        call("AddNeuronsToNet", self._checked_id(), _count(count, "neuron count"), int(type))

    def add_connections(self, count):
        call("AddRandomConnectionsToNet", self._checked_id(), _link_count(count))

    def add_back_connections(self, count):
        call("AddRandomBackConnectionsToNet", self._checked_id(), _link_count(count))

    def init_input_matrix(self, inputs=None):
        """Draws the input matrix; call it after the last add_neurons."""
        call("InitNetInputMatrix", self._checked_id(),
             self._inputs if inputs is None else _count(inputs, "input count"))

    # -- reservoir settings (the radius and the scaling change stored weights; the leak rate is saved)

    def spectral_radius(self):
        """The spectral radius of the back links' weights: the map from one step's states to the next's."""
        out = ctypes.c_double()
        call("GetNetSpectralRadius", self._checked_id(), ctypes.byref(out))
        return out.value

    def set_spectral_radius(self, radius):
        """Scales every back link by one factor so that their spectral radius becomes radius (> 0)."""
        value = ctypes.c_double(float(radius))
        call("SetNetSpectralRadius", self._checked_id(), ctypes.byref(value))

    def set_input_scaling(self, scale):
        """Multiplies every entry of the input matrix by scale; call it after init_input_matrix."""
        value = ctypes.c_double(float(scale))
        call("SetNetInputScaling", self._checked_id(), ctypes.byref(value))

    def set_leak_rate(self, rate):
        """Leaky neurons, 0 < rate <= 1: each step keeps (1 - rate) of every neuron's previous state."""
        value = ctypes.c_double(float(rate))
        call("SetNetLeakRate", self._checked_id(), ctypes.byref(value))

    def init_bias(self, scaling):
        """Draws a constant input term per neuron, in [-1, 1] times scaling (0 removes it); saved in files."""
        value = ctypes.c_double(float(scaling))
        call("InitNetBias", self._checked_id(), ctypes.byref(value))

    # -- training and running ------------------------------------------------------------------

    def add_patterns(self, inputs, targets):
        """Appends patterns: rows of inputs with the matching rows of targets (1-D: one pattern)."""
        ins = _matrix(inputs, "inputs")
        outs = _matrix(targets, "targets")
        if ins.shape[0] != outs.shape[0]:
            raise ValueError(f"{ins.shape[0]} input rows but {outs.shape[0]} target rows")
        if ins.shape[1] != self._inputs or outs.shape[1] != self._outputs:
            raise ValueError(f"expected rows of {self._inputs} inputs and {self._outputs} targets, got "
                             f"{ins.shape[1]} and {outs.shape[1]}")
        bad = int(np.count_nonzero(~np.isfinite(ins)) + np.count_nonzero(~np.isfinite(outs)))
        if bad:
            warnings.warn(f"{bad} training values are NaN or infinite: a readout trained with them stored "
                          "comes out all zero", RcnetWarning, stacklevel=2)
        call("AddPatternsToNet", self._checked_id(), ins.shape[0], ins.shape[1], _doubles(ins),
             outs.shape[1], _doubles(outs))
        self._patterns += ins.shape[0]

    def add_patterns_from_file(self, path):
        """Adds a pattern file's patterns (FileNotFoundError, or RcnetFileError with line, column and
        reason when the library refuses its text)."""
        call_with_file("AddPatternsFromFile", path, self._checked_id(), os.fsencode(path))

    def learn(self, jointly=False):
        """Trains the readout; jointly=True fits every output from one pass over the patterns. Raises
        RcnetCallOrderError without stored patterns, RcnetValueError when the washout leaves none to fit.
        Warns (RcnetWarning) about what gives a readout without skill: neurons without a state, fewer
        patterns than readout weights, a readout that came out all zero or not finite."""
        neurons = self.neuron_count
        if neurons and not self._has_states(neurons):
            warnings.warn(f"{neurons} neurons but no state for some of them: neurons were added after "
                          "init_input_matrix; call it again after the last add_neurons", RcnetWarning,
                          stacklevel=2)
        # Only an unpenalised fit can match fewer patterns than weights exactly; a ridge keeps it general.
        if self._patterns and self._patterns < neurons + 1 and self._settings.get("set_ridge", 1e-8) == 0:
            warnings.warn(f"{self._patterns} patterns for {neurons + 1} readout weights and no ridge: the fit "
                          "can match them exactly and predict nothing else (set_ridge(...) or choose_ridge())",
                          RcnetWarning, stacklevel=2)
        # The library itself reports a readout that came out all zero or not finite.
        call("LearnNetJointly" if jointly else "LearnNet", self._checked_id())

    def _has_states(self, neurons):
        result, _ = call_raw("GetNetState", self._checked_id(), neurons,
                             _doubles(np.empty(neurons, dtype=np.float64)))
        return result == 1

    # -- readout settings (kept by the running network, not written to its file) --------------

    def set_solver(self, method):
        """'stable' (QR least squares, what a new Network uses) or 'normal' (normal equations, the
        library's own default for networks made outside Python); or 1 / 0."""
        if isinstance(method, str):
            try:
                method = SOLVERS[method.lower()]
            except KeyError:
                raise ValueError(f"unknown solver {method!r}; use one of {sorted(SOLVERS)}") from None
        call("SetNetReadoutSolver", self._checked_id(), int(method))
        self._settings["set_solver"] = int(method)

    def set_ridge(self, value):
        """Ridge penalty >= 0 on the readout weights (never on the threshold); 0 turns it off."""
        ridge = ctypes.c_double(float(value))
        call("SetNetRegularization", self._checked_id(), ctypes.byref(ridge))
        self._settings["set_ridge"] = ridge.value

    def choose_ridge(self):
        """Chooses the ridge for the stored patterns by blocked cross-validation in time (the library's
        ChooseNetRegularization: 5 blocks, each held out in turn, ridges 1e-16 to 1e3, the largest within
        10% of the best error), sets it and returns it. Holds every state training would fit at once;
        the reservoir's state is left as found, and the choice is the same on every platform."""
        ridge = ctypes.c_double(0.0)
        call("ChooseNetRegularization", self._checked_id(), ctypes.byref(ridge))
        self._settings["set_ridge"] = ridge.value
        return ridge.value

    def set_washout(self, count):
        """The first count stored patterns step the reservoir in every pass but are not fitted."""
        count = _count(count, "washout")
        call("SetNetWashout", self._checked_id(), count)
        self._settings["set_washout"] = count

    def reset_state(self):
        """Every neuron's values and the state vector back to zero, as after loading a file."""
        call("ResetNetState", self._checked_id())

    def state(self, neurons=None):
        """The reservoir's current state vector, one value per neuron (neurons, when given, must be the
        neuron count)."""
        out = np.empty(self.neuron_count if neurons is None else _count(neurons, "neurons"), dtype=np.float64)
        call("GetNetState", self._checked_id(), out.size, _doubles(out))
        return out

    def propagate(self, x):
        """One reservoir step with input vector x; returns the outputs (run() takes many steps in one
        call)."""
        step = self._step
        if step is None:
            step = self._prepare_step()
        ins, outs, function, id, ins_arg, in_size, outs_arg, out_size = step
        if type(x) is not np.ndarray or x.shape != ins.shape:
            x = np.atleast_1d(np.asarray(x, dtype=np.float64))
            if x.ndim != 1:
                raise ValueError("propagate takes one input vector; use run for rows")
            if x.size != in_size:
                raise ValueError(f"expected {in_size} inputs, got {x.size}")
        with self.lock:
            ins[:] = x
            # One NaN or infinite input would make every later state NaN: refused, nothing stepped.
            if not all(map(math.isfinite, ins.tolist())):
                raise _not_finite("PropagatePattern", ins[None, :])
            # A step that succeeds makes no report, so only a failure asks the library for its lines.
            if function(id, in_size, ins_arg, out_size, outs_arg):
                return outs.copy()
        raise _native.error_for("PropagatePattern")

    def _prepare_step(self):
        # Kept between steps (dropped on close and when a load changes the sizes): a step is short, and
        # building the arguments costs more than the library's step on small reservoirs.
        self._checked_id()
        ins = np.zeros(self._inputs, dtype=np.float64)
        outs = np.zeros(self._outputs, dtype=np.float64)
        self._step = (ins, outs, _native.library().PropagatePattern, self._id, _doubles(ins), self._inputs,
                      _doubles(outs), self._outputs)
        return self._step

    def _rows(self, xs, what="xs", finite=None):
        rows = np.ascontiguousarray(xs, dtype=np.float64)
        if rows.ndim == 1:
            rows = rows.reshape(-1, 1)
        if rows.ndim != 2:
            raise ValueError(f"{what} must be 1-D or 2-D, not {rows.ndim}-D")
        if rows.shape[1] != self._inputs and rows.shape[0] > 0:
            raise ValueError(f"expected {self._inputs} inputs per row, got {rows.shape[1]}")
        if finite and not np.isfinite(rows).all():
            raise _not_finite(finite, rows)
        return rows

    def run(self, xs):
        """Steps through the rows of xs (1-D: a series of single inputs) in one library call; returns
        the rows of outputs. The same values as one propagate() per row."""
        rows = self._rows(xs, finite="RunNetSequence")
        result = np.empty((rows.shape[0], self._outputs), dtype=np.float64)
        call("RunNetSequence", self._checked_id(), rows.shape[0], self._inputs, _doubles(rows), self._outputs,
             _doubles(result))
        return result

    propagate_series = run

    def run_states(self, xs):
        """Steps through the rows of xs in one library call and returns the state after each step, one
        row per step (neuron_count columns): the bits of propagate() then state() every step. Needs no
        readout."""
        rows = self._rows(xs, finite="RunNetStates")
        n = self.neuron_count
        states = np.empty((rows.shape[0], n), dtype=np.float64)
        call("RunNetStates", self._checked_id(), rows.shape[0], self._inputs, _doubles(rows), n,
             _doubles(states))
        return states

    def set_state(self, state):
        """Puts the reservoir in a state (neuron_count finite values): the next step continues from it,
        as from the step that left it there. Forgets the last output (generate needs a new one)."""
        values = np.ascontiguousarray(state, dtype=np.float64).reshape(-1)
        call("SetNetState", self._checked_id(), values.size, _doubles(values))

    @property
    def input_matrix(self):
        """The input matrix, inputs x neurons (0 rows before init_input_matrix)."""
        n = self.neuron_count
        rows = self._inputs
        matrix = np.empty((rows, n), dtype=np.float64)
        if not call_raw("GetNetInputMatrix", self._checked_id(), rows, n, _doubles(matrix))[0]:
            return matrix[:0]  # not drawn yet (or drawn for another input count)
        return matrix

    def links(self, back=True):
        """The back links (or forward, back=False) as a scipy.sparse CSR matrix W (neurons x neurons),
        W[target, source] the weight, neurons by position as in state()."""
        from scipy.sparse import csr_matrix

        kind = 1 if back else 0
        count = ctypes.c_int()
        call("GetNetLinkCount", self._checked_id(), kind, ctypes.byref(count))
        sources, targets = np.empty(count.value, dtype=np.intc), np.empty(count.value, dtype=np.intc)
        weights = np.empty(count.value, dtype=np.float64)
        ints = ctypes.POINTER(ctypes.c_int)
        call("GetNetLinks", self._checked_id(), kind, count.value, sources.ctypes.data_as(ints),
             targets.ctypes.data_as(ints), _doubles(weights))
        n = self.neuron_count
        return csr_matrix((weights, (targets, sources)), shape=(n, n))

    def generate(self, count, inputs=None, feedback=None):
        """Closed loop of count steps; returns the rows of outputs.

        Without feedback (inputs and outputs of one size): each step is fed the previous output, the
        first the last output of propagate, run or generate (GenerateNet).

        With a feedback map (see feedback_map: (input, output, delay) triples or {input: (output,
        delay)}), for any sizes (GenerateNetMapped): step t is fed row t of inputs (count rows) with each
        mapped input replaced by its output of step t - delay once that step is one of these count;
        before, the row's value stands (the known past). The other columns (a constant, known
        covariates) are the caller's. The same bits as a loop of propagate() calls feeding the outputs
        back by hand. Values the loop replaces may be NaN; every value it reads must be finite."""
        count = _count(count, "count")
        if feedback is None:
            if inputs is not None:
                raise ValueError("inputs are for a closed loop with a feedback map: pass feedback too")
            result = np.empty((count, self._outputs), dtype=np.float64)
            call("GenerateNet", self._checked_id(), count, self._outputs, _doubles(result))
            return result
        taps = feedback_map(feedback, self._inputs, self._outputs)
        if inputs is None:
            raise ValueError("a closed loop with a feedback map needs inputs: one row per step, the known "
                             "past where a tap reaches back before the loop, NaN where outputs go")
        rows = self._rows(inputs, "inputs")
        if rows.size == 0:
            rows = rows.reshape(0, self._inputs)
        if rows.shape != (count, self._inputs):
            raise ValueError(f"inputs must have {count} rows of {self._inputs} values, got shape {rows.shape}")
        read = np.ones(rows.shape, dtype=bool)
        for input_, _, delay in taps:
            read[delay:, input_] = False
        unknown = np.argwhere(read & ~np.isfinite(rows))
        if len(unknown):
            t, i = unknown[0]
            raise ValueError(f"inputs[{t}, {i}] is {rows[t, i]} but the loop reads it: input {i} is not fed "
                             f"back at step {t} (not mapped, or its delay reaches back before the loop)")
        flat = np.ascontiguousarray(np.asarray(taps, dtype=np.intc).reshape(-1))
        result = np.empty((count, self._outputs), dtype=np.float64)
        call("GenerateNetMapped", self._checked_id(), count, len(taps),
             flat.ctypes.data_as(ctypes.POINTER(ctypes.c_int)), self._inputs, _doubles(rows), self._outputs,
             _doubles(result))
        return result

    def set_progress(self, callback):
        """callback(fraction) is called between pieces of long work on this network (training, runs
        and closed loops of more than 4096 steps), with the fraction done rising to 1; None removes it.
        It runs inside the library's call: it must not call this network."""
        if callback is None:
            self._progress = None
            call("SetNetProgress", self._checked_id(), None, None)
            return
        self._progress = _native.PROGRESS(lambda id, fraction, context: callback(fraction))  # kept alive
        call("SetNetProgress", self._checked_id(), ctypes.cast(self._progress, ctypes.c_void_p), None)

    def mark_sequence_start(self):
        """The next pattern added starts a new training sequence (see fit)."""
        call("MarkNetSequenceStart", self._checked_id())

    def fit(self, sequences, jointly=False):
        """Trains on a list of (inputs, targets) sequences: each starts from zero states and has its own
        washout (set_washout), nothing is fitted across their seams. Adds them to the stored patterns."""
        for inputs, targets in sequences:
            self.mark_sequence_start()
            self.add_patterns(inputs, targets)
        self.learn(jointly=jointly)

    def set_forgetting(self, forgetting):
        """Online learning's forgetting factor in (0, 1] (1: every step counts alike); restarts it."""
        value = ctypes.c_double(float(forgetting))
        call("SetNetOnlineLearning", self._checked_id(), ctypes.byref(value))
        self._settings["set_forgetting"] = value.value

    def partial_fit(self, inputs, targets):
        """Online learning: steps through the rows of inputs and, after each step, updates the readout
        by recursive least squares from the state and that row of targets (TrainNetOnline)."""
        ins = self._rows(inputs, "inputs")
        outs = _matrix(targets, "targets")
        # 1-D targets read as the inputs are: a series of single outputs, when the inputs are rows.
        if np.ndim(targets) == 1 and self._outputs == 1 and ins.shape[0] == outs.size:
            outs = outs.reshape(-1, 1)
        if outs.shape != (ins.shape[0], self._outputs):
            raise ValueError(f"targets must be {ins.shape[0]} rows of {self._outputs}, not {outs.shape}")
        call("TrainNetOnline", self._checked_id(), ins.shape[0], self._inputs, _doubles(ins), self._outputs,
             _doubles(outs))
        return self

    # -- files ---------------------------------------------------------------------------------

    def save(self, path):
        call("SaveNetToFile", self._checked_id(), os.fsencode(path))

    def set_file_digits(self, digits):
        """Significant digits of the doubles save() writes: 0, the shortest text that reads back bit for
        bit (the default here), or 6 to 17 (6: the format's own, what other readers of it expect)."""
        call("SetNetFilePrecision", self._checked_id(), int(digits))
        self._precision = int(digits)

    set_file_precision = set_file_digits

    def _lossless_text(self):
        self._checked_id()
        with tempfile.TemporaryDirectory(prefix="rcnet-") as folder:
            path = os.path.join(folder, "net.txt")
            call("SetNetFilePrecision", self._id, 0)
            try:
                self.save(path)
            finally:
                call("SetNetFilePrecision", self._id, self._precision)
            with open(path, "rb") as f:
                return f.read()

    @classmethod
    def _from_text(cls, text, settings, precision):
        net = cls(0, 0)
        try:
            with tempfile.TemporaryDirectory(prefix="rcnet-") as folder:
                path = os.path.join(folder, "net.txt")
                with open(path, "wb") as f:
                    f.write(text)
                net.load_into(path)
            for name, value in settings.items():
                getattr(net, name)(value)
            net.set_file_precision(precision)
        except BaseException:
            net.close()
            raise
        return net

    def copy(self):
        """A new registered network with the same model (see the class's description)."""
        return self._from_text(self._lossless_text(), self._settings, self._precision)

    def __copy__(self):
        # Copying only the id would let two objects unregister one network.
        return self.copy()

    def __deepcopy__(self, memo):
        return self.copy()

    def __reduce__(self):
        return (_network_from_text, (self._lossless_text(), dict(self._settings), self._precision))

    def load_into(self, path):
        """Replaces this network by the file's; on failure it stays as it was."""
        call_with_file("LoadNetFromFile", path, self._checked_id(), os.fsencode(path))
        self._inputs, self._outputs, self._threshold = self._sizes()
        self._step = None

    def _sizes(self):
        ins, outs, threshold = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        call("GetNetSizes", self._checked_id(), ctypes.byref(ins), ctypes.byref(outs), ctypes.byref(threshold))
        return ins.value, outs.value, bool(threshold.value)


def _network_from_text(text, settings, precision):
    """Unpickles a Network: registers a new one holding the pickled model."""
    return Network._from_text(text, settings, precision)


def __getattr__(name):
    # The estimator needs scikit-learn: loaded on first use, so that the rest works without it.
    if name in ("ESNRegressor", "search_space", "choose_ridge"):
        from . import estimator

        return getattr(estimator, name)
    if name == "ESNClassifier":
        from . import classifier

        return classifier.ESNClassifier
    if name in ("metrics", "datasets"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'rcnet' has no attribute {name!r}")
