"""The call operator: scalars and array-likes, ordering, errors, input safety and overrides."""

import math
import threading
import time
import warnings
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from support.trajectories import trajectory

from pyorvex import make_trajectory
from pyorvex.defdatastruct import Trajectory1d

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.4, 1.1, 2.0, 2.0, 2.0, 2.0]
CPTS = [0.5, 1.0, -1.0, 2.0, 0.25, -0.75]


class GeneralRoute(Trajectory1d):
    """Overrides that only delegate: the call then goes step by step through the array library."""

    def ceval(self, xp):
        Trajectory1d.ceval(self, xp)

    def dceval(self, xp, nu=1):
        Trajectory1d.dceval(self, xp, nu)


@pytest.fixture
def traj():
    return trajectory(KNOTS, CPTS, 3)


def outcome(t, x, nu):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            r = t(x, nu)
        except Exception as e:  # noqa: BLE001 - the exception itself is compared
            return ("error", type(e), str(e))
    return ("array", type(r), r.dtype, r.shape, r.tobytes())  # NaN bits included


def _inputs():
    rng = np.random.default_rng(7)
    m = 30_000
    uniform = rng.uniform(0.0, 2.0, m)
    ordered = np.sort(uniform)
    nans = ordered.copy()
    nans[[5, 4096, 4097, 9000, m - 1]] = np.nan
    late_break = ordered.copy()
    late_break[[20_000, 20_001]] = late_break[[20_001, 20_000]]
    boundary_repeat = ordered.copy()  # only the comparison across a block boundary sees it
    boundary_repeat[4096] = boundary_repeat[4095]
    nan_then_smaller = ordered.copy()  # a NaN lets a smaller value pass the order test
    nan_then_smaller[4095], nan_then_smaller[4096] = np.nan, ordered[10]
    clustered = rng.permutation(np.r_[rng.uniform(1.0, 1.0 + 1e-9, m - 2), 0.0, 2.0])
    small = rng.permutation(np.linspace(0.0, 2.0, 50))
    return {
        "small-shuffled": small,
        "reversed-view": ordered[::-1],
        "strided-view": small[::3],
        "list": [1.9, 0.1, 1.1, 0.4],
        "tuple-int": (1, 0, 2),
        "range": range(3),
        "uint8": np.array([1, 0], dtype=np.uint8),
        "bool": np.array([True, False]),
        "float32": small.astype(np.float32),
        "float16": np.array([1.5, 0.25], dtype=np.float16),
        "longdouble": small.astype(np.longdouble),
        "big-endian": small.astype(">f8"),
        "zero-dim": np.array(0.75),
        "object": np.array([0.5, 0.2], dtype=object),
        "masked": np.ma.array([0.5, 0.2, 1.0]),
        "complex": np.array([0.5 + 0j, 0.2]),
        "nan-middle": [0.2, math.nan, 0.1],
        "nan-hides-top": [0.2, math.nan, 2.5],
        "nan-bottom": [math.nan, -0.5],
        "negative-nan": [0.5, -math.nan, 0.2],
        "duplicate": [0.3, 0.1, 0.3],
        "signed-zeros": [0.0, -0.0],
        "below": [0.5, -1.0],
        "above": [2.5, 0.5],
        "empty": [],
        "2d-list": [[0.1, 0.2]],
        "2d-array": np.zeros((2, 1)),
        "2d-strings": [["a"]],
        "strings": ["b", "a"],
        "none": None,
        "ragged": [[0.1], [0.2, 0.3]],
        "uniform-1023": uniform[:1023],
        "uniform-1024": uniform[:1024],
        "uniform": uniform,
        "ordered": ordered,
        "ordered-nans": nans,
        "shuffled-nans": rng.permutation(nans),
        "late-break": late_break,
        "boundary-repeat": boundary_repeat,
        "nan-then-smaller": nan_then_smaller,
        "clustered": clustered,
        "tiny-range": 1.0 + rng.integers(0, 3000, m) * 5e-324,
        "two-values": rng.choice([0.5, 1.5], m),
        "all-nan": np.full(m, np.nan),
        "with-infinity": np.r_[uniform[:-1], np.inf],
        "infinity-hidden-by-nan": np.r_[uniform[:-2], np.inf, np.nan],
        "ordered-above-domain": np.r_[ordered[:-1], 2.5],
        "shuffled-below-domain": rng.permutation(np.r_[-1.0, uniform[1:]]),
        "signed-zeros-large": np.r_[uniform[:-2], 0.0, -0.0],
    }


INPUTS = _inputs()


