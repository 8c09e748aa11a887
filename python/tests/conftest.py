import sys
from pathlib import Path

# The package is used from the source tree, not installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import os  # noqa: E402
import subprocess  # noqa: E402

import pytest  # noqa: E402


@pytest.fixture(scope="session")
def demo_output(tmp_path_factory):
    """The directory the C demo host (built beside the native library) wrote one seed's run to."""
    import rcnet

    host = os.path.join(os.path.dirname(rcnet.library_path()), "mackey_glass")
    if not os.path.exists(host):
        pytest.skip("the demo host is built beside the native library only")
    directory = tmp_path_factory.mktemp("demo")
    subprocess.run([host, "--library", rcnet.library_path(), "--dir", str(directory), "--seeds", "1",
                    "--no-compare"], check=True, capture_output=True)
    return directory
