#!/usr/bin/env bash
# ThreadSanitizer: builds the C++ core tests with -fsanitize=thread and runs
# them all. The concurrent ones (readers beside an inserting thread, the shard
# lock's reader and writer tests) are the point: a lock taken in the wrong
# mode lets the threads touch the same table bytes unordered, which no
# functional check is sure to notice but the sanitizer reports every time.
#
# Builds go to $BRENVALIS_BUILDS/tsan-core (default build/).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

builds="$project_root/${BRENVALIS_BUILDS:-build}"

echo "== C++ core tests under ThreadSanitizer =="
build_core_tests "$builds/tsan-core" -DBRENVALIS_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=Debug
# halt_on_error: a report ends the test process with a failure status, so
# CTest counts it as a failed test.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
    ctest --test-dir "$builds/tsan-core" --output-on-failure -j2 --timeout 300