@pytest.mark.parametrize("nu", [0, 2, 5, -1])
@pytest.mark.parametrize("name", sorted(INPUTS))
def test_direct_route_matches_step_by_step_route(name, nu):
    # Same results bit for bit, or the same exception with the same message.
    x = INPUTS[name]
    expected = outcome(trajectory(KNOTS, CPTS, 3, cls=GeneralRoute), x, nu)
    assert outcome(trajectory(KNOTS, CPTS, 3), x, nu) == expected


@pytest.mark.parametrize("nu", [0, 1, 3])
def test_blockwise_evaluation_matches_one_kernel_call(traj, nu):
    x = np.sort(np.random.default_rng(5).uniform(0.0, 2.0, 20_000))
    whole = x.copy()  # ceval: one kernel call over the whole array
    traj.ceval(whole) if nu == 0 else traj.dceval(whole, nu)
    np.testing.assert_array_equal(traj(x, nu), whole)


@pytest.mark.parametrize(
    "x, value",
    [
        (0.5, 0.5),
        (np.float64(0.5), 0.5),
        (np.float32(0.5), 0.5),
        (np.int64(1), 1.0),
        (True, 1.0),
        (Fraction(1, 2), 0.5),
        (Decimal("0.5"), 0.5),
    ],
)
def test_scalars_give_floats(traj, x, value):
    assert type(traj(x)) is float and traj(x) == traj.peval(value)
    assert type(traj(x, 2)) is float and traj(x, 2) == traj.dpeval(value, 2)
    assert traj(x=x, nu=1) == traj.dpeval(value, 1)


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        (("abc",), {}, TypeError, "must be real number, not str"),  # a str is a scalar
        ((2.5,), {}, ValueError, r"^'x' out of domain: 2\.5$"),
        ((-1,), {"nu": 1}, ValueError, r"^'x' out of domain: -1\.0$"),
        (("abc", -1), {}, ValueError, r"^'nu' must be non-negative number$"),  # before conversion
        ((0.5,), {"nu": "a"}, TypeError, r"^an integer is required$"),
        (
            (),
            {"nu": 1},
            TypeError,
            r"^__call__\(\) takes at least 1 positional argument \(0 given\)$",
        ),
        (
            (0.1, 1, 2),
            {},
            TypeError,
            r"^__call__\(\) takes at most 2 positional arguments \(3 given\)$",
        ),
        ((0.1,), {"mu": 1}, TypeError, r"^__call__\(\) got an unexpected keyword argument 'mu'$"),
        (
            (0.1,),
            {"x": 1},
            TypeError,
            r"^__call__\(\) got multiple values for keyword argument 'x'$",
        ),
        (([0.1, 0.5, 0.5],), {}, ValueError, r"^'xp' must be increasing$"),
        (([],), {}, ValueError, r"^zero size arrays are not allowed$"),
        (([[0.1, 0.2]],), {}, ValueError, r"^'x' must be one-dimensional$"),
        (([0.5, 2.0000001],), {}, ValueError, r"^domain error$"),
        # NaN lies outside the domain, checked before repeats; None converts to NaN
        (([2.5, math.nan, 0.5],), {}, ValueError, r"^domain error$"),
        (([1.5, math.nan, 0.2], 1), {}, ValueError, r"^domain error$"),
        (([0.3, 0.3, math.nan],), {}, ValueError, r"^domain error$"),
        ((None,), {}, ValueError, r"^domain error$"),
        # the array path: conversion and dimensions first, then nu, then the evaluation checks
        (([[0.1]], -1), {}, ValueError, r"^'x' must be one-dimensional$"),
        ((["a"], -1), {}, ValueError, "could not convert"),
        (([0.5, 0.5], -1), {}, ValueError, r"^'nu' must be non-negative number$"),
        (([], -1), {}, ValueError, r"^'nu' must be non-negative number$"),
    ],
)
def test_call_errors(traj, args, kwargs, exc, message):
    with pytest.raises(exc, match=message):
        traj(*args, **kwargs)


def test_arrays_come_back_in_input_order(traj):
    r = traj([1.9, 0.1, 0.5])
    ordered = np.array([0.1, 0.5, 1.9])
    traj.ceval(ordered)
    np.testing.assert_array_equal(r, ordered[[2, 0, 1]])
    np.testing.assert_allclose(
        traj([0.4, 0.2], 1), [traj.dpeval(0.4), traj.dpeval(0.2)], rtol=1e-12
    )
    r = traj(np.array(0.5))
    assert isinstance(r, np.ndarray) and r.shape == (1,) and r.dtype == np.float64
    assert traj(np.array([2, 0], dtype=np.int32)).dtype == np.float64


