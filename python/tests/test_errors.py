"""The exception a refused call raises comes from the kind the library gives the failure."""
import re
from pathlib import Path

import numpy as np
import pytest

import rcnet


def test_kinds_are_the_headers():
    header = (Path(__file__).resolve().parents[2] / "include" / "rcnet.h").read_text()
    defined = {name.lower(): int(value) for name, value in re.findall(r"#define RCNET_REPORT_(\w+) (\d+)", header)}
    assert rcnet.REPORT_KINDS == defined


def test_errors_say_what_to_do():
    with rcnet.Network(1, 1) as net:
        net.add_neurons(10, "bisigmoid")
        net.init_input_matrix()
        # Nothing to learn from: a missing step, named.
        with pytest.raises(rcnet.RcnetCallOrderError, match=r"^learn\(\) needs training patterns: call "
                                                            r"add_patterns\(\.\.\.\) first") as info:
            net.learn()
        assert isinstance(info.value, RuntimeError) and not isinstance(info.value, ValueError)
        assert (info.value.function, info.value.kind) == ("LearnNet", rcnet.REPORT_KINDS["call_order"])
        assert info.value.reports  # the library's lines are still there
        with pytest.raises(rcnet.RcnetCallOrderError, match=r"call learn\(\)"):
            net.run(np.zeros((3, 1)))
        # Sizes the library compares with the network's.
        with pytest.raises(rcnet.RcnetSizeError) as info:
            net.state(neurons=4)
        assert isinstance(info.value, ValueError)
        with pytest.raises(rcnet.RcnetNumericError):
            net.set_leak_rate(float("nan"))
        # The network gone under the object, and closed by it.
        rcnet.library().UnregisterUsage(net.id)
        with pytest.raises(rcnet.RcnetUnknownNetworkError, match="closed, or never registered"):
            net.learn()
    with pytest.raises(rcnet.RcnetUnknownNetworkError, match="closed network"):
        net.learn()


def test_a_taken_id_is_refused():
    with rcnet.Network(1, 1, id=4545):
        with pytest.raises(rcnet.RcnetValueError, match="already registered") as info:
            rcnet.Network(1, 1, id=4545)
        assert info.value.kind == rcnet.REPORT_KINDS["id_taken"] and isinstance(info.value, ValueError)

