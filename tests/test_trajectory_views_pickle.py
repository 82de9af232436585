"""NumPy views of a trajectory's arrays, the abscissae of its control points, and its pickle
state: _sget_knotvector, _sget_cpts, _dset_data, __getstate__ / __setstate__ and pickle."""

import copy
import copyreg
import gc
import pickle
import sys
import tracemalloc
import types

import numpy as np
import pytest
from support import oracle
from support.trajectories import arrays, cubic, f64, trajectory

import pyorvex.defdatastruct as dds
from pyorvex.defdatastruct import Trajectory1d


class Sub(Trajectory1d):
    pass


class RecordingState(Trajectory1d):
    """Overrides of the three state operations that record their calls."""

    knot_result = "builtin"
    cpts_result = "builtin"

    def _sget_knotvector(self):
        self.log = getattr(self, "log", []) + ["knots"]
        if self.knot_result == "builtin":
            return Trajectory1d._sget_knotvector(self)
        return self.knot_result

    def _sget_cpts(self):
        self.log = getattr(self, "log", []) + ["cpts"]
        if self.cpts_result == "builtin":
            return Trajectory1d._sget_cpts(self)
        return self.cpts_result

    def _dset_data(self, *args, **kwargs):
        self.log = getattr(self, "log", []) + [("set", args, kwargs)]
        Trajectory1d._dset_data(self, *args, **kwargs)
        return "ignored"


def snapshot(t):
    """Everything the record shows, to check that a refused call changed nothing."""
    return (t.p, t.n, t.order, t.__getstate__(), t._getAttrib())


# --- array views ------------------------------------------------------------------------------------


@pytest.mark.parametrize("which, size", [("get_knotvector_asarray", 10), ("get_cpts_asarray", 6)])
def test_views_are_writeable_float64_arrays_over_the_record(which, size):
    t = cubic()
    view = getattr(t, which)()
    assert type(view) is np.ndarray
    assert view.dtype == np.float64 and view.ndim == 1 and view.shape == (size,)
    assert view.flags.c_contiguous and view.flags.aligned and view.flags.writeable
    assert not view.flags.owndata
    knots, cpts = arrays(t)
    assert np.array_equal(view, knots if "knot" in which else cpts)
    again = getattr(t, which)()
    assert again is not view and np.shares_memory(again, view)
    view[:] = np.arange(size) * 0.5 - 1.0  # writes go to the trajectory
    knots, cpts = arrays(t)
    assert np.array_equal(knots if "knot" in which else cpts, np.arange(size) * 0.5 - 1.0)
    assert np.array_equal(again, view)


@pytest.mark.parametrize(
    "name, doc",
    [
        (
            "get_cpts_asarray",
            "Creates an array wrapper around '_cpts' pointer. If the new array is "
            "deallocated the memory is not freed.",
        ),
        (
            "get_knotvector_asarray",
            "Creates an array wrapper around '_knotvector' pointer. If the new "
            "array is deallocated the memory is not freed.",
        ),
        ("get_xcpts", "Returns the x-coordinates of the control points."),
    ],
)
def test_docstrings(name, doc):
    assert getattr(Trajectory1d, name).__doc__.startswith(doc)


def test_views_of_an_empty_trajectory_are_none():
    t = Trajectory1d()
    assert t.get_cpts_asarray() is None and t.get_knotvector_asarray() is None


def test_view_writes_are_what_the_trajectory_evaluates():
    if not hasattr(Trajectory1d, "peval"):
        pytest.skip("point evaluation is not part of this build")
    t = cubic()
    view = t.get_cpts_asarray()
    view[2] = 10.0
    spline = oracle.of(t)
    for x in [0.3, 0.9, 1.2]:
        assert t.peval(x) == pytest.approx(float(spline(x)), rel=1e-12, abs=1e-12)
    del view
    assert t.peval(0.9) == pytest.approx(float(spline(0.9)), rel=1e-12, abs=1e-12)


