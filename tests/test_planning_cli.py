"""`pyorvex limits`, run as users run it: exact peaks of a saved trajectory, checked against
limits, with the factor retiming would stretch time by."""

import pytest
from test_package_cli import assert_fails, run

import pyorvex
from pyorvex import make_trajectory

PROFILE = pyorvex.interpolate([0.0, 1.0, 2.5, 3.0], [0.0, 1.0, -1.0, 2.0])
OBJECTS = {
    "profile": PROFILE,
    "snap": make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 1.0], 1, order=4),
    "acc": make_trajectory([0.0, 0.0, 1.0, 1.0], [0.0, 1.0], 1, order=2),
}
PEAKS = {
    name: pyorvex.peak(PROFILE, q) for q, name in enumerate(("velocity", "acceleration", "jerk"), 1)
}


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    path = tmp_path_factory.mktemp("limits") / "doc.pyorvex"
    for ident, obj in OBJECTS.items():
        obj.savexml(str(path), ident)
    return path


@pytest.mark.parametrize(
    "limits, code, verdicts",
    [
        ({}, 0, {"velocity": "-", "acceleration": "-", "jerk": "-"}),
        ({"velocity": 11.0, "acceleration": 40.0}, 0, {"velocity": "yes", "acceleration": "yes"}),
        ({"velocity": 5.0, "jerk": 1000.0}, 3, {"velocity": "NO", "jerk": "yes"}),
    ],
)
def test_limits_prints_the_peaks_and_whether_each_limit_holds(document, limits, code, verdicts):
    options = [f"--{name}={value!r}" for name, value in limits.items()]
    proc = run("limits", document, "profile", *options)
    assert proc.returncode == code, proc.stderr
    lines = proc.stdout.splitlines()
    for name, (time, value) in PEAKS.items():
        row = next(line.split() for line in lines if line.startswith(name))
        limit = repr(limits[name]) if name in limits else "-"
        assert row == [name, repr(value), repr(time), limit, verdicts.get(name, "-")]
    k_lines = [line for line in lines if line.startswith("k = ")]
    if limits:
        assert k_lines == [
            f"k = {pyorvex.time_scale(PROFILE, **limits)!r} "
            "(retime stretches time by this factor; every limit then holds)"
        ]
    else:
        assert k_lines == []


@pytest.mark.parametrize(
    "ident, options, message",
    [
        ("profile", ["--velocity=-1"], "invalid limit: 'velocity' must be positive, got -1.0"),
        ("profile", ["--jerk=nan"], "invalid limit: 'jerk' must be positive, got nan"),
        ("snap", [], "cannot check trajectory 'snap': it describes the snap (order 4): it has no"),
        ("acc", ["--velocity=1"], "a velocity limit does not apply to the trajectory"),
        ("absent", [], "absent"),
    ],
)
def test_limits_refuses(document, ident, options, message):
    assert_fails(run("limits", document, ident, *options), 1, message)
