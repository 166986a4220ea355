#!/usr/bin/env bash
# Builds the release twice from the last commit and compares the two, file by
# file: two fresh clones at different paths and folder depths, built one after
# the other (so at different times), under umasks 022 and 002, each with
# caches of its own (pip's, Zig's, ccache's, and a testing root of its own),
# each by scripts/build-dist.sh. Prints the sha256 of every file that matches,
# and every file that differs or is in one dist/ only, with where the two
# differ (diffoscope, from PyPI, in .venv-diffoscope). Exits with status 1 if
# any file differs. Uncommitted changes are not part of it: the clones are of
# the last commit.
#
#   check-reproducible.sh        the whole release: the sdist and every wheel
#                                of every machine; needs root for the testing
#                                roots, two of them (an amd64 root is about
#                                3.7 GB and takes about 4 minutes to make)
#   check-reproducible.sh --ci   the sdist and this machine's CPython 3.12
#                                wheel only, with no testing root
#
# Settings: BRENVALIS_REPRO_DIR (default build/reproducible): where the clones,
# their caches and logs go, all made anew; BRENVALIS_REPRO_ROOT_CACHES (default
# "DIR/roots-a DIR/roots-b"): the two clones' testing-root caches
# (BRENVALIS_ROOT_CACHE), kept from run to run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

ci=""
case "${1:-}" in
    "") ;;
    --ci) ci=yes ;;
    *)
        echo "usage: $0 [--ci]" >&2
        exit 2
        ;;
esac
if [ -z "$ci" ] && [ -n "$(testing_root_unavailable)" ]; then
    echo "error: the whole release needs the testing roots: $(testing_root_unavailable) (or use --ci)" >&2
    exit 2
fi

dir="${BRENVALIS_REPRO_DIR:-$project_root/build/reproducible}"
read -r -a root_caches <<<"${BRENVALIS_REPRO_ROOT_CACHES:-$dir/roots-a $dir/roots-b}"
commit="$(git rev-parse HEAD)"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "== note: uncommitted changes are left out; the clones are of $commit ==" >&2
fi
mkdir -p "$dir"
for old in a b; do
    rm -rf --one-file-system "${dir:?}/$old"
done

# Clones the commit into $2 under the umask $3 and builds the release there,
# with every cache the build uses under $1's folder and the testing-root
# cache $4; the build's output goes to $1.log.
build_clone() {
    local name="$1" clone="$2" mask="$3" root_cache="$4" cache="$dir/$1/caches"
    echo "== clone $name: $clone, umask $mask, started $(date -u '+%T') UTC (log: $dir/$name.log) =="
    (
        umask "$mask"
        mkdir -p "$cache"
        git clone --quiet --no-local "$project_root" "$clone"
        git -C "$clone" checkout --quiet --detach "$commit"
        export XDG_CACHE_HOME="$cache" PIP_CACHE_DIR="$cache/pip" CCACHE_DIR="$cache/ccache" \
            ZIG_GLOBAL_CACHE_DIR="$cache/zig" ZIG_LOCAL_CACHE_DIR="$cache/zig-local" BRENVALIS_ROOT_CACHE="$root_cache"
        [ -z "$ci" ] || export BRENVALIS_DIST_ONLY=3.12
        bash "$clone/scripts/build-dist.sh"
    ) >"$dir/$name.log" 2>&1 || {
        tail -n 30 "$dir/$name.log" >&2
        echo "error: the build of clone $name failed (log: $dir/$name.log)" >&2
        exit 1
    }
}

start=$SECONDS
if [ -z "$ci" ]; then
    # Side by side: making a root is mostly waiting for the mirror.
    echo "== the two testing roots, made unless fresh ones are there: ${root_caches[*]} =="
    pids=()
    for cache in "${root_caches[@]}"; do
        BRENVALIS_ROOT_CACHE="$cache" bash scripts/testing-root.sh ensure >/dev/null &
        pids+=("$!")
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || { echo "error: a testing root could not be made" >&2; exit 1; }
    done
fi
build_clone a "$dir/a/brenvalis" 022 "${root_caches[0]}"
build_clone b "$dir/b/one/two/three/renamed" 002 "${root_caches[1]}"
a="$dir/a/brenvalis/dist" b="$dir/b/one/two/three/renamed/dist"
echo "== both built in $((SECONDS - start)) s; comparing $a and $b =="

ensure_diffoscope() {
    local venv="$project_root/.venv-diffoscope" python
    if [ ! -x "$venv/bin/diffoscope" ]; then
        python="$(release_pythons | head -n1 | cut -d' ' -f2-)"
        "$python" -m venv "$venv" >&2 && "$venv/bin/python" -m pip install --quiet diffoscope >&2
    fi
    echo "$venv/bin/diffoscope"
}

differ=0
if ! compgen -G "$a/*.tar.gz" >/dev/null || ! compgen -G "$a/*.whl" >/dev/null || [ ! -f "$a/SHA256SUMS" ]; then
    echo "error: $a lacks the sdist, a wheel or SHA256SUMS: nothing worth comparing" >&2
    exit 1
fi
while IFS= read -r name; do
    if [ ! -f "$a/$name" ] || [ ! -f "$b/$name" ]; then
        echo "DIFFERS   $name: only in $([ -f "$a/$name" ] && echo "clone a" || echo "clone b")"
        differ=1
    elif cmp -s "$a/$name" "$b/$name"; then
        echo "identical $(sha256sum "$a/$name" | cut -d' ' -f1)  $name"
    else
        echo "DIFFERS   $name"
        differ=1
        report="$dir/diffoscope-$name.txt"
        "$(ensure_diffoscope)" --text "$report" "$a/$name" "$b/$name" >/dev/null 2>&1 || true
        head -n 60 "$report"
        echo "   (the whole comparison: $report)"
    fi
done < <( (ls -A "$a"; ls -A "$b") | LC_ALL=C sort -u)
if [ "$differ" -ne 0 ]; then
    echo "error: two clean builds of $commit differ" >&2
    exit 1
fi
echo "== every file of the two builds of $commit is identical ($((SECONDS - start)) s) =="
