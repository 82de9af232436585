"""Test-only native extensions (tests/support/*.c), compiled against the installed pyorvex
headers. Their fixtures are registered in conftest.py."""

import importlib.util
import shlex
import shutil
import subprocess
import sysconfig
from pathlib import Path

import pytest

EXT_DIR = Path(__file__).parent


def build_extension(name, out_dir):
    """Compiles tests/support/<name>.c into an extension module in out_dir and imports it."""
    cc = shlex.split(sysconfig.get_config_var("CC") or "cc")
    if not cc or shutil.which(cc[0]) is None:
        pytest.skip(f"no C compiler ({cc[0] if cc else 'CC unset'}) to build {name}")
    import pyorvex

    target = Path(out_dir) / (name + sysconfig.get_config_var("EXT_SUFFIX"))
    cmd = [
        *cc,
        "-shared",
        "-fPIC",
        "-O1",
        "-Wall",
        "-Werror",
        "-I",
        sysconfig.get_paths()["include"],
        "-I",
        pyorvex.get_include(),
        str(EXT_DIR / f"{name}.c"),
        "-o",
        str(target),
    ]
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        pytest.fail(f"building {name} failed:\n{' '.join(cmd)}\n{proc.stdout}{proc.stderr}")
    module_spec = importlib.util.spec_from_file_location(name, target)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="session")
def vtable_probe(tmp_path_factory):
    """Calls the C-level method tables of the types and make_point, as a native client does."""
    return build_extension("vtable_probe", tmp_path_factory.mktemp("ext"))
