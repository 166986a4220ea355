#!/usr/bin/env bash
# Coverage-guided fuzzing (libFuzzer) of the module's entries and of the core.
#
#   bash scripts/fuzz.sh                  lists the targets
#   bash scripts/fuzz.sh TARGET SECONDS   replays TARGET's seed corpus and
#                                         every past reproducer, then fuzzes it
#                                         for SECONDS
#   bash scripts/fuzz.sh all SECONDS      the same for each target in turn
#
# SECONDS 0 replays the seeds and the reproducers only. BRENVALIS_FUZZ_JOBS
# (default 1) is how many targets "all" runs at a time: each fuzzer is one
# process, so two keep both CPUs of a two-core machine busy for the time.
#
# Exits 0 when nothing was found, 1 on a finding (a sanitizer report, a
# wrong answer, an unexpected exception, a crash or a hang), whose input is
# left in build/fuzz/findings/TARGET/ and named in the last lines printed.
# A fixed finding's input goes into tests/fuzz/reproducers/TARGET/, which
# every later run replays first.
#
# Sets itself up: run as root on Debian, it installs clang-19 and its
# runtimes (libclang-rt-19-dev); the Python target gets a virtual environment
# of its own, build/fuzz/venv, with atheris from PyPI and the package built
# by clang with coverage, AddressSanitizer and UndefinedBehaviorSanitizer.
# That build cannot be imported without atheris's sanitizer runtime preloaded,
# which is why it never goes into an everyday environment.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$project_root"

# entries: every Python entry that takes arguments, through the interpreter
# (atheris). The others are the core alone, with libFuzzer's own main().
targets=(entries store_model keyed_hash number_text)
fuzz_dir="$project_root/tests/fuzz"
work="$project_root/build/fuzz"
atheris_version=3.1.0
python_version=3.12
clang_version=19
jobs="${BRENVALIS_FUZZ_JOBS:-1}"

# Instrumented for coverage (the fuzzer's guidance) and checked by both
# sanitizers; the vptr and function checks are left out because atheris's
# bundled runtime has no part for them. -O1 -g with assertions kept
# (RelWithDebInfo's own flags would add -DNDEBUG).
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr,function -fno-sanitize-recover=all"
instrument+=" -fno-omit-frame-pointer"
# Debian 12's libstdc++ (GCC 12) still calls std::get_temporary_buffer inside
# std::stable_sort, which clang-19 reports as deprecated in C++23 wherever
# the sort is instantiated; the warning is about the library, not our code.
instrument+=" -Wno-deprecated-declarations"
build_type=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g")

# libFuzzer's settings per target: the longest input worth mutating.
max_len() {
    case "$1" in
        entries) echo 512 ;;
        store_model) echo 4096 ;;
        keyed_hash) echo 256 ;;
        number_text) echo 64 ;;
    esac
}

usage() {
    echo "usage: $0 [TARGET SECONDS | all SECONDS]; targets:" >&2
    printf '  %s\n' "${targets[@]}" >&2
}

if [ "$#" -eq 0 ]; then
    printf '%s\n' "${targets[@]}"
    exit 0
