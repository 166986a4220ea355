#!/usr/bin/env bash
# Runs every test of a GoogleTest program in a process of its own, as CTest
# runs the tests it discovers, where there is no CTest (the arm64 testing
# root). Tests that keep per-process state (the shard count, the staged
# platform answers) rely on that. Prints one line per failed test with its
# output, and a count; exits non-zero if any failed.
#   run-gtest-each.sh PROGRAM
set -uo pipefail
program="$1"
passed=0
failed=0
suite=""
tests="$("$program" --gtest_list_tests)" || {
    echo "error: $program could not list its tests" >&2
    exit 2
}
while IFS= read -r line; do
    if [[ "$line" != " "* ]]; then
        suite="$line"
        continue
    fi
    name="${line#"${line%%[! ]*}"}"
    name="$suite${name%%[ #]*}"
    # A name that matches nothing would pass with no test run: exactly one must.
    if output="$(timeout 300 "$program" --gtest_filter="$name" 2>&1)" &&
        grep -q '^\[  PASSED  \] 1 test\.$' <<<"$output"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED $name"
        echo "$output" | sed 's/^/    /'
    fi
done <<<"$tests"
echo "$passed tests passed, $failed failed ($program)"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
