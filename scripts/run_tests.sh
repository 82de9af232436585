#!/usr/bin/env bash
# Runs every test of pyorvex on a fresh machine, installing what the tests need:
#   0. the style checks: C++ against .clang-format, Python against ruff's settings;
#   1. the kernel's C++ unit tests (GoogleTest via CTest), built with ASan + UBSan;
#   2. the pytest suite against the package installed into .venv, once more in .venv-numpy1 with
#      NumPy 1.26, then the check of the sdist and the wheel (scripts/check_dist.py);
#   3. the pytest suite once more against a sanitizer build of the extension modules;
#   4. a bounded run of the atheris harness over the object surface
#      (tests/fuzz/fuzz_objects.py), then its corpus replayed against the sanitizer build;
#   5. a bounded run of the kernel's libFuzzer target (clang);
#   6. every operation family of the leak test under valgrind's memcheck (scripts/memcheck.py).
# Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# System packages: GoogleTest for the kernel tests, clang for the kernel's fuzz target, valgrind.
missing=()
dpkg -s libgtest-dev >/dev/null 2>&1 || missing+=(libgtest-dev)
command -v valgrind >/dev/null 2>&1 || missing+=(valgrind)
command -v clang++ >/dev/null 2>&1 || command -v clang++-14 >/dev/null 2>&1 || missing+=(clang-14 libclang-rt-14-dev)
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

# Python environment with the package and its test dependencies.
if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
py="$root/.venv/bin/python"
"$py" -m pip install --quiet --upgrade pip
"$py" -m pip install --quiet cmake ninja build
# The package is built once: `python -m build` makes the sdist, then the wheel from that sdist,
# and every environment below installs that wheel. Warnings are errors in every CI build
# (-DPYORVEX_WERROR=ON).
rm -rf build/dist && mkdir -p build
"$py" -m build --outdir build/dist -C cmake.define.PYORVEX_WERROR=ON . >build/dist.log 2>&1 ||
    { cat build/dist.log; exit 1; }
wheel=$(echo "$root"/build/dist/pyorvex-*.whl)
"$py" -m pip install --quiet "$wheel[test]" atheris
# The same version may be installed already, from an earlier run: replace it.
"$py" -m pip install --quiet --no-deps --force-reinstall "$wheel"
export PATH="$root/.venv/bin:$PATH"

echo "== style (clang-format, ruff) =="
# Pinned: another formatter version may lay the same code out differently.
"$py" -m pip install --quiet clang-format==23.1.5 ruff==0.17.6
git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | xargs "$root/.venv/bin/clang-format" --dry-run -Werror
"$root/.venv/bin/ruff" format --check --quiet .
"$root/.venv/bin/ruff" check --quiet .

echo "== kernel unit tests (ASan + UBSan) =="
cmake -S . -B build/kernel-tests -G Ninja -DPYORVEX_PYTHON=OFF -DPYORVEX_KERNEL_TESTS=ON \
    -DPYORVEX_SANITIZE=ON -DPYORVEX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/kernel-tests
ctest --test-dir build/kernel-tests --output-on-failure

echo "== pytest (installed package) =="
"$py" -m pytest -q tests

echo "== pytest (NumPy 1.26, the same wheel) =="
# NumPy 1 (the package declares numpy>=1.25) under the wheel built against NumPy 2's headers.
[ -x .venv-numpy1/bin/python ] || python3 -m venv .venv-numpy1
np1="$root/.venv-numpy1/bin/python"
"$np1" -m pip install --quiet "numpy==1.26.*" "$wheel[test]"
"$np1" -m pip install --quiet --no-deps --force-reinstall "$wheel"
"$np1" -m pytest -q -p no:cacheprovider tests

echo "== package: the sdist and the wheel, installed into a fresh environment =="
"$py" scripts/check_dist.py build/dist

echo "== pytest (ASan + UBSan build) =="
PYTHON="$py" scripts/dev_build.sh "$root/build/asan" -DPYORVEX_SANITIZE=ON \
    -DPYORVEX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
asan_rt=$(gcc -print-file-name=libasan.so)
ubsan_rt=$(gcc -print-file-name=libubsan.so)
# PYTHONMALLOC=malloc: the records' small buffers would otherwise live in the interpreter's own
# pools, where AddressSanitizer cannot see a read past their end or after their release.
LD_PRELOAD="$asan_rt $ubsan_rt" \
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    PYTHONMALLOC=malloc \
    PYTHONPATH="$root/build/asan/pkg" \
    PYORVEX_SANITIZED=1 \
    "$py" -m pytest -q -p no:cacheprovider tests

echo "== fuzzing: object surface (atheris, 60 s; corpus replayed under ASan + UBSan) =="
PYTHON="$py" PYORVEX_FUZZ_PKG=installed scripts/fuzz_python.sh 60
PYTHON="$py" PYORVEX_FUZZ_PKG="$root/build/asan/pkg" scripts/fuzz_python.sh 0 --asan

echo "== fuzzing: kernel (libFuzzer, 60 s) =="
scripts/fuzz_kernel.sh 60

echo "== memcheck: every operation family (valgrind) =="
"$py" scripts/memcheck.py 30
