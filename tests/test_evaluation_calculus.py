"""derivative, antiderivative and degelev: sizes, orders, checks and numerics."""

import pickle

import numpy as np
import pytest
import scipy.interpolate as si
from hypothesis import given, settings
from hypothesis import strategies as st
from support import oracle
from support.method_table import entry, opt_nu
from support.trajectories import abscissae, random_traj, state, trajectory

from pyorvex.curvekit import MAX_DEGREE
from pyorvex.defdatastruct import Trajectory1d

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.5, 1.0, 1.0, 1.0, 1.0]
CPTS = [0.0, 1.0, -1.0, 2.0, 0.5]


def sizes(t):
    return (t.p, t.n, t.order, len(t._sget_knotvector()) // 8, len(t._sget_cpts()) // 8)


@pytest.mark.parametrize(
    "method, nu, order, expected",
    [
        ("derivative", 1, 0, (2, 3, 1, 7, 4)),
        ("derivative", 2, 0, (1, 2, 2, 5, 3)),
        ("derivative", 0, 0, (3, 4, 0, 9, 5)),
        ("antiderivative", 1, 2, (4, 5, 1, 11, 6)),
        ("antiderivative", 2, 2, (5, 6, 0, 13, 7)),
        ("degelev", 1, 2, (4, 6, 2, 12, 7)),
        ("degelev", 0, 2, (3, 4, 2, 9, 5)),
        ("degelev", 3, 0, (6, 10, 0, 18, 11)),
    ],
)
def test_sizes_and_orders(method, nu, order, expected):
    class Sub(Trajectory1d):
        pass

    t = trajectory(KNOTS, CPTS, 3, order=order, cls=Sub)
    before = state(t)
    r = getattr(t, method)(nu)
    assert sizes(r) == expected and (r.start, r.stop) == (0.0, 1.0)
    # A new, owning, plain trajectory; self unchanged, also when the result is changed.
    assert type(r) is Trajectory1d and r._getAttrib()["owner"] == "True"
    r.get_cpts_asarray()[:] = 99.0
    assert state(t) == before
    assert getattr(t, method)(nu=1) == getattr(t, method)()


@pytest.mark.parametrize("nu", [4, 60, 2**31 - 1])
def test_derivative_above_degree_is_the_zero_function(nu):
    # Consistent with dpeval, which gives 0 for such orders.
    t = trajectory([0.5] * 4 + [1.0] + [2.0] * 4, CPTS, 3, order=1)
    d = t.derivative(nu)
    assert sizes(d) == (0, 0, 1 + nu, 2, 1)
    assert d._sget_knotvector() == np.array([0.5, 2.0]).tobytes()
    assert d._sget_cpts() == np.zeros(1).tobytes()
    np.testing.assert_array_equal(d([0.5, 1.3, 2.0]), 0.0)
    assert t.dpeval(1.3, nu) == 0.0


@pytest.mark.parametrize(
    "method, args, kwargs, order, exc, message",
    [
        (
            "derivative",
            (-1,),
            {},
            0,
            ValueError,
            r"^'nu' must be greater than or equal to zero: -1$",
        ),
        ("derivative", (1,), {}, 2**32 - 1, OverflowError, "unsigned int"),
        (
            "antiderivative",
            (-2,),
            {},
            0,
            ValueError,
            r"^'nu' must be greater than or equal to zero: -2$",
        ),
        ("antiderivative", (), {}, 0, ValueError, r"^negative 'order' not allowed$"),
        ("antiderivative", (3,), {}, 2, ValueError, r"^negative 'order' not allowed$"),
        ("degelev", (-1,), {}, 0, ValueError, r"^'nu' must be non-negative number$"),
        ("derivative", ("1",), {}, 0, TypeError, r"^an integer is required$"),
        (
            "antiderivative",
            (1, 2),
            {},
            1,
            TypeError,
            r"^antiderivative\(\) takes at most 1 positional argument \(2 given\)$",
        ),
        (
            "degelev",
            (),
            {"n": 1},
            0,
            TypeError,
            r"^degelev\(\) got an unexpected keyword argument 'n'$",
        ),
    ],
)
def test_calculus_errors(method, args, kwargs, order, exc, message):
    t = trajectory(KNOTS, CPTS, 3, order=order)
    before = state(t)
    with pytest.raises(exc, match=message):
        getattr(t, method)(*args, **kwargs)
    assert state(t) == before


@pytest.mark.parametrize("method", ["derivative", "antiderivative", "degelev"])
def test_calculus_on_empty_record(method):
    with pytest.raises(ValueError, match="knot vector"):
        getattr(Trajectory1d(), method)(0)


@pytest.mark.parametrize("p", range(8))
def test_results_match_reference(p):
    rng = np.random.default_rng(p)
    t, knots, cpts = random_traj(rng, p, start=-1.0, stop=3.0, order=3, repeat=True)
    ref = oracle.spline(knots, cpts, p)
    xs = abscissae(rng, knots)
    results = [(t.derivative(nu), ref(xs, nu)) for nu in range(p + 1)]
    results += [(t.antiderivative(nu), ref.antiderivative(nu)(xs)) for nu in (1, 2, 3)]
    results += [(t.degelev(nu), ref(xs)) for nu in (1, 2)]
    for r, expected in results:
        scale = max(1.0, np.max(np.abs(expected)))
        np.testing.assert_allclose(r(xs), expected, rtol=1e-9, atol=1e-9 * scale)


splines = st.tuples(st.integers(0, 2**32 - 1), st.integers(0, 7), st.integers(0, 10), st.booleans())


@settings(max_examples=60, deadline=None)
@given(splines, st.integers(1, 3))
def test_derivative_of_antiderivative_is_original(spline, nu):
    seed, p, extra, repeat = spline
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, p + extra, start=-1.0, stop=1.0, order=nu, repeat=repeat)
    back = t.antiderivative(nu).derivative(nu)
    assert (back.p, back.n, back.order) == (t.p, t.n, t.order)
    # Differencing amplifies rounding by about (domain / shortest span) per order.
    tol = 1e-13 * (2.0 / np.diff(np.unique(knots)).min()) ** nu
    xs = abscissae(rng, knots)
    np.testing.assert_allclose(back(xs), t(xs), rtol=tol, atol=tol)


