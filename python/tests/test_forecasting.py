import pickle

import numpy as np
import pytest
from sklearn.metrics import r2_score
from sklearn.model_selection import GridSearchCV, TimeSeriesSplit, cross_val_score

import rcnet
import rcnet.metrics as metrics
from rcnet import ESNRegressor

T = np.arange(3001)


def noisy_sine_with_trend(seed):
    return np.sin(0.2 * T) + 0.01 * T + 0.1 * np.random.default_rng(seed).standard_normal(len(T))


def test_warm_start_continues_where_fit_left_the_reservoir():
    s = noisy_sine_with_trend(1)
    est = ESNRegressor(n_neurons=80, random_state=3).fit(s[:1000, None], s[1:1001])
    whole = est.predict(s[:1500, None])
    est.fit(s[:1000, None], s[1:1001])
    ahead = est.predict(s[1000:1200, None], warm_start=True)
    then = est.predict(s[1200:1500, None], warm_start=True)
    # The bits of one run from rest through the training rows and on.
    assert np.array_equal(np.concatenate([ahead, then]), whole[1000:])
    assert not np.array_equal(est.predict(s[1000:1200, None]), ahead)  # from rest: other values
    with pytest.raises(ValueError, match="from rest"):
        est.predict([s[:50, None]], warm_start=True)


def test_score_leaves_out_each_sequences_washout():
    s = noisy_sine_with_trend(2)
    est = ESNRegressor(n_neurons=60, washout=40, random_state=1).fit(s[:800, None], s[1:801])
    predicted = est.predict(s[800:1200, None])
    assert est.score(s[800:1200, None], s[801:1201]) == r2_score(s[841:1201], predicted[40:])
    # From rest the first rows answer a trend the reservoir has not seen yet: scored, they would
    # swamp the rest.
    assert r2_score(s[801:1201], predicted) < est.score(s[800:1200, None], s[801:1201]) - 0.1
    weights = np.linspace(1, 2, 400)
    assert est.score(s[800:1200, None], s[801:1201], weights) == r2_score(s[841:1201], predicted[40:],
                                                                          sample_weight=weights[40:])
    with pytest.raises(ValueError, match="nothing to score"):
        est.score(s[800:840, None], s[801:841])


def test_searches_pick_the_ridge_that_forecasts_best():
    grid = [1e-8, 1e-4, 1e-2, 0.1, 1.0]
    for seed in (10, 13):
        s = noisy_sine_with_trend(seed)
        X, y = s[:-1, None], s[1:]
        search = GridSearchCV(ESNRegressor(n_neurons=100, random_state=0), {"ridge": grid},
                              cv=TimeSeriesSplit(3)).fit(X[:2000], y[:2000])
        # What each ridge does where it counts: forecasting the steps after the training data.
        ahead = {r: r2_score(y[2000:], ESNRegressor(n_neurons=100, random_state=0, ridge=r)
                             .fit(X[:2000], y[:2000]).predict(X[2000:], warm_start=True)) for r in grid}
        assert search.best_params_["ridge"] == max(ahead, key=ahead.get), (seed, ahead)


def test_metrics():
    y = np.sin(0.1 * np.arange(500))
    assert metrics.nrmse(y, y) == 0
    assert metrics.nrmse(y, np.full_like(y, y.mean())) == pytest.approx(1)
    two = np.stack([y, 3 * y], 1)
    assert metrics.nrmse(two, two + np.array([0.1, 0.3])) == pytest.approx(0.1 / np.std(y))
    # Whole weights are repeated rows; the scorer passes a search's weights on.
    counts = np.arange(500) % 3
    noisy = y + 0.05 * np.cos(0.37 * np.arange(500))
    assert metrics.nrmse(y, noisy, sample_weight=counts) == pytest.approx(
        metrics.nrmse(np.repeat(y, counts), np.repeat(noisy, counts)))
    drift = y + 1e-3 * 1.05 ** np.arange(500)
    steps = metrics.valid_prediction_time(y, drift, threshold=0.4)
    assert 1e-3 * 1.05 ** (steps - 1) <= 0.4 * np.std(y) < 1e-3 * 1.05 ** steps
    assert metrics.valid_prediction_time(y, drift, lyapunov_exponent=0.9, dt=0.02) == pytest.approx(
        steps * 0.02 * 0.9)
    with pytest.raises(ValueError, match="differ in shape"):
        metrics.nrmse(y, y[:-1])


