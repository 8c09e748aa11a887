"""ESNClassifier: an echo state network that labels whole sequences.

Each sequence runs through the reservoir from rest; the readout is trained to give, at every step after
the washout, the one-hot code of the sequence's label; a sequence's scores are its outputs averaged over
those steps (decision="mean", the default) or its last output (decision="last").
"""

import numbers

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.preprocessing import LabelEncoder
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_array, check_is_fitted, column_or_1d

from .estimator import SPECTRAL_RADIUS, ESNRegressor

__all__ = ["ESNClassifier"]

_REGRESSOR_PARAMS = ("n_neurons", "neuron_type", "forward_links", "back_links", "spectral_radius",
                     "input_scaling", "leak_rate", "readout", "ridge", "washout", "threshold", "random_state",
                     "bias_scaling", "relative_input_scaling", "verbose")


class ESNClassifier(ClassifierMixin, BaseEstimator):
    """Sequence classification with an echo state network.

    X is a list of 2-D sequences (rows are steps, columns features; lengths may differ), a 3-D array
    (sequences x steps x features), or a 2-D array whose rows are sequences of one step. y holds one
    label per sequence (any labels scikit-learn accepts, two classes or more).

    The reservoir parameters are ESNRegressor's, with its defaults but two: telling shapes apart wants
    the reservoir's nonlinearity and a memory over the sequence, so the inputs come at their full spread
    (input_scaling=1) and the neurons leak (leak_rate=0.5). washout counts steps at the start of every
    sequence that are run but neither trained on nor averaged (a float: a fraction of the shortest
    sequence). decision: "mean" averages each sequence's outputs over its steps after the
    washout, "last" takes the output after its last step.

    Attributes: classes_, regressor_ (the fitted ESNRegressor, one output per class), n_features_in_.
    """

    def __init__(self, n_neurons=200, neuron_type="bisigmoid", forward_links=5, back_links=5,
                 spectral_radius=SPECTRAL_RADIUS, input_scaling=1.0, leak_rate=0.5, readout="stable",
                 ridge="auto", washout=0.1, threshold=True, random_state=None, bias_scaling=1.0,
                 relative_input_scaling=True, decision="mean", verbose=False):
        given = locals()
        for name in _REGRESSOR_PARAMS + ("decision",):  # scikit-learn's rule: keep each as given
            setattr(self, name, given[name])

    def _sequences(self, X, fitting=False):
        listed = isinstance(X, (list, tuple)) and len(X) > 0
        if listed and all(np.ndim(x) == 2 for x in X):
            sequences = [check_array(x) for x in X]
        elif listed and all(np.ndim(x) == 1 for x in X) and (
                all(isinstance(x, np.ndarray) for x in X) or len({len(x) for x in X}) > 1):
            # A list of 1-D arrays (or of lists of different lengths): univariate series, one per
            # sequence. Lists of numbers of one length stay the rows of a 2-D array.
            sequences = [check_array(np.reshape(x, (-1, 1))) for x in X]
        else:
            X = check_array(X, allow_nd=True)
            if X.ndim > 3:
                raise ValueError(f"X must be 2-D (one-step sequences) or 3-D (sequences x steps x features), "
                                 f"got {X.ndim}-D")
            sequences = [check_array(x) for x in X] if X.ndim == 3 else [row[None, :] for row in X]
        features = {len(x[0]) for x in sequences}
        if len(features) != 1:
            raise ValueError(f"every sequence must have the same number of features, got {sorted(features)}")
        n = features.pop()
        if fitting:
            self.n_features_in_ = n
        elif n != self.n_features_in_:
            raise ValueError(f"X has {n} features, but ESNClassifier is expecting {self.n_features_in_} "
                             "features as input")
        return sequences

    def fit(self, X, y):
        """Trains on the sequences of X and their labels y. Returns self."""
        if self.decision not in ("mean", "last"):
            raise ValueError(f"decision must be 'mean' or 'last', got {self.decision!r}")
        sequences = self._sequences(X, fitting=True)
        y = column_or_1d(y, warn=True)
        if len(y) != len(sequences):
            raise ValueError(f"y has {len(y)} labels for {len(sequences)} sequences")
        check_classification_targets(y)
        self._encoder = LabelEncoder().fit(y)
        self.classes_ = self._encoder.classes_
        codes = np.eye(len(self.classes_))[self._encoder.transform(y)]
        washout = self.washout
        # The regressor's rule: an int >= 0 is a count, a float in [0, 1) a fraction; nothing else.
        if isinstance(washout, bool) or not isinstance(washout, numbers.Real) or washout < 0 or (
                not isinstance(washout, numbers.Integral) and washout >= 1):
            raise ValueError(f"washout must be an int >= 0 or a fraction in [0, 1), got {washout!r}")
        if not isinstance(washout, numbers.Integral):
            washout = int(washout * min(len(x) for x in sequences))
        # A sequence no longer than the washout would have no step to train on: keep one.
        washout = min(int(washout), min(len(x) for x in sequences) - 1)
        params = {name: getattr(self, name) for name in _REGRESSOR_PARAMS}
        params["washout"] = washout
        self.regressor_ = ESNRegressor(**params).fit(
            sequences, [np.repeat(code[None, :], len(x), axis=0) for x, code in zip(sequences, codes)])
        return self

    def decision_function(self, X):
        """Per sequence, one score per class (for two classes, the second's minus the first's: above 0
        says classes_[1])."""
        scores = self._scores(X)
        return scores[:, 1] - scores[:, 0] if len(self.classes_) == 2 else scores

    def _scores(self, X):
        check_is_fitted(self, "regressor_")
        sequences = self._sequences(X)
        washout = self.regressor_.washout_
        scores = np.empty((len(sequences), len(self.classes_)))
        for k, x in enumerate(sequences):
            outputs = np.asarray(self.regressor_.predict(x)).reshape(len(x), -1)
            if self.decision == "last" or len(x) <= washout:
                scores[k] = outputs[-1]
            else:
                scores[k] = outputs[washout:].mean(axis=0)
        return scores

    def predict(self, X):
        """The label of each sequence: the class with the highest score."""
        best = np.argmax(self._scores(X), axis=1)
        return self.classes_[best]

    def predict_proba(self, X):
        """The scores clipped to [0, 1] and normalised per sequence (uniform where all clip to 0):
        a ranking of the classes, not a calibrated probability."""
        scores = np.clip(self._scores(X), 0.0, 1.0)
        totals = scores.sum(axis=1, keepdims=True)
        uniform = np.full_like(scores, 1.0 / scores.shape[1])
        return np.where(totals > 0, scores / np.where(totals > 0, totals, 1.0), uniform)