@pytest.mark.parametrize("which", ["get_knotvector_asarray", "get_cpts_asarray"])
def test_views_keep_their_trajectory_alive(which):
    t = cubic()
    expected = arrays(t)[0 if "knot" in which else 1]
    refs = sys.getrefcount(t)
    view = getattr(t, which)()
    assert sys.getrefcount(t) == refs + 1  # the view's base holds the trajectory
    part = view[1:4]
    del t
    gc.collect()
    assert np.array_equal(view, expected)
    view[0] = 123.0  # still the trajectory's memory, still alive
    assert view[0] == 123.0 and np.array_equal(part, expected[1:4])
    orphan = getattr(cubic(), which)()  # made from a temporary
    gc.collect()
    assert np.array_equal(orphan, expected)


def test_a_view_releases_its_trajectory():
    t = cubic()
    refs = sys.getrefcount(t)
    views = [t.get_cpts_asarray(), t.get_knotvector_asarray(), t.get_cpts_asarray()[2:]]
    del views
    gc.collect()
    assert sys.getrefcount(t) == refs


VIEW_HOLDERS = {
    "cpts view": lambda t: t.get_cpts_asarray(),
    "knot view": lambda t: t.get_knotvector_asarray(),
    "slice of a view": lambda t: t.get_cpts_asarray()[1:3],
    "memoryview": lambda t: memoryview(t.get_knotvector_asarray()),
}


@pytest.mark.parametrize("holder", VIEW_HOLDERS)
@pytest.mark.parametrize("how", ["_dset_data", "__setstate__"])
def test_arrays_are_not_replaced_under_live_views(holder, how):
    t = cubic()
    before = snapshot(t)
    held = VIEW_HOLDERS[holder](t)
    copy_before = np.array(held)
    state = trajectory([0, 0, 1, 1], [4, 5], 1).__getstate__()
    with pytest.raises(BufferError) as err:
        if how == "_dset_data":
            t._dset_data(*state)
        else:
            t.__setstate__(state)
    assert str(err.value) == (
        "the arrays of the trajectory cannot be replaced while array views of them exist"
    )
    assert snapshot(t) == before
    assert np.array_equal(np.array(held), copy_before)
    del held
    gc.collect()
    getattr(t, how)(*([state] if how == "__setstate__" else state))
    assert t == trajectory([0, 0, 1, 1], [4, 5], 1)


# --- abscissae of the control points ---------------------------------------------------------------


def greville(knots, p, n):
    return np.array([np.mean(knots[i + 1 : i + p + 1]) for i in range(n + 1)])


@pytest.mark.parametrize(
    "knots, p",
    [
        ([0, 0, 0, 0, 0.5, 1.5, 2, 2, 2, 2], 3),
        ([0, 0, 1, 1], 1),
        ([-2, -1, 0, 0.5, 1, 1, 4, 4.5], 2),  # not clamped
        ([0, 0, 0, 1, 1, 1, 2, 2, 2], 2),  # interior knot of multiplicity p + 1
        (np.r_[[3.0] * 5, np.linspace(3, 9, 25)[1:-1], [9.0] * 5], 4),
    ],
)
def test_xcpts_are_the_greville_abscissae(knots, p):
    knots = f64(knots)
    n = len(knots) - p - 2
    t = trajectory(knots, np.linspace(-1, 1, n + 1), p)
    x = t.get_xcpts()
    assert type(x) is np.ndarray and x.dtype == np.float64 and x.shape == (n + 1,)
    assert x.flags.owndata and not np.shares_memory(x, t.get_knotvector_asarray())
    np.testing.assert_allclose(x, greville(knots, p, n), rtol=1e-14, atol=1e-14)
    assert t.get_xcpts() is not x


def test_xcpts_of_degree_zero_lie_in_their_spans():
    knots = f64([0, 1, 2, 4, 4.5])
    x = trajectory(knots, [5, 6, 7, 8], 0).get_xcpts()
    assert x.shape == (4,)
    assert np.all((knots[:-1] <= x) & (x <= knots[1:]))


