#!/usr/bin/env bash
# Every test: the C++ core tests under CTest; then on each supported CPython
# the Python tests, the stub check and the embedding host (CTest); then the
# newer CPython versions and their debug builds in a Debian testing root
# (scripts/test-newer-pythons.sh); then the release (scripts/build-dist.sh)
# built and checked as users install it (scripts/check-dist.sh). Exits
# non-zero on the first failing stage.
#
# BRENVALIS_PYTHONS lists the interpreters (default 3.12 3.13),
# BRENVALIS_DEBUG_PYTHONS the debug builds whose pytest suite runs under
# PYTHONMALLOC=debug and -X dev (python3.Xd; default none).
# BRENVALIS_SKIP_DIST=1 leaves the release out of a developer's run; CI always
# runs it. Inside the testing root (BRENVALIS_TESTING_ROOT is set there) the
# run ends after the interpreters: the host runs the root and the release.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

echo "== C++ core tests (GoogleTest under CTest, $(compiler_version)) =="
build_core_tests build/cpp-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/cpp-tests --output-on-failure -j2 --timeout 300

# The Python property tests drive the number writer through this tool.
export BRENVALIS_NUMBER_TEXT="$project_root/build/cpp-tests/number_text"

for version in ${BRENVALIS_PYTHONS-3.12 3.13}; do
    echo "== Python tests on CPython $version =="
    python="$(ensure_venv "$version")"
    # Run from tests/ so that the installed package, not the source tree, is imported.
    (cd tests && "$python" -m pytest -p no:cacheprovider -q python)
    echo "== Type stubs against the built module on CPython $version (stubtest) =="
    (cd tests && "$python" -m mypy.stubtest brenvalis._tolvane_core)
    echo "== Embedding host on CPython $version: the interpreter finalised and started again (CTest) =="
    # Embedding links the interpreter's own library, so this is the
    # installation the venv was made from, not the venv. The host imports the
    # extension pip just built and installed.
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

if [ -n "${BRENVALIS_TESTING_ROOT:-}" ]; then
    exit 0
fi

bash scripts/test-newer-pythons.sh

if [ -n "${BRENVALIS_SKIP_DIST:-}" ] && [ -z "${CI:-}" ]; then
    echo "== release build and checks skipped (BRENVALIS_SKIP_DIST is set) =="
    exit 0
fi
dist_start=$SECONDS
bash scripts/build-dist.sh
bash scripts/check-dist.sh
echo "== release built and checked in $((SECONDS - dist_start)) s =="
