"""The figures the docs quote agree with the data their plots are drawn from."""
import csv
import os
import re
import sys

import numpy as np

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SETTINGS = {"spectral radius": "spectral_radius", "leak rate": "leak_rate", "input scaling": "input_scaling"}


def test_the_settings_tables_are_the_plotted_data():
    # docs/CHOOSING.md's tables against docs/curves/settings.csv, which plot_settings.py plots.
    with open(os.path.join(ROOT, "docs", "curves", "settings.csv"), newline="") as f:
        rows = list(csv.DictReader(f))
    with open(os.path.join(ROOT, "docs", "CHOOSING.md")) as f:
        text = f.read()
    table = re.compile(r"^\| (spectral radius|leak rate|input scaling) \| one-step NRMSE: median \(best to worst\) "
                       r"\| free-run NRMSE: median \(best to worst\) \|\n\|---\|---\|---\|\n((?:\|.*\|\n)+)", re.M)
    checked = set()
    for match in table.finditer(text):
        setting = SETTINGS[match.group(1)]
        for line in match.group(2).splitlines():
            cells = [c.strip() for c in line.strip("|").split("|")]
            per = [r for r in rows if r["setting"] == setting and float(r["value"]) == float(cells[0])]
            assert per, line
            for column, cell in zip(("one_step", "free_run"), cells[1:]):
                values = [float(r[column]) for r in per]
                quoted = [float(x) for x in re.findall(r"[0-9.]+(?:e-?[0-9]+)?", cell)]
                measured = [np.median(values), min(values), max(values)]
                # Quoted to two significant digits.
                assert np.allclose(quoted, measured, rtol=0.051, atol=0), (line, column, measured)
            checked.add((setting, float(cells[0])))
    assert {s for s, _ in checked} == set(SETTINGS.values())
    assert checked == {(r["setting"], float(r["value"])) for r in rows}


def test_the_demo_plot_fails_on_a_wrong_curve(demo_output):
    # The demo's plot script checks its curves before drawing: the Python reload must give the C host's
    # reload bit for bit. A reload fed the input scaled twice (the plot's old fault) must be refused.
    sys.path.insert(0, os.path.join(ROOT, "examples"))
    import plot_mackey_glass as plot

    trace = plot.read_csv(str(demo_output / "mackey_glass.csv"))
    one_step = [r for r in trace if r["mode"] == "one-step"]
    trained = np.array([float(r["prediction"]) for r in one_step])
    by_c = np.array([float(r["reloaded_output"]) for r in one_step])
    y = {int(r["t"]): float(r["y"]) for r in plot.read_csv(str(demo_output / "mackey_glass_series.csv"))}
    first = int(trace[0]["t"]) - 1
    assert plot.check(trained, by_c, plot.reload_one_step(str(demo_output), first, len(by_c), y)) == []
    twice = {t: 3.5 * v for t, v in y.items()}
    assert len(plot.check(trained, by_c, plot.reload_one_step(str(demo_output), first, len(by_c), twice))) == 2