def test_xcpts_without_a_knot_vector():
    with pytest.raises(ValueError):
        Trajectory1d().get_xcpts()


def test_xcpts_looks_up_np_at_each_call(monkeypatch):
    t = cubic()
    calls = []
    marked = np.zeros(6)

    def empty(size, dtype):
        calls.append((size, dtype))
        return marked

    monkeypatch.setattr(dds, "np", types.SimpleNamespace(empty=empty, float64=np.float64))
    assert t.get_xcpts() is marked
    assert calls == [(6, np.float64)]
    monkeypatch.delattr(dds, "np")
    with pytest.raises(NameError, match="'np'"):
        t.get_xcpts()


@pytest.mark.parametrize(
    "give",
    [
        lambda size, dtype: np.empty(size - 1),
        lambda size, dtype: np.empty(size + 3),
        lambda size, dtype: np.empty(size, dtype=np.float32),
        lambda size, dtype: np.empty((size, 1)),
        lambda size, dtype: np.empty(2 * size)[::2],
    ],
)
def test_xcpts_refuses_an_unfit_result_array(give, monkeypatch):
    monkeypatch.setattr(dds, "np", types.SimpleNamespace(empty=give, float64=np.float64))
    with pytest.raises((ValueError, BufferError)):
        cubic().get_xcpts()


# --- the state -------------------------------------------------------------------------------------

MODULE_BUILT = {
    "_dset_data": lambda probe: cubic(),
    "copy": lambda probe: cubic(owner=False).copy(),
    "new_struct": lambda probe: probe.new_struct(2, 4, 1),
    "from_ptrs owning": lambda probe: probe.from_ptrs(f64([0, 1, 2]), f64([5.0]), 1, 0, 0, True),
}


@pytest.mark.parametrize("make", MODULE_BUILT)
def test_state_sizes_and_items(make, vtable_probe):
    t = MODULE_BUILT[make](vtable_probe)
    state = t.__getstate__()
    assert type(state) is tuple and len(state) == 6
    assert type(state[0]) is bytes and len(state[0]) == 8 * (t.n + t.p + 2)
    assert type(state[1]) is bytes and len(state[1]) == 8 * (t.n + 1)
    assert state[2:5] == (t.p, t.n, t.order) and all(type(v) is int for v in state[2:5])
    assert state[5] is True
    assert state[0] == t.get_knotvector_asarray().tobytes() == t._sget_knotvector()
    assert state[1] == t.get_cpts_asarray().tobytes() == t._sget_cpts()


def test_state_bytes_are_native_doubles():
    t = cubic()
    knots, cpts = t.get_knotvector_asarray(), t.get_cpts_asarray()
    assert np.array_equal(np.frombuffer(t._sget_knotvector(), dtype="=f8"), knots)
    assert np.array_equal(np.frombuffer(t._sget_cpts(), dtype="=f8"), cpts)


def test_state_of_an_empty_trajectory():
    t = Trajectory1d()
    assert t._sget_knotvector() is None and t._sget_cpts() is None
    assert t.__getstate__() == (None, None, 0, 0, 0, False)


@pytest.mark.parametrize("as_list", [False, True])
@pytest.mark.parametrize("owner", [True, False])
def test_setstate_restores_an_equal_trajectory(as_list, owner):
    t = cubic(order=3, owner=owner)
    state = t.__getstate__()
    fresh = Trajectory1d()
    assert fresh.__setstate__(list(state) if as_list else state) is None
    assert fresh == t
    assert fresh.__getstate__() == state
    assert not np.shares_memory(fresh.get_cpts_asarray(), t.get_cpts_asarray())


def test_setstate_replaces_existing_arrays():
    t = cubic()
    t.__setstate__(trajectory([0, 1], [2.5], 0, order=1).__getstate__())
    assert (t.p, t.n, t.order, t.start, t.stop) == (0, 0, 1, 0.0, 1.0)
    assert arrays(t)[1].tolist() == [2.5]


