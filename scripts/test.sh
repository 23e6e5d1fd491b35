#!/usr/bin/env bash
# Builds the project and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vrn_ensure_packages

builddir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    builddir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVRN_SANITIZE=ON -DVRN_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # LeakSanitizer stops the process's threads with ptrace; where the
    # machine forbids that it fails every test. Such a machine gets the
    # address and undefined-behaviour checks without the leak check.
    probe=$(mktemp -d)
    printf '#include <stdlib.h>\nint main(void) { return malloc(7) == 0; }\n' > "$probe/leak.c"
    if gcc -fsanitize=address -o "$probe/leak" "$probe/leak.c" 2>/dev/null; then
        "$probe/leak" > "$probe/out" 2>&1 || true
        if ! grep -q "detected memory leaks" "$probe/out"; then
            echo "note: LeakSanitizer cannot run here; leaks are not checked" >&2
            export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:strict_string_checks=1
        fi
    fi
    rm -rf "$probe"
fi

jobs=$(nproc)
cmake -S . -B "$builddir" "${flags[@]}" >/dev/null
cmake --build "$builddir" -j"$jobs"
ctest --test-dir "$builddir" --output-on-failure -j"$jobs"
