"""The call operator: scalars and array-likes, ordering, errors, input safety and overrides."""

import math
import re
import warnings
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest

from pyorvex.defdatastruct import Trajectory1d
from traj_factory import make_traj

KNOTS = [0.0, 0.0, 0.0, 0.0, 0.4, 1.1, 2.0, 2.0, 2.0, 2.0]
CPTS = [0.5, 1.0, -1.0, 2.0, 0.25, -0.75]


class GeneralRoute(Trajectory1d):
    """Overrides that only delegate: the call operator then takes the step-by-step route."""

    def ceval(self, xp):
        Trajectory1d.ceval(self, xp)

    def dceval(self, xp, nu=1):
        Trajectory1d.dceval(self, xp, nu)


@pytest.fixture
def traj():
    return make_traj(KNOTS, CPTS, 3)


def outcome(t, x, nu):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            r = t(x, nu)
        except Exception as e:  # noqa: BLE001 - the exception itself is compared
            return ("error", type(e), str(e))
    if isinstance(r, float):
        return ("float", r.hex() if not math.isnan(r) else "nan")
    return ("array", type(r), r.dtype, r.shape, r.tobytes())


def _inputs():
    rng = np.random.default_rng(7)
    sorted_ = np.linspace(0.0, 2.0, 50)
    shuffled = rng.permutation(sorted_)
    big_endian = shuffled.astype(">f8")
    longdouble = shuffled.astype(np.longdouble)
    return {
        "sorted": sorted_,
        "shuffled": shuffled,
        "reversed-view": sorted_[::-1],
        "strided-view": shuffled[::3],
        "list": [1.9, 0.1, 1.1, 0.4],
        "tuple-int": (1, 0, 2),
        "range": range(3),
        "int64": np.array([2, 0, 1], dtype=np.int64),
        "uint8": np.array([1, 0], dtype=np.uint8),
        "bool": np.array([True, False]),
        "float32": shuffled.astype(np.float32),
        "float16": np.array([1.5, 0.25], dtype=np.float16),
        "longdouble": longdouble,
        "big-endian": big_endian,
        "zero-dim": np.array(0.75),
        "one-element": [1.3],
        "object": np.array([0.5, 0.2], dtype=object),
        "masked": np.ma.array([0.5, 0.2, 1.0]),
        "complex": np.array([0.5 + 0j, 0.2]),
        "nan-middle": [0.2, math.nan, 0.1],
        "nan-hides-top": [0.2, math.nan, 2.5],
        "nan-bottom-checked": [math.nan, -0.5],
        "nans": [math.nan, math.nan],
        "negative-nan": [0.5, -math.nan, 0.2],
        "duplicate": [0.3, 0.1, 0.3],
        "signed-zeros": [0.0, -0.0],
        "below": [0.5, -1.0],
        "above": [2.5, 0.5],
        "empty-list": [],
        "empty-array": np.empty(0),
        "2d-list": [[0.1, 0.2]],
        "2d-array": np.zeros((2, 1)),
        "2d-strings": [["a"]],
        "strings": ["b", "a"],
        "mixed": [0.5, "a"],
        "none": None,
        "ragged": [[0.1], [0.2, 0.3]],
    }


INPUTS = _inputs()


@pytest.mark.parametrize("nu", [0, 1, 2, 5, -1])
@pytest.mark.parametrize("name", sorted(INPUTS))
def test_direct_route_matches_step_by_step_route(name, nu):
    # Same values bit for bit, or the same exception with the same message.
    plain = make_traj(KNOTS, CPTS, 3)
    general = make_traj(KNOTS, CPTS, 3, cls=GeneralRoute)
    x = INPUTS[name]
    assert outcome(plain, x, nu) == outcome(general, x, nu)