def test_setstate_refuses_what_is_not_a_sequence():
    t = cubic()
    before = snapshot(t)
    with pytest.raises(TypeError):
        t.__setstate__(5)
    with pytest.raises(TypeError, match=r"takes exactly 6 positional arguments \(5 given\)"):
        t.__setstate__(t.__getstate__()[:5])
    assert snapshot(t) == before


@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize(
    "make",
    [
        lambda: cubic(order=2),
        lambda: cubic(owner=False),
        lambda: trajectory([-1e-05, 3.0], [np.pi], 0),
        lambda: cubic(cls=Sub),
    ],
)
def test_pickle_round_trip(protocol, make):
    t = make()
    back = pickle.loads(pickle.dumps(t, protocol=protocol))
    assert type(back) is type(t)
    assert back == t and back.__getstate__() == t.__getstate__()


@pytest.mark.parametrize("cls", [Trajectory1d, Sub])
def test_pickling_goes_through_the_standard_protocol(cls):
    t = cubic(cls=cls)
    reduced = t.__reduce_ex__(2)
    assert reduced[0] is copyreg.__newobj__
    assert reduced[1] == (cls,)
    assert reduced[2] == t.__getstate__()
    assert reduced[3:] == (None, None)


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.__reduce_cython__(),
        lambda t: t.__setstate_cython__(t.__getstate__()),
        lambda t: t.__setstate_cython__(None),
    ],
)
def test_inherited_pickle_helpers_refuse(call):
    with pytest.raises(TypeError) as err:
        call(cubic())
    assert str(err.value) == "no default __reduce__ due to non-trivial __cinit__"


# --- _dset_data arguments ---------------------------------------------------------------------------

KNOTS = f64([0, 0, 1, 1]).tobytes()
CPTS = f64([2, 3]).tobytes()


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        (
            (KNOTS, CPTS, 1, 1, 0),
            {},
            TypeError,
            "_dset_data() takes exactly 6 positional arguments (5 given)",
        ),
        (
            (KNOTS, CPTS, 1, 1, 0, True, 7),
            {},
            TypeError,
            "_dset_data() takes exactly 6 positional arguments (7 given)",
        ),
        ((), {}, TypeError, "_dset_data() takes exactly 6 positional arguments (0 given)"),
        (
            (KNOTS,),
            {"cpts": CPTS, "p": 1, "n": 1, "order": 0},
            TypeError,
            "_dset_data() takes exactly 6 positional arguments (1 given)",
        ),
        (
            (KNOTS, CPTS, 1, 1, 0, True),
            {"bogus": 1},
            TypeError,
            "_dset_data() got an unexpected keyword argument 'bogus'",
        ),
        (
            (KNOTS, CPTS, 1, 1, 0),
            {"knots": KNOTS},
            TypeError,
            "_dset_data() got multiple values for keyword argument 'knots'",
        ),
        (
            (KNOTS, CPTS, 1, 1, 0, True),
            {"owner": True},
            TypeError,
            "_dset_data() got multiple values for keyword argument 'owner'",
        ),
        # an unknown keyword is reported before a missing argument
        (
            (KNOTS,),
            {"Knots": KNOTS},
            TypeError,
            "_dset_data() got an unexpected keyword argument 'Knots'",
        ),
        (
            ("x", CPTS, 1, 1, 0, True),
            {},
            TypeError,
            "Argument 'knots' has incorrect type (expected bytes, got str)",
        ),
        (
            (KNOTS, bytearray(CPTS), 1, 1, 0, True),
            {},
            TypeError,
            "Argument 'cpts' has incorrect type (expected bytes, got bytearray)",
        ),
        (
            (memoryview(KNOTS), CPTS, 1, 1, 0, True),
            {},
            TypeError,
            "Argument 'knots' has incorrect type (expected bytes, got memoryview)",
        ),
        ((KNOTS, CPTS, "1", 1, 0, True), {}, TypeError, "an integer is required"),
        ((KNOTS, CPTS, 1, None, 0, True), {}, TypeError, "an integer is required"),
        ((KNOTS, CPTS, 1, 1, [0], True), {}, TypeError, "an integer is required"),
        (
            (KNOTS, CPTS, 1, 1, -1, True),
            {},
            OverflowError,
            "can't convert negative value to unsigned int",
        ),
        (
            (KNOTS, CPTS, 1, 1, -(2**70), True),
            {},
            OverflowError,
            "can't convert negative value to unsigned int",
        ),
        # conversions run in the order p, n, order, owner, then the types of knots and cpts
        (("x", CPTS, "p", 1, 0, True), {}, TypeError, "an integer is required"),
        ((KNOTS, CPTS, 1, "n", -1, True), {}, TypeError, "an integer is required"),
        (
            (KNOTS, 5, 1, 1, -1, True),
            {},
            OverflowError,
            "can't convert negative value to unsigned int",
        ),
        (
            (KNOTS, CPTS, 1, 1, -1, np.ones(2)),
            {},
            OverflowError,
            "can't convert negative value to unsigned int",
        ),
        (("x", CPTS, 1, 1, 0, np.ones(2)), {}, ValueError, "The truth value of an array"),
        (
            (5, "x", 1, 1, 0, True),
            {},
            TypeError,
            "Argument 'knots' has incorrect type (expected bytes, got int)",
        ),
    ],
)
def test_dset_data_argument_errors(args, kwargs, exc, message):
    t = cubic()
    before = snapshot(t)
    with pytest.raises(exc) as err:
        t._dset_data(*args, **kwargs)
    assert str(err.value).startswith(message)
    assert snapshot(t) == before


