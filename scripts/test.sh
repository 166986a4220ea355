#!/usr/bin/env bash
# Every test: the C++ core tests under CTest, then on each supported CPython
# the Python tests, the stub check and the embedding host (CTest). Exits
# non-zero on the first failing stage.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

echo "== C++ core tests (GoogleTest under CTest) =="
cmake -S . -B build/cpp-tests -DBRENVALIS_BUILD_EXTENSION=OFF -DBRENVALIS_BUILD_TESTS=ON \
    -DBRENVALIS_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/cpp-tests -j2
ctest --test-dir build/cpp-tests --output-on-failure -j2 --timeout 300

# The Python property tests drive the number writer through this tool.
export BRENVALIS_NUMBER_TEXT="$project_root/build/cpp-tests/number_text"

for version in ${BRENVALIS_PYTHONS:-3.12 3.13}; do
    echo "== Python tests on CPython $version =="
    python="$(ensure_venv "$version")"
    # Run from tests/ so that the installed package, not the source tree, is imported.
    (cd tests && "$python" -m pytest -p no:cacheprovider -q python)
    echo "== Type stubs against the built module on CPython $version (stubtest) =="
    (cd tests && "$python" -m mypy.stubtest brenvalis._tolvane_core)
    echo "== Embedding host on CPython $version: the interpreter finalised and started again (CTest) =="
    # Embedding links the interpreter's own library, so this is the
    # installation the venv was made from, not the venv.
    base_python="$(find_python "$version")"
    cmake -S . -B "build/embed-$version" -DPython_EXECUTABLE="$base_python" -DBRENVALIS_BUILD_EMBED_TEST=ON \
        -DBRENVALIS_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "build/embed-$version" -j2
    ctest --test-dir "build/embed-$version" --output-on-failure --timeout 300
done
