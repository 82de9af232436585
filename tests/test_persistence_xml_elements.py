"""The element forms of points and trajectories in the document, and their loaders."""

import tracemalloc

import pytest
from support import method_table
from support.documents import (
    elements,
    entries,
    file_bytes,
    same_bits,
    trajectory_element,
    write_document,
)
from support.trajectories import cpts_of, knots_of, trajectory, varied

from pyorvex.defdatastruct import Point1d, PyORVEXObject, Trajectory1d


class MyTraj(Trajectory1d):
    pass


class MyPoint(Point1d):
    pass


def loaded(path, ID="a"):
    return Trajectory1d.loadxml(str(path), ID)


# --- trajectory element --------------------------------------------------------------------------


def test_trajectory_element_form(tmp_path):
    path = tmp_path / "t.pyorvex"
    t = varied(7, p=3, seed=1, order=2)
    t.savexml(str(path), "a")
    (el,) = elements(path)
    assert el.tag == "Trajectory1d" and el.text.strip() == ""
    assert list(el.attrib.items()) == [
        ("ID", "a"),
        ("p", "3"),
        ("n", "6"),
        ("owner", "True"),
        ("order", "2"),
        ("start", "0.0"),
        ("stop", "10.0"),
    ]
    assert [(c.tag, dict(c.attrib), len(c)) for c in el] == [("cpts", {}, 0), ("knots", {}, 0)]
    cpts_text, knots_text = el[0].text, el[1].text
    assert len(cpts_text.split(" ")) == 7 and len(knots_text.split(" ")) == 11
    assert cpts_text == " ".join(map(repr, cpts_of(t).tolist()))
    assert knots_text == " ".join(map(repr, knots_of(t).tolist()))


def test_knot_texts_and_bit_exact_round_trip(tmp_path):
    knots = [0.0, 0.0, 1e-05, 2.0, 1e16, 1e16, 1e16, 1e16, 1e16, 1e16]
    cpts = [-0.0, 5e-324, 1e-05, 1e16, -2.5e-07, 3.0, float("inf"), float("-inf"), float("nan")]
    t = trajectory(knots + [1e16] * 4, cpts, 4)
    path = tmp_path / "k.pyorvex"
    t.savexml(str(path), "a")
    (el,) = elements(path)
    assert el[1].text.split(" ")[:4] == ["0.0", "0.0", "1e-05", "2.0"]
    assert el[0].text == "-0.0 5e-324 1e-05 1e+16 -2.5e-07 3.0 inf -inf nan"
    back = loaded(path)
    assert same_bits(knots_of(back), knots_of(t)) and same_bits(cpts_of(back), cpts_of(t))
    assert (back.p, back.n, back.order) == (4, 8, 0)
    assert type(back) is Trajectory1d


@pytest.mark.parametrize(
    "saved, written, loaded_owner", [(True, "True", "True"), (False, "False", "True")]
)
def test_owner_flag(tmp_path, saved, written, loaded_owner):
    path = tmp_path / "o.pyorvex"
    varied(5, p=2, owner=saved).savexml(str(path), "a")
    assert elements(path)[0].get("owner") == written
    # Any non-empty text is true, "False" included.
    assert loaded(path)._getAttrib()["owner"] == loaded_owner


@pytest.mark.parametrize("owner", ["", None])
def test_empty_or_missing_owner_loads_non_owning_yet_frees_its_buffers(tmp_path, owner):
    path = tmp_path / "f.pyorvex"
    n = 20_000
    write_document(
        path,
        trajectory_element(
            n=str(n - 1), owner=owner, cpts=" ".join(["1.5"] * n), knots=" ".join(["0.5"] * (n + 1))
        ),
    )
    assert loaded(path)._getAttrib()["owner"] == "False"
    tracemalloc.start()
    try:
        base = tracemalloc.get_traced_memory()[0]
        for _ in range(5):
            t = loaded(path)
            assert t.n == n - 1
            del t
        assert tracemalloc.get_traced_memory()[0] - base < 8 * n
    finally:
        tracemalloc.stop()


