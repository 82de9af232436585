"""References are released only by the owning handle of src/capi: no raw release elsewhere."""

import re
from pathlib import Path

SRC = Path(__file__).resolve().parents[1] / "src"
RAW_RELEASE = re.compile(r"\bPy_(?:X?DECREF|CLEAR|X?SETREF)\s*\(")


def test_no_raw_reference_release_outside_capi():
    sources = [
        p
        for p in sorted(SRC.rglob("*"))
        if p.suffix in {".c", ".cpp", ".h", ".hpp"} and (SRC / "capi") not in p.parents
    ]
    assert sources
    raw = [
        f"{p.relative_to(SRC.parent)}:{n}"
        for p in sources
        for n, line in enumerate(p.read_text(encoding="utf-8").splitlines(), 1)
        if RAW_RELEASE.search(line)
    ]
    assert raw == []
