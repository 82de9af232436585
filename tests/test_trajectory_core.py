"""The Trajectory1d record: construction, properties, copying, the C-level factories and in-place
operations, equality within tolerance, the text forms and _getAttrib."""

import copy
import decimal
import math

import numpy as np
import pytest
from support.trajectories import arrays, cubic, f64, trajectory

from pyorvex.defdatastruct import Point1d, PyORVEXObject, Trajectory1d

INF, NAN = math.inf, math.nan


class Sub(Trajectory1d):
    pass


class OtherSub(Trajectory1d):
    pass


def linear(c0=1.0, c1=2.0, knots=(0.0, 0.0, 1.0, 1.0), **kw):
    return trajectory(knots, [c0, c1], 1, **kw)


# --- construction and properties -------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((1, 2, 3), {}),
        (("x", None), {"p": 3, "knots": b""}),
    ],
)
def test_type_call_gives_an_empty_trajectory(args, kwargs):
    t = Trajectory1d(*args, **kwargs)
    assert type(t) is Trajectory1d
    assert (t.p, t.n, t.order, t.start, t.stop) == (0, 0, 0, None, None)
    assert t.get_cpts_asarray() is None and t.get_knotvector_asarray() is None
    assert t._getAttrib()["owner"] == "False"
    assert t.__getstate__() == (None, None, 0, 0, 0, False)


@pytest.mark.parametrize("name", ["p", "n", "order", "start", "stop"])
@pytest.mark.parametrize("cls", [Trajectory1d, Sub])
def test_properties_are_read_only(name, cls):
    t = cubic(cls=cls)
    before = getattr(t, name)
    with pytest.raises(AttributeError):
        setattr(t, name, 1)
    with pytest.raises(AttributeError):
        delattr(t, name)
    assert getattr(t, name) == before


def test_no_python_view_of_the_record_fields():
    t = cubic()
    for name in ["ptrs_owner", "_knotvector", "_cpts"]:
        assert not hasattr(t, name)


@pytest.mark.parametrize(
    "knots, cpts, p, order",
    [
        ([0, 0, 0, 0, 0.5, 1.5, 2, 2, 2, 2], [1, 2, 3, 4, 5, 6], 3, 0),
        ([-1.5, 4.25], [7.0], 0, 2),  # degree 0, one control point
        ([1e-05, 1e-05, 3, 3], [0, 1], 1, 2**32 - 1),
    ],
)
def test_properties(knots, cpts, p, order):
    t = trajectory(knots, cpts, p, order)
    assert (t.p, t.n, t.order) == (p, len(cpts) - 1, order)
    assert type(t.start) is float and type(t.stop) is float
    assert (t.start, t.stop) == (knots[0], knots[-1])


def test_docstrings():
    doc = Trajectory1d.__doc__
    for name in ["p", "n", "ptrs_owner", "order", "start", "stop", "Need to pickle protocol."]:
        assert name in doc
    assert Trajectory1d.start.__doc__ == " Left end of the curve domain. "
    assert Trajectory1d.stop.__doc__ == " Right end of the curve domain. "
    assert Trajectory1d.copy.__doc__.startswith("Return a copy of the object.")
    assert Trajectory1d._getAttrib.__doc__.startswith(
        "Returns the attributes of the object as a dictionary."
    )


# --- copying --------------------------------------------------------------------------------------

COPIERS = {
    "copy()": lambda t: t.copy(),
    "copy.copy": copy.copy,
    "copy.deepcopy": copy.deepcopy,
    "__deepcopy__": lambda t: t.__deepcopy__({}),
}


@pytest.mark.parametrize("how", COPIERS)
def test_copy_is_equal_and_independent(how):
    src = cubic(order=2)
    dup = COPIERS[how](src)
    assert type(dup) is Trajectory1d and dup is not src
    assert dup == src
    assert (dup.p, dup.n, dup.order) == (src.p, src.n, src.order)
    before = arrays(src)
    dup.get_cpts_asarray()[:] += 1.0
    dup.get_knotvector_asarray()[0] -= 1.0
    after = arrays(src)
    assert all(np.array_equal(a, b) for a, b in zip(before, after))
    assert dup != src


