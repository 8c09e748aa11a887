# Shared by the project's scripts: package checks and the build directories.
# shellcheck shell=bash

RCNET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages each build needs; wine32:i386 runs the 32-bit Windows programs.
RCNET_NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev libcli11-dev libeigen3-dev)
# The fuzzing build (libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer).
RCNET_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The Python package, its tests (the estimator: scikit-learn, DataFrames: pandas; parallel searches:
# joblib, dask's distributed; installing into a venv: venv, pip, setuptools, wheel) and the demo's plot
# use Debian's Python 3.
RCNET_PYTHON_PACKAGES=(python3 python3-numpy python3-pytest python3-matplotlib python3-venv python3-pip python3-setuptools
    python3-wheel python3-sklearn python3-joblib python3-distributed python3-pandas)
RCNET_WIN32_PACKAGES=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 libeigen3-dev)
RCNET_WIN64_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 libeigen3-dev)

rcnet_log() { printf '\n== %s\n' "$*"; }

# Wall time per stage: `rcnet_stage NAME` ends the stage before (if any) and starts NAME; `rcnet_stage`
# alone ends the last one; rcnet_stage_table prints them all.
RCNET_STAGE_NAMES=()
RCNET_STAGE_SECONDS=()
RCNET_STAGE_NAME=""
RCNET_STAGE_START=0
rcnet_stage() {
    local now
    now=$(date +%s)
    if [ -n "$RCNET_STAGE_NAME" ]; then
        RCNET_STAGE_NAMES+=("$RCNET_STAGE_NAME")
        RCNET_STAGE_SECONDS+=($((now - RCNET_STAGE_START)))
    fi
    RCNET_STAGE_NAME=${1:-}
    RCNET_STAGE_START=$now
}
rcnet_stage_table() {
    rcnet_stage
    local i total=0
    rcnet_log "stages (wall seconds)"
    for i in "${!RCNET_STAGE_NAMES[@]}"; do
        printf '%-28s %6d\n' "${RCNET_STAGE_NAMES[$i]}" "${RCNET_STAGE_SECONDS[$i]}"
        total=$((total + RCNET_STAGE_SECONDS[i]))
    done
    printf '%-28s %6d\n' "total" "$total"
}

# Installs what is missing when run as root; otherwise names it and stops.
rcnet_ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
            echo "Install them as root with: dpkg --add-architecture i386 && apt-get update && apt-get install -y ${missing[*]}" >&2
        else
            echo "Install them as root with: apt-get update && apt-get install -y ${missing[*]}" >&2
        fi
        exit 1
    fi
    rcnet_log "installing ${missing[*]}"
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# rcnet_build NAME [cmake options...]: configure (once) and build build/NAME. Every command configures a
# directory alike (tests, benchmarks and the tool on; the options given may turn them off again), so that
# the commands share it and none compiles what another already has; RCNET_BUILD_TARGETS, when set, names
# the only build targets made (the default: all).
rcnet_build() {
    local name=$1
    shift
    rcnet_log "build $name${RCNET_BUILD_TARGETS:+ ($RCNET_BUILD_TARGETS)}"
    cmake -S "$RCNET_ROOT" -B "$RCNET_ROOT/build/$name" -G Ninja -DRCNET_TESTS=ON -DRCNET_BENCHMARKS=ON \
        -DRCNET_TOOLS=ON "$@" >/dev/null
    # shellcheck disable=SC2086 # a list of target names
    cmake --build "$RCNET_ROOT/build/$name" ${RCNET_BUILD_TARGETS:+--target $RCNET_BUILD_TARGETS}
}

rcnet_build_native() { rcnet_build native -DCMAKE_BUILD_TYPE=Release "$@"; }
rcnet_build_win32() {
    rcnet_build win32 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$RCNET_ROOT/cmake/toolchain-mingw-i686.cmake" "$@"
}

rcnet_build_win64() {
    rcnet_build win64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$RCNET_ROOT/cmake/toolchain-mingw-x86_64.cmake" "$@"
}

# The first wine start builds its prefix; do it once, quietly, before tests run in parallel.
rcnet_prepare_wine() {
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
}
# The 64-bit DLL runs in a 64-bit prefix of its own (cmake/wine-run64).
rcnet_prepare_wine64() {
    WINEPREFIX="${RCNET_WINE64_PREFIX:-$HOME/.wine-rcnet64}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1 || true
}
