"""The planning toolkit against scipy: interpolation, the scipy bridge, exact extrema and peaks,
retiming to limits, sampling on a control-rate grid and derivatives at any abscissae."""

import os
import signal
import subprocess
import sys
import threading
import tracemalloc
from fractions import Fraction as F

import numpy as np
import pytest
from scipy.interpolate import BSpline, PPoly, make_interp_spline
from support import oracle
from support.trajectories import arrays, cubic, random_clamped, state, trajectory

import pyorvex
from pyorvex import derivatives, extrema, interpolate, peak, retime, sample, time_scale
from pyorvex.curvekit import MAX_DEGREE
from pyorvex.defdatastruct import Trajectory1d


def random_spline(rng, p, kind):
    """Knots and control points on [0, 1]: clamped, with repeated interior knots, or unclamped."""
    if kind == "unclamped":
        n = int(rng.integers(p, p + 10))
        return np.sort(rng.uniform(0.0, 1.0, n + p + 2)), rng.uniform(-2.0, 2.0, n + 1)
    return random_clamped(rng, p, repeat=kind == "repeated")


# --- interpolate ---------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "p, heads, m",
    [(1, 0, 6), (2, 0, 9), (2, 1, 9), (3, 1, 12), (3, 2, 4), (4, 2, 10), (5, 2, 15), (5, 1, 7)]
    + [(6, 3, 11), (7, 3, 20), (7, 6, 2)],
)
def test_interpolate_agrees_with_scipy_and_passes_through_the_waypoints(p, heads, m):
    rng = np.random.default_rng(100 * p + heads)
    times = np.cumsum(rng.uniform(0.4, 1.0, m)) - 2.0  # unequal, well-conditioned spacing
    values = rng.uniform(-5.0, 5.0, m)
    start, stop = rng.uniform(-3.0, 3.0, heads), rng.uniform(-3.0, 3.0, p - 1 - heads)
    given = [a.copy() for a in (times, values, start, stop)]
    t = interpolate(times, values, p, start=start, stop=stop, order=1)
    bc = [[(i + 1, s) for i, s in enumerate(ends)] or None for ends in (start, stop)]
    ref = make_interp_spline(times, values, k=p, bc_type=None if p == 1 else bc)
    knots, cpts = arrays(t)
    assert (t.p, t.order) == (p, 1)
    np.testing.assert_array_equal(knots, ref.t)
    np.testing.assert_allclose(cpts, ref.c, rtol=1e-9, atol=1e-9 * np.abs(ref.c).max())
    np.testing.assert_allclose(t(times), values, rtol=1e-9, atol=1e-9 * np.abs(values).max())
    for a, b in zip(given, (times, values, start, stop)):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize(
    "args, exc, message",
    [
        (([0, 1], [0, 1], 0, (), ()), ValueError, "the degree 'p' must be at least 1, got 0"),
        (([0, 1], [0, 1], MAX_DEGREE + 1), ValueError, f"degree {MAX_DEGREE + 1} exceeds"),
        (([0, 1], [0, 1], 2.0), TypeError, "'p' must be an integer, got float"),
        (([0, 1, 2], [0, 1]), ValueError, "must have the same length, got 3 and 2"),
        (([0], [1]), ValueError, "at least 2 waypoints are needed, got 1"),
        (([0, 1, 1], [0, 1, 2]), ValueError, "strictly increasing: times[2] = 1.0 <= times[1]"),
        (([0, np.nan, 2], [0, 1, 2]), ValueError, "'times' must be finite: times[1] = nan"),
        (([0, 1, 2], [0, -np.inf, 2]), ValueError, "'values' must be finite: values[1] = -inf"),
        (([0, 1], [0, 1], 5, (0.0,), (0, 0)), ValueError, "p - 1 = 4 end conditions, got 1 in"),
        (([0, 1], [0, 1], 3, (np.nan,), (0,)), ValueError, "'start' must be finite"),
        (([0, 1], [[[0, 1]]]), ValueError, "'values' must be of 1 to 2 dimensions, got 3"),
        ((["a", "b"], [0, 1]), TypeError, "'times' must hold real numbers"),
    ],
)
def test_interpolate_refuses(args, exc, message):
    with pytest.raises(exc) as info:
        interpolate(*args)
    assert message in str(info.value)


