import os
import threading
import warnings

import numpy as np
import pytest

import rcnet

SINE = np.sin(0.2 * np.arange(700))


def trained_sine_net(seed=2, neurons=30):
    """A reservoir trained to predict the next sample of SINE from the current one (400 patterns)."""
    rcnet.randomize(seed)
    net = rcnet.Network(1, 1)
    net.add_neurons(neurons, "bisigmoid")
    net.add_connections(neurons * 53 // 10)
    net.add_back_connections(neurons * 118 // 10)
    net.init_input_matrix()
    net.add_patterns(SINE[:400, None], SINE[1:401, None])
    net.learn()
    return net


def test_register_twice_carries_report():
    with rcnet.Network(2, 1, id=4242):
        with pytest.raises(rcnet.RcnetError) as info:
            rcnet.Network(2, 1, id=4242)
    error = info.value
    assert isinstance(error, RuntimeError)
    assert error.function == "RegisterUsage"
    assert "RegisterUsage" in str(error)
    assert len(error.reports) == 1
    assert "it == m_Nets.end()" in error.reports[0]
    assert error.reports[0].startswith("Assertion failed: ")


def test_reports_do_not_reach_stderr(capfd):
    net = rcnet.Network(1, 1)
    with pytest.raises(rcnet.RcnetError, match="kStableQr"):
        net.set_solver(2)
    os.write(2, b"after\n")
    net.close()
    assert capfd.readouterr().err == "after\n"


def test_context_manager_unregisters():
    with rcnet.Network(3, 2, id=4343) as net:
        assert (net.id, net.inputs, net.outputs, net.threshold) == (4343, 3, 2, True)
        assert not net.closed
    assert net.closed
    with pytest.raises(ValueError):
        net.learn()
    with rcnet.Network(1, 1, threshold=False, id=4343) as again:
        assert again.threshold is False
    net.close()  # closing twice is harmless


def test_automatic_ids_are_distinct():
    with rcnet.Network(1, 1) as a, rcnet.Network(1, 1) as b:
        assert a.id != b.id


def test_numpy_shapes():
    rcnet.randomize(5)
    with rcnet.Network(3, 2) as net:
        net.add_neurons(20, 1)
        net.add_connections(100)
        net.add_back_connections(200)
        net.init_input_matrix()
        rng = np.random.default_rng(0)
        net.add_patterns(rng.uniform(-1, 1, (50, 3)), rng.uniform(-1, 1, (50, 2)).tolist())
        net.add_patterns([0.1, 0.2, 0.3], [0.5, -0.5])  # one pattern as 1-D
        with pytest.raises(ValueError):
            net.add_patterns(np.zeros((4, 3)), np.zeros((3, 2)))
        with pytest.raises(ValueError, match="expected rows of 3 inputs and 2 targets, got 2 and 2"):
            net.add_patterns(np.zeros((4, 2)), np.zeros((4, 2)))
        net.learn()
        y = net.propagate(np.array([1, 2, 3], dtype=np.int32))
        assert y.shape == (2,) and y.dtype == np.float64
        ys = net.propagate_series(np.asfortranarray(rng.uniform(-1, 1, (7, 3))))
        assert ys.shape == (7, 2) and ys.dtype == np.float64 and np.all(np.isfinite(ys))
        with pytest.raises(ValueError, match="expected 3 inputs, got 2"):
            net.propagate([1.0, 2.0])


def test_propagate_before_training_fails():
    with rcnet.Network(1, 1) as net:
        net.add_neurons(5, "linear")
        net.init_input_matrix()
        with pytest.raises(rcnet.RcnetError, match="PropagatePattern.*m_OutputWeights"):
            net.propagate([0.5])
        with pytest.raises(rcnet.RcnetError, match="m_Inputs.size"):
            net.learn()


def test_steps_follow_loads_copies_and_close(tmp_path):
    # propagate keeps its arguments between steps: they must follow every change of the network.
    with trained_sine_net() as net:
        first = net.propagate(SINE[400])
        again = net.propagate(SINE[401])
        assert first is not again and first[0] != again[0]  # each step its own array
        wide = rcnet.Network(3, 2)
        wide.add_neurons(10)
        wide.init_input_matrix()
        wide.add_patterns(np.ones((20, 3)), np.ones((20, 2)))
        wide.learn()
        wide.save(tmp_path / "wide.net")
        net.load_into(tmp_path / "wide.net")
        assert net.propagate([0.1, 0.2, 0.3]).shape == (2,)
        with pytest.raises(ValueError, match="expected 3 inputs, got 1"):
            net.propagate(0.5)
        wide.reset_state()
        assert np.array_equal(net.copy().propagate([0.1, 0.2, 0.3]), wide.propagate([0.1, 0.2, 0.3]))
        wide.close()
    with pytest.raises(ValueError, match="closed network"):
        net.propagate([0.1, 0.2, 0.3])


def test_sine_one_step_prediction():
    with trained_sine_net() as net:
        predicted = net.propagate_series(SINE[400:600])[:, 0]
    error = np.sqrt(np.mean((predicted - SINE[401:601]) ** 2))
    persistence = np.sqrt(np.mean((SINE[400:600] - SINE[401:601]) ** 2))
    assert error < 0.01
    assert error < persistence / 20


def test_save_load_round_trip(tmp_path):
    path = tmp_path / "net.txt"
    with trained_sine_net() as net:
        net.save(path)
        net.save(str(path))
    assert path.read_text().split()[:3] == ["1", "1", "1"]
    with rcnet.Network.load(path) as a, rcnet.Network.load(str(path)) as b:
        assert (a.inputs, a.outputs, a.threshold) == (1, 1, True)
        assert a.id != b.id
        ya = a.propagate_series(SINE[:300])
        yb = b.propagate_series(SINE[:300])
    assert ya.shape == (300, 1)
    assert np.array_equal(ya, yb)
    # Six significant digits in the file: still a good predictor after warming up.
    assert np.sqrt(np.mean((ya[100:, 0] - SINE[101:301]) ** 2)) < 0.05


def test_load_into_updates_sizes(tmp_path):
    path = tmp_path / "net.txt"
    rcnet.randomize(3)
    with rcnet.Network(2, 3, threshold=False) as source:
        source.add_neurons(10, "rsdn")
        source.init_input_matrix()
        source.save(path)
    with rcnet.Network(1, 1) as net:
        net.load_into(path)
        assert (net.inputs, net.outputs, net.threshold) == (2, 3, False)


def test_save_to_missing_directory_fails(tmp_path):
    with rcnet.Network(1, 1) as net:
        with pytest.raises(rcnet.RcnetError, match="SaveNetToFile"):
            net.save(tmp_path / "missing" / "net.txt")


def test_pattern_file(tmp_path):
    path = tmp_path / "patterns.txt"
    path.write_text("3 1 2\n1 2 3 7\n4 5 6 8\n")

    def build():
        rcnet.randomize(11)
        net = rcnet.Network(3, 1)
        net.add_neurons(8, "sigmoid")
        net.add_connections(30)
        net.add_back_connections(30)
        net.init_input_matrix()
        return net

    with build() as from_file, build() as from_arrays:
        from_file.add_patterns_from_file(path)
        from_arrays.add_patterns([[1, 2, 3], [4, 5, 6]], [[7], [8]])
        from_file.learn()
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            from_arrays.learn()  # a ridge (1e-8 by default) keeps a fit of fewer patterns general
        x = [0.5, -0.5, 1.0]
        assert np.array_equal(from_file.propagate(x), from_arrays.propagate(x))
    with build() as unpenalised:
        unpenalised.add_patterns([[1, 2, 3], [4, 5, 6]], [[7], [8]])
        unpenalised.set_ridge(0)
        with pytest.warns(rcnet.RcnetWarning, match="2 patterns for 9 readout weights and no ridge"):
            unpenalised.learn()
    with rcnet.Network(2, 1) as wrong:
        with pytest.raises(rcnet.RcnetError, match="AddPatternsFromFile"):
            wrong.add_patterns_from_file(path)
        with pytest.raises(rcnet.RcnetError, match="m_Inputs.size"):
            wrong.learn()  # nothing was added


def test_failed_load_leaves_network_usable(tmp_path):
    broken = tmp_path / "broken.txt"
    broken.write_text("1 1 1\n1 2\nnot a number\n")
    with trained_sine_net() as net:
        reference = trained_sine_net()
        with pytest.raises(FileNotFoundError):
            net.load_into(tmp_path / "missing.txt")
        with pytest.raises(IsADirectoryError):
            net.load_into(tmp_path)
        # The reader's place and reason; a ValueError as well as an RcnetError.
        with pytest.raises(ValueError, match=r"broken.txt: line 3, column 1: 'not' is not a number"):
            net.load_into(broken)
        assert (net.inputs, net.outputs, net.threshold) == (1, 1, True)
        assert np.array_equal(net.propagate_series(SINE[400:450]), reference.propagate_series(SINE[400:450]))
        reference.close()
    with pytest.raises(rcnet.RcnetError):
        rcnet.Network.load(broken)


def test_unknown_neuron_type_warns():
    with rcnet.Network(1, 1) as net:
        with pytest.warns(rcnet.RcnetWarning, match="AddNeuronsToNet.*false"):
            net.add_neurons(4, 7)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            net.add_neurons(4, 3)
        with pytest.raises(ValueError):
            net.add_neurons(4, "cosine")


def test_impossible_links_warn():
    with rcnet.Network(1, 1) as net:
        net.add_neurons(2, "linear")
        with pytest.warns(rcnet.RcnetWarning, match="count <="):
            net.add_connections(5)


def test_concurrent_calls_keep_reports_apart():
    errors = []

    def worker(index):
        with rcnet.Network(1, 1, id=5000 + index):
            for _ in range(50):
                try:
                    rcnet.Network(1, 1, id=5000 + index)
                except rcnet.RcnetError as error:
                    errors.append(error.reports)

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(errors) == 200
    assert all(len(reports) == 1 and "it == m_Nets.end()" in reports[0] for reports in errors)


def sine_net(seed=2, neurons=30, outputs=1):
    rcnet.randomize(seed)
    net = rcnet.Network(1, outputs)
    net.add_neurons(neurons, "bisigmoid")
    net.add_connections(neurons * 53 // 10)
    net.add_back_connections(neurons * 8)
    net.init_input_matrix()
    targets = np.stack([SINE[1 + k:401 + k] for k in range(outputs)], axis=1)
    net.add_patterns(SINE[:400, None], targets)
    return net


def test_stable_readout_fits_at_least_as_well():
    errors = {}
    for solver in ("normal", "stable"):
        with sine_net() as net:
            net.set_solver(solver)
            net.set_washout(50)
            net.learn()
            predicted = net.propagate_series(SINE[400:600])[:, 0]
            errors[solver] = np.sqrt(np.mean((predicted - SINE[401:601]) ** 2))
    assert errors["stable"] < 1e-3
    assert errors["stable"] <= errors["normal"] * 1.01


def test_readout_settings_refused_values():
    with sine_net() as net:
        with pytest.raises(ValueError, match="unknown solver"):
            net.set_solver("exact")
        with pytest.raises(rcnet.RcnetError, match="kStableQr"):
            net.set_solver(2)
        for bad in (-1.0, float("nan"), float("inf")):
            with pytest.raises(rcnet.RcnetError, match="isfinite"):
                net.set_ridge(bad)
        with pytest.raises(ValueError, match="washout must be from 0"):
            net.set_washout(-1)
        net.set_washout(400)
        with pytest.raises(rcnet.RcnetError, match="washout"):
            net.learn()


def test_joint_training_and_state():
    with sine_net(outputs=3) as joint, sine_net(outputs=3) as separate:
        joint.learn(jointly=True)
        separate.learn()
        # One pass instead of three: both end in different states, and both predict the next samples.
        assert not np.array_equal(joint.state(30), separate.state(30))
        out = joint.propagate(SINE[400])
        assert np.allclose(out, SINE[401:404], atol=0.05)
        joint.reset_state()
        assert np.array_equal(joint.state(30), np.zeros(30))
        with pytest.raises(rcnet.RcnetError, match="NeuronCount"):
            joint.state(29)


def test_negative_link_counts_are_refused():
    with rcnet.Network(1, 1) as net:
        net.add_neurons(4)
        with pytest.raises(ValueError, match="from 0 to"):
            net.add_connections(-1)
        with pytest.raises(ValueError, match="from 0 to"):
            net.add_back_connections(-3)


def test_reservoir_settings(tmp_path):
    with sine_net() as net:
        assert net.spectral_radius() > 0
        net.set_spectral_radius(0.9)
        assert net.spectral_radius() == pytest.approx(0.9, rel=1e-9)
        net.set_input_scaling(0.5)
        net.set_leak_rate(0.3)
        net.set_solver("stable")
        net.set_washout(50)
        net.learn()
        path = tmp_path / "leaky.net"
        net.save(path)
        assert path.read_text().splitlines()[-1] == "leak-rate 0.3"
        net.reset_state()
        with rcnet.Network.load(path) as copy:
            # The loaded network steps like the original (weights as the file has them, rate exactly).
            net.load_into(path)
            assert np.array_equal(net.propagate_series(SINE[:50]), copy.propagate_series(SINE[:50]))
            assert copy.spectral_radius() == pytest.approx(0.9, rel=1e-5)
        for bad in (0.0, 1.5, float("nan")):
            with pytest.raises(rcnet.RcnetError, match="rate > 0"):
                net.set_leak_rate(bad)
        with pytest.raises(rcnet.RcnetError, match="isfinite"):
            net.set_input_scaling(float("inf"))
    with rcnet.Network(1, 1) as empty:
        empty.add_neurons(5)
        assert empty.spectral_radius() == 0.0
        with pytest.raises(rcnet.RcnetError, match="radius > 0"):
            empty.set_spectral_radius(0.9)
        with pytest.raises(rcnet.RcnetError, match="m_InputMatrix.empty"):
            empty.set_input_scaling(2.0)


def test_run_and_generate_match_single_steps():
    with trained_sine_net() as a, trained_sine_net() as b:
        xs = SINE[400:460]
        ran = a.run(xs)
        stepped = np.array([b.propagate(x) for x in xs])
        assert np.array_equal(ran, stepped)
        generated = a.generate(30)
        fed, previous = [], stepped[-1]
        for _ in range(30):
            previous = b.propagate(previous)
            fed.append(previous)
        assert np.array_equal(generated, np.array(fed))
        # The free run follows the sine for a while.
        assert np.max(np.abs(generated[:10, 0] - SINE[461:471])) < 0.05
        with pytest.raises(ValueError, match="expected 1 inputs"):
            a.run(np.zeros((3, 2)))
    with sine_net() as untrained:
        with pytest.raises(rcnet.RcnetError, match="m_Result.size"):
            untrained.generate(3)


def test_fit_on_sequences():
    # Two recordings of one sine at different phases: glued, the seam is a jump no sine makes.
    first, second = SINE[:300], SINE[350:650]
    with sine_net() as net:
        net.set_solver("stable")
        net.set_washout(30)
        net.fit([(first[:-1, None], first[1:, None]), (second[:-1, None], second[1:, None])])
        net.reset_state()
        predicted = net.run(SINE[:200, None])[:, 0]
        assert np.sqrt(np.mean((predicted[50:199] - SINE[51:200]) ** 2)) < 1e-3


def test_partial_fit_follows_a_changed_signal():
    # One-step prediction of a sine whose frequency changes: online learning with forgetting adapts.
    fast = np.sin(0.35 * np.arange(600))
    with sine_net() as net:
        net.set_solver("stable")
        net.learn()
        before = net.run(fast[400:500, None])[:, 0]
        assert np.sqrt(np.mean((before - fast[401:501]) ** 2)) > 0.1
        net.set_forgetting(0.98)
        net.partial_fit(fast[:400, None], fast[1:401, None])
        predicted = net.run(fast[400:500, None])[:, 0]
        assert np.sqrt(np.mean((predicted - fast[401:501]) ** 2)) < 0.01
        with pytest.raises(ValueError, match="targets must be"):
            net.partial_fit(fast[:10, None], fast[:9, None])
        with pytest.raises(rcnet.RcnetError, match="forgetting > 0"):
            net.set_forgetting(1.5)
    # 1-D series for both, as run takes them: the same update as columns.
    readouts = []
    for ins, targets in ((fast[:20], fast[1:21]), (fast[:20, None], fast[1:21, None])):
        with sine_net() as net:
            net.learn()
            net.partial_fit(ins, targets)
            readouts.append(net.readout)
    assert np.array_equal(readouts[0], readouts[1])


def test_sizes_and_weights_come_from_the_library(tmp_path):
    with trained_sine_net() as net:
        assert net.neuron_count == 30
        weights = net.readout
        assert weights.shape == (1, 31)
        state = net.state(30)
        assert net.propagate(SINE[0])[0] == pytest.approx(weights[0, :30] @ net.state(30) + weights[0, 30])
        assert not np.array_equal(state, net.state(30))
        net.set_leak_rate(0.5)
        assert net.leak_rate == 0.5
        path = tmp_path / "net.txt"
        net.save(path)
    with rcnet.Network(3, 2, threshold=False) as other:
        other.load_into(path)
        assert (other.inputs, other.outputs, other.threshold) == (1, 1, True)
        assert other.leak_rate == 0.5


def test_threads_train_in_parallel_without_mixing_reports():
    errors = []

    def work(seed):
        try:
            with sine_net(seed=seed, neurons=60) as net:
                net.set_solver("stable")
                net.learn()
                with pytest.raises(rcnet.RcnetError, match="kStableQr"):
                    net.set_solver(2)
        except Exception as error:  # noqa: BLE001 - collected for the assertion below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []


def test_the_package_docstring_example_runs():
    example = rcnet.__doc__.split("\n\n")[1]
    namespace = {}
    exec(compile("\n".join(line[4:] for line in example.splitlines()), "rcnet docstring", "exec"), namespace)
    predicted, expected = namespace["ys"][:, 0], namespace["xs"][2001:2100]
    assert np.sqrt(np.mean((predicted - expected) ** 2)) < 1e-3


def test_warnings_for_a_readout_without_skill():
    with rcnet.Network(2, 1) as net:
        net.add_neurons(10)
        net.add_connections(20)
        net.init_input_matrix()
        p = np.arange(20.0)
        net.add_patterns(np.stack([0.1 * p, -0.05 * p], axis=1), 0.3 * p[:, None])
        net.set_solver("normal")
        net.set_ridge(0)
        with pytest.warns(rcnet.RcnetWarning) as caught:  # the library's own report, once
            net.learn()
        assert [str(w.message)[:80] for w in caught] == [
            "LearnNet: Assertion failed: readout of output 0 not all zero (the states did not fit the targets"[:80]]
        assert not np.any(net.readout)
        with pytest.warns(rcnet.RcnetWarning, match="NaN or infinite"):
            net.add_patterns([[np.nan, 0.0]], [[1.0]])
        with pytest.warns(rcnet.RcnetWarning, match=r"readout of output 0 .*\(a training value is NaN or infinite"):
            net.learn()
        net.add_neurons(2)
        with pytest.warns(rcnet.RcnetWarning, match="no state for some of them"):
            net.learn()


def test_inputs_that_are_not_finite_run_nothing():
    with trained_sine_net() as net:
        before, bad = net.state(), SINE[:4, None].copy()
        bad[2, 0] = np.inf
        for step, function in ((lambda: net.propagate([np.nan]), "PropagatePattern"),
                               (lambda: net.run(bad), "RunNetSequence"), (lambda: net.run_states(bad), "RunNetStates")):
            with pytest.raises(rcnet.RcnetNumericError, match="inputs must be finite: row ") as info:
                step()
            assert info.value.function == function and np.array_equal(net.state(), before)
        with pytest.raises(rcnet.RcnetNumericError, match="row 2, input 0 is inf"):
            net.run(bad)

def test_saved_files_are_exact_by_default(tmp_path):
    with trained_sine_net() as net:
        exact, six = tmp_path / "exact.net", tmp_path / "six.net"
        net.save(exact)
        net.set_file_digits(6)
        net.save(six)
        with pytest.raises(rcnet.RcnetError, match="kExactDigits"):
            net.set_file_digits(3)
        with rcnet.Network.load(exact) as a, rcnet.Network.load(six) as b:
            assert np.array_equal(a.readout, net.readout)
            assert not np.array_equal(b.readout, net.readout)
            net.reset_state()
            assert np.array_equal(a.run(SINE[:100]), net.run(SINE[:100]))


def test_counts_past_32_bits_are_refused_not_wrapped():
    with sine_net() as net:
        n = net.neuron_count
        for call, value in ((net.add_neurons, 2**32 + 5), (net.add_connections, 2**31),
                            (net.add_back_connections, -1), (net.init_input_matrix, 2**32 + 1),
                            (net.set_washout, 2**32), (net.generate, 2**32 + 3)):
            with pytest.raises(ValueError, match="from 0 to 2147483647"):
                call(value)
        with pytest.raises(ValueError, match="whole number"):
            net.add_neurons(2.5)
        assert net.neuron_count == n
        assert np.array_equal(net.state(), net.state(n))
    with pytest.raises(ValueError, match="inputs must be from 0"):
        rcnet.Network(2**32 + 1, 1)
    with pytest.raises(ValueError, match="neuron count"):
        rcnet.ESNRegressor(n_neurons=2**32 + 5).fit(np.zeros((50, 1)), np.zeros(50))
