#!/usr/bin/env python3
"""Per-step cost of running a network from Python: Network.run (one RunNetSequence call for all steps)
against one Network.propagate call per step, N = 50, 200, 1000 (10 inputs, 10 N forward and back links,
as bench/NetBench.cpp builds them). Medians of ROUNDS rounds of 2000 steps, in microseconds per step.
Compare with net_bench's StepBare (the core's step and readout, called directly).
Usage: RCNET_LIBRARY=build/native/librcnet.so bench/python_steps.py [ROUNDS]"""
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import rcnet  # noqa: E402

STEPS = 2000


def build(neurons):
    rcnet.randomize(1)
    net = rcnet.Network(10, 1)
    net.add_neurons(neurons, "bisigmoid")
    net.add_connections(neurons * 10)
    net.add_back_connections(neurons * 10)
    net.init_input_matrix()
    p = np.arange(100)[:, None]
    net.add_patterns(np.sin(0.01 * p * np.arange(1, 11)), np.sin(0.01 * (p + 1)))
    net.learn()
    return net


def per_step(work, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        work()
        times.append((time.perf_counter() - start) / STEPS * 1e6)
    return float(np.median(times))


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    xs = np.sin(0.013 * np.arange(STEPS * 10)).reshape(STEPS, 10)
    for neurons in (50, 200, 1000):
        with build(neurons) as net:
            run = per_step(lambda: net.run(xs), rounds)
            single = per_step(lambda: [net.propagate(x) for x in xs], rounds)
        print(f"PYTHON_STEPS neurons={neurons} run_us={run:.3f} propagate_us={single:.3f}")


if __name__ == "__main__":
    main()