def exact_interpolant(times, values, p, start, stop):
    """The interpolant's control points in exact rational arithmetic: the collocation rows (end
    derivatives from the derivative control points at a clamped end) solved by elimination."""
    t = [F(times[0])] * (p + 1) + [F(x) for x in times[1:-1]] + [F(times[-1])] * (p + 1)
    n = len(t) - p - 1

    def end_rows(count, at_start):
        rows = []
        for d in range(count + 1):
            row = []
            for j in range(n):
                c = [F(int(i == j)) for i in range(n)]
                for q in range(d):  # derivative control points, degree p - q
                    c = [
                        (p - q) * (c[i + 1] - c[i]) / (t[i + p + 1] - t[i + q + 1])
                        for i in range(len(c) - 1)
                    ]
                row.append(c[0] if at_start else c[-1])
            rows.append(row)
        return rows

    def value_row(x, s):  # Cox-de Boor on the span [t[s], t[s + 1])
        b = {s: F(1)}
        for q in range(1, p + 1):
            nb = {}
            for i in range(s - q, s + 1):
                left = (x - t[i]) / (t[i + q] - t[i]) * b.get(i, 0) if t[i + q] > t[i] else 0
                right = (
                    (t[i + q + 1] - x) / (t[i + q + 1] - t[i + 1]) * b.get(i + 1, 0)
                    if t[i + q + 1] > t[i + 1]
                    else 0
                )
                nb[i] = left + right
            b = nb
        return [b.get(j, F(0)) for j in range(n)]

    rows = end_rows(len(start), True) + [
        value_row(t[p + i], p + i) for i in range(1, len(times) - 1)
    ]
    rows += end_rows(len(stop), False)
    rhs = [F(values[0]), *map(F, start), *map(F, values[1:-1]), F(values[-1]), *map(F, stop)]
    a = [r + [b] for r, b in zip(rows, rhs)]
    for j in range(n):
        piv = next(i for i in range(j, n) if a[i][j] != 0)
        a[j], a[piv] = a[piv], a[j]
        for i in range(j + 1, n):
            if a[i][j]:
                f = a[i][j] / a[j][j]
                a[i] = [x - f * y for x, y in zip(a[i], a[j])]
    c = [F(0)] * n
    for j in reversed(range(n)):
        c[j] = (a[j][n] - sum(a[j][i] * c[i] for i in range(j + 1, n))) / a[j][j]
    return [float(x) for x in t], [float(x) for x in c]


@pytest.mark.parametrize(
    "times, values, p, start, stop, refused",
    [
        (np.linspace(0, 1000, 12), np.cos(np.arange(12)), 5, (0, 0, 0, 1.0), (), True),
        (np.linspace(0, 3600, 20), np.sin(np.arange(20.0)), 3, (0.5, 0.2), (), True),
        ([0, 1], [0, 1], 81, [0.0] * 40, [0.0] * 40, True),
        ([0, 1], [0, 1], 11, [0.0] * 5, [0.0] * 5, False),
        (
            np.cumsum(np.r_[0, np.random.default_rng(5).uniform(0.2, 1, 14)]),
            np.cos(np.arange(15.0)),
            5,
            (0.3, 0),
            (0, -1),
            False,
        ),
        (
            np.arange(12.0),
            np.random.default_rng(6).uniform(-1, 1, 12),
            9,
            [0.0] * 4,
            [1.0] * 4,
            False,
        ),
    ],
)
def test_interpolate_is_accurate_between_waypoints_or_refuses(
    times, values, p, start, stop, refused
):
    """Against the exact interpolant: accepted results hold to 1e-9 of the data everywhere."""
    if refused:
        with pytest.raises(ValueError, match="cannot be computed to the accuracy of its data"):
            interpolate(times, values, p, start, stop)
        return
    knots, exact = exact_interpolant(times, values, p, start, stop)
    t = interpolate(times, values, p, start, stop)
    x = np.linspace(knots[0], knots[-1], 301)
    truth = oracle.spline(np.array(knots), np.array(exact), p)(x)
    assert np.abs(t(x) - truth).max() <= 1e-9 * np.abs(values).max()


