"""Point1d: construction and conversions, properties, from_tuple, copies, equality, text forms,
the attribute dictionary, the pickling refusal, and the exported C factory make_point."""

import copy
import ctypes
import math
import pickle
from collections import namedtuple

import numpy as np
import pytest
from support import method_table
from support.points import Spy
from support.trajectories import cubic

from pyorvex import defdatastruct
from pyorvex.defdatastruct import Point1d

NEGATIVE = "can't convert negative value to unsigned int"
NOT_INTEGER = "an integer is required"
PICKLING = (
    "Pickling of struct members such as self.p must be explicitly requested with @auto_pickle(True)"
)
Triple = namedtuple("Triple", "t val order")


def fields(pt):
    return (pt.t, pt.val, pt.order)


class Doubled(Point1d):
    """A subclass whose t property reports twice the stored value."""

    @property
    def t(self):
        return 2 * Point1d.t.__get__(self)


# --- construction and conversions ----------------------------------------------------------------


@pytest.mark.parametrize(
    "args, expected",
    [
        ((1.5, 2.0, 1), (1.5, 2.0, 1)),
        ((1, 1, 0), (1.0, 1.0, 0)),  # ints become floats
        ((np.float32(0.5), np.int64(3), np.uint8(4)), (0.5, 3.0, 4)),
        ((0.0, -2.5, 1.7), (0.0, -2.5, 1)),  # a float order is truncated
        ((0.0, 0.0, 2.9), (0.0, 0.0, 2)),
        ((0.0, 0.0, -0.5), (0.0, 0.0, 0)),  # truncated toward zero, so not negative
        ((0.0, 0.0, True), (0.0, 0.0, 1)),
        ((0.0, 0.0, 4294967295), (0.0, 0.0, 4294967295)),
    ],
)
def test_constructor_converts(args, expected):
    pt = Point1d(*args)
    assert fields(pt) == expected
    assert type(pt.t) is float and type(pt.val) is float and type(pt.order) is int


@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((0.0, 0.0, -1), OverflowError, NEGATIVE),
        ((0.0, 0.0, -2.0), OverflowError, NEGATIVE),
        ((0.0, 0.0, 4294967296), OverflowError, None),
        ((0.0, 0.0, 2**70), OverflowError, None),
        ((0.0, 0.0, "3"), TypeError, NOT_INTEGER),
        ((0.0, 0.0, None), TypeError, NOT_INTEGER),
        (("1.0", 0.0, 0), TypeError, None),
        ((0.0, None, 0), TypeError, None),
    ],
)
def test_constructor_refuses_and_keeps_values(args, exc, message):
    with pytest.raises(exc) as info:
        Point1d(*args)
    if message is not None:
        assert str(info.value) == message
    pt = Point1d(7.0, 8.0, 9)
    with pytest.raises(exc):
        pt.__init__(*args)
    assert fields(pt) == (7.0, 8.0, 9)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "__init__() takes exactly 3 positional arguments (0 given)"),
        ((1.0, 2.0), {}, "__init__() takes exactly 3 positional arguments (2 given)"),
        ((1.0, 2.0, 3, 4), {}, "__init__() takes exactly 3 positional arguments (4 given)"),
        ((1.0,), {"val": 2.0}, "__init__() takes exactly 3 positional arguments (1 given)"),
        ((1.0, 2.0, 3), {"t": 1.0}, "__init__() got multiple values for keyword argument 't'"),
        ((1.0, 2.0), {"ordre": 3}, "__init__() got an unexpected keyword argument 'ordre'"),
    ],
)
def test_constructor_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Point1d(*args, **kwargs)
    assert str(info.value) == message


def test_keywords_and_allocation_without_constructor():
    assert fields(Point1d(0.5, order=2, val=1.0)) == (0.5, 1.0, 2)

    class Quiet(Point1d):
        def __init__(self):
            pass

    for pt in (Point1d.__new__(Point1d), Quiet()):
        assert fields(pt) == (0.0, 0.0, 0)


