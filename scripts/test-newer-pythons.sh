#!/usr/bin/env bash
# The tests on the CPython versions and machines this one's Debian does not
# carry, inside Debian testing roots (scripts/testing-root.sh makes and caches
# them): in the amd64 root, the C++ core tests built by its newer g++ with
# warnings as errors; on CPython 3.14 and 3.15 the pytest suite, the stub
# check and the embedding host; on their debug builds the pytest suite under
# PYTHONMALLOC=debug and -X dev. Then the C++ core tests cross-built there by
# the release toolchain for each other machine (cross_targets_of_root in
# common.sh: aarch64, i686, armv7l, ppc64le, s390x and riscv64)
# and run in a root of its own architecture, i686
# natively and the others under emulation. (Those machines' wheels and their
# pytest runs are the release's: scripts/check-dist.sh.) The roots work
# on their own copies of the project, so their builds and environments never
# mix with this machine's.
#
# Needs root on Linux. Anywhere else it prints one line saying why it was
# skipped and succeeds, so a test run without root still passes; where it can
# run, a root that cannot be made is a failure, with the reason.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

reason="$(testing_root_unavailable)"
if [ -n "$reason" ]; then
    echo "== CPython $newer_pythons and $cross_targets_of_root in the Debian testing roots: skipped ($reason) =="
    exit 0
fi

start=$SECONDS
root="$(bash scripts/testing-root.sh ensure)"
# The other machines' roots, where missing or stale (scripts/test.sh --all
# starts making them at its start), are made in the background while the
# amd64 root's tests run; the lanes below wait for a root still being made.
mkdir -p build
ensure_testing_roots >build/foreign-roots.log 2>&1 &
sync_into_root "$root" "$root_copy"
echo "== CPython $newer_pythons and their debug builds in the testing root ($root) =="
bash scripts/testing-root.sh run /bin/bash -c '
    cd "$1"
    BRENVALIS_PYTHONS="$2" BRENVALIS_DEBUG_PYTHONS="$2" exec bash scripts/test.sh
' bash "$root_copy" "$newer_pythons"

# The C++ core tests of the machine $1: cross-built in the amd64 root, run in
# the root of that machine.
cross_core_tests() {
    local target="$1" arch target_root
    arch="$(debian_arch "$target")"
    echo "== C++ core tests for $target: cross-built in the amd64 root, run in the $arch root $(emulation_of "$target") =="
    cross_build_core_tests "$target"
    target_root="$(bash scripts/testing-root.sh --arch "$arch" ensure)"
    mkdir -p "$target_root$root_copy/build"
    cp "$root$root_copy/build/cpp-tests-$target/core_tests" scripts/run-gtest-each.sh "$target_root$root_copy/build/"
    bash scripts/testing-root.sh --arch "$arch" run /bin/bash -c \
        "cd $root_copy/build && uname -m && bash run-gtest-each.sh ./core_tests"
}
# Two machines at a time: an emulated run is one process, which leaves the
# other CPU to the next machine's build or run. Zig is installed in the root
# first, so that the two never install it at once.
bash scripts/testing-root.sh run /bin/bash -c 'cd "$1" && source scripts/common.sh && ensure_zig >/dev/null' \
    bash "$root_copy"
# shellcheck disable=SC2046 # the machines are a list; in the order their roots are made
run_in_lanes 2 build/cross-core-tests "the C++ core tests failed on" cross_core_tests $(cross_targets_slowest_first)
echo "== the testing roots' checks passed in $((SECONDS - start)) s =="
