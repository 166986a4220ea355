#!/usr/bin/env bash
# Checks that every C++ file of the project is laid out as .clang-format says.
# It only reports: nothing is rewritten. To apply the layout to a file, run
# `clang-format -i FILE` yourself.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if ! command -v clang-format >/dev/null 2>&1; then
    echo "error: clang-format not found (apt-get install clang-format)" >&2
    exit 2
fi
echo "== C++ layout ($(clang-format --version | head -n1)) =="

mapfile -t files < <(find core pyfacade tests bench -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) | sort)
if [ "${#files[@]}" -eq 0 ]; then
    echo "error: no C++ files found" >&2
    exit 2
fi

bad=()
for file in "${files[@]}"; do
    if ! clang-format --style=file --dry-run --Werror "$file" 2>/dev/null; then
        bad+=("$file")
    fi
done

if [ "${#bad[@]}" -gt 0 ]; then
    # Show what would change, capped so that one badly laid out file does
    # not bury the others.
    for file in "${bad[@]}"; do
        diff -u --label "$file" --label "$file (clang-format)" "$file" <(clang-format --style=file "$file") |
            head -n 40 || true
    done
    echo "${#bad[@]} of ${#files[@]} C++ files are not laid out as .clang-format says:" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "all ${#files[@]} C++ files follow .clang-format"
