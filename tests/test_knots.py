"""Knot insertion, refinement and removal of Trajectory1d."""

import math

import numpy as np
import pytest
from scipy.interpolate import insert
from support import oracle
from support.method_table import DView, dview, entry, opt_tol
from support.trajectories import (
    clamped_knots,
    cpts_of,
    grid,
    knots_of,
    random_traj,
    state,
    trajectory,
)

from pyorvex.defdatastruct import Trajectory1d

SINGLE = ["knotins", "knotrem", "knotrem_notol"]
REMOVALS = ["knotrem", "knotrem_notol"]


@pytest.fixture
def cubic():
    # Domain [0, 2]; 1.0 is a double knot.
    knots = clamped_knots([0.5, 1.0, 1.0, 1.5], 3, 0.0, 2.0)
    return trajectory(knots, [0.0, 1.0, -1.0, 2.0, 0.5, 1.5, -0.5, 1.0], 3, order=1)


def message(excinfo):
    return str(excinfo.value)


# --- checks, their messages and their order --------------------------------------------------------


@pytest.mark.parametrize("method", SINGLE)
@pytest.mark.parametrize("u", [-1e-9, 2.0000000001, -math.inf, math.inf, 1e300])
def test_u_outside_domain_is_reported_before_a_negative_r(cubic, method, u):
    with pytest.raises(ValueError) as e:
        getattr(cubic, method)(u, -1)
    assert message(e) == "'u' out of domain: {}".format(u)


@pytest.mark.parametrize("method", SINGLE)
@pytest.mark.parametrize("u", [0.0, 2.0])
def test_domain_ends_belong_to_the_domain(cubic, method, u):
    with pytest.raises(ValueError) as e:
        getattr(cubic, method)(u, -1)
    assert message(e) == "'r' must be non-negative number"
    assert getattr(cubic, method)(u, 1).p == 3


@pytest.mark.parametrize("p", [0, 1, 5])
def test_knotins_bounds_r_by_p(p):
    t = trajectory(clamped_knots([0.5], p), np.ones(p + 2), p)
    assert t.knotins(0.25, p).n == t.n + p
    with pytest.raises(ValueError) as e:
        t.knotins(0.25, p + 1)
    assert message(e) == "'r' must be less than or equal to 'p'"
    with pytest.raises(ValueError) as e:
        t.knotins(0.25, -1)
    assert message(e) == "'r' must be non-negative number"


@pytest.mark.parametrize("method", REMOVALS)
def test_removal_count_has_no_upper_bound(cubic, method):
    assert getattr(cubic, method)(0.7, 10**6).n == cubic.n


class Window(Trajectory1d):
    """Declares a narrower domain than its knots span; the first read of start may also give it
    new, larger arrays (as any Python code run by a property could)."""

    regrow = None

    @property
    def start(self):
        if self.regrow is not None:
            grown, self.regrow = self.regrow, None
            self._dset_data(grown._sget_knotvector(), grown._sget_cpts(), grown.p, grown.n, 1, True)
        return 0.5

    stop = property(lambda self: 1.5)


@pytest.mark.parametrize("method", SINGLE)
def test_domain_is_read_from_the_start_and_stop_properties(cubic, method):
    t = trajectory(knots_of(cubic), cpts_of(cubic), 3, order=1, cls=Window)
    for u in (0.25, 1.75):
        with pytest.raises(ValueError) as e:
            getattr(t, method)(u, 1)
        assert message(e) == "'u' out of domain: {}".format(u)
    grown = cubic.knotins(0.3, 2)
    t.regrow = grown
    assert state(getattr(t, method)(1.5, 1)) == state(getattr(grown, method)(1.5, 1))


def test_knotins_refuses_nan_as_outside_the_domain(cubic):
    with pytest.raises(ValueError) as e:
        cubic.knotins(math.nan, 1)
    assert message(e) == "'u' out of domain: nan"