def test_scorers_work_in_cross_validation():
    s = noisy_sine_with_trend(3)
    est = ESNRegressor(n_neurons=60, ridge=1e-4, random_state=2)
    r2 = cross_val_score(est, s[:1500, None], s[1:1501], cv=TimeSeriesSplit(3), scoring=metrics.r2_scorer)
    assert np.array_equal(r2, cross_val_score(est, s[:1500, None], s[1:1501], cv=TimeSeriesSplit(3)))
    neg = cross_val_score(est, s[:1500, None], s[1:1501], cv=TimeSeriesSplit(3),
                          scoring=metrics.neg_nrmse_scorer)
    assert np.all(neg < 0) and np.all(-neg < 0.5)
    assert rcnet.metrics is metrics


def test_search_space_draws_within_its_ranges():
    space = rcnet.search_space(spectral_radius=None)
    assert sorted(space) == ["input_scaling", "leak_rate", "ridge"]
    draws = space["ridge"].rvs(2000, random_state=0)
    assert draws.min() >= 1e-10 and draws.max() <= 1
    with pytest.raises(ValueError, match="at most 1"):
        rcnet.search_space(leak_rate=(0.1, 2))
    with pytest.raises(ValueError, match="low < high"):
        rcnet.search_space(ridge=(1, 1e-3))


def test_a_bias_lets_a_bipolar_reservoir_fit_even_functions():
    u = np.random.default_rng(0).uniform(-1, 1, 3000)
    scores = {}
    for scaling in (0.0, 0.5):
        est = ESNRegressor(n_neurons=100, random_state=0, bias_scaling=scaling, ridge=1e-6)
        est.fit(u[:2000, None], u[:2000] ** 2)
        scores[scaling] = est.score(u[2000:, None], u[2000:] ** 2)
        bias = est.network_.bias
        assert np.all(bias == 0) if scaling == 0 else (np.all(bias != 0) and np.abs(bias).max() <= scaling)
    # Without it every state is an odd function of the inputs: u^2 is out of reach.
    assert scores[0.0] < 0.1 and scores[0.5] > 0.99
    again = pickle.loads(pickle.dumps(est))
    assert np.array_equal(again.network_.bias, est.network_.bias)
    assert np.array_equal(again.predict(u[2000:2100, None]), est.predict(u[2000:2100, None]))
    with pytest.raises(ValueError, match="bias_scaling"):
        ESNRegressor(bias_scaling=float("nan")).fit(u[:100, None], u[:100])


def test_arrays_for_custom_work():
    rcnet.randomize(4)
    with rcnet.Network(2, 1) as net:
        net.add_neurons(50, 1)
        net.add_connections(150)
        net.add_back_connections(200)
        assert net.input_matrix.shape == (0, 50)
        net.init_input_matrix()
        net.set_spectral_radius(0.9)
        net.set_input_scaling(0.5)
        W, F = net.links(), net.links(back=False)
        assert W.shape == (50, 50) and W.nnz == 200 and F.nnz == 150
        assert max(abs(np.linalg.eigvals(W.toarray()))) == pytest.approx(net.spectral_radius(), rel=1e-9)
        matrix = net.input_matrix
        assert matrix.shape == (2, 50) and np.all(np.abs(matrix) <= 0.5) and np.all(matrix != 0)
        xs = np.random.default_rng(0).standard_normal((40, 2))
        states = net.run_states(xs)
        # One step by hand from the states before: the matrices the step multiplies by.
        net.set_state(states[9])
        step = net.run_states(xs[10:11])[0]
        assert np.array_equal(step, states[10])
        inputs = matrix.T @ xs[10]
        by_hand = np.tanh((F @ np.tanh(inputs / 2) + W @ states[9]) / 2)
        assert np.allclose(step, by_hand, atol=1e-12)
        net.set_state(states[19])
        assert np.array_equal(net.run_states(xs[20:]), states[20:])
        with pytest.raises(rcnet.RcnetError):
            net.set_state(states[0][:-1])


