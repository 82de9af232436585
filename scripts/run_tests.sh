#!/usr/bin/env bash
# Runs every test of pyorvex on a fresh machine, installing what the tests need:
#   0. the style checks: C++ against .clang-format, Python against ruff's settings;
#   1. the pytest suite against the package installed into .venv, once more in .venv-numpy1 with
#      NumPy 1.26, then the check of the sdist and the wheel (scripts/check_dist.py);
#   2. one build with ASan + UBSan of the kernel, its C++ unit tests (GoogleTest via CTest) and
#      the extension modules (compiled in the background during 0 and 1); the kernel's unit tests
#      run from it;
#   3. the pytest suite once more against the sanitizer build of the extension modules;
#   4. a bounded run of the atheris harness over the object surface
#      (tests/fuzz/fuzz_objects.py), then its corpus replayed against the sanitizer build;
#   5. a bounded run of the kernel's libFuzzer target (clang; built in the background during 2
#      to 4);
#   6. every operation family of the leak test under valgrind's memcheck (scripts/memcheck.py).
# The steps run one after another, but for those two builds. Each announces itself and ends with
# a line "== <step>: PASS|FAIL (<seconds> s) =="; the first failure stops the run, and a table of
# the steps run so far closes the output either way. The fuzz runs use a fixed seed
# (PYORVEX_FUZZ_SEED, 1 unless set), so that a red run reproduces; a finding prints its input in
# base64 and the command that replays it. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export PYORVEX_FUZZ_SEED="${PYORVEX_FUZZ_SEED:-1}"
py="$root/.venv/bin/python"
np1="$root/.venv-numpy1/bin/python"

# --- the steps -----------------------------------------------------------------------------------

system_packages() {
    # GoogleTest for the kernel tests, clang for the kernel's fuzz target, valgrind.
    local missing=()
    dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
    command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
    command -v clang++ >/dev/null 2>&1 || command -v clang++-14 >/dev/null 2>&1 ||
        missing+=(clang-14 libclang-rt-14-dev)
    if [ "${#missing[@]}" -gt 0 ]; then
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    fi
}

python_environment() {
    [ -x .venv/bin/python ] || python3 -m venv .venv
    "$py" -m pip install --quiet --upgrade pip
    # Pinned formatters: another version may lay the same code out differently.
    "$py" -m pip install --quiet cmake ninja build clang-format==23.1.5 ruff==0.17.6
}

package_build() {
    # The package is built once: `python -m build` makes the sdist, then the wheel from that
    # sdist, and every environment below installs that wheel. Warnings are errors in every CI
    # build (-DPYORVEX_WERROR=ON).
    rm -rf build/dist && mkdir -p build
    "$py" -m build --outdir build/dist -C cmake.define.PYORVEX_WERROR=ON . >build/dist.log 2>&1 ||
        { cat build/dist.log; return 1; }
    "$py" -m pip install --quiet "$(wheel_path)[test]" atheris
    # The same version may be installed already, from an earlier run: replace it.
    "$py" -m pip install --quiet --no-deps --force-reinstall "$(wheel_path)"
}

wheel_path() {
    echo "$root"/build/dist/pyorvex-*.whl
}

style() {
    git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | xargs "$root/.venv/bin/clang-format" --dry-run -Werror
    "$root/.venv/bin/ruff" format --check --quiet .
    "$root/.venv/bin/ruff" check --quiet .
}

