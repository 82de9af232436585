"""TrajectoryNd: a motion of several axes over one knot vector, checked against scipy's vector
BSpline and against the Trajectory1d of each axis."""

import copy
import gc
import pickle
from fractions import Fraction

import numpy as np
import pytest
from scipy.interpolate import BSpline
from support import oracle
from support.trajectories import clamped_knots

from pyorvex import TrajectoryNd, make_trajectory
from pyorvex.defdatastruct import Trajectory1d


def motion(p, dof, n=9, seed=0, clamped=True, stop=2.0):
    rng = np.random.default_rng(seed)
    inner = np.sort(rng.uniform(0.0, stop, n - p))
    ends = p + 1 if clamped else 1
    knots = np.r_[[0.0] * ends, inner, [stop] * ends]
    if not clamped:
        knots = np.sort(np.r_[knots, rng.uniform(0.0, stop, 2 * p)])
    cpts = rng.normal(size=(knots.size - p - 1, dof))
    return make_trajectory(knots, cpts, p), BSpline(knots, cpts, p)


def close(a, b):
    np.testing.assert_allclose(a, b, rtol=1e-10, atol=1e-11)


def per_axis(m, x, nu=0):
    return np.stack([a(x, nu) for a in m.axes()], axis=-1)


XS = np.linspace(0.0, 2.0, 41)


@pytest.mark.parametrize("p, dof, clamped", [(3, 6, True), (2, 1, False), (0, 2, True)])
def test_construction_and_axes(p, dof, clamped):
    m, b = motion(p, dof, clamped=clamped)
    assert isinstance(m, TrajectoryNd) and not isinstance(m, Trajectory1d)
    assert (m.p, m.n, m.dof, m.order, m.start, m.stop) == (p, len(b.c) - 1, dof, 0, 0.0, 2.0)
    assert all(type(a) is Trajectory1d for a in m.axes())
    close(m.axis(-1).get_cpts_asarray(), b.c[:, -1])
    assert TrajectoryNd.from_axes(m.axes()) == m
    # Axes of other degrees and knots join exactly: raised, refined to the union.
    low, lb = motion(1, 1, n=5, seed=3)
    joined = TrajectoryNd.from_axes([*m.axes(), low.axis(0)])
    assert joined.p == max(p, 1) and joined.dof == dof + 1
    close(joined(XS), np.c_[per_axis(m, XS), lb(XS)])
    if clamped:
        close(m(XS), b(XS))
    kv = joined.get_knotvector_asarray()
    for a in [*m.axes(), low.axis(0)]:
        u, k = np.unique(a.degelev(joined.p - a.p).get_knotvector_asarray(), return_counts=True)
        assert all(np.count_nonzero(kv == v) >= c for v, c in zip(u, k))


@pytest.mark.parametrize("p", [0, 1, 3, 5, 7])
@pytest.mark.parametrize("order", ["sorted", "reversed", "shuffled"])
def test_evaluation(p, order):
    m, b = motion(p, 4, n=p + 12, seed=p)
    x = {"sorted": XS, "reversed": XS[::-1], "shuffled": np.random.default_rng(1).permutation(XS)}
    x = x[order]
    for nu in range(p + 2):
        close(m(x, nu), per_axis(m, x, nu))
        if nu <= p:
            close(m(x, nu), b(x, nu))
        assert m(float(x[3]), nu).shape == (4,)
        close(m(x[3], nu), m(x, nu)[3])
    assert m(list(x)).shape == (x.size, 4) and m(np.array(0.5)).shape == (1, 4)


@pytest.mark.parametrize("p", [1, 3, 5, 6])
@pytest.mark.parametrize("per_span", [3, 40])
def test_values_keep_the_error_bound_of_the_recursion(p, per_span):
    # Spiky axes: a small value beside a large control point keeps an error relative to
    # sum |c_i| B_i(x) in every column (seven: the four-, two- and one-column steps).
    rng = np.random.default_rng(10 * p + per_span)
    knots = clamped_knots(rng.uniform(0.0, 1.0, 8), p)
    n, dof = knots.size - p - 1, 7
    cpts = rng.uniform(-1.0, 1.0, (n, dof)) * 10.0 ** rng.choice([0, 6, -3], (n, dof))
    starts = np.unique(knots)
    xs = np.r_[np.linspace(starts[:-1], starts[1:], per_span, endpoint=False).T.ravel(), 1.0]
    got = make_trajectory(knots, cpts, p)(xs)
    eps = np.finfo(np.float64).eps / 2
    for j in range(dof):
        for x, y in zip(xs, got[:, j]):
            scale = float(oracle.exact(knots, np.abs(cpts[:, j]), p, x))
            assert abs(Fraction(y) - oracle.exact(knots, cpts[:, j], p, x)) <= 4 * p * eps * scale


