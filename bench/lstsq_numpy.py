#!/usr/bin/python3
"""numpy.linalg.lstsq on a P x (N + 1) matrix of states and a constant column, as a numpy user fits the
stable readout after harvesting the states. The states here are random in [-1, 1] (the solver's time
does not depend on their values). Prints LSTSQ_NUMPY ... median_s=... of `repeat` fits.
Usage: lstsq_numpy.py [N] [P] [repeat]"""
import sys
import time

import numpy as np

n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
p = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
repeat = int(sys.argv[3]) if len(sys.argv) > 3 else 3
rng = np.random.default_rng(1)
x = np.hstack([rng.uniform(-1.0, 1.0, (p, n)), np.ones((p, 1))])
y = rng.uniform(-1.0, 1.0, (p, 1))
times = []
for _ in range(repeat):
    start = time.perf_counter()
    np.linalg.lstsq(x, y, rcond=None)
    times.append(time.perf_counter() - start)
times.sort()
print(f"LSTSQ_NUMPY N={n} P={p} repeat={repeat} median_s={times[len(times) // 2]:.4f} min_s={times[0]:.4f}")
