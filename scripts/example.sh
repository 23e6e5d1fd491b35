#!/usr/bin/env bash
# Builds the project and runs the example hosts on real files.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vrn_ensure_packages
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vrn_list kwxtolvreader make_sample_cgns model_database

# Bases of CGNS files: a few written here by our sample writer (one of them
# without a base, to show a failure), and the samples of the sample-data
# folder ($VRN_TESTDATA_DIR, else ../shared/testdata) when it is there.
samples=$(mktemp -d)
trap 'rm -rf "$samples" "${install_dir:-}"' EXIT
written=$(build/examples/make_sample_cgns "$samples")
mapfile -t files <<< "$written"
samples_dir="${VRN_TESTDATA_DIR:-../shared/testdata}"
if [ -d "$samples_dir/cgns" ]; then
    for f in "$samples_dir"/cgns/*.cgns; do [ -e "$f" ] && files+=("$f"); done
else
    echo "note: no sample-data folder at $samples_dir (set VRN_TESTDATA_DIR); only our own samples are listed" >&2
fi

# The example exits with 1 when a file could not be listed, which some of
# these files are there to show; anything else (a crash) fails the script.
run_example() {
    local status=0
    build/examples/vrn_list "$@" || status=$?
    if [ "$status" -gt 1 ]; then
        echo "example.sh: vrn_list ended with status $status" >&2
        exit "$status"
    fi
}
run_example "${files[@]}"

# Models of meshing-database files, listed through a reader program. Without
# an installation (KWX5BINDIR and KWX5EXECDIR set), the stand-in reader of
# the tests is installed in a temporary folder: it prints the bytes of its
# file as the reader's output, so the sample files hold that output.
if [ -z "${KWX5BINDIR+x}" ] || [ -z "${KWX5EXECDIR+x}" ]; then
    install_dir=$(mktemp -d)
    ln -s "$PWD/build/tests/tools/kwxtolvreader" "$install_dir/kwxtolvreader.exe"
    export KWX5BINDIR="$install_dir" KWX5EXECDIR="$install_dir"
fi
run_example examples/data/*.tolv

# The model database: one process builds a model, saves states, undoes and
# redoes one and closes; a second process opens the file and prints it.
model_dir=$(mktemp -d)
build/examples/model_database write "$model_dir/example.vrn"
build/examples/model_database read "$model_dir/example.vrn"
rm -rf "$model_dir"
