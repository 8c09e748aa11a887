#!/usr/bin/env bash
# Builds both targets: build/native/librcnet.so and build/win32/rcnet.dll.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}"
rcnet_build_native
rcnet_build_win32
ls -l "$RCNET_ROOT/build/native/librcnet.so" "$RCNET_ROOT/build/win32/rcnet.dll"