# --- properties -----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("t", 3, 3.0),
        ("val", np.float32(0.5), 0.5),
        ("order", 6.99, 6),
    ],
)
def test_property_assignment_converts(name, value, expected):
    pt = Point1d(1.0, 2.0, 3)
    setattr(pt, name, value)
    assert getattr(pt, name) == expected and type(getattr(pt, name)) is type(expected)


@pytest.mark.parametrize(
    "name, value, exc, message",
    [
        ("t", "x", TypeError, None),
        ("val", None, TypeError, None),
        ("order", -1, OverflowError, NEGATIVE),
        ("order", 4294967296, OverflowError, None),
        ("order", "1", TypeError, NOT_INTEGER),
        ("order", [], TypeError, NOT_INTEGER),
    ],
)
def test_property_errors_keep_old_values(name, value, exc, message):
    pt = Point1d(1.0, 2.0, 3)
    with pytest.raises(exc) as info:
        setattr(pt, name, value)
    if message is not None:
        assert str(info.value) == message
    assert fields(pt) == (1.0, 2.0, 3)


@pytest.mark.parametrize("name", ["t", "val", "order"])
def test_property_deletion_refused(name):
    pt = Point1d(1.0, 2.0, 3)
    with pytest.raises(NotImplementedError, match="^__del__$"):
        delattr(pt, name)
    assert fields(pt) == (1.0, 2.0, 3)


# --- from_tuple -----------------------------------------------------------------------------------


def test_from_tuple_builds_plain_points():
    assert isinstance(Point1d.__dict__["from_tuple"], staticmethod)
    assert Point1d.from_tuple((1.0, 2.0, 3)) == Point1d(1.0, 2.0, 3)
    assert fields(Point1d.from_tuple(pnt=(1, 2, 3.9, "ignored", None))) == (1.0, 2.0, 3)
    made = Doubled.from_tuple((1.0, 2.0, 3))
    assert type(made) is Point1d and made.t == 1.0


@pytest.mark.parametrize(
    "pnt, exc, message",
    [
        (None, TypeError, "'NoneType' object is not subscriptable"),
        ([1.0, 2.0, 3], TypeError, "Argument 'pnt' has incorrect type (expected tuple, got list)"),
        (
            Triple(1.0, 2.0, 3),
            TypeError,
            "Argument 'pnt' has incorrect type (expected tuple, got Triple)",
        ),
        ((), IndexError, None),
        ((1.0, 2.0), IndexError, None),
        ((object(),), TypeError, None),  # item 0 is converted before item 1 is looked for
        ((1.0, 2.0, -1), OverflowError, NEGATIVE),
        ((1.0, 2.0, "3"), TypeError, NOT_INTEGER),
        (("a", 2.0, 3), TypeError, None),
    ],
)
def test_from_tuple_refusals(pnt, exc, message):
    with pytest.raises(exc) as info:
        Point1d.from_tuple(pnt)
    if message is not None:
        assert str(info.value) == message


# --- copies ---------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "make_copy",
    [
        lambda pt: pt.copy(),
        copy.copy,
        copy.deepcopy,
        lambda pt: pt.__deepcopy__(memo={}),
    ],
)
def test_copies_are_equal_and_distinct(make_copy):
    pt = Point1d(1.5, float("inf"), 4294967295)
    dup = make_copy(pt)
    assert type(dup) is Point1d and dup == pt and dup is not pt
    dup.val = 0.0
    assert pt.val == float("inf")


@pytest.mark.parametrize("make_copy", [lambda pt: pt.copy(), copy.copy, copy.deepcopy])
def test_copy_of_subclass_is_plain_and_reads_properties(make_copy):
    dup = make_copy(Doubled(1.5, 2.0, 3))
    assert type(dup) is Point1d and fields(dup) == (3.0, 2.0, 3)


