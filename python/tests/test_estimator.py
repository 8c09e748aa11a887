import copy
import os
import pickle
import subprocess
import sys
import threading
import warnings

import joblib
import numpy as np
import pytest
from sklearn.base import clone
from sklearn.metrics import r2_score
from sklearn.model_selection import GridSearchCV, TimeSeriesSplit
from sklearn.utils.estimator_checks import check_estimator

import rcnet
from rcnet import ESNRegressor

T = np.arange(1600)
# A sine whose amplitude drifts slowly, so that the next step needs some memory of the past ones.
SERIES = np.sin(0.2 * T) * (0.6 + 0.3 * np.sin(0.013 * T))


def nrmse(predicted, actual):
    return np.sqrt(np.mean((predicted - actual) ** 2)) / np.std(actual)


def fitted(**params):
    params.setdefault("random_state", 5)
    return ESNRegressor(**params).fit(SERIES[:1000, None], SERIES[1:1001])


@pytest.mark.parametrize("estimator", [ESNRegressor(), rcnet.ESNClassifier(n_neurons=50)], ids=type)
def test_passes_scikit_learn_checks(estimator):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        check_estimator(estimator)


def test_classifier_labels_sequences():
    X, y = rcnet.datasets.waveforms(160, seed=5)
    names = np.array(rcnet.datasets.WAVEFORMS)[y]  # string labels
    clf = rcnet.ESNClassifier(n_neurons=80, random_state=1).fit(X[:120], names[:120])
    assert list(clf.classes_) == sorted(rcnet.datasets.WAVEFORMS)
    assert clf.score(X[120:], names[120:]) > 0.5  # four classes: chance is 0.25
    proba = clf.predict_proba(X[120:])
    assert proba.shape == (40, 4) and np.allclose(proba.sum(axis=1), 1)
    assert np.array_equal(clf.classes_[np.argmax(clf.decision_function(X[120:]), axis=1)], clf.predict(X[120:]))
    # Two classes: one score per sequence, above 0 for the second class.
    two = rcnet.ESNClassifier(n_neurons=40, random_state=1, decision="last").fit(X[:120], y[:120] % 2)
    assert np.array_equal(two.predict(X[120:]), (two.decision_function(X[120:]) > 0).astype(int))
    with pytest.raises(ValueError, match="decision must be"):
        rcnet.ESNClassifier(decision="max").fit(X, y)
    # Univariate series as 1-D arrays are the same sequences as their one-column form.
    flat = [x[:, 0] for x in X[120:]]
    assert clf.n_features_in_ == 1 and np.array_equal(clf.predict(flat), clf.predict(X[120:]))


def test_predicts_and_forecasts_a_series():
    est = fitted()
    assert (est.n_features_in_, est.n_outputs_, est.washout_) == (1, 1, 100)
    # From rest, with 100 known steps to warm up on; whatever ran before.
    predicted = est.predict(SERIES[900:1400, None])
    assert predicted.shape == (500,)
    assert nrmse(predicted[100:], SERIES[1001:1401]) < 1e-4
    assert est.score(SERIES[900:1400, None], SERIES[901:1401]) > 0.99
    est.network_.reset_state()
    assert np.array_equal(est.network_.run(SERIES[900:1400])[:, 0], predicted)
    # Closed loop: the first row is the step after the warm-up; off by one step would be about 0.2.
    free = est.generate(60, SERIES[900:1400, None])
    assert free.shape == (60,) and free[0] == predicted[-1]
    assert nrmse(free[:30], SERIES[1400:1430]) < 0.03
    assert nrmse(free, SERIES[1400:1460]) < 0.1
    assert est.generate(0, SERIES[:5, None]).shape == (0,)
    # A test set shorter than the fit's washout (100 rows): a fractional washout leaves out a tenth of it;
    # a washout given as a count leaves out that count.
    short_x, short_y = SERIES[1400:1480, None], SERIES[1401:1481]
    assert est.score(short_x, short_y) == r2_score(short_y[8:], est.predict(short_x)[8:])
    counted = fitted(washout=100)
    with pytest.raises(ValueError, match="nothing to score"):
        counted.score(short_x, short_y)