def test_update_rewrites_the_element_in_place(tmp_path):
    path = tmp_path / "u.pyorvex"
    varied(5, p=2, seed=1).savexml(str(path), "a")
    varied(4, p=1, seed=2).savexml(str(path), "b")
    tree_text = (
        file_bytes(path).decode().replace('<Trajectory1d ID="a"', '<Trajectory1d mine="yes" ID="a"')
    )
    path.write_text(tree_text)
    changed = trajectory([-1, -1, -1, -1, 0.25, 4, 4, 4, 4], [5, 6, 7, 8, 9], 3, order=3)
    changed.savexml(str(path), "a")
    first, second = elements(path)
    assert list(first.attrib.items()) == [
        ("mine", "yes"),
        ("ID", "a"),
        ("p", "3"),
        ("n", "4"),
        ("owner", "True"),
        ("order", "3"),
        ("start", "-1.0"),
        ("stop", "4.0"),
    ]
    assert first[0].text == "5.0 6.0 7.0 8.0 9.0"
    assert first[1].text == "-1.0 -1.0 -1.0 -1.0 0.25 4.0 4.0 4.0 4.0"
    assert second.get("ID") == "b" and loaded(path, "b") == varied(4, p=1, seed=2)
    assert loaded(path) == changed


def test_subclass_element_is_not_found_by_the_loader(tmp_path):
    path = tmp_path / "s.pyorvex"
    varied(5, cls=MyTraj).savexml(str(path), "a")
    assert elements(path)[0].tag == "MyTraj"
    with pytest.raises(ValueError) as err:
        loaded(path)
    assert str(err.value) == "no match for ID: a"


def test_first_of_several_matches_is_loaded_nan_control_points_included(tmp_path):
    path = tmp_path / "m.pyorvex"
    write_document(
        path,
        trajectory_element("a", n="1", cpts="nan 2.0", knots="0 0 1")
        + trajectory_element("a", cpts="7.0"),
    )
    t = loaded(path)
    assert same_bits(cpts_of(t), [float("nan"), 2.0]) and list(knots_of(t)) == [0.0, 0.0, 1.0]


def test_children_come_from_the_first_match_itself(tmp_path):
    # A first match without children must not borrow the numbers of a later element.
    path = tmp_path / "c.pyorvex"
    write_document(
        path, trajectory_element("a", cpts=None, knots=None) + trajectory_element("a", cpts="7.0")
    )
    with pytest.raises(IndexError):
        loaded(path)


def test_none_id_looks_for_the_text_none(tmp_path):
    path = tmp_path / "n.pyorvex"
    write_document(path, trajectory_element("None", cpts="4.0"))
    assert list(cpts_of(Trajectory1d.loadxml(str(path), None))) == [4.0]


def test_trajectory_loader_is_static_and_checks_arguments(tmp_path):
    assert isinstance(Trajectory1d.__dict__["loadxml"], staticmethod)
    path = tmp_path / "a.pyorvex"
    write_document(path, trajectory_element())
    assert list(cpts_of(varied(5).loadxml(fname=str(path), ID="a"))) == [1.0]


LOADXML_ARGUMENT_ERRORS = [
    ((1, "a"), {}, TypeError, "Argument 'fname' has incorrect type (expected str, got int)"),
    (("a", 1.5), {}, TypeError, "Argument 'ID' has incorrect type (expected str, got float)"),
    (("a",), {}, TypeError, "loadxml() takes exactly 2 positional arguments (1 given)"),
    (
        (),
        {"fname": "a", "ID": "b", "x": 1},
        TypeError,
        "loadxml() got an unexpected keyword argument 'x'",
    ),
    (("a", "b"), {"ID": "c"}, TypeError, "loadxml() got multiple values for keyword argument 'ID'"),
    ((None, "a"), {}, TypeError, "expected str, bytes or os.PathLike object, not NoneType"),
]


@pytest.mark.parametrize("cls", [Trajectory1d, Point1d])
@pytest.mark.parametrize("args, kwargs, error, message", LOADXML_ARGUMENT_ERRORS)
def test_loader_argument_errors(cls, args, kwargs, error, message):
    with pytest.raises(error) as err:
        cls.loadxml(*args, **kwargs)
    assert str(err.value) == message


