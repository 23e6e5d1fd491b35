#!/usr/bin/env bash
# Builds the project and runs the example hosts on real files. Some files
# are there to show a failure; their results are labelled "expected
# failure: ". Ends with a one-line summary; the exit status is 0 unless a
# file failed that should not have, or an example crashed.
#   VRN_EXAMPLE_BUILT=FOLDER  use the programs already built in that build
#                             folder (nothing is installed or built); the
#                             test suite runs the script so
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VRN_EXAMPLE_BUILT:-}"
if [ -z "$build" ]; then
    . scripts/deps.sh
    vrn_ensure_packages
    build=build
    echo "building the examples (output in $build/example-build.log)"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    if ! cmake --build "$build" -j"$(nproc)" --target vrn_list kwxtolvreader make_sample_cgns \
        model_database > "$build/example-build.log" 2>&1; then
        tail -n 40 "$build/example-build.log" >&2
        echo "example.sh: the build failed (whole output in $build/example-build.log)" >&2
        exit 1
    fi
fi

# Files that are there to show a failure: our sample CGNS file without a
# base, the sample-data file written by CGNS 4.4 (newer than the CGNS
# library of Debian; it lists where a newer library is installed), and a
# meshing-database file whose reader reports an error.
expected_failures=" no_base_adf.cgns cgnslib_vers-4400.cgns locked.tolv "
shown_failures=0
unexpected_failures=0

# Lists one file with the example host, labelling an expected failure. The
# example exits with 1 when a file could not be listed; anything else (a
# crash) ends the script with that status.
list_file() {
    local status=0 out
    out=$("$build/examples/vrn_list" "$1") || status=$?
    if [ "$status" -gt 1 ]; then
        printf '%s\n' "$out"
        echo "example.sh: vrn_list ended with status $status on $1" >&2
        exit "$status"
    fi
    if [ "$status" -eq 0 ]; then
        printf '%s\n' "$out"
    elif [[ "$expected_failures" == *" $(basename "$1") "* ]]; then
        shown_failures=$((shown_failures + 1))
        printf 'expected failure: %s\n' "$out"
    else
        unexpected_failures=$((unexpected_failures + 1))
        printf 'UNEXPECTED FAILURE: %s\n' "$out"
    fi
}

# Bases of CGNS files: a few written here by our sample writer, and the
# samples of the sample-data folder ($VRN_TESTDATA_DIR, else
# ../shared/testdata) when it is there.
samples=$(mktemp -d)
trap 'rm -rf "$samples" "${install_dir:-}"' EXIT
written=$("$build/examples/make_sample_cgns" "$samples")
mapfile -t files <<< "$written"
samples_dir="${VRN_TESTDATA_DIR:-../shared/testdata}"
sample_note=""
if [ -d "$samples_dir/cgns" ]; then
    for f in "$samples_dir"/cgns/*.cgns; do [ -e "$f" ] && files+=("$f"); done
else
    sample_note=" (no sample-data folder at $samples_dir: only our own CGNS samples; set VRN_TESTDATA_DIR)"
fi
for f in "${files[@]}"; do list_file "$f"; done

# Models of meshing-database files, listed through a reader program. Without
# an installation (KWX5BINDIR and KWX5EXECDIR set), the stand-in reader of
# the tests is installed in a temporary folder: it prints the bytes of its
# file as the reader's output, so the sample files hold that output.
if [ -z "${KWX5BINDIR+x}" ] || [ -z "${KWX5EXECDIR+x}" ]; then
    install_dir=$(mktemp -d)
    ln -s "$(cd "$build" && pwd)/tests/tools/kwxtolvreader" "$install_dir/kwxtolvreader.exe"
    export KWX5BINDIR="$install_dir" KWX5EXECDIR="$install_dir"
fi
models=(examples/data/*.tolv)
for f in "${models[@]}"; do list_file "$f"; done

# The model database: one process builds a model, saves states, undoes and
# redoes one and closes; a second process opens the file and prints it,
# leaving it byte for byte as it was.
model_dir="$samples/model"
mkdir "$model_dir"
"$build/examples/model_database" write "$model_dir/example.vrn"
cp "$model_dir/example.vrn" "$model_dir/written"
"$build/examples/model_database" read "$model_dir/example.vrn"
cmp -s "$model_dir/example.vrn" "$model_dir/written" || {
    echo "example.sh: reading the model changed its file" >&2
    exit 1
}

summary="listed the bases of ${#files[@]} CGNS files and the models of ${#models[@]} meshing-database files"
summary+=" ($shown_failures expected failures shown), built a model database with undo and redo"
summary+=" and read it back in a second process, leaving its file unchanged$sample_note"
if [ "$unexpected_failures" -gt 0 ]; then
    echo "example.sh: $summary; $unexpected_failures file(s) failed unexpectedly" >&2
    exit 1
fi
echo "example.sh: $summary"