@pytest.mark.parametrize("nu", [0, 1])
@pytest.mark.parametrize(
    "make",
    [
        lambda: [0.9, 0.1, 0.5],
        lambda: np.array([0.9, 0.1, 0.5]),
        lambda: np.array([0.1, 0.5, 0.9]),
        lambda: np.array([[0.1, 0.5]]),
        lambda: np.array([0.1, 0.5, 0.5]),
        lambda: np.array([1, 0]),
    ],
)
def test_input_is_never_modified(traj, make, nu):
    x = make()
    before = np.array(x, copy=True)
    try:
        r = traj(x, nu)
        assert not np.shares_memory(r, np.asarray(x)) and r.size == before.size
    except ValueError:
        pass
    np.testing.assert_array_equal(np.asarray(x), before)


def test_input_rewritten_by_another_thread_stays_in_bounds(traj):
    # The array library releases the interpreter lock while it copies or sorts, so another thread
    # can reorder x, or put NaN in it, between the checks and the evaluation. Any result or
    # ValueError will do; a read or write outside a buffer (a crash, or a sanitizer report) not.
    m = 300_000  # beyond the size from which arrays are shared among threads
    base = np.linspace(0.0, 2.0, m)
    shuffled = np.random.default_rng(3).permutation(base)
    x = base.copy()
    motion = make_trajectory(KNOTS, np.c_[CPTS, CPTS], 3)
    done = threading.Event()

    def scramble():
        while not done.is_set():
            np.copyto(x, shuffled)
            x[::-1].sort()
            x[m // 2] = np.nan
            np.copyto(x, base)

    calls = [
        lambda: traj(x),
        lambda: traj(x, 1),
        lambda: traj.ceval(x),
        lambda: traj.dceval(x, 2),
        lambda: traj.knotref(x),
        lambda: motion(x),
    ]
    writer = threading.Thread(target=scramble)
    writer.start()
    try:
        deadline = time.monotonic() + 1.5
        while time.monotonic() < deadline:
            for call in calls:
                try:
                    call()
                except ValueError:
                    pass
    finally:
        done.set()
        writer.join()


class Recording(Trajectory1d):
    def __init__(self):
        self.calls = []

    def peval(self, x):
        self.calls.append(("peval", x))
        return 100.0 + x

    def dpeval(self, x, nu=1):
        self.calls.append(("dpeval", x, nu))
        return 200.0 + nu

    def ceval(self, xp):
        self.calls.append(("ceval", list(xp)))
        for i in range(len(xp)):
            xp[i] = 10.0 * xp[i]

    def dceval(self, xp, nu=1):
        self.calls.append(("dceval", list(xp), nu))
        raise RuntimeError("refused by the subclass")


def test_call_uses_python_overrides():
    t = trajectory(KNOTS, CPTS, 3, cls=Recording)
    assert t(0.5) == 100.5 and t(0.5, 2) == 202.0
    # The overrides see the sorted copy; the results come back in input order.
    np.testing.assert_array_equal(t([0.3, 0.1]), [3.0, 1.0])
    x = np.array([0.3, 0.1, 0.2])
    with pytest.raises(RuntimeError, match="refused by the subclass"):
        t(x, 3)
    np.testing.assert_array_equal(x, [0.3, 0.1, 0.2])
    assert t.calls == [
        ("peval", 0.5),
        ("dpeval", 0.5, 2),
        ("ceval", [0.1, 0.3]),
        ("dceval", [0.1, 0.2, 0.3], 3),
    ]


@pytest.mark.parametrize("nu", [0, 1])
def test_override_may_keep_the_array_it_was_given(nu):
    # The call's sorted work array is freed when the call returns; a view an override kept must
    # not lead there (the next arrays of that size would take the freed memory).
    kept = []

    class Keeping(Trajectory1d):
        def ceval(self, xp):
            kept.append(xp)
            Trajectory1d.ceval(self, xp)

        def dceval(self, xp, nu=1):
            kept.append(xp)
            Trajectory1d.dceval(self, xp, nu)

    t = trajectory(KNOTS, CPTS, 3, cls=Keeping)
    np.testing.assert_array_equal(t([0.3, 0.1], nu), trajectory(KNOTS, CPTS, 3)([0.3, 0.1], nu))
    fresh = [np.full(2, 7.0) for _ in range(8)]
    kept[0][0] = kept[0][1] = 99.0
    assert all((a == 7.0).all() for a in fresh) and list(kept[0]) == [99.0, 99.0]


def test_instance_attribute_and_partial_overrides():
    class Sub(Trajectory1d):
        pass

    t, plain = trajectory(KNOTS, CPTS, 3, cls=Sub), trajectory(KNOTS, CPTS, 3)
    t.peval = lambda x: -1.5
    assert t(0.3) == -1.5
    # Arrays still go to the built-in ceval, and the result is a plain array.
    r = t([0.7, 0.2])
    assert type(r) is np.ndarray
    np.testing.assert_array_equal(r, plain([0.7, 0.2]))
