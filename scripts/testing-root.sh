#!/usr/bin/env bash
# Minimal Debian testing roots: the CPython versions (with their debug builds)
# and the compiler that this machine's Debian does not carry, made with
# debootstrap from Debian's own packages and kept in a cache outside the work
# tree, so that every run on this machine, CI's included, reuses them.
#
#   testing-root.sh [--arch A] ensure      makes the root unless a fresh one is cached; prints its path
#   testing-root.sh [--arch A] rebuild     makes it anew
#   testing-root.sh [--arch A] run CMD...  runs CMD inside
#   testing-root.sh [--arch A] path        prints where the root is (made or not)
#
# A is amd64 (the default: CPython 3.14 and 3.15 with their debug builds,
# g++ 16, the cross compiler and Python headers for aarch64, and qemu-user)
# or arm64 (CPython 3.14 and 3.15 for aarch64, run under emulation by the
# amd64 root's qemu-user, which is therefore made first).
#
# Settings: BRENVALIS_ROOT_SUITE (default forky), BRENVALIS_ROOT_CACHE
# (default /var/cache/brenvalis/testing-roots). A root older than a week, or
# made for another package list, is made again.
#
# Commands run in a private mount namespace (unshare --mount): /proc and /dev
# are mounted inside it and vanish with the command, so the root never holds
# a mount once the command is over. That matters: deleting a root with the
# host's /dev bound inside would delete the host's devices.
set -euo pipefail

arch=amd64
if [ "${1:-}" = --arch ]; then
    arch="${2:?--arch needs amd64 or arm64}"
    shift 2
fi
suite="${BRENVALIS_ROOT_SUITE:-forky}"
cache="${BRENVALIS_ROOT_CACHE:-/var/cache/brenvalis/testing-roots}"
root="$cache/$suite-$arch"
max_age_days=7

# Packages debootstrap installs, then packages of another architecture that
# apt adds afterwards (debootstrap installs one architecture only).
case "$arch" in
    amd64)
        # python3.13 only to run the build of the aarch64 wheel for 3.13, whose
        # headers and sysconfig come with libpython3.13-dev:arm64.
        packages=(
            python3.14-dev python3.14-venv python3.14-dbg
            python3.15-dev python3.15-venv python3.15-dbg
            python3.13-venv
            g++ cmake make libgtest-dev git ca-certificates ccache
            qemu-user
        )
        foreign_arch=arm64
        foreign_packages=(libpython3.13-dev:arm64 libpython3.14-dev:arm64 libpython3.15-dev:arm64)
        ;;
    arm64)
        packages=(python3.13-venv python3.14-venv python3.15-venv ca-certificates)
        foreign_arch=""
        foreign_packages=()
        ;;
    *)
        echo "testing root: no recipe for the architecture '$arch' (amd64 or arm64)" >&2
        exit 2
        ;;
esac

die() {
    echo "testing root ($suite-$arch): $*" >&2
    exit 1
}

