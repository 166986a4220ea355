#!/usr/bin/env bash
# Checks the release in dist/ (scripts/build-dist.sh makes it) as its users
# will meet it: the files in it, twine's and check-wheel-contents' checks,
# each wheel's manylinux tag, then every wheel installed without a build step
# into a fresh environment of its own interpreter, where the whole pytest
# suite and the stub check run against the installed package: the wheels of
# the Debian testing roots inside the root of their architecture (aarch64
# under emulation), and last the sdist built and installed in a fresh
# environment, with a smoke test.
#
# Inside a root the script is run as `check-dist.sh --installed-only
# VERSION...`: the wheels of those CPython versions in the root's dist/, each
# installed and tested with its interpreter.
# BRENVALIS_WHEEL_TEST_WORKERS, when set, spreads each pytest run over that
# many processes (pytest-xdist), for the emulated runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
dist="$project_root/dist"
work="$project_root/build/dist-check"
mode="${1:-}"

if [ "$mode" = --installed-only ]; then
    pythons=()
    for python_version in "${@:2}"; do
        pythons+=("$python_version $(find_python "$python_version")")
    done
else
    read_release_pythons pythons
fi
versions=("${pythons[@]%% *}")
version="$("${pythons[0]#* }" -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')"

# The number writer's property tests drive a tool of the C++ test build;
# scripts/test.sh has built it already.
if [ -z "${BRENVALIS_NUMBER_TEXT:-}" ]; then
    BUILD_TARGETS=number_text build_core_tests build/cpp-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
    export BRENVALIS_NUMBER_TEXT="$project_root/build/cpp-tests/number_text"
fi
if [ ! -x "$BRENVALIS_NUMBER_TEXT" ]; then
    echo "error: $BRENVALIS_NUMBER_TEXT is missing, so the number writer's tests could not run" >&2
    exit 2
fi

rm -rf "$work"
mkdir -p "$work/run"
# Commands that import brenvalis run here, where no source tree is in reach.
run="$work/run"

if [ "$mode" != --installed-only ]; then
    tools="$(ensure_dist_tools)"
    # The roots' wheels are expected wherever the roots can be made.
    if [ -z "$(testing_root_unavailable)" ]; then
        for python_version in $newer_pythons; do
            versions+=("$python_version")
        done
        for target in $cross_targets_of_root; do
            for python_version in $cross_pythons; do
                versions+=("$python_version:$target")
            done
        done
    fi
    echo "== files in dist/ =="
    "$tools/python" scripts/check_dist_files.py "$dist" "${versions[@]}"

    echo "== twine check =="
    "$tools/twine" --no-color check --strict "$dist"/*

    echo "== check-wheel-contents =="
    "$tools/check-wheel-contents" "$dist"/*.whl

    echo "== auditwheel show =="
    for wheel in "$dist"/*.whl; do
        report="$("$tools/auditwheel" show "$wheel" 2>/dev/null | tr '\n' ' ')"
        tag="$(sed -n 's/.*consistent with the following platform tag: "\([^"]*\)".*/\1/p' <<<"$report")"
        # The last of its platform tags: manylinux2014_x86_64.manylinux_2_17_x86_64.
        named="${wheel%.whl}"
        named="${named##*.}"
        if [[ "$tag" != manylinux_* ]] || [ "$tag" != "$named" ]; then
            echo "error: auditwheel gives $(basename "$wheel") the tag '${tag:-none}', its name says $named" >&2
            exit 1
        fi
        echo "$(basename "$wheel"): $tag"
    done
fi

# The wheel of CPython $1 (interpreter $2) installed with no build step into
# a fresh environment, with the whole pytest suite and the stub check run
# against it where no source tree is in reach.
check_installed_wheel() {
    local python_version="$1" python="$2" wheels venv workers="${BRENVALIS_WHEEL_TEST_WORKERS:-}"
    wheels=("$dist"/brenvalis-"$version"-cp"${python_version/./}"-*_"$(uname -m)".whl)
    echo "== $(basename "${wheels[0]}"): installed into a fresh CPython $python_version environment =="
    venv="$work/wheel-$python_version"
    "$python" -m venv "$venv"
    # This machine's interpreters may bundle an old pip; the roots' are new.
    [ -n "${BRENVALIS_TESTING_ROOT:-}" ] || "$venv/bin/python" -m pip install --quiet --upgrade pip
    # --only-binary: the package comes from the wheel as it is, nothing is built.
    "$venv/bin/python" -m pip install --quiet --only-binary :all: "${wheels[0]}[test]" ${workers:+pytest-xdist}
    (
        cd "$run"
        "$venv/bin/python" -c '
import sys
from pathlib import Path
import brenvalis
where = Path(brenvalis._tolvane_core.__file__)
assert where.is_relative_to(sys.prefix), f"brenvalis imported from {where}, not from the environment"
print(f"brenvalis {brenvalis.__version__} from {where}")
'
        "$venv/bin/python" -m pytest -p no:cacheprovider -q ${workers:+-n "$workers"} "$project_root/tests/python"
        "$venv/bin/python" -m mypy.stubtest brenvalis._tolvane_core
    )
}

for entry in "${pythons[@]}"; do
    check_installed_wheel "${entry%% *}" "${entry#* }"
done
if [ "$mode" = --installed-only ]; then
    exit 0
fi

reason="$(testing_root_unavailable)"
if [ -n "$reason" ]; then
    echo "== wheels of the testing roots: skipped ($reason) =="
else
    # Copies the wheels for the machine $2 of the CPython versions $3 into
    # the dist/ of the copy in the root $1, and nothing else.
    wheels_into_root() {
        rm -rf "$1$root_copy/dist"
        mkdir -p "$1$root_copy/dist"
        for python_version in $3; do
            cp "$dist"/brenvalis-"$version"-cp"${python_version/./}"-*"_$2.whl" "$1$root_copy/dist/"
        done
    }
    root="$(bash scripts/testing-root.sh ensure)"
    sync_into_root "$root" "$root_copy"
    wheels_into_root "$root" "$(uname -m)" "$newer_pythons"
    bash scripts/testing-root.sh run /bin/bash -c "cd $root_copy && bash scripts/check-dist.sh --installed-only $newer_pythons"

    for target in $cross_targets_of_root; do
        arch="$(debian_arch "$target")"
        # The number writer's tool, built for the target.
        BUILD_TARGETS=number_text cross_build_core_tests "$target"
        target_root="$(bash scripts/testing-root.sh --arch "$arch" ensure)"
        sync_into_root "$target_root" "$root_copy"
        wheels_into_root "$target_root" "$target" "$cross_pythons"
        cp "$root$root_copy/build/cpp-tests-$target/number_text" "$target_root$root_copy/build/number_text"
        echo "== wheels for $target, installed and tested in the $arch root under emulation =="
        # Emulated, the suite takes minutes: two processes use both CPUs.
        bash scripts/testing-root.sh --arch "$arch" run /bin/bash -c "cd $root_copy && \
            BRENVALIS_NUMBER_TEXT=$root_copy/build/number_text BRENVALIS_WHEEL_TEST_WORKERS=2 \
            bash scripts/check-dist.sh --installed-only $cross_pythons"
    done
fi

sdist="$dist/brenvalis-$version.tar.gz"
python="${pythons[0]#* }"
echo "== $(basename "$sdist"): built and installed in a fresh CPython ${versions[0]} environment =="
venv="$work/sdist"
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --upgrade pip
"$venv/bin/python" -m pip install --quiet --no-cache-dir "$sdist"
(
    cd "$run"
    shown="$("$venv/bin/brenvalis" --version)"
    sheet="$("$venv/bin/brenvalis" get b3 --json)"
    "$venv/bin/python" - "$version" "$shown" "$sheet" <<'EOF'
import json
import sys
from pathlib import Path

import brenvalis

version, shown, sheet = sys.argv[1:]
where = Path(brenvalis._tolvane_core.__file__)
assert where.is_relative_to(sys.prefix), f"brenvalis imported from {where}, not from the environment"
assert shown == f"brenvalis {version}" == f"brenvalis {brenvalis.__version__}", shown
assert json.loads(sheet) == brenvalis.Get("b3") == brenvalis.py_get_constant("b3"), sheet
assert brenvalis.py_list_quarks() == ["bottom", "charm", "down", "strange", "top", "up"]
EOF
    echo "$shown; get b3 --json: $sheet"
)
echo "== dist/ passed every check =="
