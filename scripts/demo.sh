#!/usr/bin/env bash
# The main job: builds the library for every target, runs the Mackey-Glass demo host natively and
# against the 32-bit and 64-bit DLLs under wine, shows that all print the same figures, and plots the
# result.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}" "${RCNET_WIN64_PACKAGES[@]}" \
    "${RCNET_PYTHON_PACKAGES[@]}"
# The library and the demo host only; the test command builds the rest in the same directories.
RCNET_BUILD_TARGETS="librcnet.so mackey_glass" rcnet_build_native
RCNET_BUILD_TARGETS="rcnet.dll mackey_glass.exe" rcnet_build_win32
RCNET_BUILD_TARGETS="rcnet.dll mackey_glass.exe" rcnet_build_win64

out="$RCNET_ROOT/out/demo"
mkdir -p "$out/native" "$out/win32" "$out/win64"

rcnet_log "demo, native library build/native/librcnet.so"
"$RCNET_ROOT/build/native/mackey_glass" --library "$RCNET_ROOT/build/native/librcnet.so" --dir "$out/native" \
    --seeds 5 | tee "$out/native/figures.txt"

rcnet_log "the same host against the 32-bit DLL build/win32/rcnet.dll, under wine"
rcnet_prepare_wine
(cd "$RCNET_ROOT/build/win32" && "$RCNET_ROOT/cmake/wine-run" mackey_glass.exe --library rcnet.dll \
    --dir "$out/win32" --seeds 5) | tr -d '\r' | tee "$out/win32/figures.txt"

rcnet_log "the same host against the 64-bit DLL build/win64/rcnet.dll, under 64-bit wine"
rcnet_prepare_wine64
(cd "$RCNET_ROOT/build/win64" && "$RCNET_ROOT/cmake/wine-run64" mackey_glass.exe --library rcnet.dll \
    --dir "$out/win64" --seeds 5) | tr -d '\r' | tee "$out/win64/figures.txt"

# Same figures, same network file but for the line ends.
for dll in win32 win64; do
    if diff <(sed 's#'"$out"'/[a-z0-9]*##g' "$out/native/figures.txt") \
            <(sed 's#'"$out"'/[a-z0-9]*##g' "$out/$dll/figures.txt") >/dev/null &&
       cmp -s <(tr -d '\r' <"$out/$dll/mackey_glass.net") "$out/native/mackey_glass.net"; then
        echo "native and the $dll DLL: identical figures and identical network files (but for CR LF line ends)"
    else
        echo "native and the $dll DLL results differ" >&2
        exit 1
    fi
done

rcnet_log "plot"
RCNET_LIBRARY="$RCNET_ROOT/build/native/librcnet.so" /usr/bin/python3 "$RCNET_ROOT/examples/plot_mackey_glass.py" "$out/native"