OPS = {
    "derivative": lambda t: t.derivative(2),
    "antiderivative": lambda t: t.derivative(2).antiderivative(2),
    "degelev": lambda t: t.degelev(2),
    "knotins": lambda t: t.knotins(0.77, 2),
    "knotref": lambda t: t.knotref(np.array([0.1, 0.5, 1.9])),
    "knotrem": lambda t: t.knotins(1.1, 2).knotrem(1.1, 3),
    "knotsrem": lambda t: t.knotins(0.3, 1).knotref(np.array([1.5])).knotsrem(),
}


def in_place(name, *args):
    def op(t):
        r = t.copy()
        getattr(r, name)(*args)
        return r

    return op


OPS.update(
    hscale=in_place("hscale", 1.5),
    rshift=in_place("rshift", -0.25),
    ashift=in_place("ashift", 3.0),
    adapt=in_place("adapt", -1.0, 4.0),
)


@pytest.mark.parametrize("clamped", [True, False])
@pytest.mark.parametrize("name", sorted(OPS))
def test_operations_match_each_axis(name, clamped):
    m, _ = motion(3, 3, clamped=clamped)
    r = OPS[name](m)
    axes = [OPS[name](a) for a in m.axes()]
    assert (r.p, r.n, r.order) == (axes[0].p, axes[0].n, axes[0].order)
    close(r.get_knotvector_asarray(), axes[0].get_knotvector_asarray())
    x = np.linspace(r.start, r.stop, 23)
    close(r(x), np.stack([a(x) for a in axes], axis=-1))


def test_antiderivative_and_joint_knot_removal():
    m, b = motion(3, 2)
    v = TrajectoryNd._from_arrays(m.get_knotvector_asarray(), m.get_cpts_asarray(), 3, 2)
    close(v.antiderivative(2).derivative(2)(XS), v(XS))
    close(v.antiderivative()(XS), per_axis(v.antiderivative(), XS))
    # A knot that only one axis can lose stays; each axis stays within the tolerance.
    smooth = m.axis(0).knotins(1.3, 1)
    rough = m.axis(1).knotins(1.3, 1).knotins(0.9, 1)
    rough.get_cpts_asarray()[4] += 1.0
    joint = TrajectoryNd.from_axes([smooth.knotins(0.9, 1), rough])
    alone = [a.knotsrem(1e-9) for a in joint.axes()]
    kept = joint.knotsrem(1e-9)
    assert alone[0].n < kept.n == max(a.n for a in alone)
    close(kept(XS), joint(XS))
    assert joint.knotrem(0.9, 1).n == joint.n


def test_arithmetic():
    m, b = motion(3, 3, seed=1)
    o, ob = motion(3, 3, seed=2)
    vec = np.array([1.0, -2.0, 0.5])
    close((m + o)(XS), b(XS) + ob(XS))
    close((m - o)(XS), b(XS) - ob(XS))
    for got, want in [
        (m + vec, b(XS) + vec),
        (2.0 + m, b(XS) + 2.0),
        (vec - m, vec - b(XS)),
        (m - 1, b(XS) - 1),
        (m * vec, b(XS) * vec),
        (3 * m, 3 * b(XS)),
        (m / vec, b(XS) / vec),
        (-m, -b(XS)),
        (m * np.array(2.0), 2 * b(XS)),
    ]:
        close(got(XS), want)
    close(m(XS.astype(object)), b(XS))  # converted as Trajectory1d converts it
    close(m(XS), b(XS))  # operands unchanged
    same = m
    same *= vec
    same += 1.0
    assert same is m
    close(m(XS), b(XS) * vec + 1.0)


