"""ESNRegressor: an echo state network as a scikit-learn regressor.

The rows of X are time steps. The reservoir carries its state from row to row, so predictions depend on
the order of the rows and on the rows before them: fit and predict start every sequence from rest (or,
predict(X, warm_start=True), from where the network was left), and score leaves each sequence's
washout rows out.
"""

import numbers
import sys
import threading
import warnings

import numpy as np
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.metrics import r2_score
from sklearn.utils import check_random_state
from sklearn.utils.validation import check_array, check_is_fitted, check_X_y

from . import NEURON_TYPES, SOLVERS, Network, RcnetCallOrderError, RcnetWarning, feedback_map, randomize

__all__ = ["ESNRegressor", "after_washout", "choose_ridge", "search_space"]


# The back links' default spectral radius.
SPECTRAL_RADIUS = 1.2


def _in_fresh_thread(function):
    """Runs function in a new thread and returns its result: the library's generator belongs to the
    thread, so a new one is seeded by Randomize alone, whatever the caller's generator holds, and the
    caller's is left as it was."""
    outcome = {}

    def body():
        try:
            outcome["value"] = function()
        except BaseException as error:  # handed back to the caller
            outcome["error"] = error

    thread = threading.Thread(target=body, name="rcnet-build")
    thread.start()
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


class _Bar:
    """A progress bar for verbose fits: tqdm's (on a terminal or in a notebook) where it is installed,
    otherwise a line redrawn on stderr."""

    def __init__(self, what):
        self._what, self._shown = what, -1
        try:
            from tqdm.auto import tqdm
        except ImportError:
            self._tqdm = None
        else:
            self._tqdm = tqdm(total=100, desc=what, unit="%")

    def __call__(self, fraction):
        percent = int(round(100 * min(max(fraction, 0.0), 1.0)))
        if percent == self._shown:
            return
        self._shown = percent
        if self._tqdm is not None:
            self._tqdm.update(percent - self._tqdm.n)
        else:
            sys.stderr.write(f"\r{self._what}: [{'#' * (percent // 5):<20}] {percent:3d}%")
            sys.stderr.flush()

    def note(self, text):
        if self._tqdm is not None:
            self._tqdm.set_postfix_str(text)
        else:
            sys.stderr.write(f"\r{self._what}: {text}\033[K")
            sys.stderr.flush()

    def close(self):
        if self._tqdm is not None:
            self._tqdm.close()
        else:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _is_sequence_list(X):
    # A list of 2-D arrays; a list of lists of numbers is one 2-D array.
    return isinstance(X, (list, tuple)) and len(X) > 0 and all(np.ndim(x) == 2 for x in X)


def scored_washout(estimator, length):
    """The rows a scored sequence of `length` rows leaves out: washout_ (fit's), but with a fractional
    washout never more than that fraction of the sequence itself, so that a test set shorter than the
    training set is still scored (a washout fixed by count stays as it is)."""
    washout = estimator.washout_
    fraction = getattr(estimator, "washout", None)
    if isinstance(fraction, numbers.Real) and not isinstance(fraction, (numbers.Integral, bool)):
        washout = min(washout, int(fraction * length))
    return washout


def after_washout(estimator, X, y, sample_weight=None):
    """y, the fitted estimator's predictions of it and the weights, each sequence's first rows left out
    (scored_washout: the reservoir is still warming up there), the sequences' rows pooled."""
    check_is_fitted(estimator, "network_")
    sequences = list(zip(X, y)) if _is_sequence_list(X) else [(X, y)]
    lengths = [len(xs) for xs, _ in sequences]
    washouts = [scored_washout(estimator, length) for length in lengths]
    if sample_weight is not None:
        sample_weight = np.asarray(sample_weight, dtype=float)
        if sample_weight.shape != (sum(lengths),):
            raise ValueError(f"sample_weight must have one weight per row ({sum(lengths)}), got shape "
                             f"{sample_weight.shape}")
    true, predicted, weights, start = [], [], [], 0
    for (xs, ys), length, washout in zip(sequences, lengths, washouts):
        true.append(np.asarray(ys, dtype=float)[washout:])
        predicted.append(np.asarray(estimator.predict(xs))[washout:])
        if sample_weight is not None:
            weights.append(sample_weight[start + washout:start + length])
        start += length
    true, predicted = np.concatenate(true), np.concatenate(predicted)
    if len(true) == 0:
        raise ValueError(f"nothing to score: every sequence has at most the washout's {max(washouts)} rows, "
                         "which only warm the reservoir up")
    return true, predicted, (np.concatenate(weights) if sample_weight is not None else None)


