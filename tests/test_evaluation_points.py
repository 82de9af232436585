"""peval, dpeval, ceval and dceval: checks in their order, in-place results, numerics."""

import math
import re
from fractions import Fraction

import numpy as np
import pytest
from support import oracle
from support.method_table import dview, entry, opt_nu
from support.trajectories import abscissae, clamped_knots, random_traj, state, trajectory

from pyorvex import derivatives
from pyorvex.defdatastruct import Trajectory1d

EPS = np.finfo(np.float64).eps / 2  # the unit roundoff

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.5, 1.0, 1.0, 1.0, 1.0]
CPTS = [0.0, 1.0, -1.0, 2.0, 0.5]


@pytest.fixture
def traj():
    return trajectory(KNOTS, CPTS, 3)


def exact(message):
    return "^" + re.escape(message) + "$"


@pytest.mark.parametrize("method", ["peval", "dpeval"])
@pytest.mark.parametrize(
    "x", [math.nextafter(0.0, -1.0), math.nextafter(1.0, 2.0), 5, -math.inf, 1e-05]
)
def test_point_outside_domain(method, x):
    t = (
        trajectory([0.5, 0.5, 1.0, 1.0], [1.0, 2.0], 1)
        if x == 1e-05
        else trajectory(KNOTS, CPTS, 3)
    )
    with pytest.raises(ValueError, match=exact(f"'x' out of domain: {float(x)!r}")):
        getattr(t, method)(x, -1) if method == "dpeval" else t.peval(x)  # domain before nu


def test_point_ends_nan_and_orders(traj):
    ref = oracle.spline(KNOTS, CPTS, 3)
    for x in (0.0, 1.0):
        assert traj.peval(x) == pytest.approx(ref(x), abs=1e-12)
        assert traj.dpeval(x) == pytest.approx(ref(x, 1), rel=1e-12)
    assert math.isnan(traj.peval(math.nan)) and math.isnan(traj.dpeval(math.nan, 2))
    assert traj.dpeval(nu=2, x=0.3) == pytest.approx(ref(0.3, 2), rel=1e-12)
    assert traj.dpeval(0.3, 0) == pytest.approx(traj.peval(0.3), rel=1e-14)
    with pytest.raises(ValueError, match=exact("'nu' must be non-negative number")):
        traj.dpeval(0.5, -1)
    # Orders above the degree are zero, and a huge order costs no huge work array.
    for nu in (4, 60, 2**31 - 1):
        assert traj.dpeval(0.3, nu) == 0.0
    assert math.isnan(traj.dpeval(math.nan, 2**31 - 1))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda t: t.peval(), "takes exactly one argument"),
        (lambda t: t.peval(x=0.5), "keyword"),
        (lambda t: t.peval("0.5"), "must be real number"),
        (lambda t: t.dpeval(), r"^dpeval\(\) takes at least 1 positional argument \(0 given\)$"),
        (
            lambda t: t.dpeval(1, 2, 3),
            r"^dpeval\(\) takes at most 2 positional arguments \(3 given\)$",
        ),
        (lambda t: t.dpeval(0.5, y=1), r"^dpeval\(\) got an unexpected keyword argument 'y'$"),
        (
            lambda t: t.dpeval(0.5, x=1),
            r"^dpeval\(\) got multiple values for keyword argument 'x'$",
        ),
        (lambda t: t.dpeval(0.5, None), r"^an integer is required$"),
        (lambda t: t.dpeval("a", "b"), "must be real number"),  # x converted first
        (lambda t: t.ceval(), "takes exactly one argument"),
        (lambda t: t.dceval(), r"^dceval\(\) takes at least 1 positional argument \(0 given\)$"),
        (lambda t: t.dceval(x=np.ones(1)), r"^dceval\(\) got an unexpected keyword argument 'x'$"),
        (lambda t: t.dceval(np.array([0.5]), "1"), r"^an integer is required$"),
        (lambda t: t.ceval([0.1, 0.2]), "bytes-like"),
    ],
)
def test_argument_errors(traj, call, message):
    with pytest.raises(TypeError, match=message):
        call(traj)