def test_interpolate_answers_ctrl_c_and_copies_what_another_thread_rewrites():
    rng = np.random.default_rng(8)
    # Python's own handler, whatever a test before this one installed: Ctrl-C raises. The signal
    # comes from another process: a thread of this one would wait for the interpreter lock,
    # which the call holds throughout.
    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    sender = subprocess.Popen(["sh", "-c", f"sleep 0.3; kill -INT {os.getpid()}"])
    try:
        with pytest.raises(KeyboardInterrupt):  # seconds of work at this degree
            interpolate(np.arange(1000.0), rng.uniform(-1, 1, 1000), 1023, [0.0] * 511, [0.0] * 511)
    finally:
        sender.wait()
        signal.signal(signal.SIGINT, handler)
    times, values = np.arange(300.0), rng.uniform(-1, 1, 300)
    stop = threading.Event()

    def rewrite():
        while not stop.is_set():
            times[:] = times[::-1]
            values[::2] = np.nan

    writer = threading.Thread(target=rewrite)
    writer.start()
    try:
        for _ in range(200):
            try:
                interpolate(times, values)
            except ValueError:
                pass  # a snapshot the writer left unsorted or NaN: refused, never IndexError
    finally:
        stop.set()
        writer.join()


# --- from_scipy / to_scipy -----------------------------------------------------------------------


def test_scipy_round_trip_trims_padding_and_does_not_extrapolate():
    knots, cpts = random_clamped(np.random.default_rng(7), 4)
    t = trajectory(knots, cpts, 4, order=2)
    s = pyorvex.to_scipy(t)
    assert isinstance(s, BSpline) and s.k == 4 and not s.extrapolate
    np.testing.assert_array_equal(s.t, knots)
    np.testing.assert_array_equal(s.c, cpts)
    assert np.isnan(s(knots[-1] + 0.5))
    back = pyorvex.from_scipy(s, order=2)
    assert state(back) == state(t)
    padded = BSpline(knots, np.r_[cpts, 9.0, 9.0, 9.0], 4)
    assert state(pyorvex.from_scipy(padded, 2)) == state(t)


@pytest.mark.parametrize("p", [0, 1, 2])
def test_to_scipy_drops_surplus_end_knots(p):
    knots = [0.0] * (p + 3) + [1.0] + [2.0] * (p + 4)
    t = trajectory(knots, np.arange(len(knots) - p - 1.0) ** 2, p)
    s = pyorvex.to_scipy(t)
    x = np.linspace(0.0, 2.0, 41)
    np.testing.assert_allclose(s(x), t(x), rtol=1e-14)
    if p:
        np.testing.assert_allclose(s(x, 1), t(x, 1), rtol=1e-14)


@pytest.mark.parametrize(
    "spline, exc, message",
    [
        (BSpline(np.r_[0.0, 0, 1, 1], np.ones((2, 3, 1)), 1), ValueError, "got shape (2, 3, 1)"),
        (BSpline.construct_fast(np.r_[0.0, 0, 1, 2, 2], np.ones(2), 1), ValueError, "need 3"),
        (cubic(), TypeError, "must be a scipy.interpolate.BSpline, got Trajectory1d"),
    ],
)
def test_from_scipy_refuses(spline, exc, message):
    with pytest.raises(exc) as info:
        pyorvex.from_scipy(spline)
    assert message in str(info.value)


@pytest.mark.parametrize("call", [lambda: pyorvex.to_scipy(cubic()), lambda: pyorvex.from_scipy(0)])
def test_scipy_bridge_without_scipy_names_the_extra(monkeypatch, call):
    monkeypatch.setitem(sys.modules, "scipy.interpolate", None)
    with pytest.raises(ImportError, match=r"pip install 'pyorvex\[scipy\]'"):
        call()


# --- extrema / peak ------------------------------------------------------------------------------


def exact_extrema(knots, cpts, p, nu):
    """(least, greatest) of the nu-th derivative by scipy: both ends of every non-empty piece and
    every root of the next derivative. Unclamped ends: p zero-weight knots on either side make
    scipy's base interval the whole knot span without changing the curve."""
    a, b = knots[0], knots[-1]
    padded = oracle.spline(np.r_[[a] * p, knots, [b] * p], np.r_[np.zeros(p), cpts, np.zeros(p)], p)
    pp = PPoly.from_spline(padded).derivative(nu)
    ends = [np.polyval(pp.c[:, i], [0.0, h]) for i, h in enumerate(np.diff(pp.x)) if h > 0]
    roots = pp.derivative().roots(extrapolate=False)
    roots = roots[np.isfinite(roots) & (roots >= a) & (roots <= b)]
    candidates = np.concatenate(ends + [pp(roots)])
    return candidates.min(), candidates.max()


