"""Plots the Mackey-Glass demo: the target, the one-step and free-run predictions of the C host, and the
one-step predictions of the saved network reloaded in Python through the rcnet package.

Before drawing it checks the curves on their data, and exits 1 when they disagree: the Python reload's
one-step outputs must be the C host's reload of the same file bit for bit (its column "reloaded_output"),
and lie on the trained network's predictions (the file keeps 6 digits of each weight).

Usage: plot_mackey_glass.py DIR   (the directory the demo wrote to; the PNG goes there too)
"""
import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import rcnet  # noqa: E402


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def reload_one_step(directory, first, steps, y):
    """The saved network's one-step outputs (the next y) from y(first ...), reloaded through the rcnet
    package. The file keeps the input matrix's scaling; the reloaded reservoir starts from rest, so it is
    warmed up on the 1000 samples before the test, as the C host does with its reloaded copies."""
    with rcnet.Network.load(os.path.join(directory, "mackey_glass.net")) as net:
        net.propagate_series(np.array([[y[k]] for k in range(first - 1000, first)]))
        return net.propagate_series(np.array([[y[k]] for k in range(first, first + steps)]))[:, 0]


def to_x(output):
    """x = 1 + atanh(y), the series the plot shows."""
    return 1 + np.arctanh(np.clip(output, -1 + 1e-16, 1 - 1e-16))


def check(trained, output_by_c, output):
    """Problems with the curves, as lines (none when they agree): trained, the C host's predictions of
    x; output_by_c and output, the reloaded network's outputs in the C host and here."""
    problems = []
    differ = int(np.sum(output != output_by_c))
    if differ:
        off = np.max(np.abs(output - output_by_c))
        problems.append("the Python reload differs from the C host's in %d of %d outputs (by up to %.3g)"
                        % (differ, len(output), off))
    apart = np.max(np.abs(to_x(output) - trained))
    if not apart <= 1e-3:
        problems.append("the reloaded predictions are %.3g away from the trained network's" % apart)
    return problems


def main(directory):
    trace = read_csv(os.path.join(directory, "mackey_glass.csv"))
    series = read_csv(os.path.join(directory, "mackey_glass_series.csv"))
    t = np.array([int(r["t"]) for r in trace])
    target = np.array([float(r["target"]) for r in trace])
    predicted = np.array([float(r["prediction"]) for r in trace])
    output_by_c = np.array([float(r["reloaded_output"]) for r in trace])
    one_step = np.array([r["mode"] == "one-step" for r in trace])
    y = {int(r["t"]): float(r["y"]) for r in series}
    output = reload_one_step(directory, t[0] - 1, int(one_step.sum()), y)
    problems = check(predicted[one_step], output_by_c[one_step], output)
    reloaded = to_x(output)
    for line in problems:
        print("plot_mackey_glass: %s" % line, file=sys.stderr)
    if problems:
        return 1

    fig, ax = plt.subplots(figsize=(11, 4.5))
    ax.plot(t, target, color="black", linewidth=1.2, label="target x(t)")
    ax.plot(t[one_step], predicted[one_step], color="tab:blue", linewidth=1, label="one step ahead")
    ax.plot(t[one_step], reloaded, color="tab:orange", linewidth=0.8, linestyle="--",
            label="one step ahead, reloaded in Python")
    ax.plot(t[~one_step], predicted[~one_step], color="tab:red", linewidth=1.5, label="free run (84 steps)")
    ax.axvline(t[~one_step][0], color="grey", linewidth=0.6)
    ax.set_xlabel("t (time units)")
    ax.set_ylabel("x")
    ax.set_title("rcnet: Mackey-Glass (tau = 17), 400 neurons")
    ax.legend(loc="lower left", fontsize=8)
    fig.tight_layout()
    out = os.path.join(directory, "mackey_glass.png")
    fig.savefig(out, dpi=110)
    print("plot: %s (the Python reload gives the C host's bits)" % os.path.abspath(out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