sanitizer_build() {
    # One tree for the kernel's unit tests and the extension modules: the kernel is compiled
    # once with the sanitizers (at -O1 with GCC, see CMakeLists.txt) for both.
    PYTHON="$py" scripts/dev_build.sh "$root/build/asan" -DPYORVEX_SANITIZE=ON \
        -DPYORVEX_KERNEL_TESTS=ON -DPYORVEX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

fuzz_kernel_build() {
    scripts/fuzz_kernel.sh --build-only
}

kernel_tests() {
    ctest --test-dir build/asan --output-on-failure
}

pytest_installed() {
    "$py" -m pytest -q tests
}

pytest_numpy1() {
    # NumPy 1 (the package declares numpy>=1.25) under the wheel built against NumPy 2's headers.
    [ -x .venv-numpy1/bin/python ] || python3 -m venv .venv-numpy1
    "$np1" -m pip install --quiet "numpy==1.26.*" "$(wheel_path)[test]"
    "$np1" -m pip install --quiet --no-deps --force-reinstall "$(wheel_path)"
    "$np1" -m pytest -q -p no:cacheprovider tests
}

package_check() {
    "$py" scripts/check_dist.py build/dist
}

pytest_sanitized() {
    local asan_rt ubsan_rt
    asan_rt=$(gcc -print-file-name=libasan.so)
    ubsan_rt=$(gcc -print-file-name=libubsan.so)
    # PYTHONMALLOC=malloc: the records' small buffers would otherwise live in the interpreter's
    # own pools, where AddressSanitizer cannot see a read past their end or after their release.
    LD_PRELOAD="$asan_rt $ubsan_rt" \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        PYTHONMALLOC=malloc \
        PYTHONPATH="$root/build/asan/pkg" \
        PYORVEX_SANITIZED=1 \
        "$py" -m pytest -q -p no:cacheprovider tests
}

fuzz_objects() {
    PYTHON="$py" PYORVEX_FUZZ_PKG=installed scripts/fuzz_python.sh 60
}

fuzz_objects_replay() {
    PYTHON="$py" PYORVEX_FUZZ_PKG="$root/build/asan/pkg" scripts/fuzz_python.sh 0 --asan
}

fuzz_kernel() {
    scripts/fuzz_kernel.sh 60
}

memcheck() {
    "$py" scripts/memcheck.py 30
}

# --- running them --------------------------------------------------------------------------------

results=()

summary() {
    echo "== steps =="
    printf '%s\n' "${results[@]}"
}

# step NAME FUNCTION: runs FUNCTION in a subshell that stops at its first failing command, and
# reports NAME with PASS or FAIL and the seconds it took; a failure ends the run with its status.
step() {
    local name=$1 fn=$2 start=$SECONDS status=0
    echo "== $name =="
    set +e
    (set -e; "$fn")
    status=$?
    set -e
    local took=$((SECONDS - start))
    if [ "$status" = 0 ]; then
        echo "== $name: PASS ($took s) =="
        results+=("PASS  $(printf '%5d' "$took") s  $name")
    else
        echo "== $name: FAIL ($took s, exit status $status) =="
        results+=("FAIL  $(printf '%5d' "$took") s  $name (exit status $status)")
        summary
        exit "$status"
    fi
}

# The builds use both cores, the pytest runs one: the sanitizer build and the kernel's fuzz
# target are compiled in the background (at a lower priority) while single-threaded steps run,
# each with its output in build/<name>.log. The step "build: ..." of each waits for it and
# reports its result, printing the log when it failed; nothing else reads a build before that.
background_pids=()
trap 'for pid in "${background_pids[@]}"; do kill -- -"$pid" 2>/dev/null || true; done' EXIT

# background NAME FUNCTION: starts FUNCTION in a process group of its own (so that a run that
# stops early stops the build with it).
background() {
    local log="$root/build/$1.log"
    rm -f "$log" "$log.status"
    echo "== $1: started in the background =="
    setsid nice -n 10 bash -c '(set -e; "$2") >"$1" 2>&1; echo "$?" >"$1.status"' \
        background "$log" "$2" &
    background_pids+=($!)
}

# await NAME: the step's body for a background build. Steps run in subshells, which cannot wait
# for a sibling process: the build's exit status comes in a file.
await() {
    local log="$root/build/$1.log"
    while [ ! -s "$log.status" ]; do sleep 1; done
    if [ "$(cat "$log.status")" != 0 ]; then
        cat "$log"
        return 1
    fi
    tail -n 1 "$log"
}
await_asan() { await asan-build; }
await_fuzz_kernel() { await fuzz-kernel-build; }

step "setup: system packages (apt)" system_packages
step "setup: .venv and the build and style tools (pip)" python_environment
step "build: sdist and wheel, installed into .venv with the test extra" package_build
export PATH="$root/.venv/bin:$PATH"
export -f sanitizer_build fuzz_kernel_build
export root py
background asan-build sanitizer_build
step "style (clang-format, ruff)" style
step "pytest (installed package)" pytest_installed
step "pytest (NumPy 1.26, the same wheel)" pytest_numpy1
step "package: the sdist and the wheel, installed into a fresh environment" package_check
step "build: ASan + UBSan, kernel tests and modules (in the background since the wheel)" await_asan
background fuzz-kernel-build fuzz_kernel_build
step "kernel unit tests (ASan + UBSan)" kernel_tests
step "pytest (ASan + UBSan build)" pytest_sanitized
step "fuzzing: object surface (atheris, 60 s, seed $PYORVEX_FUZZ_SEED)" fuzz_objects
step "fuzzing: object surface corpus replayed under ASan + UBSan" fuzz_objects_replay
step "build: kernel fuzz target, clang (in the background since the sanitizer build)" \
    await_fuzz_kernel
step "fuzzing: kernel (libFuzzer, 60 s, seed $PYORVEX_FUZZ_SEED)" fuzz_kernel
step "memcheck: every operation family (valgrind)" memcheck
summary
