"""Prints the shape of the source tree: files and lines per folder, and the longest functions.

Run from the repository root: ``python3 scripts/house_report.py [N]``. Function extents come
from Universal Ctags (``apt-get install universal-ctags``); without it only the folders are shown.
"""

import collections
import json
import pathlib
import shutil
import subprocess
import sys

SOURCES = ("*.cpp", "*.hpp", "*.h", "*.py")


def source_files(root):
    for pattern in SOURCES:
        yield from (p for p in (root / "src").rglob(pattern) if p.is_file())


def folders(files):
    table = collections.defaultdict(lambda: [0, 0])
    for path in files:
        entry = table[str(path.parent)]
        entry[0] += 1
        entry[1] += sum(1 for _ in path.open(encoding="utf-8"))
    return sorted(table.items())


def longest_functions(files, count):
    if shutil.which("ctags") is None:
        return []
    out = subprocess.run(
        [
            "ctags",
            "--output-format=json",
            "--fields=+ne",
            "--kinds-c++=f",
            "--kinds-python=fm",
            "-o",
            "-",
            *map(str, files),
        ],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    functions = []
    for line in out.splitlines():
        tag = json.loads(line)
        if "end" in tag and not tag["name"].startswith("__anon"):
            functions.append(
                (tag["end"] - tag["line"] + 1, f"{tag['path']}:{tag['line']}", tag["name"])
            )
    return sorted(functions, reverse=True)[:count]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    files = sorted(source_files(pathlib.Path(".")))
    print(f"{'files':>5} {'lines':>6}  folder")
    for folder, (n, lines) in folders(files):
        print(f"{n:5d} {lines:6d}  {folder}")
    print(f"\nthe {count} longest functions (lines, where, name)")
    for lines, where, name in longest_functions(files, count):
        print(f"{lines:5d}  {where}  {name}")


if __name__ == "__main__":
    main()
