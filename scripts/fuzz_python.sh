#!/usr/bin/env bash
# Runs the atheris harness tests/fuzz/fuzz_objects.py over the object surface of the extension
# for a bounded time.
#
#   scripts/fuzz_python.sh [SECONDS] [--asan] [extra libFuzzer options...]
#
# SECONDS defaults to 60. Without --asan the harness runs against a development build without
# sanitizers (build/dev, built here with scripts/dev_build.sh), guided by the coverage of the
# harness's own decisions; with --asan against the AddressSanitizer + UndefinedBehaviorSanitizer
# build (build/asan) with the runtimes preloaded and the interpreter's small-object allocator off
# (PYTHONMALLOC=malloc), so that every buffer of a record is checked. The preloaded runtime takes
# the coverage hooks, so that run first replays the corpus the other one grew and then mutates
# without guidance; SECONDS 0 only replays the corpus.
# PYORVEX_FUZZ_PKG names an importable package directory to use instead of building one, or is
# "installed" for the package installed in the interpreter.
# PYTHON names the interpreter (python3 by default); it needs atheris, numpy and lxml.
#
# PYORVEX_FUZZ_SEED fixes libFuzzer's seed and the interpreter's hash seed (CI does, so that a red
# run reproduces); unset, every run starts from a fresh seed, which libFuzzer prints ("Seed: N").
#
# The corpus is kept in build/py-fuzz/corpus between runs. A crashing, hanging or failing input
# is written to build/py-fuzz/ as crash-*, timeout-* or oom-* and the script fails, printing the
# input (base64) and the command that replays it.
set -euo pipefail

seconds=60
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
asan=0
if [ "${1:-}" = "--asan" ]; then
    asan=1
    shift
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
out="$root/build/py-fuzz"
mkdir -p "$out/corpus"

if [ "${PYORVEX_FUZZ_PKG:-}" = installed ]; then
    pkg=""
elif [ -n "${PYORVEX_FUZZ_PKG:-}" ]; then
    pkg="$PYORVEX_FUZZ_PKG"
elif [ "$asan" = 1 ]; then
    PYTHON="$python" "$root/scripts/dev_build.sh" "$root/build/asan" -DPYORVEX_SANITIZE=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    pkg="$root/build/asan/pkg"
else
    PYTHON="$python" "$root/scripts/dev_build.sh" "$root/build/dev" >/dev/null
    pkg="$root/build/dev/pkg"
fi

# Without sanitizers, an address-space limit turns absurd allocation requests into MemoryError
# instead of letting them swap the machine; with ASan the allocator does the same.
limit_kb=$((6 * 1024 * 1024))
opts=(-timeout=30 -max_len=4096 -rss_limit_mb=6144 -artifact_prefix="$out/" -print_final_stats=1)
if [ "$seconds" = 0 ]; then
    opts+=(-runs=0)
else
    opts+=(-max_total_time="$seconds")
fi
if [ -n "${PYORVEX_FUZZ_SEED:-}" ]; then
    opts+=(-seed="$PYORVEX_FUZZ_SEED")
    export PYTHONHASHSEED="${PYTHONHASHSEED:-0}"
fi

cd "$out"
env=()
if [ "$asan" = 1 ]; then
    asan_rt=$(gcc -print-file-name=libasan.so)
    ubsan_rt=$(gcc -print-file-name=libubsan.so)
    env=(LD_PRELOAD="$asan_rt $ubsan_rt"
         ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:allocator_may_return_null=1:max_allocation_size_mb=4096}"
         UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
         PYTHONMALLOC=malloc PYORVEX_SANITIZED=1)
fi
if [ -n "$pkg" ]; then
    env+=(PYTHONPATH="$pkg")
fi
if [ -n "${PYTHONHASHSEED:-}" ]; then
    env+=(PYTHONHASHSEED="$PYTHONHASHSEED")
fi
harness=("$python" "$root/tests/fuzz/fuzz_objects.py")
. "$root/scripts/fuzz_findings.sh"
fuzz_mark "$out"
status=0
if [ "$asan" = 1 ]; then
    env "${env[@]}" "${harness[@]}" "${opts[@]}" "$@" corpus || status=$?
else
    (ulimit -v "$limit_kb"
     exec env "${env[@]}" "${harness[@]}" "${opts[@]}" "$@" corpus) || status=$?
fi
if [ "$status" != 0 ]; then
    echo "object surface fuzzing failed (exit status $status)"
    report_findings "$out" env "${env[@]}" "${harness[@]}"
fi
exit "$status"
