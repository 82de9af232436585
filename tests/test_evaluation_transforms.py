"""rshift, ashift, hscale and adapt: knot arithmetic, checks and invariance of the curve."""

import math
import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from support.method_table import entry
from support.trajectories import abscissae, knots_of, random_traj, state, trajectory

from pyorvex.defdatastruct import Trajectory1d


def cubic(start, stop, interior=None, order=0, cls=Trajectory1d):
    mid = (start + stop) / 2 if interior is None else interior
    return trajectory(
        [start] * 4 + [mid] + [stop] * 4, [0.5, 1.0, -1.0, 2.0, 0.25], 3, order, cls=cls
    )


def scaled(knots, k, shift=0.0):
    """The knots hscale(k) gives, then shifted: the repeated first knots stay in place."""
    out = knots.copy()
    out[4:] = k * knots[4:] - (k - 1.0) * knots[0]
    return out + shift


@pytest.mark.parametrize(
    "domain, call, new_domain, expected",
    [
        ((0.0, 2.0), lambda t: t.rshift(1.5), (1.5, 3.5), lambda u: u + 1.5),
        ((2.0, 5.0), lambda t: t.ashift(10), (10.0, 13.0), lambda u: u + 8.0),
        ((1.0, 3.0), lambda t: t.hscale(2), (1.0, 5.0), lambda u: scaled(u, 2.0)),
        ((1.0, 3.0), lambda t: t.hscale(1), (1.0, 3.0), lambda u: u),
        (
            (-1.7, 4.1),
            lambda t: t.hscale(7.25),
            (-1.7, scaled(np.array([-1.7] * 4 + [4.1]), 7.25)[4]),
            lambda u: scaled(u, 7.25),
        ),
        ((2.0, 6.0), lambda t: t.adapt(0, 1), (0.0, 1.0), lambda u: scaled(u, 0.25, -2.0)),
        ((2.0, 3.0), lambda t: t.adapt(stop=4, start=2), (2.0, 4.0), lambda u: scaled(u, 2.0)),
    ],
)
def test_transforms_move_only_the_knots(domain, call, new_domain, expected):
    t = cubic(*domain, order=1)
    before = t.copy()
    assert call(t) is None
    assert (t.start, t.stop) == new_domain
    np.testing.assert_array_equal(knots_of(t), expected(knots_of(before)))
    assert (t._sget_cpts(), t.order, t.p, t.n) == (before._sget_cpts(), 1, 3, 4)


@pytest.mark.parametrize("k", [0.05, 0.3, 3.3])
def test_hscale_keeps_clamped_start(k):
    # Through the formula, rounding moves the repeated first knots off -3 for these factors:
    # the start would be unclamped and the value there lost.
    t = trajectory([-3.0] * 4 + [-2.5, 1.0] + [4.0] * 4, [1.5, 2.0, -1.0, 0.5, 0.25, -0.75], 3)
    t.hscale(k)
    np.testing.assert_array_equal(knots_of(t)[:4], -3.0)
    assert np.all(np.diff(knots_of(t)) >= 0.0) and t.peval(-3.0) == 1.5


FINITE = r"^'x' must be a finite number$"
POSITIVE = r"^'k' must be a finite number greater than zero$"
STRICT = r"^'stop' must be strictly greater than 'start'$"


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda t: t.adapt(1, 1), ValueError, STRICT),
        (lambda t: t.adapt(2, 1), ValueError, STRICT),
        # A NaN bound fails the same test instead of spreading NaN over the knots.
        (lambda t: t.adapt(math.nan, 1), ValueError, STRICT),
        (
            lambda t: t.adapt(0, math.inf),
            ValueError,
            r"^'start' and 'stop' must be finite numbers$",
        ),
        (lambda t: t.adapt(-1e308, 1e308), OverflowError, "overflow"),
        (lambda t: t.rshift(math.nan), ValueError, FINITE),
        (lambda t: t.rshift(1.7e308), OverflowError, "overflow"),
        (lambda t: t.ashift(-math.inf), ValueError, FINITE),
        (lambda t: t.hscale(0), ValueError, POSITIVE),
        (lambda t: t.hscale(-1), ValueError, POSITIVE),
        (lambda t: t.hscale(math.nan), ValueError, POSITIVE),
        (lambda t: t.hscale(math.inf), ValueError, POSITIVE),
        (lambda t: t.hscale(1e308), OverflowError, "overflow"),
        (lambda t: t.rshift("1"), TypeError, "must be real number"),
        (lambda t: t.adapt(0, "1"), TypeError, "must be real number"),
        (lambda t: t.hscale(1, 2), TypeError, "takes exactly one argument"),
        (
            lambda t: t.adapt(1),
            TypeError,
            r"^adapt\(\) takes exactly 2 positional arguments \(1 given\)$",
        ),
        (
            lambda t: t.adapt(0, 1, stop=2),
            TypeError,
            r"^adapt\(\) got multiple values for keyword argument 'stop'$",
        ),
    ],
)
def test_refused_transforms_change_nothing(call, exc, message):
    t = cubic(1.0, 1e308)
    before = state(t)
    with pytest.raises(exc, match=message):
        call(t)
    assert state(t) == before