def test_dset_data_overflowing_numbers():
    t = cubic()
    before = snapshot(t)
    for args in [(KNOTS, CPTS, 2**31, 1, 0, True), (KNOTS, CPTS, 1, 1, 2**32, True)]:
        with pytest.raises(OverflowError):
            t._dset_data(*args)
    assert snapshot(t) == before


def test_dset_data_by_keyword():
    t = Trajectory1d()
    assert t._dset_data(owner=0, order=5, n=1, p=1, cpts=CPTS, knots=KNOTS) is None
    assert (t.p, t.n, t.order, t.start, t.stop) == (1, 1, 5, 0.0, 1.0)
    assert t.__getstate__() == (KNOTS, CPTS, 1, 1, 5, False)


@pytest.mark.parametrize("owner, flag", [(1, True), ("", False), ([0], True), (None, False)])
def test_dset_data_owner_is_a_truth_value(owner, flag):
    t = Trajectory1d()
    t._dset_data(KNOTS, CPTS, 1, 1, 0, owner)
    assert t.__getstate__()[5] is flag
    assert t._getAttrib()["owner"] == str(flag)


def test_dset_data_reads_only_what_the_sizes_need():
    t = Trajectory1d()
    t._dset_data(KNOTS + b"\x01" * 13, CPTS + f64([9.0]).tobytes(), 1, 1, 0, True)
    assert t.__getstate__() == (KNOTS, CPTS, 1, 1, 0, True)


