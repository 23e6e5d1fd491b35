#!/bin/sh
# The example programs touch no file of the user's, and say what they do.
#   example_files.sh PROGRAM CASE
# CASE KeepsAUserFileWithoutModelEnding (model_database): a user's file
#   whose name has no model ending is left byte for byte while the model
#   goes beside it (FILE.vrn); three reads, in a folder made read-only, leave
#   the model byte for byte; a file already at the model file's name is not
#   replaced.
#   A write refused by another process's lock on the name leaves no file.
# CASE ReadOfAMissingFileFailsAndCreatesNothing (model_database): read of a
#   missing file exits 1 with a message naming it and leaves the folder empty.
# CASE ReadOfAnUnfinishedModelFailsAndChangesNothing (model_database): a
#   model whose writer was killed (file-size limit) before its first state
#   closed holds no model: read says so, exits 1 and leaves it byte for byte.
# CASE ReadOfAModelUndoneToStateZeroSaysSo (model_database): a model whose
#   stored current state is 0 with later states in the file: read says that
#   no state is current and which states the file holds, exits 1 and leaves
#   it byte for byte.
# CASE RefusesToReplaceAFile (make_sample_cgns): a file of a sample's name
#   already in the folder: exit 1, a message naming it, nothing written; in
#   a folder without such files the samples go beside the user's file.
# CASE WithoutArgumentsPrintsItsUsage (vrn_list): exit 2 with the usage.
# CASE LabelsExpectedFailuresAndEndsOnACrash (scripts/example.sh, run on
#   the build folder $VRN_EXAMPLE_BUILT): each failure shown is labelled
#   "expected failure: ", the last line sums up, the status is 0; an example
#   that crashes ends the script with a failure status and no summary.
program=$1
case_name=$2
d=$(mktemp -d) || exit 2
trap 'chmod -R u+w "$d"; rm -rf "$d"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$case_name" in
KeepsAUserFileWithoutModelEnding)
    printf 'notes of the user\nline two\0binary\n' > "$d/notes"
    cp "$d/notes" "$d/expected"
    "$program" write "$d/notes" > "$d/write.out" || fail "write ended with status $?"
    cmp "$d/notes" "$d/expected" || fail "the user's file was changed or removed"
    [ -s "$d/notes.vrn" ] || fail "no model written to notes.vrn"
    grep -q '^undone to state' "$d/write.out" || fail "write does not say it undoes: $(cat "$d/write.out")"
    cp "$d/notes.vrn" "$d/model.expected"
    "$program" read "$d/notes" > "$d/read.out" || fail "read ended with status $?"
    grep -q 'REGION: Walls' "$d/read.out" || fail "the model did not read back: $(cat "$d/read.out")"
    cmp "$d/notes.vrn" "$d/model.expected" || fail "reading the model changed its file"
    cmp "$d/notes" "$d/expected" || fail "read changed the user's file"
    mkdir "$d/read-only"
    cp "$d/notes.vrn" "$d/read-only/model.vrn"
    chmod a-w "$d/read-only"
    for read in 1 2 3; do
        "$program" read "$d/read-only/model.vrn" > /dev/null || fail "read ended with status $?"
    done
    cmp "$d/read-only/model.vrn" "$d/model.expected" || fail "reads in a read-only folder changed the model"
    # A file already at the model file's name is never replaced.
    printf 'user data\n' > "$d/taken.vrn"
    cp "$d/taken.vrn" "$d/taken.expected"
    status=0
    "$program" write "$d/taken.vrn" > /dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "write over an existing file ended with status $status, not 1"
    cmp "$d/taken.vrn" "$d/taken.expected" || fail "write replaced an existing file"
    # A write that fails leaves nothing under the name it was given.
    printf -- '-1' > "$d/plan.vrn.lck"
    status=0
    "$program" write "$d/plan.vrn" > /dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "write beside another's lock ended with status $status, not 1"
    [ ! -e "$d/plan.vrn" ] || fail "the failed write left plan.vrn"
    ;;
ReadOfAnUnfinishedModelFailsAndChangesNothing)
    (ulimit -f 4 && exec "$program" write "$d/cut.vrn") > /dev/null 2>&1 && fail "the write was not cut short"
    [ -s "$d/cut.vrn" ] || fail "the cut write left no file"
    rm -f "$d/cut.vrn.lck"
    cp "$d/cut.vrn" "$d/cut.expected"
    status=0
    "$program" read "$d/cut.vrn" > "$d/out" 2> "$d/err" || status=$?
    [ "$status" -eq 1 ] || fail "read of an unfinished model ended with status $status, not 1"
    grep -q "\"$d/cut.vrn\" holds no complete model" "$d/err" || fail "no clear message: $(cat "$d/err")"
    cmp "$d/cut.vrn" "$d/cut.expected" || fail "reading the unfinished model changed its file"
    ;;
ReadOfAModelUndoneToStateZeroSaysSo)
    "$program" write "$d/m.vrn" > /dev/null || fail "write ended with status $?"
    # The latest "State - current" (its index line gives its place) set to 0
    # in place, as a host that undid every state before closing leaves it.
    at=$(LC_ALL=C grep -a '^Y.State - current.GLOBAL.0.' "$d/m.vrn" | tail -n 1 | LC_ALL=C tr '\033' ' ' | awk '{print $NF}')
    rel=$(tail -c +$((at + 1)) "$d/m.vrn" | head -c 200 | LC_ALL=C grep -abo '\*DATA' | sed -n 2p | cut -d: -f1)
    [ -n "$at" ] && [ -n "$rel" ] || fail "no state counter found in the model"
    printf '\000\000\000\000' | dd of="$d/m.vrn" bs=1 seek=$((at + rel + 5)) conv=notrunc 2> /dev/null
    cp "$d/m.vrn" "$d/m.expected"
    status=0
    "$program" read "$d/m.vrn" > "$d/out" 2> "$d/err" || status=$?
    [ "$status" -eq 1 ] || fail "read of a model undone to state 0 ended with status $status, not 1"
    grep -q "\"$d/m.vrn\" has no current state to read: its writer undid every state before closing, and the file holds states 1 to 3 after it" "$d/err" ||
        fail "no true message: $(cat "$d/err")"
    cmp "$d/m.vrn" "$d/m.expected" || fail "reading the model changed its file"
    ;;
ReadOfAMissingFileFailsAndCreatesNothing)
    status=0
    "$program" read "$d/missing.vrn" > "$d/out" 2> "$d/err" || status=$?
    [ "$status" -eq 1 ] || fail "read of a missing file ended with status $status, not 1"
    grep -q 'no model database file' "$d/err" || fail "no clear message: $(cat "$d/err")"
    grep -q "$d/missing.vrn" "$d/err" || fail "the message does not name the file: $(cat "$d/err")"
    rm -f "$d/out" "$d/err"
    [ -z "$(ls -A "$d")" ] || fail "read of a missing file left: $(ls -A "$d")"
    # Without a model ending the name read is the completed one.
    status=0
    "$program" read "$d/missing" > /dev/null 2> "$d/err" || status=$?
    [ "$status" -eq 1 ] || fail "read of a missing file ended with status $status, not 1"
    grep -q "$d/missing.vrn" "$d/err" || fail "the message does not name the model file: $(cat "$d/err")"
    rm -f "$d/err"
    [ -z "$(ls -A "$d")" ] || fail "read of a missing file left: $(ls -A "$d")"
    ;;
RefusesToReplaceAFile)
    mkdir "$d/taken" "$d/fresh"
    printf 'user data\n' > "$d/taken/no_base_adf.cgns"
    printf 'notes of the user\n' > "$d/fresh/notes"
    status=0
    "$program" "$d/taken" > "$d/out" 2> "$d/err" || status=$?
    [ "$status" -eq 1 ] || fail "writing over a file ended with status $status, not 1"
    grep -q "\"$d/taken/no_base_adf.cgns\" exists already" "$d/err" || fail "no clear message: $(cat "$d/err")"
    [ "$(cat "$d/taken/no_base_adf.cgns")" = "user data" ] || fail "the user's file was replaced"
    [ "$(ls "$d/taken")" = "no_base_adf.cgns" ] || fail "files were written beside it: $(ls "$d/taken")"
    "$program" "$d/fresh" > "$d/out" || fail "writing into a folder of the user's ended with status $?"
    [ "$(wc -l < "$d/out")" -eq 4 ] || fail "the samples written were not listed: $(cat "$d/out")"
    [ "$(cat "$d/fresh/notes")" = "notes of the user" ] || fail "the user's file was changed"
    ;;
WithoutArgumentsPrintsItsUsage)
    status=0
    "$program" > "$d/out" 2> "$d/err" || status=$?
    [ "$status" -eq 2 ] || fail "without arguments the status was $status, not 2"
    grep -q '^usage: vrn_list FILE' "$d/err" || fail "no usage: $(cat "$d/err")"
    [ ! -s "$d/out" ] || fail "printed on standard output: $(cat "$d/out")"
    ;;
LabelsExpectedFailuresAndEndsOnACrash)
    "$program" > "$d/out" 2> "$d/err" || fail "the script ended with status $?: $(cat "$d/err")"
    grep -q '^expected failure: .*no_base_adf.cgns: ' "$d/out" || fail "no_base_adf.cgns not labelled"
    grep -q '^expected failure: .*locked.tolv: ' "$d/out" || fail "locked.tolv not labelled"
    ! grep ' failed: ' "$d/out" | grep -v '^expected failure: ' || fail "an unlabelled failure"
    tail -n 1 "$d/out" | grep -q '^example.sh: listed the bases of [0-9]* CGNS files' ||
        fail "no summary at the end: $(tail -n 1 "$d/out")"
    # A crash of an example is no expected failure.
    mkdir -p "$d/crash/examples" "$d/crash/tests/tools"
    for p in make_sample_cgns model_database; do ln -s "$VRN_EXAMPLE_BUILT/examples/$p" "$d/crash/examples/$p"; done
    ln -s "$VRN_EXAMPLE_BUILT/tests/tools/kwxtolvreader" "$d/crash/tests/tools/kwxtolvreader"
    printf '#!/bin/sh\nkill -SEGV $$\n' > "$d/crash/examples/vrn_list"
    chmod +x "$d/crash/examples/vrn_list"
    status=0
    VRN_EXAMPLE_BUILT="$d/crash" "$program" > "$d/out" 2>&1 || status=$?
    [ "$status" -gt 1 ] || fail "a crashing example ended the script with status $status"
    ! grep -q '^example.sh: listed' "$d/out" || fail "a summary after a crash"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
exit 0
