#!/usr/bin/env python3
"""A grid search over 8 ESNRegressor settings (spectral radius x input scaling x leak rate), 3 time-series
folds each, with 1 worker and then with WORKERS worker processes (joblib's default, loky). Each worker pool
is started before the timing, so the figures compare the searches, not process start-up. Prints both
times, the speed-up and whether both searches found the same scores (they must: every fit seeds its own
drawing).
Usage: RCNET_LIBRARY=build/native/librcnet.so /usr/bin/python3 bench/python_search.py [WORKERS] [NEURONS]"""
import os
import sys
import time

import joblib
import numpy as np
from sklearn.model_selection import GridSearchCV, TimeSeriesSplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import rcnet  # noqa: E402

GRID = {"spectral_radius": [0.5, 0.9], "input_scaling": [0.5, 1.0], "leak_rate": [0.7, 1.0]}


def search(workers, neurons, X, y):
    model = rcnet.ESNRegressor(n_neurons=neurons, random_state=1)
    start = time.perf_counter()
    found = GridSearchCV(model, GRID, cv=TimeSeriesSplit(3), n_jobs=workers).fit(X, y)
    return time.perf_counter() - start, found


def main():
    workers = int(sys.argv[1]) if len(sys.argv) > 1 else 2
    neurons = int(sys.argv[2]) if len(sys.argv) > 2 else 400
    t = np.arange(6001)
    series = np.sin(0.2 * t) * (0.6 + 0.3 * np.sin(0.013 * t))
    X, y = series[:-1, None], series[1:]
    # Starts the worker processes (and their imports), which joblib then reuses.
    joblib.Parallel(n_jobs=workers)(joblib.delayed(len)(rcnet.__name__) for _ in range(workers))
    one, serial = search(1, neurons, X, y)
    many, parallel = search(workers, neurons, X, y)
    same = np.array_equal(serial.cv_results_["mean_test_score"], parallel.cv_results_["mean_test_score"])
    print(f"8 settings x 3 folds, {neurons} neurons, {len(y)} samples")
    print(f"1 worker: {one:.2f} s; {workers} workers: {many:.2f} s; speed-up {one / many:.2f}")
    print(f"same scores: {same}; best {parallel.best_params_} (R^2 {parallel.best_score_:.6f})")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
