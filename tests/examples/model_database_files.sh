#!/bin/sh
# The model database example touches only the model file it writes.
#   model_database_files.sh PROGRAM CASE
# CASE KeepsAUserFileWithoutModelEnding: a user's file whose name has no
#   model ending is left byte for byte while the model goes beside it
#   (FILE.vrn) and reads back; a file already at the model file's name is
#   not replaced.
# CASE ReadOfAMissingFileFailsAndCreatesNothing: read of a missing file
#   exits 1 with a message naming it and leaves the folder empty.
program=$1
case_name=$2
d=$(mktemp -d) || exit 2
trap 'rm -rf "$d"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case "$case_name" in
KeepsAUserFileWithoutModelEnding)
    printf 'notes of the user\nline two\0binary\n' > "$d/notes"
    cp "$d/notes" "$d/expected"
    "$program" write "$d/notes" > "$d/write.out" || fail "write ended with status $?"
    cmp "$d/notes" "$d/expected" || fail "the user's file was changed or removed"
    [ -s "$d/notes.vrn" ] || fail "no model written to notes.vrn"
    "$program" read "$d/notes" > "$d/read.out" || fail "read ended with status $?"
    grep -q 'REGION: Walls' "$d/read.out" || fail "the model did not read back: $(cat "$d/read.out")"
    cmp "$d/notes" "$d/expected" || fail "read changed the user's file"
    # A file already at the model file's name is never replaced.
    printf 'user data\n' > "$d/taken.vrn"
    cp "$d/taken.vrn" "$d/taken.expected"
    status=0
    "$program" write "$d/taken.vrn" > /dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "write over an existing file ended with status $status, not 1"
    cmp "$d/taken.vrn" "$d/taken.expected" || fail "write replaced an existing file"
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
*)
    fail "unknown case $case_name"
    ;;
esac
exit 0