@settings(max_examples=60, deadline=None)
@given(splines, st.integers(0, 3))
def test_degree_elevation_keeps_the_curve(spline, nu):
    seed, p, extra, repeat = spline
    rng = np.random.default_rng(seed)
    t, knots, _ = random_traj(rng, p, p + extra, start=0.0, stop=5.0, repeat=repeat)
    e = t.degelev(nu)
    assert (e.p, e.order, e.start, e.stop) == (t.p + nu, t.order, t.start, t.stop)
    xs = abscissae(rng, knots)
    np.testing.assert_allclose(e(xs), t(xs), rtol=1e-8, atol=1e-8)


class Overriding(Trajectory1d):
    result = None

    def __init__(self):
        self.calls = []

    def derivative(self, nu=1):
        self.calls.append(nu)
        return self.result

    antiderivative = degelev = derivative


@pytest.mark.parametrize("name", ["derivative", "antiderivative", "degelev"])
def test_c_level_calculus_consults_overrides(name):
    t = trajectory(KNOTS, CPTS, 3, order=1, cls=Overriding)
    op = entry(name)
    assert op(t, 0, opt_nu()) is None
    t.result = other = trajectory(KNOTS, CPTS, 3)
    assert op(t, 0, opt_nu(2)) is other
    t.result = 5
    with pytest.raises(
        TypeError, match=r"^Cannot convert int to pyorvex\.defdatastruct\.Trajectory1d$"
    ):
        op(t, 0, opt_nu())
    assert t.calls == [1, 2, 1]
    assert op(t, 1, opt_nu(1)) == getattr(Trajectory1d, name)(t, 1)  # override skipped


def cox_de_boor(knots, cpts, p, xs, nu=0):
    """sum c_i B_i^(nu)(x) over the knot vector as it stands, one basis function at a time
    (below the last knot: scipy's basis elements take the right-hand limit there)."""
    total = np.zeros_like(xs)
    for i, c in enumerate(cpts):
        b = si.BSpline.basis_element(knots[i : i + p + 2], extrapolate=False)(xs, nu)
        total += c * np.nan_to_num(b)
    return total


def integral_from_start(knots, cpts, p, xs):
    """Gauss-Legendre quadrature of the Cox-de Boor sum, span by span (exact for degree p)."""
    nodes, weights = np.polynomial.legendre.leggauss(p + 1)
    out = []
    for x in xs:
        total = 0.0
        for a, b in zip(knots[:-1], np.minimum(knots[1:], x)):
            if a < b:
                s = 0.5 * (b - a) * nodes + 0.5 * (a + b)
                total += 0.5 * (b - a) * weights @ cox_de_boor(knots, cpts, p, s)
        out.append(total)
    return np.array(out)


