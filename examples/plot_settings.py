"""Measures how the spectral radius, the leak rate and the input scaling change the Mackey-Glass errors,
on the reservoir of the demo's readout comparison (examples/mackey_glass.c, part 5): one setting varied
at a time, the others at the demo's values, several seeds per point, the stable readout.

Writes settings.csv (one row per setting, value and seed) and one PNG per setting into the output
directory, and prints the medians as markdown tables.

Usage: plot_settings.py [--out DIR] [--neurons N] [--seeds K] [--quick]
--quick: 60 neurons, one seed, three values per setting (a few seconds; the tests use it).
The series is the demo's, computed with the same plain arithmetic, so the figures match the demo's.
"""
import argparse
import csv
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import rcnet  # noqa: E402

DROP, WARMUP, TRAIN, TEST, FREE = 1000, 1000, 2000, 500, 84
SAMPLES = DROP + WARMUP + TRAIN + TEST + FREE + 2
DELAYS = (5, 10, 15)
BIAS = 0.25
# The demo's values: the point every curve passes through.
DEMO = {"spectral_radius": 0.8, "leak_rate": 0.8, "input_scaling": 2.0}
SWEEPS = {
    "spectral_radius": [0.1, 0.2, 0.4, 0.6, 0.8, 1.0, 1.2, 1.5, 2.0, 2.5, 3.0],
    "leak_rate": [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0],
    "input_scaling": [0.1, 0.25, 0.5, 1.0, 2.0, 4.0, 8.0],
}
QUICK = {"spectral_radius": [0.4, 0.8, 2.0], "leak_rate": [0.3, 0.8, 1.0], "input_scaling": [0.5, 2.0, 8.0]}
# One plot per setting, named for what varies along its axis.
FILE_NAMES = {"spectral_radius": "radius", "leak_rate": "leak_rate", "input_scaling": "input_scaling"}
LABELS = {"spectral_radius": "spectral radius of the back links", "leak_rate": "leak rate",
          "input_scaling": "input scaling"}


# The demo's plain arithmetic (mackey_glass.c), so the series is the same to the last bit.
def plain_exp(z):
    ln2hi, ln2lo = 6.93147180369123816490e-01, 1.90821492927058770002e-10
    k = math.floor(z / 0.6931471805599453 + 0.5)
    r = (z - k * ln2hi) - k * ln2lo
    term = total = 1.0
    for i in range(1, 21):
        term = term * r / i
        total = total + term
    return math.ldexp(total, int(k))


def plain_tanh(z):
    if z > 20:
        return 1.0
    if z < -20:
        return -1.0
    e = plain_exp(2 * z)
    return (e - 1) / (e + 1)


def mackey_glass():
    sub, delay = 10, 170
    steps = SAMPLES * sub
    fine = [1.2] * (steps + delay + 1)
    for i in range(delay, steps + delay):
        lag = fine[i - delay]
        lag2 = lag * lag
        lag4 = lag2 * lag2
        lag8 = lag4 * lag4
        fine[i + 1] = fine[i] + 0.1 * (0.2 * lag / (1 + lag8 * lag2) - 0.1 * fine[i])
    x = np.array([fine[delay + t * sub] for t in range(SAMPLES)])
    return x, np.array([plain_tanh(v - 1) for v in x])


def noise(count):
    state, out = 4242, []
    for _ in range(count):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out.append(((state >> 8) / 16777215.0 * 2 - 1) * 1e-4)
    return np.array(out)


def inputs_at(z, t):
    return [z[t]] + [z[t - d] for d in DELAYS] + [BIAS]


