"""rshift, ashift, hscale and adapt: knot arithmetic, checks and invariance of the curve."""

import math
import re

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from pyorvex.defdatastruct import Trajectory1d
from traj_factory import abscissae, make_traj, random_traj, state
from vtable_access import c_op


def knots_of(t):
    return np.frombuffer(t._sget_knotvector())


def cubic(start, stop, order=0, interior=None):
    mid = (start + stop) / 2 if interior is None else interior
    knots = [start] * 4 + [mid] + [stop] * 4
    return make_traj(knots, [0.5, 1.0, -1.0, 2.0, 0.25], 3, order=order)


def test_rshift_moves_every_knot():
    t = cubic(0.0, 2.0)
    before = t.copy()
    xs = np.linspace(0.0, 2.0, 21)
    assert t.rshift(1.5) is None
    assert (t.start, t.stop) == (1.5, 3.5)
    np.testing.assert_array_equal(knots_of(t), knots_of(before) + 1.5)
    assert t._sget_cpts() == before._sget_cpts() and t.order == before.order
    np.testing.assert_allclose(t(xs + 1.5), before(xs), rtol=1e-12, atol=1e-12)


def test_ashift_puts_start_at_x():
    t = cubic(2.0, 5.0)
    assert t.ashift(10) is None
    assert (t.start, t.stop) == (10.0, 13.0)
    np.testing.assert_array_equal(knots_of(t), knots_of(cubic(2.0, 5.0)) + 8.0)


def test_hscale_keeps_start_and_control_points():
    t = cubic(1.0, 3.0, order=1, interior=2.0)
    cpts = t._sget_cpts()
    assert t.hscale(2) is None
    assert (t.start, t.stop) == (1.0, 5.0)
    assert knots_of(t)[4] == 3.0
    assert t._sget_cpts() == cpts and t.order == 1


@pytest.mark.parametrize("k", [1.0, 0.3, 3.0, 7.25])
def test_hscale_formula(k):
    rng = np.random.default_rng(3)
    t, knots, _ = random_traj(rng, 3, 9, start=-1.7, stop=4.1)
    t.hscale(k)
    # The repeated first knots stay where they are.
    expected = knots.copy()
    expected[4:] = k * knots[4:] - (k - 1.0) * knots[0]
    np.testing.assert_array_equal(knots_of(t), expected)
    if k == 1.0:
        np.testing.assert_array_equal(knots_of(t), knots)


@pytest.mark.parametrize("k", [0.05, 0.1, 0.3, 3.3])
def test_hscale_keeps_clamped_start(k):
    # Through the formula, rounding moves the repeated first knots off the first knot (for
    # these factors and start -3): the start would be unclamped and the value there lost.
    knots = np.array([-3.0, -3.0, -3.0, -3.0, -2.5, 1.0, 4.0, 4.0, 4.0, 4.0])
    t = make_traj(knots, [1.5, 2.0, -1.0, 0.5, 0.25, -0.75], 3)
    t.hscale(k)
    scaled = knots_of(t)
    np.testing.assert_array_equal(scaled[:4], [-3.0] * 4)
    assert np.all(np.diff(scaled) >= 0.0)
    assert t.peval(-3.0) == 1.5
    expected = k * knots[4:] - (k - 1.0) * knots[0]
    np.testing.assert_array_equal(scaled[4:], expected)


@pytest.mark.parametrize(
    "domain, args, scale, shift",
    [((2.0, 6.0), (0, 1), 0.25, -2.0), ((2.0, 3.0), (2, 4), 2.0, 0.0)],
)
def test_adapt(domain, args, scale, shift):
    t = cubic(*domain)
    knots = knots_of(t).copy()
    assert t.adapt(*args) is None
    expected = knots.copy()
    expected[4:] = scale * knots[4:] - (scale - 1.0) * knots[0]
    expected = expected + shift if shift else expected
    np.testing.assert_array_equal(knots_of(t), expected)
    assert (t.start, t.stop) == (float(args[0]), float(args[1]))