# What a root is made of; a cached root made for anything else is stale.
recipe() {
    printf '%s\n' "suite=$suite" "arch=$arch" "${packages[@]}" "${foreign_packages[@]}"
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

host_install() {
    local what="$1"
    shift
    echo "== installing $* ==" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "$@" >/dev/null 2>&1 ||
        { apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq "$@" >/dev/null 2>&1; } ||
        die "cannot be made: $what is missing and apt-get could not install $*"
}

# An aarch64 program runs here only through qemu-user, which the kernel
# starts by a binfmt_misc handler. The emulator is the amd64 root's: Debian
# 12's qemu 7.2 runs CPython about twelve times slower than testing's. The
# handler's F flag makes the kernel open the emulator when it is registered,
# so it also serves programs inside a chroot, where its path does not exist.
emulator="$cache/$suite-amd64/usr/bin/qemu-aarch64"
aarch64_magic='\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
aarch64_mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
aarch64_handler=":brenvalis-aarch64:M::$aarch64_magic:$aarch64_mask:$emulator:POF"

ensure_emulator() {
    [ "$(uname -m)" = x86_64 ] || die "the arm64 root is run under emulation from an x86_64 machine only"
    if [ ! -x "$emulator" ]; then
        bash "${BASH_SOURCE[0]}" --arch amd64 ensure >/dev/null
    fi
    [ -x "$emulator" ] || die "the amd64 root has no emulator at $emulator"
}

# The system-wide handler, registered where none runs aarch64 programs yet
# (mounting binfmt_misc first if needed). Making the root needs it: its
# packages are configured by their own aarch64 programs.
ensure_system_handler() {
    local handlers=/proc/sys/fs/binfmt_misc
    if [ ! -e "$handlers/register" ]; then
        mount -t binfmt_misc binfmt_misc "$handlers" 2>/dev/null ||
            die "binfmt_misc is not available here (mounting it failed), so aarch64 programs cannot run"
    fi
    if grep -qsx 'enabled' "$handlers"/*aarch64* 2>/dev/null ||
        grep -qs '^magic 7f454c460201010000000000000000000200b700$' "$handlers"/*; then
        return 0
    fi
    echo "$aarch64_handler" >"$handlers/register" || die "the kernel refused the aarch64 handler"
    echo "== registered the aarch64 emulator with binfmt_misc ($emulator) ==" >&2
}

# Whether this kernel gives a user namespace a binfmt_misc of its own (Linux
# 6.7 and later): then commands run with the root's emulator whatever the
# system's handler is, and nothing outside the command sees it.
private_handlers_work() {
    unshare --map-root-user --mount /bin/sh -c \
        'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null
}

# Removes a root, refusing if anything is mounted inside it.
remove_root() {
    local target="$1" real
    [ -e "$target" ] || return 0
    real="$(realpath "$target")"
    if findmnt -rn -o TARGET | grep -q -e "^$real\$" -e "^$real/"; then
        die "$target has something mounted inside; unmount it first (it is never deleted with a mount inside)"
    fi
    rm -rf --one-file-system "$target"
}

# Runs a command inside the root $1, with /proc and /dev mounted in a private
# mount namespace, and a clean environment: the host's pip settings name
# files the root does not have. Every compiler call goes through ccache,
# whose cache lives in the root: a fresh clone's files are all new to make
# and CMake, but not to it. With a second argument "private-handler", the
# command also runs in a user namespace (root mapped to root) with its own
# binfmt_misc, where the aarch64 handler is the root's emulator.
enter() {
    local target="$1" handler="$2" namespaces=(--mount --fork)
    shift 2
    [ "$handler" = private-handler ] && namespaces=(--map-root-user --mount --pid --fork)
    unshare "${namespaces[@]}" /bin/bash -c '
        set -e
        root="$1" name="$2" handler="$3"
        shift 3
        launcher=()
        [ -x "$root/usr/bin/ccache" ] && launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=/work)
        mount --make-rprivate /
        mount -t proc proc "$root/proc"
        if [ -n "$handler" ]; then
            mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc"
            echo "$handler" >"$root/proc/sys/fs/binfmt_misc/register"
        fi
        mount --rbind /dev "$root/dev"
        exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 ${CI:+CI=$CI} "${launcher[@]}" \
            BRENVALIS_TESTING_ROOT="$name" "$@"
    ' bash "$target" "$suite-$arch" "$([ "$handler" = private-handler ] && echo "$aarch64_handler")" "$@"
}

# Name resolution and this machine's certificates (pip inside uses them).
refresh_network_files() {
    cp /etc/resolv.conf "$1/etc/resolv.conf"
    cp /etc/ssl/certs/ca-certificates.crt "$1/etc/ssl/certs/ca-certificates.crt"
}

make_root() {
    [ "$(id -u)" -eq 0 ] || die "cannot be made: debootstrap and chroot need root (run as root)"
    [ "$(uname -s)" = Linux ] || die "cannot be made: debootstrap and chroot need Linux"
    command -v debootstrap >/dev/null 2>&1 || host_install debootstrap debootstrap
    if [ "$arch" = arm64 ]; then
        ensure_emulator
        ensure_system_handler
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
    local include missing
    include="$(IFS=,; echo "${packages[*]}")"
    if ! debootstrap --variant=minbase --arch="$arch" --include="$include" \
        "$suite" "$new" "$mirror" "$script" >"$log" 2>&1; then
        missing="$(sed -n 's/.*Couldn.t find these debs: //p' "$log" | head -n1)"
        remove_root "$new"
        [ -n "$missing" ] && die "cannot be made: $suite has no package $missing"
        die "cannot be made: debootstrap failed; the end of its log ($log):
$(tail -n 5 "$log")"
    fi
    if [ -n "$foreign_arch" ]; then
        echo "== adding ${foreign_packages[*]} ==" >&2
        refresh_network_files "$new"
        # The testing suite's Release file can be past its Valid-Until date on
        # the mirror; debootstrap does not check it, apt does.
        if ! enter "$new" "" /bin/bash -c '
            set -e
            dpkg --add-architecture "$1"
            shift
            apt-get -o Acquire::Check-Valid-Until=false update -qq
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
        ' bash "$foreign_arch" "${foreign_packages[@]}" >>"$log" 2>&1; then
            missing="$(sed -n 's/.*Unable to locate package //p' "$log" | head -n1)"
            remove_root "$new"
            [ -n "$missing" ] && die "cannot be made: $suite has no package $missing"
            die "cannot be made: apt-get could not add ${foreign_packages[*]}; the end of its log ($log):
$(tail -n 5 "$log")"
        fi
        enter "$new" "" apt-get clean
    fi
    recipe >"$new/.brenvalis-recipe"
    remove_root "$root"
    mv "$new" "$root"
    echo "== $suite root for $arch ready: $(du -sh --one-file-system "$root" | cut -f1) ==" >&2
}

run_in_root() {
    [ "$(id -u)" -eq 0 ] || die "cannot run commands inside: chroot needs root"
    [ -f "$root/.brenvalis-recipe" ] || die "no root at $root: run '$0 --arch $arch ensure' first"
    refresh_network_files "$root"
    if [ "$arch" = arm64 ]; then
        ensure_emulator
        if private_handlers_work; then
            enter "$root" private-handler "$@"
            return
        fi
        ensure_system_handler
    fi
    enter "$root" "" "$@"
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
        echo "usage: $0 [--arch amd64|arm64] ensure | rebuild | run CMD... | path" >&2
        exit 2
        ;;
esac
