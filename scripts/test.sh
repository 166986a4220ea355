#!/usr/bin/env bash
# The project's tests.
#
#   bash scripts/test.sh          what this machine's own compiler and CPython
#                                 versions can test, in a few minutes: the C++
#                                 core tests under CTest, then on each CPython
#                                 the pytest suite, the stub check and the
#                                 embedding host (CTest)
#   bash scripts/test.sh --all    everything CI runs (.ci/run): the above; the
#                                 C++ core tests built by the release toolchain;
#                                 the Debian testing roots (CPython 3.14, 3.15
#                                 and their debug builds, g++ 16, the C++ tests
#                                 of the other machines: test-newer-pythons.sh);
#                                 the release built and checked as users install
#                                 it, each wheel on its machine (build-dist.sh,
#                                 check-dist.sh); the sdist and the cp312 wheel
#                                 built twice from clean clones and compared
#                                 byte for byte (check-reproducible.sh --ci);
#                                 the sanitizers, the thread sanitizer, the
#                                 coverage gate, the fuzz targets (their seeds
#                                 and past reproducers replayed, then a minute
#                                 of fuzzing each: fuzz.sh) and the C++ layout
#                                 check. Every step runs even when an earlier
#                                 one failed, and a table of the steps ends
#                                 the run.
#
# Either form sets itself up: run as root on Debian, it installs what is
# missing (GoogleTest, CMake, g++; for --all also clang-format and
# debootstrap, and fuzz.sh its clang-19); otherwise it says in one line what
# it could not install and leaves out only what needs it. Every setting the
# scripts read is listed in docs/building-and-testing.md ("Settings").
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

all=""
case "${1:-}" in
    "") ;;
    --all) all=yes ;;
    *)
        echo "usage: $0 [--all]" >&2
        exit 2
        ;;
esac

# The quick tests: the C++ core tests, then the interpreters' tests.
quick_tests() {
    if [ -f /usr/include/gtest/gtest.h ]; then
        echo "== C++ core tests (GoogleTest under CTest, $(compiler_version)) =="
        build_core_tests build/cpp-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
        ctest --test-dir build/cpp-tests --output-on-failure -j2 --timeout 300
        # The Python property tests drive the number writer through this tool.
        export BRENVALIS_NUMBER_TEXT="$project_root/build/cpp-tests/number_text"
    else
        echo "== C++ core tests: skipped, GoogleTest is missing (apt-get install libgtest-dev, as root) =="
    fi

    local version python base_python module_dir
    for version in ${BRENVALIS_PYTHONS-3.12 3.13}; do
        echo "== Python tests on CPython $version =="
        python="$(ensure_venv "$version")"
        # Run from tests/ so that the installed package, not the source tree, is imported.
        (cd tests && "$python" -m pytest -p no:cacheprovider -q python)
        echo "== Type stubs against the built module on CPython $version (stubtest) =="
        (cd tests && "$python" -m mypy.stubtest brenvalis._tolvane_core)
        echo "== Embedding host on CPython $version: the interpreter finalised and started again (CTest) =="
        # Embedding links the interpreter's own library, so this is the
        # installation the venv was made from, not the venv. The host imports
        # the extension pip just built and installed.
        base_python="$(find_python "$version")"
        module_dir="$("$python" -c 'import os, brenvalis._tolvane_core as m; print(os.path.dirname(m.__file__))')"
        cmake -S . -B "build/embed-$version" -DPython_EXECUTABLE="$base_python" -DBRENVALIS_BUILD_EXTENSION=OFF \
            -DBRENVALIS_BUILD_EMBED_TEST=ON -DBRENVALIS_EMBED_MODULE_DIR="$module_dir" -DBRENVALIS_WERROR=ON \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
        cmake --build "build/embed-$version" -j2 --target restart_host
        ctest --test-dir "build/embed-$version" --output-on-failure --timeout 300
    done

    for version in ${BRENVALIS_DEBUG_PYTHONS-}; do
        echo "== Python tests on the debug build of CPython $version (PYTHONMALLOC=debug, -X dev) =="
        python="$(ensure_venv "${version}d")"
        # A debug interpreter runs the suite about three times slower than its
        # release build: two worker processes (pytest-xdist) win most of that back.
        "$python" -m pip install --quiet pytest-xdist
        # Set in the environment rather than on the command line, so that the
        # interpreters the tests start, the workers among them, run the same way.
        (cd tests && PYTHONMALLOC=debug PYTHONDEVMODE=1 "$python" -m pytest -p no:cacheprovider -q -n 2 python)
    done
}