@pytest.mark.parametrize("first", ["source", "copy"])
def test_copy_and_source_die_in_either_order(first):
    src = cubic()
    expected = arrays(src)
    dup = src.copy()
    if first == "source":
        del src
        survivor = dup
    else:
        del dup
        survivor = src
    assert all(np.array_equal(a, b) for a, b in zip(arrays(survivor), expected))


def test_copy_of_a_non_owning_trajectory_owns_its_arrays():
    src = cubic(owner=False)
    dup = src.copy()
    assert src._getAttrib()["owner"] == "False"
    assert dup._getAttrib()["owner"] == "True" and dup.__getstate__()[5] is True
    assert all(np.array_equal(a, b) for a, b in zip(arrays(dup), arrays(src)))
    assert dup != src  # the owner flags differ


@pytest.mark.parametrize("how", COPIERS)
def test_copy_of_an_empty_trajectory_is_empty(how):
    src = Trajectory1d()
    dup = COPIERS[how](src)
    assert type(dup) is Trajectory1d and dup is not src
    assert (dup.p, dup.n, dup.order, dup.start) == (0, 0, 0, None)
    assert dup.__getstate__() == src.__getstate__()


@pytest.mark.parametrize("how", COPIERS)
def test_copy_of_a_subclass_without_override_is_plain(how):
    src = cubic(cls=Sub)
    dup = COPIERS[how](src)
    assert type(dup) is Trajectory1d
    assert all(np.array_equal(a, b) for a, b in zip(arrays(dup), arrays(src)))


class CopyOverride(Trajectory1d):
    result = "self"

    def copy(self):
        self.calls = getattr(self, "calls", 0) + 1
        if self.result == "self":
            return self
        if self.result == "raise":
            raise LookupError("from the override")
        return self.result


@pytest.mark.parametrize("how", ["copy.copy", "copy.deepcopy", "copy()"])
def test_subclass_copy_override_is_honoured(how):
    src = cubic(cls=CopyOverride)
    assert COPIERS[how](src) is src
    assert src.calls == 1


@pytest.mark.parametrize("result", [None, "plain", "sub"])
def test_copy_override_may_return_none_or_a_trajectory(result):
    src = cubic(cls=CopyOverride)
    src.result = {None: None, "plain": cubic(), "sub": cubic(cls=Sub)}[result]
    assert copy.copy(src) is src.result
    assert copy.deepcopy(src) is src.result


@pytest.mark.parametrize(
    "value, type_name",
    [
        (5, "int"),
        ("x", "str"),
        (PyORVEXObject(), "pyorvex.defdatastruct.PyORVEXObject"),
    ],
)
def test_copy_override_with_another_result_is_refused(value, type_name):
    src = cubic(cls=CopyOverride)
    src.result = value
    for how in [copy.copy, copy.deepcopy]:
        with pytest.raises(TypeError) as err:
            how(src)
        assert str(err.value) == (
            f"Cannot convert {type_name} to pyorvex.defdatastruct.Trajectory1d"
        )


def test_copy_override_error_propagates():
    src = cubic(cls=CopyOverride)
    src.result = "raise"
    with pytest.raises(LookupError, match="from the override"):
        copy.copy(src)


def test_instance_attribute_overrides_copy_in_the_table(vtable_probe):
    src = cubic(cls=Sub)
    other = cubic(order=1)
    src.copy = lambda: other
    assert copy.copy(src) is other
    assert vtable_probe.copy(src, 0) is other
    assert type(vtable_probe.copy(src, 1)) is Trajectory1d


def test_copy_through_the_table(vtable_probe):
    src = cubic(cls=CopyOverride)
    assert vtable_probe.copy(src, 0) is src and src.calls == 1
    dup = vtable_probe.copy(src, 1)  # overrides skipped: the built-in copy
    assert type(dup) is Trajectory1d and src.calls == 1
    assert all(np.array_equal(a, b) for a, b in zip(arrays(dup), arrays(src)))
    src.result = 3.5
    with pytest.raises(
        TypeError, match="^Cannot convert float to pyorvex.defdatastruct.Trajectory1d$"
    ):
        vtable_probe.copy(src, 0)
    empty = vtable_probe.copy(Trajectory1d(), 0)
    assert type(empty) is Trajectory1d and empty.start is None