@pytest.mark.parametrize("cls", [Trajectory1d, Point1d])
def test_loader_file_name_rule_and_missing_file(tmp_path, monkeypatch, cls):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(FileNotFoundError) as err:
        cls.loadxml("nothing", "a")
    assert err.value.filename == "nothing.pyorvex"
    (tmp_path / "bad.pyorvex").write_text("<PyORVEXObjectList>")
    with pytest.raises(SyntaxError):
        cls.loadxml("bad", "a")
    (tmp_path / "other.pyorvex").write_text(
        "<Other><Trajectory1d ID='a'/><Point1d ID='a'/></Other>"
    )
    with pytest.raises(ValueError, match="^no match for ID: a$"):
        cls.loadxml("other", "a")


LOAD_ERRORS = [
    (
        dict(p=None),
        TypeError,
        "int() argument must be a string, a bytes-like object or a real number, not 'NoneType'",
    ),
    (dict(p="x", n="y"), ValueError, "invalid literal for int() with base 10: 'x'"),
    (dict(p="1.5"), ValueError, "invalid literal for int() with base 10: '1.5'"),
    (dict(p="99999999999"), OverflowError, None),
    (dict(p="-1", n="-1", order="-1"), ValueError, None),
    (dict(n="-1", order="-1"), ValueError, None),
    (dict(n="-2", p="3", knots="0 0 0 0"), ValueError, None),
    (dict(n="z", order="-1"), ValueError, "invalid literal for int() with base 10: 'z'"),
    (dict(order="-1"), OverflowError, "can't convert negative value to unsigned int"),
    (dict(order="4294967296"), OverflowError, None),
    (dict(knots=None, cpts=None), IndexError, "list index out of range"),
    (dict(cpts=None), IndexError, "list index out of range"),
    (dict(knots="", cpts="x"), AttributeError, "'NoneType' object has no attribute 'split'"),
    (dict(cpts=""), AttributeError, "'NoneType' object has no attribute 'split'"),
    (dict(knots="0.0 x", cpts=""), ValueError, "could not convert string to float: 'x'"),
    (dict(knots="0.0  1.0"), ValueError, "could not convert string to float: ''"),
    (dict(knots="0.0"), ValueError, "'knots' holds 1 numbers but 2 are needed"),
    (dict(knots="0.0 y"), ValueError, "could not convert string to float: 'y'"),
    (
        dict(n="2", cpts="1 2", knots="0 0 1 1"),
        ValueError,
        "'cpts' holds 2 numbers but 3 are needed",
    ),
    (
        dict(n="2", p="3", cpts="1 2 3", knots="0 0 1 1"),
        ValueError,
        "'knots' holds 4 numbers but 7 are needed",
    ),
    # More numbers than p and n call for, knots that are not finite or that decrease: the
    # element does not describe one usable trajectory.
    (
        dict(n="1", cpts="1 2 3 4", knots="0 0 1"),
        ValueError,
        "'cpts' holds 4 numbers but p and n call for 2",
    ),
    (dict(knots="0 1 1"), ValueError, "'knots' holds 3 numbers but p and n call for 2"),
    (dict(knots="0.0 nan"), ValueError, "'knots' must be finite: knots[1] = nan"),
    (dict(knots="-inf 1", cpts="nan"), ValueError, "'knots' must be finite: knots[0] = -inf"),
    (
        dict(p="1", n="1", cpts="1 2", knots="0 1 0.5 2"),
        ValueError,
        "'knots' must be non-decreasing: knots[2] = 0.5 < knots[1] = 1.0",
    ),
]


@pytest.mark.parametrize("changes, error, message", LOAD_ERRORS)
def test_trajectory_load_errors(tmp_path, changes, error, message):
    path = tmp_path / "e.pyorvex"
    write_document(path, trajectory_element(**changes))
    with pytest.raises(error) as err:
        loaded(path)
    if message is not None:
        assert str(err.value) == message


