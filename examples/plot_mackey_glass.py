"""Plots the Mackey-Glass demo: the target, the one-step and free-run predictions of the C host, and the
one-step predictions of the saved network reloaded in Python through the rcnet package.

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


def main(directory):
    trace = read_csv(os.path.join(directory, "mackey_glass.csv"))
    series = read_csv(os.path.join(directory, "mackey_glass_series.csv"))
    t = np.array([int(r["t"]) for r in trace])
    target = np.array([float(r["target"]) for r in trace])
    predicted = np.array([float(r["prediction"]) for r in trace])
    one_step = np.array([r["mode"] == "one-step" for r in trace])

    # The reloaded network starts from rest: warm it up on the 1000 samples before the test, then
    # predict the test segment one step ahead, as the C host does with its reloaded copies.
    x = {int(r["t"]): float(r["x"]) for r in series}
    y = {int(r["t"]): float(r["y"]) for r in series}
    first = t[0] - 1
    with rcnet.Network.load(os.path.join(directory, "mackey_glass.net")) as net:
        net.propagate_series(np.array([[3.5 * y[k]] for k in range(first - 1000, first)]))
        test = net.propagate_series(np.array([[3.5 * y[k]] for k in range(first, first + one_step.sum())]))
    reloaded = 1 + np.arctanh(np.clip(test[:, 0], -1 + 1e-16, 1 - 1e-16))

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
    print("plot: %s" % os.path.abspath(out))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