# 1e-16, 10**-15.5, ..., 1e3: the library's doubles (ChooseNetRegularization), written the same way.
RIDGE_GRID = np.array([float(f"{mantissa}e{power}") for power in range(-16, 4)
                       for mantissa in ("1", "3.1622776601683795")][:39])
# Below this fraction of the states' largest eigenvalue, a ridge is lost in the Gram matrix's rounding.
_RESOLUTION = 1e-13


def choose_ridge(states, targets, folds=5, gap=10, tolerance=1.1, grid=RIDGE_GRID):
    """Network.choose_ridge's choice in numpy, for any array of states and with its settings as
    arguments: the ridge for a linear readout of states (rows x neurons, with a constant term that is
    not penalised) to targets (rows, or rows x outputs), chosen by blocked cross-validation in time: the
    rows are cut into `folds` contiguous blocks, each held out in turn and predicted by the readout
    fitted on the other rows less `gap` rows either side of the block (fewer on short data); the
    errors of each output are divided by its variance and summed. Of the ridges in `grid` (added to
    the states' Gram matrix as the library adds them), the largest whose error is at most `tolerance`
    times the smallest: more shrinkage where it costs next to nothing, which keeps the weights small
    on noisy data. Ridges too small for the Gram matrix to tell apart (below 1e-13 of its largest
    eigenvalue) are not tried. Returns (ridge, errors) with one error per grid value (NaN where not
    tried). Fewer than 2 * folds rows: (1e-6, None)."""
    S = np.asarray(states, dtype=float)
    Y = np.asarray(targets, dtype=float).reshape(len(S), -1)
    grid = np.asarray(grid, dtype=float)
    rows = len(S)
    if rows < 2 * folds:
        return 1e-6, None
    gap = min(int(gap), rows // (4 * folds))
    variance = Y.var(axis=0)
    variance[variance == 0] = 1.0
    gram, cross = S.T @ S, S.T @ Y
    sums, target_sums = S.sum(axis=0), Y.sum(axis=0)
    errors = np.zeros(len(grid))
    floor = 0.0
    edges = np.linspace(0, rows, folds + 1).astype(int)
    for a, b in zip(edges[:-1], edges[1:]):
        # The fold's training rows are all rows less the block and its gaps: their sums by difference.
        out = slice(max(0, a - gap), min(rows, b + gap))
        left, left_y = S[out], Y[out]
        n = rows - len(left)
        mean = (sums - left.sum(axis=0)) / n
        mean_y = (target_sums - left_y.sum(axis=0)) / n
        centred = gram - left.T @ left - n * np.outer(mean, mean)
        centred_cross = cross - left.T @ left_y - n * np.outer(mean, mean_y)
        values, vectors = np.linalg.eigh(centred)
        floor = max(floor, _RESOLUTION * values[-1])
        projected = vectors.T @ centred_cross
        held = (S[a:b] - mean) @ vectors
        expected = Y[a:b] - mean_y
        for i, ridge in enumerate(grid):
            predicted = held @ (projected / (np.maximum(values, 0) + ridge)[:, None])
            errors[i] += np.sum(np.sum((predicted - expected) ** 2, axis=0) / variance)
    tried = grid >= floor
    if not tried.any():
        return float(grid[-1]), np.where(tried, errors, np.nan)
    errors = np.where(tried, errors, np.nan)
    best = int(np.nanargmin(errors))
    chosen = int(np.flatnonzero(errors <= tolerance * errors[best]).max())
    return float(grid[chosen]), errors


def search_space(ridge=(1e-10, 1.0), spectral_radius=(0.1, 1.5), leak_rate=(0.05, 1.0),
                 input_scaling=(0.01, 2.0)):
    """Log-uniform distributions over the settings that matter most, for RandomizedSearchCV's
    param_distributions: each argument a (low, high) range, or None to leave that setting out."""
    from scipy.stats import loguniform

    ranges = {"ridge": ridge, "spectral_radius": spectral_radius, "leak_rate": leak_rate,
              "input_scaling": input_scaling}
    space = {}
    for name, bounds in ranges.items():
        if bounds is None:
            continue
        low, high = bounds
        if not 0 < low < high:
            raise ValueError(f"{name} needs a range 0 < low < high, got {bounds!r}")
        if name == "leak_rate" and high > 1:
            raise ValueError(f"leak_rate is at most 1, got the range {bounds!r}")
        space[name] = loguniform(low, high)
    return space


class ESNRegressor(RegressorMixin, BaseEstimator):
    """An echo state network regressor: a random reservoir, a trained linear readout.

    Parameters
    ----------
    n_neurons : int, default=200
        Reservoir neurons.
    neuron_type : {"bisigmoid", "sigmoid", "rsdn", "linear"}, default="bisigmoid"
    forward_links : float, default=5
        Forward links (which carry the input within a step) per neuron.
    back_links : float, default=5
        Back links (the reservoir's memory: last step's states) per neuron.
    spectral_radius : float or None, default=SPECTRAL_RADIUS
        The back links are scaled to this spectral radius; None keeps them as drawn.
    input_scaling : float, default=0.1
        Multiplies the input matrix (drawn in [-1, 1]); with relative_input_scaling, per unit of the
        inputs' spread.
    relative_input_scaling : bool, default=True
        Divide input_scaling by the training inputs' spread (the square root of their variance averaged
        over features; 1 when they do not vary), so that one setting suits data in any units. An offset
        is not removed: subtract it from inputs far from 0. The factor applied to the matrix is
        input_scale_.
    leak_rate : float, default=1.0
        0 < rate <= 1; each step keeps 1 - rate of every state.
    bias_scaling : float, default=1.0
        A constant input term per neuron, drawn in [-1, 1] times this (Network.init_bias); 0: none.
        Without it a bipolar reservoir computes only odd functions of its inputs.
    readout : {"stable", "normal"}, default="stable"
        QR least squares or the normal equations.
    ridge : "auto" or float, default="auto"
        Ridge penalty on the readout weights, added to the states' Gram matrix. "auto" chooses it from
        the training data (Network.choose_ridge, in the library: blocked cross-validation in time over
        1e-16 to 1e3, the largest ridge whose error is within 10% of the best): small on clean data,
        larger on noisy data. The ridge used is ridge_. "auto" holds the training data's states in
        memory once; the choice is the same on every platform.
    washout : int or float, default=0.1
        Steps at the start of every sequence that drive the reservoir but are not fitted: an int is a
        count; a float in [0, 1) a fraction of the shortest sequence.
    threshold : bool, default=True
        A constant term in the readout.
    verbose : bool, default=False
        A progress bar while fitting (tqdm's where installed, else a line on stderr): the ridge choice,
        then the training's fraction done as the library reports it (Network.set_progress).
    random_state : int, RandomState instance or None, default=None
        An int in [0, 2**32) is the library's seed (rcnet.randomize) for the drawing, so the same int
        builds the same reservoir; a RandomState draws the seed; None draws it from numpy's global
        generator. fit draws in a thread of its own, so neither the calling thread's generator nor the
        thread or process it runs in changes the result.

    Attributes
    ----------
    network_ : rcnet.Network
        The trained network.
    n_features_in_ : int
    n_outputs_ : int
    washout_ : int
        The washout used, in steps.
    ridge_ : float
        The ridge used.
    input_scale_ : float
        The factor the input matrix was scaled by.
    """

    def __init__(self, n_neurons=200, neuron_type="bisigmoid", forward_links=5, back_links=5,
                 spectral_radius=SPECTRAL_RADIUS, input_scaling=0.1, leak_rate=1.0, readout="stable",
                 ridge="auto", washout=0.1, threshold=True, random_state=None, bias_scaling=1.0,
                 relative_input_scaling=True, verbose=False):
        self.n_neurons = n_neurons
        self.neuron_type = neuron_type
        self.forward_links = forward_links
        self.back_links = back_links
        self.spectral_radius = spectral_radius
        self.input_scaling = input_scaling
        self.leak_rate = leak_rate
        self.readout = readout
        self.ridge = ridge
        self.washout = washout
        self.threshold = threshold
        self.random_state = random_state
        self.bias_scaling = bias_scaling
        self.relative_input_scaling = relative_input_scaling
        self.verbose = verbose

    # -- validation ----------------------------------------------------------------------------

    def _check_params(self):
        if not isinstance(self.n_neurons, numbers.Integral) or self.n_neurons < 1:
            raise ValueError(f"n_neurons must be a positive int, got {self.n_neurons!r}")
        if self.neuron_type not in NEURON_TYPES:
            raise ValueError(f"neuron_type must be one of {sorted(NEURON_TYPES)}, got {self.neuron_type!r}")
        if self.readout not in SOLVERS:
            raise ValueError(f"readout must be one of {sorted(SOLVERS)}, got {self.readout!r}")
        if not (isinstance(self.ridge, str) and self.ridge == "auto") and not (
                isinstance(self.ridge, numbers.Real) and 0 <= self.ridge < np.inf):
            raise ValueError(f"ridge must be 'auto' or a finite number >= 0, got {self.ridge!r}")
        for name in ("forward_links", "back_links"):
            value = getattr(self, name)
            if not isinstance(value, numbers.Real) or not 0 <= value < np.inf:
                raise ValueError(f"{name} must be a finite number >= 0, got {value!r}")
        if self.spectral_radius is not None:
            if not isinstance(self.spectral_radius, numbers.Real) or not 0 < self.spectral_radius < np.inf:
                raise ValueError(f"spectral_radius must be a finite number > 0 or None, got {self.spectral_radius!r}")
            if round(self.back_links * self.n_neurons) == 0:
                raise ValueError("spectral_radius needs back links; set it to None for a reservoir without")
        if not isinstance(self.input_scaling, numbers.Real) or not 0 < self.input_scaling < np.inf:
            raise ValueError(f"input_scaling must be a finite number > 0, got {self.input_scaling!r}")
        if not isinstance(self.bias_scaling, numbers.Real) or not np.isfinite(self.bias_scaling):
            raise ValueError(f"bias_scaling must be a finite number, got {self.bias_scaling!r}")
        if not isinstance(self.leak_rate, numbers.Real) or not 0 < self.leak_rate <= 1:
            raise ValueError(f"leak_rate must be in (0, 1], got {self.leak_rate!r}")
        washout = self.washout
        if isinstance(washout, bool) or not isinstance(washout, numbers.Real) or washout < 0 or (
                not isinstance(washout, numbers.Integral) and washout >= 1):
            raise ValueError(f"washout must be an int >= 0 or a fraction in [0, 1), got {washout!r}")

    def _seed(self):
        state = self.random_state
        if isinstance(state, numbers.Integral) and not isinstance(state, bool):
            if not 0 <= state < 2**32:
                raise ValueError(f"random_state must be in [0, 2**32), got {state}")
            return int(state)
        return int(check_random_state(state).randint(0, 2**32, dtype=np.uint64))

    def _check_features(self, X):
        if X.shape[1] != self.n_features_in_:
            raise ValueError(f"X has {X.shape[1]} features, but {type(self).__name__} is expecting "
                             f"{self.n_features_in_} features as input (expected {self.n_features_in_} "
                             f"features, got {X.shape[1]})")

    def _training_sequences(self, X, y):
        if _is_sequence_list(X):
            if not isinstance(y, (list, tuple)) or len(y) != len(X):
                raise ValueError("with a list of sequences X, y must be a list of as many target arrays")
            pairs = [check_X_y(xs, ys, multi_output=True, y_numeric=True) for xs, ys in zip(X, y)]
            if len({xs.shape[1] for xs, _ in pairs}) != 1:
                raise ValueError("every sequence must have the same number of features, got "
                                 f"{sorted({xs.shape[1] for xs, _ in pairs})}")
            if len({ys.ndim for _, ys in pairs}) != 1 or len({ys.shape[1:] for _, ys in pairs}) != 1:
                raise ValueError("every sequence's targets must have the same shape per row")
        else:
            # A DataFrame's column names, as scikit-learn's own estimators keep them (feature_names_in_).
            self._check_feature_names(X, reset=True)
            pairs = [check_X_y(X, y, multi_output=True, y_numeric=True)]
        return pairs

    # -- fitting -------------------------------------------------------------------------------

    def _input_scale(self, pairs):
        if not self.relative_input_scaling:
            return float(self.input_scaling)
        X = np.concatenate([xs for xs, _ in pairs])
        # Sums left to right (cumsum), as `rcnet train` takes them: the same factor to the bit.
        rows = len(X)
        mean = np.cumsum(X, axis=0)[-1] / rows
        variance = np.cumsum(np.cumsum((X - mean) * (X - mean), axis=0)[-1] / rows)[-1]
        spread = float(np.sqrt(variance / X.shape[1]))
        return float(self.input_scaling) / (spread if spread > 0 and np.isfinite(spread) else 1.0)

    def _build(self, n_features, n_outputs, seed, input_scale):
        n = int(self.n_neurons)
        if round(self.forward_links * n) == 0:
            warnings.warn("forward_links gives no forward link: the inputs reach no neuron (a state sums its "
                          "forward links' terms of the input), so the model can only predict a constant",
                          RcnetWarning, stacklevel=3)

        def draw():
            randomize(seed)
            net = Network(n_features, n_outputs, threshold=bool(self.threshold))
            try:
                net.add_neurons(n, self.neuron_type)
                net.add_connections(round(self.forward_links * n))
                net.add_back_connections(round(self.back_links * n))
                net.init_input_matrix()
                if self.bias_scaling != 0:
                    net.init_bias(self.bias_scaling)  # drawn last: the rest is the reservoir without it
            except BaseException:
                net.close()
                raise
            return net

        net = _in_fresh_thread(draw)
        try:
            if self.spectral_radius is not None:
                try:
                    net.set_spectral_radius(self.spectral_radius)
                except RcnetCallOrderError:
                    raise ValueError(f"the {round(self.back_links * n)} back links drawn form no cycle (spectral "
                                     f"radius 0): there is nothing to scale to {self.spectral_radius}; give more "
                                     "back_links, or spectral_radius=None to keep them as drawn") from None
            if input_scale != 1:
                net.set_input_scaling(input_scale)
            if self.leak_rate != 1:
                net.set_leak_rate(self.leak_rate)
            net.set_solver(self.readout)
        except BaseException:
            net.close()
            raise
        return net

    def fit(self, X, y):
        """Trains on one series (X: samples x features, y: samples or samples x outputs) or on a list of
        sequences (a list of 2-D X arrays and a list of y arrays): each starts from rest and has its own
        washout. Returns self."""
        self._check_params()
        pairs = self._training_sequences(X, y)
        lengths = [len(xs) for xs, _ in pairs]
        if isinstance(self.washout, numbers.Integral):
            washout = int(self.washout)
        else:
            washout = int(self.washout * min(lengths))
        if washout >= max(lengths):
            raise ValueError(f"a washout of {washout} steps leaves nothing to fit: the longest sequence has "
                             f"{max(lengths)} samples")
        n_features = pairs[0][0].shape[1]
        single = pairs[0][1].ndim == 1
        n_outputs = 1 if single else pairs[0][1].shape[1]

        input_scale = self._input_scale(pairs)
        net = self._build(n_features, n_outputs, self._seed(), input_scale)
        bar = _Bar(f"rcnet: fitting {self.n_neurons} neurons") if self.verbose else None
        try:
            net.set_washout(washout)
            for xs, ys in pairs:
                net.mark_sequence_start()
                net.add_patterns(xs, ys.reshape(len(ys), n_outputs))
            if self.ridge == "auto" and bar:
                bar.note("choosing the ridge")
            ridge = net.choose_ridge() if self.ridge == "auto" else self.ridge
            net.set_ridge(ridge)
            if bar:
                bar.note("training")
                net.set_progress(bar)
            net.learn(jointly=True)
        except BaseException:
            net.close()
            raise
        finally:
            if bar:
                bar.close()
        if bar:
            net.set_progress(None)
        # A previous network_ is left to the collector: the caller may still hold it.
        self.network_ = net
        self.n_features_in_ = n_features
        self.n_outputs_ = n_outputs
        self.washout_ = washout
        self.ridge_ = float(ridge)
        self.input_scale_ = input_scale
        self._single_output = single
        return self

    # -- running -------------------------------------------------------------------------------

    def _shaped(self, outputs):
        return outputs[:, 0] if self._single_output else outputs

    def _run(self, X, from_rest=True):
        self._check_feature_names(X, reset=False)
        X = check_array(X)
        self._check_features(X)
        # One turn on the network: another thread's reset or run cannot come between.
        with self.network_.lock:
            if from_rest:
                self.network_.reset_state()
            return self._shaped(self.network_.run(X))

    def predict(self, X, warm_start=False):
        """Runs the rows of X as consecutive steps and returns the outputs, shaped like y in fit.

        From a reset (zero) state; with warm_start=True from the state the network was left in instead:
        after fit, the state after the last training row; after a predict or generate, the state after
        its last step. So predict(X_next, warm_start=True) right after fit(X, y) forecasts the rows that
        follow the training data with a warmed-up reservoir, and gives the bits of the last rows of a
        prediction of X and X_next together from rest. A list of 2-D arrays gives a list of
        predictions, each from rest."""
        check_is_fitted(self, "network_")
        if _is_sequence_list(X):
            if warm_start:
                raise ValueError("warm_start continues one series: predict a list of sequences from rest")
            return [self._run(xs) for xs in X]
        return self._run(X, from_rest=not warm_start)

    def score(self, X, y, sample_weight=None):
        """R^2 of predict(X) against y over the rows after each sequence's washout (washout_ steps, as in
        fit; a fractional washout leaves out at most that fraction of a shorter sequence): the first rows
        of a prediction from rest measure the warm-up, not the model. For a list of
        sequences, over all their scored rows together. Searches (GridSearchCV and friends) rank by it."""
        true, predicted, weights = after_washout(self, X, y, sample_weight)
        return r2_score(true, predicted, sample_weight=weights)

    def generate(self, n_steps, warmup, feedback=None, inputs=None):
        """Closed-loop forecast: the rows of warmup (at least one, the known past) are run from a reset
        state with their true values as inputs (teacher forcing), then the outputs are fed back. Returns
        n_steps rows, shaped like y in fit: the first is the output after the last warm-up row (the
        prediction of the step that follows it), then one per closed-loop step.

        Without feedback the network predicts its next input (n_features == n_outputs): each output is
        the next step's input.

        With a feedback map (rcnet.feedback_map: (input, output, delay) triples, or {input: (output,
        delay)}), any features: input `input` of a step is output `output` of the step `delay` steps
        before, the last warm-up row's step counting as the one before the first closed-loop step. inputs
        holds the n_steps - 1 rows of the closed-loop steps, built like the rows of X: the other columns
        (a constant, known covariates) as they are, a fed-back column's known past where its delay
        reaches back before the loop, NaN where the value is not known; those NaN are filled with the
        warm-up's own outputs, and the loop's later values with its outputs. inputs may be left out when
        every feature is fed back. One library call (GenerateNetMapped): the bits of a hand-written loop
        of predict(row, warm_start=True) calls.
        """
        check_is_fitted(self, "network_")
        if isinstance(n_steps, bool) or not isinstance(n_steps, numbers.Integral) or n_steps < 0:
            raise ValueError(f"n_steps must be an int >= 0, got {n_steps!r}")
        n_steps = int(n_steps)
        warmup = check_array(warmup)
        self._check_features(warmup)
        if feedback is None:
            if inputs is not None:
                raise ValueError("inputs are for a closed loop with a feedback map: pass feedback too")
            if self.n_features_in_ != self.n_outputs_:
                raise ValueError(f"generate without a feedback map needs as many outputs as features: the "
                                 f"network has {self.n_features_in_} features and {self.n_outputs_} outputs")
            feedback = [(i, i, 1) for i in range(self.n_features_in_)]
        taps = feedback_map(feedback, self.n_features_in_, self.n_outputs_)
        loop = n_steps - 1 if n_steps > 0 else 0
        if inputs is None:
            unfed = sorted(set(range(self.n_features_in_)) - {tap[0] for tap in taps})
            if unfed and loop > 0:  # without a closed-loop step there is no row to give
                raise ValueError(f"features {unfed} are not fed back: give their values for each closed-loop "
                                 "step as inputs")
            rows = np.full((loop, self.n_features_in_), np.nan)
        else:
            rows = np.array(check_array(inputs, force_all_finite=False, ensure_min_samples=0), dtype=float)
            if rows.shape != (loop, self.n_features_in_):
                raise ValueError(f"inputs must hold the {loop} closed-loop steps' rows of "
                                 f"{self.n_features_in_} features (n_steps - 1), got shape {rows.shape}")
        net = self.network_
        with net.lock:
            return self._generate(net, n_steps, warmup, taps, rows, loop)

    def _generate(self, net, n_steps, warmup, taps, rows, loop):
        net.reset_state()
        warm = net.run(warmup)
        # Step -1 of the loop is the last warm-up row's: its outputs stand in for unknown past values.
        for input_, output, delay in taps:
            for t in range(min(delay, loop)):
                if np.isnan(rows[t, input_]):
                    back = len(warm) + t - delay
                    if back < 0:
                        raise ValueError(f"inputs[{t}, {input_}] is NaN and the warm-up is too short to fill "
                                         f"it: feature {input_} reaches {delay} steps back")
                    rows[t, input_] = warm[back, output]
        if n_steps == 0:
            return self._shaped(warm[:0])
        rows = np.concatenate([warm[-1:], net.generate(loop, inputs=rows, feedback=taps)])
        return self._shaped(rows)

    def _more_tags(self):
        order = ("the rows of X are time steps: each prediction depends on the rows before it, through the "
                 "reservoir's state")
        return {
            "multioutput": True,
            "_xfail_checks": {
                "check_methods_subset_invariance": order,
                "check_methods_sample_order_invariance": order,
            },
        }