# --- C-level factories and in-place operations ---------------------------------------------------


def test_from_ptrs_lends_memory(vtable_probe):
    knots, cpts = f64([0, 0, 1, 2, 2]), f64([5, 6, 7])
    t = vtable_probe.from_ptrs(knots, cpts, 1, 2, 3)  # owner not given: false
    assert type(t) is Trajectory1d
    assert (t.p, t.n, t.order, t.start, t.stop) == (1, 2, 3, 0.0, 2.0)
    assert t._getAttrib()["owner"] == "False" and t.__getstate__()[5] is False
    cpts[1] = 60.0  # the record shows the caller's memory
    assert t.get_cpts_asarray()[1] == 60.0
    t.get_knotvector_asarray()[2] = 1.5
    assert knots[2] == 1.5
    u = vtable_probe.from_ptrs(knots, cpts, 1, 2, 3, False)
    assert u == t
    del t, u  # the lent memory is not freed by the records
    assert knots.tolist() == [0, 0, 1.5, 2, 2] and cpts.tolist() == [5, 60, 7]


def test_from_ptrs_owning(vtable_probe):
    t = vtable_probe.from_ptrs(f64([0, 0, 1, 1]), f64([2, 3]), 1, 1, 0, True)
    assert type(t) is Trajectory1d
    assert t._getAttrib()["owner"] == "True"
    assert t == linear(2.0, 3.0)


def test_from_ptrs_without_arrays(vtable_probe):
    t = vtable_probe.from_ptrs(None, None, 3, 5, 1)
    assert (t.p, t.n, t.order, t.start, t.stop) == (3, 5, 1, None, None)
    assert t.get_cpts_asarray() is None and t.get_knotvector_asarray() is None
    assert t.__getstate__() == (None, None, 3, 5, 1, False)
    assert str(t) == "Trajectory1d(start = None, stop = None, p = 3, n = 5, order = 1)"
    with pytest.raises(ValueError):
        t.get_xcpts()
    for op in ["c_vshift", "c_vscale", "c_hshift", "c_hscale"]:
        getattr(vtable_probe, op)(t, 2.0)  # nothing to change: no effect, no error
    assert type(t.copy()) is Trajectory1d


def test_from_ptrs_knots_without_control_points(vtable_probe):
    knots = f64([0, 0, 1, 1])
    t = vtable_probe.from_ptrs(knots, None, 1, 1, 0)
    assert (t.start, t.stop) == (0.0, 1.0)
    assert t.get_cpts_asarray() is None
    assert t.__getstate__()[:2] == (knots.tobytes(), None)
    with pytest.raises(ValueError):
        t == vtable_probe.from_ptrs(knots, None, 1, 1, 0)
    del t


def test_new_struct(vtable_probe):
    t = vtable_probe.new_struct(3, 5, 2)
    assert type(t) is Trajectory1d
    assert (t.p, t.n, t.order) == (3, 5, 2)
    assert t._getAttrib()["owner"] == "True"
    assert len(t.get_knotvector_asarray()) == 10 and len(t.get_cpts_asarray()) == 6
    t.get_knotvector_asarray()[:] = np.linspace(0, 9, 10)
    t.get_cpts_asarray()[:] = np.arange(6.0)
    assert (t.start, t.stop) == (0.0, 9.0)
    state = t.__getstate__()
    assert len(state[0]) == 80 and len(state[1]) == 48 and state[5] is True


@pytest.mark.parametrize("p, n", [(0, -1), (-3, 0), (-1, -5)])
def test_new_struct_refuses_sizes_without_elements(p, n, vtable_probe):
    with pytest.raises(MemoryError, match="^memory allocation failed$"):
        vtable_probe.new_struct(p, n, 0)


