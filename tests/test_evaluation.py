"""peval, dpeval, ceval and dceval: checks, their order, in-place behaviour and numerics."""

import math
import re

import numpy as np
import pytest
import scipy.interpolate as si

from pyorvex.defdatastruct import Trajectory1d
from traj_factory import abscissae, make_traj, random_traj, state
from vtable_access import c_op, dview, opt_nu

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.5, 1.0, 1.0, 1.0, 1.0]
CPTS = [0.0, 1.0, -1.0, 2.0, 0.5]


@pytest.fixture
def traj():
    return make_traj(KNOTS, CPTS, 3)


def oracle(knots, cpts, p):
    return si.BSpline(np.asarray(knots, float), np.asarray(cpts, float), p)


def out_of_domain(x):
    return re.escape(f"'x' out of domain: {x!r}")


# --- peval / dpeval: domain check, then nu --------------------------------------------------------


@pytest.mark.parametrize("method", ["peval", "dpeval"])
@pytest.mark.parametrize(
    "x", [math.nextafter(0.0, -1.0), math.nextafter(1.0, 2.0), 5, -math.inf, math.inf, 2.5]
)
def test_point_outside_domain(traj, method, x):
    with pytest.raises(ValueError, match="^" + out_of_domain(float(x)) + "$"):
        getattr(traj, method)(x)


def test_domain_message_uses_float_text():
    t = make_traj([0.5, 0.5, 1.0, 1.0], [1.0, 2.0], 1)
    with pytest.raises(ValueError, match=r"^'x' out of domain: 1e-05$"):
        t.peval(1e-05)
    with pytest.raises(ValueError, match=r"^'x' out of domain: 5\.0$"):
        t.peval(5)


@pytest.mark.parametrize("method", ["peval", "dpeval"])
def test_both_ends_belong_to_domain(traj, method):
    ref = oracle(KNOTS, CPTS, 3)
    nu = 0 if method == "peval" else 1
    for x in (0.0, 1.0):
        assert getattr(traj, method)(x) == pytest.approx(ref(x, nu), rel=1e-12, abs=1e-12)


@pytest.mark.parametrize("method", ["peval", "dpeval"])
def test_nan_passes_domain_check(traj, method):
    assert math.isnan(getattr(traj, method)(math.nan))


def test_dpeval_domain_checked_before_nu(traj):
    with pytest.raises(ValueError, match=out_of_domain(2.0)):
        traj.dpeval(2.0, -1)
    with pytest.raises(ValueError, match=r"^'nu' must be non-negative number$"):
        traj.dpeval(0.5, -1)


def test_dpeval_default_and_keywords(traj):
    ref = oracle(KNOTS, CPTS, 3)
    assert traj.dpeval(0.3) == pytest.approx(ref(0.3, 1), rel=1e-12)
    assert traj.dpeval(nu=2, x=0.3) == pytest.approx(ref(0.3, 2), rel=1e-12)
    assert traj.dpeval(0.3, 0) == pytest.approx(traj.peval(0.3), rel=1e-14)


@pytest.mark.parametrize("nu", [4, 5, 1000, 2**31 - 1])
def test_dpeval_above_degree_is_zero(traj, nu):
    # A huge order must not turn into a huge work array either.
    assert traj.dpeval(0.3, nu) == 0.0
    assert math.isnan(traj.dpeval(math.nan, nu))


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda t: t.peval(), TypeError, "takes exactly one argument"),
        (lambda t: t.peval(1, 2), TypeError, "takes exactly one argument"),
        (lambda t: t.peval(x=0.5), TypeError, "keyword"),
        (lambda t: t.peval("0.5"), TypeError, "must be real number"),
        (lambda t: t.peval(None), TypeError, "must be real number"),
        (lambda t: t.dpeval(), TypeError, r"^dpeval\(\) takes at least 1 positional argument \(0 given\)$"),
        (lambda t: t.dpeval(1, 2, 3), TypeError, r"^dpeval\(\) takes at most 2 positional arguments \(3 given\)$"),
        (lambda t: t.dpeval(0.5, y=1), TypeError, r"^dpeval\(\) got an unexpected keyword argument 'y'$"),
        (lambda t: t.dpeval(0.5, x=1), TypeError, r"^dpeval\(\) got multiple values for keyword argument 'x'$"),
        (lambda t: t.dpeval(0.5, "a"), TypeError, r"^an integer is required$"),
        (lambda t: t.dpeval(0.5, None), TypeError, r"^an integer is required$"),
        # x is converted before nu.
        (lambda t: t.dpeval("a", "b"), TypeError, "must be real number"),
    ],
)
def test_point_argument_errors(traj, call, exc, message):
    with pytest.raises(exc, match=message):
        call(traj)


