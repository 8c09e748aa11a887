#!/usr/bin/env bash
# Builds the library for every target, build/native/librcnet.so, build/win32/rcnet.dll and
# build/win64/rcnet.dll, and the command-line tool build/native/rcnet. `--all` builds the tests,
# benchmarks and hosts as well (what scripts/test.sh builds).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}" "${RCNET_WIN64_PACKAGES[@]}"
if [ "${1:-}" = "--all" ]; then
    rcnet_build_native
    rcnet_build_win32
    rcnet_build_win64
else
    RCNET_BUILD_TARGETS="librcnet.so rcnet" rcnet_build_native
    RCNET_BUILD_TARGETS="rcnet.dll" rcnet_build_win32
    RCNET_BUILD_TARGETS="rcnet.dll" rcnet_build_win64
fi
ls -l "$RCNET_ROOT/build/native/librcnet.so" "$RCNET_ROOT/build/win32/rcnet.dll" "$RCNET_ROOT/build/win64/rcnet.dll"
