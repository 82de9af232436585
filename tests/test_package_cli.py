"""The command line, run as users run it: `python -m pyorvex ...` in a child process."""

import os
import re
import struct
import subprocess
import sys

import pytest
from support.child_env import child_env
from support.trajectories import arrays, trajectory

import pyorvex
from pyorvex import make_trajectory
from pyorvex.defdatastruct import Point1d, Trajectory1d


def run(*args, cwd=None, block_matplotlib=None):
    """Run the command line; with block_matplotlib (a directory), `import matplotlib` fails."""
    blocker = [] if block_matplotlib is None else [block_matplotlib]
    if blocker:
        block_matplotlib.mkdir(exist_ok=True)
        (block_matplotlib / "matplotlib.py").write_text(
            "raise ImportError('matplotlib is blocked here')\n"
        )
    return subprocess.run(
        [sys.executable, "-m", "pyorvex", *map(str, args)],
        cwd=cwd,
        env=child_env(*blocker),
        capture_output=True,
        text=True,
        timeout=300,
    )


def assert_fails(proc, code, *fragments):
    assert proc.returncode == code, proc.stderr
    assert "Traceback" not in proc.stderr and proc.stdout == ""
    assert proc.stderr.startswith("pyorvex: error:" if code == 1 else "usage: pyorvex")
    for fragment in fragments:
        assert str(fragment) in proc.stderr