@pytest.mark.parametrize(
    "p, kind",
    [(1, "clamped"), (2, "repeated"), (3, "clamped"), (3, "repeated"), (3, "unclamped")]
    + [(4, "unclamped"), (5, "repeated"), (6, "clamped"), (7, "unclamped")],
)
def test_extrema_and_peak_are_exact(p, kind):
    rng = np.random.default_rng(p * 7 + len(kind))
    knots, cpts = random_spline(rng, p, kind)
    t = trajectory(knots, cpts, p)
    dense = np.linspace(knots[0], knots[-1], 20001)
    for nu in range(p + 1):
        e = extrema(t, nu)
        lo, hi = exact_extrema(knots, cpts, p, nu)
        tol = 1e-12 * max(abs(lo), abs(hi), 1e-300)
        assert abs(e.vmin - lo) <= tol and abs(e.vmax - hi) <= tol, (nu, e, lo, hi)
        sampled = t(dense, nu)
        assert sampled.min() >= e.vmin - tol and sampled.max() <= e.vmax + tol
        # each extremum is taken where it is reported (either side of a knot)
        for time, value in ((e.tmin, e.vmin), (e.tmax, e.vmax)):
            near = derivatives(t, np.clip([time - 1e-9, time, time + 1e-9], *knots[[0, -1]]), nu)
            assert np.abs(near[nu] - value).min() <= 1e-6 * max(1.0, abs(value))
        pk = peak(t, nu)
        assert pk in ((e.tmin, e.vmin), (e.tmax, e.vmax))
        assert abs(pk.value) == max(abs(e.vmin), abs(e.vmax))
    for nu in (p + 1, 2**40):
        assert extrema(t, nu) == (knots[0], 0.0, knots[0], 0.0) and peak(t, nu) == (knots[0], 0.0)


@pytest.mark.parametrize("fn", [extrema, peak])
@pytest.mark.parametrize(
    "traj, nu, exc, message",
    [
        (Trajectory1d(), 0, ValueError, "'traj' holds no data (an empty Trajectory1d)"),
        (trajectory([0, 0, 1, 1], [0, np.nan], 1), 0, ValueError, "'cpts' must be finite"),
        (trajectory([0, np.nan, 1, 1], [0, 1], 1), 0, ValueError, "'knots' must be finite"),
        (trajectory([0, 2, 1, 1], [0, 1], 1), 0, ValueError, "knots that decrease"),
        (trajectory([1, 1, 1, 1], [0, 1], 1), 0, ValueError, "an empty domain"),
        (
            trajectory(
                [0.0] * (MAX_DEGREE + 2) + [1.0] * (MAX_DEGREE + 2),
                [1.0] * (MAX_DEGREE + 2),
                MAX_DEGREE + 1,
            ),
            0,
            ValueError,
            f"degree {MAX_DEGREE + 1} exceeds the maximum supported degree {MAX_DEGREE}",
        ),
        (cubic(), -1, ValueError, "'nu' must be non-negative, got -1"),
        (cubic(), 1.0, TypeError, "'nu' must be an integer, got float"),
        ("cubic", 0, TypeError, "'traj' must be a Trajectory1d or a TrajectoryNd, got str"),
    ],
)
def test_extrema_and_peak_refuse(fn, traj, nu, exc, message):
    with pytest.raises(exc) as info:
        fn(traj, nu)
    assert message in str(info.value)


# --- retime --------------------------------------------------------------------------------------

LIMITS = ("velocity", "acceleration", "jerk")


