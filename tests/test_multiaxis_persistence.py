"""TrajectoryNd in the XML documents of Trajectory1d and Point1d: saved and loaded bit for bit,
and refused (on load, and on save with the document left as it was) when it is not a motion."""

import numpy as np
import pytest
from test_multiaxis import motion

from pyorvex import TrajectoryNd, make_trajectory
from pyorvex.defdatastruct import CorruptedFileError, Point1d, Trajectory1d


def same_bits(a, b):
    assert (type(a), a.p, a.n, a.order) == (type(b), b.p, b.n, b.order)
    assert getattr(a, "dof", 1) == getattr(b, "dof", 1)
    for get in (type(a).get_knotvector_asarray, type(a).get_cpts_asarray):
        assert get(a).tobytes() == get(b).tobytes()


@pytest.mark.parametrize("p, dof, clamped", [(3, 6, True), (0, 1, True), (4, 2, False)])
def test_round_trip_beside_other_objects(tmp_path, p, dof, clamped):
    m = motion(p, dof, seed=p, clamped=clamped)[0].derivative(0)
    m.get_cpts_asarray()[0] = [1e-300, -0.1, 1 / 3, 5e-324, 2.0**70, -0.0][:dof]
    axis, via = m.axis(0), Point1d(0.5, 1.0 / 3.0, 1)
    name = str(tmp_path / "doc")  # ".pyorvex" added, as for the other types
    for ident, obj in (("m", m.derivative()), ("a", axis), ("v", via), ("m", m)):
        obj.savexml(name, ident)  # the second save of "m" updates its element in place
    m.savexml(name, "twin")
    text = (tmp_path / "doc.pyorvex").read_text()
    assert text.count("<TrajectoryNd ") == 2 and f'dof="{dof}"' in text
    for ident in ("m", "twin"):
        same_bits(TrajectoryNd.loadxml(name, ident), m)
    same_bits(Trajectory1d.loadxml(name, "a"), axis)
    assert Point1d.loadxml(name, "v") == via
    with pytest.raises(ValueError, match="^no match for ID: a$"):
        TrajectoryNd.loadxml(name, "a")


def document(path, p="1", n="2", dof="2", cpts="0 1 2 3 4 5", knots="0 0 1 2 2", copies=1):
    element = (
        f'<TrajectoryNd ID="m" p="{p}" n="{n}" dof="{dof}" order="0">'
        f"<cpts>{cpts}</cpts><knots>{knots}</knots></TrajectoryNd>"
    )
    path.write_text(f"<PyORVEXObjectList>{element * copies}</PyORVEXObjectList>")


@pytest.mark.parametrize(
    "changes, message",
    [
        ({"knots": "0 0 1 2"}, "'knots' holds 4 numbers but 5 are needed"),
        ({"knots": "0 0 1 1 2 2"}, "'knots' holds 6 numbers but p and n call for 5"),
        ({"cpts": "0 1 2 3 4"}, "'cpts' holds 5 numbers but 6 are needed"),
        ({"dof": "3"}, "'cpts' holds 6 numbers but 9 are needed"),
        ({"dof": "1"}, "'cpts' holds 6 numbers but n and dof call for 3"),
        ({"dof": "0", "cpts": ""}, "'dof' of the uploaded trajectory must be at least 1, got 0"),
        ({"n": "-1"}, "'n' of the uploaded trajectory must not be negative, got -1"),
        ({"cpts": "0 1 2 x 4 5"}, "could not convert string to float: 'x'"),
        ({"knots": "0 0 inf 2 2"}, "'knots' must be finite: knots[2] = inf"),
        ({"knots": "0 0 3 2 2"}, "'knots' must be non-decreasing: knots[3] = 2.0 < knots[2] = 3.0"),
        ({"knots": "2 2 2 2 2"}, "'knots' must span a non-empty domain: knots[0] = knots[4] = 2.0"),
    ],
)
def test_load_refuses_what_is_not_a_motion(tmp_path, changes, message):
    document(tmp_path / "e.pyorvex", **changes)
    with pytest.raises(ValueError) as err:
        TrajectoryNd.loadxml(str(tmp_path / "e.pyorvex"), "m")
    assert str(err.value) == message


def spoil(index, value):
    def change(m):
        m.get_knotvector_asarray()[index] = value
        return m

    return change


@pytest.mark.parametrize(
    "change, error, message",
    [
        (spoil(3, np.nan), ValueError, r"^'knots' must be finite: knots\[3\] = nan$"),
        (spoil(4, 0.5), ValueError, r"^'knots' must be non-decreasing: knots\[5\] = "),
        (spoil(slice(None), 1.0), ValueError, "^'knots' must span a non-empty domain"),
        (lambda m: TrajectoryNd(), ValueError, "^the motion is empty"),
        ("root", CorruptedFileError, "^corrupt root node in the uploaded file: other$"),
        ("twice", CorruptedFileError, "^multiple matches in the uploaded file: m$"),
    ],
)
def test_save_refusals_leave_the_document_as_it_was(tmp_path, change, error, message):
    path = tmp_path / "kept.pyorvex"
    make_trajectory([0, 0, 1, 1], [0.0, 1.0], 1).savexml(str(path), "m")
    m = motion(3, 2)[0]
    if change == "root":
        path.write_text(path.read_text().replace("PyORVEXObjectList", "other"))
    elif change == "twice":
        document(path, copies=2)
    else:
        m = change(m)
    before = path.read_bytes()
    with pytest.raises(error, match=message):
        m.savexml(str(path), "m")
    assert path.read_bytes() == before
