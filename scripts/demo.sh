#!/usr/bin/env bash
# The main job: builds the library for both targets and runs the example host against each, natively
# and, for the 32-bit Windows DLL, under wine.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}"
rcnet_build_native -DRCNET_TESTS=OFF
rcnet_build_win32 -DRCNET_TESTS=OFF

rcnet_log "example host, native: build/native/librcnet.so"
(cd "$RCNET_ROOT/build/native" && ./hello_host ./librcnet.so 2>&1)

rcnet_log "example host, 32-bit Windows: build/win32/rcnet.dll under wine"
rcnet_prepare_wine
(cd "$RCNET_ROOT/build/win32" && "$RCNET_ROOT/cmake/wine-run" hello_host.exe rcnet.dll 2>&1)
