#!/usr/bin/env python3
"""Per-step cost of running a network from Python: Network.run (one RunNetSequence call for all steps),
one Network.propagate call per step, and the bare ctypes call of PropagatePattern on prepared buffers
(what any Python layer must pay at least), N = 50, 200, 1000 (10 inputs, 10 N forward and back links, as
bench/NetBench.cpp builds them). Medians of ROUNDS rounds of 2000 steps, the three taken in turns, in
microseconds per step. Compare with net_bench's StepBare (the core's step and readout, called directly).
Usage: RCNET_LIBRARY=build/native/librcnet.so bench/python_steps.py [ROUNDS]"""
import ctypes
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


def per_step(works, rounds):
    times = [[] for _ in works]
    for _ in range(rounds):
        for work, kept in zip(works, times):
            start = time.perf_counter()
            work()
            kept.append((time.perf_counter() - start) / STEPS * 1e6)
    return [float(np.median(kept)) for kept in times]


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    xs = np.sin(0.013 * np.arange(STEPS * 10)).reshape(STEPS, 10)
    for neurons in (50, 200, 1000):
        with build(neurons) as net:
            function, id = rcnet.library().PropagatePattern, net._id
            # The same inputs as the others, prepared: with zero inputs the states decay to subnormals,
            # which step slower.
            rows, outs = [(ctypes.c_double * 10)(*x) for x in xs], (ctypes.c_double * 1)()

            def bare():
                for row in rows:
                    function(id, 10, row, 1, outs)

            run, single, called = per_step([lambda: net.run(xs), lambda: [net.propagate(x) for x in xs], bare],
                                           rounds)
        print(f"PYTHON_STEPS neurons={neurons} run_us={run:.3f} propagate_us={single:.3f} bare_call_us={called:.3f} "
              f"propagate_over_bare={single / called:.2f}")


if __name__ == "__main__":
    main()
