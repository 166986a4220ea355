#!/usr/bin/env bash
# The release, into dist/ (emptied first): the sdist, and built from it every
# Linux wheel, all by one toolchain: Zig (the pinned ziglang from PyPI),
# targeting glibc 2.17, so each wheel is manylinux2014 (riscv64's, whose
# glibc starts at 2.27, manylinux_2_31). The wheels of this machine's CPython
# 3.12 and later (see release_pythons in common.sh, x86_64) are built here;
# those of the Debian testing root's CPython 3.14 and 3.15 and every
# cross-compiled one (aarch64, i686, armv7l, ppc64le, s390x and riscv64:
# 3.13 to 3.15, cross_targets_of_root in common.sh) are built in the
# amd64 root (scripts/testing-root.sh), whose Debian packages carry their
# headers and sysconfig. auditwheel then checks and tags each wheel here.
# Wheels link the C++ runtime in, so they need no compiler or C++ library on
# the installing machine; each says which parts in its SBOM
# (.dist-info/sboms/brenvalis.cdx.json). dist/SHA256SUMS lists every file.
# scripts/check-dist.sh checks the result.
#
# The release is reproducible: every time it writes is the last commit's
# (SOURCE_DATE_EPOCH), no path of the clone reaches a file, so a clean clone
# of one commit builds the same bytes anywhere, at any time, under any umask
# (scripts/check-reproducible.sh makes sure of it).
#
# BRENVALIS_DIST_ONLY=3.12 builds the sdist and this machine's wheel of that
# CPython version alone, with no testing root.
#
# Inside the root the script is run as
#   SOURCE_DATE_EPOCH=SECONDS build-dist.sh --wheels-from SDIST
# the unrepaired wheels of the root's interpreters, from that sdist, into
# build/dist/raw of the root's copy, and their link maps into build/dist/maps.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
dist="$project_root/dist"
work="$project_root/build/dist"
mode="${1:-}"

rm -rf "$work"
mkdir -p "$work/raw" "$work/src" "$work/maps"

if [ "$mode" = --wheels-from ]; then
    : "${SOURCE_DATE_EPOCH:?--wheels-from needs SOURCE_DATE_EPOCH, the time of the commit of the release}"
    export SOURCE_DATE_EPOCH
    tar -xzf "$2" -C "$work/src"
    source_dir=("$work"/src/*/)
    # The wheels of the machine $1, its versions one after another: the
    # first builds Zig's C++ runtime for the machine, or finds it made by
    # the core tests, and compiles what ccache then gives the others.
    machine_wheels() {
        local versions="$cross_pythons" version
        [ "$1" = "$(uname -m)" ] && versions="$newer_pythons"
        for version in $versions; do
            build_release_wheel "$version" "$(find_python "$version")" "$1" "${source_dir[0]}" "$work"
        done
    }
    # Two machines at a time: most of a wheel's build is one process (pip,
    # the build frontend, CMake's configuration), which leaves a CPU to the
    # other machine's. This machine first, as the core tests made no runtime
    # for it here.
    ensure_zig >/dev/null # once, before the lanes share it
    # shellcheck disable=SC2046 # the machines are a list
    run_in_lanes 2 "$work/lanes" "no wheels could be built for" machine_wheels \
        "$(uname -m)" $(cross_targets_slowest_first)
    exit 0
fi

SOURCE_DATE_EPOCH="$(git -C "$project_root" log -1 --format=%ct)"
export SOURCE_DATE_EPOCH
only="${BRENVALIS_DIST_ONLY:-}"
read_release_pythons pythons
tools="$(ensure_dist_tools)"
rm -rf "$dist"
mkdir -p "$dist"
echo "== sdist (file times of the last commit: $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC) =="
# With the pinned backend of the tools' environment, not whichever is newest.
"$tools/python" -m build --sdist --no-isolation --outdir "$dist" .
sdists=("$dist"/*.tar.gz)
sdist="${sdists[0]}"
tar -xzf "$sdist" -C "$work/src"
source_dir=("$work"/src/*/)

for entry in "${pythons[@]}"; do
    version="${entry%% *}"
    if [ -n "$only" ]; then
        [ "$version" = "$only" ] || continue
    # The root's versions are built there, from its Debian packages.
    elif [[ " $newer_pythons " == *" $version "* ]] && [ -z "$(testing_root_unavailable)" ]; then
        continue
    fi
    build_release_wheel "$version" "${entry#* }" "$(uname -m)" "${source_dir[0]}" "$work"
done

reason="$(testing_root_unavailable)"
if [ -n "$only" ]; then
    if ! compgen -G "$work/raw/*.whl" >/dev/null; then
        echo "error: BRENVALIS_DIST_ONLY=$only, and this machine has no CPython $only" >&2
        exit 1
    fi
    echo "== wheels of the other versions and machines: skipped (BRENVALIS_DIST_ONLY=$only) =="
elif [ -n "$reason" ]; then
    echo "== wheels for CPython $newer_pythons and for $cross_targets_of_root in the testing root: skipped ($reason) =="
else
    root="$(bash scripts/testing-root.sh ensure)"
    sync_into_root "$root" "$root_copy"
    mkdir -p "$root$root_copy/build"
    cp "$sdist" "$root$root_copy/build/release.tar.gz"
    bash scripts/testing-root.sh run /bin/bash -c \
        "cd $root_copy && SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH bash scripts/build-dist.sh --wheels-from build/release.tar.gz"
    cp "$root$root_copy"/build/dist/raw/*.whl "$work/raw/"
    cp "$root$root_copy"/build/dist/maps/*.map "$work/maps/"
fi

# auditwheel checks each wheel's libraries and symbols against the policies,
# tags it with the oldest glibc they allow (check-dist.sh requires 2.17), and
# reads the ELF files of any machine. It gives the folders of the wheel it
# writes the modes of the umask, so the umask is set.
for wheel in "$work"/raw/*.whl; do
    echo "== auditwheel repair: $(basename "$wheel") =="
    (umask 022 && PATH="$tools:$PATH" "$tools/auditwheel" repair --wheel-dir "$dist" "$wheel")
done

(cd "$dist" && sha256sum -- *.tar.gz *.whl | LC_ALL=C sort -k 2 >SHA256SUMS)

echo "== dist/ =="
ls -l "$dist"
