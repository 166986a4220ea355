#!/usr/bin/env bash
# The main job: build and install brenvalis into .venv-3.12 and run its
# command line. Arguments are passed to it; with none it gives a tour.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
python="$(ensure_venv 3.12)"
if [ "$#" -eq 0 ]; then
    "$python" -m brenvalis --version
    "$python" -m brenvalis quarks
else
    exec "$python" -m brenvalis "$@"
fi