def test_point_accepts_objects_with_float_value(traj):
    class Number:
        def __float__(self):
            return 0.25

    assert traj.peval(Number()) == traj.peval(0.25)
    assert traj.dpeval(Number(), 2) == traj.dpeval(0.25, 2)
    assert traj.peval(np.float32(0.5)) == traj.peval(0.5)


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.peval(0.0),
        lambda t: t.dpeval(0.0, 1),
        lambda t: t.ceval(np.array([0.0])),
        lambda t: t.dceval(np.array([0.0]), 1),
        lambda t: t.ceval(None),
    ],
)
def test_empty_record_refused(call):
    # The absent knot vector is reported before any other check.
    with pytest.raises(ValueError, match="knot vector"):
        call(Trajectory1d())


# --- ceval / dceval: zero size, increasing, domain, then nu ---------------------------------------


@pytest.mark.parametrize("method", ["ceval", "dceval"])
@pytest.mark.parametrize(
    "values, message",
    [
        (None, "zero size arrays are not allowed"),
        ([], "zero size arrays are not allowed"),
        ([0.0, 0.5, 0.5, 1.0], "'xp' must be increasing"),
        ([0.5, 0.2], "'xp' must be increasing"),
        ([-0.0, 0.0], "'xp' must be increasing"),
        # increasing is tested before the domain
        ([2.0, 1.5], "'xp' must be increasing"),
        ([0.2, 0.7, 1.5], "domain error"),
        ([-0.5, 0.7], "domain error"),
        ([math.nextafter(0.0, -1.0)], "domain error"),
        ([0.5, math.inf], "domain error"),
    ],
)
def test_array_checks_in_order(traj, method, values, message):
    xp = None if values is None else np.array(values, dtype=np.float64)
    before = None if xp is None else xp.copy()
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        getattr(traj, method)(xp)
    if xp is not None:
        np.testing.assert_array_equal(xp, before)


@pytest.mark.parametrize(
    "values, message",
    [
        ([], "zero size arrays are not allowed"),
        ([0.5, 0.5], "'xp' must be increasing"),
        ([0.5, 2.0], "domain error"),
        ([0.5], "'nu' must be non-negative number"),
    ],
)
def test_dceval_nu_checked_last(traj, values, message):
    xp = np.array(values, dtype=np.float64)
    before = xp.copy()
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        traj.dceval(xp, -1)
    np.testing.assert_array_equal(xp, before)


def test_nan_never_fails_increasing_test(traj):
    # Comparisons with NaN pass the order test, and only the two end elements are checked
    # against the domain.
    xp = np.array([0.1, math.nan, 0.05, 0.9])
    traj.ceval(xp)
    assert math.isnan(xp[1])
    assert xp[0] == pytest.approx(traj.peval(0.1), rel=1e-12)
    assert xp[2] == pytest.approx(traj.peval(0.05), rel=1e-12)


@pytest.mark.parametrize(
    "xp, exc",
    [
        (np.zeros(3, dtype=np.float32), ValueError),
        (np.zeros(3, dtype=np.int64), ValueError),
        (np.zeros((2, 2)), ValueError),
        (np.zeros(6)[::2], ValueError),
        ([0.1, 0.2], TypeError),
        ("abc", TypeError),
    ],
)
@pytest.mark.parametrize("method", ["ceval", "dceval"])
def test_array_argument_conversion(traj, xp, exc, method):
    with pytest.raises(exc):
        getattr(traj, method)(xp)


@pytest.mark.parametrize("method", ["ceval", "dceval"])
def test_read_only_array_refused(traj, method):
    xp = np.array([0.1, 0.2])
    xp.flags.writeable = False
    with pytest.raises(ValueError):
        getattr(traj, method)(xp)


