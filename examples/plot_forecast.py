"""Plots what a forecast looks like, with the Python package's ESNRegressor and its defaults, on the
sine with a drifting amplitude of docs/PYTHON.md:

forecast.png  the one-step prediction over the test stretch against the target, the error below it
free_run.png  how a closed-loop forecast (generate) drifts away from the series, step by step, for
              several seeds, with the defaults, other ridges and the normal equations

Usage: plot_forecast.py [--out DIR] [--quick]
--quick: two seeds and a shorter free run (a few seconds; the tests use it).
"""
import argparse
import os
import sys
import warnings

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import rcnet  # noqa: E402

TRAIN, WARM, TEST = 1500, 100, 400


def series(count):
    t = np.arange(count)
    return np.sin(0.2 * t) * (0.6 + 0.3 * np.sin(0.013 * t))


def plot_one_step(s, path):
    model = rcnet.ESNRegressor(random_state=0).fit(s[:TRAIN, None], s[1:TRAIN + 1])
    # The test stretch starts WARM steps early so that the reservoir has warmed up when it counts.
    predicted = model.predict(s[TRAIN - WARM:TRAIN + TEST, None])[WARM:]
    target = s[TRAIN + 1:TRAIN + TEST + 1]
    error = predicted - target
    nrmse = np.sqrt(np.mean(error ** 2)) / np.std(s)
    t = np.arange(TRAIN + 1, TRAIN + TEST + 1)
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 5.5), sharex=True, gridspec_kw={"height_ratios": [2, 1]})
    top.plot(t, target, color="black", linewidth=2.2, label="target")
    top.plot(t, predicted, color="tab:orange", linewidth=1, linestyle="--", label="one step ahead")
    top.set_ylabel("value")
    top.set_title("ESNRegressor(random_state=0), defaults: one-step NRMSE %.1e" % nrmse)
    top.legend(loc="upper right", fontsize=8)
    bottom.plot(t, error, color="tab:red", linewidth=0.8)
    bottom.axhline(0, color="grey", linewidth=0.6)
    bottom.set_ylabel("prediction - target")
    bottom.ticklabel_format(axis="y", style="sci", scilimits=(0, 0))
    bottom.set_xlabel("step")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return nrmse


# What a free run depends on most: the readout and its ridge.
FREE_RUNS = (
    ('readout="normal", ridge=0', dict(readout="normal", ridge=0), "tab:red"),
    ("ridge=1e-4", dict(ridge=1e-4), "tab:orange"),
    ("defaults (stable readout, ridge chosen from the data)", {}, "tab:blue"),
    ("ridge=0", dict(ridge=0), "tab:green"),
)


def plot_free_run(s, seeds, steps, path):
    target = s[TRAIN + 1:TRAIN + steps + 1]
    fig, ax = plt.subplots(figsize=(9, 5))
    medians = {}
    for label, settings, colour in FREE_RUNS:
        errors = []
        for seed in seeds:
            model = rcnet.ESNRegressor(random_state=seed, **settings)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", rcnet.RcnetWarning)  # the normal equations' warnings
                model.fit(s[:TRAIN, None], s[1:TRAIN + 1])
            forecast = model.generate(steps, s[:TRAIN + 1, None])
            errors.append(np.abs(forecast - target))
            ax.plot(np.arange(1, steps + 1), errors[-1], color=colour, linewidth=0.4, alpha=0.4)
        medians[label] = np.median(errors, axis=0)
        ax.plot(np.arange(1, steps + 1), medians[label], color=colour, linewidth=1.8, label=label)
    ax.axhline(np.std(s), color="black", linewidth=0.8, linestyle=":", label="the series' standard deviation")
    ax.set_yscale("log")
    ax.set_xlabel("steps ahead (each fed the last output)")
    ax.set_ylabel("|forecast - series|")
    ax.set_title("generate() after training on %d steps, 200 neurons: median of %d seeds (thin: each seed)"
                 % (TRAIN, len(seeds)), fontsize=10)
    ax.legend(fontsize=8, loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return medians


def claims(nrmse, medians, deviation, steps):
    """What docs/PYTHON.md says of the two plots, checked on the curves drawn: lines for each that fails."""
    def first_above(median):
        beyond = np.flatnonzero(median > deviation)
        return int(beyond[0]) + 1 if len(beyond) else None

    problems = []
    if not nrmse < 1e-3:
        problems.append("the one-step NRMSE is %.3g, not below 1e-3" % nrmse)
    if not medians["ridge=0"].max() < 1e-5:
        problems.append("ridge=0 leaves 1e-5 of the series (%.3g)" % medians["ridge=0"].max())
    normal = first_above(medians['readout="normal", ridge=0'])
    if normal is None or normal > 30:
        problems.append("the normal equations without a ridge stay with the series past 30 steps (%s)" % normal)
    defaults = medians["defaults (stable readout, ridge chosen from the data)"]
    if not defaults.max() < 0.25 * deviation:
        problems.append("the defaults leave a quarter of the series' size (%.3g)" % defaults.max())
    if not medians["ridge=1e-4"][99] > defaults[99]:
        problems.append("ridge=1e-4 drifts no faster than the chosen ridge")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default="curves")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    seeds, steps = (range(2), 200) if args.quick else (range(5), 1000)
    os.makedirs(args.out, exist_ok=True)
    s = series(TRAIN + max(steps, TEST) + 1)
    nrmse = plot_one_step(s, os.path.join(args.out, "forecast.png"))
    medians = plot_free_run(s, seeds, steps, os.path.join(args.out, "free_run.png"))
    print("one-step NRMSE %.2g" % nrmse)
    for label, median in medians.items():
        print("%s: median free-run error after 10, 100, %d steps: %.2g, %.2g, %.2g"
              % (label, steps, median[9], median[99], median[-1]))
    # What the plots show, and docs/PYTHON.md says of them, must still hold: checked on the plotted data.
    problems = claims(nrmse, medians, np.std(s), steps)
    for line in problems:
        print("plot_forecast: %s" % line, file=sys.stderr)
    if problems:
        sys.exit(1)
    print("wrote %s" % os.path.abspath(args.out))


if __name__ == "__main__":
    main()
