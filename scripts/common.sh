# Shared set-up for the project's scripts: a virtual environment per Python
# version inside the project, with the package built and installed into it.
# Sourced, not run.

project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

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