def evaluate(x, y, seed, neurons, radius, leak, scaling):
    """One-step and free-run NRMSE of one reservoir, as the demo measures them."""
    count = WARMUP + TRAIN
    ins = np.array([inputs_at(y, DROP + p) for p in range(count)])
    ins[:, 0] += noise(count) * 0.015
    targets = y[DROP + 1:DROP + count + 1].reshape(-1, 1)
    rcnet.randomize(seed)
    with rcnet.Network(ins.shape[1], 1) as net:
        net.add_neurons(neurons, "bisigmoid")
        net.add_connections(neurons * 53 // 10)
        net.add_back_connections(neurons * 5)
        net.set_spectral_radius(radius)
        net.init_input_matrix()
        net.set_input_scaling(scaling)
        net.set_leak_rate(leak)
        net.add_patterns(ins, targets)
        net.set_solver("stable")
        net.set_washout(WARMUP)
        net.learn()
        first = DROP + WARMUP + TRAIN
        truth = x[first + 1:first + TEST + 1]
        sd = truth.std()
        z = y.copy()
        out = net.propagate_series(np.array([inputs_at(z, t) for t in range(first, first + TEST)]))[:, 0]
        one_step = np.sqrt(np.mean((1 + np.arctanh(np.clip(out, -1 + 1e-16, 1 - 1e-16)) - truth) ** 2)) / sd
        se = 0.0
        for k in range(FREE):
            t = first + TEST + k
            o = min(max(net.propagate(inputs_at(z, t))[0], -1 + 1e-16), 1 - 1e-16)
            se += (1 + math.atanh(o) - x[t + 1]) ** 2
            z[t + 1] = o
    return float(one_step), math.sqrt(se / FREE) / sd


def plot(rows, setting, neurons, seeds, path):
    values = sorted({r["value"] for r in rows if r["setting"] == setting})
    fig, ax = plt.subplots(figsize=(6.4, 4))
    for column, colour, label in (("one_step", "tab:blue", "one step"), ("free_run", "tab:red", "84-step free run")):
        per = [[r[column] for r in rows if r["setting"] == setting and r["value"] == v] for v in values]
        ax.fill_between(values, [min(p) for p in per], [max(p) for p in per], color=colour, alpha=0.2)
        ax.plot(values, [float(np.median(p)) for p in per], "o-", color=colour, label=label + " (median)")
    ax.axvline(DEMO[setting], color="grey", linewidth=0.8, linestyle=":", label="the demo's value")
    ax.set_yscale("log")
    if setting == "input_scaling":
        ax.set_xscale("log")
    ax.set_xlabel(LABELS[setting] + " (the other two at the demo's values)")
    ax.set_ylabel("NRMSE")
    ax.set_title("Mackey-Glass, %d neurons, %d seed%s (band: min to max)" % (neurons, seeds, "s" * (seeds > 1)))
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default="curves")
    parser.add_argument("--neurons", type=int, default=400)
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    sweeps, neurons, seeds = SWEEPS, args.neurons, args.seeds
    if args.quick:
        sweeps, neurons, seeds = QUICK, 60, 1
    os.makedirs(args.out, exist_ok=True)
    x, y = mackey_glass()
    rows = []
    for setting, values in sweeps.items():
        for value in values:
            settings = dict(DEMO, **{setting: value})
            for seed in range(1, seeds + 1):
                one, free = evaluate(x, y, seed, neurons, settings["spectral_radius"], settings["leak_rate"],
                                     settings["input_scaling"])
                rows.append({"setting": setting, "value": value, "seed": seed, "one_step": one, "free_run": free})
    with open(os.path.join(args.out, "settings.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=["setting", "value", "seed", "one_step", "free_run"])
        writer.writeheader()
        for r in rows:
            writer.writerow(dict(r, one_step="%.4g" % r["one_step"], free_run="%.4g" % r["free_run"]))
    for setting in sweeps:
        plot(rows, setting, neurons, seeds, os.path.join(args.out, FILE_NAMES[setting] + ".png"))
        print("\n| %s | one-step NRMSE: median (min to max) | free-run NRMSE: median (min to max) |" % LABELS[setting])
        print("|---|---|---|")
        for value in sweeps[setting]:
            per = [r for r in rows if r["setting"] == setting and r["value"] == value]
            cells = []
            for column in ("one_step", "free_run"):
                v = [r[column] for r in per]
                cells.append("%.2g (%.2g to %.2g)" % (np.median(v), min(v), max(v)))
            print("| %g | %s | %s |" % (value, cells[0], cells[1]))
    # The demo's point must reproduce the demo: a check that the sweep measures what the demo does.
    demo = [r for r in rows if r["setting"] == "spectral_radius" and r["value"] == DEMO["spectral_radius"]]
    if not all(math.isfinite(r["one_step"]) and r["one_step"] < 0.01 for r in demo):
        sys.exit("plot_settings: at the demo's own settings the one-step NRMSE is not below 0.01")
    print("\nwrote %s" % os.path.abspath(args.out))


if __name__ == "__main__":
    main()
