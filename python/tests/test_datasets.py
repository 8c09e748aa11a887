import csv

import numpy as np
import pytest
from scipy.integrate import solve_ivp

from rcnet import datasets


def test_mackey_glass_is_the_demo_hosts_series(demo_output):
    # The C demo computes the same series with its own plain arithmetic: the same bits.
    with open(demo_output / "mackey_glass_series.csv", newline="") as f:
        x = np.array([float(row["x"]) for row in csv.DictReader(f)])
    assert np.array_equal(datasets.mackey_glass(len(x)), x)
    # Sampled every 2 time units: every other sample of the same run.
    assert np.array_equal(datasets.mackey_glass(len(x) // 2, step=2.0), x[:len(x) // 2 * 2:2])
    with pytest.raises(ValueError, match="whole multiples"):
        datasets.mackey_glass(10, tau=17.05)


def test_lorenz63_is_a_fourth_order_solution():
    rows = datasets.lorenz63(101, dt=0.01)
    assert rows.shape == (101, 3) and np.array_equal(rows[0], [1, 1, 1])

    def f(_, v):
        return [10 * (v[1] - v[0]), v[0] * (28 - v[2]) - v[1], v[0] * v[1] - 8 / 3 * v[2]]

    exact = solve_ivp(f, (0, 1), [1, 1, 1], method="DOP853", rtol=1e-13, atol=1e-13).y[:, -1]
    assert np.max(np.abs(rows[100] - exact)) < 1e-4
    coarse = np.max(np.abs(datasets.lorenz63(201, dt=0.005)[200] - exact))
    fine = np.max(np.abs(datasets.lorenz63(401, dt=0.0025)[400] - exact))
    assert 12 < coarse / fine < 20  # Runge-Kutta's fourth order: about 16x for half the step
    assert np.array_equal(datasets.lorenz63(101, dt=0.01), rows)


def test_narma_follows_its_recurrence():
    u, y = datasets.narma(3000, order=10, seed=4)
    assert 0 <= u.min() and u.max() < 0.5 and np.all(np.isfinite(y))
    window = np.convolve(y, np.ones(10))[9:len(y) - 1]  # y(t - 9) + ... + y(t)
    expected = 0.3 * y[9:-1] + 0.05 * y[9:-1] * window + 1.5 * u[:-10] * u[9:-1] + 0.1
    assert np.allclose(y[10:], expected, rtol=1e-13, atol=0)
    again_u, again_y = datasets.narma(3000, order=10, seed=4)
    assert np.array_equal(again_u, u) and np.array_equal(again_y, y)
    assert not np.array_equal(datasets.narma(3000, order=10, seed=5)[0], u)
    _, y5 = datasets.narma(2000, order=5, seed=4)
    assert np.all(y5[:5] == 0) and np.all(np.isfinite(y5)) and y5[5] != 0


def test_mso_is_the_sum_of_its_sines():
    for k in (1, 2, 5, 8):
        frequencies = (0.2, 0.311, 0.42, 0.51, 0.63, 0.74, 0.85, 0.97)[:k]
        t = np.arange(5000)
        expected = np.sum([np.sin(f * t) for f in frequencies], axis=0)
        assert np.max(np.abs(datasets.mso(5000, frequencies) - expected)) < 1e-12


def test_waveforms_are_labelled_sequences_of_their_shape():
    X, y = datasets.waveforms(200, seed=7)
    again, labels = datasets.waveforms(200, seed=7)
    assert np.array_equal(y, labels) and all(np.array_equal(a, b) for a, b in zip(X, again))
    assert {len(x) for x in X} <= set(range(50, 151)) and set(y) == {0, 1, 2, 3}
    # Without noise a square wave takes two values, a sine's mean absolute value is about 2/pi of its
    # peak, a triangle's and a sawtooth's about half of it.
    clean, shape = datasets.waveforms(40, noise=0.0, seed=3)
    for x, label in zip(clean, shape):
        ratio = np.mean(np.abs(x)) / np.max(np.abs(x))
        if label == 1:
            assert len(np.unique(np.abs(x))) == 1
        else:
            assert abs(ratio - (2 / np.pi if label == 0 else 0.5)) < 0.08
    for bad in ({"lengths": (0, 0)}, {"lengths": (20, 10)}, {"period": (0, 0)}, {"noise": -0.1}):
        with pytest.raises(ValueError, match=next(iter(bad))):
            datasets.waveforms(5, **bad)