@pytest.mark.parametrize(
    "X",
    [
        [0.2, 0.2],
        [0.5, 0.3],
        [0.1, 0.4, 0.4, 0.9],
        [0.1, 0.5, 0.3],
        [math.nan],
        [0.1, math.nan],
        [math.nan, 0.1],
    ],
)
def test_knotref_needs_strictly_increasing_values(cubic, X):
    before = state(cubic)
    with pytest.raises(ValueError) as e:
        cubic.knotref(np.array(X))
    assert message(e) == "'X' must be increasing"
    assert state(cubic) == before


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda t: t.knotins("a", 1), TypeError, None),
        (lambda t: t.knotins(9.0, "a"), TypeError, "an integer is required"),
        (
            lambda t: t.knotins(0.5),
            TypeError,
            "knotins() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda t: t.knotins(0.5, 1, 2),
            TypeError,
            "knotins() takes exactly 2 positional arguments (3 given)",
        ),
        (
            lambda t: t.knotins(0.5, r=1, s=2),
            TypeError,
            "knotins() got an unexpected keyword argument 's'",
        ),
        (
            lambda t: t.knotins(0.5, 1, u=0.5),
            TypeError,
            "knotins() got multiple values for keyword argument 'u'",
        ),
        (lambda t: t.knotrem(9.0, 1, "x"), TypeError, None),
        (
            lambda t: t.knotrem(0.5),
            TypeError,
            "knotrem() takes at least 2 positional arguments (1 given)",
        ),
        (
            lambda t: t.knotrem(0.5, 1, 1e-3, 4),
            TypeError,
            "knotrem() takes at most 3 positional arguments (4 given)",
        ),
        (
            lambda t: t.knotsrem(1e-13, 2),
            TypeError,
            "knotsrem() takes at most 1 positional argument (2 given)",
        ),
        (lambda t: t.knotsrem(None), TypeError, None),
        (lambda t: t.knotrem_notol(9.0, None), TypeError, "an integer is required"),
        (lambda t: t.knotrem_notol(0.5, 2**40), OverflowError, None),
        (lambda t: t.knotref(X=None), TypeError, None),
        (lambda t: t.knotref(), TypeError, None),
        (lambda t: t.knotref([0.5]), TypeError, None),
        (lambda t: t.knotref(np.array([1, 2])), ValueError, None),
    ],
)
def test_arguments_are_converted_before_any_check(cubic, call, error, text):
    with pytest.raises(error) as e:
        call(cubic)
    if text is not None:
        assert message(e) == text


def test_keyword_forms_and_truncated_counts(cubic):
    assert cubic.knotins(u=0.7, r=2).n == cubic.n + 2
    assert cubic.knotins(0.7, 2.9).n == cubic.n + 2
    assert cubic.knotrem(u=0.7, r=1, tol=1e-3).n == cubic.n
    assert cubic.knotsrem(tol=-1.0).n == cubic.n
    assert cubic.knotrem_notol(u=1.0, r=1.7).n == cubic.n - 1


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.knotins(0.0, 0),
        lambda t: t.knotref(None),
        lambda t: t.knotrem(0.0, 0),
        lambda t: t.knotsrem(),
        lambda t: t.knotrem_notol(0.0, 0),
    ],
)
def test_empty_trajectory_is_refused(call):
    with pytest.raises(ValueError):
        call(Trajectory1d())


# --- sizes, ownership and independence of the results -------------------------------------------------


class Sub(Trajectory1d):
    pass