def test_adapt_keywords():
    t = cubic(2.0, 6.0)
    t.adapt(stop=1, start=0)
    assert (t.start, t.stop) == (0.0, 1.0)


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda t: t.adapt(1, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
        (lambda t: t.adapt(2, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
        # A NaN bound is refused by the same test instead of spreading NaN over the knots.
        (lambda t: t.adapt(math.nan, 1), ValueError, r"^'stop' must be strictly greater than 'start'$"),
        (lambda t: t.adapt(0, math.nan), ValueError, r"^'stop' must be strictly greater than 'start'$"),
        (lambda t: t.adapt(-math.inf, 1), ValueError, r"^'start' and 'stop' must be finite numbers$"),
        (lambda t: t.adapt(0, math.inf), ValueError, r"^'start' and 'stop' must be finite numbers$"),
        (lambda t: t.adapt(-1e308, 1e308), OverflowError, "overflow"),
        (lambda t: t.rshift(math.nan), ValueError, r"^'x' must be a finite number$"),
        (lambda t: t.rshift(-math.inf), ValueError, r"^'x' must be a finite number$"),
        (lambda t: t.rshift(1.7e308), OverflowError, "overflow"),
        (lambda t: t.ashift(math.inf), ValueError, r"^'x' must be a finite number$"),
        (lambda t: t.ashift(math.nan), ValueError, r"^'x' must be a finite number$"),
        (lambda t: t.hscale(0), ValueError, r"^'k' must be a finite number greater than zero$"),
        (lambda t: t.hscale(-1), ValueError, r"^'k' must be a finite number greater than zero$"),
        (lambda t: t.hscale(math.nan), ValueError, r"^'k' must be a finite number greater than zero$"),
        (lambda t: t.hscale(math.inf), ValueError, r"^'k' must be a finite number greater than zero$"),
        (lambda t: t.hscale(1e308), OverflowError, "overflow"),
        (lambda t: t.rshift("1"), TypeError, "must be real number"),
        (lambda t: t.ashift(None), TypeError, "must be real number"),
        (lambda t: t.hscale([2]), TypeError, "must be real number"),
        (lambda t: t.adapt(0, "1"), TypeError, "must be real number"),
        (lambda t: t.rshift(), TypeError, "takes exactly one argument"),
        (lambda t: t.hscale(1, 2), TypeError, "takes exactly one argument"),
        (lambda t: t.adapt(1), TypeError, r"^adapt\(\) takes exactly 2 positional arguments \(1 given\)$"),
        (lambda t: t.adapt(0, 1, stop=2), TypeError, r"^adapt\(\) got multiple values for keyword argument 'stop'$"),
    ],
)
def test_refused_transforms_change_nothing(call, exc, message):
    t = cubic(1.0, 1e308)
    before = state(t)
    with pytest.raises(exc, match=message):
        call(t)
    assert state(t) == before


def test_adapt_on_collapsed_domain():
    t = make_traj([1.0, 1.0], [3.0], 0)
    before = state(t)
    with pytest.raises(ValueError, match=r"^'stop' must be strictly greater than 'start'$"):
        t.adapt(2, 1)
    with pytest.raises(ZeroDivisionError, match=r"^float division by zero$"):
        t.adapt(0, 1)
    assert state(t) == before


def test_transforms_on_empty_record():
    t = Trajectory1d()
    t.rshift(1.0)
    t.hscale(2.0)
    assert t.start is None and t.stop is None
    with pytest.raises(TypeError, match=re.escape("unsupported operand type(s) for -: 'float' and 'NoneType'")):
        t.ashift(1.0)
    with pytest.raises(TypeError, match=re.escape("unsupported operand type(s) for -: 'NoneType' and 'NoneType'")):
        t.adapt(0.0, 1.0)


def test_transforms_read_start_and_stop_properties_of_subclasses():
    class Offset(Trajectory1d):
        @property
        def start(self):
            return 1.0

    t = make_traj([0.0, 0.0, 2.0, 2.0], [1.0, 2.0], 1, cls=Offset)
    t.ashift(5.0)  # d = 5 - 1
    np.testing.assert_array_equal(knots_of(t), [4.0, 4.0, 6.0, 6.0])


# --- the curve moves with its knots --------------------------------------------------------------

finite = st.floats(-50.0, 50.0, allow_nan=False)


@settings(max_examples=60, deadline=None)
@given(st.integers(0, 2**32 - 1), st.integers(0, 7), finite, st.floats(0.05, 20.0), finite,
       st.floats(0.1, 30.0))
def test_moved_trajectory_takes_old_value_at_moved_abscissa(seed, p, d, k, a, width):
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, start=-3.0, stop=4.0, repeat=True)
    # A degree-0 curve jumps at its knots, where the rounding of the moved abscissa decides the
    # side; its abscissae stay away from the knots.
    xs = abscissae(rng, knots, 20) if p else np.sort(rng.uniform(-2.9, 3.9, 20))
    old = t(xs)
    tol = dict(rtol=1e-7, atol=1e-7)

    shifted = t.copy()
    shifted.rshift(d)
    np.testing.assert_allclose(shifted(np.clip(xs + d, shifted.start, shifted.stop)), old, **tol)

    moved = t.copy()
    moved.ashift(a)
    assert moved.start == pytest.approx(a, abs=1e-12)
    np.testing.assert_allclose(moved(np.clip(xs - t.start + a, moved.start, moved.stop)), old, **tol)

    scaled = t.copy()
    scaled.hscale(k)
    assert scaled.start == t.start
    at = np.clip(t.start + k * (xs - t.start), scaled.start, scaled.stop)
    np.testing.assert_allclose(scaled(at), old, **tol)

    adapted = t.copy()
    adapted.adapt(a, a + width)
    assert adapted.start == pytest.approx(a, abs=1e-12)
    at = np.clip(a + (xs - t.start) * width / (t.stop - t.start), adapted.start, adapted.stop)
    np.testing.assert_allclose(adapted(at), old, **tol)


# --- C-level calls with overrides ----------------------------------------------------------------


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
    t = make_traj([0.0, 0.0, 1.0, 1.0], [1.0, 2.0], 1, cls=Overriding)
    before = state(t)
    assert c_op("rshift")(t, 2, 0) == 0
    assert c_op("ashift")(t, 3.5, 0) == 0
    assert c_op("hscale")(t, -1.0, 0) == 0
    assert c_op("adapt")(t, 1.0, 0.0, 0) == 0
    assert t.calls == [("rshift", 2.0), ("ashift", 3.5), ("hscale", -1.0), ("adapt", 1.0, 0.0)]
    assert all(type(v) is float for call in t.calls for v in call[1:])
    assert state(t) == before
    # Skipping the override runs the built-in, with its checks.
    assert c_op("rshift")(t, 2.0, 1) == 0
    assert (t.start, t.stop) == (2.0, 3.0)
    with pytest.raises(ValueError, match="strictly greater"):
        c_op("adapt")(t, 1.0, 0.0, 1)
