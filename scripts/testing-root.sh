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
# A is a Debian architecture: amd64 (the default: CPython 3.14 and 3.15 with
# their debug builds, g++ 16, python3.13, valgrind, the Python headers and sysconfig of
# CPython 3.13 to 3.15 for every other machine below, and qemu-user), or one
# of arm64, i386, armhf, ppc64el, s390x and riscv64 (CPython 3.13 to 3.15 for
# that machine, to test the wheels built in the amd64 root). i386 programs
# run natively on this machine's kernel; the others run under emulation by
# the amd64 root's qemu-user, which is therefore made first.
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
    arch="${2:?--arch needs a Debian architecture (amd64, arm64, i386, armhf, ppc64el, s390x, riscv64)}"
    shift 2
fi
suite="${BRENVALIS_ROOT_SUITE:-forky}"
cache="${BRENVALIS_ROOT_CACHE:-/var/cache/brenvalis/testing-roots}"
root="$cache/$suite-$arch"
max_age_days=7
foreign_arches=(arm64 i386 armhf ppc64el s390x riscv64)

# Each foreign machine: the emulator that runs its programs (none for
# i386, which this kernel runs itself), the personality its programs are
# started with, so that they see their own machine's name (a 32-bit x86
# program on a 64-bit kernel would see x86_64), and the start of its ELF
# header with the mask binfmt_misc matches it with (the OS ABI byte and the
# low bit of the file type left out), as qemu's own handlers are written.
emulator_name="" personality="" magic="" mask=ffffffffffffff00fffffffffffffffffeffffff
case "$arch" in
    arm64) emulator_name=qemu-aarch64 magic=7f454c460201010000000000000000000200b700 ;;
    armhf) emulator_name=qemu-arm magic=7f454c4601010100000000000000000002002800 ;;
    ppc64el)
        emulator_name=qemu-ppc64le magic=7f454c4602010100000000000000000002001500
        mask=ffffffffffffff00fffffffffffffffffeffff00
        ;;
    s390x)
        emulator_name=qemu-s390x magic=7f454c4602020100000000000000000000020016
        mask=ffffffffffffff00fffffffffffffffffffeffff
        ;;
    riscv64) emulator_name=qemu-riscv64 magic=7f454c460201010000000000000000000200f300 ;;
    i386) personality=i686 ;;
esac

# Packages debootstrap installs, then packages of other architectures that
# apt adds afterwards (debootstrap installs one architecture only).
case "$arch" in
    amd64)
        # python3.13 only to run the builds of the other machines' wheels for
        # 3.13, whose headers and sysconfig come with libpython3.13-dev:<arch>.
        packages=(
            python3.14-dev python3.14-venv python3.14-dbg
            python3.15-dev python3.15-venv python3.15-dbg
            python3.13-venv
            g++ cmake make libgtest-dev git ca-certificates ccache
            qemu-user valgrind
        )
        foreign_packages=()
        for foreign in "${foreign_arches[@]}"; do
            foreign_packages+=("libpython3.13-dev:$foreign" "libpython3.14-dev:$foreign" "libpython3.15-dev:$foreign")
        done
        ;;
    arm64 | i386 | armhf | ppc64el | s390x | riscv64)
        # The interpreters alone: each wheel's environment is made without
        # pip (the test tools, pip among them, come from outside), and the
        # venv packages would bring the bundled pip wheel, which needs
        # ca-certificates, whose configuring took about 30 s of each
        # emulated root's two minutes. This machine's certificates are
        # copied in all the same (refresh_network_files).
        packages=(python3.13 python3.14 python3.15)
        foreign_packages=()
        ;;
    *)
        echo "testing root: no recipe for the architecture '$arch' (amd64, ${foreign_arches[*]})" >&2
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

# A program of an emulated machine runs here only through qemu-user, which
# the kernel starts by a binfmt_misc handler. The emulator is the amd64
# root's: Debian 12's qemu 7.2 runs CPython about twelve times slower than
# testing's. The handler's F flag makes the kernel open the emulator when it
# is registered, so it also serves programs inside a chroot, where its path
# does not exist.
emulator="$cache/$suite-amd64/usr/bin/$emulator_name"
binfmt_handler=""
if [ -n "$emulator_name" ]; then
    binfmt_handler=":brenvalis-$emulator_name:M::$(sed 's/../\\x&/g' <<<"$magic"):$(sed 's/../\\x&/g' <<<"$mask"):$emulator:POF"
fi

