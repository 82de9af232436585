#!/usr/bin/env bash
# Builds the kernel's libFuzzer target (clang, AddressSanitizer + UndefinedBehaviorSanitizer, the
# kernel itself instrumented for coverage) and runs it for a bounded time.
#
#   scripts/fuzz_kernel.sh [SECONDS] [extra libFuzzer options...]
#   scripts/fuzz_kernel.sh --build-only
#
# SECONDS defaults to 60. The corpus is kept in build/k2-fuzz/corpus between runs; a crashing
# input is written to build/k2-fuzz/ and the script fails, printing the input (base64) and the
# command that replays it.
# PYORVEX_FUZZ_SEED fixes libFuzzer's seed (CI does, so that a red run reproduces); unset, every
# run starts from a fresh seed, which libFuzzer prints ("Seed: N").
set -euo pipefail

seconds="${1:-60}"
shift || true
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${PYORVEX_FUZZ_BUILD:-$root/build/k2-fuzz}"
cxx="${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14)}"
cc="${CC_FUZZ:-$(command -v clang || command -v clang-14)}"

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
    -DPYORVEX_FUZZ=ON -DPYORVEX_SANITIZE=ON -DPYORVEX_WERROR=ON -DPYORVEX_PYTHON=OFF -DPYORVEX_KERNEL_TESTS=OFF >/dev/null
cmake --build "$build" --target kernel_fuzz
if [ "$seconds" = --build-only ]; then
    exit 0
fi

mkdir -p "$build/corpus"
cd "$build"
opts=(-max_total_time="$seconds" -max_len=4096 -print_final_stats=1)
if [ -n "${PYORVEX_FUZZ_SEED:-}" ]; then
    opts+=(-seed="$PYORVEX_FUZZ_SEED")
fi
env=(ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
     UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}")
. "$root/scripts/fuzz_findings.sh"
fuzz_mark "$build"
status=0
env "${env[@]}" ./kernel_fuzz "${opts[@]}" "$@" corpus || status=$?
if [ "$status" != 0 ]; then
    echo "kernel fuzzing failed (exit status $status)"
    report_findings "$build" env "${env[@]}" "$build/kernel_fuzz"
fi
exit "$status"