def test_protocol():
    m, b = motion(2, 3)
    assert (
        repr(m)
        == str(m)
        == "TrajectoryNd(start = 0.0, stop = 2.0, p = 2, n = 9, dof = 3, order = 0)"
    )
    for c in (m.copy(), copy.copy(m), copy.deepcopy(m), pickle.loads(pickle.dumps(m))):
        assert c == m and c is not m and type(c) is TrajectoryNd
        c.get_cpts_asarray()[0, 0] += 1e-6
        assert c != m
    assert (
        m != m.axis(0)
        and m != TrajectoryNd()
        and TrajectoryNd() == pickle.loads(pickle.dumps(TrajectoryNd()))
    )
    cpts, knots = m.get_cpts_asarray(), m.get_knotvector_asarray()
    assert cpts.shape == (10, 3) and knots.shape == (13,)
    del m
    gc.collect()
    cpts[0] = 0.0  # the views keep the motion alive
    close(cpts.base(XS)[0], [0.0, 0.0, 0.0])


def refusals():
    m, _ = motion(3, 3)
    other_dof, _ = motion(3, 2)
    other_p, _ = motion(2, 3)
    k, c = m.get_knotvector_asarray(), m.get_cpts_asarray()
    a0 = m.axis(0)
    return m, [
        (lambda: make_trajectory(k, c[:, :0], 3), ValueError, r"'cpts'.*dof >= 1"),
        (lambda: make_trajectory(k, c[None], 3), ValueError, r"'cpts' must have one dimension"),
        (
            lambda: make_trajectory(k, np.where(c > 1, np.nan, c), 3),
            ValueError,
            r"'cpts' must be finite",
        ),
        (lambda: make_trajectory(k[1:], c, 3), ValueError, r"needs 14 knots"),
        (lambda: TrajectoryNd.from_axes([]), ValueError, "'trajs'"),
        (lambda: TrajectoryNd.from_axes([a0, 1.0]), TypeError, "'trajs'"),
        (lambda: TrajectoryNd.from_axes([a0, a0.derivative()]), ValueError, "'order'"),
        (
            lambda: TrajectoryNd.from_axes([a0, m.axis(1).knotins(1.0, 1).derivative()]),
            ValueError,
            "domain|order",
        ),
        (lambda: m.axis(3), IndexError, "axis index 3 out of range"),
        (lambda: m(2.5), ValueError, r"^'x' out of domain: 2\.5$"),
        (lambda: m([0.1, 2.5]), ValueError, "^domain error$"),
        (lambda: m([0.1, np.nan]), ValueError, "^domain error$"),
        (lambda: m([0.5, 0.1, 0.5]), ValueError, "^'xp' must be increasing$"),
        (lambda: m([[0.1]]), ValueError, "^'x' must be one-dimensional$"),
        (lambda: m("0.5"), TypeError, "must be real number, not str"),
        (lambda: m(None), ValueError, "^domain error$"),
        (lambda: m / 1e-320, OverflowError, "out of range"),
        (lambda: m([]), ValueError, "^zero size arrays are not allowed$"),
        (lambda: m(0.5, -1), ValueError, "^'nu' must be non-negative number$"),
        (lambda: m + other_dof, ValueError, "same 'dof'"),
        (lambda: m + other_p, ValueError, "same degree"),
        (lambda: m + [1.0, 2.0], ValueError, r"dof = 3 values"),
        (lambda: m * [1.0, np.inf, 2.0], ValueError, "'other' must be finite"),
        (lambda: m * m, TypeError, None),
        (lambda: m.knotins(3.0, 1), ValueError, r"^'u' out of domain: 3\.0$"),
        (lambda: m.knotins(1.0, 4), ValueError, "^'r' must be less than or equal to 'p'$"),
        (lambda: m.knotref(np.array([0.5, 0.2])), ValueError, "^'X' must be increasing$"),
        (lambda: m.antiderivative(), ValueError, "^negative 'order' not allowed$"),
        (lambda: m.hscale(0.0), ValueError, "'k' must be a finite number greater than zero"),
        (lambda: m.hscale(1e-320), ValueError, "merge or reverse distinct knots"),
        (lambda: m.adapt(1.0, 1.0), ValueError, "'stop' must be strictly greater than 'start'"),
        (lambda: TrajectoryNd()(0.5), ValueError, "the motion is empty"),
    ]


@pytest.mark.parametrize("case", range(len(refusals()[1])))
def test_refusals_leave_everything_unchanged(case):
    m, cases = refusals()
    before = m.copy()
    call, error, message = cases[case]
    with pytest.raises(error, match=message):
        call()
    assert m == before
