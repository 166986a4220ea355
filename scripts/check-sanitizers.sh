#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer: builds the C++ core tests and
# the extension module with both, then runs CTest, the whole pytest suite and
# the embedding host (on CPython 3.12) against them. Fails on any test failure
# and on any sanitizer report, including reports from child processes whose
# exit status a test may expect to be non-zero.
#
# Builds go to $BRENVALIS_BUILDS/asan-core and $BRENVALIS_BUILDS/asan-ext
# (default build/), the instrumented package to .venv-asan. The embedding host
# is built with the extension, in asan-ext.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

builds="$project_root/${BRENVALIS_BUILDS:-build}"
venv="$project_root/.venv-asan"
version=3.12

# The interpreter is not instrumented, so the runtime must be loaded before
# anything else in the process. It has to be the compiler's own runtime: the
# one the objects were built against. The C++ runtime is preloaded with it:
# the sanitizer looks up the real __cxa_throw once, at start-up, and the
# interpreter itself does not load libstdc++, so without it the first C++
# exception thrown in the module stops the process with a CHECK failure.
runtime="$(g++ -print-file-name=libasan.so)"
cxx_runtime="$(g++ -print-file-name=libstdc++.so)"
for library in "$runtime" "$cxx_runtime"; do
    if [ ! -f "$library" ]; then
        echo "error: $library not found (apt-get install libasan8 libstdc++-12-dev)" >&2
        exit 2
    fi
done

# Every AddressSanitizer report goes to a file of its own in this folder,
# whichever process made it; the run is clean only if the folder stays empty.
# GCC's UndefinedBehaviorSanitizer runtime ignores log_path and reports on
# standard error; halt_on_error makes it end the process with status 1, which
# the test runners, and every test that starts a process, check.
reports="$builds/asan-reports"
rm -rf "$reports"
mkdir -p "$reports"
common_options="log_path=$reports/report:print_stacktrace=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

check_reports() {
    local stage="$1"
    if [ -n "$(ls -A "$reports")" ]; then
        echo "== sanitizer reports from $stage ==" >&2
        for file in "$reports"/*; do
            echo "---- $file" >&2
            cat "$file" >&2
        done
        exit 1
    fi
}

echo "== C++ core tests under ASan+UBSan =="
build_core_tests "$builds/asan-core" -DBRENVALIS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
# The core tests are plain C++ processes: leak checking stays on for them.
# A test that hangs (a lost wake-up in a lock, say) fails after the timeout
# instead of holding the run until CI's limit.
ASAN_OPTIONS="$common_options:detect_leaks=1" \
    ctest --test-dir "$builds/asan-core" --output-on-failure -j2 --timeout 300
check_reports "the C++ core tests"

echo "== extension module under ASan+UBSan, pytest on CPython $version =="
if [ ! -x "$venv/bin/python" ]; then
    "$(find_python "$version")" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet --upgrade pip
fi
"$venv/bin/python" -m pip install --quiet "$project_root[test]" \
    -C cmake.build-type=Debug \
    -C cmake.define.BRENVALIS_SANITIZE=ON \
    -C cmake.define.BRENVALIS_BUILD_EMBED_TEST=ON \
    -C build-dir="$builds/asan-ext"

# detect_leaks=0: the interpreter leaves its interned strings allocated at
# exit, which LeakSanitizer would report for every process. Leaks of the
# module are hunted by measuring growth instead (tests/python/test_leaks.py).
# PYTHONMALLOC=malloc: objects come from malloc, so each gets redzones
# (pymalloc's arenas would hide an overflow into a neighbouring object).
# Child processes inherit all of this, so subprocess tests run sanitized too.
export BRENVALIS_NUMBER_TEXT="$builds/asan-core/number_text"
(
    cd tests
    LD_PRELOAD="$runtime $cxx_runtime" PYTHONMALLOC=malloc \
        ASAN_OPTIONS="$common_options:detect_leaks=0" \
        "$venv/bin/python" -m pytest -p no:cacheprovider -q python
)
check_reports "the Python tests"

echo "== embedding host under ASan+UBSan on CPython $version =="
# The host links the sanitizer runtime and the C++ runtime itself, so both
# are in the initial library list without LD_PRELOAD.
PYTHONMALLOC=malloc ASAN_OPTIONS="$common_options:detect_leaks=0" \
    ctest --test-dir "$builds/asan-ext" --output-on-failure --timeout 300
check_reports "the embedding host"
echo "== no sanitizer reports =="