@pytest.mark.parametrize(
    "op, x, on",
    [
        ("c_vshift", 2.5, "cpts"),
        ("c_vshift", -1e300, "cpts"),
        ("c_vscale", -1.0, "cpts"),
        ("c_vscale", 0.1, "cpts"),
        ("c_hshift", 0.3, "knots"),
        ("c_hshift", -7.0, "knots"),
    ],
)
def test_vertical_and_horizontal_shift_and_scale(op, x, on, vtable_probe):
    for cls in [Trajectory1d, Sub]:
        t = cubic(cls=cls)
        knots, cpts = arrays(t)
        getattr(vtable_probe, op)(t, x)
        new_knots, new_cpts = arrays(t)
        changed, same = (new_cpts, cpts) if on == "cpts" else (new_knots, knots)
        kept, kept_before = (new_knots, knots) if on == "cpts" else (new_cpts, cpts)
        expected = same * x if op == "c_vscale" else same + x
        assert np.array_equal(changed, expected)
        assert np.array_equal(kept, kept_before)
        assert (t.p, t.n) == (3, 5)


def test_hscale_formula(vtable_probe):
    rng = np.random.default_rng(7)
    knots = np.sort(rng.uniform(-3.0, 11.0, 40))
    t = trajectory(knots, rng.normal(size=37), 2)
    k = 1.7
    vtable_probe.c_hscale(t, k)
    got, _ = arrays(t)
    expected = knots.copy()
    expected[1:] = k * knots[1:] - (k - 1.0) * knots[0]
    assert got[0] == knots[0]
    assert np.array_equal(got, expected)
    # The data are such that the other way of writing it rounds differently somewhere.
    assert not np.array_equal(got[1:], knots[0] + k * (knots[1:] - knots[0]))


@pytest.mark.parametrize("k", [1.0, 2.0])
def test_hscale_by_one_and_two(k, vtable_probe):
    knots = np.array([0.5, 0.5, 1.0, 2.25, 4.0, 4.0])
    t = trajectory(knots, [1, 2, 3, 4], 1)
    vtable_probe.c_hscale(t, k)
    got, _ = arrays(t)
    assert np.array_equal(got - knots[0], k * (knots - knots[0]))


# --- equality -------------------------------------------------------------------------------------


def with_change(where, index, value):
    """The cubic with one knot or control point replaced."""
    knots, cpts = arrays(cubic())
    (knots if where == "knots" else cpts)[index] = value
    return trajectory(knots, cpts, 3)


def test_equal_to_its_copy():
    t = cubic()
    assert (t == t.copy()) is True and (t != t.copy()) is False
    assert (t == t) is True


# (a, b, close): the relative tolerance is 1e-9 of the larger magnitude, the absolute floor 1e-13.
CLOSENESS = [
    (0.0, 1e-13, True),
    (0.0, 2e-13, False),
    (0.0, -1e-13, True),
    (0.0, -2e-13, False),
    (1.0, 1.0 + 5e-10, True),
    (1.0, 1.0 + 2e-9, False),
    (1e6, 1e6 + 5e-4, True),
    (1e6, 1e6 + 2e-3, False),
    (-1e-3, -1e-3 * (1 + 5e-10), True),
    (-1e-3, -1e-3 * (1 + 3e-9), False),
    (1e300, 1e300 * (1 + 5e-10), True),
    (5e-324, 0.0, True),
    (NAN, NAN, False),
    (NAN, 1.0, False),
    (1.0, NAN, False),
    (INF, INF, False),
    (-INF, -INF, False),
    (INF, -INF, False),
    (INF, 1.0, False),
    (-INF, 1e308, False),
    (0.0, INF, False),
]


@pytest.mark.parametrize("a, b, close", CLOSENESS)
@pytest.mark.parametrize("where, index", [("cpts", 0), ("cpts", 5), ("knots", 0), ("knots", 9)])
def test_equality_uses_the_closeness_rule(a, b, close, where, index, vtable_probe):
    s, t = with_change(where, index, a), with_change(where, index, b)
    assert (s == t) is close and (t == s) is close
    assert (s != t) is (not close)
    assert vtable_probe.c_eq(s, t) is close


