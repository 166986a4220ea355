#!/usr/bin/env bash
# The main job: build and install brenvalis into .venv-3.12 and run its
# command line. Arguments are passed to it; with none it gives a tour.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
python="$(ensure_venv 3.12)"
if [ "$#" -eq 0 ]; then
    for command in "" "--version" "quarks" "constants" "get b3" "get phi --json" "ckm"; do
        echo "\$ brenvalis${command:+ $command}"
        # shellcheck disable=SC2086 # each command is split into its words on purpose
        "$python" -m brenvalis $command
        echo
    done
else
    exec "$python" -m brenvalis "$@"
fi