@pytest.mark.parametrize(
    "call, change",
    [
        (lambda t: t.knotins(0.7, 0), 0),
        (lambda t: t.knotins(0.7, 3), 3),
        (lambda t: t.knotins(0.0, 2), 2),
        (lambda t: t.knotins(1.0, 3), 3),
        (lambda t: t.knotref(None), 0),
        (lambda t: t.knotref(np.array([])), 0),
        (lambda t: t.knotref(np.array([0.3])), 1),
        (lambda t: t.knotref(np.array([-1.0, 0.0, 0.5, 1.0, 1.7, 2.0, 3.0])), 7),
        (lambda t: t.knotrem(0.7, 2), 0),
        (lambda t: t.knotrem(1.0, 0), 0),
        (lambda t: t.knotrem(math.nan, 2), 0),
        (lambda t: t.knotrem(0.5, 1, 1e-300), 0),
        (lambda t: t.knotsrem(), 0),
        (lambda t: t.knotrem_notol(1.0, 5), -2),
        (lambda t: t.knotrem_notol(0.5, 1), -1),
    ],
)
@pytest.mark.parametrize("cls", [Trajectory1d, Sub])
def test_results_are_new_sized_trajectories(cubic, call, change, cls):
    t = trajectory(knots_of(cubic), cpts_of(cubic), 3, order=1, cls=cls)
    before = state(t)
    r = call(t)
    assert type(r) is Trajectory1d
    assert (r.p, r.n, r.order) == (3, t.n + change, 1)
    assert knots_of(r).size == t.n + change + 5
    assert r._getAttrib()["owner"] == "True"
    r.get_cpts_asarray()[:] = 99.0
    r.get_knotvector_asarray()[:] = 99.0
    assert state(t) == before
    del t
    assert np.all(cpts_of(r) == 99.0)


def test_zero_removals_give_an_exact_copy(cubic):
    for r in (cubic.knotrem(0.7, 1), cubic.knotrem(1.0, 0), cubic.knotrem(0.5, 1, 1e-300)):
        assert state(r) == state(cubic)


# --- C-level entries and overrides ----------------------------------------------------------------


class Overriding(Trajectory1d):
    def __init__(self):
        self.calls = []

    def knotins(self, u, r):
        self.calls.append(("knotins", u, r))
        return Trajectory1d()

    def knotref(self, X):
        self.calls.append(("knotref", X.format, len(X)))
        if len(X):
            X[0] = 42.0
        return None

    def knotrem(self, u, r, tol):
        self.calls.append(("knotrem", u, r, tol))
        return "not a trajectory"

    def knotsrem(self, tol):
        self.calls.append(("knotsrem", tol))
        return None

    def knotrem_notol(self, u, r):
        self.calls.append(("knotrem_notol", u, r))
        return None


@pytest.fixture
def overriding(cubic):
    return trajectory(knots_of(cubic), cpts_of(cubic), 3, order=1, cls=Overriding)


def test_c_level_calls_reach_python_overrides(overriding):
    X = np.array([0.25, 0.75])
    assert type(entry("knotins")(overriding, 0.25, 2, 0)) is Trajectory1d
    assert entry("knotref")(overriding, dview(X), 0) is None
    assert entry("knotsrem")(overriding, 0, None) is None
    assert entry("knotsrem")(overriding, 0, opt_tol(3.0)) is None
    assert entry("knotrem_notol")(overriding, 1.0, 1, 0) is None
    assert overriding.calls == [
        ("knotins", 0.25, 2),
        ("knotref", "d", 2),
        ("knotsrem", 1e-13),
        ("knotsrem", 3.0),
        ("knotrem_notol", 1.0, 1),
    ]
    assert X[0] == 42.0  # the override saw the caller's own buffer


@pytest.mark.parametrize("opt, tol", [(None, 1e-13), (1e-5, 1e-5)])
def test_override_result_of_the_wrong_type_is_refused(overriding, opt, tol):
    with pytest.raises(TypeError) as e:
        entry("knotrem")(overriding, 0.5, 1, 0, opt_tol(opt))
    assert message(e) == "Cannot convert str to pyorvex.defdatastruct.Trajectory1d"
    assert overriding.calls == [("knotrem", 0.5, 1, tol)]


def test_skip_dispatch_and_python_calls_run_the_builtin(overriding):
    assert entry("knotins")(overriding, 0.25, 2, 1).n == overriding.n + 2
    assert entry("knotrem")(overriding, 0.25, 1, 1, None).n == overriding.n
    assert Trajectory1d.knotsrem(overriding).n <= overriding.n
    X = np.array([0.25])
    assert entry("knotref")(overriding, dview(X), 1).n == overriding.n + 1
    assert overriding.calls == []