def png_size(path):
    """(width, height) from a PNG's signature and IHDR chunk; fails for anything else."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    assert len(data) > 5000, "an image with plotted curves is not this small"
    return struct.unpack(">II", data[16:24])


OBJECTS = {
    "cubic": make_trajectory(
        [0.1] * 4 + [0.7, 1.9] + [2.75] * 4, [1.0, -2.0, 0.25, 3.5, 1e-3, 7.0], 3
    ),
    "speed": make_trajectory([0.0, 0.0, 1.0, 2.5, 2.5], [0.0, 1.5, 0.0], 1, order=1),
    "via": Point1d(0.5, 2.0, 1),
    "../up": make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 1.0], 1),
    # a microsecond on a wall-clock time axis: a few doubles wide
    "clock": make_trajectory([1.7e9] * 4 + [1.7e9 + 1e-6] * 4, [0.0, 1.0, 2.0, 3.0], 3),
}


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    path = tmp_path_factory.mktemp("cli") / "doc.pyorvex"
    for ident, obj in OBJECTS.items():
        obj.savexml(str(path), ident)
    return path


@pytest.mark.parametrize(
    "command, words",
    [
        ([], ["demo", "show", "plot", "--version"]),
        (["demo"], ["--out DIR"]),
        (["show"], ["FILE"]),
        (["plot"], ["FILE", "ID", "--derivatives K", "--output OUT.png"]),
    ],
    ids=["pyorvex", "demo", "show", "plot"],
)
def test_help(command, words):
    proc = run(*command, "--help")
    assert proc.returncode == 0 and proc.stdout.startswith(" ".join(["usage: pyorvex", *command]))
    for word in words:
        assert word in proc.stdout


def test_usage_errors():
    assert_fails(run(), 2, "COMMAND")
    assert_fails(run("frobnicate"), 2, "frobnicate")
    version = run("--version")
    assert version.returncode == 0 and version.stdout.split() == ["pyorvex", pyorvex.__version__]


def test_show_lists_every_object(document):
    for name in (document, document.with_suffix("")):  # without an extension: NAME.pyorvex
        proc = run("show", name)
        assert proc.returncode == 0, proc.stderr
        lines = proc.stdout.splitlines()
        assert lines[0].split() == ["tag", "ID", "degree", "n", "order", "domain"]
        assert set(lines[1]) == {"-", " "}
        rows = [tuple(re.split(r" {2,}", line)) for line in lines[2:-1]]
        expected = [
            (type(o).__name__, i, "-", "-", str(o.order), f"t = {o.t!r}")
            if isinstance(o, Point1d)
            else (
                type(o).__name__,
                i,
                str(o.p),
                str(o.n),
                str(o.order),
                f"[{o.start!r}, {o.stop!r}]",
            )
            for i, o in OBJECTS.items()
        ]
        assert rows == expected
        assert lines[-1] == f"{len(OBJECTS)} objects in {document}"


def bad_inputs(tmp):
    (tmp / "notes.txt").write_text("just some notes\n")
    (tmp / "empty.pyorvex").write_bytes(b"")
    (tmp / "other.xml").write_text("<svg><g/></svg>\n")
    (tmp / "folder.pyorvex").mkdir()
    return {
        "missing.pyorvex": "no such file",
        "notes.txt": "not well-formed XML",
        "empty.pyorvex": "not well-formed",
        "other.xml": "root element is <svg>",
        "folder.pyorvex": "is a directory",
    }


@pytest.mark.parametrize("command", [["show"], ["plot", "-o", "x.png"]], ids=["show", "plot"])
def test_clear_errors_for_files_that_are_not_documents(command, tmp_path):
    for name, fragment in bad_inputs(tmp_path).items():
        args = [*command, tmp_path / name] + (["cubic"] if command[0] == "plot" else [])
        assert_fails(run(*args, cwd=tmp_path), 1, fragment, tmp_path / name)
    assert not (tmp_path / "x.png").exists()


def test_plot_draws_each_derivative_in_its_own_panel(document, tmp_path):
    sizes = []
    for k in (0, 1, 3):
        out = tmp_path / f"k{k}.png"
        proc = run("plot", document, "cubic", "--derivatives", k, "-o", out)
        assert proc.returncode == 0 and proc.stdout.strip() == f"wrote {out}", proc.stderr
        sizes.append(png_size(out))
    widths, heights = zip(*sizes)
    assert len(set(widths)) == 1 and widths[0] >= 400
    assert heights[0] >= 200 and heights[0] < heights[1] < heights[2]


def test_plot_default_output_beside_the_document(document):
    for ident, image in [
        ("speed", "doc-speed.png"),
        ("../up", "doc-_up.png"),
        ("clock", "doc-clock.png"),
    ]:
        proc = run("plot", document, ident)
        assert proc.returncode == 0, proc.stderr
        png_size(document.parent / image)
    assert not (document.parent.parent / "up.png").exists()


@pytest.mark.parametrize(
    "args, code, fragments",
    [
        (["nosuch"], 1, ["no trajectory with ID 'nosuch'", "'cubic', 'speed'"]),
        (["via"], 1, ["no trajectory with ID 'via'", "Point1d"]),
        (["cubic", "-k", "-1"], 2, ["must be non-negative"]),
        (["cubic", "-k", "two"], 2, ["not an integer"]),
        (["cubic", "-o", "no/such/dir/out.png"], 1, ["cannot write no/such/dir/out.png"]),
    ],
    ids=["unknown ID", "ID of a point", "negative K", "K not a number", "unwritable output"],
)
def test_plot_errors(document, tmp_path, args, code, fragments):
    assert_fails(run("plot", document, *args, cwd=tmp_path), code, *fragments)


def test_damaged_documents(tmp_path):
    path = tmp_path / "damaged.pyorvex"
    path.write_text(
        '<PyORVEXObjectList><Trajectory1d ID="short" p="1" n="3" owner="True" order="0">'
        "<cpts>0 1 2 3</cpts><knots>0 0 1</knots></Trajectory1d>"
        '<Point1d ID="odd&#10;id" t="1.0" val="2.0" order="0"/></PyORVEXObjectList>'
    )
    assert_fails(run("plot", path, "short", cwd=tmp_path), 1, "cannot load trajectory 'short' from")
    show = run("show", path)
    assert show.returncode == 0 and show.stdout.splitlines()[3].split()[:2] == [
        "Point1d",
        "odd\\nid",
    ]


def test_show_reads_the_domain_from_the_knots(tmp_path):
    # start and stop are not what the loader reads; a hand edit may have left them stale
    path = tmp_path / "edited.pyorvex"
    path.write_text(
        '<PyORVEXObjectList><Trajectory1d ID="a" p="1" n="1" owner="True" order="0" '
        'start="5.0" stop="7.0"><cpts>0 1</cpts><knots>0 0 2.5e-1 1e+20</knots>'
        "</Trajectory1d></PyORVEXObjectList>"
    )
    proc = run("show", path)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines()[2].endswith("[0.0, 1e+20]")


def test_plot_draws_elements_saved_from_a_subclass(tmp_path):
    class Profile(Trajectory1d):
        pass

    path = tmp_path / "sub.pyorvex"
    move = OBJECTS["cubic"]
    sub = trajectory(*arrays(move), move.p, cls=Profile)
    sub.savexml(str(path), "it's")  # an ID the loader's own lookup could not take
    Point1d(0.5, 1.0, 0).savexml(str(path), "p")
    show = run("show", path)
    assert [line.split()[:2] for line in show.stdout.splitlines()[2:-1]] == [
        ["Profile", "it's"],
        ["Point1d", "p"],
    ]
    proc = run("plot", path, "it's", "-o", tmp_path / "sub")  # no extension: PNG, and said so
    assert proc.returncode == 0 and proc.stdout.strip() == f"wrote {tmp_path / 'sub.png'}", (
        proc.stderr
    )
    png_size(tmp_path / "sub.png")


def test_every_failure_is_one_line_naming_the_problem(document, tmp_path):
    from matplotlib.figure import Figure

    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "down.pyorvex").write_text(
        '<PyORVEXObjectList><Trajectory1d ID="a" p="1" n="1" owner="True" order="0">'
        "<cpts>0 1</cpts><knots>0 1 0.5 1</knots></Trajectory1d></PyORVEXObjectList>"
    )
    formats = ", ".join(sorted(Figure().canvas.get_supported_filetypes()))
    for args, fragments in [
        (
            ["plot", document, "cubic", "-o", "out.unknownext"],
            ["cannot write out.unknownext", "format 'unknownext'", formats],
        ),
        (["plot", "down.pyorvex", "a"], ["cannot load trajectory 'a'", "must be non-decreasing"]),
        (["show", "fifo"], ["fifo is not a regular file"]),
        (["plot", "fifo", "a"], ["fifo is not a regular file"]),
        (["show", "."], [". is a directory"]),
        (["plot", document, "cubic", "-o", "."], ["cannot write .", "Is a directory"]),
    ]:
        assert_fails(run(*args, cwd=tmp_path), 1, *fragments)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["down.pyorvex", "fifo"]


def test_plot_without_matplotlib_names_the_extra(document, tmp_path):
    proc = run(
        "plot", document, "cubic", "-o", tmp_path / "k.png", block_matplotlib=tmp_path / "block"
    )
    assert_fails(proc, 1, "matplotlib", "pip install 'pyorvex[plot]'")
    assert not (tmp_path / "k.png").exists()


@pytest.mark.parametrize(
    "with_matplotlib", [True, False], ids=["with matplotlib", "without matplotlib"]
)
def test_demo(tmp_path, with_matplotlib):
    from pyorvex.demo import minimum_jerk

    out = tmp_path / "out"
    proc = run(
        "demo",
        "--out",
        out,
        cwd=tmp_path,
        block_matplotlib=None if with_matplotlib else tmp_path / "block",
    )
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr
    assert str(out / "demo.pyorvex") in proc.stdout
    move, via = (
        Trajectory1d.loadxml(str(out / "demo.pyorvex"), "move"),
        Point1d.loadxml(str(out / "demo.pyorvex"), "via"),
    )
    assert move(via.t) == pytest.approx(via.val, abs=1e-12)
    plain = minimum_jerk(0.0, 1.0, 0.0, 2.0)
    assert move(via.t) != pytest.approx(plain(via.t))
    for nu in range(3):  # bent in the middle; ends and their velocity and acceleration unchanged
        assert move([plain.start, plain.stop], nu) == pytest.approx(
            plain([plain.start, plain.stop], nu), abs=1e-12
        )
    if with_matplotlib:
        png_size(out / "demo.png")
    else:
        assert "pip install 'pyorvex[plot]'" in proc.stdout and not (out / "demo.png").exists()
    show = run("show", out / "demo.pyorvex")
    assert [line.split()[:2] for line in show.stdout.splitlines()[2:-1]] == [
        ["Trajectory1d", "move"],
        ["Point1d", "via"],
    ]


def test_demo_reports_an_output_directory_it_cannot_create(tmp_path):
    (tmp_path / "file").write_text("")
    assert_fails(
        run("demo", "--out", tmp_path / "file" / "out"), 1, "cannot write the demo's files"
    )
