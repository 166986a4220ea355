#!/usr/bin/env bash
# Checks the release in dist/ (scripts/build-dist.sh makes it) as its users
# will meet it: the files in it (with SHA256SUMS, and each wheel's SBOM
# against the link map that build-dist.sh kept), twine's and
# check-wheel-contents' checks, each wheel's manylinux tag, then every wheel
# installed without a build step into a fresh environment of its own
# interpreter, where the command-line
# tour, the pytest suite (or its subset) and the stub check run against the
# installed package: the wheels of the Debian testing roots inside the root
# of their machine (i686 natively, the others under emulation), and last the
# sdist built and installed in a fresh environment, with a smoke test.
#
# Inside a root the script is run as `check-dist.sh --installed-only
# VERSION[:subset|:tour]...`: the wheels of those CPython versions in the
# root's dist/, each installed and tested with its interpreter (with :subset,
# only the subset of the suite named in common.sh; with :tour, no suite, as
# its tests passed before with the same key). BRENVALIS_TOUR names the
# command-line tour the wheels must print.
# BRENVALIS_WHEEL_TEST_WORKERS, when set, spreads each pytest run over that
# many processes (pytest-xdist), for the emulated runs, which also set
# BRENVALIS_SKIP_MACHINE_INDEPENDENT=1: the checks whose result cannot depend
# on the machine (the stubs) are left to the x86_64 wheels.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
dist="$project_root/dist"
work="$project_root/build/dist-check"
mode="${1:-}"

# How deep each version's installed wheel is tested: "whole" unless a
# version is given as VERSION:subset.
declare -A depths=()
if [ "$mode" = --installed-only ]; then
    pythons=()
    for spec in "${@:2}"; do
        python_version="${spec%%:*}"
        [ "$spec" != "$python_version" ] && depths[$python_version]="${spec#*:}"
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

# This machine's release tools; their pip installs the test tools, for the
# roots too. Inside a root, they are there already.
[ -n "${BRENVALIS_TESTING_ROOT:-}" ] || tools="$(ensure_dist_tools)"

if [ "$mode" != --installed-only ]; then
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
    "$tools/python" scripts/check_dist_files.py "$dist" "$project_root/build/dist/maps" "${versions[@]}"

    echo "== twine check =="
    "$tools/twine" --no-color check --strict "$dist"/*.tar.gz "$dist"/*.whl

    echo "== check-wheel-contents =="
    "$tools/check-wheel-contents" "$dist"/*.whl

    echo "== auditwheel show =="
    for wheel in "$dist"/*.whl; do
        report="$("$tools/auditwheel" show "$wheel" 2>/dev/null | tr '\n' ' ')"
        tag="$(sed -n 's/.*consistent with the following platform tag: "\([^"]*\)".*/\1/p' <<<"$report")"
        # The last of its platform tags: manylinux_2_17_x86_64 of
        # ...-manylinux2014_x86_64.manylinux_2_17_x86_64.whl.
        named="${wheel%.whl}"
        named="${named##*-}"
        named="${named##*.}"
        if [[ "$tag" != manylinux_* ]] || [ "$tag" != "$named" ]; then
            echo "error: auditwheel gives $(basename "$wheel") the tag '${tag:-none}', its name says $named" >&2
            exit 1
        fi
        echo "$(basename "$wheel"): $tag"
    done
fi

# The command line's tour (as scripts/run.sh gives it) of the brenvalis
# program $1: every machine's wheels must print exactly what this machine's
# first one does.
tour() {
    local command
    for command in "" "--version" "quarks" "constants" "get b3" "get phi --json" "ckm" "ckm --tol=-1e-12"; do
        echo "\$ brenvalis${command:+ $command}"
        # shellcheck disable=SC2086 # each command is split into its words on purpose
        "$1" $command
    done
}

# The test tools: the test extra's packages, pytest-xdist, and pip, which
# installs each wheel. Their list, read by the interpreter $1.
test_tools_wanted() {
    "$1" -c '
import tomllib
project = tomllib.load(open("pyproject.toml", "rb"))["project"]
print("\n".join(project["optional-dependencies"]["test"] + ["pytest-xdist", "pip"]))'
}

# The glibc version (2.43) of the testing root $1, from its package database
# (where the amd64 root lists one libc6 for each machine it has headers for).
root_glibc() {
    sed -n '/^Package: libc6$/,/^$/s/^Version: \([0-9]*\.[0-9]*\).*/\1/p' "$1/var/lib/dpkg/status" | head -n1
}

