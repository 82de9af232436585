"""Checks what `python -m build` made, as a user would receive it.

    python scripts/check_dist.py DIST_DIR

DIST_DIR holds one sdist and one wheel of pyorvex. The wheel must carry every file of the
package's source folder (modules, type stubs, py.typed, the public C header) and both extension
modules; the sdist must carry every file the build reads and nothing from local environments or
build trees. The wheel is then installed with its run-time dependencies into a fresh virtual
environment, which imports the package, finds the C header and evaluates a trajectory.
Exits non-zero, listing the faults, on any failure.
"""

import subprocess
import sys
import tarfile
import tempfile
import venv
import zipfile
from pathlib import Path, PurePosixPath
from typing import List

ROOT = Path(__file__).resolve().parents[1]
PACKAGE = "src/pyorvex"
EXTENSIONS = ("curvekit", "defdatastruct", "planning/_kernel", "multiaxis")
SMOKE = """
import pathlib, pyorvex
from pyorvex import make_trajectory
header = pathlib.Path(pyorvex.get_include(), "pyorvex", "defdatastruct.h")
assert header.is_file(), header
assert make_trajectory([0, 0, 1, 1], [0.0, 2.0], 1)(0.25) == 0.5
print("installed and imported pyorvex", pyorvex.__version__)
"""


def tracked(*paths: str) -> List[str]:
    out = subprocess.run(
        ["git", "ls-files", *paths], cwd=ROOT, check=True, capture_output=True, text=True
    )
    return out.stdout.split()


def one(dist: Path, pattern: str) -> Path:
    found = sorted(dist.glob(pattern))
    if len(found) != 1:
        sys.exit(f"{dist}: expected one {pattern}, found {[p.name for p in found]}")
    return found[0]


def wheel_faults(wheel: Path) -> List[str]:
    names = set(zipfile.ZipFile(wheel).namelist())
    wanted = ["pyorvex/" + str(PurePosixPath(f).relative_to(PACKAGE)) for f in tracked(PACKAGE)]
    faults = [f"wheel lacks {name}" for name in wanted if name not in names]
    for ext in EXTENSIONS:
        if not any(n.startswith(f"pyorvex/{ext}.") and n.endswith(".so") for n in names):
            faults.append(f"wheel lacks the extension module {ext}")
    return faults


def sdist_faults(sdist: Path) -> List[str]:
    with tarfile.open(sdist) as tar:
        # Paths inside the archive, without its top folder (pyorvex-VERSION/).
        names = {m.name.split("/", 1)[1] for m in tar.getmembers() if "/" in m.name}
    wanted = ["pyproject.toml", "CMakeLists.txt", "README.md", *tracked("src")]
    faults = [f"sdist lacks {name}" for name in wanted if name not in names]
    strays = [n for n in names if n.split("/")[0].startswith((".venv", "build"))]
    faults += [f"sdist holds a local file: {name}" for name in sorted(strays)[:5]]
    return faults


def install_and_import(wheel: Path) -> List[str]:
    with tempfile.TemporaryDirectory() as tmp:
        env = Path(tmp, "venv")
        venv.create(env, with_pip=True)
        python = str(env / "bin" / "python")
        steps = {
            "installing the wheel": [python, "-m", "pip", "install", "--quiet", str(wheel)],
            "importing the package": [python, "-c", SMOKE],
        }
        for what, step in steps.items():
            proc = subprocess.run(step, cwd=tmp, capture_output=True, text=True)
            if proc.returncode != 0:
                return [f"fresh environment: {what} failed\n{proc.stderr}"]
            print(proc.stdout, end="")
    return []


def main(dist: Path) -> int:
    wheel, sdist = one(dist, "pyorvex-*.whl"), one(dist, "pyorvex-*.tar.gz")
    faults = wheel_faults(wheel) + sdist_faults(sdist)
    faults = faults or install_and_import(wheel)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(Path(sys.argv[1]).resolve()))