def _large_inputs():
    rng = np.random.default_rng(11)
    m = 30_000
    uniform = rng.uniform(0.0, 2.0, m)
    ordered = np.sort(uniform)
    with_nans = ordered.copy()
    with_nans[[5, 4096, 4097, 9000, m - 1]] = np.nan
    late_break = ordered.copy()
    late_break[[20_000, 20_001]] = late_break[[20_001, 20_000]]
    # A repeated value straddling a block boundary: only that comparison sees it.
    boundary_repeat = ordered.copy()
    boundary_repeat[4096] = boundary_repeat[4095]
    nan_then_smaller = ordered.copy()
    # A NaN lets a smaller value pass the order test; at a block boundary too.
    nan_then_smaller[4095] = np.nan
    nan_then_smaller[4096] = ordered[10]
    clustered = np.r_[rng.uniform(1.0, 1.0 + 1e-9, m - 2), 0.0, 2.0]
    rng.shuffle(clustered)
    return {
        "uniform-1023": uniform[:1023],
        "uniform-1024": uniform[:1024],
        "uniform-1025": uniform[:1025],
        "uniform": uniform,
        "ordered": ordered,
        "ordered-nans": with_nans,
        "shuffled-nans": rng.permutation(with_nans),
        "late-break": late_break,
        "boundary-repeat": boundary_repeat,
        "nan-then-smaller": nan_then_smaller,
        "clustered": clustered,
        "tiny-range": 1.0 + rng.integers(0, 3000, m) * 5e-324,
        "two-values": rng.choice([0.5, 1.5], m),
        "with-infinity": np.r_[uniform[:-1], np.inf],
        "infinity-hidden-by-nan": np.r_[uniform[:-2], np.inf, np.nan],
        "negative-infinity": np.r_[-np.inf, uniform[1:]],
        "all-nan": np.full(m, np.nan),
        "signed-zeros": np.r_[uniform[:-2], 0.0, -0.0],
        "ordered-above-domain": np.r_[ordered[:-1], 2.5],
        "shuffled-below-domain": rng.permutation(np.r_[-1.0, uniform[1:]]),
        "shuffled-int": rng.permutation(np.arange(3)),
    }


LARGE = _large_inputs()


@pytest.mark.parametrize("nu", [0, 2])
@pytest.mark.parametrize("name", sorted(LARGE))
def test_large_input_matches_step_by_step_route(name, nu):
    plain = make_traj(KNOTS, CPTS, 3)
    general = make_traj(KNOTS, CPTS, 3, cls=GeneralRoute)
    x = LARGE[name]
    assert outcome(plain, x, nu) == outcome(general, x, nu)


# --- scalars ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "x, value",
    [
        (0.5, 0.5),
        (np.float64(0.5), 0.5),
        (np.float32(0.5), 0.5),
        (np.int64(1), 1.0),
        (1, 1.0),
        (True, 1.0),
        (Fraction(1, 2), 0.5),
        (Decimal("0.5"), 0.5),
    ],
)
def test_scalars_give_floats(traj, x, value):
    r = traj(x)
    assert type(r) is float
    assert r == traj.peval(value)
    d = traj(x, 2)
    assert type(d) is float
    assert d == traj.dpeval(value, 2)


def test_zero_dimensional_array_is_not_a_scalar(traj):
    r = traj(np.array(0.5))
    assert isinstance(r, np.ndarray) and r.shape == (1,) and r.dtype == np.float64


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        (("abc",), {}, TypeError, "must be real number, not str"),
        ((b"ab",), {}, TypeError, "must be real number, not bytes"),
        ((2.5,), {}, ValueError, r"^'x' out of domain: 2\.5$"),
        ((-1,), {"nu": 1}, ValueError, r"^'x' out of domain: -1\.0$"),
        # nu is refused before the scalar is converted or checked
        (("abc", -1), {}, ValueError, r"^'nu' must be non-negative number$"),
        ((5.0, -1), {}, ValueError, r"^'nu' must be non-negative number$"),
        ((0.5,), {"nu": "a"}, TypeError, r"^an integer is required$"),
        ((0.5, None), {}, TypeError, r"^an integer is required$"),
        ((), {}, TypeError, r"^__call__\(\) takes at least 1 positional argument \(0 given\)$"),
        ((0.1, 1, 2), {}, TypeError, r"^__call__\(\) takes at most 2 positional arguments \(3 given\)$"),
        ((0.1,), {"mu": 1}, TypeError, r"^__call__\(\) got an unexpected keyword argument 'mu'$"),
        ((0.1,), {"x": 1}, TypeError, r"^__call__\(\) got multiple values for keyword argument 'x'$"),
        ((), {"nu": 1}, TypeError, r"^__call__\(\) takes at least 1 positional argument \(0 given\)$"),
    ],
)
def test_call_errors(traj, args, kwargs, exc, message):
    with pytest.raises(exc, match=message):
        traj(*args, **kwargs)


def test_keywords(traj):
    assert traj(x=0.25) == traj.peval(0.25)
    assert traj(x=0.25, nu=1) == traj.dpeval(0.25, 1)
    assert traj(0.25, nu=0) == traj.peval(0.25)
    np.testing.assert_array_equal(traj(nu=1, x=[0.25]), traj([0.25], 1))


# --- arrays -------------------------------------------------------------------------------------


def test_unordered_input_comes_back_in_input_order(traj):
    x = [1.9, 0.1, 0.5]
    r = traj(x)
    ordered = np.array([0.1, 0.5, 1.9])
    traj.ceval(ordered)
    np.testing.assert_array_equal(r, ordered[[2, 0, 1]])
    np.testing.assert_allclose(r, [traj.peval(v) for v in x], rtol=1e-12)