def test_negative_counts_are_named(tmp_path):
    path = tmp_path / "e.pyorvex"
    write_document(path, trajectory_element(p="-1", n="-1"))
    with pytest.raises(ValueError, match="^'p' of the uploaded trajectory must not be negative"):
        loaded(path)
    write_document(path, trajectory_element(n="-1"))
    with pytest.raises(ValueError, match="^'n' of the uploaded trajectory must not be negative"):
        loaded(path)


# --- point element -------------------------------------------------------------------------------


def test_point_element_form_and_round_trip(tmp_path):
    path = tmp_path / "p.pyorvex"
    Point1d(1.5, -2.0, 1).savexml(str(path), "pt")
    (el,) = elements(path)
    assert el.tag == "Point1d" and len(el) == 0 and el.text is None and el.tail.strip() == ""
    assert list(el.attrib.items()) == [("ID", "pt"), ("t", "1.5"), ("val", "-2.0"), ("order", "1")]
    back = Point1d.loadxml(str(path), "pt")
    assert type(back) is Point1d and (back.t, back.val, back.order) == (1.5, -2.0, 1)


@pytest.mark.parametrize(
    "t, val, t_text, val_text",
    [(1e-05, 3, "1e-05", "3.0"), (-0.0, 5e-324, "-0.0", "5e-324"), (1e16, 0.1, "1e+16", "0.1")],
)
def test_point_float_texts(tmp_path, t, val, t_text, val_text):
    path = tmp_path / "p.pyorvex"
    Point1d(t, val, 0).savexml(str(path), "a")
    (el,) = elements(path)
    assert (el.get("t"), el.get("val")) == (t_text, val_text)
    back = Point1d.loadxml(str(path), "a")
    assert same_bits([back.t, back.val], [t, val])


def test_point_update_changes_only_the_attributes(tmp_path):
    path = tmp_path / "p.pyorvex"
    Point1d(1.0, 2.0, 0).savexml(str(path), "a")
    Point1d(9.0, 9.0, 9).savexml(str(path), "b")
    text = file_bytes(path).decode().replace('<Point1d ID="a"', '<Point1d x="1" ID="a"')
    path.write_text(text)
    Point1d(1.0, 7.5, 0).savexml(str(path), "a")
    after = file_bytes(path).decode()
    assert after == text.replace('val="2.0"', 'val="7.5"')


def test_point_and_trajectory_share_an_id(tmp_path):
    path = tmp_path / "s.pyorvex"
    Point1d(1.0, 2.0, 0).savexml(str(path), "same")
    varied(5).savexml(str(path), "same")
    Point1d(3.0, 4.0, 1).savexml(str(path), "same")
    assert [(e.tag, e.get("ID")) for e in elements(path)] == [
        ("Point1d", "same"),
        ("Trajectory1d", "same"),
    ]
    assert Point1d.loadxml(str(path), "same").t == 3.0
    assert loaded(path, "same") == varied(5)


def test_point_subclass_none_id_and_duplicates(tmp_path):
    path = tmp_path / "d.pyorvex"
    MyPoint(1.0, 1.0, 0).savexml(str(path), "a")
    assert elements(path)[0].tag == "MyPoint"
    with pytest.raises(ValueError, match="^no match for ID: a$"):
        Point1d.loadxml(str(path), "a")
    Point1d(2.0, 2.0, 0).savexml(str(path), None)
    assert Point1d.loadxml(str(path), "None").t == 2.0
    write_document(
        path, '<Point1d ID="d" t="1" val="1" order="0"/><Point1d ID="d" t="2" val="2" order="0"/>'
    )
    assert Point1d.loadxml(str(path), "d").t == 1.0
    before = file_bytes(path)
    with pytest.raises(Exception, match="^multiple matches in the uploaded file: d$"):
        Point1d(3.0, 3.0, 0).savexml(str(path), "d")
    assert file_bytes(path) == before


