"""The example scripts run, type-check under mypy --strict, and the stubs match the module."""

import importlib.util
import site
import subprocess
import sys
from pathlib import Path

import pytest
from support.child_env import child_env

import pyorvex

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = sorted((ROOT / "examples").glob("*.py"))
PACKAGE_PARENT = str(Path(pyorvex.__file__).resolve().parents[1])

# A short run of the examples that take sizes, and what an example needs beyond the package.
ARGS = {"fleet.py": ["2", "200"]}
NEEDS = {"fleet.py": "distributed"}

needs_mypy = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed"
)


def run(*args, cwd, **env):
    return subprocess.run(
        [sys.executable, *map(str, args)],
        cwd=cwd,
        env=child_env(**env),
        capture_output=True,
        text=True,
        timeout=600,
    )


def mypy_env():
    """MYPYPATH for a package that is importable but not installed (a development build)."""
    installed = {
        str(Path(p).resolve()) for p in site.getsitepackages() + [site.getusersitepackages()]
    }
    return {} if PACKAGE_PARENT in installed else {"MYPYPATH": PACKAGE_PARENT}


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    """A cache outside the source tree, shared by the mypy runs of one session."""
    return tmp_path_factory.mktemp("mypy-cache")


def test_there_are_examples():
    assert len(EXAMPLES) >= 2


@pytest.mark.parametrize("script", EXAMPLES, ids=lambda p: p.name)
def test_example_runs(script, tmp_path):
    if script.name in NEEDS:
        pytest.importorskip(NEEDS[script.name])
    proc = run(script, *ARGS.get(script.name, []), cwd=tmp_path)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout and "Traceback" not in proc.stderr


@pytest.mark.slow
@needs_mypy
def test_examples_type_check(mypy_cache):
    proc = run(
        "-m",
        "mypy",
        "--config-file",
        ROOT / "pyproject.toml",
        "--cache-dir",
        mypy_cache,
        *EXAMPLES,
        cwd=ROOT,
        **mypy_env(),
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr


@pytest.mark.slow
@needs_mypy
def test_stubs_match_the_module(tmp_path):
    proc = run(
        "-m",
        "mypy.stubtest",
        "pyorvex",
        "--mypy-config-file",
        ROOT / "pyproject.toml",
        "--allowlist",
        ROOT / "tests" / "stubtest_allowlist.txt",
        "--ignore-unused-allowlist",
        cwd=tmp_path,
        **mypy_env(),
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr
