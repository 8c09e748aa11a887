"""Standard series for reservoir computing, from plain IEEE arithmetic (+, -, *, / in a fixed order, no
C library exp or sin), so that every platform gets the same bits.

    mackey_glass(n_steps, tau=17, ...)   the Mackey-Glass delay equation, sampled every `step`
    lorenz63(n_steps, dt=0.01, ...)      the Lorenz system, (x, y, z) every dt
    narma(n_steps, order=10, seed=0)     NARMA of order n: its input u and output y
    mso(n_steps, frequencies=...)        multiple superimposed oscillators
    waveforms(n_sequences, ...)          noisy sine, square, sawtooth and triangle sequences to classify
"""

import numpy as np

__all__ = ["mackey_glass", "lorenz63", "narma", "mso", "waveforms", "WAVEFORMS", "LORENZ63_LYAPUNOV"]

# The largest Lyapunov exponent of lorenz63's default system, per time unit (for valid_prediction_time).
LORENZ63_LYAPUNOV = 0.9056


def _whole(value, name):
    if isinstance(value, (bool, np.bool_)) or int(value) != value or value < 0:
        raise ValueError(f"{name} must be a whole number >= 0, got {value!r}")
    return int(value)


def mackey_glass(n_steps, tau=17, step=1.0, dt=0.1, a=0.2, b=0.1, x0=1.2):
    """x(t) for t = 0, step, 2 step, ... (n_steps values) of dx/dt = a x(t - tau) / (1 + x(t - tau)^10)
    - b x(t), by Euler steps of dt from a history of x0: x' = x + dt (a lag / (1 + lag^10) - b x), lag^10
    as lag^8 lag^2. tau and step must be whole multiples of dt. The defaults give the demo's series
    (examples/mackey_glass.c) bit for bit."""
    n_steps = _whole(n_steps, "n_steps")
    delay, sub = round(tau / dt), round(step / dt)
    if delay < 1 or sub < 1 or abs(delay * dt - tau) > 1e-9 * tau or abs(sub * dt - step) > 1e-9 * step:
        raise ValueError(f"tau ({tau}) and step ({step}) must be whole multiples of dt ({dt}), at least one")
    fine = [float(x0)] * (delay + 1)
    for i in range(delay, delay + (n_steps - 1) * sub if n_steps else delay):
        lag, x = fine[i - delay], fine[i]
        lag2 = lag * lag
        lag4 = lag2 * lag2
        lag8 = lag4 * lag4
        fine.append(x + dt * (a * lag / (1 + lag8 * lag2) - b * x))
    return np.array([fine[delay + t * sub] for t in range(n_steps)])


def lorenz63(n_steps, dt=0.01, sigma=10.0, rho=28.0, beta=8.0 / 3.0, start=(1.0, 1.0, 1.0)):
    """n_steps rows (x, y, z) of the Lorenz system dx = sigma (y - x), dy = x (rho - z) - y, dz = x y -
    beta z, one classical Runge-Kutta step of dt between rows, row 0 the start. Its largest Lyapunov
    exponent with the defaults: LORENZ63_LYAPUNOV per time unit."""
    n_steps = _whole(n_steps, "n_steps")

    def f(x, y, z):
        return sigma * (y - x), x * (rho - z) - y, x * y - beta * z

    x, y, z = (float(v) for v in start)
    rows = []
    for _ in range(n_steps):
        rows.append((x, y, z))
        k1 = f(x, y, z)
        k2 = f(x + dt / 2 * k1[0], y + dt / 2 * k1[1], z + dt / 2 * k1[2])
        k3 = f(x + dt / 2 * k2[0], y + dt / 2 * k2[1], z + dt / 2 * k2[2])
        k4 = f(x + dt * k3[0], y + dt * k3[1], z + dt * k3[2])
        x = x + dt / 6 * (k1[0] + 2 * k2[0] + 2 * k3[0] + k4[0])
        y = y + dt / 6 * (k1[1] + 2 * k2[1] + 2 * k3[1] + k4[1])
        z = z + dt / 6 * (k1[2] + 2 * k2[2] + 2 * k3[2] + k4[2])
    return np.array(rows).reshape(n_steps, 3)


