"""Metrics for forecasts, and scorers for scikit-learn's searches that leave the warm-up out.

    nrmse(y_true, y_pred[, sample_weight])     root mean square error over the target's standard deviation
    valid_prediction_time(y_true, y_pred, ...) how long a free run stays within a threshold of the truth
    washout_scorer(metric, greater_is_better)  a scorer that skips each sequence's washout rows
    r2_scorer, neg_nrmse_scorer                the two scorers most searches want
"""

import numpy as np
from sklearn.metrics import r2_score

from .estimator import after_washout

__all__ = ["nrmse", "valid_prediction_time", "washout_scorer", "r2_scorer", "neg_nrmse_scorer"]


def _columns(y):
    y = np.asarray(y, dtype=float)
    return y.reshape(len(y), -1)


def nrmse(y_true, y_pred, sample_weight=None):
    """sqrt(mean((y_pred - y_true)^2)) / std(y_true), per output, averaged over the outputs: 0 for a
    perfect prediction, 1 for predicting the mean. A constant target gives inf (or nan when matched).
    With sample_weight (one weight per row), both means are weighted by it."""
    true, predicted = _columns(y_true), _columns(y_pred)
    if true.shape != predicted.shape:
        raise ValueError(f"y_true and y_pred differ in shape: {np.shape(y_true)} and {np.shape(y_pred)}")
    if len(true) == 0:
        raise ValueError("nrmse of no rows")
    if sample_weight is not None:
        sample_weight = np.asarray(sample_weight, dtype=float)
        if sample_weight.shape != (len(true),):
            raise ValueError(f"sample_weight must have one weight per row ({len(true)}), got shape "
                             f"{sample_weight.shape}")
    rms = np.sqrt(np.average((predicted - true) ** 2, axis=0, weights=sample_weight))
    spread = np.sqrt(np.average((true - np.average(true, axis=0, weights=sample_weight)) ** 2, axis=0,
                                weights=sample_weight))
    with np.errstate(divide="ignore", invalid="ignore"):
        return float(np.mean(rms / spread))


def valid_prediction_time(y_true, y_pred, threshold=0.4, scale=None, lyapunov_exponent=None, dt=1.0):
    """The steps from the start of a free run for which its error stays within threshold: the count of
    leading rows where ||y_pred - y_true|| / scale <= threshold (the norm over the outputs). scale: the
    typical size of the state, by default sqrt(mean ||y_true - mean(y_true)||^2) over the rows given (pass
    the training series' own for short runs). With lyapunov_exponent (per time unit) the result is in
    Lyapunov times, steps x dt x exponent, instead of steps."""
    true, predicted = _columns(y_true), _columns(y_pred)
    if true.shape != predicted.shape:
        raise ValueError(f"y_true and y_pred differ in shape: {np.shape(y_true)} and {np.shape(y_pred)}")
    if scale is None:
        scale = np.sqrt(np.mean(np.sum((true - true.mean(axis=0)) ** 2, axis=1))) if len(true) else 0.0
    if not scale > 0:
        raise ValueError(f"scale must be > 0, got {scale!r} (a constant y_true: give scale)")
    error = np.sqrt(np.sum((predicted - true) ** 2, axis=1)) / scale
    beyond = np.flatnonzero(~(error <= threshold))
    steps = int(beyond[0]) if len(beyond) else len(error)
    return steps if lyapunov_exponent is None else steps * dt * lyapunov_exponent


def washout_scorer(metric, greater_is_better=True):
    """A scorer (estimator, X, y) -> float for GridSearchCV, cross_val_score and friends: metric(y_true,
    y_pred) over the rows after each sequence's washout, negated when smaller is better (scikit-learn's
    searches take the largest score)."""
    sign = 1.0 if greater_is_better else -1.0

    def scorer(estimator, X, y, sample_weight=None):
        true, predicted, weights = after_washout(estimator, X, y, sample_weight)
        if weights is not None:
            return sign * metric(true, predicted, sample_weight=weights)
        return sign * metric(true, predicted)

    scorer.__name__ = f"washout_scorer({getattr(metric, '__name__', 'metric')})"
    return scorer


r2_scorer = washout_scorer(r2_score)
neg_nrmse_scorer = washout_scorer(nrmse, greater_is_better=False)