@pytest.mark.parametrize("where", ["cpts", "knots"])
def test_nan_trajectory_is_not_equal_to_itself(where):
    t = with_change(where, 0 if where == "cpts" else 4, NAN)
    assert not t == t and t != t


@pytest.mark.parametrize(
    "other",
    [
        lambda: cubic(order=1),
        lambda: trajectory([0, 0, 0, 0.5, 1.5, 2, 2, 2], [1.0, -2.0, 0.25, 3.5, 1e-3], 2),
        lambda: trajectory([0, 0, 0, 0, 0, 0.5, 1.5, 2, 2, 2], [1.0, -2.0, 0.25, 3.5, 1e-3], 4),
        lambda: cubic(owner=False),
    ],
)
def test_different_numbers_or_owner_are_unequal(other, vtable_probe):
    t, u = cubic(), other()
    assert not t == u and not u == t and t != u
    assert vtable_probe.c_eq(t, u) is False


def test_same_bytes_with_other_split_are_unequal():
    state = cubic().__getstate__()
    t = Trajectory1d()
    t._dset_data(state[0], state[1], 4, 4, 0, True)  # same leading bytes, p and n differ
    assert t != cubic()


@pytest.mark.parametrize(
    "other",
    [
        lambda: 5,
        lambda: None,
        lambda: "cubic",
        lambda: 2.0,
        object,
        PyORVEXObject,
        lambda: Point1d(0.0, 1.0, 0),
        lambda: cubic().get_cpts_asarray().tolist(),
    ],
)
def test_equality_with_other_kinds(other):
    other = other()
    t = cubic()
    assert (t == other) is False and (other == t) is False
    assert (t != other) is True and (other != t) is True


def test_subclass_and_plain_are_never_equal():
    plain, sub, sub2, other = cubic(), cubic(cls=Sub), cubic(cls=Sub), cubic(cls=OtherSub)
    for a, b in [(plain, sub), (sub, plain), (sub, other), (other, sub)]:
        assert (a == b) is False and (a != b) is True
    assert sub == sub2 and not sub != sub2


def test_equality_reads_the_class_attribute():
    class Disguised(Trajectory1d):
        @property
        def __class__(self):
            return Trajectory1d

    class Broken(Trajectory1d):
        @property
        def __class__(self):
            raise KeyError("no class")

    assert cubic(cls=Disguised) == cubic()
    assert cubic() == cubic(cls=Disguised)
    with pytest.raises(KeyError):
        cubic(cls=Broken) == cubic()


def test_not_equal_follows_a_redefined_eq():
    class AlwaysEqual(Trajectory1d):
        def __eq__(self, other):
            return True

    class Truthless(Trajectory1d):
        def __eq__(self, other):
            return self.answer

    a = cubic(cls=AlwaysEqual)
    assert (a != linear()) is False
    b = cubic(cls=Truthless)
    b.answer = []
    assert (Trajectory1d.__ne__(b, cubic(cls=Truthless))) is True
    b.answer = [0]
    assert (Trajectory1d.__ne__(b, 5)) is False


def test_two_empty_trajectories_cannot_be_compared(vtable_probe):
    for op in ["__eq__", "__ne__"]:
        with pytest.raises(ValueError):
            getattr(Trajectory1d(), op)(Trajectory1d())
    with pytest.raises(ValueError):
        vtable_probe.c_eq(Trajectory1d(), Trajectory1d())


def test_missing_arrays_fail_only_after_the_numbers_matched(vtable_probe):
    one = trajectory([0.0, 1.0], [3.0], 0, owner=False)  # p = n = order = 0, not owner
    assert (one.p, one.n, one.order) == (0, 0, 0)
    with pytest.raises(ValueError):
        one == Trajectory1d()
    with pytest.raises(ValueError):
        Trajectory1d() == one
    assert (Trajectory1d() == trajectory([0.0, 1.0], [3.0], 0, order=1, owner=False)) is False
    assert (Trajectory1d() == cubic()) is False
    assert vtable_probe.c_eq(Trajectory1d(), cubic()) is False