def test_array_argument_errors(traj):
    with pytest.raises(TypeError, match="takes exactly one argument"):
        traj.ceval()
    with pytest.raises(TypeError, match=r"^dceval\(\) takes at least 1 positional argument \(0 given\)$"):
        traj.dceval()
    with pytest.raises(TypeError, match=r"^an integer is required$"):
        traj.dceval(np.array([0.5]), "1")
    with pytest.raises(TypeError, match=r"^dceval\(\) got an unexpected keyword argument 'x'$"):
        traj.dceval(x=np.array([0.5]))


def test_array_forms_work_in_place(traj):
    xs = np.array([0.0, 0.25, 0.5, 0.75, 1.0])
    xp = xs.copy()
    assert traj.ceval(xp) is None
    np.testing.assert_allclose(xp, [traj.peval(x) for x in xs], rtol=1e-12, atol=1e-14)
    for nu in (0, 1, 2, 3, 4):
        xp = xs.copy()
        assert traj.dceval(xp=xp, nu=nu) is None
        np.testing.assert_allclose(xp, [traj.dpeval(x, nu) for x in xs], rtol=1e-11, atol=1e-11)
    xp = xs.copy()
    traj.dceval(xp)
    np.testing.assert_allclose(xp, [traj.dpeval(x) for x in xs], rtol=1e-11, atol=1e-11)
    single = np.array([0.3])
    traj.ceval(single)
    assert single[0] == pytest.approx(traj.peval(0.3), rel=1e-12)


def test_dceval_huge_order_is_zero(traj):
    xp = np.array([0.1, 0.6])
    traj.dceval(xp, 2**31 - 1)
    np.testing.assert_array_equal(xp, [0.0, 0.0])


def test_evaluation_leaves_record_unchanged(traj):
    before = state(traj)
    traj.peval(0.5)
    traj.dpeval(0.5, 2)
    traj.ceval(np.array([0.1, 0.2]))
    traj.dceval(np.array([0.1, 0.2]), 3)
    assert state(traj) == before


@pytest.mark.parametrize("which", ["knots", "cpts"])
def test_array_sharing_the_record_is_evaluated_from_the_old_record(which):
    # Strictly increasing knots and control points inside the domain: evaluating a view of the
    # record's own memory must read the record as it was, not what is being written into it.
    knots = np.array([0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0])
    cpts = np.array([1.5, 2.5, 3.0, 4.5])
    t = make_traj(knots, cpts, 2)
    reference = make_traj(knots, cpts, 2)
    view = t.get_knotvector_asarray() if which == "knots" else t.get_cpts_asarray()
    expected = view.copy()
    reference.ceval(expected)
    t.ceval(view)
    np.testing.assert_array_equal(view, expected)


# --- numerical agreement with an independent evaluator ---------------------------------------------


@pytest.mark.parametrize("p", range(8))
@pytest.mark.parametrize("seed", range(3))
def test_values_and_derivatives_match_reference(p, seed):
    rng = np.random.default_rng(1000 * p + seed)
    t, knots, cpts = random_traj(rng, p, start=-1.5, stop=2.0, repeat=seed == 2)
    ref = oracle(knots, cpts, p)
    xs = abscissae(rng, knots)
    for nu in range(p + 2):
        expected = ref(xs, nu)
        scale = max(1.0, np.max(np.abs(expected)))
        tol = dict(rtol=1e-9, atol=1e-9 * scale)
        if nu == 0:
            points = np.array([t.peval(x) for x in xs])
            array = xs.copy()
            t.ceval(array)
            np.testing.assert_allclose(points, expected, **tol)
            np.testing.assert_allclose(array, expected, **tol)
        points = np.array([t.dpeval(x, nu) for x in xs])
        array = xs.copy()
        t.dceval(array, nu)
        np.testing.assert_allclose(points, expected, **tol)
        np.testing.assert_allclose(array, expected, **tol)


# --- overrides, reached through the C-level table ----------------------------------------------------


class Overriding(Trajectory1d):
    def __init__(self):
        self.calls = []

    def peval(self, x):
        self.calls.append(("peval", x))
        return 42.0

    def dpeval(self, x, nu=1):
        self.calls.append(("dpeval", x, nu))
        return -7.0

    def ceval(self, xp):
        self.calls.append(("ceval", type(xp), xp.format, len(xp)))
        for i in range(len(xp)):
            xp[i] = 2 * xp[i]

    def dceval(self, xp, nu=1):
        self.calls.append(("dceval", len(xp), nu))
        xp[0] = nu