def test_derivatives_over_arrays(traj):
    x = [0.2, 0.4]
    np.testing.assert_allclose(traj(x, 1), [traj.dpeval(0.2, 1), traj.dpeval(0.4, 1)], rtol=1e-12)
    np.testing.assert_allclose(traj(x[::-1], 2), [traj.dpeval(0.4, 2), traj.dpeval(0.2, 2)], rtol=1e-12)
    np.testing.assert_array_equal(traj(x, 4), [0.0, 0.0])


@pytest.mark.parametrize(
    "x, message",
    [
        ([0.1, 0.5, 0.5], "'xp' must be increasing"),
        ([0.5, 0.1, 0.5], "'xp' must be increasing"),
        ([], "zero size arrays are not allowed"),
        ([[0.1, 0.2]], "'x' must be one-dimensional"),
        (np.zeros((1, 1, 1)), "'x' must be one-dimensional"),
        ([0.5, 2.0000001], "domain error"),
    ],
)
def test_array_errors(traj, x, message):
    with pytest.raises(ValueError, match="^" + re.escape(message) + "$"):
        traj(x)


@pytest.mark.parametrize(
    "x, message",
    [
        # conversion and the dimension test come before nu
        ([[0.1]], "'x' must be one-dimensional"),
        (["a"], "could not convert"),
        # nu comes before the checks of the evaluation
        ([], "'nu' must be non-negative number"),
        ([0.5, 0.5], "'nu' must be non-negative number"),
        ([0.5, 9.0], "'nu' must be non-negative number"),
    ],
)
def test_negative_nu_in_array_path(traj, x, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        traj(x, -1)


def test_integers_are_evaluated_as_float64(traj):
    r = traj(np.array([2, 0, 1], dtype=np.int32))
    assert r.dtype == np.float64
    np.testing.assert_allclose(r, [traj.peval(2.0), traj.peval(0.0), traj.peval(1.0)], rtol=1e-12)


@pytest.mark.parametrize("nu", [0, 1])
@pytest.mark.parametrize(
    "make",
    [
        lambda: [0.9, 0.1, 0.5],
        lambda: np.array([0.9, 0.1, 0.5]),
        lambda: np.array([0.1, 0.5, 0.9]),
        lambda: np.array([[0.1, 0.5]]),
        lambda: np.array([0.1, 0.5, 0.5]),
        lambda: np.array([0.5, 7.0]),
        lambda: np.array([1, 0]),
    ],
)
def test_input_is_never_modified(traj, make, nu):
    x = make()
    before = np.array(x, copy=True)
    try:
        r = traj(x, nu)
    except ValueError:
        r = None
    np.testing.assert_array_equal(np.asarray(x), before)
    if r is not None:
        assert not np.shares_memory(r, np.asarray(x))
        assert r.dtype == np.float64 and r.ndim == 1 and r.size == before.size


# --- overrides ----------------------------------------------------------------------------------


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
        for i in range(len(xp)):
            xp[i] = -xp[i]


def test_call_uses_python_overrides():
    t = make_traj(KNOTS, CPTS, 3, cls=Recording)
    assert t(0.5) == 100.5
    assert t(0.5, 2) == 202.0
    # The overrides see the sorted copy; the results come back in input order.
    np.testing.assert_array_equal(t([0.3, 0.1]), [3.0, 1.0])
    np.testing.assert_array_equal(t(np.array([0.3, 0.1, 0.2]), 3), [-0.3, -0.1, -0.2])
    assert t.calls == [
        ("peval", 0.5),
        ("dpeval", 0.5, 2),
        ("ceval", [0.1, 0.3]),
        ("dceval", [0.1, 0.2, 0.3], 3),
    ]


def test_call_uses_instance_attribute_and_partial_overrides():
    class Sub(Trajectory1d):
        pass

    t = make_traj(KNOTS, CPTS, 3, cls=Sub)
    plain = make_traj(KNOTS, CPTS, 3)
    np.testing.assert_array_equal(t([0.7, 0.2]), plain([0.7, 0.2]))
    assert type(t([0.2])) is np.ndarray
    t.peval = lambda x: -1.5
    assert t(0.3) == -1.5
    # Arrays still go to the built-in ceval.
    np.testing.assert_array_equal(t([0.7, 0.2]), plain([0.7, 0.2]))


def test_override_errors_propagate():
    class Failing(Trajectory1d):
        def ceval(self, xp):
            raise RuntimeError("refused by the subclass")

    t = make_traj(KNOTS, CPTS, 3, cls=Failing)
    x = np.array([0.3, 0.1])
    with pytest.raises(RuntimeError, match="refused by the subclass"):
        t(x)
    np.testing.assert_array_equal(x, [0.3, 0.1])
