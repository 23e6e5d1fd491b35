#!/usr/bin/env bash
# Builds the project and runs the example host on real files.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vrn_ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vrn_list
files=()
for f in ../shared/testdata/cgns/*.cgns; do [ -e "$f" ] && files+=("$f"); done
build/examples/vrn_list "${files[@]}" || true
