#!/usr/bin/env bash
# Runs every test of pyorvex on a fresh machine, installing what the tests need:
#   1. the kernel's C++ unit tests (GoogleTest via CTest), built with ASan + UBSan;
#   2. the pytest suite against the package installed with pip into .venv;
#   3. the pytest suite once more against a sanitizer build of the extension modules.
# Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# System packages: GoogleTest for the kernel tests.
if ! dpkg -s libgtest-dev >/dev/null 2>&1; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y libgtest-dev
fi

# Python environment with the package and its test dependencies.
if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
py="$root/.venv/bin/python"
"$py" -m pip install --quiet --upgrade pip
"$py" -m pip install --quiet cmake ninja
"$py" -m pip install --quiet ".[test]"
export PATH="$root/.venv/bin:$PATH"

echo "== kernel unit tests (ASan + UBSan) =="
cmake -S . -B build/kernel-tests -G Ninja -DPYORVEX_PYTHON=OFF -DPYORVEX_KERNEL_TESTS=ON \
    -DPYORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/kernel-tests
ctest --test-dir build/kernel-tests --output-on-failure

echo "== pytest (installed package) =="
"$py" -m pytest -q tests

echo "== pytest (ASan + UBSan build) =="
PYTHON="$py" scripts/dev_build.sh "$root/build/asan" -DPYORVEX_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
asan_rt=$(gcc -print-file-name=libasan.so)
ubsan_rt=$(gcc -print-file-name=libubsan.so)
LD_PRELOAD="$asan_rt $ubsan_rt" \
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    PYTHONPATH="$root/build/asan/pkg" \
    PYORVEX_SANITIZED=1 \
    "$py" -m pytest -q -p no:cacheprovider tests