@pytest.mark.parametrize(
    "orders, limits",
    [
        ((0,), {"velocity": 0.5}),
        ((0, 0, 0), {"velocity": 3.0, "acceleration": 40.0, "jerk": 900.0}),
        ((0, 0), {"acceleration": 1e4}),  # compressed in time
        ((1, 0), {"acceleration": 2.0, "jerk": 5.0}),  # a velocity profile among the axes
        ((1,), {"velocity": 1.0, "jerk": np.inf}),
        ((2, 1), {"jerk": 3.0}),
    ],
)
def test_retime_meets_the_binding_limit_with_equality(orders, limits):
    rng = np.random.default_rng(len(orders) * 10 + len(limits))
    axes = [trajectory(*random_clamped(rng, 5, start=-1.0, stop=2.0), 5, o) for o in orders]
    before = [state(a) for a in axes]
    out = retime(axes, **limits)
    k = time_scale(axes, **limits)
    assert [state(a) for a in axes] == before and isinstance(out, list)
    ratios = []
    for a, r in zip(axes, out):
        assert (r.order, r.start) == (a.order, a.start)
        assert r.stop - r.start == pytest.approx(k * (a.stop - a.start), rel=1e-15)
        xs = np.linspace(a.start, a.stop, 50)
        np.testing.assert_allclose(
            r(a.start + k * (xs - a.start)),
            a(xs) * k**-a.order,
            rtol=1e-12,
            atol=1e-12 * np.abs(a(xs)).max(),
        )
        for name, limit in limits.items():
            ratios.append(abs(peak(r, LIMITS.index(name) + 1 - a.order).value) / limit)
    assert max(ratios) == pytest.approx(1.0, rel=1e-12, abs=0)
    assert all(q <= 1.0 + 1e-12 for q in ratios)
    single = retime(axes[0], **limits)
    assert isinstance(single, Trajectory1d) and state(single) == state(
        retime((axes[0],), **limits)[0]
    )


@pytest.mark.parametrize(
    "trajs, limits, exc, message",
    [
        (cubic(), {}, ValueError, "no limit given: give velocity, acceleration or jerk"),
        (cubic(), {"velocity": 0.0}, ValueError, "'velocity' must be positive, got 0.0"),
        (cubic(), {"jerk": -2}, ValueError, "'jerk' must be positive, got -2.0"),
        (cubic(), {"acceleration": np.nan}, ValueError, "'acceleration' must be positive, got nan"),
        (cubic(), {"velocity": "1"}, TypeError, "'velocity' must be a real number, got str"),
        (
            [cubic(), cubic(order=2)],
            {"jerk": 1.0, "velocity": 1.0},
            ValueError,
            "a velocity limit does not apply to trajs[1]: it describes the acceleration (order 2)",
        ),
        (
            [trajectory([0, 0, 1, 1], [2.0, 2.0], 1)],
            {"velocity": 1.0},
            ValueError,
            "no time scale makes a limit bind: every limited quantity is zero on every axis",
        ),
        (  # interpolated through one value: the constant itself, not rounding's wiggles
            interpolate([0.0, 0.7, 1.9, 2.5], [0.3] * 4),
            {"acceleration": 1.0},
            ValueError,
            "every limited quantity is zero on every axis",
        ),
        ([], {"velocity": 1.0}, ValueError, "'trajs' holds no trajectory"),
        ([cubic(), Trajectory1d()], {"velocity": 1.0}, ValueError, "'trajs[1]' holds no data"),
        (
            5,
            {"velocity": 1.0},
            TypeError,
            "'trajs' must be a Trajectory1d, a TrajectoryNd or a sequence",
        ),
    ],
)
def test_retime_refuses_and_leaves_the_inputs_unchanged(trajs, limits, exc, message):
    axes = [trajs] if isinstance(trajs, Trajectory1d) else trajs if isinstance(trajs, list) else []
    before = [state(a) for a in axes if isinstance(a, Trajectory1d)]
    for fn in (retime, time_scale):
        with pytest.raises(exc) as info:
            fn(trajs, **limits)
        assert message in str(info.value)
    assert [state(a) for a in axes if isinstance(a, Trajectory1d)] == before


@pytest.mark.parametrize("shift", [0.0, 1.7e9, 1.7e12])
def test_retime_holds_every_limit_on_the_result_as_computed(shift):
    move = interpolate([0.0, 0.5, 1.5, 2.0], [0.0, 0.4, 1.2, 1.5])
    move.rshift(shift)  # a wall-clock time axis keeps fewer digits of every knot difference
    rng = np.random.default_rng(int(shift) % 1000)
    gaps = []
    for _ in range(40):
        q, limit = int(rng.integers(1, 4)), float(10 ** rng.uniform(-2, 3))
        out = retime(move, **{LIMITS[q - 1]: limit})
        gaps.append(1.0 - abs(peak(out, q).value) / limit)
        # Stretched about the start with the digits the result's time axis has.
        u, k = move.get_knotvector_asarray(), time_scale(move, **{LIMITS[q - 1]: limit})
        want = u[0] + k * (u - u[0])
        assert np.all(np.abs(out.get_knotvector_asarray() - want) <= np.spacing(want))
    assert min(gaps) >= 0.0
    if shift == 0.0:
        assert max(gaps) < 1e-14
    with pytest.raises(ValueError, match="leaves the range of floating point"):
        retime(trajectory([0, 0, 1e300, 1e300], [0, 1], 1), velocity=1e-310)