@pytest.mark.parametrize("method", ["ceval", "dceval"])
@pytest.mark.parametrize(
    "make",
    [
        lambda: np.zeros(3, dtype=np.float32),
        lambda: np.zeros((2, 2)),
        lambda: np.zeros(6)[::2],
        lambda: np.frombuffer(bytes(16)),  # read-only
    ],
)
def test_array_buffer_refused(traj, method, make):
    with pytest.raises(ValueError):
        getattr(traj, method)(make())


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.peval(0.0),
        lambda t: t.dpeval(9.0, -1),
        lambda t: t.ceval(None),
        lambda t: t.dceval(np.ones(1)),
    ],
)
def test_empty_record_refused_first(call):
    with pytest.raises(ValueError, match="knot vector"):
        call(Trajectory1d())


@pytest.mark.parametrize("nu", [None, -1])
@pytest.mark.parametrize(
    "values, message",
    [
        (None, "zero size arrays are not allowed"),
        ([], "zero size arrays are not allowed"),
        ([0.0, 0.5, 0.5, 1.0], "'xp' must be increasing"),
        ([-0.0, 0.0], "'xp' must be increasing"),
        ([2.0, 1.5], "'xp' must be increasing"),  # before the domain test
        ([0.2, 0.7, 1.5], "domain error"),
        ([math.nextafter(0.0, -1.0)], "domain error"),
        ([math.nan], "'xp' must be increasing"),
        ([0.5], "'nu' must be non-negative number"),  # dceval only, last
    ],
)
def test_array_checks_in_order(traj, values, message, nu):
    xp = None if values is None else np.array(values, dtype=np.float64)
    before = None if xp is None else xp.copy()
    if nu is None and message.startswith("'nu'"):
        traj.ceval(xp)
        return
    with pytest.raises(ValueError, match=exact(message)):
        traj.ceval(xp) if nu is None else traj.dceval(xp, nu)
    if xp is not None:
        np.testing.assert_array_equal(xp, before)


@pytest.mark.parametrize("m", [2, 3, 5, 8, 9, 12, 17, 1030])
def test_order_test_sees_every_position(traj, m):
    # Every lane and tail of the vectorised scans: a repeat or a NaN anywhere fails (a NaN would
    # let the values after it go unchecked) and leaves the array as it was.
    xs = np.linspace(0.0, 1.0, m)
    for k in range(m):
        for bad in ([xs[k - 1]] if k else []) + [math.nan]:
            xp = xs.copy()
            xp[k] = bad
            before = xp.copy()
            for evaluate in (traj.ceval, lambda a: traj.dceval(a, 2)):
                with pytest.raises(ValueError, match="'xp' must be increasing"):
                    evaluate(xp)
                np.testing.assert_array_equal(xp, before)


def test_array_forms_work_in_place(traj):
    xs = np.array([0.0, 0.05, 0.1, 0.7, 1.0])
    xp = xs.copy()
    assert traj.ceval(xp) is None
    np.testing.assert_allclose(xp, [traj.peval(x) for x in xs], rtol=1e-12, atol=1e-14)
    for nu in (None, 0, 2, 4, 2**31 - 1):
        xp = xs.copy()
        assert (traj.dceval(xp) if nu is None else traj.dceval(xp=xp, nu=nu)) is None
        expected = [traj.dpeval(x, 1 if nu is None else nu) for x in xs]
        np.testing.assert_allclose(xp, expected, rtol=1e-11, atol=1e-11)
    assert state(traj) == state(trajectory(KNOTS, CPTS, 3))


@pytest.mark.parametrize("nu", [None, 1])
@pytest.mark.parametrize("view", ["get_knotvector_asarray", "get_cpts_asarray"])
def test_array_sharing_the_record_reads_the_old_record(view, nu):
    # Strictly increasing and inside the domain, and longer than a block of evaluation.
    knots, cpts = np.arange(10_000.0), np.linspace(1.5, 9000.0, 9997)
    t, reference = trajectory(knots, cpts, 2), trajectory(knots, cpts, 2)
    xp = getattr(t, view)()
    expected = xp.copy()
    evaluate = (lambda u, a: u.ceval(a)) if nu is None else (lambda u, a: u.dceval(a, nu))
    evaluate(reference, expected)
    evaluate(t, xp)
    np.testing.assert_array_equal(xp, expected)


