#!/usr/bin/env bash
# Runs the Python binding tests against a given librcnet.so.
# Usage: run_tests.sh PATH/TO/librcnet.so [pytest arguments...]
set -u
if [ $# -lt 1 ]; then
    echo "usage: $0 PATH/TO/librcnet.so [pytest arguments...]" >&2
    exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
library="$1"
shift
# Checked here: a missing file would otherwise fall back to the package's default library.
if [ ! -f "$library" ]; then
    echo "$0: no library at $library" >&2
    exit 2
fi
case "$library" in /*) ;; *) library="$PWD/$library" ;; esac
# Debian's interpreter: it has numpy and pytest from apt, unlike a pyenv python3 on PATH.
RCNET_LIBRARY="$library" exec /usr/bin/python3 -m pytest -q "$here/tests" "$@"
