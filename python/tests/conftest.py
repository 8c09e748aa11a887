import sys
from pathlib import Path

# The package is used from the source tree, not installed.
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