def test_copy_override_is_honoured_by_the_copy_module_and_the_table():
    class Own(Point1d):
        def copy(self):
            return Own(self.t + 1.0, self.val, self.order)

    entry = method_table.entry("copy", Point1d)
    pt = Own(1.0, 2.0, 3)
    for dup in (copy.copy(pt), copy.deepcopy(pt), entry(pt, 0)):
        assert type(dup) is Own and fields(dup) == (2.0, 2.0, 3)
    # The built-in copy, called as such, ignores the override.
    for dup in (Point1d.copy(pt), entry(pt, 1)):
        assert type(dup) is Point1d and fields(dup) == (1.0, 2.0, 3)


@pytest.mark.parametrize("result, exc", [(None, None), (3, TypeError), ((1, 2, 3), TypeError)])
def test_copy_override_result_is_checked(result, exc):
    class Odd(Point1d):
        def copy(self):
            return result

    if exc is None:
        assert copy.copy(Odd(1.0, 2.0, 3)) is None
    else:
        with pytest.raises(exc, match=r"^Cannot convert \w+ to pyorvex\.defdatastruct\.Point1d$"):
            copy.copy(Odd(1.0, 2.0, 3))


# --- equality, hashing, ordering ------------------------------------------------------------------


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (Point1d(1.0, 2.0, 3), Point1d(1.0, 2.0, 3), True),
        (Point1d(0.0, -0.0, 0), Point1d(-0.0, 0.0, 0), True),
        (Point1d(1.0, 2.0, 3), Point1d(1.0 + 2**-52, 2.0, 3), False),
        (Point1d(1.0, 2.0, 3), Point1d(1.0, 2.0 - 2**-52, 3), False),
        (Point1d(1.0, 2.0, 3), Point1d(1.0, 2.0, 4), False),
        (Point1d(float("nan"), 2.0, 3), Point1d(float("nan"), 2.0, 3), False),
        (Point1d(1.0, 2.0, 3), (1.0, 2.0, 3), False),
        (Point1d(1.0, 2.0, 3), None, False),
        (Point1d(0.0, 1.0, 0), cubic(), False),
    ],
)
def test_equality(a, b, equal):
    assert (a == b) is equal and (a != b) is (not equal)


def test_nan_point_differs_from_itself():
    pt = Point1d(float("nan"), 1.0, 0)
    assert pt != pt and not pt == pt


def test_equality_follows_the_class_of_self():
    base, sub = Point1d(1.0, 2.0, 3), Spy(1.0, 2.0, 3)
    assert base.__eq__(sub) is True  # a Spy is a Point1d
    assert sub.__eq__(base) is False  # a Point1d is not a Spy
    assert sub == Spy(1.0, 2.0, 3)


def test_equality_reads_attributes_in_order_and_stops_at_first_difference():
    a, b = Spy(1.0, 2.0, 3), Spy(1.0, 5.0, 3)
    assert a.__eq__(b) is False
    assert (a.log, b.log) == (["t", "val"], ["t", "val"])


def test_equality_returns_the_false_comparison_result_as_it_came():
    class NumpyT(Point1d):
        @property
        def t(self):
            return np.float64(Point1d.t.__get__(self))

    result = NumpyT(1.0, 2.0, 3) == NumpyT(1.5, 2.0, 3)
    assert type(result) is np.bool_ and not result


def test_not_equal_goes_through_the_instance_eq():
    class Always(Point1d):
        def __eq__(self, other):
            return True

    assert (Always(1.0, 2.0, 3) != Point1d(9.0, 9.0, 9)) is False


def test_unhashable_and_unordered():
    pt = Point1d(1.0, 2.0, 3)
    with pytest.raises(TypeError, match="unhashable"):
        hash(pt)
    with pytest.raises(TypeError):
        {pt}
    with pytest.raises(TypeError):
        pt < Point1d(2.0, 2.0, 3)