ensure_emulator() {
    [ "$(uname -m)" = x86_64 ] || die "the $arch root is run from an x86_64 machine only"
    [ -n "$emulator_name" ] || return 0
    if [ ! -x "$emulator" ]; then
        bash "${BASH_SOURCE[0]}" --arch amd64 ensure >/dev/null
    fi
    [ -x "$emulator" ] || die "the amd64 root has no emulator at $emulator"
}

# The system-wide handler, registered where none runs the machine's programs
# yet (mounting binfmt_misc first if needed). Making the root needs it: its
# packages are configured by their own programs.
ensure_system_handler() {
    local handlers=/proc/sys/fs/binfmt_misc
    [ -n "$emulator_name" ] || return 0
    if [ ! -e "$handlers/register" ]; then
        mount -t binfmt_misc binfmt_misc "$handlers" 2>/dev/null ||
            die "binfmt_misc is not available here (mounting it failed), so $arch programs cannot run"
    fi
    if grep -qsx 'enabled' "$handlers/brenvalis-$emulator_name" 2>/dev/null ||
        grep -qs "^magic $magic\$" "$handlers"/*; then
        return 0
    fi
    echo "$binfmt_handler" >"$handlers/register" || die "the kernel refused the $arch handler"
    echo "== registered the $arch emulator with binfmt_misc ($emulator) ==" >&2
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
# binfmt_misc, where the machine's handler is the root's emulator. A 32-bit
# machine's commands run with its personality (setarch), so that they, and
# the scripts inside, see its name.
enter() {
    local target="$1" handler="$2" namespaces=(--mount --fork)
    shift 2
    [ "$handler" = private-handler ] && namespaces=(--map-root-user --mount --pid --fork)
    unshare "${namespaces[@]}" /bin/bash -c '
        set -e
        root="$1" name="$2" handler="$3" personality="$4"
        shift 4
        launcher=()
        [ -x "$root/usr/bin/ccache" ] && launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=/work)
        mount --make-rprivate /
        mount -t proc proc "$root/proc"
        if [ -n "$handler" ]; then
            mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc"
            echo "$handler" >"$root/proc/sys/fs/binfmt_misc/register"
        fi
        mount --rbind /dev "$root/dev"
        exec ${personality:+setarch "$personality"} chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_DEFAULT_TIMEOUT=180 ${CI:+CI=$CI} "${launcher[@]}" \
            BRENVALIS_TESTING_ROOT="$name" "$@"
    ' bash "$target" "$suite-$arch" "$([ "$handler" = private-handler ] && echo "$binfmt_handler")" "$personality" "$@"
}

# Name resolution and this machine's certificates (pip inside uses them; the
# other machines' roots have no ca-certificates package to make the folder).
refresh_network_files() {
    cp /etc/resolv.conf "$1/etc/resolv.conf"
    mkdir -p "$1/etc/ssl/certs"
    cp /etc/ssl/certs/ca-certificates.crt "$1/etc/ssl/certs/ca-certificates.crt"
}

make_root() {
    [ "$(id -u)" -eq 0 ] || die "cannot be made: debootstrap and chroot need root (run as root)"
    [ "$(uname -s)" = Linux ] || die "cannot be made: debootstrap and chroot need Linux"
    command -v debootstrap >/dev/null 2>&1 || host_install debootstrap debootstrap
    if [ -n "$emulator_name" ]; then
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
    if [ "${#foreign_packages[@]}" -gt 0 ]; then
        echo "== adding ${foreign_packages[*]} ==" >&2
        refresh_network_files "$new"
        # The testing suite's Release file can be past its Valid-Until date on
        # the mirror; debootstrap does not check it, apt does.
        if ! enter "$new" "" /bin/bash -c '
            set -e
            for foreign in $1; do
                dpkg --add-architecture "$foreign"
            done
            shift
            apt-get -o Acquire::Check-Valid-Until=false update -qq
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
        ' bash "${foreign_arches[*]}" "${foreign_packages[@]}" >>"$log" 2>&1; then
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
    if [ -n "$emulator_name" ]; then
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
    ensure | rebuild)
        # One maker per root: a second caller (the test scripts make the
        # other machines' roots in the background) waits here, then finds
        # the root made.
        mkdir -p "$cache"
        exec {lock}>"$cache/$suite-$arch.lock"
        flock "$lock"
        [ "$command" = ensure ] && is_fresh || make_root
        echo "$root"
        ;;
    run) run_in_root "$@" ;;
    *)
        echo "usage: $0 [--arch amd64|${foreign_arches[*]// /|}] ensure | rebuild | run CMD... | path" >&2
        exit 2
        ;;
esac