# The arguments that the record refuses, whatever it held before, and before changing anything.
@pytest.mark.parametrize(
    "args, exc, message",
    [
        ((None, CPTS, 1, 1, 0, True), TypeError, "expected bytes, NoneType found"),
        ((KNOTS, None, 1, 1, 0, True), TypeError, "expected bytes, NoneType found"),
        ((None, None, 0, 0, 0, False), TypeError, "expected bytes, NoneType found"),
        ((KNOTS[:-1], CPTS, 1, 1, 0, True), ValueError, None),
        ((KNOTS, CPTS[:-8], 1, 1, 0, True), ValueError, None),
        ((b"", b"", 0, 0, 0, True), ValueError, None),
        ((KNOTS, CPTS, 1, 2, 0, True), ValueError, None),  # sizes for n = 2 are larger
        ((KNOTS, CPTS, 2**31 - 1, 2**31 - 1, 0, True), ValueError, None),
        ((KNOTS, CPTS, -1, 1, 0, True), ValueError, None),
        ((KNOTS, CPTS, 1, -1, 0, True), ValueError, None),
        ((KNOTS, CPTS, -2, -2, 0, True), ValueError, None),
        # knots are checked before cpts, the signs of p and n before both
        ((None, CPTS[:-8], 1, 1, 0, True), TypeError, "expected bytes, NoneType found"),
        ((KNOTS[:-8], None, 1, 1, 0, True), ValueError, None),
        ((None, None, -1, 0, 0, True), ValueError, None),
    ],
)
@pytest.mark.parametrize("target", ["cubic", "empty", "non-owner"])
def test_dset_data_refusals_change_nothing(args, exc, message, target):
    t = {"cubic": cubic, "empty": Trajectory1d, "non-owner": lambda: cubic(owner=False)}[target]()
    before = snapshot(t)
    with pytest.raises(exc) as err:
        t._dset_data(*args)
    if message is not None:
        assert str(err.value) == message
    assert snapshot(t) == before
    with pytest.raises(exc):
        t.__setstate__(args)
    assert snapshot(t) == before


def test_state_of_an_empty_trajectory_cannot_be_restored():
    t = cubic()
    with pytest.raises(TypeError, match="^expected bytes, NoneType found$"):
        t.__setstate__(Trajectory1d().__getstate__())
    assert t == cubic()


@pytest.mark.parametrize("data, kind", [("text", "str"), (bytearray(b"\0" * 32), "bytearray")])
def test_c_level_dset_data_refuses_other_objects(data, kind, vtable_probe):
    t = cubic()
    before = snapshot(t)
    for args in [(data, CPTS), (KNOTS, data)]:
        with pytest.raises(TypeError, match=f"^expected bytes, {kind} found$"):
            vtable_probe.dset_data(t, *args, 1, 1, 0, 1, 1)
    assert snapshot(t) == before


def test_non_owner_flag_stays_visible():
    t = cubic(owner=False)
    assert t.__getstate__()[5] is False and t._getAttrib()["owner"] == "False"
    u = Trajectory1d()
    u.__setstate__(t.__getstate__())
    assert u.__getstate__()[5] is False
    assert u == t and u != cubic()


def traced_growth(action, repeat=25):
    """Bytes still allocated through the interpreter's allocators after repeating action."""
    gc.collect()
    tracemalloc.start()
    try:
        action()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(repeat):
            action()
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()


BIG_N = 20000  # 25 repetitions of a leak of both arrays would be 8 MB
BIG = trajectory(
    np.r_[[0.0] * 3, np.linspace(0, 1, BIG_N - 1)[1:-1], [1.0] * 3], np.linspace(-1, 1, BIG_N), 2
)
BIG_STATE = BIG.__getstate__()
BIG_FREE_STATE = BIG_STATE[:5] + (False,)
kept = Trajectory1d()


@pytest.mark.parametrize(
    "action",
    [
        lambda: Trajectory1d()._dset_data(*BIG_FREE_STATE),
        lambda: Trajectory1d()._dset_data(*BIG_STATE),
        lambda: Trajectory1d().__setstate__(BIG_FREE_STATE),
        lambda: kept._dset_data(*BIG_FREE_STATE),  # replaces its own arrays each time
        lambda: kept._dset_data(*BIG_STATE),
        lambda: pickle.loads(pickle.dumps(BIG)),
        lambda: BIG.copy(),
        lambda: BIG.get_cpts_asarray(),
        lambda: pytest.raises(
            ValueError, Trajectory1d()._dset_data, BIG_STATE[0], BIG_STATE[1][:-1], *BIG_STATE[2:]
        ),
    ],
    ids=[
        "non-owner",
        "owner",
        "setstate non-owner",
        "replace non-owner",
        "replace owner",
        "pickle",
        "copy",
        "view",
        "refused",
    ],
)
def test_records_free_what_the_module_allocated(action):
    assert traced_growth(action) < 1_000_000