# --- sample / derivatives ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "start, stop, dt, count, ends_at_stop",
    [
        (0.0, 0.7, 1e-3, 701, True),
        (-1.0, 1.0, 0.5, 5, True),
        (0.1, 2.75, 0.25, 11, False),
        (0.0, 1e-7, 1e-3, 1, False),  # a domain narrower than a tick: one sample, at start
    ],
)
def test_sample_on_a_control_rate_grid(start, stop, dt, count, ends_at_stop):
    t = trajectory([start] * 4 + [(start + stop) / 2] + [stop] * 4, [1.0, -2.0, 0.5, 3.0, 2.0], 3)
    times, values = sample(t, dt)
    assert times.shape == values.shape == (count,) and times[0] == start
    np.testing.assert_array_equal(times[:-1], start + np.arange(count - 1) * dt)
    assert (times[-1] == stop) == ends_at_stop and times[-1] <= stop < times[-1] + dt
    np.testing.assert_allclose(values, t(times), rtol=1e-12, atol=1e-12)
    np.testing.assert_array_equal(sample(t, dt, 2**40)[1], 0.0)
    same, rows = sample(t, dt, nu=[2, 0, 1])
    np.testing.assert_array_equal(same, times)
    assert rows.shape == (3, count)
    for row, nu in zip(rows, (2, 0, 1)):
        np.testing.assert_allclose(row, t(times, nu), rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize(
    "dt, nu, exc, message",
    [
        (0.0, 0, ValueError, "'dt' must be positive, got 0.0"),
        (-1e-3, 0, ValueError, "'dt' must be positive, got -0.001"),
        (np.nan, 0, ValueError, "'dt' must be positive, got nan"),
        (np.inf, 0, ValueError, "'dt' must be finite, got inf"),
        (1e-300, 0, ValueError, "'dt' = 1e-300 is finer than the time axis resolves on [0.0, 2.0]"),
        (1e-3, [], ValueError, "'nu' holds no derivative order"),
        (1e-3, -1, ValueError, "'nu' must be non-negative, got -1"),
        (1e-3, (0, -2), ValueError, "'nu[1]' must be non-negative, got -2"),
        (1e-3, 1.5, TypeError, "'nu' must be an integer, got float"),
        ("1", 0, TypeError, "'dt' must be a real number, got str"),
    ],
)
def test_sample_refuses(dt, nu, exc, message):
    with pytest.raises(exc) as info:
        sample(cubic(), dt, nu)
    assert message in str(info.value)


def test_sample_allocates_only_the_rows_asked_for_and_refuses_what_cannot_be():
    move = interpolate([0.0, 0.5, 1.5, 2.0], [0.0, 0.4, 1.2, 1.5])
    tracemalloc.start()
    times, rows = sample(move, 0.001, [0, 200000])
    peak_bytes = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert rows.shape == (2, 2001) and peak_bytes < 20 * rows.nbytes
    np.testing.assert_array_equal(rows[1], 0.0)
    np.testing.assert_allclose(rows[0], move(times), rtol=1e-13)
    with pytest.raises(ValueError, match="makes 2e.12 ticks .* would not fit in memory"):
        sample(move, 1e-12)
    move.rshift(1.7e15)
    with pytest.raises(ValueError, match=r"'dt' = 0.001 is finer than the time axis resolves"):
        sample(move, 0.001)


def test_derivatives_at_abscissae_in_any_order():
    rng = np.random.default_rng(3)
    t = trajectory(*random_clamped(rng, 4, repeat=True), 4)
    x = np.r_[rng.uniform(0.0, 1.0, 60), 1.0, 0.0, 0.5]
    rows = derivatives(t, x, 5)
    assert rows.shape == (6, x.size)
    order = np.argsort(x)  # the sorted walk and the point-by-point path agree to rounding
    np.testing.assert_allclose(derivatives(t, x[order], 5), rows[:, order], rtol=1e-13, atol=0)
    for nu in range(6):
        np.testing.assert_allclose(rows[nu, order], t(x[order], nu), rtol=1e-12, atol=1e-9)
    assert derivatives(t, [], 2**40).shape == (2**40 + 1, 0)


@pytest.mark.parametrize(
    "x, nu_max, exc, message",
    [
        ([0.5, 2.5], 1, ValueError, "x[1] = 2.5 is outside the domain [0.0, 2.0]"),
        ([np.nan], 1, ValueError, "x[0] = nan is outside the domain [0.0, 2.0]"),
        ([-1e-300], 0, ValueError, "x[0] = -1e-300 is outside the domain"),
        ([[0.5]], 1, ValueError, "'x' must be one-dimensional, got 2 dimensions"),
        ([0.5], -1, ValueError, "'nu_max' must be non-negative, got -1"),
        ([0.5], None, TypeError, "'nu_max' must be an integer, got NoneType"),
    ],
)
def test_derivatives_refuse(x, nu_max, exc, message):
    with pytest.raises(exc) as info:
        derivatives(cubic(), x, nu_max)
    assert message in str(info.value)


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t(5e-201, 2),
        lambda t: t(np.array([0.0, 5e-201]), 2),
        lambda t: pyorvex.TrajectoryNd.from_axes([t, t])(np.array([0.0, 5e-201]), 2),
        lambda t: t.dpeval(5e-201, 2),
        lambda t: derivatives(t, [5e-201, 0.0], 3),
        lambda t: sample(t, 1e-202, [0, 2]),
        lambda t: peak(t, 2),
    ],
)
def test_a_derivative_beyond_the_largest_double_is_an_overflow_not_nan(call):
    # A cubic over 1e-200 s: its velocity (3e200) fits a double, its acceleration (6e400) not.
    t = pyorvex.make_trajectory([0.0] * 4 + [1e-200] * 4, [0.0, 1.0, 3.0, 2.0], 3)
    assert np.isfinite(derivatives(t, [0.0, 5e-201, 1e-200], 1)).all()
    assert np.isfinite(peak(t, 1)).all()
    with pytest.raises(OverflowError, match="^the derivative of order 2 overflows a double$"):
        call(t)