def test_c_level_operations_consult_overrides():
    t = make_traj(KNOTS, CPTS, 3, cls=Overriding)
    assert c_op("peval")(t, 0.5, 0) == 42.0
    assert c_op("dpeval")(t, 0.5, 0, opt_nu()) == -7.0
    assert c_op("dpeval")(t, 0.5, 0, opt_nu(3)) == -7.0
    xp = np.array([0.25, 0.5])
    assert c_op("ceval")(t, dview(xp), 0) == 0
    np.testing.assert_array_equal(xp, [0.5, 1.0])  # written through the memoryview
    assert c_op("dceval")(t, dview(xp), 0, opt_nu(2)) == 0
    assert xp[0] == 2.0
    assert t.calls == [
        ("peval", 0.5),
        ("dpeval", 0.5, 1),
        ("dpeval", 0.5, 3),
        ("ceval", memoryview, "d", 2),
        ("dceval", 2, 2),
    ]


def test_c_level_skip_dispatch_and_plain_type_run_builtin():
    sub = make_traj(KNOTS, CPTS, 3, cls=Overriding)
    plain = make_traj(KNOTS, CPTS, 3)
    assert c_op("peval")(sub, 0.5, 1) == plain.peval(0.5)
    assert c_op("peval")(plain, 0.5, 0) == plain.peval(0.5)
    assert c_op("dpeval")(plain, 0.5, 0, opt_nu()) == plain.dpeval(0.5)
    # The Python-visible methods skip the override only at C level; Python resolves them itself.
    assert sub.peval(0.5) == 42.0
    assert Trajectory1d.peval(sub, 0.5) == plain.peval(0.5)
    assert sub.calls == [("peval", 0.5)]


def test_c_level_errors_and_override_results():
    plain = make_traj(KNOTS, CPTS, 3)
    with pytest.raises(ValueError, match=out_of_domain(3.0)):
        c_op("peval")(plain, 3.0, 0)

    class BadResult(Trajectory1d):
        def peval(self, x):
            return "not a number"

    class Raising(Trajectory1d):
        def dpeval(self, x, nu=1):
            raise KeyError("from the override")

    with pytest.raises(TypeError):
        c_op("peval")(make_traj(KNOTS, CPTS, 3, cls=BadResult), 0.5, 0)
    with pytest.raises(KeyError, match="from the override"):
        c_op("dpeval")(make_traj(KNOTS, CPTS, 3, cls=Raising), 0.5, 0, opt_nu())


# --- docstrings ---------------------------------------------------------------------------------------

DOCS = {
    "peval": ["Evaluates the trajectory."],
    "dpeval": [
        "Evaluates the derivative of the trajectory.",
        "Derivative order. Must be non-negative number. Default is 1.",
    ],
    "ceval": [
        "Evaluates the trajectory in a set of data points. The array 'xp' is overwritten with "
        "the resultes.",
        "The x-coordinates of the data points, must be increasing.",
    ],
    "dceval": [
        "Evaluates the derivative of a set of data points. The array 'xp' is overwritten with "
        "the resultes.",
        "The x-coordinates of the data points, must be increasing.",
        "Derivative order. Must be non-negative number. Default is 1.",
        "For a large number of points it might be more efficient to use the 'self.derivative' "
        "and 'self.ceval' functions.",
    ],
    "__call__": [
        "Evaluates the trajectory or its dervative.",
        "x: double or array_like",
        "The x-coordinate(s) of the data point(s).",
        "nu: int",
        "Derivative order. Default is 0.",
        "out: float or ndarray",
        "If 'x' is a scalar number, a float type is returned. Otherwise a numpy array is "
        "returned.",
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
    "hscale": ["Scales 'self' horizontally keeping the start of the domain fixed.", "Scale factor."],
    "adapt": ["Adapts 'self' in a new domain.", "New domain stop. Must be greather than 'start'."],
}


@pytest.mark.parametrize("name", sorted(DOCS))
def test_docstrings(name):
    doc = getattr(Trajectory1d, name).__doc__
    summary, *sentences = DOCS[name]
    assert doc.startswith(summary + "\n")
    flat = " ".join(doc.split())
    for sentence in sentences:
        assert sentence in flat
    for section in ("Parameters", "Returns", "Notes"):
        assert f"\n{section}\n{'-' * len(section)}\n" in doc