@pytest.mark.parametrize(
    "knots, p",
    [
        (np.arange(10.0), 3),  # uniform, both ends open
        ([0, 1, 2, 3, 4, 5, 5, 5, 5], 3),  # open start
        ([0, 0, 0, 1, 2, 3, 4], 2),  # open end
        ([0, 1, 2, 2, 3, 4, 4, 4, 5, 6], 3),  # repeated interior knots, open ends
        ([0, 1, 2], 1),  # a hat
    ],
)
def test_calculus_on_unclamped_ends_holds_on_the_whole_domain(knots, p):
    knots = np.asarray(knots, dtype=float)
    rng = np.random.default_rng(len(knots))
    cpts = rng.uniform(0.5, 2.0, len(knots) - p - 1)
    t = trajectory(knots, cpts, p, order=1)
    start, stop = knots[0], knots[-1]
    xs = np.r_[start, np.sort(rng.uniform(start, stop, 30)), stop]
    for nu in range(1, p + 1):
        d = t.derivative(nu)
        assert (d.start, d.stop) == (start, stop)
        np.testing.assert_allclose(d(xs[:-1]), cox_de_boor(knots, cpts, p, xs[:-1], nu), atol=1e-12)
        np.testing.assert_allclose(d(xs), t(xs, nu), atol=1e-12)
    a = t.antiderivative()
    np.testing.assert_allclose(
        a(xs) - a(start), integral_from_start(knots, cpts, p, xs), atol=1e-12
    )
    np.testing.assert_allclose(t.degelev(2)(xs), t(xs), atol=1e-12)
    # The constraint on the antiderivative uses it: the whole integral is scaled to 3.
    t.setValueAm((stop, 3.0, 0))
    assert t.antiderivative()(stop) == pytest.approx(3.0, rel=1e-12)


@pytest.mark.parametrize("p, nu", [(14, 1), (16, 2), (40, 5), (3, MAX_DEGREE - 3)])
def test_degree_elevation_stays_accurate_at_high_degrees(p, nu):
    # Ten spans: the interior knots are what makes elevation hard (and the binomial weights of
    # the last case, up to C(1024, 512), what makes it overflow).
    rng = np.random.default_rng(p)
    knots = np.r_[[0.0] * (p + 1), np.arange(1, 10) / 10, [1.0] * (p + 1)]
    t = trajectory(knots, rng.uniform(-1.0, 1.0, p + 10), p)
    xs = np.sort(rng.uniform(0.0, 1.0, 40))
    e = t.degelev(nu)
    assert e.p == p + nu
    np.testing.assert_allclose(e(xs), t(xs), rtol=0, atol=1e-12)


def test_results_above_the_maximum_degree_are_refused():
    t = trajectory(KNOTS, CPTS, 3, order=2**31 - 1)
    top = t.degelev(MAX_DEGREE - 3)
    assert t.antiderivative(MAX_DEGREE - 3).p == top.p == MAX_DEGREE
    for call, degree in [
        (lambda: t.degelev(MAX_DEGREE - 2), MAX_DEGREE + 1),
        (lambda: top.degelev(1), MAX_DEGREE + 1),
        (lambda: t.antiderivative(MAX_DEGREE - 2), MAX_DEGREE + 1),
        (lambda: t.degelev(2**31 - 1), 2**31 + 2),  # p + nu beyond int
        (lambda: t.antiderivative(2**31 - 1), 2**31 + 2),
    ]:
        with pytest.raises(
            ValueError, match=f"^degree {degree} exceeds the maximum supported degree {MAX_DEGREE}$"
        ):
            call()


@pytest.mark.parametrize(
    "operation",
    [
        lambda t: t(0.5),
        lambda t: t([0.2, 0.5]),
        lambda t: t(0.5, 1),
        lambda t: t.peval(0.5),
        lambda t: t.dpeval(0.5, 2),
        lambda t: t.ceval(np.array([0.5])),
        lambda t: t.dceval(np.array([0.5]), 1),
        lambda t: t.derivative(),
        lambda t: t.derivative(2000),
        lambda t: t.degelev(0),
        lambda t: t.knotins(0.5, 1),
        lambda t: t.knotref(np.array([0.5])),
        lambda t: t.knotrem(0.5, 1),
        lambda t: t.knotsrem(),
        lambda t: t.knotrem_notol(0.5, 1),
        lambda t: t + t,
        lambda t: t.get_xcpts(),
        lambda t: t.setValueTr((0.5, 1.0, 0)),
        lambda t: t.setValueAm((0.5, 1.0, 0)),
    ],
)
def test_records_above_the_maximum_degree_are_data_only(operation, tmp_path):
    p = MAX_DEGREE + 1
    t = trajectory([0.0] * (p + 1) + [1.0] * (p + 1), np.linspace(-1.0, 1.0, p + 1), p)
    before = state(t)
    with pytest.raises(
        ValueError, match=f"^degree {p} exceeds the maximum supported degree {MAX_DEGREE}$"
    ):
        operation(t)
    assert state(t) == before
    # Still data: copied, compared, pickled, saved and loaded.
    assert t.copy() == t and pickle.loads(pickle.dumps(t)) == t
    t.savexml(str(tmp_path / "high.pyorvex"), "high")
    assert Trajectory1d.loadxml(str(tmp_path / "high.pyorvex"), "high") == t
