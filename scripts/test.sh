#!/usr/bin/env bash
# Builds and runs every test suite: native, AddressSanitizer + UndefinedBehaviorSanitizer,
# ThreadSanitizer, and the 32-bit and 64-bit Windows DLLs under wine. Installs missing packages when run as root.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
start=$(date +%s)
rcnet_stage "packages"
rcnet_ensure_packages "${RCNET_NATIVE_PACKAGES[@]}" "${RCNET_WIN32_PACKAGES[@]}" "${RCNET_WIN64_PACKAGES[@]}" \
    "${RCNET_PYTHON_PACKAGES[@]}" \
    "${RCNET_FUZZ_PACKAGES[@]}" || exit 1
# A locale with a decimal comma, for the tests that show the files do not depend on it.
if [ "$(id -u)" -eq 0 ] && ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi

passed=0
failed=0
failed_suites=()
# run_suite NAME [prefix command...]: runs ctest in build/NAME and adds up its counts.
run_suite() {
    local name=$1
    shift
    rcnet_log "test $name"
    local log="$RCNET_ROOT/build/$name/ctest.log"
    (cd "$RCNET_ROOT/build/$name" && "$@" ctest -j2 --output-on-failure) 2>&1 | tee "$log"
    local summary
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$summary" ]; then
        failed=$((failed + 1))
        failed_suites+=("$name (no result)")
        return
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$bad" -eq 0 ] || failed_suites+=("$name")
}

build_or_fail() {
    local name=$1
    shift
    if ! "$@"; then
        failed=$((failed + 1))
        failed_suites+=("$name (build)")
        return 1
    fi
}

rcnet_stage "build native"
if build_or_fail native rcnet_build_native; then
    rcnet_stage "test native"
    run_suite native
fi

# The Python package against the native library, and the demo's plot through it.
if [ -f "$RCNET_ROOT/build/native/librcnet.so" ]; then
    rcnet_stage "test python"
    rcnet_log "test python"
    log="$RCNET_ROOT/build/native/pytest.log"
    bash "$RCNET_ROOT/python/run_tests.sh" "$RCNET_ROOT/build/native/librcnet.so" -p no:cacheprovider 2>&1 | tee "$log"
    py_passed=$(grep -oE '[0-9]+ passed' "$log" | tail -1 | grep -oE '[0-9]+' || echo 0)
    py_failed=$(grep -oE '[0-9]+ (failed|error)' "$log" | awk '{n += $1} END {print n + 0}')
    passed=$((passed + py_passed))
    failed=$((failed + py_failed))
    [ "$py_passed" -gt 0 ] && [ "$py_failed" -eq 0 ] || failed_suites+=("python")
    if RCNET_LIBRARY="$RCNET_ROOT/build/native/librcnet.so" /usr/bin/python3 \
        "$RCNET_ROOT/examples/plot_mackey_glass.py" "$RCNET_ROOT/build/native/demo-test" &&
        [ -s "$RCNET_ROOT/build/native/demo-test/mackey_glass.png" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        failed_suites+=("demo plot")
    fi
fi
rcnet_stage "build asan"
# The benchmarks smoke-run in the native build only: the other configurations do not build them.
# AddressSanitizer at -O1: measured, its build takes 110 s less than at -O2 and its tests 4 s more.
if build_or_fail asan rcnet_build asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRCNET_SANITIZE=address,undefined \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG" \
    -DRCNET_BENCHMARKS=OFF; then
    rcnet_stage "test asan"
    ASAN_OPTIONS=detect_leaks=1 run_suite asan
fi
# Without address-space randomisation: ThreadSanitizer's fixed memory layout clashes with it on some
# kernels.
rcnet_stage "build tsan"
if build_or_fail tsan rcnet_build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRCNET_SANITIZE=thread \
    -DRCNET_BENCHMARKS=OFF; then
    rcnet_stage "test tsan"
    run_suite tsan setarch "$(uname -m)" -R
fi
rcnet_stage "build win32"
if build_or_fail win32 rcnet_build_win32 -DRCNET_BENCHMARKS=OFF; then
    rcnet_stage "test win32"
    rcnet_prepare_wine
    run_suite win32
fi
rcnet_stage "build win64"
if build_or_fail win64 rcnet_build_win64 -DRCNET_BENCHMARKS=OFF; then
    rcnet_stage "test win64"
    rcnet_prepare_wine64
    run_suite win64
fi

# Every complete example of the README and docs/, compiled and run; and the README's first command.
if [ -f "$RCNET_ROOT/build/native/librcnet.so" ]; then
    rcnet_stage "test docs"
    rcnet_log "test documentation examples and the demo"
    if /usr/bin/python3 "$RCNET_ROOT/tests/check_docs.py" "$RCNET_ROOT/build/native" | tee "$RCNET_ROOT/build/native/docs.log"; then
        :
    else
        failed_suites+=("docs")
    fi
    passed=$((passed + $(grep -oE 'docs: [0-9]+ passed' "$RCNET_ROOT/build/native/docs.log" | grep -oE '[0-9]+' || echo 0)))
    failed=$((failed + $(grep -oE '[0-9]+ failed' "$RCNET_ROOT/build/native/docs.log" | tail -1 | grep -oE '[0-9]+' || echo 1)))
    rcnet_stage "demo"
    if bash "$RCNET_ROOT/scripts/demo.sh" >"$RCNET_ROOT/build/native/demo.log" 2>&1; then
        passed=$((passed + 1))
        tail -3 "$RCNET_ROOT/build/native/demo.log"
    else
        failed=$((failed + 1))
        failed_suites+=("demo")
        tail -20 "$RCNET_ROOT/build/native/demo.log"
    fi
fi

# Every fuzz target for a bounded time (RCNET_FUZZ_SECONDS, 20 by default), from its seed corpus; a
# crash fails the run and leaves its input in build/fuzz/artifacts-NAME for fuzz/regressions/.
build_fuzz() {
    CC=clang CXX=clang++ rcnet_build fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRCNET_FUZZ=ON -DRCNET_TESTS=OFF \
        -DRCNET_SANITIZE=address,undefined
}
rcnet_stage "build fuzz"
if build_or_fail fuzz build_fuzz; then
    rcnet_stage "fuzz"
    rcnet_log "fuzz (${RCNET_FUZZ_SECONDS:-20} s per target)"
    for target in net_file pattern_file numbers exports; do
        dir="$RCNET_ROOT/build/fuzz"
        mkdir -p "$dir/corpus-$target" "$dir/artifacts-$target"
        if "$dir/fuzz_$target" "$dir/corpus-$target" "$RCNET_ROOT/fuzz/corpus/$target" \
            -max_total_time="${RCNET_FUZZ_SECONDS:-20}" -max_len=4096 -artifact_prefix="$dir/artifacts-$target/" \
            -print_final_stats=1 >"$dir/log-$target.txt" 2>&1; then
            passed=$((passed + 1))
            result=ok
        else
            failed=$((failed + 1))
            failed_suites+=("fuzz $target")
            result=FAILED
        fi
        runs=$(grep -oE 'number_of_executed_units: [0-9]+' "$dir/log-$target.txt" | grep -oE '[0-9]+$')
        coverage=$(grep -oE 'cov: [0-9]+' "$dir/log-$target.txt" | tail -1)
        echo "fuzz $target: $result, ${runs:-0} executions, $coverage"
    done
fi

rcnet_stage_table
rcnet_log "summary ($(($(date +%s) - start)) s)"
[ ${#failed_suites[@]} -eq 0 ] || echo "failed: ${failed_suites[*]}"
echo "rcnet: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