@pytest.mark.parametrize("p", range(8))
@pytest.mark.parametrize("seed", range(3))
def test_values_and_derivatives_match_reference(p, seed):
    rng = np.random.default_rng(1000 * p + seed)
    t, knots, cpts = random_traj(rng, p, start=-1.5, stop=2.0, repeat=seed == 2)
    ref = oracle.spline(knots, cpts, p)
    xs = abscissae(rng, knots)
    for nu in range(p + 2):
        expected = ref(xs, nu)
        tol = dict(rtol=1e-9, atol=1e-9 * max(1.0, np.max(np.abs(expected))))
        array = xs.copy()
        if nu == 0:
            np.testing.assert_allclose([t.peval(x) for x in xs], expected, **tol)
            t.ceval(array)
        else:
            t.dceval(array, nu)
        np.testing.assert_allclose(array, expected, **tol)
        np.testing.assert_allclose([t.dpeval(x, nu) for x in xs], expected, **tol)


class Overriding(Trajectory1d):
    def __init__(self):
        self.calls = []

    def peval(self, x):
        self.calls.append(("peval", x))
        return "not a number" if x > 0.9 else 42.0

    def dpeval(self, x, nu=1):
        self.calls.append(("dpeval", x, nu))
        return -7.0

    def ceval(self, xp):
        self.calls.append(("ceval", type(xp), xp.format))
        xp[0] = 2 * xp[0]

    def dceval(self, xp, nu=1):
        raise KeyError(nu)


def test_c_level_operations_consult_overrides():
    t = trajectory(KNOTS, CPTS, 3, cls=Overriding)
    assert entry("peval")(t, 0.5, 0) == 42.0
    assert entry("peval")(t, 0.5, 1) == Trajectory1d.peval(t, 0.5)  # skipped
    with pytest.raises(TypeError):
        entry("peval")(t, 0.95, 0)
    assert entry("dpeval")(t, 0.5, 0, opt_nu()) == entry("dpeval")(t, 0.5, 0, opt_nu(3)) == -7.0
    xp = np.array([0.25, 0.5])
    assert entry("ceval")(t, dview(xp), 0) == 0
    np.testing.assert_array_equal(xp, [0.5, 0.5])  # written through the memoryview
    with pytest.raises(KeyError, match="2"):
        entry("dceval")(t, dview(xp), 0, opt_nu(2))
    assert t.calls == [
        ("peval", 0.5),
        ("peval", 0.95),
        ("dpeval", 0.5, 1),
        ("dpeval", 0.5, 3),
        ("ceval", memoryview, "d"),
    ]
    plain = trajectory(KNOTS, CPTS, 3)
    with pytest.raises(ValueError, match=exact("'x' out of domain: 3.0")):
        entry("peval")(plain, 3.0, 0)


DOCS = {
    "peval": ["Evaluates the trajectory."],
    "dpeval": [
        "Evaluates the derivative of the trajectory.",
        "Derivative order. Must be non-negative number. Default is 1.",
    ],
    "ceval": [
        "Evaluates the trajectory in a set of data points. The array 'xp' is overwritten "
        "with the resultes.",
        "The x-coordinates of the data points, must be increasing.",
    ],
    "dceval": [
        "Evaluates the derivative of a set of data points. The array 'xp' is overwritten "
        "with the resultes.",
        "The x-coordinates of the data points, must be increasing.",
        "Derivative order. Must be non-negative number. Default is 1.",
        "For a large number of points it might be more efficient to use the "
        "'self.derivative' and 'self.ceval' functions.",
    ],
    "__call__": [
        "Evaluates the trajectory or its dervative.",
        "x: double or array_like",
        "The x-coordinate(s) of the data point(s).",
        "nu: int",
        "Derivative order. Default is 0.",
        "out: float or ndarray",
        "If 'x' is a scalar number, a float type is returned. Otherwise a numpy array is returned.",
    ],
    "derivative": [
        "Returns a Trajectory1d object representing the derivative.",
        "Derivative order. Default is 1.",
    ],
    "antiderivative": [
        "Returns a Trajectory1d object representing the antiderivative.",
        "Antiderivative order. Default is 1.",
    ],
    "degelev": [
        "Increases the degree of the B-Spline interpolating the trajectory.",
        "Number of degree elevation times.",
        "New Trajectory1d object with the same shape and degree self.p + 'nu'.",
    ],
    "rshift": ["Relative translation of 'self' along x-axis.", "Translation value."],
    "ashift": [
        "Translates 'self' along the x-axis so that the curve starts at the 'x' coordinate.",
        "Reference x-coordinate.",
    ],
    "hscale": [
        "Scales 'self' horizontally keeping the start of the domain fixed.",
        "Scale factor.",
    ],
    "adapt": ["Adapts 'self' in a new domain.", "New domain stop. Must be greather than 'start'."],
}


