"""derivative, antiderivative and degelev: sizes, orders, checks and numerics."""

import numpy as np
import pytest
import scipy.interpolate as si
from hypothesis import given, settings
from hypothesis import strategies as st

from pyorvex.defdatastruct import Trajectory1d
from traj_factory import abscissae, make_traj, random_traj, state
from vtable_access import c_op, opt_nu

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.5, 1.0, 1.0, 1.0, 1.0]
CPTS = [0.0, 1.0, -1.0, 2.0, 0.5]


def knots_of(t):
    return np.frombuffer(t._sget_knotvector())


def cpts_of(t):
    return np.frombuffer(t._sget_cpts())


def owns_memory(t):
    return t._getAttrib()["owner"] == "True"


@pytest.mark.parametrize(
    "nu, p, n, order",
    [(1, 2, 3, 1), (2, 1, 2, 2), (3, 0, 1, 3), (0, 3, 4, 0)],
)
def test_derivative_sizes(nu, p, n, order):
    t = make_traj(KNOTS, CPTS, 3)
    d = t.derivative(nu)
    assert (d.p, d.n, d.order) == (p, n, order)
    assert knots_of(d).size == n + p + 2 and cpts_of(d).size == n + 1
    assert (d.start, d.stop) == (0.0, 1.0)


def test_derivative_default_and_keyword():
    t = make_traj(KNOTS, CPTS, 3, order=1)
    assert t.derivative() == t.derivative(1) == t.derivative(nu=1)
    assert t.derivative().order == 2


@pytest.mark.parametrize("nu", [4, 5, 60, 2**31 - 1])
def test_derivative_above_degree_is_the_zero_function(nu):
    # Consistent with dpeval, which gives 0 for such orders.
    t = make_traj([0.5, 0.5, 0.5, 0.5, 1.0, 2.0, 2.0, 2.0, 2.0], CPTS, 3, order=1)
    d = t.derivative(nu)
    assert (d.p, d.n, d.order) == (0, 0, 1 + nu)
    np.testing.assert_array_equal(knots_of(d), [0.5, 2.0])
    np.testing.assert_array_equal(cpts_of(d), [0.0])
    np.testing.assert_array_equal(d([0.5, 1.3, 2.0]), [0.0, 0.0, 0.0])
    assert t.dpeval(1.3, nu) == 0.0


def test_derivative_order_must_fit():
    t = make_traj(KNOTS, CPTS, 3, order=2**32 - 1)
    with pytest.raises(OverflowError):
        t.derivative(1)
    assert t.derivative(0).order == 2**32 - 1


@pytest.mark.parametrize(
    "nu, order, p, n",
    [(1, 2, 4, 5), (2, 2, 5, 6), (0, 0, 3, 4), (1, 1, 4, 5)],
)
def test_antiderivative_sizes(nu, order, p, n):
    t = make_traj(KNOTS, CPTS, 3, order=order)
    a = t.antiderivative(nu)
    assert (a.p, a.n, a.order) == (p, n, order - nu)
    assert knots_of(a).size == len(KNOTS) + 2 * nu and cpts_of(a).size == len(CPTS) + nu
    assert (a.start, a.stop) == (0.0, 1.0)
    # No integration constant: zero at the start.
    assert a.peval(0.0) == 0.0 or nu == 0


@pytest.mark.parametrize(
    "method, args, order, message",
    [
        ("derivative", (-1,), 0, "'nu' must be greater than or equal to zero: -1"),
        ("antiderivative", (-2,), 0, "'nu' must be greater than or equal to zero: -2"),
        ("antiderivative", (), 0, "negative 'order' not allowed"),
        ("antiderivative", (3,), 2, "negative 'order' not allowed"),
        ("degelev", (-1,), 0, "'nu' must be non-negative number"),
    ],
)
def test_calculus_value_errors(method, args, order, message):
    t = make_traj(KNOTS, CPTS, 3, order=order)
    before = state(t)
    with pytest.raises(ValueError, match="^" + message + "$"):
        getattr(t, method)(*args)
    assert state(t) == before


@pytest.mark.parametrize("method", ["derivative", "antiderivative", "degelev"])
def test_calculus_argument_errors(method):
    t = make_traj(KNOTS, CPTS, 3, order=1)
    with pytest.raises(TypeError, match="^an integer is required$"):
        getattr(t, method)("1")
    with pytest.raises(TypeError, match=rf"^{method}\(\) takes at most 1 positional argument \(2 given\)$"):
        getattr(t, method)(1, 2)
    with pytest.raises(TypeError, match=rf"^{method}\(\) got an unexpected keyword argument 'n'$"):
        getattr(t, method)(n=1)


@pytest.mark.parametrize("method", ["derivative", "antiderivative", "degelev"])
def test_calculus_on_empty_record(method):
    with pytest.raises(ValueError, match="knot vector"):
        getattr(Trajectory1d(), method)(0)


def test_degelev_sizes():
    t = make_traj(KNOTS, CPTS, 3, order=2)
    e = t.degelev(1)
    assert (e.p, e.n, e.order) == (4, 6, 2)
    assert knots_of(e).size == 12 and cpts_of(e).size == 7
    assert (e.start, e.stop) == (0.0, 1.0)
    e0 = t.degelev(0)
    assert (e0.p, e0.n, e0.order) == (3, 4, 2) and e0 is not t
    e3 = t.degelev(3)
    assert (e3.p, e3.n) == (6, 4 + 3 * 2) and knots_of(e3).size == 9 + 3 * 3