def test_c_level_knotref_checks_and_sizes(cubic):
    op = entry("knotref")
    assert op(cubic, DView(None, 0), 0).n == cubic.n
    assert op(cubic, DView(None, 3), 0).n == cubic.n
    with pytest.raises(ValueError, match=r"^'X' has a negative length \(-1\)$"):
        op(cubic, DView(np.zeros(2).ctypes.data, -1), 0)
    with pytest.raises(ValueError, match="^'X' must be increasing$"):
        op(cubic, dview(np.array([0.3, 0.3])), 0)


# --- the curve is kept ----------------------------------------------------------------------------

DEGREES = range(1, 8)


def assert_same_curve(a, b, x, rtol=1e-12):
    expected = oracle.values(a, x)
    assert np.allclose(
        oracle.values(b, x), expected, rtol=rtol, atol=rtol * np.max(np.abs(expected))
    )


@pytest.mark.parametrize("p", DEGREES)
def test_knotins_agrees_with_scipy_insert(p):
    rng = np.random.default_rng(100 + p)
    t = random_traj(rng, p, p + 6)[0]
    spline = oracle.of(t)
    for r in range(p + 1):
        u = rng.uniform(0.05, 0.95)
        mine = t.knotins(u, r)
        theirs = spline if r == 0 else insert(u, spline, m=r)
        assert np.array_equal(knots_of(mine), theirs.t)
        assert np.allclose(cpts_of(mine), theirs.c[: mine.n + 1], rtol=1e-12, atol=1e-12)
        assert_same_curve(t, mine, grid(t))


@pytest.mark.parametrize("p", DEGREES)
def test_knotins_beyond_what_the_multiplicity_allows_keeps_the_curve(p):
    rng = np.random.default_rng(200 + p)
    interior = np.repeat(rng.uniform(0.2, 0.8), p)  # a knot of multiplicity p
    t = trajectory(clamped_knots(interior, p), rng.uniform(-1, 1, p + 1 + p), p)
    for u in (0.0, 1.0, interior[0]):
        r = t.knotins(u, p)
        assert r.n == t.n + p and np.all(np.diff(knots_of(r)) >= 0)
        assert (r.start, r.stop) == (0.0, 1.0)
        assert_same_curve(t, r, grid(t))


@pytest.mark.parametrize("p", DEGREES)
def test_knotref_agrees_with_repeated_insertion(p):
    rng = np.random.default_rng(300 + p)
    t = random_traj(rng, p, p + 5)[0]
    X = np.sort(rng.uniform(0.01, 0.99, 9))
    mine = t.knotref(X)
    theirs = oracle.of(t)
    for x in X:
        theirs = insert(x, theirs)
    assert np.array_equal(knots_of(mine), np.sort(np.concatenate([knots_of(t), X])))
    assert np.allclose(cpts_of(mine), theirs.c[: mine.n + 1], rtol=1e-11, atol=1e-11)


@pytest.mark.parametrize("p", DEGREES)
def test_knotref_with_existing_and_outside_values_keeps_the_curve_on_the_domain(p):
    rng = np.random.default_rng(400 + p)
    t = random_traj(rng, p, p + 4)[0]
    existing = knots_of(t)[p + 1]
    X = np.array([-0.5, 0.0, existing, 0.6 if existing != 0.6 else 0.65, 1.0, 1.5])
    X.sort()
    r = t.knotref(X)
    assert r.n == t.n + X.size
    assert (r.start, r.stop) == (t.start, t.stop)
    assert knots_of(r).size == t.n + p + 2 + X.size
    assert_same_curve(t, r, grid(t))


@pytest.mark.parametrize("p", DEGREES)
def test_insertion_then_removal_restores_the_trajectory(p):
    rng = np.random.default_rng(500 + p)
    t = random_traj(rng, p, p + 5)[0]
    u = 0.5 * (knots_of(t)[p + 1] + knots_of(t)[p + 2])
    for r in range(1, p + 1):
        grown = t.knotins(u, r)
        for back in (grown.knotrem(u, r), grown.knotrem_notol(u, r), grown.knotrem(u, r + 5)):
            assert back.n == t.n
            assert np.array_equal(knots_of(back), knots_of(t))
            assert np.allclose(cpts_of(back), cpts_of(t), rtol=1e-10, atol=1e-10)