# Installs the test tools for CPython $2 on the machine $3 (glibc $4) into
# the folder $1, unless they are there already, by this machine's pip and at
# its speed: the wheels are those that machine's own pip would choose (its
# interpreter's ABI and its manylinux tags up to its glibc). Each wheel's
# fresh environment holds the wheel alone and reaches the tools' folder
# through a .pth file. A root's folder is kept with the root, this machine's
# in the build folder. Under emulation, making an environment with pip and
# installing the tools there cost two to three minutes per version. With a
# fifth argument, the folder's path inside an emulated machine's root, the
# tools' bytecode is written here too (compile_test_tools).
install_test_tools() {
    local home="$1" python_version="$2" machine="$3" glibc="$4" inside="${5:-}" wanted minor platforms=()
    wanted="$(test_tools_wanted "$tools/python")"
    [ "$(cat "$home/installed.txt" 2>/dev/null)" = "$wanted" ] && return 0
    for ((minor = 17; minor <= ${glibc#2.}; minor++)); do
        platforms+=(--platform "manylinux_2_${minor}_$machine")
    done
    platforms+=(--platform "manylinux2014_$machine" --platform "linux_$machine")
    case "$machine" in
        x86_64 | i686) platforms+=(--platform "manylinux2010_$machine" --platform "manylinux1_$machine") ;;
    esac
    echo "== test tools for CPython $python_version on $machine into $home ==" >&2
    rm -rf "$home"
    # --no-compile: Python writes the bytecode of what the tests import when
    # they first import it; compiling all of mypy up front took most of a
    # minute under emulation.
    "$tools/python" -m pip install --quiet --no-compile --only-binary :all: --target "$home/site" \
        --python-version "$python_version" --implementation cp --abi "cp${python_version/./}" --abi abi3 \
        --abi none "${platforms[@]}" -r /dev/stdin <<<"$wanted" >&2
    [ -z "$inside" ] || compile_test_tools "$home" "$python_version" "$inside"
    echo "$wanted" >"$home/installed.txt"
}

# Writes the bytecode of the test tools in the folder $1 (for CPython $2, at
# $3 inside its root) with that version's interpreter in the amd64 root, at
# native speed: bytecode is the same on every machine, and an emulated
# machine compiles pip, pytest and hypothesis itself on their first import,
# once per version (importing them took 4.2 s under s390x, 1.3 s with the
# bytecode written here). The files keep
# their times, which the bytecode is checked against, and the folder is
# named as the emulated machine will import it from (compileall -d).
compile_test_tools() {
    local home="$1" python_version="$2" inside="$3" amd64_root staging
    amd64_root="$(bash scripts/testing-root.sh path)"
    # Two machines' lanes may compile at once: a folder each.
    staging="$(mktemp -d "$amd64_root/tmp/test-tools.XXXXXX")"
    staging="${staging#"$amd64_root"}"
    mv "$home/site" "$amd64_root$staging/site"
    # Not a failure when some file does not compile (a tool's file for
    # another version): the interpreter reports it if it is ever imported.
    bash scripts/testing-root.sh run "python$python_version" -m compileall -q -j 0 -d "$inside/site" \
        "$staging/site" >/dev/null || true
    mv "$amd64_root$staging/site" "$home/site"
    rmdir "$amd64_root$staging"
}

# The wheel of CPython $1 (interpreter $2) installed with no build step into
# a fresh environment, where no source tree is in reach: the import and the
# command line's tour (compared with the tour in $tour_expected when that
# exists, else written there), then, with a third argument "whole", the
# whole pytest suite and the stub check, with "subset" the subset of the
# suite in wheel_subset_tests (common.sh), for the emulated machines'
# versions that the time of a run leaves the subset to, and with "tour"
# nothing more (its tests passed before: plan_wheel_tests).
check_installed_wheel() {
    local python_version="$1" python="$2" depth="$3" wheels venv home workers="${BRENVALIS_WHEEL_TEST_WORKERS:-}"
    wheels=("$dist"/brenvalis-"$version"-cp"${python_version/./}"-*_"$(uname -m)".whl)
    echo "== $(basename "${wheels[0]}"): installed into a fresh CPython $python_version environment ($depth) =="
    home="$test_tools_home/$python_version"
    if [ -z "${BRENVALIS_TESTING_ROOT:-}" ]; then
        install_test_tools "$home" "$python_version" "$(uname -m)" "$(getconf GNU_LIBC_VERSION | cut -d' ' -f2)"
    elif [ "$(cat "$home/installed.txt" 2>/dev/null)" != "$(test_tools_wanted "$python")" ]; then
        echo "error: no test tools for CPython $python_version in $home (check-dist.sh installs them from outside the root)" >&2
        return 1
    fi
    venv="$work/wheel-$python_version"
    "$python" -m venv --without-pip "$venv"
    echo "$home/site" >"$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')/brenvalis-test-tools.pth"
    # --only-binary: the package comes from the wheel as it is, nothing is
    # built. The pip is the tools' own, reached through the .pth file.
    "$venv/bin/python" -m pip install --quiet --only-binary :all: "${wheels[0]}"
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
        tour "$venv/bin/brenvalis" >"$work/tour-$python_version.txt"
        if [ -f "$tour_expected" ]; then
            diff -u --label "tour of the first wheel" --label "tour on $(uname -m), CPython $python_version" \
                "$tour_expected" "$work/tour-$python_version.txt"
            echo "the command line's tour prints what it prints on the first wheel"
        else
            cp "$work/tour-$python_version.txt" "$tour_expected"
        fi
        [ "$depth" != tour ] || exit 0
        local tests=("$project_root/tests/python")
        [ "$depth" = whole ] || tests=("${wheel_subset_tests[@]/#/$project_root/tests/python/}")
        "$venv/bin/python" -m pytest -p no:cacheprovider -q ${workers:+-n "$workers"} "${tests[@]}"
        [ "$depth" = whole ] || exit 0
        # The stubs against the module's surface, which is the same on every
        # machine: under emulation it is left to the x86_64 wheels.
        if [ "${BRENVALIS_SKIP_MACHINE_INDEPENDENT:-}" = 1 ]; then
            echo "stubtest: skipped on $(uname -m), whose module has the surface checked on x86_64"
        else
            "$venv/bin/python" -m mypy.stubtest brenvalis._tolvane_core
        fi
    )
}

# The key of the tests ($3: whole or subset) of the wheel for CPython $2 on
# the machine $1, tested in the root $4 (empty: on this machine) with the
# test tools in $5: the wheel's bytes, the source tree (the tests, and the
# files they read), the machine, and the test tools' versions.
wheel_tests_key() {
    local machine="$1" python_version="$2" depth="$3" in_root="$4" home="$5" wheels
    wheels=("$dist"/brenvalis-"$version"-cp"${python_version/./}"-*_"$machine".whl)
    {
        echo "wheel tests: $machine, CPython $python_version, $depth"
        echo "source tree: $tree_key"
        sha256sum <"${wheels[0]}"
        if [ -n "$in_root" ]; then root_identity "$in_root"; else host_identity; fi
        (cd "$home/site" && ls -d -- *.dist-info)
    } | result_key
}

# For the machine $1 (in the root $2, empty for this machine, with the test
# tools of each version in $3/VERSION), sets planned to the specs
# (VERSION:DEPTH) that its wheels are tested with and planned_keys to the
# keys of the tests that are to run: VERSION:tour for a wheel whose tests
# passed before with the same key, so that it is installed and runs the tour
# but not the suite again. Their passes are kept by record_wheel_tests.
plan_wheel_tests() {
    local machine="$1" in_root="$2" homes="$3" spec python_version depth key
    shift 3
    planned=()
    planned_keys=()
    for spec in "$@"; do
        python_version="${spec%%:*}"
        depth=whole
        [ "$spec" = "$python_version" ] || depth="${spec#*:}"
        key="$(wheel_tests_key "$machine" "$python_version" "$depth" "$in_root" "$homes/$python_version")"
        if passed_before "$key"; then
            echo "== the $depth tests of the CPython $python_version wheel for $machine passed before with the same wheel, tree and machine (result $key): only its install and tour run =="
            planned+=("$python_version:tour")
        else
            planned+=("$python_version:$depth")
            planned_keys+=("$key")
        fi
    done
}
record_wheel_tests() {
    local key
    for key in "${planned_keys[@]}"; do
        record_pass "$key" "the wheel tests of $1 (source tree $tree_key)"
    done
}

tour_expected="${BRENVALIS_TOUR:-$work/tour-expected.txt}"
# Inside a root, the test tools live outside the work tree, for as long as the root.
root_test_tools=/var/cache/brenvalis-test-tools
test_tools_home="$project_root/build/test-tools"
[ -n "${BRENVALIS_TESTING_ROOT:-}" ] && test_tools_home="$root_test_tools"
if [ "$mode" = --installed-only ]; then
    for entry in "${pythons[@]}"; do
        check_installed_wheel "${entry%% *}" "${entry#* }" "${depths[${entry%% *}]:-whole}"
    done
    exit 0
fi
tree_key="$(source_tree_key)"
for entry in "${pythons[@]}"; do
    python_version="${entry%% *}"
    install_test_tools "$test_tools_home/$python_version" "$python_version" "$(uname -m)" \
        "$(getconf GNU_LIBC_VERSION | cut -d' ' -f2)"
    plan_wheel_tests "$(uname -m)" "" "$test_tools_home" "$python_version"
    check_installed_wheel "$python_version" "${entry#* }" "${planned[0]#*:}"
    record_wheel_tests "$(uname -m)"
done

reason="$(testing_root_unavailable)"
if [ -n "$reason" ]; then
    echo "== wheels of the testing roots: skipped ($reason) =="
else
    # Copies the wheels for the machine $2 of the CPython versions $3 into
    # the dist/ of the copy in the root $1, and nothing else, with the tour
    # they must print, and installs those versions' test tools there.
    wheels_into_root() {
        rm -rf "$1$root_copy/dist"
        mkdir -p "$1$root_copy/dist" "$1$root_copy/build"
        for python_version in $3; do
            cp "$dist"/brenvalis-"$version"-cp"${python_version/./}"-*"_$2.whl" "$1$root_copy/dist/"
        done
        cp "$tour_expected" "$1$root_copy/build/tour-expected.txt"
        local inside
        for python_version in $3; do
            inside=""
            [ "$(emulation_of "$2")" = natively ] || inside="$root_test_tools/$python_version"
            install_test_tools "$1$root_test_tools/$python_version" "$python_version" "$2" "$(root_glibc "$1")" \
                "$inside"
        done
    }
    root="$(bash scripts/testing-root.sh ensure)"
    sync_into_root "$root" "$root_copy"
    wheels_into_root "$root" "$(uname -m)" "$newer_pythons"
    # shellcheck disable=SC2086 # the versions are a list
    plan_wheel_tests "$(uname -m)" "$root" "$root$root_test_tools" $newer_pythons
    bash scripts/testing-root.sh run /bin/bash -c "cd $root_copy && BRENVALIS_TOUR=$root_copy/build/tour-expected.txt \
        bash scripts/check-dist.sh --installed-only ${planned[*]}"
    record_wheel_tests "$(uname -m) in the amd64 root"

    # The wheels of the machine $1, installed and tested in its root.
    check_wheels_in_root() {
        local target="$1" arch target_root specs=() python_version
        arch="$(debian_arch "$target")"
        # The number writer's tool, built for the target.
        BUILD_TARGETS=number_text cross_build_core_tests "$target"
        target_root="$(bash scripts/testing-root.sh --arch "$arch" ensure)"
        sync_into_root "$target_root" "$root_copy"
        wheels_into_root "$target_root" "$target" "$cross_pythons"
        cp "$root$root_copy/build/cpp-tests-$target/number_text" "$target_root$root_copy/build/number_text"
        for python_version in $cross_pythons; do
            if [[ " $whole_suite_machines " == *" $target "* ]] || [ "$python_version" = "$whole_suite_python" ]; then
                specs+=("$python_version")
            else
                specs+=("$python_version:subset")
            fi
        done
        plan_wheel_tests "$target" "$target_root" "$target_root$root_test_tools" "${specs[@]}"
        echo "== wheels for $target, installed and tested in the $arch root ($(emulation_of "$target")) =="
        # Under emulation, the checks that cannot depend on the machine
        # (conftest.py's machine_independent, and stubtest) are left to the
        # x86_64 wheels; i686 runs natively and keeps them.
        local skip=0
        [ "$(emulation_of "$target")" = natively ] || skip=1
        bash scripts/testing-root.sh --arch "$arch" run /bin/bash -c "cd $root_copy && \
            BRENVALIS_SKIP_MACHINE_INDEPENDENT=$skip \
            BRENVALIS_NUMBER_TEXT=$root_copy/build/number_text BRENVALIS_WHEEL_TEST_WORKERS=2 \
            BRENVALIS_TOUR=$root_copy/build/tour-expected.txt bash scripts/check-dist.sh --installed-only ${planned[*]}"
        record_wheel_tests "$target"
    }

    # Two machines at a time, each with two pytest processes: an emulated
    # run has long stretches of one process (making environments, the stub
    # check, the tour's commands) that leave a CPU to the other. The slowest
    # go first, so that no lane is left with a long one at the end: measured
    # in one warm run, riscv64 took 522 s, aarch64 400, ppc64le 338, armv7l
    # 335, s390x 312 and i686 198; in the order above, riscv64 came last and
    # ran alone for 416 s. (cross_targets_slowest_first in common.sh)
    # shellcheck disable=SC2046 # the machines are a list
    run_in_lanes 2 "$work/roots" "the wheels failed their checks in the roots of" check_wheels_in_root \
        $(cross_targets_slowest_first)
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