# The C++ core tests as the release toolchain builds them, for this machine.
release_toolchain_core_tests() {
    echo "== C++ core tests built by the release toolchain (Zig $zig_version, $(zig_target "$(uname -m)")) =="
    zig_build_core_tests "$(uname -m)" build/cpp-tests-zig
    ctest --test-dir build/cpp-tests-zig --output-on-failure -j2 --timeout 300
}

release() {
    bash scripts/build-dist.sh
    bash scripts/check-dist.sh
}

setup_packages=(libgtest-dev:/usr/include/gtest/gtest.h cmake:cmake g++:g++)
[ -n "$all" ] && setup_packages+=(clang-format:clang-format debootstrap:debootstrap valgrind:valgrind)
ensure_debian_packages "${setup_packages[@]}" || true

if [ -z "$all" ]; then
    start=$SECONDS
    quick_tests
    echo "== tests passed in $((SECONDS - start)) s =="
    exit 0
fi

start=$SECONDS
summary=()
failed=0
# The testing roots that are missing or stale are made in the background from
# the start: a new machine's seven take about a quarter of an hour, mostly of
# one emulated process each, which the steps before the roots step share the
# CPUs with. The steps that need a root wait for it (each root has a lock).
roots_ahead=""
rm -f build/roots-ahead.done
if [ -z "$(testing_root_unavailable)" ]; then
    mkdir -p build
    { ensure_testing_roots && touch build/roots-ahead.done; } >build/roots-ahead.log 2>&1 &
    roots_ahead=$!
fi
# Runs one step in a subshell, so that a failing command ends the step and
# not the run, and notes its status and time. (Not as the condition of an
# if: there, bash would ignore every failure inside the step.)
step() {
    local name="$1" begin=$SECONDS status=ok
    shift
    set +e
    (
        set -e
        "$@"
    )
    [ "$?" -eq 0 ] || { status=FAILED; failed=1; }
    set -e
    summary+=("$(printf '%-12s %-6s %5d s' "$name" "$status" "$((SECONDS - begin))")")
    last_status="$status"
}

tree_key="$(source_tree_key)"
# The key of the step $2 (run as $2...), whose result depends on the source
# tree and this machine's compilers and interpreters, and with $1 = roots on
# the testing roots too.
step_key() {
    local with_roots="$1" arch
    shift
    {
        echo "step: $*"
        echo "source tree: $tree_key"
        host_identity
        if [ "$with_roots" = roots ]; then
            for arch in amd64 $(for target in $cross_targets_of_root; do debian_arch "$target"; done); do
                echo "$arch root: $(root_identity "$(bash scripts/testing-root.sh --arch "$arch" path)")"
            done
        fi
    } | result_key
}
# A step run as by step, unless it has passed before with the same key
# (step_key; $1 = roots: its key holds the roots); its key is taken again
# after it passed, as a step may make or renew a root.
cached_step() {
    local with_roots="$1" name="$2" key
    shift
    key="$(step_key "$with_roots" "$@")"
    # While roots are still being made or renewed, their identity is not yet
    # known: the step runs.
    if [ "$with_roots" = roots ] && [ -n "$roots_ahead" ] && [ ! -e build/roots-ahead.done ]; then
        key=""
    fi
    if [ -n "$key" ] && passed_before "$key"; then
        echo "== $name: passed before with this source tree on this machine (result $key: $(cat "$result_cache/$key")) =="
        summary+=("$(printf '%-12s %-6s %5d s' "$name" cached 0)")
        return 0
    fi
    step "$@"
    [ "$last_status" = ok ] || return 0
    record_pass "$(step_key "$with_roots" "$@")" "$name of source tree $tree_key"
}

# The quick tests always run: they are the command developers run. So do
# the release's build, whose wheels key their checks (check-dist.sh), the
# fuzzing, whose every minute tries new inputs, and the layout check (2 s).
step quick quick_tests
cached_step host zig-core release_toolchain_core_tests
cached_step roots roots bash scripts/test-newer-pythons.sh
step release release
cached_step host reproducible bash scripts/check-reproducible.sh --ci
cached_step host sanitizers bash scripts/check-sanitizers.sh
cached_step host threads bash scripts/check-threads.sh
cached_step host coverage bash scripts/coverage.sh
step fuzz env BRENVALIS_FUZZ_JOBS=2 bash scripts/fuzz.sh all 60
step format bash scripts/check-format.sh

# Whatever it failed to make, the steps that needed the root made or reported.
[ -z "$roots_ahead" ] || wait "$roots_ahead" || true
echo "== steps =="
printf '%s\n' "${summary[@]}"
echo "== all tests finished in $((SECONDS - start)) s =="
exit "$failed"