def readout_by_hand(seed, sequences, neurons, forward, back, radius, washout, defaults=True):
    """The readout of the Network calls that ESNRegressor stands for: with its defaults (a bias, the
    input matrix scaled by 0.1 over the inputs' spread, the ridge chosen from the training states), or
    with bias_scaling=0, input_scaling=1, relative_input_scaling=False and ridge=1e-8."""
    rcnet.randomize(seed)
    with rcnet.Network(1, sequences[0][1].shape[1]) as net:
        net.add_neurons(neurons, "bisigmoid")
        net.add_connections(forward)
        net.add_back_connections(back)
        net.init_input_matrix()
        if defaults:
            net.init_bias(1.0)
        if radius is not None:
            net.set_spectral_radius(radius)
        if defaults:
            X = np.concatenate([xs for xs, _ in sequences])  # one feature: its spread, summed left to right
            net.set_input_scaling(0.1 / np.sqrt(np.cumsum((X - np.cumsum(X)[-1] / len(X)) ** 2)[-1] / len(X)))
        net.set_solver("stable")
        ridge = 1e-8
        if defaults:
            states = []
            for xs, _ in sequences:
                net.reset_state()
                states.append(net.run_states(xs)[washout:])
            ridge = rcnet.choose_ridge(np.concatenate(states), np.concatenate([ys[washout:] for _, ys in sequences]))[0]
        net.set_ridge(ridge)
        net.set_washout(washout)
        net.fit(sequences, jointly=True)
        return net.readout


def test_seed_is_the_library_seed_and_leaves_the_callers_generator():
    est = ESNRegressor(n_neurons=40, forward_links=3, back_links=4, spectral_radius=None, washout=20,
                       bias_scaling=0, input_scaling=1, relative_input_scaling=False, ridge=1e-8,
                       random_state=77).fit(SERIES[:400, None], SERIES[1:401])
    by_hand = readout_by_hand(77, [(SERIES[:400, None], SERIES[1:401, None])], 40, 120, 160, None, 20, False)
    assert np.array_equal(by_hand, est.network_.readout)
    # fit drew in a thread of its own: this thread's generator goes on as if fit had not run.
    radii = []
    for fit_between in (True, False):
        rcnet.randomize(3)
        if fit_between:
            fitted(n_neurons=30)
        with rcnet.Network(1, 1) as net:
            net.add_neurons(30, "bisigmoid")
            net.add_back_connections(90)
            radii.append(net.spectral_radius())
    assert radii[0] == radii[1]


def test_results_do_not_depend_on_the_thread():
    here = fitted(n_neurons=60).predict(SERIES[:200, None])
    there = []
    worker = threading.Thread(target=lambda: there.append(fitted(n_neurons=60).predict(SERIES[:200, None])))
    worker.start()
    worker.join()
    assert np.array_equal(here, there[0])
    assert not np.array_equal(here, fitted(n_neurons=60, random_state=6).predict(SERIES[:200, None]))


def test_sequences_and_several_outputs():
    pairs = [(SERIES[i:i + 400, None], np.stack([SERIES[i + 1:i + 401], SERIES[i + 2:i + 402]], 1)) for i in (0, 500)]
    est = ESNRegressor(n_neurons=60, washout=30, random_state=1).fit(*map(list, zip(*pairs)))
    assert est.n_outputs_ == 2
    assert np.array_equal(readout_by_hand(1, pairs, 60, 300, 300, 1.2, 30), est.network_.readout)
    tests = [SERIES[i:i + 500, None] for i in (1000, 1050)]
    targets = [np.stack([SERIES[i + 1:i + 501], SERIES[i + 2:i + 502]], 1) for i in (1000, 1050)]
    predicted = est.predict(tests)
    assert [p.shape for p in predicted] == [(500, 2), (500, 2)]
    assert nrmse(predicted[1][100:], targets[1][100:]) < 0.01
    # Over the two sequences' rows after each one's washout, each run from rest.
    assert est.score(tests, targets) == pytest.approx(
        r2_score(np.concatenate([t[30:] for t in targets]), np.concatenate([p[30:] for p in predicted])))
    with pytest.raises(ValueError, match="as many outputs as features"):
        est.generate(5, SERIES[:10, None])


def test_column_targets_keep_their_shape():
    est = ESNRegressor(n_neurons=30, random_state=2).fit(SERIES[:300, None], SERIES[1:301, None])
    assert est.predict(SERIES[:50, None]).shape == (50, 1)
    assert est.generate(4, SERIES[:50, None]).shape == (4, 1)