@pytest.mark.parametrize("op", ["__lt__", "__le__", "__gt__", "__ge__"])
def test_ordering_is_not_supported(op):
    t = cubic()
    assert getattr(t, op)(t.copy()) is NotImplemented
    symbol = {"__lt__": "<", "__le__": "<=", "__gt__": ">", "__ge__": ">="}[op]
    with pytest.raises(TypeError):
        eval(f"a {symbol} b", {"a": t, "b": t.copy()})


@pytest.mark.parametrize("cls", [Trajectory1d, Sub])
def test_not_hashable(cls):
    assert Trajectory1d.__dict__["__hash__"] is None
    with pytest.raises(TypeError):
        hash(cubic(cls=cls))
    with pytest.raises(TypeError):
        hash(Trajectory1d())


# --- text forms ------------------------------------------------------------------------------------


def test_text_forms_of_the_cubic():
    t = cubic()
    assert str(t) == "Trajectory1d(start = 0.0, stop = 2.0, p = 3, n = 5, order = 0)"
    assert repr(t) == "{'start': 0.0, 'stop': 2.0, 'p': 3, 'n': 5, 'order': 0}"


def test_text_forms_of_an_empty_trajectory():
    assert str(Trajectory1d()) == "Trajectory1d(start = None, stop = None, p = 0, n = 0, order = 0)"
    assert repr(Trajectory1d()) == "{'start': None, 'stop': None, 'p': 0, 'n': 0, 'order': 0}"


@pytest.mark.parametrize(
    "start, stop, order",
    [
        (1e-05, 0.5, 0),
        (0.1 + 0.2, 1e16, 7),
        (-0.0, 2.5e-07, 2**32 - 1),
        (-3.0, 1e22, 1),
    ],
)
def test_text_of_floats_and_integers(start, stop, order):
    t = trajectory([start, start, stop, stop], [0.0, 1.0], 1, order)
    assert str(t) == (
        f"Trajectory1d(start = {start!r}, stop = {stop!r}, p = 1, n = 1, order = {order})"
    )
    assert repr(t) == (
        f"{{'start': {start!r}, 'stop': {stop!r}, 'p': 1, 'n': 1, 'order': {order}}}"
    )
    attrib = t._getAttrib()
    assert (attrib["start"], attrib["stop"], attrib["order"]) == (
        repr(start),
        repr(stop),
        str(order),
    )


def test_negative_numbers_in_text(vtable_probe):
    knots, cpts = f64([4.0, 9.0, 9.0]), f64([1.0, 2.0])
    t = vtable_probe.from_ptrs(knots, cpts, -1, 1, 0)  # knot count n + p + 2 = 2
    assert str(t) == "Trajectory1d(start = 4.0, stop = 9.0, p = -1, n = 1, order = 0)"
    assert repr(t) == "{'start': 4.0, 'stop': 9.0, 'p': -1, 'n': 1, 'order': 0}"
    assert t._getAttrib()["p"] == "-1"
    del t


class Reframed(Trajectory1d):
    """start and stop as Python properties of a subclass."""

    start_value = 1e-05
    stop_value = "late"

    @property
    def start(self):
        if isinstance(self.start_value, Exception):
            raise self.start_value
        return self.start_value

    @property
    def stop(self):
        return self.stop_value


@pytest.mark.parametrize(
    "start, stop, start_text, stop_text",
    [
        (1e-05, "late", "1e-05", "late"),
        (3, decimal.Decimal("1.50"), "3", "1.50"),
        (None, np.float64(0.25), "None", "0.25"),
        (True, 2.5, "True", "2.5"),
    ],
)
def test_text_forms_read_start_and_stop_as_attributes(start, stop, start_text, stop_text):
    t = cubic(cls=Reframed)
    t.start_value, t.stop_value = start, stop
    assert str(t) == (
        f"Trajectory1d(start = {start_text}, stop = {stop_text}, p = 3, n = 5, order = 0)"
    )
    assert repr(t) == f"{{'start': {start_text}, 'stop': {stop_text}, 'p': 3, 'n': 5, 'order': 0}}"
    attrib = t._getAttrib()
    assert (attrib["start"], attrib["stop"]) == (start_text, stop_text)