@pytest.mark.parametrize("name", sorted(DOCS))
def test_docstrings(name):
    doc = getattr(Trajectory1d, name).__doc__
    summary, *sentences = DOCS[name]
    assert doc.startswith(summary + "\n")
    assert all(sentence in " ".join(doc.split()) for sentence in sentences)
    for section in ("Parameters", "Returns", "Notes"):
        assert f"\n{section}\n{'-' * len(section)}\n" in doc


@pytest.mark.parametrize(
    "p, per_span, scale",
    [(p, per_span, 1.0) for p in (2, 3, 5) for per_span in (6, 60)]
    + [(3, 60, 1e-95), (4, 6, 1e-95), (4, 60, 1e95), (3, 6, 1e95), (5, 60, 1e-250)],
)
def test_array_values_keep_the_error_bound_of_the_recursion(p, per_span, scale):
    # Control points of very different sizes: a small value beside a large control point must
    # keep an error relative to sum |c_i| B_i(x), as de Boor's recursion does, on every array path;
    # and so on time axes whose span lengths put the powers of 1 / h near or beyond the doubles.
    rng = np.random.default_rng(10 * p + per_span)
    knots = clamped_knots(rng.uniform(0.0, 1.0, 16), p) * scale
    n = knots.size - p - 1
    cpts = rng.uniform(-1.0, 1.0, n) * 10.0 ** rng.choice([0, 6, -3], n)
    starts = np.unique(knots)
    xs = np.r_[np.linspace(starts[:-1], starts[1:], per_span, endpoint=False).T.ravel(), knots[-1]]
    t = trajectory(knots, cpts, p)
    values = xs.copy()
    t.ceval(values)
    for row in (values, derivatives(t, xs, 1)[0]):
        for x, y in zip(xs, row):
            scale = float(oracle.exact(knots, np.abs(cpts), p, x))
            assert abs(Fraction(y) - oracle.exact(knots, cpts, p, x)) <= 4 * p * EPS * scale, x


@pytest.mark.parametrize("p", [2, 3])
def test_span_too_short_for_its_reciprocal(p):
    # 1 / h overflows on [0, 4e-310]; values and first derivatives there are finite all the same.
    knots = np.r_[[-1.0] * (p + 1), 0.0, 4e-310, [1.0] * (p + 1)]
    cpts = np.linspace(1.0, 2.0, knots.size - p - 1) ** 2
    xs = np.array([0.0, 1e-310, 2e-310, 3e-310, 3.5e-310])
    t = trajectory(knots, cpts, p)
    f = [Fraction(v) for v in knots]
    slopes = [
        p * (cpts[i + 1] - Fraction(cpts[i])) / (f[i + p + 1] - f[i + 1])
        for i in range(cpts.size - 1)
    ]
    values, array = derivatives(t, xs, 1), xs.copy()
    t.ceval(array)
    for i, x in enumerate(xs):
        exact = [oracle.exact(knots, cpts, p, x), oracle.exact(knots[1:-1], slopes, p - 1, x)]
        got = [[t.peval(x), array[i], values[0][i]], [t.dpeval(x), t(xs, 1)[i], values[1][i]]]
        for order in (0, 1):
            for y in got[order]:
                assert abs(Fraction(y) - exact[order]) <= 1e-14 * abs(exact[order]), (order, x)