def test_clear_errors():
    est = ESNRegressor(n_neurons=30, random_state=2).fit(np.zeros((50, 3)), np.zeros(50))
    with pytest.raises(ValueError, match="expected 3 features, got 2"):
        est.predict(np.zeros((10, 2)))
    with pytest.raises(ValueError, match="leaves nothing to fit"):
        ESNRegressor(washout=50).fit(np.zeros((50, 1)), np.zeros(50))
    for params, message in [({"n_neurons": 0}, "n_neurons"), ({"neuron_type": "tanh"}, "neuron_type"),
                            ({"leak_rate": 1.5}, "leak_rate"), ({"washout": 1.5}, "washout"),
                            ({"back_links": 0}, "needs back links"), ({"readout": "qr"}, "readout"),
                            ({"random_state": -1}, "random_state"), ({"ridge": np.inf}, "ridge"),
                            ({"spectral_radius": np.inf}, "spectral_radius"),
                            ({"input_scaling": np.inf}, "input_scaling"), ({"forward_links": np.inf}, "forward_links"),
                            ({"n_neurons": 50, "back_links": 0.02, "random_state": 0}, "form no cycle")]:
        with pytest.raises(ValueError, match=message):
            ESNRegressor(**params).fit(np.zeros((50, 1)), np.zeros(50))
    with pytest.raises(ValueError, match="list of as many"):
        ESNRegressor().fit([np.zeros((50, 1))], np.zeros(50))
    with pytest.warns(rcnet.RcnetWarning, match="the inputs reach no neuron"):
        dead = ESNRegressor(n_neurons=20, forward_links=0, random_state=0).fit(SERIES[:200, None], SERIES[1:201])
    assert np.ptp(dead.predict(SERIES[200:300, None])) == 0  # a constant, as warned
    with pytest.raises(ValueError, match="n_steps must be an int"):
        est.generate(2.5, np.zeros((5, 3)))
    with pytest.raises(ValueError, match="washout must be"):
        rcnet.ESNClassifier(washout=2.5).fit(np.zeros((4, 6, 1)), [0, 1, 0, 1])


def test_data_frame_columns_must_match():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"a": SERIES[:300], "b": np.cos(0.05 * np.arange(300))})
    est = ESNRegressor(n_neurons=30, random_state=1).fit(frame, SERIES[1:301])
    assert list(est.feature_names_in_) == ["a", "b"]
    with pytest.raises(ValueError, match="feature names should match"):
        est.predict(frame[["b", "a"]])


def test_pickle_is_bit_identical_and_clone_takes_params_only():
    est = fitted(n_neurons=80, leak_rate=0.7, input_scaling=0.8)
    text = pickle.dumps(est)
    again = pickle.loads(text)
    assert again.network_.id != est.network_.id
    assert np.array_equal(again.predict(SERIES[1000:1300, None]), est.predict(SERIES[1000:1300, None]))
    assert np.array_equal(again.network_.readout, est.network_.readout)
    # In a process of its own too.
    code = ("import pickle, sys, numpy as np; est = pickle.load(sys.stdin.buffer); "
            "sys.stdout.buffer.write(est.predict(np.sin(0.1 * np.arange(200))[:, None]).tobytes())")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(rcnet.__file__)))
    out = subprocess.run([sys.executable, "-c", code], input=text, capture_output=True, check=True, env=env).stdout
    assert np.array_equal(np.frombuffer(out), est.predict(np.sin(0.1 * np.arange(200))[:, None]))
    copied = copy.deepcopy(est)
    assert np.array_equal(copied.predict(SERIES[:100, None]), est.predict(SERIES[:100, None]))
    fresh = clone(est)
    assert fresh.get_params() == est.get_params()
    assert not hasattr(fresh, "network_")


def trained_network():
    rcnet.randomize(9)
    net = rcnet.Network(1, 1)
    net.add_neurons(40, "bisigmoid")
    net.add_connections(200)
    net.add_back_connections(200)
    net.init_input_matrix()
    net.set_leak_rate(0.6)
    net.set_solver("stable")
    net.set_washout(25)
    net.set_ridge(1e-9)
    net.add_patterns(SERIES[:500, None], SERIES[1:501, None])
    net.learn()
    return net


