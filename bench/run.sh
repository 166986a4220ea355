#!/usr/bin/env bash
# Both benchmarks of the native module against its floor twin: the timings
# (bench_module.py), then the instruction counts under callgrind
# (count_instructions.py), then the performance tables of docs/performance.md
# from the two; last the start-up counts of the package and its command line
# (bench_startup.py), which print their own table for it.
#
#   bash bench/run.sh            builds and installs this tree into .venv-3.12, then measures it,
#                                and counts the instructions of the shipped cp312 wheel too
#                                (built from this tree by the release toolchain, installed
#                                into .venv-wheel-3.12)
#   bash bench/run.sh PYTHON     measures the brenvalis installed for the interpreter PYTHON
#
# The twin is built for the measured interpreter into build/floor-twin/X.Y;
# the results of the run are kept in build/bench/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

if [ "$#" -gt 0 ]; then
    # The interpreter's own absolute path, asked before leaving the caller's
    # folder: a relative PYTHON or a pyenv shim would not reach CMake (which
    # then finds some other interpreter) or callgrind as the interpreter.
    python="$("$1" -c 'import sys; print(sys.executable)')"
else
    python="$(ensure_venv 3.12)"
fi
cd "$project_root"
version="$("$python" -c 'import sys; print(f"{sys.version_info.major}.{sys.version_info.minor}")')"

echo "== floor twin for CPython $version =="
cmake -S bench/floor_twin -B "build/floor-twin/$version" -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "build/floor-twin/$version" -j2 >/dev/null

results="build/bench"
mkdir -p "$results"
echo "== timings =="
"$python" bench/bench_module.py --json "$results/timing-$version.json"
echo
echo "== instructions per call =="
"$python" bench/count_instructions.py --json "$results/instructions-$version.json"
tables=("$results/timing-$version.json" "$results/instructions-$version.json")
if [ "$#" -eq 0 ]; then
    echo
    echo "== the shipped wheel for CPython $version, built by the release toolchain =="
    rm -rf "$results/wheel"
    build_release_wheel "$version" "$(find_python "$version")" "$(uname -m)" "$project_root" "$results/wheel" >/dev/null
    wheel_venv="$project_root/.venv-wheel-$version"
    [ -x "$wheel_venv/bin/python" ] || "$(find_python "$version")" -m venv "$wheel_venv"
    "$wheel_venv/bin/python" -m pip install --quiet --force-reinstall --no-deps --only-binary :all: \
        "$results"/wheel/raw/*.whl
    "$wheel_venv/bin/python" bench/count_instructions.py --json "$results/instructions-$version-wheel.json"
    tables+=("$results/instructions-$version-wheel.json")
fi
echo
echo "== the tables of docs/performance.md =="
"$python" bench/readme_table.py "${tables[@]}"
echo
echo "== start-up, whole process =="
"$python" bench/bench_startup.py --json "$results/startup-$version.json"