fi
if [ "$#" -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
    usage
    exit 2
fi
target_arg="$1"
seconds="$2"
if [ "$target_arg" != all ] && [[ ! " ${targets[*]} " =~ " $target_arg " ]]; then
    echo "error: no fuzz target '$target_arg'" >&2
    usage
    exit 2
fi

ensure_debian_packages "clang-$clang_version:clang++-$clang_version" \
    "libclang-rt-$clang_version-dev:/usr/lib/llvm-$clang_version/lib/clang/$clang_version/lib/linux/libclang_rt.fuzzer-x86_64.a" \
    cmake:cmake

build_core_targets() {
    echo "== building the core's fuzz targets (clang++-$clang_version) =="
    cmake -S "$project_root" -B "$work/core" -DCMAKE_CXX_COMPILER="clang++-$clang_version" "${build_type[@]}" \
        -DCMAKE_CXX_FLAGS="$instrument" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
        -DBRENVALIS_BUILD_EXTENSION=OFF -DBRENVALIS_BUILD_FUZZ=ON -DBRENVALIS_WERROR=ON >/dev/null
    cmake --build "$work/core" -j2 --target fuzz_store_model fuzz_keyed_hash fuzz_number_text >/dev/null
}

build_python_target() {
    local venv="$work/venv"
    echo "== building the instrumented package into $venv (clang-$clang_version, atheris $atheris_version) =="
    if [ ! -x "$venv/bin/python" ]; then
        "$(find_python "$python_version")" -m venv "$venv"
        "$venv/bin/python" -m pip install --quiet --upgrade pip
    fi
    "$venv/bin/python" -m pip install --quiet "atheris==$atheris_version"
    CC="clang-$clang_version" CXX="clang++-$clang_version" CXXFLAGS="$instrument" \
        LDFLAGS="-fsanitize=address,undefined" \
        "$venv/bin/python" -m pip install --quiet --force-reinstall --no-deps "$project_root" \
        -C cmake.build-type=RelWithDebInfo -C "cmake.define.CMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
        -C build-dir="$work/ext"
}

# The command that runs a target, given libFuzzer's arguments after it.
runner=()
set_runner() {
    local target="$1"
    if [ "$target" = entries ]; then
        local python="$work/venv/bin/python" runtime
        runtime="$("$python" -c 'import atheris, os; print(os.path.join(atheris.path(), "asan_with_fuzzer.so"))')"
        # The preload is atheris's runtime (libFuzzer and the sanitizers in
        # one): the module's instrumentation reports to it. Objects come from
        # malloc, so the sanitizer sees a read past a str's bytes, which the
        # interpreter's own allocator would hide; the interpreter's
        # allocations that live until exit are no leaks of ours.
        runner=(env LD_PRELOAD="$runtime" PYTHONMALLOC=malloc
            ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1"
            UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
            "$python" "$fuzz_dir/entries.py")
    else
        runner=(env UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" "$work/core/fuzz_$target")
    fi
}

# Replays the seeds and the past reproducers, then fuzzes for $2 seconds.
run_target() {
    local target="$1" time="$2" findings="$work/findings/$1" corpus="$work/corpus/$1" inputs=() status=0
    set_runner "$target"
    mkdir -p "$findings" "$corpus"
    mapfile -t inputs < <(find "$fuzz_dir/corpus/$target" "$fuzz_dir/reproducers/$target" -type f 2>/dev/null | sort)
    echo "== $target: replaying ${#inputs[@]} seeds and past reproducers =="
    if [ "${#inputs[@]}" -gt 0 ]; then
        "${runner[@]}" -runs=1 "${inputs[@]}" >"$findings/replay.log" 2>&1 || {
            tail -n 40 "$findings/replay.log" >&2
            # The input that failed is the last one the replay started.
            echo "== $target: FINDING on replay (log: $findings/replay.log); reproducer:" >&2
            grep '^Running: ' "$findings/replay.log" | tail -n1 | cut -d' ' -f2- >&2
            return 1
        }
    fi
    if [ "$time" -eq 0 ]; then
        echo "== $target: replayed, nothing found =="
        return 0
    fi
    echo "== $target: fuzzing for $time s (new inputs in $corpus, findings in $findings) =="
    # The checked-in seeds are read, never written: new inputs go to the work
    # corpus, which later runs start from.
    "${runner[@]}" -use_value_profile=1 -timeout=10 -max_len="$(max_len "$target")" \
        -dict="$fuzz_dir/$target.dict" -max_total_time="$time" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$fuzz_dir/corpus/$target" >"$findings/fuzz.log" 2>&1 || status=$?
    grep -E '^#[0-9]+.*(DONE|INITED)|stat::number_of_executed_units|stat::average_exec_per_sec' \
        "$findings/fuzz.log" | sed "s/^/   $target: /" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$findings/fuzz.log" >&2
        echo "== $target: FINDING (exit status $status); reproducer:" >&2
        ls -t "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-* "$findings"/oom-* 2>/dev/null |
            head -n1 >&2 || true
        return 1
    fi
    echo "== $target: nothing found =="
}

if [ "$target_arg" = all ]; then
    chosen=("${targets[@]}")
else
    chosen=("$target_arg")
fi
start=$SECONDS
[[ " ${chosen[*]} " =~ " entries " ]] && build_python_target
[[ " ${chosen[*]} " != " entries " ]] && build_core_targets
failed=0
if [ "${#chosen[@]}" -eq 1 ]; then
    run_target "${chosen[0]}" "$seconds" || failed=1
else
    fuzz_for_the_time() { run_target "$1" "$seconds"; }
    set +e
    run_in_lanes "$jobs" "$work/logs" "fuzzing found something in" fuzz_for_the_time "${chosen[@]}"
    [ "$?" -eq 0 ] || failed=1
    set -e
fi
echo "== fuzzing finished in $((SECONDS - start)) s: $([ "$failed" -eq 0 ] && echo nothing found || echo FINDINGS) =="
exit "$failed"