MOVE = [0.0] * 4 + [0.5, 1.0, 1.0 + 2**-52, 1.5] + [2.0] * 4  # a 2 s move, two close knots
MERGE = r"^the transform would merge or reverse distinct knots$"


@pytest.mark.parametrize(
    "knots, call, exc, message",
    [
        (MOVE, lambda t: t.ashift(1.7e18), ValueError, MERGE),  # a timestamp in nanoseconds
        (MOVE, lambda t: t.rshift(1e308), ValueError, MERGE),
        (MOVE, lambda t: t.rshift(1000.0), ValueError, MERGE),  # only the close pair merges
        (MOVE, lambda t: t.hscale(1e-320), ValueError, MERGE),  # subnormal spans
        (MOVE, lambda t: t.adapt(1e18, 1e18 + 256), ValueError, MERGE),
        ([-1e308] * 4 + [1e307] * 4, lambda t: t.hscale(1.7), OverflowError, "overflow"),
        # Still accepted near the limits: the spans stay distinct and normal.
        (MOVE, lambda t: t.hscale(1e-290), None, None),
        (MOVE[:6] + MOVE[7:], lambda t: t.ashift(1.7e9), None, None),
    ],
)
def test_transforms_that_would_collapse_or_overflow_knots_change_nothing(knots, call, exc, message):
    t = trajectory(knots, np.linspace(-1.0, 2.0, len(knots) - 4), 3)
    before = state(t)
    if exc is None:
        call(t)
        assert np.all(np.diff(knots_of(t))[np.diff(knots) > 0] > 0) and t(t.stop) == 2.0
        return
    with pytest.raises(exc, match=message):
        call(t)
    assert state(t) == before


def test_degenerate_and_empty_records():
    t = trajectory([1.0, 1.0], [3.0], 0)
    with pytest.raises(ValueError, match=STRICT):  # before the division
        t.adapt(2, 1)
    with pytest.raises(ZeroDivisionError, match=r"^float division by zero$"):
        t.adapt(0, 1)
    assert knots_of(t).tolist() == [1.0, 1.0]
    empty = Trajectory1d()
    empty.rshift(1.0)
    empty.hscale(2.0)
    assert empty.start is None
    with pytest.raises(
        TypeError, match=re.escape("unsupported operand type(s) for -: 'float' and 'NoneType'")
    ):
        empty.ashift(1.0)
    with pytest.raises(
        TypeError, match=re.escape("unsupported operand type(s) for -: 'NoneType' and 'NoneType'")
    ):
        empty.adapt(0.0, 1.0)


def test_start_property_of_subclass_is_used():
    class Offset(Trajectory1d):
        start = property(lambda self: 1.0)

    t = trajectory([0.0, 0.0, 2.0, 2.0], [1.0, 2.0], 1, cls=Offset)
    t.ashift(5.0)
    np.testing.assert_array_equal(knots_of(t), [4.0, 4.0, 6.0, 6.0])


finite = st.floats(-50.0, 50.0)


@settings(max_examples=60, deadline=None)
@given(
    st.integers(0, 2**32 - 1),
    st.integers(0, 7),
    finite,
    st.floats(0.05, 20.0),
    finite,
    st.floats(0.1, 30.0),
)
def test_moved_trajectory_takes_old_value_at_moved_abscissa(seed, p, d, k, a, width):
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, start=-3.0, stop=4.0, repeat=True)
    # A degree-0 curve jumps at its knots, where rounding decides the side: stay away from them.
    xs = abscissae(rng, knots, 20) if p else np.sort(rng.uniform(-2.9, 3.9, 20))
    old = t(xs)
    moves = [
        (lambda u: u.rshift(d), xs + d),
        (lambda u: u.ashift(a), xs - t.start + a),
        (lambda u: u.hscale(k), t.start + k * (xs - t.start)),
        (lambda u: u.adapt(a, a + width), a + (xs - t.start) * width / (t.stop - t.start)),
    ]
    for move, at in moves:
        u = t.copy()
        move(u)
        np.testing.assert_allclose(u(np.clip(at, u.start, u.stop)), old, rtol=1e-7, atol=1e-7)


class Overriding(Trajectory1d):
    def __init__(self):
        self.calls = []

    def rshift(self, x):
        self.calls.append(("rshift", x))
        return "ignored"

    def ashift(self, x):
        self.calls.append(("ashift", x))

    def hscale(self, k):
        self.calls.append(("hscale", k))

    def adapt(self, start, stop):
        self.calls.append(("adapt", start, stop))


def test_c_level_transforms_consult_overrides():
    t = cubic(0.0, 1.0, cls=Overriding)
    before = state(t)
    assert entry("rshift")(t, 2, 0) == entry("ashift")(t, 3.5, 0) == 0
    assert entry("hscale")(t, -1.0, 0) == entry("adapt")(t, 1.0, 0.0, 0) == 0
    assert t.calls == [("rshift", 2.0), ("ashift", 3.5), ("hscale", -1.0), ("adapt", 1.0, 0.0)]
    assert all(type(v) is float for call in t.calls for v in call[1:])
    assert state(t) == before
    assert entry("rshift")(t, 2.0, 1) == 0 and (t.start, t.stop) == (2.0, 3.0)  # override skipped
    with pytest.raises(ValueError, match=STRICT):
        entry("adapt")(t, 1.0, 0.0, 1)