class Unformattable:
    def __format__(self, format_spec):
        raise ZeroDivisionError("no text")


@pytest.mark.parametrize(
    "start, message",
    [
        (ZeroDivisionError("no start"), "no start"),
        (Unformattable(), "no text"),
    ],
)
def test_errors_of_start_propagate(start, message):
    t = cubic(cls=Reframed)
    t.start_value = start
    for form in [str, repr, lambda x: x._getAttrib()]:
        with pytest.raises(ZeroDivisionError, match=message):
            form(t)


# --- _getAttrib -------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "make, expected",
    [
        (cubic, {"p": "3", "n": "5", "owner": "True", "order": "0", "start": "0.0", "stop": "2.0"}),
        (
            lambda: cubic(order=4, owner=False),
            {"p": "3", "n": "5", "owner": "False", "order": "4", "start": "0.0", "stop": "2.0"},
        ),
        (
            Trajectory1d,
            {"p": "0", "n": "0", "owner": "False", "order": "0", "start": "None", "stop": "None"},
        ),
        (
            lambda: cubic().copy(),
            {"p": "3", "n": "5", "owner": "True", "order": "0", "start": "0.0", "stop": "2.0"},
        ),
    ],
)
def test_getattrib(make, expected):
    got = make()._getAttrib()
    assert type(got) is dict
    assert list(got.items()) == list(expected.items())  # keys in this order
    assert all(type(v) is str for v in got.values())


class AttribOverride(Trajectory1d):
    result = None

    def _getAttrib(self):
        return self.result


@pytest.mark.parametrize("result", [{"x": "1"}, {}, None])
def test_getattrib_override_through_the_table(result, vtable_probe):
    t = cubic(cls=AttribOverride)
    t.result = result
    assert vtable_probe.getattrib(t, 0) is result
    assert t._getAttrib() is result
    builtin = vtable_probe.getattrib(t, 1)
    assert builtin == cubic()._getAttrib()


@pytest.mark.parametrize(
    "result, type_name",
    [
        (5, "int"),
        ([("p", "3")], "list"),
        ("p", "str"),
        (cubic(), "pyorvex.defdatastruct.Trajectory1d"),
    ],
)
def test_getattrib_override_must_give_a_dict(result, type_name, vtable_probe):
    t = cubic(cls=AttribOverride)
    t.result = result
    assert t._getAttrib() is result  # the Python method is an ordinary call: no check
    with pytest.raises(TypeError) as err:
        vtable_probe.getattrib(t, 0)
    assert str(err.value) == f"Expected dict, got {type_name}"


def test_refused_override_result_released_with_the_error_kept(vtable_probe):
    fresh = type("Fresh", (Trajectory1d,), {"_getAttrib": lambda self: cubic()})
    u = cubic(cls=fresh)
    # The refused result is a new trajectory that dies while the TypeError is being raised.
    with pytest.raises(TypeError, match="^Expected dict, got pyorvex.defdatastruct.Trajectory1d$"):
        vtable_probe.getattrib(u, 0)


def test_getattrib_instance_attribute_override(vtable_probe):
    t = cubic(cls=Sub)
    t._getAttrib = lambda: 42
    with pytest.raises(TypeError, match="^Expected dict, got int$"):
        vtable_probe.getattrib(t, 0)
    del t._getAttrib
    assert vtable_probe.getattrib(t, 0) == cubic()._getAttrib()
    plain = cubic()
    assert vtable_probe.getattrib(plain, 0) == plain._getAttrib()


def test_not_equal_passes_a_tuple_operand_whole():
    # != goes through the instance's __eq__ with the other operand as one argument, whatever it is
    assert (Trajectory1d() != (1, 2, 3)) is True
