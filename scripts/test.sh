#!/usr/bin/env bash
# Builds the project and runs every test.
#   scripts/test.sh                  normal build in build/
#   scripts/test.sh --sanitize       AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --fuzz SECONDS   clang libFuzzer build in build-fuzz/; runs
#                                    every fuzz harness built there that long
#   scripts/test.sh --thread         ThreadSanitizer build in build-tsan/ of the
#                                    host tests; runs the test of exported
#                                    calls made from several threads at once
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vrn_ensure_packages

# LeakSanitizer stops the process's threads with ptrace; where the machine
# forbids that it fails every test. Such a machine gets the address and
# undefined-behaviour checks without the leak check. Prints 1 or 0.
leaks_checkable() {
    local probe status=1
    probe=$(mktemp -d)
    printf '#include <stdlib.h>\nint main(void) { return malloc(7) == 0; }\n' > "$probe/leak.c"
    if "$1" -fsanitize=address -o "$probe/leak" "$probe/leak.c" 2>/dev/null; then
        "$probe/leak" > "$probe/out" 2>&1 || true
        grep -q "detected memory leaks" "$probe/out" || status=0
    fi
    rm -rf "$probe"
    echo "$status"
}

sample_note() {
    local dir="${VRN_TESTDATA_DIR:-../shared/testdata}"
    if [ ! -d "$dir" ]; then
        echo "note: no sample-data folder at $dir (set VRN_TESTDATA_DIR to point elsewhere);" \
             "the tests of sample CGNS files were skipped" >&2
    fi
}

if [ "${1:-}" = "--fuzz" ]; then
    seconds="${2:-}"
    if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
        echo "usage: scripts/test.sh --fuzz SECONDS" >&2
        exit 2
    fi
    vrn_ensure_packages "$VRN_FUZZ_PACKAGES"
    builddir=build-fuzz
    cmake -S . -B "$builddir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRN_FUZZ=ON -DVRN_BUILD_BENCH=OFF \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
    cmake --build "$builddir" -j"$(nproc)" --target vrn_fuzzers
    leaks=$(leaks_checkable clang)
    [ "$leaks" = 1 ] || echo "note: LeakSanitizer cannot run here; leaks are not checked" >&2
    export ASAN_OPTIONS=abort_on_error=0:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    failed=()
    ran=0
    # Every harness built, those that later registrations add included.
    while IFS= read -r harness; do
        name=$(basename "$harness" _fuzz)
        work="$builddir/fuzz/$name"
        mkdir -p "$work/corpus" "$work/artifacts"
        seeds=()
        [ -d "tests/fuzz/corpus/$name" ] && seeds=("tests/fuzz/corpus/$name")
        ran=$((ran + 1))
        if "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks="$leaks" \
            -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" \
            > "$work/log" 2>&1; then
            echo "fuzz $name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" |
                grep -o '[0-9]*$') runs in ${seconds} s, no fault"
        else
            failed+=("$name")
            tail -n 60 "$work/log" >&2
            echo "fuzz $name: FAILED (log $work/log, input in $work/artifacts/)" >&2
        fi
    done < <(find "$builddir/tests/fuzz" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x | sort)
    if [ "$ran" -eq 0 ]; then
        echo "fuzz: no harness was built" >&2
        exit 1
    fi
    if [ "${#failed[@]}" -gt 0 ]; then
        echo "fuzz: ${#failed[@]} of $ran harnesses failed: ${failed[*]}" >&2
        exit 1
    fi
    echo "fuzz: $ran harnesses ran ${seconds} s each without a fault"
    exit 0
fi

if [ "${1:-}" = "--thread" ]; then
    builddir=build-tsan
    cmake -S . -B "$builddir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRN_THREAD_SANITIZER=ON \
        -DVRN_BUILD_BENCH=OFF >/dev/null
    cmake --build "$builddir" -j"$(nproc)" --target host_tests
    # This compiler's ThreadSanitizer refuses the wider address randomisation
    # of newer kernels ("unexpected memory mapping"); without randomisation
    # it runs on any of them.
    fixed=()
    if setarch "$(uname -m)" -R true 2>/dev/null; then fixed=(setarch "$(uname -m)" -R); fi
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        "${fixed[@]}" ctest --test-dir "$builddir" --output-on-failure --no-tests=error -R 'CallsFromSeveralThreads'
    exit 0
fi

builddir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    builddir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVRN_SANITIZE=ON -DVRN_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    if [ "$(leaks_checkable gcc)" != 1 ]; then
        echo "note: LeakSanitizer cannot run here; leaks are not checked" >&2
        export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:strict_string_checks=1
    fi
fi

jobs=$(nproc)
cmake -S . -B "$builddir" "${flags[@]}" >/dev/null
cmake --build "$builddir" -j"$jobs"
ctest --test-dir "$builddir" --output-on-failure -j"$jobs"
sample_note