# --- multi-axis motions --------------------------------------------------------------------------


def six_axis_job(seed):
    rng = np.random.default_rng(seed)
    times = np.cumsum(rng.uniform(0.5, 1.5, 8)) - 0.5
    return times, rng.uniform(-2.0, 2.0, (8, 6)), rng.uniform(1.0, 3.0, 6), rng.uniform(4, 9, 6)


@pytest.mark.parametrize("seed", [1, 2])
def test_the_toolkit_on_a_six_axis_motion_agrees_with_each_axis_alone(seed):
    times, values, vmax, amax = six_axis_job(seed)
    motion = interpolate(times, values)
    axes = [interpolate(times, values[:, c]) for c in range(6)]
    assert isinstance(motion, pyorvex.TrajectoryNd) and motion.dof == 6
    rest = [(1, np.zeros(6)), (2, np.zeros(6))]
    ref = make_interp_spline(times, values, k=5, bc_type=(rest, rest))
    np.testing.assert_allclose(motion.get_cpts_asarray(), ref.c, rtol=1e-9, atol=1e-9)
    for nu in (1, 2):
        e = extrema(motion, nu)
        for c, a in enumerate(axes):
            assert (e.tmin[c], e.vmin[c], e.tmax[c], e.vmax[c]) == pytest.approx(
                tuple(extrema(a, nu)), rel=1e-9, abs=1e-12
            )
    slow = retime(motion, velocity=vmax, acceleration=amax)
    ratios = np.r_[np.abs(peak(slow, 1).value) / vmax, np.abs(peak(slow, 2).value) / amax]
    assert ratios.max() <= 1.0 and ratios.max() == pytest.approx(1.0, rel=1e-12)
    assert state_of(retime(axes, velocity=vmax, acceleration=amax)) == pytest.approx(
        state_of(slow.axes()), rel=1e-12
    )
    ticks, rows = sample(slow, 0.01, [0, 1, 2])
    assert rows.shape == (3, ticks.size, 6)
    for c, a in enumerate(slow.axes()):
        np.testing.assert_allclose(rows[:, :, c], derivatives(a, ticks, 2), rtol=1e-12, atol=1e-12)
    back = pyorvex.from_scipy(pyorvex.to_scipy(slow))
    np.testing.assert_array_equal(back.get_cpts_asarray(), slow.get_cpts_asarray())
    report = pyorvex.limits_report(slow, velocity=vmax, acceleration=amax)
    assert (
        report.holds
        and len(report.rows) == 18
        and report.text().split()[:2] == ["quantity", "axis"]
    )
    with pytest.raises(
        ValueError, match="'velocity' must be one number or one per axis: 6 of them, got 5"
    ):
        retime(motion, velocity=vmax[:5])