def narma(n_steps, order=10, seed=0):
    """(u, y), n_steps each: u uniform in [0, 0.5) from numpy's PCG64 generator seeded with seed (the same
    bits everywhere), and y(t + 1) = 0.3 y(t) + 0.05 y(t) (y(t) + ... + y(t - order + 1)) + 1.5 u(t - order
    + 1) u(t) + 0.1, y = 0 before order steps, the sum added from the oldest term on. Orders far above 10
    may diverge on some inputs (as NARMA does)."""
    n_steps, order = _whole(n_steps, "n_steps"), _whole(order, "order")
    if order < 1:
        raise ValueError("order must be at least 1")
    u = np.random.Generator(np.random.PCG64(seed)).random(n_steps) * 0.5
    y = [0.0] * n_steps
    for t in range(order - 1, n_steps - 1):
        total = 0.0
        for k in range(t - order + 1, t + 1):
            total = total + y[k]
        y[t + 1] = 0.3 * y[t] + 0.05 * y[t] * total + 1.5 * u[t - order + 1] * u[t] + 0.1
    return u, np.array(y)


# 2 pi in two parts (the high part has zeros in its last bits), for an exact reduction of k 2 pi.
_TWO_PI_HI = 6.28318530717958623200e+00
_TWO_PI_LO = 2.44929359829470635446e-16


def _plain_sin(x):
    """sin from plain arithmetic: x - k 2 pi into [-pi, pi], then the Taylor series to the 33rd power."""
    x = np.asarray(x, dtype=float)
    k = np.floor(x / (_TWO_PI_HI + _TWO_PI_LO) + 0.5)
    r = (x - k * _TWO_PI_HI) - k * _TWO_PI_LO
    r2 = r * r
    total = np.ones_like(r)
    for n in range(31, 0, -2):  # Horner in r^2: r (1 - r^2 / (2 3) (1 - r^2 / (4 5) (...)))
        total = 1 - r2 / ((n + 1) * (n + 2)) * total
    return r * total


def mso(n_steps, frequencies=(0.2, 0.311, 0.42, 0.51, 0.63, 0.74, 0.85, 0.97)):
    """The sum of sin(f t) over the frequencies, t = 0 .. n_steps - 1, added in the order given (the
    usual MSO-k task takes the first k); sin from plain arithmetic."""
    n_steps = _whole(n_steps, "n_steps")
    t = np.arange(n_steps, dtype=float)
    total = np.zeros(n_steps)
    for f in frequencies:
        total = total + _plain_sin(f * t)
    return total


WAVEFORMS = ("sine", "square", "sawtooth", "triangle")


def waveforms(n_sequences, noise=0.3, lengths=(50, 150), period=(12.0, 20.0), seed=0):
    """A sequence classification task: n_sequences series of one of four shapes (WAVEFORMS: sine, square,
    sawtooth, triangle; the label is the index), each with its own length (uniform in lengths), period
    (uniform in period), phase and amplitude (uniform in [0.5, 1.5]), plus Gaussian noise of standard
    deviation `noise`, drawn from numpy's PCG64 with the seed. Returns (X, y): a list of (length, 1)
    arrays and an int array of labels."""
    n_sequences = _whole(n_sequences, "n_sequences")
    if not (len(lengths) == 2 and 1 <= lengths[0] <= lengths[1]):
        raise ValueError(f"lengths must be (shortest, longest) with 1 <= shortest <= longest, got {lengths!r}")
    if not (len(period) == 2 and 0 < period[0] <= period[1] < np.inf):
        raise ValueError(f"period must be (shortest, longest) with 0 < shortest <= longest, got {period!r}")
    if not 0 <= noise < np.inf:
        raise ValueError(f"noise must be a finite number >= 0, got {noise!r}")
    rng = np.random.Generator(np.random.PCG64(seed))
    X, y = [], np.empty(n_sequences, dtype=int)
    for k in range(n_sequences):
        label = int(rng.integers(len(WAVEFORMS)))
        length = int(rng.integers(lengths[0], lengths[1] + 1))
        cycles = np.arange(length) / rng.uniform(*period) + rng.uniform(0, 1)
        fraction = cycles - np.floor(cycles)  # where in its cycle each step is, in [0, 1)
        if label == 0:
            shape = _plain_sin(2 * np.pi * fraction)
        elif label == 1:
            shape = np.where(fraction < 0.5, 1.0, -1.0)
        elif label == 2:
            shape = 2 * fraction - 1
        else:
            shape = 1 - 4 * np.abs(fraction - 0.5)
        X.append((rng.uniform(0.5, 1.5) * shape + noise * rng.standard_normal(length))[:, None])
        y[k] = label
    return X, y