POINT_LOAD_ERRORS = [
    ('t="1" val="2" order="-1"', OverflowError, "can't convert negative value to unsigned int"),
    (
        'val="2" order="1"',
        TypeError,
        "float() argument must be a string or a real number, not 'NoneType'",
    ),
    ('t="x" val="y" order="z"', ValueError, "could not convert string to float: 'x'"),
    ('t="1" val="y" order="z"', ValueError, "could not convert string to float: 'y'"),
    ('t="1" val="2" order="1.0"', ValueError, "invalid literal for int() with base 10: '1.0'"),
    (
        't="1" val="2"',
        TypeError,
        "int() argument must be a string, a bytes-like object or a real number, not 'NoneType'",
    ),
]


@pytest.mark.parametrize("attrs, error, message", POINT_LOAD_ERRORS)
def test_point_load_errors(tmp_path, attrs, error, message):
    path = tmp_path / "e.pyorvex"
    write_document(path, f'<Point1d ID="a" {attrs}/>')
    with pytest.raises(error) as err:
        Point1d.loadxml(str(path), "a")
    assert str(err.value) == message


def test_point_loader_takes_what_float_takes(tmp_path):
    path = tmp_path / "w.pyorvex"
    write_document(path, '<Point1d ID="a" t=" 1_0.5 " val="-inf" order=" 7 "/>')
    p = Point1d.loadxml(str(path), "a")
    assert (p.t, p.val, p.order) == (10.5, float("-inf"), 7)
    assert isinstance(Point1d.__dict__["loadxml"], staticmethod)


def attrib_override(base, result):
    return type("Attrib" + base.__name__, (base,), {"_getAttrib": lambda self: result})


def make(cls):
    return cls(1.0, 2.0, 0) if issubclass(cls, Point1d) else varied(5, cls=cls)


@pytest.mark.parametrize("base", [Trajectory1d, Point1d])
@pytest.mark.parametrize(
    "result, new_error, update_error",
    [
        (
            None,
            (TypeError, "'NoneType' object is not a mapping"),
            (AttributeError, "'NoneType' object has no attribute 'keys'"),
        ),
        (
            [("p", "1")],
            (TypeError, "Expected dict, got list"),
            (TypeError, "Expected dict, got list"),
        ),
        ({2: "x"}, None, (TypeError, "Expected unicode, got int")),
        ({"t": 1.5}, None, (TypeError, None)),
    ],
)
def test_getattrib_override_errors(tmp_path, base, result, new_error, update_error):
    cls = attrib_override(base, result)
    path = tmp_path / "o.pyorvex"
    if new_error is not None:
        with pytest.raises(new_error[0]) as err:
            make(cls).savexml(str(path), "a")
        assert str(err.value) == new_error[1]
        assert entries(tmp_path) == []
    write_document(path, trajectory_element("a", tag=cls.__name__))
    before = file_bytes(path)
    with pytest.raises(update_error[0]) as err:
        make(cls).savexml(str(path), "a")
    if update_error[1] is not None:
        assert str(err.value) == update_error[1]
    assert file_bytes(path) == before


# --- C-level entries, called as a native module would --------------------------------------------


@pytest.mark.parametrize("cls", [Trajectory1d, Point1d])
def test_c_level_loaders(tmp_path, cls):
    path = str(tmp_path / "c.pyorvex")
    obj = varied(5) if cls is Trajectory1d else Point1d(1.0, 2.0, 3)
    obj.savexml(path, "a")
    for name in ("base.c_loadxml", "c_loadxml"):
        load = method_table.entry(name, cls)
        back = load(path, "a")
        assert type(back) is cls and back == obj
        with pytest.raises(ValueError, match="^no match for ID: b$"):
            load(path, "b")
    assert method_table.entry("c_loadxml", PyORVEXObject)(path, "a") is None


class OwnSave(Trajectory1d):
    calls = []

    def savexml(self, fname, ID):
        OwnSave.calls.append((fname, ID))


def test_c_level_savexml_reaches_an_override_unless_told_not_to(tmp_path):
    save = method_table.entry("base.savexml")
    path = str(tmp_path / "o.pyorvex")
    obj = varied(5, cls=OwnSave)
    assert save(obj, path, "a", 0) == 0
    assert OwnSave.calls == [(path, "a")] and entries(tmp_path) == []
    assert save(obj, path, "a", 1) == 0
    assert elements(path)[0].tag == "OwnSave"