def state_of(trajs):
    return [x for t in trajs for x in (*t.get_knotvector_asarray(), *t.get_cpts_asarray())]


@pytest.mark.parametrize("dof, dt", [(2, 0.01), (3, 0.013), (5, 0.01), (6, 0.0007), (7, 0.011)])
def test_multi_axis_samples_are_each_axis_samples_side_by_side(dof, dt):
    # 0.0007 s over 2 s: several blocks of ticks and an odd count of ticks in the last one.
    rng = np.random.default_rng(dof)
    knots = np.r_[[0.0] * 6, np.sort(rng.uniform(0.0, 2.0, 4)), [2.0] * 6]
    motion = pyorvex.make_trajectory(knots, rng.normal(size=(knots.size - 6, dof)), 5)
    ticks, rows = sample(motion, dt, [2, 0, 1])
    assert rows.shape == (3, ticks.size, dof)
    for c, a in enumerate(motion.axes()):
        np.testing.assert_array_equal(rows[:, :, c], sample(a, dt, [2, 0, 1])[1])
    # Only the last axis's acceleration goes past the largest double.
    cpts = np.zeros((4, dof))
    cpts[:, -1] = [0.0, 1.0, 3.0, 2.0]
    tiny = pyorvex.make_trajectory([0.0] * 4 + [1e-200] * 4, cpts, 3)
    assert np.isfinite(sample(tiny, 1e-202, [0, 1])[1]).all()
    with pytest.raises(OverflowError, match="^the derivative of order 2 overflows a double$"):
        sample(tiny, 1e-202, [0, 1, 2])


def checked_path_only(monkeypatch):
    """Every whole-object kernel entry declines, so the calls take the checked Python path."""
    from pyorvex.planning import _kernel

    for name in ("retime_direct", "interpolate_direct", "extrema_direct"):
        monkeypatch.setattr(_kernel, name, lambda *args: NotImplemented)


@pytest.mark.parametrize(
    "entry, call",
    [
        ("interpolate_direct", lambda t, v, m: interpolate(t, v)),
        ("interpolate_direct", lambda t, v, m: interpolate(t, v[:, 2], 3, [0.5], [-1.0])),
        ("interpolate_direct", lambda t, v, m: interpolate(t, v[:, :1], 7, (0, 0, 0), (1, 2, 3))),
        ("retime_direct", lambda t, v, m: retime(m, velocity=[1.5] * 6, acceleration=4)),
        ("retime_direct", lambda t, v, m: retime(m.axis(1).derivative(), 2.0, (3.0,), np.r_[9.0])),
        ("retime_direct", lambda t, v, m: time_scale(m, jerk=[7.0, 8, 9, 1, 2, 3])),
        ("extrema_direct", lambda t, v, m: extrema(m.axis(0), 2)),
        ("extrema_direct", lambda t, v, m: peak(m.axis(3), 9)),
        ("extrema_direct", lambda t, v, m: extrema(m, 1)),
        ("extrema_direct", lambda t, v, m: peak(m, 2)),
    ],
)
def test_the_kernel_entries_answer_exactly_as_the_checked_path(monkeypatch, entry, call):
    from pyorvex.planning import _kernel

    times, values, _, _ = six_axis_job(3)
    motion = interpolate(times, values)
    answered = []
    direct = getattr(_kernel, entry)
    monkeypatch.setattr(_kernel, entry, lambda *a: answered.append(direct(*a)) or answered[-1])
    fast = call(times, values, motion)
    assert answered and answered[-1] is not NotImplemented
    checked_path_only(monkeypatch)
    checked = call(times, values, motion)
    assert type(fast) is type(checked)
    if isinstance(fast, tuple):  # extrema and peaks: numbers, or arrays of one per axis
        assert all(type(a) is type(b) for a, b in zip(fast, checked))
        np.testing.assert_array_equal(np.array(fast), np.array(checked))
    else:
        assert fast == checked
