#!/usr/bin/env bash
# Development build without pip: configures and builds the extension modules in a build
# directory and lays out an importable package there.
#   scripts/dev_build.sh [BUILD_DIR] [extra cmake args...]
#   PYTHONPATH=BUILD_DIR/pkg python -m pytest tests
# With -DPYORVEX_SANITIZE=ON the modules are built with ASan + UBSan; run the interpreter with
# the runtimes preloaded (see scripts/run_tests.sh). Every target the configuration enables is
# built: with -DPYORVEX_KERNEL_TESTS=ON the kernel's tests too, from the same kernel library
# (ctest --test-dir BUILD_DIR runs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
shift || true
python=${PYTHON:-python3}
cmake -S "$root" -B "$build" -G Ninja -DPYORVEX_PYTHON=ON -DPython_EXECUTABLE="$(command -v "$python")" "$@" >/dev/null
cmake --build "$build"
rm -rf "$build/pkg"
mkdir -p "$build/pkg"
cp -r "$root/src/pyorvex" "$build/pkg/pyorvex"
cp "$build"/curvekit*.so "$build"/defdatastruct*.so "$build"/multiaxis*.so "$build/pkg/pyorvex/"
cp "$build"/_kernel*.so "$build/pkg/pyorvex/planning/"
echo "PYTHONPATH=$build/pkg"
