"""`pyorvex limits`, run as users run it: exact peaks of a saved trajectory, checked against
limits, with the factor retiming would stretch time by."""

import pytest
from test_package_cli import assert_fails, png_size, run

import pyorvex
from pyorvex import make_trajectory

PROFILE = pyorvex.interpolate([0.0, 1.0, 2.5, 3.0], [0.0, 1.0, -1.0, 2.0])
OBJECTS = {
    "profile": PROFILE,
    "snap": make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 1.0], 1, order=4),
    "acc": make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 1.0], 1, order=2),
    "rest": make_trajectory([0.0, 0.0, 1.0, 1.0], [2.0, 2.0], 1),
}


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    path = tmp_path_factory.mktemp("limits") / "doc.pyorvex"
    for ident, obj in OBJECTS.items():
        obj.savexml(str(path), ident)
    return path


NO_SCALE = "k: none (no time scale makes a limit bind"


@pytest.mark.parametrize(
    "ident, limits, code, verdicts, k_line",
    [
        ("profile", {}, 0, {}, None),
        ("profile", {"velocity": 11.0, "acceleration": 40.0}, 0, {"velocity": "yes"}, "k = "),
        (
            "profile",
            {"velocity": 5.0, "jerk": 1000.0},
            3,
            {"velocity": "NO", "jerk": "yes"},
            "k = ",
        ),
        ("profile", {"velocity": 1e-308}, 3, {"velocity": "NO"}, "k: none (the time scale"),
        ("profile", {"jerk": float("inf")}, 0, {"jerk": "yes"}, NO_SCALE),
        ("rest", {"velocity": 1.0}, 0, {"velocity": "yes"}, NO_SCALE),
    ],
)
def test_limits_prints_the_peaks_and_whether_each_limit_holds(
    document, ident, limits, code, verdicts, k_line
):
    options = [f"--{name}={value!r}" for name, value in limits.items()]
    proc = run("limits", document, ident, *options)
    assert proc.returncode == code, proc.stderr
    lines = proc.stdout.splitlines()
    for q, name in enumerate(("velocity", "acceleration", "jerk"), 1):
        time, value = pyorvex.peak(OBJECTS[ident], q)
        row = next(line.split() for line in lines if line.startswith(name))
        limit = repr(limits[name]) if name in limits else "-"
        assert row[:4] == [name, repr(value), repr(time), limit]
        assert row[4] == verdicts.get(name, "yes" if name in limits else "-")
    k_lines = [line for line in lines if line.startswith("k")]
    if k_line is None:
        assert k_lines == []
    else:
        assert len(k_lines) == 1 and k_lines[0].startswith(k_line)
    if k_line == "k = ":
        assert k_lines[0].startswith(f"k = {pyorvex.time_scale(OBJECTS[ident], **limits)!r} (")
    optimal = [line for line in lines if line.startswith("time-optimal")]
    if {"velocity", "acceleration"} <= limits.keys():
        m = pyorvex.retime_optimal(OBJECTS[ident], limits["velocity"], limits["acceleration"])
        assert len(optimal) == 1
        assert optimal[0].startswith(f"time-optimal along the same path: {m.stop - m.start!r} s")
    else:
        assert optimal == []


@pytest.mark.parametrize(
    "ident, options, code, message",
    [
        ("profile", ["--velocity=-1"], 2, "'velocity' must be positive, got -1.0"),
        ("profile", ["--acceleration=0"], 2, "'acceleration' must be positive, got 0.0"),
        ("profile", ["--jerk=nan"], 2, "'jerk' must be positive, got nan"),
        ("snap", [], 1, "cannot check trajectory 'snap': it describes the snap (order 4): it has"),
        ("acc", ["--velocity=1"], 1, "a velocity limit does not apply to the trajectory"),
        ("absent", [], 1, "absent"),
    ],
)
def test_limits_refuses(document, ident, options, code, message):
    assert_fails(run("limits", document, ident, *options), code, message)


@pytest.mark.parametrize("limits", [{"acceleration": 100.0}, {"velocity": 0.3, "jerk": 7.0}])
def test_limits_agrees_with_retime_on_its_result(tmp_path, limits):
    path = tmp_path / "retimed.pyorvex"
    pyorvex.retime(PROFILE, **limits).savexml(str(path), "slow")
    proc = run("limits", path, "slow", *[f"--{n}={v!r}" for n, v in limits.items()])
    assert proc.returncode == 0 and "NO" not in proc.stdout, proc.stdout


ARM = make_trajectory(
    [0, 0, 0, 0, 1, 2, 2, 2, 2], [[0, 1], [0.2, 2], [1.2, 3], [1.8, 2.5], [2, 0]], 3
)


@pytest.mark.parametrize("command", ["show", "plot", "limits"])
def test_multi_axis_motions(tmp_path, command):
    path = tmp_path / "arm.pyorvex"
    ARM.savexml(str(path), "arm")
    ARM.axis(1).savexml(str(path), "y")
    if command == "show":
        lines = run("show", path).stdout.splitlines()
        assert lines[0].split() == ["tag", "ID", "degree", "n", "dof", "order", "domain"]
        assert [line.split()[:5] for line in lines[2:4]] == [
            ["TrajectoryNd", "arm", "3", "4", "2"],
            ["Trajectory1d", "y", "3", "4", "1"],
        ]
    elif command == "plot":
        proc = run("plot", path, "arm", "-k", "1", "-o", tmp_path / "arm.png")
        assert proc.returncode == 0, proc.stderr
        png_size(tmp_path / "arm.png")
    else:
        proc = run("limits", path, "arm", "--velocity=2.0")
        assert proc.returncode == 3, proc.stderr
        rows = [line.split() for line in proc.stdout.splitlines() if line.startswith("velocity")]
        for axis, row in enumerate(rows):
            time, value = pyorvex.peak(ARM.axis(axis), 1)
            assert row[:4] == ["velocity", str(axis), repr(value), repr(time)]
        assert len(rows) == ARM.dof