@pytest.mark.parametrize("p", DEGREES)
def test_a_knot_that_moves_the_curve_too_much_is_kept(p):
    rng = np.random.default_rng(600 + p)
    t = random_traj(rng, p, p + 5)[0]
    u = knots_of(t)[p + 2]
    kept = t.knotrem(u, 1)
    assert state(kept) == state(t)
    assert t.knotrem(u, 1, 1e6).n == t.n - 1
    forced = t.knotrem_notol(u, 1)
    assert forced.n == t.n - 1 and u not in knots_of(forced)


@pytest.mark.parametrize("p", DEGREES)
def test_knotsrem_removes_every_knot_added_to_a_polynomial(p):
    rng = np.random.default_rng(700 + p)
    poly = trajectory(clamped_knots([], p), rng.uniform(-1, 1, p + 1), p, order=2)
    X = np.linspace(0.05, 0.95, 12) + rng.uniform(-0.02, 0.02, 12)
    refined = poly.knotref(X).knotins(0.5, p)
    assert refined.n == p + 12 + p
    default = refined.knotsrem()
    assert state(default) == state(refined.knotsrem(1e-13))
    x = grid(poly, 501)
    drift = np.max(np.abs(oracle.values(default, x) - oracle.values(poly, x)))
    assert drift <= 1e-13 * (refined.n - default.n) + 1e-15
    # From degree 6 on, undoing 12 insertions amplifies the rounding of the refined
    # coefficients past 1e-13, so a removal there needs a looser (still tiny) tolerance.
    thin = default if p <= 5 else refined.knotsrem(1e-11)
    assert (thin.p, thin.n, thin.order) == (p, p, 2)
    assert np.array_equal(knots_of(thin), knots_of(poly))
    assert np.allclose(cpts_of(thin), cpts_of(poly), rtol=1e-9, atol=1e-9)
    assert refined.knotsrem(-1.0).n == refined.n


@pytest.mark.slow
@pytest.mark.parametrize("p", DEGREES)
def test_knotsrem_stays_within_tolerance_on_random_splines(p):
    rng = np.random.default_rng(800 + p)
    for _ in range(20):
        t = random_traj(rng, p, p + 30)[0]
        refined = t.knotref(np.sort(rng.uniform(0.0, 1.0, 40)))
        thin = refined.knotsrem()
        assert t.n <= thin.n <= refined.n
        assert_same_curve(t, thin, grid(t, 1001), rtol=1e-9)
        # Each removal may move the curve by the tolerance; the moves add up at worst.
        loose = refined.knotsrem(1e-2)
        x = grid(t, 1001)
        drift = np.max(np.abs(oracle.values(loose, x) - oracle.values(t, x)))
        assert drift <= 1e-2 * (refined.n - loose.n) + 1e-12


@pytest.mark.parametrize(
    "name, phrase",
    [
        ("knotins", "inserted 'r' times"),
        ("knotref", "inserted once"),
        (
            "knotrem",
            "with, if possible, the knot 'u' removed 'r' times. If the node 'u' cannot be "
            "removed 'r' times, it is removed as many times as possible.",
        ),
        ("knotsrem", "with as many knots removed as possible"),
        (
            "knotsrem",
            "The knot removal tolerance is applied step by step, it is not indicative of the "
            "error band at the end of the iteration.",
        ),
        ("knotrem_notol", "with knot 'u' removed 'r' times without tolerance check."),
    ],
)
def test_docstrings(name, phrase):
    doc = getattr(Trajectory1d, name).__doc__
    assert phrase in doc
    for section in ("Parameters", "Returns", "Notes"):
        assert "\n%s\n%s\n" % (section, "-" * len(section)) in doc
