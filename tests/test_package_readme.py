"""The README stays true: its Python examples run as doctests, and its commands exist."""

import doctest
import re
from pathlib import Path

import pytest

from pyorvex.cli import build_parser

ROOT = Path(__file__).resolve().parents[1]
README = (ROOT / "README.md").read_text(encoding="utf-8")
FENCE = re.compile(r"^```(\w*)\n(.*?)^```", re.MULTILINE | re.DOTALL)
BLOCKS = {
    lang: [
        (README.count("\n", 0, m.start(2)), m.group(2))
        for m in FENCE.finditer(README)
        if m.group(1) == lang
    ]
    for lang in ("python", "bash")
}


def test_examples_are_found():
    assert len(BLOCKS["python"]) >= 8 and all(">>> " in block for _, block in BLOCKS["python"])


@pytest.mark.parametrize(
    "line, block", BLOCKS["python"], ids=[f"line {n + 1}" for n, _ in BLOCKS["python"]]
)
def test_example(line, block, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # the examples write files
    test = doctest.DocTestParser().get_doctest(
        block, {}, f"README.md:{line + 1}", str(ROOT / "README.md"), line
    )
    report = []
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    result = runner.run(test, out=report.append)
    assert result.failed == 0, "".join(report)
    assert result.attempted == block.count(">>> ")


def test_commands_exist():
    """The two set-up commands, the command line and the benchmarks that the README names."""
    commands = [cmd for _, block in BLOCKS["bash"] for cmd in block.splitlines()]
    assert commands[:2] == [
        "pip install '.[plot]' && python -m pyorvex demo",
        "bash scripts/run_tests.sh",
    ]
    assert "scripts/run_tests.sh" in (ROOT / ".ci" / "run").read_text()
    pyproject = (ROOT / "pyproject.toml").read_text()
    extras = re.findall(
        r"^(\w+) = \[", pyproject.split("[project.optional-dependencies]")[1].split("\n[")[0], re.M
    )
    named = {
        "".join(m) for m in re.findall(r"'\.\[(\w+)\]'|pyorvex\[(\w+)\]|`(\w+)` extra", README)
    }
    assert named and named <= set(extras)
    used = set(re.findall(r"(?:python -m |`|\$ )pyorvex (\w+)", README))
    assert used and used <= set(build_parser()._subparsers._group_actions[0].choices)
    for script in re.findall(r"\b((?:bench|scripts|examples)/[\w.]+\.(?:py|sh|cpp))", README):
        assert (ROOT / script).is_file(), script