# --- overrides of the state operations ---------------------------------------------------------


def test_setstate_calls_a_dset_data_override():
    t = cubic(order=2)
    state = t.__getstate__()
    r = RecordingState()
    assert r.__setstate__(list(state)) is None
    assert r.log == [("set", state, {})]
    assert r == cubic(order=2, cls=RecordingState)
    back = pickle.loads(pickle.dumps(cubic(cls=RecordingState)))
    assert type(back) is RecordingState and back.log == [("set", cubic().__getstate__(), {})]


def test_setstate_propagates_errors_of_the_override():
    class Refusing(Trajectory1d):
        def _dset_data(self, *args):
            raise KeyError("refused")

    with pytest.raises(KeyError, match="refused"):
        Refusing().__setstate__(cubic().__getstate__())


def test_dset_data_override_through_the_table(vtable_probe):
    r = RecordingState()
    vtable_probe.dset_data(r, KNOTS, CPTS, 1, 1, 4, 7, 0)
    assert r.log == [("set", (KNOTS, CPTS, 1, 1, 4, True), {})]
    assert type(r.log[0][1][5]) is bool
    vtable_probe.dset_data(r, KNOTS, CPTS, 1, 1, 4, 0, 1)  # overrides skipped
    assert len(r.log) == 1 and r.__getstate__()[5] is False


def test_getstate_calls_the_overrides_in_order():
    r = cubic(cls=RecordingState)
    r.log = []
    r.knot_result, r.cpts_result = b"knots", None
    assert r.__getstate__() == (b"knots", None, 3, 5, 0, True)
    assert r.log == ["knots", "cpts"]


@pytest.mark.parametrize(
    "knot_result, cpts_result, message",
    [
        (5, "builtin", "Expected bytes, got int"),
        ("builtin", "text", "Expected bytes, got str"),
        (bytearray(b"k"), 5.0, "Expected bytes, got bytearray"),  # the knots are asked first
        ("builtin", [b"c"], "Expected bytes, got list"),
    ],
)
def test_getstate_checks_what_the_overrides_give(knot_result, cpts_result, message, vtable_probe):
    r = cubic(cls=RecordingState)
    r.knot_result, r.cpts_result = knot_result, cpts_result
    with pytest.raises(TypeError) as err:
        r.__getstate__()
    assert str(err.value) == message
    with pytest.raises(TypeError, match=f"^{message}$"):
        pickle.dumps(r)
    # The Python methods themselves are ordinary calls, without the check.
    assert r._sget_knotvector() is knot_result or knot_result == "builtin"
    # Through the table the same check applies; with overrides skipped the built-ins run.
    bad_first = "knots" if knot_result != "builtin" else "cpts"
    with pytest.raises(TypeError, match=f"^{message}$"):
        getattr(vtable_probe, f"sget_{'knotvector' if bad_first == 'knots' else 'cpts'}")(r, 0)
    assert vtable_probe.sget_knotvector(r, 1) == cubic()._sget_knotvector()
    assert vtable_probe.sget_cpts(r, 1) == cubic()._sget_cpts()


def test_copies_do_not_go_through_the_state():
    r = cubic(cls=RecordingState)
    r.knot_result = r.cpts_result = 5  # a state could not be taken
    r.log = []
    for how in [lambda t: t.copy(), copy.copy, copy.deepcopy]:
        assert how(r) == cubic()
    assert r.log == []


def test_state_override_by_instance_attribute(vtable_probe):
    t = cubic(cls=Sub)
    t._sget_cpts = lambda: b"instance"
    assert t.__getstate__()[1] == b"instance"
    assert vtable_probe.sget_cpts(t, 0) == b"instance"
    plain = cubic()
    assert vtable_probe.sget_cpts(plain, 0) == plain._sget_cpts()