# --- text forms and the attribute dictionary ------------------------------------------------------


@pytest.mark.parametrize(
    "pt, text, attrs",
    [
        (Point1d(1.5, 2.0, 1), "t = 1.5, val = 2.0, order = 1", ("1.5", "2.0", "1")),
        (
            Point1d(1e-05, -float("inf"), 4294967295),
            "t = 1e-05, val = -inf, order = 4294967295",
            ("1e-05", "-inf", "4294967295"),
        ),
        (Point1d(0.1, float("nan"), 0), "t = 0.1, val = nan, order = 0", ("0.1", "nan", "0")),
        (Doubled(0.75, 3, 2), "t = 1.5, val = 3.0, order = 2", ("1.5", "3.0", "2")),
    ],
)
def test_text_forms(pt, text, attrs):
    assert str(pt) == f"Point1d({text})"
    assert (
        repr(pt)
        == "{" + ", ".join(f"'{k}': {v}" for k, v in zip(("t", "val", "order"), attrs)) + "}"
    )
    got = pt._getAttrib()
    assert list(got.items()) == list(zip(("t", "val", "order"), attrs))
    assert float(got["t"]) == pt.t or math.isnan(pt.t)


@pytest.mark.parametrize(
    "result, outcome",
    [
        ({"x": "1"}, {"x": "1"}),
        (None, None),
        ([1], "Expected dict, got list"),
        ("t", "Expected dict, got str"),
    ],
)
def test_getattrib_table_entry_honours_overrides(result, outcome):
    class Own(Point1d):
        def _getAttrib(self):
            return result

    entry = method_table.entry("base._getAttrib", Point1d)
    pt = Own(1.0, 2.0, 3)
    assert entry(pt, 1) == {"t": "1.0", "val": "2.0", "order": "3"}
    assert Point1d._getAttrib(pt) == {"t": "1.0", "val": "2.0", "order": "3"}
    if isinstance(outcome, str):
        with pytest.raises(TypeError) as info:
            entry(pt, 0)
        assert str(info.value) == outcome
    else:
        assert entry(pt, 0) == outcome


# --- pickling -------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "attempt",
    [
        *(
            lambda pt, proto=proto: pickle.dumps(pt, protocol=proto)
            for proto in range(pickle.HIGHEST_PROTOCOL + 1)
        ),
        lambda pt: pt.__reduce__(),
        lambda pt: pt.__reduce_ex__(2),
        lambda pt: pt.__setstate__((1.0, 2.0, 3)),
        lambda pt: pickle.dumps(Spy(1.0, 2.0, 3)),
    ],
)
def test_pickling_refused(attempt):
    with pytest.raises(TypeError) as info:
        attempt(Point1d(1.0, 2.0, 3))
    assert str(info.value) == PICKLING
    assert {"__reduce__", "__setstate__"} <= set(Point1d.__dict__)


# --- make_point -----------------------------------------------------------------------------------


class CPoint(ctypes.Structure):
    _fields_ = [("t", ctypes.c_double), ("val", ctypes.c_double), ("order", ctypes.c_uint)]


@pytest.mark.parametrize(
    "t, val, order",
    [
        (1.5, -2.0, 1),
        (0.0, float("inf"), 4294967295),
        (-1e-300, 3.25, 0),
    ],
)
def test_make_point_through_its_capsule(t, val, order):
    capsule = defdatastruct.__pyx_capi__["make_point"]
    name = b"__pyx_t_7pyorvex_13defdatastruct_c_point1d (double, double, unsigned int)"
    make_point = ctypes.CFUNCTYPE(CPoint, ctypes.c_double, ctypes.c_double, ctypes.c_uint)(
        method_table.capsule_pointer(capsule, name)
    )
    got = make_point(t, val, order)
    assert (got.t, got.val, got.order) == (t, val, order)
