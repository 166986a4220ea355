#!/usr/bin/env bash
# A minimal Debian testing root: the CPython versions (with their debug builds)
# and the compiler that this machine's Debian does not carry, made with
# debootstrap from Debian's own packages and kept in a cache outside the work
# tree, so that every run on this machine, CI's included, reuses it.
#
#   testing-root.sh ensure        makes the root unless a fresh one is cached; prints its path
#   testing-root.sh rebuild       makes it anew
#   testing-root.sh run CMD...    runs CMD inside, with the project mounted at /project
#   testing-root.sh path          prints where the root is (made or not)
#
# Settings: BRENVALIS_ROOT_SUITE (default forky), BRENVALIS_ROOT_CACHE
# (default /var/cache/brenvalis/testing-roots). A root older than a week, or
# made for another package list, is made again.
#
# Commands run in a private mount namespace (unshare --mount): /proc, /dev
# and the project are mounted inside it and vanish with the command, so the
# root never holds a mount once the command is over. That matters: deleting
# a root with the host's /dev bound inside would delete the host's devices.
set -euo pipefail

suite="${BRENVALIS_ROOT_SUITE:-forky}"
cache="${BRENVALIS_ROOT_CACHE:-/var/cache/brenvalis/testing-roots}"
arch="amd64"
root="$cache/$suite-$arch"
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
max_age_days=7

packages=(
    python3.14-dev python3.14-venv python3.14-dbg
    python3.15-dev python3.15-venv python3.15-dbg
    g++ cmake make libgtest-dev git ca-certificates ccache
)

die() {
    echo "testing root: $*" >&2
    exit 1
}

# What a root is made of; a cached root made for anything else is stale.
recipe() {
    printf '%s\n' "suite=$suite" "arch=$arch" "${packages[@]}"
}

is_fresh() {
    local stamp="$root/.brenvalis-recipe"
    [ -f "$stamp" ] || return 1
    [ "$(cat "$stamp")" = "$(recipe)" ] || return 1
    [ -z "$(find "$stamp" -mtime "+$((max_age_days - 1))")" ]
}

# The mirror this machine's apt already uses, from its deb822 sources or the
# classic list; nothing is written into the project.
host_mirror() {
    local mirror=""
    if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
        mirror="$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources)"
    fi
    if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
        mirror="$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' \
            /etc/apt/sources.list)"
    fi
    [ -n "$mirror" ] || die "cannot find the Debian mirror: apt has no sources on this machine"
    echo "${mirror%/}"
}

# Removes a root, refusing if anything is mounted inside it.
remove_root() {
    local target="$1"
    [ -e "$target" ] || return 0
    if findmnt -rn -o TARGET | grep -q -F -x -e "$target" -e "$(realpath "$target")/" ||
        findmnt -rn -o TARGET | grep -q "^$(realpath "$target")/"; then
        die "$target has something mounted inside; unmount it first (it is never deleted with a mount inside)"
    fi
    rm -rf --one-file-system "$target"
}

make_root() {
    [ "$(id -u)" -eq 0 ] || die "cannot be made: debootstrap and chroot need root (run as root)"
    [ "$(uname -s)" = Linux ] || die "cannot be made: debootstrap and chroot need Linux"
    if ! command -v debootstrap >/dev/null 2>&1; then
        echo "== installing debootstrap ==" >&2
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null 2>&1 ||
            { apt-get update -qq >/dev/null 2>&1 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; } ||
            die "cannot be made: debootstrap is missing and apt-get could not install it"
    fi
    local mirror script log new
    mirror="$(host_mirror)"
    # Bookworm's debootstrap has no script for the newer suites; sid's fits them all.
    script=/usr/share/debootstrap/scripts/sid
    [ -f "$script" ] || die "cannot be made: debootstrap has no script $script"
    if ! python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=30)' \
        "$mirror/dists/$suite/Release" >/dev/null 2>&1; then
        die "cannot be made: the Debian mirror $mirror does not answer for $suite (no network?)"
    fi
    mkdir -p "$cache"
    new="$root.new"
    log="$cache/$suite-$arch.log"
    remove_root "$new"
    echo "== making the $suite root for $arch in $root (log: $log) ==" >&2
    local include
    include="$(IFS=,; echo "${packages[*]}")"
    if ! debootstrap --variant=minbase --arch="$arch" --include="$include" \
        "$suite" "$new" "$mirror" "$script" >"$log" 2>&1; then
        local missing
        missing="$(sed -n 's/.*Couldn.t find these debs: //p' "$log" | head -n1)"
        remove_root "$new"
        [ -n "$missing" ] && die "cannot be made: $suite has no package $missing"
        die "cannot be made: debootstrap failed; the end of its log ($log):
$(tail -n 5 "$log")"
    fi
    recipe >"$new/.brenvalis-recipe"
    remove_root "$root"
    mv "$new" "$root"
    echo "== $suite root ready: $(du -sh --one-file-system "$root" | cut -f1) ==" >&2
}

run_in_root() {
    [ "$(id -u)" -eq 0 ] || die "cannot run commands inside: chroot needs root"
    [ -f "$root/.brenvalis-recipe" ] || die "no root at $root: run '$0 ensure' first"
    # Name resolution and this machine's certificates (pip inside uses them).
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
    mkdir -p "$root/project"
    # A clean environment: the host's pip settings name files the root does not
    # have. Every compiler call goes through ccache, whose cache lives in the
    # root: a fresh clone's files are all new to make and CMake, but not to it.
    unshare --mount --fork /bin/bash -c '
        set -e
        root="$1" project="$2" name="$3"
        shift 3
        mount --make-rprivate /
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount --bind "$project" "$root/project"
        exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 ${CI:+CI=$CI} \
            CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=/work \
            BRENVALIS_TESTING_ROOT="$name" "$@"
    ' bash "$root" "$project_root" "$suite-$arch" "$@"
}

command="${1:-}"
[ "$#" -gt 0 ] && shift
case "$command" in
    path) echo "$root" ;;
    ensure)
        is_fresh || make_root
        echo "$root"
        ;;
    rebuild)
        make_root
        echo "$root"
        ;;
    run) run_in_root "$@" ;;
    *)
        echo "usage: $0 ensure | rebuild | run CMD... | path" >&2
        exit 2
        ;;
esac