@pytest.mark.parametrize("how", ["copy", "deepcopy", "pickle"])
def test_network_copies_are_new_networks_with_the_same_model(how, tmp_path):
    net = trained_network()
    net.set_file_precision(8)
    net.save(tmp_path / "before.txt")
    other = {"copy": copy.copy, "deepcopy": copy.deepcopy,
             "pickle": lambda n: pickle.loads(pickle.dumps(n))}[how](net)
    assert other.id != net.id and not other.closed
    assert (other.inputs, other.outputs, other.threshold, other.leak_rate) == (1, 1, True, 0.6)
    net.reset_state()
    assert np.array_equal(other.run(SERIES[:300]), net.run(SERIES[:300]))
    # Copying did not change the original's file precision (8 digits); the copy has it too.
    net.save(tmp_path / "after.txt")
    other.save(tmp_path / "copy.txt")
    net.set_file_precision(6)
    net.save(tmp_path / "six.txt")
    before = (tmp_path / "before.txt").read_text()
    assert before == (tmp_path / "after.txt").read_text() == (tmp_path / "copy.txt").read_text()
    assert before != (tmp_path / "six.txt").read_text()
    # The readout settings came along (not the stored patterns): a washout of 25 leaves 20 patterns nothing.
    other.add_patterns(SERIES[:20, None], SERIES[1:21, None])
    with pytest.raises(rcnet.RcnetError, match="washout"):
        other.learn()
    # Each owns its id: collecting the copy leaves the original registered.
    del other
    assert net.run(SERIES[:3]).shape == (3, 1)
    net.close()
    with pytest.raises(ValueError, match="closed"):
        copy.copy(net)


def search_data():
    return SERIES[:600, None], SERIES[1:601]


GRID = {"spectral_radius": [0.5, 0.9], "input_scaling": [0.5, 1.0]}


def search(kind="regressor", **params):
    if kind == "classifier":
        X, y = rcnet.datasets.waveforms(60, seed=3)
        return GridSearchCV(rcnet.ESNClassifier(n_neurons=40, random_state=4), GRID, cv=3, **params).fit(X, y)
    X, y = search_data()
    return GridSearchCV(ESNRegressor(n_neurons=60, random_state=4), GRID, cv=TimeSeriesSplit(3), **params).fit(X, y)


@pytest.mark.parametrize("kind", ["regressor", "classifier"])
def test_grid_search_in_two_processes_matches_one(kind):
    serial = search(kind)
    parallel = search(kind, n_jobs=2)
    assert np.array_equal(parallel.cv_results_["mean_test_score"], serial.cv_results_["mean_test_score"])
    assert parallel.best_params_ == serial.best_params_
    assert serial.best_score_ > (0.9 if kind == "regressor" else 0.4)


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # tornado, inside distributed
@pytest.mark.parametrize("kind", ["regressor", "classifier"])
def test_grid_search_on_a_dask_cluster_matches_one_process(kind):
    distributed = pytest.importorskip("distributed")
    serial = search(kind)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        with joblib.parallel_backend("dask"):
            remote = search(kind)
        # The trials ran in the workers, not here.
        assert len(client.scheduler_info()["workers"]) == 2
    assert np.array_equal(remote.cv_results_["mean_test_score"], serial.cv_results_["mean_test_score"])


def test_one_estimator_predicts_from_many_threads():
    s = np.sin(0.2 * np.arange(1500))
    est = ESNRegressor(n_neurons=100, random_state=0).fit(s[:1000, None], s[1:1001])
    expected = est.predict(s[:500, None])
    results = []

    def work():
        results.extend(np.array_equal(est.predict(s[:500, None]), expected) for _ in range(10))

    threads = [threading.Thread(target=work) for _ in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [True] * 60


def test_progress_of_long_work(capsys):
    # The library's fractions (tested natively) reach a Python callback through ctypes, and only while set.
    seen = []
    with rcnet.Network(1, 1) as net:
        net.add_neurons(50, "bisigmoid")
        net.init_input_matrix()
        net.add_patterns(SERIES[:200, None], SERIES[1:201, None])
        net.learn()
        net.set_progress(seen.append)
        net.run(np.zeros((9000, 1)))
        net.set_progress(None)
        net.run(np.zeros((9000, 1)))
    assert seen == [4096 / 9000, 8192 / 9000, 1.0]
    ESNRegressor(n_neurons=60, random_state=0).fit(SERIES[:1000, None], SERIES[1:1001])
    assert capsys.readouterr().err == ""  # silent by default, as in searches
    ESNRegressor(n_neurons=60, random_state=0, verbose=True).fit(SERIES[:1000, None], SERIES[1:1001])
    assert "rcnet: fitting 60 neurons" in capsys.readouterr().err