def mackey_glass_rows(z, steps):
    # y(t), y(t-5), y(t-10), y(t-15) and a constant, as in the docs.
    return np.array([[z[t], z[t - 5], z[t - 10], z[t - 15], 0.25] for t in steps])


TAPS = [(0, 0, 1), (1, 0, 6), (2, 0, 11), (3, 0, 16)]


def test_generate_with_a_feedback_map_is_the_hand_loop():
    y = np.tanh(rcnet.datasets.mackey_glass(1600) - 1)
    est = ESNRegressor(n_neurons=120, ridge=1e-6, random_state=4)
    est.fit(mackey_glass_rows(y, range(20, 1200)), y[21:1201])
    warmup = mackey_glass_rows(y, range(1200, 1300))
    future = y.copy()
    future[1300:] = np.nan  # unknown from here: the warm-up's last output, then the loop's
    forecast = est.generate(60, warmup, feedback=TAPS, inputs=mackey_glass_rows(future, range(1300, 1359)))
    # By hand: every output becomes the next y.
    net, z = est.network_, y.copy()
    net.reset_state()
    fed = [net.run(warmup)[-1, 0]]
    for t in range(1300, 1359):
        z[t] = fed[-1]
        fed.append(net.propagate(mackey_glass_rows(z, [t])[0])[0])
    assert np.array_equal(forecast, np.array(fed))
    assert metrics.nrmse(y[1300:1320], forecast[:20]) < 0.05
    # The one-tap map is the plain closed loop; a dict says the same.
    plain = ESNRegressor(n_neurons=60, random_state=2).fit(y[:800, None], y[1:801])
    assert np.array_equal(plain.generate(40, y[800:900, None]),
                          plain.generate(40, y[800:900, None], feedback={0: (0, 1)}))
    with pytest.raises(ValueError, match=r"features \[4\] are not fed back"):
        est.generate(5, warmup, feedback=TAPS)
    # One step is the warm-up's last output: no closed-loop row to give.
    assert np.array_equal(est.generate(1, warmup, feedback=TAPS), forecast[:1])
    with pytest.raises(ValueError, match="n_steps - 1"):
        est.generate(5, warmup, feedback=TAPS, inputs=np.zeros((5, 5)))
    with pytest.raises(ValueError, match="fed back twice"):
        est.generate(3, warmup, feedback=TAPS + [(0, 0, 2)], inputs=np.zeros((2, 5)))
    with pytest.raises(ValueError, match="too short"):
        est.generate(3, warmup[:3], feedback=TAPS, inputs=np.full((2, 5), np.nan))
    with pytest.raises(ValueError, match=r"inputs\[0, 0\] is nan but the loop reads it"):
        net.generate(2, inputs=np.full((2, 5), np.nan), feedback=TAPS)


def test_the_defaults_have_skill():
    # Lorenz-63 in its own units: free runs stay valid for several Lyapunov times (the former
    # defaults, without a bias and with the inputs at full scale, managed about half of one).
    z = rcnet.datasets.lorenz63(9000, dt=0.01)[1000:]
    est = ESNRegressor(random_state=0).fit(z[:6000], z[1:6001])
    scale = np.sqrt(np.mean(np.sum((z[:6000] - z[:6000].mean(axis=0)) ** 2, axis=1)))
    free = est.generate(1000, z[5500:6001])
    assert metrics.valid_prediction_time(z[6001:7001], free, scale=scale, dt=0.01,
                                         lyapunov_exponent=rcnet.datasets.LORENZ63_LYAPUNOV) > 3
    # A noisy series: one step ahead it beats persistence, and its closed loop stays in range.
    s = noisy_sine_with_trend(3)
    est = ESNRegressor(random_state=0).fit(s[:2400, None], s[1:2401])
    ahead = est.predict(s[2400:3000, None], warm_start=True)
    assert metrics.nrmse(s[2401:3001], ahead) < metrics.nrmse(s[2401:3001], s[2400:3000])
    assert np.max(np.abs(est.generate(500, s[1900:2401, None]))) < 2 * np.max(np.abs(s))
    # The ridge comes from the data: the noise asks for far more than the clean series does.
    clean = np.sin(0.2 * T) + 0.01 * T
    assert est.ridge_ > 100 * ESNRegressor(random_state=0).fit(clean[:2400, None], clean[1:2401]).ridge_
