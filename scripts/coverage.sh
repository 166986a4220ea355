#!/usr/bin/env bash
# Line and branch coverage of core/ and pyfacade/ from the C++ tests, the
# Python tests and the embedding host together (gcov counters, summed up by
# gcovr). Prints every file with its uncovered lines, and fails when line
# coverage is below $BRENVALIS_MIN_LINE_COVERAGE percent (default 95).
#
# Builds go to $BRENVALIS_BUILDS/cov-core and $BRENVALIS_BUILDS/cov-ext
# (default build/), the instrumented package and gcovr to .venv-cov.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

builds="$project_root/${BRENVALIS_BUILDS:-build}"
venv="$project_root/.venv-cov"
version=3.12
minimum="${BRENVALIS_MIN_LINE_COVERAGE:-95}"
# Threads in the tests bump the same counters; unsynchronised updates lose
# counts and even leave negative branch counts that gcovr rightly rejects.
atomic_counters="-fprofile-update=atomic"

echo "== coverage build: C++ core tests =="
build_core_tests "$builds/cov-core" -DBRENVALIS_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$atomic_counters"

echo "== coverage build: extension module (CPython $version) =="
if [ ! -x "$venv/bin/python" ]; then
    "$(find_python "$version")" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet --upgrade pip
fi
"$venv/bin/python" -m pip install --quiet "gcovr>=7"
"$venv/bin/python" -m pip install --quiet "$project_root[test]" \
    -C cmake.build-type=Debug \
    -C cmake.define.BRENVALIS_COVERAGE=ON \
    -C cmake.define.CMAKE_CXX_FLAGS="$atomic_counters" \
    -C cmake.define.BRENVALIS_BUILD_EMBED_TEST=ON \
    -C build-dir="$builds/cov-ext"

# Counters of earlier runs would be added to this one's.
find "$builds/cov-core" "$builds/cov-ext" -name '*.gcda' -delete

echo "== C++ core tests =="
ctest --test-dir "$builds/cov-core" --output-on-failure -j2 --timeout 300

echo "== Python tests =="
export BRENVALIS_NUMBER_TEXT="$builds/cov-core/number_text"
(cd tests && "$venv/bin/python" -m pytest -p no:cacheprovider -q python)

echo "== embedding host (interpreter finalised and started again) =="
ctest --test-dir "$builds/cov-ext" --output-on-failure --timeout 300

echo "== coverage of core/ and pyfacade/ =="
# Branches that only exist because a call might throw (the compiler's unwind
# edges) are left out: they say nothing about the tests. So are lines without
# a statement, such as a closing brace, to which gcov charges the destructor
# calls of the unwinding path. A line of a template counts once, covered when
# any of its instantiations ran it.
"$venv/bin/python" -m gcovr --root "$project_root" \
    --filter "$project_root/core/" --filter "$project_root/pyfacade/" \
    --exclude-throw-branches --exclude-unreachable-branches --exclude-noncode-lines --merge-lines \
    --txt - --txt-metric line --print-summary \
    --fail-under-line "$minimum" \
    "$builds/cov-core" "$builds/cov-ext"