def test_degelev_default_and_keyword():
    t = make_traj(KNOTS, CPTS, 3)
    assert t.degelev() == t.degelev(nu=1) == t.degelev(1)


@pytest.mark.parametrize("method", ["derivative", "antiderivative", "degelev"])
def test_results_are_new_owning_plain_trajectories(method):
    class Sub(Trajectory1d):
        pass

    t = make_traj(KNOTS, CPTS, 3, order=1, cls=Sub)
    before = state(t)
    r = getattr(t, method)()
    assert type(r) is Trajectory1d and r is not t
    assert owns_memory(r)
    assert state(t) == before
    # Independent memory: changing the result leaves the source alone.
    r.get_cpts_asarray()[:] = 99.0
    assert state(t) == before


# --- numerics against an independent implementation ----------------------------------------------


@pytest.mark.parametrize("p", range(8))
def test_derivative_matches_reference(p):
    rng = np.random.default_rng(p)
    t, knots, cpts = random_traj(rng, p, start=-1.0, stop=3.0, repeat=True)
    ref = si.BSpline(knots, cpts, p)
    xs = abscissae(rng, knots)
    for nu in range(p + 1):
        d = t.derivative(nu)
        expected = ref(xs, nu)
        scale = max(1.0, np.max(np.abs(expected)))
        np.testing.assert_allclose(d(xs), expected, rtol=1e-9, atol=1e-9 * scale)
        np.testing.assert_allclose(d(xs), t(xs, nu), rtol=1e-9, atol=1e-9 * scale)


@pytest.mark.parametrize("p", range(8))
def test_antiderivative_matches_reference(p):
    rng = np.random.default_rng(100 + p)
    t, knots, cpts = random_traj(rng, p, start=0.5, stop=2.5, order=3, repeat=True)
    ref = si.BSpline(knots, cpts, p)
    xs = abscissae(rng, knots)
    for nu in (1, 2, 3):
        a = t.antiderivative(nu)
        expected = ref.antiderivative(nu)(xs)
        scale = max(1.0, np.max(np.abs(expected)))
        np.testing.assert_allclose(a(xs), expected, rtol=1e-9, atol=1e-9 * scale)


@pytest.mark.parametrize("p", range(8))
def test_degelev_keeps_curve(p):
    rng = np.random.default_rng(200 + p)
    t, knots, cpts = random_traj(rng, p, start=-2.0, stop=1.0, repeat=True)
    xs = abscissae(rng, knots)
    for nu in (1, 2):
        e = t.degelev(nu)
        np.testing.assert_allclose(e(xs), t(xs), rtol=1e-9, atol=1e-9)


splines = st.builds(
    lambda seed, p, extra, repeat: (seed, p, extra, repeat),
    st.integers(0, 2**32 - 1),
    st.integers(0, 7),
    st.integers(0, 10),
    st.booleans(),
)


@settings(max_examples=60, deadline=None)
@given(splines, st.integers(1, 3))
def test_derivative_of_antiderivative_is_original(spec, nu):
    seed, p, extra, repeat = spec
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, p + extra, start=-1.0, stop=1.0, order=nu, repeat=repeat)
    back = t.antiderivative(nu).derivative(nu)
    assert (back.p, back.n, back.order) == (t.p, t.n, t.order)
    xs = abscissae(rng, knots)
    # Differencing amplifies rounding by about (domain / shortest span) per order.
    spans = np.diff(np.unique(knots))
    tol = 1e-13 * (2.0 / spans.min()) ** nu
    np.testing.assert_allclose(back(xs), t(xs), rtol=tol, atol=tol)


@settings(max_examples=60, deadline=None)
@given(splines, st.integers(0, 3))
def test_degree_elevation_keeps_the_curve(spec, nu):
    seed, p, extra, repeat = spec
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, p + extra, start=0.0, stop=5.0, repeat=repeat)
    e = t.degelev(nu)
    assert (e.p, e.order, e.start, e.stop) == (t.p + nu, t.order, t.start, t.stop)
    xs = abscissae(rng, knots)
    np.testing.assert_allclose(e(xs), t(xs), rtol=1e-8, atol=1e-8)


# --- C-level calls with overrides ----------------------------------------------------------------


class Overriding(Trajectory1d):
    result = None

    def __init__(self):
        self.calls = []

    def derivative(self, nu=1):
        self.calls.append(("derivative", nu))
        return self.result

    def antiderivative(self, nu=1):
        self.calls.append(("antiderivative", nu))
        return self.result

    def degelev(self, nu=1):
        self.calls.append(("degelev", nu))
        return self.result


@pytest.mark.parametrize("name", ["derivative", "antiderivative", "degelev"])
def test_c_level_calculus_consults_overrides(name):
    t = make_traj(KNOTS, CPTS, 3, order=1, cls=Overriding)
    op = c_op(name)
    assert op(t, 0, opt_nu()) is None
    other = make_traj(KNOTS, CPTS, 3)
    t.result = other
    assert op(t, 0, opt_nu(2)) is other
    t.result = 5
    with pytest.raises(TypeError, match=r"^Cannot convert int to pyorvex\.defdatastruct\.Trajectory1d$"):
        op(t, 0, opt_nu())
    assert t.calls == [(name, 1), (name, 2), (name, 1)]
    # With overrides skipped the built-in runs.
    assert op(t, 1, opt_nu(1)) == getattr(Trajectory1d, name)(t, 1)
