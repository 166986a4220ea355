#!/usr/bin/env bash
# The tests on the CPython versions this machine's Debian does not carry,
# inside a Debian testing root (scripts/testing-root.sh makes and caches it):
# the C++ core tests built by the root's newer g++ with warnings as errors;
# on CPython 3.14 and 3.15 the pytest suite, the stub check and the embedding
# host; on their debug builds the pytest suite under PYTHONMALLOC=debug and
# -X dev. The root works on its own copy of the project, so its builds and
# environments never mix with this machine's.
#
# Needs root on Linux. Anywhere else it prints one line saying why it was
# skipped and succeeds, so a test run without root still passes; where it can
# run, a root that cannot be made is a failure, with the reason.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

reason="$(testing_root_unavailable)"
if [ -n "$reason" ]; then
    echo "== CPython $newer_pythons in the Debian testing root: skipped ($reason) =="
    exit 0
fi

start=$SECONDS
root="$(bash scripts/testing-root.sh ensure)"
sync_into_root "$root" "$root_copy"
echo "== CPython $newer_pythons and their debug builds in the testing root ($root) =="
bash scripts/testing-root.sh run /bin/bash -c '
    cd "$1"
    BRENVALIS_PYTHONS="$2" BRENVALIS_DEBUG_PYTHONS="$2" exec bash scripts/test.sh
' bash "$root_copy" "$newer_pythons"
echo "== the testing root's checks passed in $((SECONDS - start)) s =="
