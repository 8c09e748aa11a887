#!/usr/bin/env bash
# Builds every target: build/native/librcnet.so, build/win32/rcnet.dll and build/win64/rcnet.dll.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}" "${RCNET_WIN64_PACKAGES[@]}"
rcnet_build_native
rcnet_build_win32
rcnet_build_win64
ls -l "$RCNET_ROOT/build/native/librcnet.so" "$RCNET_ROOT/build/win32/rcnet.dll" "$RCNET_ROOT/build/win64/rcnet.dll"
